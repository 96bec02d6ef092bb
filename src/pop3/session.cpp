#include "pop3/session.h"

#include <array>
#include <charconv>
#include <optional>
#include <thread>

#include "common/error_text.h"
#include "common/text.h"

namespace vlt::pop3 {

namespace {

constexpr auto kRetryPause = std::chrono::milliseconds(5000);

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

// One login: the request, the open session and what the steps hand on.
struct Login {
    const PopRequest& r;
    net::SocketSession& session;
    std::vector<std::string> warnings;  // a refused first password
    bool malformed_stat = false;        // reported without the transcript

    std::string pass_line() const { return "PASS " + r.password; }
};

Status stls(Login& l) {
    if (l.r.tls != net::TlsMode::StartTls) return {};
    return l.session.upgrade(net::CommandId::PopStls, "STLS");
}

Status user(Login& l) {
    return net::status_of(l.session.command(net::CommandId::PopUser, "USER " + l.r.user));
}

// PASS; a locked mailbox gets one retry after a pause, and its refusal is
// reported whether or not the retry succeeds.
Status pass(Login& l) {
    auto login = l.session.command(net::CommandId::PopPass, l.pass_line());
    if (login.ok()) return {};
    std::string reply;
    for (const auto& line : login.error().reply_lines) reply += line;
    if (!icontains_ascii(reply, "lock busy")) return std::move(login).error();
    l.warnings = std::move(login).error().reports;
    l.session.transcript().append("リトライ可能なエラーのため再実行します");
    if (l.r.sleep) {
        l.r.sleep(kRetryPause);
    } else {
        std::this_thread::sleep_for(kRetryPause);
    }
    // A retry that succeeds leaves no second entry in the transcript.
    return net::status_of(l.session.command(net::CommandId::PopPass, l.pass_line(),
                                            net::TranscriptEntry::OnlyOnFailure));
}

Status stat(Login& l) {
    VLT_TRY_ASSIGN(reply, l.session.command(net::CommandId::PopStat, "STAT"));
    Status counted = check_stat(reply);
    if (!counted.ok()) l.malformed_stat = true;
    return counted;
}

Status quit(Login& l) {
    return net::status_of(l.session.command(net::CommandId::PopQuit, "QUIT"));
}

struct StepRow {
    PopStep step;
    std::string_view name;
    Status (*run)(Login&);  // none for the opening
};

// The steps in order, with their names.
constexpr std::array<StepRow, 6> kSteps{{
    {PopStep::Connect, "connect", nullptr},
    {PopStep::Stls, "STLS", stls},
    {PopStep::User, "USER", user},
    {PopStep::Pass, "PASS", pass},
    {PopStep::Stat, "STAT", stat},
    {PopStep::Quit, "QUIT", quit},
}};

constexpr bool steps_in_order() {
    for (std::size_t i = 0; i < kSteps.size(); ++i) {
        if (static_cast<std::size_t>(kSteps[i].step) != i) return false;
    }
    return true;
}
static_assert(steps_in_order(), "rows follow the order of PopStep");

// The one place where the step changes.
void enter(const PopRequest& r, PopStep step) {
    if (r.on_step) r.on_step(step);
}

Status converse(Login& l) {
    for (const StepRow& row : kSteps) {
        if (row.run == nullptr) continue;
        enter(l.r, row.step);
        VLT_TRY(row.run(l));
    }
    return {};
}

Result<net::SocketSession> connect(const PopRequest& r) {
    net::OpenOptions options;
    options.protocol = net::LineProtocol::Pop3;
    options.tls = r.tls == net::TlsMode::Implicit ? net::TlsMode::Implicit : net::TlsMode::None;
    options.limits = r.limits;
    options.yield = r.yield;
    options.now = r.now;
    const net::Opening opening{"POP", net::CommandId::PopGreeting};
    return net::open_conversation(r.server, r.port, opening, std::move(options));
}

PopRequest trimmed(const PopRequest& request) {
    PopRequest r = request;
    r.server = trim(r.server);
    r.port = trim(r.port);
    r.user = trim(r.user);
    r.password = trim(r.password);
    return r;
}

}  // namespace

std::string_view step_name(PopStep step) {
    const auto index = static_cast<std::size_t>(step);
    return index < kSteps.size() ? kSteps[index].name : std::string_view("?");
}

Result<PopLogin> pop_session(const PopRequest& request, const LogWriter& log) {
    const PopRequest r = trimmed(request);
    enter(r, PopStep::Connect);
    VLT_TRY_ASSIGN(session, connect(r));
    session.add_login(r.user, r.password);
    Login login{r, session, {}, false};
    Status done = converse(login);
    session.close();
    if (r.protocol_logging && !login.malformed_stat) {
        net::write_protocol_log(log, "DovekiteProtocol", "POP Protocol Logging",
                                session.transcript());
    }
    // Reports in the order they arose: the open's notices, a refused first
    // password, then the failure that ended the login.
    std::vector<std::string> reports = session.notices();
    reports.insert(reports.end(), login.warnings.begin(), login.warnings.end());
    if (done.ok()) return PopLogin{std::move(reports)};
    Error error = std::move(done).error();
    error.reports.insert(error.reports.begin(), reports.begin(), reports.end());
    return error;
}

}  // namespace vlt::pop3
