#pragma once
// The encrypted channel of a session, over a connected socket. One
// implementation per build: OpenSSL (tls_openssl.cpp) on POSIX, SChannel
// (tls_win32.cpp) on Windows.
//
// TlsChannel::handshake verifies the server's certificate against the system
// trust store (with OpenSSL, SSL_CERT_FILE / SSL_CERT_DIR point it elsewhere;
// on Windows, the certificate stores of the user and the machine) and checks
// it against the host name the user gave, which also goes out as SNI (an IPv4
// literal is checked as an address instead and sent without SNI). TLS 1.2 is
// the oldest version accepted. A failure comes back as an Error of kind Tls
// with the report "TLS 接続を確立できませんでした: " + the reason from
// tls_reasons.h, worded the same by both builds.
//
// Reading and writing follow socket_io.h: bounded waits, no SIGPIPE, failures
// as IoResult. The channel does not own the socket; close it after the
// channel is gone.

#include <chrono>
#include <memory>
#include <string_view>

#include "common/result.h"
#include "net/socket_io.h"

namespace vlt::net {

inline constexpr std::string_view kTlsFailurePrefix = "TLS 接続を確立できませんでした: ";

class TlsChannel {
  public:
    // The whole handshake takes at most `limit`.
    static Result<std::unique_ptr<TlsChannel>> handshake(SocketHandle fd, std::string_view host,
                                                         std::chrono::milliseconds limit);

    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;
    ~TlsChannel();

    IoResult receive_some(char* buffer, std::size_t capacity, SteadyClock::time_point deadline);
    IoResult send_all(std::string_view bytes, std::chrono::milliseconds stall_limit);
    // Sends the closing alert if the connection takes it at once.
    void shutdown();

    struct State;  // the OpenSSL objects and the socket's last error

  private:
    explicit TlsChannel(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

}  // namespace vlt::net
