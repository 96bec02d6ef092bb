#include "net/session.h"

#include <array>
#include <new>
#include <utility>

#include "common/error_text.h"
#include "common/text.h"
#include "net/error_texts.h"
#include "net/line_reader.h"
#include "net/resolve.h"
#include "net/socket_io.h"
#include "net/tls.h"

namespace vlt::net {
namespace {

constexpr std::string_view kCmdSend = "WinSockCmdSend: ";
constexpr std::string_view kManager = "WinSockManager: ";
constexpr std::size_t kReceiveChunk = 4096;
// A greeting over the reply caps is quoted by its first line, cut to this.
constexpr std::size_t kQuotedGreetingCharacters = 512;

Error rejected(std::string_view name, const std::string& quoted) {
    return Error(ErrorKind::Rejected, {std::string(kCmdSend) + std::string(name) +
                                           "：サーバにコマンドを拒否されました。",
                                       std::string(kCmdSend) + " (" + quoted + ")"});
}

Error send_failure(std::string_view name, int code) {
    return Error(ErrorKind::Protocol,
                 {std::string(kCmdSend) + std::string(name) + " を送信できません。(send)",
                  std::string(kCmdSend) + winsock_error_text(code)});
}

// A run-time failure caught inside the session, in the standard error text.
Error runtime_failure(const std::exception& e) {
    const bool memory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
    return Error(
        ErrorKind::Internal,
        vlt::error_text_inline(memory ? RuntimeError::OutOfMemory : RuntimeError::InvalidArgument));
}

// Runs `body`; an exception it throws becomes the run-time failure, so none
// leaves the session.
template <typename Body>
auto guarded(Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception& e) {
        return runtime_failure(e);
    }
}

Mask mask_of(CommandId id) {
    switch (id) {
        case CommandId::AuthData:
            return Mask::Whole;
        case CommandId::PopPass:
            return Mask::Password;
        case CommandId::AuthInitial:
            return Mask::LastWord;
        default:
            return Mask::None;
    }
}

}  // namespace

struct SocketSession::Impl {
    OpenOptions options;
    std::string host;
    SocketHandle fd = kNoSocket;
    std::unique_ptr<TlsChannel> tls;
    ReplyReader reader;
    Reply greeting;
    Transcript transcript;
    ServerText server_text;
    std::vector<std::string> notices;

    Impl(OpenOptions opts, std::string host_name)
        : options(std::move(opts)),
          host(std::move(host_name)),
          reader(options.protocol, options.limits.max_reply_lines, options.limits.max_reply_bytes),
          transcript(options.now) {}

    ~Impl() { close(); }

    void yield() const {
        if (options.yield) options.yield();
    }

    void close() {
        if (tls) {
            tls->shutdown();
            tls.reset();
        }
        close_socket(fd);
        fd = kNoSocket;
    }

    IoResult send(std::string_view bytes) {
        if (fd == kNoSocket) return IoResult::failed(kWsaEnotsock);
        yield();
        const IoResult put = tls ? tls->send_all(bytes, options.limits.socket_timeout)
                                 : send_all(fd, bytes, options.limits.socket_timeout);
        yield();
        return put;
    }

    IoResult receive(char* buffer, std::size_t capacity, SteadyClock::time_point deadline) {
        if (fd == kNoSocket) return IoResult::failed(kWsaEnotsock);
        if (tls) return tls->receive_some(buffer, capacity, deadline);
        return receive_some(fd, buffer, capacity, deadline);
    }

    std::string log_text(std::string_view bytes) const { return server_text.for_log(bytes); }

    // The reports of a failed open: the notices gathered so far, then `extra`.
    Error open_failure(ErrorKind kind, std::vector<std::string> extra = {}) {
        close();
        std::vector<std::string> reports = std::move(notices);
        for (auto& text : extra) reports.push_back(std::move(text));
        return Error(kind, std::move(reports));
    }

    Status connect(const std::string& port_text);
    Status read_greeting();
    Error timed_out(std::string_view name, const std::string& shown) const;
    Error receive_failure(std::string_view name, const IoResult& got) const;
    Result<Reply> read_reply(std::string_view name, std::string& shown);
    Result<Reply> judged_reply(const CommandRow& row, std::string& shown);
};

// Creates the socket, sets its time-outs and connects it.
Status SocketSession::Impl::connect(const std::string& port_text) {
    fd = open_socket(options.limits.socket_timeout, notices);
    if (fd == kNoSocket) return open_failure(ErrorKind::Connect);

    // Address 0 is never connected to: on this system it would reach the
    // local machine instead of failing.
    const auto port_number = parse_port(port_text);
    const Resolved resolved = resolve_host(host);
    if (!port_number || resolved.address == 0) return open_failure(ErrorKind::Connect);
    const IoResult connected =
        connect_socket(fd, resolved.address, *port_number, options.limits.socket_timeout);
    if (!connected.ok()) {
        return open_failure(ErrorKind::Connect,
                            {std::string(kManager) + winsock_error_text(connected.code)});
    }
    if (options.tls == TlsMode::Implicit) {
        auto channel = TlsChannel::handshake(fd, host, options.limits.socket_timeout);
        if (!channel.ok()) return open_failure(ErrorKind::Tls, channel.error().reports);
        tls = std::move(channel).value();
    }
    return {};
}

// Reads the greeting as a whole reply. One over the caps is a refusal quoting
// its first line; any other failure is a failed connect.
Status SocketSession::Impl::read_greeting() {
    std::string shown;
    auto read = read_reply("", shown);
    if (read.ok()) {
        greeting = std::move(read).value();
        transcript.start(shown);
        return {};
    }
    if (read.error().kind != ErrorKind::Rejected) return open_failure(ErrorKind::Connect);
    Error refused = open_failure(ErrorKind::Rejected);
    refused.reply_lines = {
        first_characters(log_text(reader.first_line()), kQuotedGreetingCharacters)};
    return refused;
}

Error SocketSession::Impl::timed_out(std::string_view name, const std::string& shown) const {
    const auto limit = std::chrono::ceil<std::chrono::seconds>(options.limits.reply_wait);
    Error error(ErrorKind::Protocol,
                {std::string(kCmdSend) + std::string(name) + "：応答待ちでタイムアウトしました。" +
                     std::to_string(limit.count()) + "(秒)",
                 std::string(kCmdSend) + " (" + shown + ")"});
    if (shown.empty()) {
        error.then(std::string(kCmdSend) + std::string(name) +
                   "　の応答メッセージを受信できません。(recv - no data)");
    } else {
        // What came was no whole reply: it counts as refused.
        for (auto& text : rejected(name, shown).reports) error.then(std::move(text));
        error.reply_lines = server_text.for_log(reader.lines());
    }
    return error;
}

Error SocketSession::Impl::receive_failure(std::string_view name, const IoResult& got) const {
    const bool closed = got.status == IoResult::Status::Closed;
    return Error(ErrorKind::Protocol,
                 {std::string(kCmdSend) + std::string(name) +
                      "の応答メッセージを受信できません。(recv) error: " + (closed ? "0" : "-1"),
                  std::string(kCmdSend) + winsock_error_text(closed ? 0 : got.code)});
}

// Reads one whole reply. `shown` receives its text for the transcript, also
// when the reply is incomplete.
Result<Reply> SocketSession::Impl::read_reply(std::string_view name, std::string& shown) {
    const auto deadline = SteadyClock::now() + options.limits.reply_wait;
    std::array<char, kReceiveChunk> buffer;
    auto progress = reader.resume();
    while (progress == ReplyReader::Progress::NeedMore) {
        yield();
        const IoResult got = receive(buffer.data(), buffer.size(), deadline);
        if (got.ok()) {
            progress = reader.add(std::string_view(buffer.data(), got.count));
            continue;
        }
        shown = log_text(reader.gathered());
        if (got.status == IoResult::Status::TimedOut) return timed_out(name, shown);
        return receive_failure(name, got);
    }
    if (progress == ReplyReader::Progress::TooLong) {
        shown = log_text(reader.gathered());
        Error error = rejected(name, log_text(reader.first_line()));
        error.reply_lines = server_text.for_log(reader.lines());
        return error;
    }
    Reply reply = reader.take();
    shown = log_text(reply.text());
    return reply;
}

// Reads the reply to `row`'s command and judges it.
Result<Reply> SocketSession::Impl::judged_reply(const CommandRow& row, std::string& shown) {
    auto reply = read_reply(row.display_name, shown);
    if (!reply.ok()) return reply;
    if (judge(row, options.protocol, *reply) != Verdict::Refused) return reply;
    Error error = rejected(row.display_name, shown);
    error.reply_lines = server_text.for_log(reply->lines);
    return error;
}

SocketSession::SocketSession(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
SocketSession::SocketSession(SocketSession&&) noexcept = default;
SocketSession& SocketSession::operator=(SocketSession&&) noexcept = default;
SocketSession::~SocketSession() = default;

Result<SocketSession> SocketSession::open(std::string_view host, std::string_view port,
                                          OpenOptions options) {
    return guarded([&]() -> Result<SocketSession> {
        const std::string host_text = vlt::trim(host);
        const std::string port_text = vlt::trim(port);
        if (host_text.empty() || port_text.empty())
            return Error(ErrorKind::Connect, std::vector<std::string>{});
        auto impl = std::make_unique<Impl>(std::move(options), host_text);
        VLT_TRY(impl->connect(port_text));
        VLT_TRY(impl->read_greeting());
        return SocketSession(std::move(impl));
    });
}

const Reply& SocketSession::greeting() const {
    return m_impl->greeting;
}

Result<Reply> SocketSession::command(CommandId id, std::string_view line, TranscriptEntry entry) {
    return guarded([&]() -> Result<Reply> {
        const CommandRow& row = command_row(id);
        if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
            Error error = send_failure(row.display_name, kWsaEinval);
            error.kind = ErrorKind::Input;
            return error;
        }
        Impl& s = *m_impl;
        if (id == CommandId::AuthData) s.server_text.add_secret(line);
        if (id == CommandId::AuthInitial)
            s.server_text.add_secret(line.substr(line.rfind(' ') + 1));
        std::string sent(line);
        sent += "\r\n";
        const IoResult put = s.send(sent);
        std::string shown;
        Result<Reply> reply = put.ok() ? s.judged_reply(row, shown)
                                       : Result<Reply>(send_failure(row.display_name, put.code));
        if (entry == TranscriptEntry::Always || !reply.ok()) {
            s.transcript.add_exchange(sent, shown, mask_of(id));
        }
        return reply;
    });
}

Status SocketSession::send_data(std::string_view bytes) {
    return guarded([&]() -> Status {
        const IoResult put = m_impl->send(bytes);
        if (!put.ok())
            return send_failure(command_row(CommandId::DataContent).display_name, put.code);
        return {};
    });
}

Result<Reply> SocketSession::end_data() {
    return guarded([&]() -> Result<Reply> {
        static constexpr std::string_view kEnd = "\r\n.\r\n";
        const CommandRow& row = command_row(CommandId::DataContent);
        Impl& s = *m_impl;
        const IoResult put = s.send(kEnd);
        if (!put.ok()) return send_failure(row.display_name, put.code);
        std::string shown;
        auto reply = s.judged_reply(row, shown);
        s.transcript.append(std::string(kEnd) + shown);
        return reply;
    });
}

Status SocketSession::upgrade(CommandId id, std::string_view line) {
    VLT_TRY(command(id, line));
    return start_tls();
}

Status SocketSession::start_tls() {
    return guarded([&]() -> Status {
        Impl& s = *m_impl;
        if (s.fd == kNoSocket)
            return Error(ErrorKind::Tls, std::string(kTlsFailurePrefix) + "not connected");
        if (s.tls)
            return Error(ErrorKind::Tls, std::string(kTlsFailurePrefix) + "already encrypted");
        if (s.reader.has_buffered()) {
            return Error(ErrorKind::Tls,
                         std::string(kTlsFailurePrefix) + "unexpected data before the handshake");
        }
        VLT_TRY_ASSIGN(channel,
                       TlsChannel::handshake(s.fd, s.host, s.options.limits.socket_timeout));
        s.tls = std::move(channel);
        return {};
    });
}

void SocketSession::add_secret(std::string_view secret) {
    m_impl->server_text.add_secret(secret);
}

void SocketSession::add_login(std::string_view user, std::string_view password) {
    if (first_characters(user, 3).size() < user.size()) add_secret(user);
    add_secret(password);
}

std::string SocketSession::log_text(std::string_view bytes) const {
    return m_impl->log_text(bytes);
}

Transcript& SocketSession::transcript() {
    return m_impl->transcript;
}

const std::vector<std::string>& SocketSession::notices() const {
    return m_impl->notices;
}

void SocketSession::close() {
    if (m_impl) m_impl->close();
}

bool SocketSession::is_open() const {
    return m_impl && m_impl->fd != kNoSocket;
}

Result<SocketSession> open_conversation(std::string_view host, std::string_view port,
                                        const Opening& opening, OpenOptions options) {
    const std::string where =
        " [" + std::string(opening.label) + "] " + vlt::trim(host) + ":" + vlt::trim(port);
    const LineProtocol protocol = options.protocol;
    auto opened = SocketSession::open(host, port, std::move(options));
    std::vector<std::string> reply_lines;
    if (opened.ok()) {
        if (judge(command_row(opening.greeting), protocol, opened->greeting()) ==
            Verdict::Accepted) {
            return opened;
        }
        reply_lines = ServerText().for_log(opened->greeting().lines);
        opened->close();
        Error refused(ErrorKind::Connect, opened->notices());
        refused.reply_lines = std::move(reply_lines);
        return std::move(refused).then(std::string(opening.greeting_refused) + where);
    }
    Error error = std::move(opened).error();
    // A refused handshake says why in its own report; the run's failure report
    // follows it directly.
    if (error.kind == ErrorKind::Tls) return error;
    if (error.kind == ErrorKind::Rejected) {
        error.kind = ErrorKind::Connect;
        return std::move(error).then(std::string(opening.greeting_refused) + where);
    }
    return std::move(error).then(std::string(opening.cannot_connect) + where);
}

}  // namespace vlt::net
