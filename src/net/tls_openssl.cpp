#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "net/error_codes_posix.h"
#include "net/error_texts.h"
#include "net/tls.h"
#include "net/tls_reasons.h"

namespace vlt::net {

// The socket is driven through a BIO of our own so that every send carries
// MSG_NOSIGNAL and no call blocks: OpenSSL's socket BIO writes with write(),
// which raises SIGPIPE on a closed connection.
struct TlsChannel::State {
    int fd = -1;
    int last_errno = 0;  // the socket error behind the last failed call
    bool eof = false;
    bool fatal = false;  // after a fatal error no closing alert may be sent
    BIO_METHOD* method = nullptr;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;

    ~State() {
        if (ssl != nullptr) SSL_free(ssl);  // frees the BIO too
        if (ctx != nullptr) SSL_CTX_free(ctx);
        if (method != nullptr) BIO_meth_free(method);
    }
};

namespace {

using State = TlsChannel::State;

// One attempt each that does not block: as send() / recv(), errno set on -1.
long send_now(int fd, const char* data, std::size_t size) {
    return static_cast<long>(::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT));
}

long receive_now(int fd, char* buffer, std::size_t capacity) {
    return static_cast<long>(::recv(fd, buffer, capacity, MSG_DONTWAIT));
}

int bio_write(BIO* bio, const char* data, size_t size, size_t* written) {
    auto* state = static_cast<State*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    for (;;) {
        const long n = send_now(state->fd, data, size);
        if (n >= 0) {
            *written = static_cast<size_t>(n);
            return 1;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_write(bio);
        } else {
            state->last_errno = errno;
        }
        return 0;
    }
}

int bio_read(BIO* bio, char* data, size_t size, size_t* read) {
    auto* state = static_cast<State*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    for (;;) {
        const long n = receive_now(state->fd, data, size);
        if (n > 0) {
            *read = static_cast<size_t>(n);
            return 1;
        }
        if (n == 0) {
            state->eof = true;
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_read(bio);
        } else {
            state->last_errno = errno;
        }
        return 0;
    }
}

long bio_ctrl(BIO* bio, int command, long, void*) {
    switch (command) {
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_EOF:
            return static_cast<State*>(BIO_get_data(bio))->eof ? 1 : 0;
        default:
            return 0;
    }
}

int bio_create(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

int bio_destroy(BIO*) {
    return 1;
}

bool is_ipv4_literal(const std::string& host) {
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

// The most telling reason OpenSSL has for a failed handshake.
std::string failure_reason(const State& state, int ssl_error) {
    if (state.ssl != nullptr) {
        const long verify = SSL_get_verify_result(state.ssl);
        if (verify != X509_V_OK) {
            const TlsCause cause = tls_cause_of_x509_error(verify);
            if (cause != TlsCause::Other) return std::string(tls_cause_text(cause));
            return X509_verify_cert_error_string(verify);
        }
    }
    const unsigned long code = ERR_peek_last_error();
    if (code != 0) {
        if (const char* reason = ERR_reason_error_string(code)) return reason;
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        return text;
    }
    if (state.last_errno != 0) return std::strerror(state.last_errno);
    if (state.eof || ssl_error == SSL_ERROR_ZERO_RETURN) return std::string(kTlsClosed);
    return "TLS error " + std::to_string(ssl_error);
}

Error handshake_failure(std::string reason) {
    ERR_clear_error();
    return Error(ErrorKind::Tls, std::string(kTlsFailurePrefix) + reason);
}

// Waits as an SSL call asked; false when the wait failed or timed out.
IoResult wait_for_ssl(const State& state, int ssl_error, SteadyClock::time_point deadline) {
    return wait_ready(state.fd,
                      ssl_error == SSL_ERROR_WANT_WRITE ? Readiness::Writable : Readiness::Readable,
                      deadline);
}

}  // namespace

TlsChannel::TlsChannel(std::unique_ptr<State> state) : m_state(std::move(state)) {}

TlsChannel::~TlsChannel() = default;

namespace {

// Makes the context and the connection object over a BIO that reads and
// writes the socket with the channel's deadlines.
Status make_connection(State& state) {
    state.method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vlt socket");
    state.ctx = SSL_CTX_new(TLS_client_method());
    if (state.method == nullptr || state.ctx == nullptr) {
        return handshake_failure(failure_reason(state, 0));
    }
    BIO_meth_set_write_ex(state.method, bio_write);
    BIO_meth_set_read_ex(state.method, bio_read);
    BIO_meth_set_ctrl(state.method, bio_ctrl);
    BIO_meth_set_create(state.method, bio_create);
    BIO_meth_set_destroy(state.method, bio_destroy);

    SSL_CTX_set_min_proto_version(state.ctx, TLS1_2_VERSION);
    // A trust store that cannot be loaded leaves nothing trusted, and the
    // verification then fails with its own reason.
    SSL_CTX_set_default_verify_paths(state.ctx);
    SSL_CTX_set_verify(state.ctx, SSL_VERIFY_PEER, nullptr);
    // A peer that closes without the closing alert reads as a plain close, as
    // it does without TLS; our replies carry their own ends.
    SSL_CTX_set_options(state.ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);

    state.ssl = SSL_new(state.ctx);
    BIO* bio = state.ssl != nullptr ? BIO_new(state.method) : nullptr;
    if (bio == nullptr) return handshake_failure(failure_reason(state, 0));
    BIO_set_data(bio, &state);
    SSL_set_bio(state.ssl, bio, bio);
    return {};
}

// The certificate must name `host`: an address is checked against the
// certificate's addresses, a name against its names (and sent as SNI).
Status expect_peer_name(State& state, const std::string& host) {
    bool named = false;
    if (is_ipv4_literal(host)) {
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(state.ssl), host.c_str()) == 1;
    } else {
        SSL_set_hostflags(state.ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        named = SSL_set1_host(state.ssl, host.c_str()) == 1 &&
                SSL_ctrl(state.ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                         const_cast<char*>(host.c_str())) == 1;
    }
    if (!named) return handshake_failure(failure_reason(state, 0));
    return {};
}

// Runs the handshake to its end, waiting on the socket as OpenSSL asks.
Status run_handshake(State& state, SteadyClock::time_point deadline) {
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_connect(state.ssl);
        if (rc == 1) return {};
        const int error = SSL_get_error(state.ssl, rc);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            return handshake_failure(failure_reason(state, error));
        }
        const IoResult ready = wait_for_ssl(state, error, deadline);
        if (ready.status == IoResult::Status::TimedOut) {
            return handshake_failure(std::string(kTlsTimedOut));
        }
        if (!ready.ok()) return handshake_failure(winsock_error_text(ready.code));
    }
}

}  // namespace

Result<std::unique_ptr<TlsChannel>> TlsChannel::handshake(SocketHandle fd, std::string_view host,
                                                          std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    ERR_clear_error();
    auto state = std::make_unique<State>();
    state->fd = static_cast<int>(fd);
    VLT_TRY(make_connection(*state));
    VLT_TRY(expect_peer_name(*state, std::string(host)));
    VLT_TRY(run_handshake(*state, deadline));
    ERR_clear_error();
    return std::unique_ptr<TlsChannel>(new TlsChannel(std::move(state)));
}

IoResult TlsChannel::receive_some(char* buffer, std::size_t capacity,
                                  SteadyClock::time_point deadline) {
    State& state = *m_state;
    for (;;) {
        ERR_clear_error();
        state.last_errno = 0;
        std::size_t count = 0;
        // Records OpenSSL already holds are read first; the socket is polled
        // only when it has nothing buffered.
        if (SSL_read_ex(state.ssl, buffer, capacity, &count) == 1) {
            return IoResult{IoResult::Status::Ok, count, 0};
        }
        const int error = SSL_get_error(state.ssl, 0);
        switch (error) {
            case SSL_ERROR_WANT_READ:
            case SSL_ERROR_WANT_WRITE: {
                const IoResult ready = wait_for_ssl(state, error, deadline);
                if (!ready.ok()) return ready;
                continue;
            }
            case SSL_ERROR_ZERO_RETURN:
                return IoResult{IoResult::Status::Closed, 0, 0};
            case SSL_ERROR_SYSCALL:
                ERR_clear_error();
                state.fatal = true;
                if (state.last_errno != 0) {
                    return IoResult::failed(winsock_code_from_errno(state.last_errno));
                }
                return IoResult{IoResult::Status::Closed, 0, 0};
            default:
                // A broken record or an alert from the server.
                ERR_clear_error();
                state.fatal = true;
                return IoResult::failed(kWsaEconnaborted);
        }
    }
}

IoResult TlsChannel::send_all(std::string_view bytes, std::chrono::milliseconds stall_limit) {
    State& state = *m_state;
    std::size_t done = 0;
    while (done < bytes.size()) {
        ERR_clear_error();
        state.last_errno = 0;
        std::size_t count = 0;
        if (SSL_write_ex(state.ssl, bytes.data() + done, bytes.size() - done, &count) == 1) {
            done += count;
            continue;
        }
        const int error = SSL_get_error(state.ssl, 0);
        switch (error) {
            case SSL_ERROR_WANT_READ:
            case SSL_ERROR_WANT_WRITE: {
                const IoResult ready = wait_for_ssl(state, error, SteadyClock::now() + stall_limit);
                if (ready.status == IoResult::Status::TimedOut)
                    return IoResult::failed(kWsaEtimedout);
                if (!ready.ok()) return ready;
                continue;
            }
            case SSL_ERROR_SYSCALL:
                ERR_clear_error();
                state.fatal = true;
                return IoResult::failed(state.last_errno != 0
                                            ? winsock_code_from_errno(state.last_errno)
                                            : kWsaEconnreset);
            case SSL_ERROR_ZERO_RETURN:
                return IoResult::failed(kWsaEconnreset);
            default:
                ERR_clear_error();
                state.fatal = true;
                return IoResult::failed(kWsaEconnaborted);
        }
    }
    return IoResult{IoResult::Status::Ok, done, 0};
}

void TlsChannel::shutdown() {
    if (m_state->fatal) return;
    ERR_clear_error();
    SSL_shutdown(m_state->ssl);  // one attempt; the reply to it is not awaited
    ERR_clear_error();
}

}  // namespace vlt::net
