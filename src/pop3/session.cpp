#include "pop3/session.h"

#include <charconv>
#include <thread>

#include "common/error_text.h"
#include "common/text.h"

namespace vlt::pop3 {

namespace {

constexpr std::string_view kLogMarker = "  ** ** **  \r\n";

void write_protocol_log(const PopRequest& r, net::SocketSession& session, const LogWriter& log) {
    if (!r.protocol_logging) return;
    std::string text = "POP Protocol Logging\r\n";
    text += session.transcript().text();
    text += kLogMarker;
    write_log_or_warn(log, "DovekiteProtocol", text);
}

// The message count of a STAT reply: the characters from the fifth up to the
// next blank. A count that is not a number, or no blank after it, is a
// malformed reply.
Status check_stat(const net::Reply& reply) {
    const std::string line = reply.lines.empty() ? std::string() : reply.lines.front();
    const std::size_t blank = line.size() > 4 ? line.find(' ', 4) : std::string::npos;
    if (blank == std::string::npos) {
        return Error(ErrorKind::Input, error_text_inline(RuntimeError::InvalidArgument));
    }
    const std::string count = trim(line.substr(4, blank - 4));
    unsigned long long value = 0;
    const auto [end, ec] = std::from_chars(count.data(), count.data() + count.size(), value);
    if (count.empty() || ec != std::errc() || end != count.data() + count.size()) {
        return Error(ErrorKind::Input, error_text_inline(RuntimeError::TypeMismatch));
    }
    return {};
}

Status converse(const PopRequest& r, net::SocketSession& session, bool& malformed_stat,
                std::vector<std::string>& warnings) {
    if (r.tls == net::TlsMode::StartTls) {
        VLT_TRY(session.command(net::CommandId::PopStls, "STLS"));
        VLT_TRY(session.start_tls());
    }
    VLT_TRY(session.command(net::CommandId::PopUser, "USER " + r.user));
    const std::string pass = "PASS " + r.password;
    auto login = session.command(net::CommandId::PopPass, pass);
    if (!login.ok()) {
        const auto& lines = login.error().reply_lines;
        std::string reply;
        for (const auto& l : lines) reply += l;
        if (!icontains_ascii(reply, "lock busy")) return std::move(login).error();
        // The refusal is reported whether or not the retry succeeds.
        warnings = std::move(login).error().reports;
        session.transcript().append("リトライ可能なエラーのため再実行します");
        if (r.sleep) {
            r.sleep(std::chrono::milliseconds(5000));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5000));
        }
        // A retry that succeeds leaves no second entry in the transcript.
        VLT_TRY(
            session.command(net::CommandId::PopPass, pass, net::TranscriptEntry::OnlyOnFailure));
    }
    VLT_TRY_ASSIGN(stat, session.command(net::CommandId::PopStat, "STAT"));
    if (Status counted = check_stat(stat); !counted.ok()) {
        malformed_stat = true;
        return counted;
    }
    VLT_TRY(session.command(net::CommandId::PopQuit, "QUIT"));
    return {};
}

}  // namespace

Result<PopLogin> pop_session(const PopRequest& request, const LogWriter& log) {
    PopRequest r = request;
    r.server = trim(r.server);
    r.port = trim(r.port);
    r.user = trim(r.user);
    r.password = trim(r.password);
    const std::string where = " [POP] " + r.server + ":" + r.port;

    net::OpenOptions options;
    options.protocol = net::LineProtocol::Pop3;
    options.tls = r.tls == net::TlsMode::Implicit ? net::TlsMode::Implicit : net::TlsMode::None;
    options.limits = r.limits;
    options.yield = r.yield;
    auto opened = net::SocketSession::open(r.server, r.port, options);
    if (!opened.ok()) {
        // A refused handshake says why in its own report; the run's failure
        // report follows it directly.
        if (opened.error().kind == ErrorKind::Tls) return std::move(opened).error();
        return std::move(opened).error().then("サーバに接続できません。" + where);
    }
    net::SocketSession session = std::move(opened).value();
    if (session.greeting().last_line().rfind("+OK ", 0) != 0) {
        session.close();
        return Error(ErrorKind::Connect, "Connect　サーバにコネクトできません。" + where);
    }
    bool malformed_stat = false;
    std::vector<std::string> warnings;
    Status done = converse(r, session, malformed_stat, warnings);
    session.close();
    // A malformed STAT reply is reported without the transcript.
    if (!malformed_stat) write_protocol_log(r, session, log);
    // Reports in the order they arose: the open's notices, a refused first
    // password, then the failure that ended the login.
    std::vector<std::string> reports = session.notices();
    reports.insert(reports.end(), warnings.begin(), warnings.end());
    if (done.ok()) return PopLogin{std::move(reports)};
    Error error = std::move(done).error();
    error.reports.insert(error.reports.begin(), reports.begin(), reports.end());
    return error;
}

}  // namespace vlt::pop3
