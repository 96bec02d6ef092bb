#include "smtp/session.h"

#include "common/error_text.h"
#include "common/text.h"
#include "common/wire.h"
#include "encoding/base64.h"
#include "encoding/cp932.h"

namespace vlt::smtp {

namespace {

constexpr std::string_view kLogMarker = "  ** ** **  \r\n";
constexpr std::size_t kDataPiece = 64 * 1024;

// Collects message octets into large pieces for the socket, and lets open
// windows breathe between pieces.
class SessionSink final : public ByteSink {
  public:
    SessionSink(net::SocketSession& session, const net::YieldHook& yield, std::string* copy)
        : m_session(session), m_yield(yield), m_copy(copy) {
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
        m_buffer.clear();
        if (m_yield) m_yield();
        return sent;
    }

  private:
    net::SocketSession& m_session;
    const net::YieldHook& m_yield;
    std::string* m_copy;
    std::string m_buffer;
};

// The methods of an AUTH capability line ("250-AUTH PLAIN LOGIN",
// "250 AUTH=LOGIN"), upper-cased; nullopt when the reply lists none.
struct AuthMethods {
    bool plain = false;
    bool login = false;
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

// A 502 to an AUTH step ends the authentication without failing the run.
enum class AuthStep { Continue, Stop };

Result<AuthStep> auth_exchange(net::SocketSession& session, net::CommandId id,
                               std::string_view line) {
    VLT_TRY_ASSIGN(reply, session.command(id, line));
    return reply.code == 502 ? AuthStep::Stop : AuthStep::Continue;
}

Status authenticate(net::SocketSession& session, const SendRequest& r, const net::Reply& ehlo) {
    const auto methods = auth_capability(ehlo);
    if (!methods) return {};
    bool use_plain = methods->plain;
    bool use_login = !use_plain && methods->login;
    if (!use_plain && !use_login && !r.pop_login_done) use_plain = true;

    if (use_plain) {
        std::string identity = r.user;
        identity += '\0';
        identity += r.user;
        identity += '\0';
        identity += r.password;
        VLT_TRY_ASSIGN(step, auth_exchange(session, net::CommandId::Auth, "AUTH PLAIN"));
        if (step == AuthStep::Stop) return {};
        VLT_TRY_ASSIGN(done,
                       auth_exchange(session, net::CommandId::AuthData, credentials(identity)));
        (void)done;
    } else if (use_login) {
        VLT_TRY_ASSIGN(step, auth_exchange(session, net::CommandId::Auth, "AUTH LOGIN"));
        if (step == AuthStep::Stop) return {};
        VLT_TRY_ASSIGN(user_step,
                       auth_exchange(session, net::CommandId::AuthData, credentials(r.user)));
        if (user_step == AuthStep::Stop) return {};
        VLT_TRY_ASSIGN(done,
                       auth_exchange(session, net::CommandId::AuthData, credentials(r.password)));
        (void)done;
    }
    return {};
}

// HELO or EHLO, with the STARTTLS upgrade first when asked. Returns the
// reply that lists the capabilities to use for AUTH.
Result<net::Reply> greet(net::SocketSession& session, const SendRequest& r) {
    if (r.tls == net::TlsMode::StartTls) {
        VLT_TRY_ASSIGN(first, session.command(net::CommandId::Ehlo, "EHLO " + r.server));
        if (!offers_starttls(first)) {
            return Error(ErrorKind::Tls, "サーバが STARTTLS に対応していません。");
        }
        VLT_TRY(session.command(net::CommandId::StartTls, "STARTTLS"));
        VLT_TRY(session.start_tls());
        return session.command(net::CommandId::Ehlo, "EHLO " + r.server);
    }
    if (r.use_smtp_auth) return session.command(net::CommandId::Ehlo, "EHLO " + r.server);
    return session.command(net::CommandId::Helo, "HELO " + r.server);
}

void write_protocol_log(const SendRequest& r, net::SocketSession& session, const LogWriter& log) {
    if (!r.protocol_logging) return;
    std::string text = "SMTP Protocol Logging\r\n";
    text += session.transcript().text();
    text += kLogMarker;
    write_log_or_warn(log, "ScrivlaneProtocol", text);
}

std::chrono::system_clock::time_point now_of(const SendRequest& r) {
    return r.now ? r.now() : std::chrono::system_clock::now();
}

}  // namespace

std::vector<std::string> split_addresses(const std::string& list) {
    std::vector<std::string> out;
    if (list.empty()) return out;
    for (long n = 1;; ++n) {
        auto field = get_field(list, n, ",");
        if (!field) break;
        if (!field->empty()) out.push_back(std::move(*field));
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

Result<Delivery> send_mail(SendRequest& r, const LogWriter& log) {
    VLT_TRY(check_envelope(r));

    net::OpenOptions options;
    options.protocol = net::LineProtocol::Smtp;
    options.tls = r.tls == net::TlsMode::Implicit ? net::TlsMode::Implicit : net::TlsMode::None;
    options.limits = r.limits;
    options.yield = r.yield;
    const std::string where = " [SMTP] " + r.server + ":" + r.port;

    auto opened = net::SocketSession::open(r.server, r.port, options);
    if (!opened.ok()) {
        // A refused handshake says why in its own report; the run's failure
        // report follows it directly.
        if (opened.error().kind == ErrorKind::Tls) return std::move(opened).error();
        return std::move(opened).error().then("サーバに接続できません。" + where);
    }
    net::SocketSession session = std::move(opened).value();
    // Reports of the open that did not stop it come first, whatever follows.
    auto with_notices = [&session](std::vector<std::string> reports) {
        reports.insert(reports.begin(), session.notices().begin(), session.notices().end());
        return reports;
    };
    if (session.greeting().last_line().rfind("220 ", 0) != 0) {
        session.close();
        return Error(ErrorKind::Connect,
                     with_notices({"Connect　サーバにコネクトできません。" + where}));
    }

    // Every failure from here on closes the conversation and keeps the
    // transcript when protocol logging is on.
    auto fail = [&](Error error) -> Result<Delivery> {
        session.close();
        write_protocol_log(r, session, log);
        error.reports = with_notices(std::move(error.reports));
        return error;
    };

    auto greeted = greet(session, r);
    if (!greeted.ok()) return fail(std::move(greeted).error());
    if (r.use_smtp_auth) {
        if (Status auth = authenticate(session, r, greeted.value()); !auth.ok()) {
            return fail(std::move(auth).error());
        }
    }
    if (auto sent = session.command(net::CommandId::MailFrom, "MAIL FROM:<" + r.from + ">");
        !sent.ok()) {
        return fail(std::move(sent).error());
    }
    for (const std::string* list : {&r.to, &r.cc, &r.bcc}) {
        for (const std::string& address : split_addresses(*list)) {
            auto sent = session.command(net::CommandId::RcptTo, "RCPT TO:<" + address + ">");
            if (!sent.ok()) return fail(std::move(sent).error());
        }
    }
    if (auto sent = session.command(net::CommandId::Data, "DATA"); !sent.ok()) {
        return fail(std::move(sent).error());
    }

    MessageFields fields{r.from, r.to, r.cc, r.reply_to, r.errors_to, r.subject, r.body};
    ComposeContext context{r.mailer_text, r.boundary, now_of(r)};
    std::string copy;
    const bool keep_copy = r.protocol_logging || r.log_detail == "ALL";
    SessionSink socket_sink(session, r.yield, keep_copy ? &copy : nullptr);
    DotStuffingSink stuffing(socket_sink);
    auto written =
        write_message(fields, r.header, r.attachment ? &*r.attachment : nullptr, context, stuffing);
    if (written.ok()) {
        if (Status flushed = socket_sink.flush(); !flushed.ok())
            return fail(std::move(flushed).error());
    } else {
        // Without the final "." the server discards the partial message.
        return fail(std::move(written).error());
    }
    session.transcript().append(copy);
    auto accepted = session.end_data();
    if (!accepted.ok()) return fail(std::move(accepted).error());

    // The server has the message: from here on it counts as delivered.
    Delivery delivery;
    if (auto quit = session.command(net::CommandId::Quit, "QUIT"); !quit.ok()) {
        delivery.warnings = std::move(quit).error().reports;
    }
    delivery.warnings = with_notices(std::move(delivery.warnings));
    session.close();
    if (r.log_detail == "ALL") {
        write_log_or_warn(log, "Scrivlane", copy + "\r\n" + std::string(kLogMarker));
    } else if (r.log_detail == "HDR") {
        write_log_or_warn(log, "Scrivlane",
                          written->converted_header_block + "\r\n" + std::string(kLogMarker));
    }
    write_protocol_log(r, session, log);
    return delivery;
}

}  // namespace vlt::smtp
