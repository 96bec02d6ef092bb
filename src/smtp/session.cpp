#include "smtp/session.h"

#include <array>
#include <cstdint>

#include "common/error_text.h"
#include "common/text.h"
#include "common/wire.h"
#include "encoding/base64.h"
#include "encoding/cp932.h"

namespace vlt::smtp {

namespace {

constexpr std::size_t kDataPiece = 64 * 1024;
// The transcript holds the message text up to this many octets.
constexpr std::size_t kTranscriptOctets = 65536;

// The message text as the transcript shows it: the first octets sent, cut
// even mid-line, and a count of the rest. Its size never passes the cut.
class WireExcerpt {
  public:
    void add(std::string_view sent) {
        const std::size_t take = std::min(sent.size(), kTranscriptOctets - m_head.size());
        m_head.append(sent.substr(0, take));
        m_omitted += sent.size() - take;
    }
    std::string text() const {
        if (m_omitted == 0) return m_head;
        return m_head + "\r\n(以下 " + std::to_string(m_omitted) + " オクテット省略)";
    }

  private:
    std::string m_head;
    std::uint64_t m_omitted = 0;
};

// Collects message octets into large pieces for the socket, and lets open
// windows breathe between pieces.
class SessionSink final : public ByteSink {
  public:
    SessionSink(net::SocketSession& session, const net::YieldHook& yield, std::string* copy,
                WireExcerpt* excerpt)
        : m_session(session), m_yield(yield), m_copy(copy), m_excerpt(excerpt) {
        m_buffer.reserve(kDataPiece);
    }

    Status write(std::string_view bytes) override {
        if (m_copy != nullptr) m_copy->append(bytes);
        while (!bytes.empty()) {
            const std::size_t room = kDataPiece - m_buffer.size();
            const std::size_t take = std::min(room, bytes.size());
            m_buffer.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (m_buffer.size() == kDataPiece) VLT_TRY(flush());
        }
        return {};
    }

    Status flush() {
        if (m_buffer.empty()) return {};
        Status sent = m_session.send_data(m_buffer);
        if (sent.ok() && m_excerpt != nullptr) m_excerpt->add(m_buffer);
        m_buffer.clear();
        if (m_yield) m_yield();
        return sent;
    }

  private:
    net::SocketSession& m_session;
    const net::YieldHook& m_yield;
    std::string* m_copy;
    WireExcerpt* m_excerpt;
    std::string m_buffer;
};

// The methods of an AUTH capability line ("250-AUTH PLAIN LOGIN",
// "250 AUTH=LOGIN"), upper-cased; nullopt when the reply lists none.
struct AuthMethods {
    bool plain = false;
    bool login = false;
    bool xoauth2 = false;
    bool oauthbearer = false;
};

std::optional<AuthMethods> auth_capability(const net::Reply& reply) {
    std::optional<AuthMethods> found;
    for (const std::string& raw : reply.lines) {
        const std::string line = to_upper_ascii(trim_crlf(raw));
        if (line.size() < 9 || line.compare(0, 3, "250") != 0 ||
            (line[3] != '-' && line[3] != ' ') || line.compare(4, 4, "AUTH") != 0 ||
            (line[8] != ' ' && line[8] != '=')) {
            continue;
        }
        AuthMethods methods = found.value_or(AuthMethods{});
        std::string word;
        for (std::size_t i = 9; i <= line.size(); ++i) {
            if (i == line.size() || line[i] == ' ' || line[i] == '=') {
                if (word == "PLAIN") methods.plain = true;
                if (word == "LOGIN") methods.login = true;
                if (word == "XOAUTH2") methods.xoauth2 = true;
                if (word == "OAUTHBEARER") methods.oauthbearer = true;
                word.clear();
            } else {
                word += line[i];
            }
        }
        found = methods;
    }
    return found;
}

bool offers_starttls(const net::Reply& reply) {
    for (const std::string& raw : reply.lines) {
        const std::string line = to_upper_ascii(trim(trim_crlf(raw)));
        if (line.size() >= 12 && line.compare(0, 3, "250") == 0 &&
            (line[3] == '-' || line[3] == ' ') && trim(line.substr(4)) == "STARTTLS") {
            return true;
        }
    }
    return false;
}

std::string credentials(std::string_view text) {
    return encoding::base64_encode_line(encoding::to_cp932(text));
}

// The lines of the AUTH exchange the server's capabilities call for: the
// AUTH command, then the Base64 credentials; none when no AUTH applies.
std::vector<std::string> auth_lines(const SendRequest& r, const net::Reply& ehlo) {
    const auto methods = auth_capability(ehlo);
    if (!methods) return {};
    bool use_plain = methods->plain;
    const bool use_login = !use_plain && methods->login;
    if (!use_plain && !use_login && !r.pop_login_done) use_plain = true;
    if (use_plain) {
        std::string identity = r.user;
        identity += '\0';
        identity += r.user;
        identity += '\0';
        identity += r.password;
        return {"AUTH PLAIN", credentials(identity)};
    }
    if (use_login) return {"AUTH LOGIN", credentials(r.user), credentials(r.password)};
    return {};
}

// The OAuth initial response: for XOAUTH2 "user=" user ^A "auth=Bearer " token
// ^A^A; for OAUTHBEARER the RFC 7628 GS2 header with the user (its "," and "="
// escaped), then host, port and the token. The user goes as UTF-8.
std::string oauth_response(const SendRequest& r) {
    const std::string bearer = "auth=Bearer " + r.password + "\x01\x01";
    if (r.auth_mechanism == AuthMechanism::XOAuth2) {
        return "user=" + r.user + "\x01" + bearer;
    }
    const std::string user = replace_all(replace_all(r.user, "=", "=3D"), ",", "=2C");
    return "n,a=" + user + ",\x01host=" + r.server + "\x01port=" + r.port + "\x01" + bearer;
}

bool offers(const std::optional<AuthMethods>& methods, AuthMechanism mechanism) {
    if (!methods) return false;
    return mechanism == AuthMechanism::XOAuth2 ? methods->xoauth2 : methods->oauthbearer;
}

// The text of a 334 challenge, Base64-decoded.
std::string challenge_text(const net::Reply& reply) {
    const std::string line = trim_crlf(reply.last_line());
    return encoding::base64_decode(line.size() > 4 ? std::string_view(line).substr(4) : "");
}

// One sending run: the request, the open session and what the steps hand on.
struct Sending {
    SendRequest& r;
    const LogWriter& log;
    std::optional<net::SocketSession> session;
    net::Reply capabilities;   // the reply to the last HELO / EHLO
    std::string copy;          // the message text as sent, when a log wants it
    std::string header_block;  // the converted header block, for the message log
    SmtpStep step = SmtpStep::Envelope;

    // The one place where the step changes.
    void enter(SmtpStep next) {
        step = next;
        if (r.on_step) r.on_step(next);
    }

    // Reports of the open that did not stop it come first, whatever follows.
    std::vector<std::string> with_notices(std::vector<std::string> reports) const {
        const auto& notices = session->notices();
        reports.insert(reports.begin(), notices.begin(), notices.end());
        return reports;
    }

    void write_protocol_log() {
        if (r.protocol_logging) {
            net::write_protocol_log(log, "ScrivlaneProtocol", "SMTP Protocol Logging",
                                    session->transcript());
        }
    }
};

// HELO or EHLO, with the STARTTLS upgrade first when asked. Keeps the reply
// that lists the capabilities to use for AUTH.
Status greet(Sending& s) {
    const SendRequest& r = s.r;
    net::SocketSession& session = *s.session;
    if (r.tls == net::TlsMode::StartTls) {
        VLT_TRY_ASSIGN(first, session.command(net::CommandId::Ehlo, "EHLO " + r.server));
        if (!offers_starttls(first)) {
            return Error(ErrorKind::Tls, "サーバが STARTTLS に対応していません。");
        }
        VLT_TRY(session.upgrade(net::CommandId::StartTls, "STARTTLS"));
    }
    const bool ehlo = r.use_smtp_auth || r.tls == net::TlsMode::StartTls;
    VLT_TRY_ASSIGN(reply, ehlo ? session.command(net::CommandId::Ehlo, "EHLO " + r.server)
                               : session.command(net::CommandId::Helo, "HELO " + r.server));
    s.capabilities = std::move(reply);
    return {};
}

// AUTH XOAUTH2 / OAUTHBEARER with the initial response on the line, only when
// the server offers the mechanism. 235 signs in, and a 502 goes on as it does
// for PLAIN and LOGIN. A 334 is an error challenge (Base64 JSON): it is
// answered as the mechanism asks (an empty line, or ^A), and the refusal that
// follows carries the challenge's text after its own.
Status authenticate_oauth(Sending& s) {
    net::SocketSession& session = *s.session;
    const std::string name(mechanism_name(s.r.auth_mechanism));
    if (!offers(auth_capability(s.capabilities), s.r.auth_mechanism)) {
        return Error(ErrorKind::Auth, "サーバが " + name + " に対応していません。");
    }
    const std::string response = encoding::base64_encode_line(oauth_response(s.r));
    VLT_TRY_ASSIGN(reply,
                   session.command(net::CommandId::AuthInitial, "AUTH " + name + " " + response));
    if (reply.code != 334) return {};
    const std::string why = session.log_text(challenge_text(reply));
    const bool bearer = s.r.auth_mechanism == AuthMechanism::OAuthBearer;
    auto answered = session.command(net::CommandId::Auth, bearer ? "AQ==" : "");
    if (answered.ok()) return {};
    Error error = std::move(answered).error();
    if (error.kind == ErrorKind::Rejected && !why.empty() && !error.reports.empty()) {
        error.reports.back() += " " + why;
    }
    return error;
}

// Each AUTH line in turn; a reply that stops the exchange (the row's stop
// code) ends the authentication without failing the run.
Status authenticate(Sending& s) {
    if (!s.r.use_smtp_auth) return {};
    net::SocketSession& session = *s.session;
    session.add_login(s.r.user, s.r.password);
    if (s.r.auth_mechanism != AuthMechanism::Password) return authenticate_oauth(s);
    auto id = net::CommandId::Auth;
    for (const std::string& line : auth_lines(s.r, s.capabilities)) {
        VLT_TRY_ASSIGN(reply, session.command(id, line));
        if (net::judge(net::command_row(id), net::LineProtocol::Smtp, reply) ==
            net::Verdict::Stop) {
            return {};
        }
        id = net::CommandId::AuthData;
    }
    return {};
}

Status mail_from(Sending& s) {
    return net::status_of(
        s.session->command(net::CommandId::MailFrom, "MAIL FROM:<" + s.r.from + ">"));
}

Status rcpt_to(Sending& s) {
    for (const std::string* list : {&s.r.to, &s.r.cc, &s.r.bcc}) {
        for (const std::string& address : split_addresses(*list)) {
            VLT_TRY(s.session->command(net::CommandId::RcptTo, "RCPT TO:<" + address + ">"));
        }
    }
    return {};
}

Status data(Sending& s) {
    return net::status_of(s.session->command(net::CommandId::Data, "DATA"));
}

std::chrono::system_clock::time_point now_of(const SendRequest& r) {
    return r.now ? r.now() : std::chrono::system_clock::now();
}

// The message text, dot-stuffed, in large pieces. Without the final "." after
// a failure the server discards the partial message.
Status message(Sending& s) {
    SendRequest& r = s.r;
    // The body is lent to the fields, not copied (it may be large), and given
    // back when the message has been written.
    MessageFields fields{r.from, r.to, r.cc, r.reply_to, r.errors_to, r.subject, std::move(r.body)};
    ComposeContext context{r.mailer_text, r.boundary, now_of(r)};
    WireExcerpt excerpt;
    SessionSink socket_sink(*s.session, r.yield, r.log_detail == "ALL" ? &s.copy : nullptr,
                            r.protocol_logging ? &excerpt : nullptr);
    DotStuffingSink stuffing(socket_sink);
    auto written =
        write_message(fields, r.header, r.attachment ? &*r.attachment : nullptr, context, stuffing);
    r.body = std::move(fields.body);
    Status sent = written.ok() ? socket_sink.flush() : Status(std::move(written).error());
    // The transcript shows what went on the wire, also when the text broke off.
    if (r.protocol_logging) s.session->transcript().append(excerpt.text());
    VLT_TRY(sent);
    s.header_block = std::move(written->converted_header_block);
    return {};
}

Status end_of_data(Sending& s) {
    return net::status_of(s.session->end_data());
}

struct StepRow {
    SmtpStep step;
    std::string_view name;
    Status (*run)(Sending&);  // the steps of the conversation; none before and after it
};

// The steps in order, with their names.
constexpr std::array<StepRow, 10> kSteps{{
    {SmtpStep::Envelope, "envelope", nullptr},
    {SmtpStep::Connect, "connect", nullptr},
    {SmtpStep::Greet, "greeting", greet},
    {SmtpStep::Authenticate, "authentication", authenticate},
    {SmtpStep::MailFrom, "MAIL FROM", mail_from},
    {SmtpStep::RcptTo, "RCPT TO", rcpt_to},
    {SmtpStep::Data, "DATA", data},
    {SmtpStep::Message, "message", message},
    {SmtpStep::EndOfData, "end of data", end_of_data},
    {SmtpStep::Quit, "QUIT", nullptr},
}};

constexpr bool steps_in_order() {
    for (std::size_t i = 0; i < kSteps.size(); ++i) {
        if (static_cast<std::size_t>(kSteps[i].step) != i) return false;
    }
    return true;
}
static_assert(steps_in_order(), "rows follow the order of SmtpStep");

// Every step from the greeting up to the end of data, in order; the first
// that fails ends the conversation.
Status converse(Sending& s) {
    for (const StepRow& row : kSteps) {
        if (row.run == nullptr) continue;
        s.enter(row.step);
        VLT_TRY(row.run(s));
    }
    return {};
}

Result<net::SocketSession> connect(Sending& s) {
    net::OpenOptions options;
    options.protocol = net::LineProtocol::Smtp;
    options.tls = s.r.tls == net::TlsMode::Implicit ? net::TlsMode::Implicit : net::TlsMode::None;
    options.limits = s.r.limits;
    options.yield = s.r.yield;
    options.now = s.r.now;
    const net::Opening opening{"SMTP", net::CommandId::SmtpGreeting};
    return net::open_conversation(s.r.server, s.r.port, opening, std::move(options));
}

// The server has the message: from here on it counts as delivered, and a
// failed QUIT only adds warnings. Then the message log and the transcript.
Delivery finish(Sending& s) {
    const SendRequest& r = s.r;
    Delivery delivery;
    if (auto quit = s.session->command(net::CommandId::Quit, "QUIT"); !quit.ok()) {
        delivery.warnings = std::move(quit).error().reports;
    }
    delivery.warnings = s.with_notices(std::move(delivery.warnings));
    s.session->close();
    const std::string marker(net::kLogMarker);
    if (r.log_detail == "ALL") {
        s.copy += "\r\n";
        s.copy += marker;
        write_log_or_warn(s.log, "Scrivlane", s.copy);
    } else if (r.log_detail == "HDR") {
        write_log_or_warn(s.log, "Scrivlane", s.header_block + "\r\n" + marker);
    }
    s.write_protocol_log();
    return delivery;
}

}  // namespace

std::vector<std::string> split_addresses(const std::string& list) {
    std::vector<std::string> out;
    std::string_view rest(list);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        std::string address = trim(rest.substr(0, comma));
        if (!address.empty()) out.push_back(std::move(address));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return out;
}

Status check_envelope(SendRequest& r) {
    for (std::string* text :
         {&r.server, &r.port, &r.from, &r.to, &r.cc, &r.bcc, &r.reply_to, &r.errors_to}) {
        *text = trim(*text);
    }
    for (std::string* list : {&r.to, &r.cc, &r.bcc}) *list = replace_all(*list, "，", ",");
    if (r.from.empty()) return Error(ErrorKind::Input, "Fromアドレス error!!");
    if (r.to.empty()) return Error(ErrorKind::Input, "Toアドレス error!!");

    std::vector<std::string> addresses{r.from};
    for (const std::string* list : {&r.to, &r.cc, &r.bcc}) {
        for (std::string& a : split_addresses(*list)) addresses.push_back(std::move(a));
    }
    for (const std::string& address : addresses) {
        if (auto shown = envelope_address_fault(address)) {
            return Error(ErrorKind::Input,
                         "メールアドレスに使用できない文字が含まれています: " + *shown);
        }
    }
    if (r.from.find('@') == std::string::npos) {
        return Error(ErrorKind::Input, error_text_inline(RuntimeError::InvalidArgument));
    }
    return {};
}

std::string_view mechanism_name(AuthMechanism mechanism) {
    switch (mechanism) {
        case AuthMechanism::XOAuth2:
            return "XOAUTH2";
        case AuthMechanism::OAuthBearer:
            return "OAUTHBEARER";
        case AuthMechanism::Password:
            break;
    }
    return {};
}

std::string_view step_name(SmtpStep step) {
    const auto index = static_cast<std::size_t>(step);
    return index < kSteps.size() ? kSteps[index].name : std::string_view("?");
}

Result<Delivery> send_mail(SendRequest& r, const LogWriter& log) {
    Sending s{r, log, std::nullopt, {}, {}, {}};
    s.enter(SmtpStep::Envelope);
    VLT_TRY(check_envelope(r));
    s.enter(SmtpStep::Connect);
    VLT_TRY_ASSIGN(session, connect(s));
    s.session.emplace(std::move(session));
    if (Status talked = converse(s); !talked.ok()) {
        // Every failure in the conversation closes it and keeps the
        // transcript when protocol logging is on.
        s.session->close();
        s.write_protocol_log();
        Error error = std::move(talked).error();
        error.reports = s.with_notices(std::move(error.reports));
        return error;
    }
    s.enter(SmtpStep::Quit);
    return finish(s);
}

}  // namespace vlt::smtp
