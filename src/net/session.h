#pragma once
// One TCP conversation with a line-oriented mail server (SMTP or POP3).
//
// SocketSession::open connects, optionally wraps the connection in TLS, and
// reads the greeting as a whole reply. command() sends one command line and
// reads its whole reply, judged against the accepted codes of the command's
// row in the command table (commands.h). send_data() sends message octets
// without waiting for a reply. Every failure comes back as an Error whose
// reports are the session's own texts ("WinSockManager: ...",
// "WinSockCmdSend: ..."), in order; the caller adds its own words after them.
//
// The session owns its socket: the destructor closes it. The transcript of the
// conversation is kept by the session (transcript.h) with credentials masked:
// it starts as the greeting, command() adds one entry per exchange, end_data()
// adds CR LF "." CR LF and the reply; send_data() adds nothing (the caller
// appends the message text itself). Server bytes in reports and in the
// transcript are decoded for the log (vlt::server_text_for_log).
//
// Error kinds: Connect for every failed open except TLS and an over-long
// greeting (nothing resolved, a bad port, connect or greeting failed),
// Tls for a failed handshake, Rejected for a greeting over the reply caps
// (quiet, its first line, cut to 512 characters, as the reply line),
// Rejected for a complete reply with a code the command does not accept or a
// reply over the caps, Protocol for a send or receive failure or a time-out,
// Input for a command line holding CR, LF or NUL (nothing is sent).
//
// After a refusal the conversation goes on (a POP3 password may be retried);
// after any other failed command (a send or receive failure, a time-out, a
// reply over the caps) its state is unknown and the caller should close it.
//
// Every wait is bounded: a reply must be complete within
// SessionLimits::reply_wait of the moment the wait began, and a send that makes
// no progress for SessionLimits::socket_timeout fails.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "net/commands.h"
#include "net/log_text.h"
#include "net/reply.h"
#include "net/transcript.h"

namespace vlt::net {

// Called around blocking network calls so that open windows stay responsive.
using YieldHook = std::function<void()>;

enum class TlsMode { None, StartTls, Implicit };

// The time-out report names the reply wait in whole seconds, rounded up
// ("...タイムアウトしました。30(秒)" with the default).
struct SessionLimits {
    std::chrono::milliseconds reply_wait{30000};  // whole wait for one reply
    // SO_SNDTIMEO / SO_RCVTIMEO; also the limit for the connect, for a send
    // that makes no progress and for a TLS handshake.
    std::chrono::milliseconds socket_timeout{30000};
    std::size_t max_reply_lines = 512;
    std::size_t max_reply_bytes = 64 * 1024;
};

struct OpenOptions {
    LineProtocol protocol = LineProtocol::Smtp;
    // Implicit: handshake right after connect. StartTls: plain until the
    // caller calls start_tls() after its STARTTLS / STLS command.
    TlsMode tls = TlsMode::None;
    SessionLimits limits;
    YieldHook yield;  // may be empty
    WallClock now;    // transcript stamps; empty reads the system clock
};

// What a protocol says in the opening that SMTP and POP3 share (open_conversation).
struct Opening {
    std::string_view label;  // the reports name " [" + label + "] " + host + ":" + port
    CommandId greeting;      // the greeting's row in the command table
    std::string_view cannot_connect = "サーバに接続できません。";
    std::string_view greeting_refused = "Connect　サーバにコネクトできません。";
};

class TlsChannel;  // tls.h

// Whether an exchange goes into the transcript.
enum class TranscriptEntry {
    Always,
    OnlyOnFailure,  // a repeated command whose success needs no second entry
};

class SocketSession {
  public:
    // Connects to host:port (port as text, "25abc" reads as 25; a port outside
    // 1-65535 or without leading digits fails as a connect failure), performs
    // the implicit TLS handshake when asked, and reads the greeting reply.
    // Reports: a failed connect carries "WinSockManager: " + the Windows
    // Sockets text of its code (error_texts.h), after any setsockopt notices;
    // nothing resolved, a bad port and a failed greeting carry no text of
    // their own; a TLS failure carries "TLS 接続を確立できませんでした: " + reason.
    static Result<SocketSession> open(std::string_view host, std::string_view port,
                                      OpenOptions options);

    SocketSession(SocketSession&&) noexcept;
    SocketSession& operator=(SocketSession&&) noexcept;
    ~SocketSession();

    const Reply& greeting() const;

    // Sends `line` + CR LF and reads the reply; succeeds when the reply's code
    // is accepted for `id`. The exchange is added to the transcript (masked
    // when `id` carries credentials).
    Result<Reply> command(CommandId id, std::string_view line,
                          TranscriptEntry entry = TranscriptEntry::Always);

    // Sends message octets as they are; no reply is read.
    Status send_data(std::string_view bytes);

    // Sends CR LF "." CR LF and reads the reply to the end of data (250).
    Result<Reply> end_data();

    // Sends the STARTTLS / STLS command `line` and upgrades the connection.
    Status upgrade(CommandId id, std::string_view line);

    // Upgrades the connection after a successful STARTTLS / STLS reply. Fails
    // when the server sent anything after that reply (it would have been read
    // as if it came over the encrypted channel) or the handshake fails.
    Status start_tls();

    // A credential of this run: replaced by "***" wherever a reply quotes it
    // in a report or the transcript. Lines sent as CommandId::AuthData, and
    // the last word of a CommandId::AuthInitial line, are added by command()
    // itself.
    void add_secret(std::string_view secret);
    // The user name and password of a login; a user name shorter than four
    // characters is too common a text to mask.
    void add_login(std::string_view user, std::string_view password);

    // Server bytes as a report or the transcript may quote them: decoded,
    // credentials masked, control characters made harmless (log_text.h).
    std::string log_text(std::string_view bytes) const;

    Transcript& transcript();
    // Reports given during a successful open that did not stop it (a socket
    // time-out that could not be set). The caller writes them to the error log.
    const std::vector<std::string>& notices() const;
    void close();
    bool is_open() const;

  private:
    struct Impl;
    explicit SocketSession(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// The outcome of an exchange whose reply the caller does not need.
inline Status status_of(Result<Reply> reply) {
    if (!reply.ok()) return std::move(reply).error();
    return {};
}

// The opening SMTP and POP3 share: opens the session (open()) and judges the
// greeting by `opening.greeting`'s row. Reports: a TLS failure as it is; any
// other failed open as opening.cannot_connect + where; a refused greeting,
// also one over the reply caps, as the open's notices and then
// opening.greeting_refused + where, with the greeting as the reply lines.
Result<SocketSession> open_conversation(std::string_view host, std::string_view port,
                                        const Opening& opening, OpenOptions options);

}  // namespace vlt::net
