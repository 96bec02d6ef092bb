#pragma once
// One SMTP conversation that delivers one message.
//
// send_mail greets the server (HELO, or EHLO with AUTH PLAIN / LOGIN, or with
// the OAuth 2.0 mechanisms XOAUTH2 / OAUTHBEARER when they are asked), names
// the sender and each recipient, sends the message after DATA (dot-stuffed,
// the attachment streamed from its file) and quits. It writes the message log
// and, when protocol logging is on, the transcript. A failure comes back as an
// Error carrying its reports in order; once the server has accepted the
// message the result is a delivery, and a failed QUIT only adds warnings.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/result.h"
#include "net/session.h"
#include "smtp/compose.h"

namespace vlt::smtp {

// The steps of a sending conversation, in order. A failed run stops in the
// step it was in; step_name() names it for transcripts, reports and tests.
enum class SmtpStep {
    Envelope,      // the addresses are checked; nothing is sent
    Connect,       // connect, TLS, greeting
    Greet,         // HELO / EHLO, STARTTLS
    Authenticate,  // AUTH PLAIN / LOGIN / XOAUTH2 / OAUTHBEARER
    MailFrom,
    RcptTo,
    Data,
    Message,    // the message text
    EndOfData,  // "." and its reply
    Quit,
};

std::string_view step_name(SmtpStep step);

// How the SMTP AUTH style signs in.
enum class AuthMechanism {
    Password,     // AUTH PLAIN or LOGIN, as the server offers
    XOAuth2,      // AUTH XOAUTH2 with an access token
    OAuthBearer,  // AUTH OAUTHBEARER (RFC 7628) with an access token
};

// "XOAUTH2" or "OAUTHBEARER"; empty for Password.
std::string_view mechanism_name(AuthMechanism mechanism);

struct SendRequest {
    std::string server;
    std::string port;
    std::string from;
    std::string to;
    std::string cc;
    std::string bcc;
    std::string subject;
    std::string body;
    std::string reply_to;
    std::string errors_to;
    std::optional<AttachmentPart> attachment;

    bool use_smtp_auth = false;
    bool pop_login_done = false;
    std::string user;
    std::string password;  // with an OAuth mechanism: the access token
    AuthMechanism auth_mechanism = AuthMechanism::Password;
    net::TlsMode tls = net::TlsMode::None;

    HeaderOptions header;
    std::string mailer_text;
    std::string boundary;
    bool protocol_logging = false;
    std::string log_detail = "HDR";

    net::SessionLimits limits;
    net::YieldHook yield;
    std::function<std::chrono::system_clock::time_point()> now;
    // Told each step as the conversation enters it; may be empty.
    std::function<void(SmtpStep)> on_step;
};

struct Delivery {
    // Reports of failures after the server accepted the message (a failed QUIT).
    std::vector<std::string> warnings;
};

// Trims the addresses, turns full-width commas into commas and refuses what
// must not reach the server: an empty sender or recipient list, a sender
// without "@", an address holding CR, LF, NUL, "<" or ">".
Status check_envelope(SendRequest& request);

// The addresses of a comma list, trimmed, empty fields skipped.
std::vector<std::string> split_addresses(const std::string& list);

Result<Delivery> send_mail(SendRequest& request, const LogWriter& log);

}  // namespace vlt::smtp
