#include "support/script_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

namespace vlt::test {

Script Script::smtp() {
    Script s;
    s.send(kSmtpGreeting);
    return s;
}

Script Script::pop3() {
    Script s;
    s.send(kPop3Greeting);
    return s;
}

Script& Script::send(std::string_view bytes) {
    m_steps.push_back({Kind::Send, std::string(bytes)});
    return *this;
}

Script& Script::read_line() {
    m_steps.push_back({Kind::ReadLine, {}});
    return *this;
}

Script& Script::expect(std::string_view prefix) {
    m_steps.push_back({Kind::ReadLine, std::string(prefix), true});
    return *this;
}

Script& Script::read_data() {
    m_steps.push_back({Kind::ReadData, {}});
    return *this;
}

Script& Script::pause(std::chrono::milliseconds time) {
    m_steps.push_back({Kind::Pause, {}, false, 0, time});
    return *this;
}

Script& Script::trickle(std::string_view bytes, std::chrono::milliseconds interval) {
    m_steps.push_back({Kind::Trickle, std::string(bytes), false, 0, interval});
    return *this;
}

Script& Script::repeat(std::string_view bytes, std::size_t times) {
    m_steps.push_back({Kind::Repeat, std::string(bytes), false, times});
    return *this;
}

Script& Script::huge_line(std::size_t size, std::string_view prefix, std::string_view end) {
    // Held as one chunk sent many times, so a line of many megabytes costs
    // little memory.
    constexpr std::size_t kChunk = 4096;
    send(prefix);
    if (size / kChunk > 0) repeat(std::string(kChunk, 'x'), size / kChunk);
    if (size % kChunk > 0) send(std::string(size % kChunk, 'x'));
    return send(end);
}

Script& Script::start_tls() {
    m_steps.push_back({Kind::StartTls, {}});
    return *this;
}

Script& Script::close() {
    m_steps.push_back({Kind::Close, {}});
    return *this;
}

Script& Script::reset() {
    m_steps.push_back({Kind::Reset, {}});
    return *this;
}

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

struct ScriptServer::Impl {
    Script script;
    ServerOptions options;
    int listen_fd = -1;
    int wake_read = -1;  // the destructor writes to wake_write to stop the server
    int wake_write = -1;
    std::uint16_t port = 0;
    Clock::time_point deadline;
    std::thread thread;

    int fd = -1;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    std::string inbox;  // received, not yet taken by a read step

    mutable std::mutex mutex;
    std::string received;
    std::vector<std::string> lines;
    std::vector<std::string> data;
    std::vector<std::string> mismatches;
    std::vector<std::string> problems;
    bool accepted = false;

    void note_problem(std::string text) {
        std::lock_guard lock(mutex);
        problems.push_back(std::move(text));
    }

    // Waits for `events` on `target`; false on stop or when the lifetime ends.
    bool wait_for(int target, short events, Clock::time_point until) {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0) return false;
            pollfd entries[2] = {{target, events, 0}, {wake_read, POLLIN, 0}};
            const int rc = ::poll(entries, 2, static_cast<int>(left.count()));
            if (rc < 0 && errno == EINTR) continue;
            if (rc < 0) return false;
            if (entries[1].revents != 0) return false;
            if (rc > 0 && entries[0].revents != 0) return true;
        }
    }

    bool sleep_for(std::chrono::milliseconds time) {
        const auto until = std::min(deadline, Clock::now() + time);
        pollfd entry{wake_read, POLLIN, 0};
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0) return Clock::now() < deadline;
            const int rc = ::poll(&entry, 1, static_cast<int>(left.count()));
            if (rc > 0) return false;
        }
    }

    bool write_bytes(std::string_view bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            if (ssl != nullptr) {
                std::size_t n = 0;
                ERR_clear_error();
                if (SSL_write_ex(ssl, bytes.data() + done, bytes.size() - done, &n) == 1) {
                    done += n;
                    continue;
                }
                const int err = SSL_get_error(ssl, 0);
                if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) return false;
                if (!wait_for(fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
                    return false;
                }
                continue;
            }
            const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
            if (!wait_for(fd, POLLOUT, deadline)) return false;
        }
        return true;
    }

    // Reads what the client sent into the inbox; false at its end, on stop or
    // when the lifetime is over.
    bool read_more() {
        char buffer[4096];
        for (;;) {
            long n = 0;
            if (ssl != nullptr) {
                std::size_t got = 0;
                ERR_clear_error();
                if (SSL_read_ex(ssl, buffer, sizeof buffer, &got) == 1) {
                    n = static_cast<long>(got);
                } else {
                    const int err = SSL_get_error(ssl, 0);
                    if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) return false;
                    if (!wait_for(fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
                        return false;
                    }
                    continue;
                }
            } else {
                n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                    if (!wait_for(fd, POLLIN, deadline)) return false;
                    continue;
                }
                if (n <= 0) return false;
            }
            inbox.append(buffer, static_cast<std::size_t>(n));
            std::lock_guard lock(mutex);
            received.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
    }

    bool take_line(std::string& line) {
        for (;;) {
            const auto lf = inbox.find('\n');
            if (lf != std::string::npos) {
                line = inbox.substr(0, lf + 1);
                inbox.erase(0, lf + 1);
                while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
                    line.pop_back();
                }
                return true;
            }
            if (!read_more()) return false;
        }
    }

    bool take_data(std::string& text) {
        static constexpr std::string_view kEnd = "\r\n.\r\n";
        std::size_t from = 0;
        for (;;) {
            const auto end = inbox.find(kEnd, from);
            if (end != std::string::npos) {
                text = inbox.substr(0, end + kEnd.size());
                inbox.erase(0, end + kEnd.size());
                return true;
            }
            // Only the tail can hold the start of an end not yet complete.
            from = inbox.size() >= kEnd.size() ? inbox.size() - kEnd.size() + 1 : 0;
            if (!read_more()) return false;
        }
    }

    bool accept_tls() {
        if (!options.tls) {
            note_problem("start_tls without certificate files");
            return false;
        }
        ctx = SSL_CTX_new(TLS_server_method());
        if (ctx == nullptr ||
            SSL_CTX_use_certificate_chain_file(ctx, options.tls->cert_file.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, options.tls->key_file.c_str(), SSL_FILETYPE_PEM) !=
                1) {
            note_problem("cannot load the server certificate");
            return false;
        }
        ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        for (;;) {
            ERR_clear_error();
            const int rc = SSL_accept(ssl);
            if (rc == 1) return true;
            const int err = SSL_get_error(ssl, rc);
            if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
                if (!wait_for(fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
                    note_problem("TLS handshake timed out");
                    return false;
                }
                continue;
            }
            char text[256] = "TLS handshake failed";
            if (const unsigned long code = ERR_peek_last_error(); code != 0) {
                ERR_error_string_n(code, text, sizeof text);
            }
            note_problem(text);
            SSL_free(ssl);  // no closing alert after a failed handshake
            ssl = nullptr;
            return false;
        }
    }

    // Plays one step; false when the conversation is over.
    bool play(const Script::Step& step) {
        switch (step.kind) {
            case Script::Kind::Send:
                return write_bytes(step.bytes);
            case Script::Kind::ReadLine: {
                std::string line;
                if (!take_line(line)) {
                    note_problem("the client sent no line for step " +
                                 std::to_string(lines.size()));
                    return false;
                }
                std::lock_guard lock(mutex);
                if (step.check && line.compare(0, step.bytes.size(), step.bytes) != 0) {
                    mismatches.push_back("expected \"" + step.bytes + "\", got \"" + line + "\"");
                }
                lines.push_back(std::move(line));
                return true;
            }
            case Script::Kind::ReadData: {
                std::string text;
                if (!take_data(text)) {
                    note_problem("the message text did not end");
                    return false;
                }
                std::lock_guard lock(mutex);
                data.push_back(std::move(text));
                return true;
            }
            case Script::Kind::Pause:
                return sleep_for(step.interval);
            case Script::Kind::Trickle:
                for (char c : step.bytes) {
                    if (!write_bytes(std::string_view(&c, 1)) || !sleep_for(step.interval)) {
                        return false;
                    }
                }
                return true;
            case Script::Kind::Repeat:
                for (std::size_t i = 0; i < step.count; ++i) {
                    if (!write_bytes(step.bytes)) return false;
                }
                return true;
            case Script::Kind::StartTls:
                return accept_tls();
            case Script::Kind::Close:
                // A full close: what the client sends afterwards is refused.
                if (ssl != nullptr) SSL_shutdown(ssl);
                finish();
                return false;
            case Script::Kind::Reset: {
                linger hard{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                if (ssl != nullptr) {
                    SSL_free(ssl);
                    ssl = nullptr;
                }
                ::close(fd);
                fd = -1;
                return false;
            }
        }
        return false;
    }

    void drain() {
        while (fd >= 0 && read_more()) {
        }
    }

    void run() {
        // A write to a client that has gone must not end the test process.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);

        if (!wait_for(listen_fd, POLLIN, deadline)) return;
        fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        {
            std::lock_guard lock(mutex);
            accepted = true;
        }
        bool going = !options.implicit_tls || accept_tls();
        for (const auto& step : script.steps()) {
            if (!going) break;
            going = play(step);
        }
        if (going) drain();
        finish();
    }

    void finish() {
        if (ssl != nullptr) {
            SSL_free(ssl);
            ssl = nullptr;
        }
        if (ctx != nullptr) {
            SSL_CTX_free(ctx);
            ctx = nullptr;
        }
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        ERR_clear_error();
    }
};

ScriptServer::ScriptServer(Script script, ServerOptions options)
    : m_impl(std::make_unique<Impl>()) {
    Impl& s = *m_impl;
    s.script = std::move(script);
    s.options = std::move(options);
    s.deadline = Clock::now() + s.options.lifetime;

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) == 0) {
        s.wake_read = wake[0];
        s.wake_write = wake[1];
    }
    s.listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (s.listen_fd < 0 || s.wake_read < 0 ||
        ::bind(s.listen_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s.listen_fd, 1) != 0 ||
        ::getsockname(s.listen_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        s.problems.push_back("cannot listen on 127.0.0.1");
        return;
    }
    s.port = ntohs(address.sin_port);
    s.thread = std::thread([&s] { s.run(); });
}

ScriptServer::~ScriptServer() {
    Impl& s = *m_impl;
    if (s.wake_write >= 0) {
        const char stop = 1;
        [[maybe_unused]] const auto n = ::write(s.wake_write, &stop, 1);
    }
    if (s.thread.joinable()) s.thread.join();
    for (int fd : {s.listen_fd, s.wake_read, s.wake_write}) {
        if (fd >= 0) ::close(fd);
    }
}

std::uint16_t ScriptServer::port_number() const {
    return m_impl->port;
}

std::string ScriptServer::port() const {
    return std::to_string(m_impl->port);
}

void ScriptServer::wait() {
    if (m_impl->thread.joinable()) m_impl->thread.join();
}

std::string ScriptServer::received() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->received;
}

std::vector<std::string> ScriptServer::lines() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->lines;
}

std::vector<std::string> ScriptServer::data() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->data;
}

std::vector<std::string> ScriptServer::mismatches() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->mismatches;
}

std::vector<std::string> ScriptServer::problems() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->problems;
}

bool ScriptServer::accepted() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->accepted;
}

}  // namespace vlt::test
