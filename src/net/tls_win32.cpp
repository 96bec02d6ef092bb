// SChannel needs these before its headers: the newer credentials structure
// is declared only with SCHANNEL_USE_BLACKLISTS, and it uses UNICODE_STRING
// from <subauth.h>.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format off
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "net/error_texts.h"
#include "net/tls.h"
#include "net/tls_reasons.h"

namespace vlt::net {

// The SChannel handles, the encrypted bytes received but not yet decrypted,
// and the decrypted bytes not yet handed out.
struct TlsChannel::State {
    SocketHandle fd = kNoSocket;
    CredHandle credentials{};
    CtxtHandle context{};
    bool have_credentials = false;
    bool have_context = false;
    SecPkgContext_StreamSizes sizes{};
    std::vector<char> incoming;
    std::vector<char> plain;
    std::size_t plain_start = 0;
    bool closed = false;                      // the server sent its closing alert
    bool fatal = false;                       // after a broken record no closing alert is sent
    std::wstring host;                        // the name the certificate must bear
    bool sni = false;                         // the host goes out as SNI (not for an address)
    std::chrono::milliseconds stall_limit{};  // the socket's time-out

    ~State() {
        if (have_context) DeleteSecurityContext(&context);
        if (have_credentials) FreeCredentialsHandle(&credentials);
    }
};

namespace {

using State = TlsChannel::State;

constexpr std::size_t kReadChunk = 16 * 1024 + 512;  // a full record and its framing

constexpr unsigned long kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                          ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                          ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

Error tls_failure(std::string_view reason) {
    return Error(ErrorKind::Tls, std::string(kTlsFailurePrefix) + std::string(reason));
}

std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    const int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (count <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), count);
    return wide;
}

bool is_ipv4_literal(const std::string& host) {
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

unsigned long buffer_size(std::size_t size) {
    return static_cast<unsigned long>(std::min<std::size_t>(size, ULONG_MAX));
}

// Credentials for TLS 1.2 and 1.3 that leave the certificate check to us;
// the older structure with TLS 1.2 alone where the system refuses the newer.
Status acquire_credentials(State& state) {
    constexpr DWORD kFlags =
        SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    wchar_t package[] = UNISP_NAME_W;

    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols =
        static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = kFlags;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    SECURITY_STATUS status =
        AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &current,
                                  nullptr, nullptr, &state.credentials, nullptr);
    if (status != SEC_E_OK) {
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.dwFlags = kFlags;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &older,
                                           nullptr, nullptr, &state.credentials, nullptr);
    }
    if (status != SEC_E_OK) return tls_failure(kTlsOtherFailure);
    state.have_credentials = true;
    return {};
}

// Sends a token SChannel made and frees it.
IoResult send_token(State& state, SecBuffer& token, std::chrono::milliseconds stall_limit) {
    IoResult sent;
    if (token.pvBuffer != nullptr && token.cbBuffer > 0) {
        sent = send_all(state.fd,
                        std::string_view(static_cast<const char*>(token.pvBuffer), token.cbBuffer),
                        stall_limit);
    }
    if (token.pvBuffer != nullptr) FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
    return sent;
}

// Appends what the socket has to the encrypted bytes.
IoResult receive_more(State& state, SteadyClock::time_point deadline) {
    const std::size_t held = state.incoming.size();
    state.incoming.resize(held + kReadChunk);
    const IoResult got = receive_some(state.fd, state.incoming.data() + held, kReadChunk, deadline);
    state.incoming.resize(held + (got.ok() ? got.count : 0));
    return got;
}

// Keeps the last `extra` encrypted bytes, which belong to the next record.
void keep_extra(State& state, const SecBuffer& buffer) {
    if (buffer.BufferType != SECBUFFER_EXTRA || buffer.cbBuffer == 0) {
        state.incoming.clear();
        return;
    }
    const std::size_t extra = std::min<std::size_t>(buffer.cbBuffer, state.incoming.size());
    state.incoming.erase(state.incoming.begin(),
                         state.incoming.end() - static_cast<std::ptrdiff_t>(extra));
}

Status socket_failure(const IoResult& got) {
    if (got.status == IoResult::Status::TimedOut) return tls_failure(kTlsTimedOut);
    if (got.status == IoResult::Status::Closed) return tls_failure(kTlsClosed);
    return tls_failure(winsock_error_text(got.code));
}

// Runs handshake steps until the context is complete. The first step of a
// new connection has no input; later steps (and those of a renegotiation)
// take what the server sent. Bytes after the last handshake record stay in `incoming`:
// with implicit TLS they are the start of the server's greeting.
Status run_handshake(State& state, bool first, SteadyClock::time_point deadline) {
    const wchar_t* target = state.sni ? state.host.c_str() : nullptr;
    bool asked_for_certificate = false;
    for (;;) {
        if (!first && state.incoming.empty()) {
            const IoResult got = receive_more(state, deadline);
            if (!got.ok()) return socket_failure(got);
        }
        SecBuffer in[2]{};
        in[0].BufferType = SECBUFFER_TOKEN;
        in[0].pvBuffer = state.incoming.data();
        in[0].cbBuffer = buffer_size(state.incoming.size());
        in[1].BufferType = SECBUFFER_EMPTY;
        SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
        SecBuffer out[1]{};
        out[0].BufferType = SECBUFFER_TOKEN;
        SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out};
        unsigned long granted = 0;

        SECURITY_STATUS status = InitializeSecurityContextW(
            &state.credentials, first ? nullptr : &state.context, const_cast<wchar_t*>(target),
            kContextRequest, 0, 0, first ? nullptr : &in_desc, 0, first ? &state.context : nullptr,
            &out_desc, &granted, nullptr);
        if (first) {
            if (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK) state.have_context = true;
            first = false;
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            if (out[0].pvBuffer != nullptr) FreeContextBuffer(out[0].pvBuffer);
            const IoResult got = receive_more(state, deadline);
            if (!got.ok()) return socket_failure(got);
            continue;
        }
        const IoResult sent = send_token(state, out[0], state.stall_limit);
        if (!sent.ok()) return socket_failure(sent);
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && !asked_for_certificate) {
            // The server asks for a client certificate; we have none, and the
            // same input is given again to go on without one.
            asked_for_certificate = true;
            continue;
        }
        if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) keep_extra(state, in[1]);
        if (status == SEC_E_OK) return {};
        if (status == SEC_I_CONTINUE_NEEDED) continue;
        state.fatal = true;
        return tls_failure(kTlsOtherFailure);
    }
}

// Checks the server's certificate ourselves: its chain for server use from
// the system's stores (revocation from the cache only), then the TLS policy
// for the host name.
Status verify_server(State& state) {
    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesW(&state.context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
            SEC_E_OK ||
        certificate == nullptr) {
        return tls_failure(kTlsOtherFailure);
    }
    char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {server_auth};
    CERT_CHAIN_PARA chain_para{};
    chain_para.cbSize = sizeof chain_para;
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    const BOOL built = CertGetCertificateChain(
        nullptr, certificate, nullptr, certificate->hCertStore, &chain_para,
        CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY,
        nullptr, &chain);
    CertFreeCertificateContext(certificate);
    if (!built || chain == nullptr) return tls_failure(kTlsOtherFailure);

    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl_para{};
    ssl_para.cbSize = sizeof ssl_para;
    ssl_para.dwAuthType = AUTHTYPE_SERVER;
    ssl_para.pwszServerName = state.host.data();
    CERT_CHAIN_POLICY_PARA policy_para{};
    policy_para.cbSize = sizeof policy_para;
    policy_para.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    policy_para.pvExtraPolicyPara = &ssl_para;
    CERT_CHAIN_POLICY_STATUS policy_status{};
    policy_status.cbSize = sizeof policy_status;
    ChainCheck check;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy_para,
                                          &policy_status)) {
        check.policy_error = 0x80004005;  // E_FAIL: the check itself failed
    } else {
        check.policy_error = static_cast<std::uint32_t>(policy_status.dwError);
    }
    check.trust_errors = chain->TrustStatus.dwErrorStatus;
    if (chain->cChain > 0) check.length = chain->rgpChain[0]->cElement;
    CertFreeCertificateChain(chain);

    if (const auto cause = tls_cause_of_chain(check)) return tls_failure(tls_cause_text(*cause));
    return {};
}

// Turns held encrypted bytes into plain bytes. Ok with count 0 when a whole
// record has not arrived yet.
IoResult decrypt_held(State& state, SteadyClock::time_point deadline) {
    SecBuffer buffers[4]{};
    buffers[0].BufferType = SECBUFFER_DATA;
    buffers[0].pvBuffer = state.incoming.data();
    buffers[0].cbBuffer = buffer_size(state.incoming.size());
    for (int i = 1; i < 4; ++i) buffers[i].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&state.context, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return IoResult{};
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
        state.fatal = true;
        return IoResult::failed(kWsaEconnaborted);
    }
    std::size_t decrypted = 0;
    const SecBuffer* extra = nullptr;
    for (const SecBuffer& buffer : buffers) {
        if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
            const char* data = static_cast<const char*>(buffer.pvBuffer);
            state.plain.insert(state.plain.end(), data, data + buffer.cbBuffer);
            decrypted += buffer.cbBuffer;
        } else if (buffer.BufferType == SECBUFFER_EXTRA) {
            extra = &buffer;
        }
    }
    if (extra != nullptr) {
        keep_extra(state, *extra);
    } else {
        state.incoming.clear();
    }
    if (status == SEC_I_CONTEXT_EXPIRED) {
        state.closed = true;
    } else if (status == SEC_I_RENEGOTIATE) {
        // The server starts a new handshake (or, with TLS 1.3, sends a
        // message after it): the held bytes are its first records.
        const Status renewed = run_handshake(state, false, deadline);
        if (!renewed.ok()) {
            state.fatal = true;
            return IoResult::failed(kWsaEconnaborted);
        }
    }
    return IoResult{IoResult::Status::Ok, decrypted, 0};
}

}  // namespace

TlsChannel::TlsChannel(std::unique_ptr<State> state) : m_state(std::move(state)) {}

TlsChannel::~TlsChannel() = default;

Result<std::unique_ptr<TlsChannel>> TlsChannel::handshake(SocketHandle fd, std::string_view host,
                                                          std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    auto state = std::make_unique<State>();
    state->fd = fd;
    state->stall_limit = limit;
    const std::string name(host);
    state->host = widen(name);
    // SNI names the host; an address goes without.
    state->sni = !is_ipv4_literal(name);
    VLT_TRY(acquire_credentials(*state));
    VLT_TRY(run_handshake(*state, true, deadline));
    VLT_TRY(verify_server(*state));
    if (QueryContextAttributesW(&state->context, SECPKG_ATTR_STREAM_SIZES, &state->sizes) !=
        SEC_E_OK) {
        return tls_failure(kTlsOtherFailure);
    }
    return std::unique_ptr<TlsChannel>(new TlsChannel(std::move(state)));
}

IoResult TlsChannel::receive_some(char* buffer, std::size_t capacity,
                                  SteadyClock::time_point deadline) {
    State& state = *m_state;
    for (;;) {
        const std::size_t ready = state.plain.size() - state.plain_start;
        if (ready > 0) {
            const std::size_t count = std::min(ready, capacity);
            std::memcpy(buffer, state.plain.data() + state.plain_start, count);
            state.plain_start += count;
            if (state.plain_start == state.plain.size()) {
                state.plain.clear();
                state.plain_start = 0;
            }
            return IoResult{IoResult::Status::Ok, count, 0};
        }
        if (state.closed) return IoResult{IoResult::Status::Closed, 0, 0};
        if (!state.incoming.empty()) {
            const std::size_t held = state.incoming.size();
            const IoResult done = decrypt_held(state, deadline);
            if (!done.ok()) return done;
            // A record was used (or the context changed): look again before
            // asking the socket for more.
            if (done.count > 0 || state.closed || state.incoming.size() != held) continue;
        }
        const IoResult got = receive_more(state, deadline);
        if (!got.ok()) return got;
    }
}

IoResult TlsChannel::send_all(std::string_view bytes, std::chrono::milliseconds stall_limit) {
    State& state = *m_state;
    const SecPkgContext_StreamSizes& sizes = state.sizes;
    std::vector<char> record;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t piece =
            std::min<std::size_t>(bytes.size() - done, sizes.cbMaximumMessage);
        record.assign(sizes.cbHeader + piece + sizes.cbTrailer, '\0');
        std::memcpy(record.data() + sizes.cbHeader, bytes.data() + done, piece);
        SecBuffer buffers[4]{};
        buffers[0] = SecBuffer{sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
        buffers[1] = SecBuffer{buffer_size(piece), SECBUFFER_DATA, record.data() + sizes.cbHeader};
        buffers[2] = SecBuffer{sizes.cbTrailer, SECBUFFER_STREAM_TRAILER,
                               record.data() + sizes.cbHeader + piece};
        buffers[3].BufferType = SECBUFFER_EMPTY;
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&state.context, 0, &desc, 0) != SEC_E_OK) {
            state.fatal = true;
            return IoResult::failed(kWsaEconnaborted);
        }
        const std::size_t length =
            std::size_t{buffers[0].cbBuffer} + buffers[1].cbBuffer + buffers[2].cbBuffer;
        const IoResult sent =
            net::send_all(state.fd, std::string_view(record.data(), length), stall_limit);
        if (!sent.ok()) {
            state.fatal = true;
            return sent;
        }
        done += piece;
    }
    return IoResult{IoResult::Status::Ok, done, 0};
}

void TlsChannel::shutdown() {
    State& state = *m_state;
    if (state.fatal || !state.have_context) return;
    DWORD kind = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof kind, SECBUFFER_TOKEN, &kind};
    SecBufferDesc control_desc{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&state.context, &control_desc) != SEC_E_OK) return;
    SecBuffer out[1]{};
    out[0].BufferType = SECBUFFER_TOKEN;
    SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out};
    unsigned long granted = 0;
    const SECURITY_STATUS status =
        InitializeSecurityContextW(&state.credentials, &state.context, nullptr, kContextRequest, 0,
                                   0, nullptr, 0, nullptr, &out_desc, &granted, nullptr);
    // One attempt; the reply to the closing alert is not awaited.
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) {
        (void)send_token(state, out[0], std::chrono::milliseconds(1000));
    } else if (out[0].pvBuffer != nullptr) {
        FreeContextBuffer(out[0].pvBuffer);
    }
}

}  // namespace vlt::net
