// Dialogue tests of the SMTP session against a scripted server: the exact
// commands on the wire, the message text received, the result and the exact
// report texts in order.

#include "smtp/session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "net/error_texts.h"
#include "smtp/attachment.h"
#include "support/base64_reference.h"
#include "support/script_server.h"
#include "support/session_reports.h"
#include "support/test_pki.h"
#include "test_support.h"

namespace vlt::smtp {
namespace {

using namespace std::chrono_literals;
using test::cmd_send;
using test::joined;
using test::lasting;
using test::Lines;
using test::PrintTo;
using test::refused;
using test::Reports;
using test::Script;
using test::ScriptServer;
using test::ServerOptions;

constexpr std::string_view kSender = "sender@example.com";
constexpr std::string_view kPlainUserPassword = "dXNlcgB1c2VyAHBhc3N3b3Jk";  // user\0user\0password

Reports closed_while_waiting(std::string_view name) {
    return {cmd_send(std::string(name) + "の応答メッセージを受信できません。(recv) error: 0"),
            cmd_send("その他のエラー: 0")};
}

Reports timed_out_empty(std::string_view name, int seconds) {
    return {cmd_send(std::string(name) + "：応答待ちでタイムアウトしました。" +
                     std::to_string(seconds) + "(秒)"),
            cmd_send(" ()"),
            cmd_send(std::string(name) + "　の応答メッセージを受信できません。(recv - no data)")};
}

std::size_t count_of(const std::string& text, std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The rest of a delivery after the greeting exchanges: MAIL FROM, one RCPT TO
// per recipient, DATA, the message text, QUIT.
Script& deliver(Script& s, int recipients = 1, std::string_view quit_reply = "221 bye\r\n") {
    s.reply("250 2.1.0 sender ok\r\n");
    for (int i = 0; i < recipients; ++i) s.reply("250 2.1.5 recipient ok\r\n");
    s.reply("354 end with <CRLF>.<CRLF>\r\n").read_data().send("250 2.0.0 queued\r\n");
    s.reply(quit_reply);
    return s;
}

Lines envelope_commands(const Lines& rcpts = {"RCPT TO:<to@example.com>"}) {
    Lines lines{"MAIL FROM:<sender@example.com>"};
    lines.insert(lines.end(), rcpts.begin(), rcpts.end());
    lines.push_back("DATA");
    return lines;
}

class SmtpSession : public ::testing::Test {
  protected:
    SendRequest request_for(const ScriptServer& server) const {
        SendRequest r;
        r.server = "127.0.0.1";
        r.port = server.port();
        r.from = std::string(kSender);
        r.to = "to@example.com";
        r.subject = "Subject";
        r.body = "Body line";
        r.user = "user";
        r.password = "password";
        r.mailer_text = "Vellumtide test";
        r.limits.reply_wait = 3s;
        r.limits.socket_timeout = 3s;
        r.now = [] { return test::sample_time(); };
        return r;
    }

    std::string where(const ScriptServer& server) const {
        return " [SMTP] 127.0.0.1:" + server.port();
    }

    std::string log_file(const std::string& prefix) const {
        const std::string path = log.path_of(prefix, 1);
        if (!std::filesystem::exists(path)) return {};
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool has_log(const std::string& prefix) const {
        return std::filesystem::exists(log.path_of(prefix, 1));
    }

    test::TempDir dir;
    LogWriter log{dir.path().string(), "vellumtide"};
};

// --- Greeting ---------------------------------------------------------------

struct GreetingCase {
    const char* name;
    Script script;
    std::string report;      // followed by " [SMTP] 127.0.0.1:<port>"
    Lines reply_lines = {};  // the reply quoted with a refused greeting
};

class SmtpGreeting : public SmtpSession, public ::testing::WithParamInterface<GreetingCase> {};

TEST_P(SmtpGreeting, FailsBeforeAnyCommand) {
    const GreetingCase& c = GetParam();
    ScriptServer server(c.script, lasting(4s));
    SendRequest r = request_for(server);
    r.limits.reply_wait = 1s;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().reports, Reports{c.report + where(server)});
    if (!c.reply_lines.empty()) {
        EXPECT_EQ(sent.error().reply_lines, c.reply_lines);
    }
    EXPECT_EQ(server.received(), "");
    EXPECT_FALSE(has_log("Scrivlane"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpGreeting,
    ::testing::Values(
        GreetingCase{"FinalLineIsACodeWithoutBlank", Script().send("220-mail\r\n220\r\n"),
                     "Connect　サーバにコネクトできません。"},
        GreetingCase{"ServiceRefused", Script().send("554 5.3.2 no service\r\n"),
                     "Connect　サーバにコネクトできません。"},
        GreetingCase{"NoCodeAtAll", Script().send("hello there\r\n"),
                     "Connect　サーバにコネクトできません。"},
        GreetingCase{"FinalLineNeverComesBeforeClose", Script().send("220-mail ready\r\n").close(),
                     "サーバに接続できません。"},
        // A greeting over the reply caps is an answer, refused: not an unreachable server.
        GreetingCase{"ContinuationLinesWithoutEnd", Script().repeat("220-more\r\n", 2000).pause(3s),
                     "Connect　サーバにコネクトできません。", Lines{"220-more\r\n"}},
        GreetingCase{"LineOverTheCaps", Script().huge_line(70000, "220 \x1b[2J"),
                     "Connect　サーバにコネクトできません。",
                     Lines{"220 ?[2J" + std::string(504, 'x')}},
        GreetingCase{"Silence", Script().pause(3s), "サーバに接続できません。"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(SmtpSession, NothingListeningIsAConnectFailure) {
    SendRequest r;
    r.server = "127.0.0.1";
    r.port = "1";
    r.from = std::string(kSender);
    r.to = "to@example.com";
    auto sent = send_mail(r, log);
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().reports,
              (Reports{test::connect_failed(), "サーバに接続できません。 [SMTP] 127.0.0.1:1"}));
}

// --- HELO, EHLO and the AUTH choice -------------------------------------------

struct AuthCase {
    const char* name;
    bool use_smtp_auth;
    std::string greet_reply;                // reply to HELO / EHLO
    std::vector<std::string> auth_replies;  // one per AUTH exchange
    Lines commands;                         // the commands before MAIL FROM
    std::string user = "user";
    std::string password = "password";
    bool pop_login_done = false;
};

class SmtpAuthChoice : public SmtpSession, public ::testing::WithParamInterface<AuthCase> {};

TEST_P(SmtpAuthChoice, SendsExactlyTheseCommands) {
    const AuthCase& c = GetParam();
    Script script = Script::smtp();
    script.reply(c.greet_reply);
    for (const auto& reply : c.auth_replies) script.reply(reply);
    deliver(script);
    ScriptServer server(script);
    SendRequest r = request_for(server);
    r.use_smtp_auth = c.use_smtp_auth;
    r.user = c.user;
    r.password = c.password;
    r.pop_login_done = c.pop_login_done;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok()) << sent.error().reports.front();
    EXPECT_TRUE(sent->warnings.empty());
    EXPECT_EQ(server.lines(), joined(joined(c.commands, envelope_commands()), {"QUIT"}));
    EXPECT_TRUE(server.problems().empty());
}

const std::string kEhloPlainLogin =
    "250-mail.example.test\r\n250-AUTH LOGIN PLAIN CRAM-MD5\r\n250 HELP\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpAuthChoice,
    ::testing::Values(
        AuthCase{"HeloStyleNeverAuthenticates",
                 false,
                 "250-mail.example.test\r\n250 AUTH PLAIN LOGIN\r\n",
                 {},
                 {"HELO 127.0.0.1"}},
        AuthCase{"PlainPreferredOverLogin",
                 true,
                 kEhloPlainLogin,
                 {"334 \r\n", "235 2.7.0 ok\r\n"},
                 {"EHLO 127.0.0.1", "AUTH PLAIN", std::string(kPlainUserPassword)}},
        AuthCase{"LoginWhenPlainIsMissing",
                 true,
                 "250-mail\r\n250-AUTH LOGIN CRAM-MD5\r\n250 8BITMIME\r\n",
                 {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"},
                 {"EHLO 127.0.0.1", "AUTH LOGIN", "dXNlcg==", "cGFzc3dvcmQ="}},
        AuthCase{"OnlyCramMd5FallsBackToPlain",
                 true,
                 "250-mail\r\n250-AUTH CRAM-MD5\r\n250 OK\r\n",
                 {"334 \r\n", "235 ok\r\n"},
                 {"EHLO 127.0.0.1", "AUTH PLAIN", std::string(kPlainUserPassword)}},
        AuthCase{"OnlyCramMd5AfterPopLoginSkipsAuth",
                 true,
                 "250-mail\r\n250-AUTH CRAM-MD5\r\n250 OK\r\n",
                 {},
                 {"EHLO 127.0.0.1"},
                 "user",
                 "password",
                 true},
        AuthCase{"LowerCaseWordsCount",
                 true,
                 "250-mail\r\n250-auth login\r\n250 OK\r\n",
                 {"334 \r\n", "334 \r\n", "235 ok\r\n"},
                 {"EHLO 127.0.0.1", "AUTH LOGIN", "dXNlcg==", "cGFzc3dvcmQ="}},
        AuthCase{"CapabilityOnTheLastLine",
                 true,
                 "250-mail\r\n250 AUTH LOGIN\r\n",
                 {"334 \r\n", "334 \r\n", "235 ok\r\n"},
                 {"EHLO 127.0.0.1", "AUTH LOGIN", "dXNlcg==", "cGFzc3dvcmQ="}},
        AuthCase{"CapabilityWithEqualsSign",
                 true,
                 "250-mail\r\n250-AUTH=PLAIN\r\n250 OK\r\n",
                 {"334 \r\n", "235 ok\r\n"},
                 {"EHLO 127.0.0.1", "AUTH PLAIN", std::string(kPlainUserPassword)}},
        AuthCase{"NoCapabilityGoesStraightToMailFrom",
                 true,
                 "250-mail\r\n250-SIZE 1000000\r\n250-XAUTHX PLAIN\r\n250 HELP\r\n",
                 {},
                 {"EHLO 127.0.0.1"}},
        AuthCase{"Refused502EndsPlainAndGoesOn",
                 true,
                 kEhloPlainLogin,
                 {"502 5.5.1 not implemented\r\n"},
                 {"EHLO 127.0.0.1", "AUTH PLAIN"}},
        AuthCase{"Refused502ToLoginUserSkipsThePassword",
                 true,
                 "250-mail\r\n250 AUTH LOGIN\r\n",
                 {"334 \r\n", "502 no\r\n"},
                 {"EHLO 127.0.0.1", "AUTH LOGIN", "dXNlcg=="}},
        AuthCase{"LoginEmptyUserIsAnEmptyLine",
                 true,
                 "250-mail\r\n250 AUTH LOGIN\r\n",
                 {"334 \r\n", "334 \r\n", "235 ok\r\n"},
                 {"EHLO 127.0.0.1", "AUTH LOGIN", "", "cHc="},
                 "",
                 "pw"},
        AuthCase{"PlainEmptyPasswordKeepsBothZeroBytes",
                 true,
                 kEhloPlainLogin,
                 {"334 \r\n", "235 ok\r\n"},
                 {"EHLO 127.0.0.1", "AUTH PLAIN", "dXNlcgB1c2VyAA=="},
                 "user",
                 ""},
        AuthCase{"PlainUserNameInCodePageBytes",
                 true,
                 kEhloPlainLogin,
                 {"334 \r\n", "235 ok\r\n"},
                 {"EHLO 127.0.0.1", "AUTH PLAIN", "g4aBW4NVAIOGgVuDVQBwdw=="},
                 "ユーザ",
                 "pw"},
        AuthCase{"LongCredentialsStayOneLine",
                 true,
                 kEhloPlainLogin,
                 {"334 \r\n", "235 ok\r\n"},
                 {"EHLO 127.0.0.1", "AUTH PLAIN",
                  "YXZlcnl2ZXJ5dmVyeWxvbmd1c2VybmFtZUBleGFtcGxlLmNvbQBhdmVyeXZlcnl2ZXJ5bG9uZ3"
                  "VzZXJuYW1lQGV4YW1wbGUuY29tAGxvbmdwYXNzd29yZC0xMjM0NTY3ODkw"},
                 "averyveryverylongusername@example.com",
                 "longpassword-1234567890"}),
    [](const auto& row) { return std::string(row.param.name); });

// --- OAuth 2.0 sign-in ---------------------------------------------------------

struct OAuthCase {
    const char* name;
    AuthMechanism mechanism;
    std::string user;
    std::string ehlo;
    std::vector<std::string> replies;        // after EHLO, up to the end of AUTH
    std::string response;                    // the initial response, decoded; "{port}" for the port
    std::optional<std::string> answer = {};  // the line that answers an error challenge
    Reports reports = {};                    // empty: the message is delivered
};

class SmtpOAuth : public SmtpSession, public ::testing::WithParamInterface<OAuthCase> {};

// The exact AUTH line, the answer to an error challenge and the reports; the
// token and the AUTH line's credentials never reach the transcript.
TEST_P(SmtpOAuth, SignsInOrReports) {
    const OAuthCase& c = GetParam();
    Script script = Script::smtp();
    script.reply(c.ehlo);
    for (const auto& reply : c.replies) script.reply(reply);
    if (c.reports.empty()) deliver(script);
    ScriptServer server(script, lasting(5s));
    SendRequest r = request_for(server);
    r.use_smtp_auth = true;
    r.auth_mechanism = c.mechanism;
    r.user = c.user;
    r.password = "tok.Secret";
    r.protocol_logging = true;
    auto sent = send_mail(r, log);
    server.wait();

    const std::string name(mechanism_name(c.mechanism));
    const std::string response = replace_all(
        test::reference_base64(replace_all(c.response, "{port}", server.port())), "\r\n", "");
    Lines commands{"EHLO 127.0.0.1"};
    if (!c.response.empty()) commands.push_back("AUTH " + name + " " + response);
    if (c.answer) commands.push_back(*c.answer);
    if (c.reports.empty()) {
        ASSERT_TRUE(sent.ok()) << sent.error().reports.front();
        commands = joined(joined(commands, envelope_commands()), {"QUIT"});
    } else {
        ASSERT_FALSE(sent.ok());
        EXPECT_EQ(sent.error().reports, c.reports);
    }
    EXPECT_EQ(server.lines(), commands);
    const std::string text = log_file("ScrivlaneProtocol");
    if (!c.response.empty()) {
        EXPECT_NE(text.find(">> AUTH " + name + " ***\r\n"), std::string::npos);
        EXPECT_EQ(text.find(response), std::string::npos);
    }
    EXPECT_EQ(text.find("tok.Secret"), std::string::npos);
}

// The AUTH refusal, with the challenge's text after a blank.
Reports refused_with(std::string_view quoted, const std::string& why) {
    Reports reports = refused("AUTH コマンド", quoted);
    reports.back() += " " + why;
    return reports;
}

const std::string kEhloOAuth = "250-mail\r\n250-AUTH PLAIN XOAUTH2 OAUTHBEARER\r\n250 OK\r\n";
const std::string kXoauth2U =
    "user=u\x01"
    "auth=Bearer tok.Secret\x01\x01";
const std::string kBearerU =
    "n,a=u,\x01host=127.0.0.1\x01port={port}\x01"
    "auth=Bearer tok.Secret\x01\x01";
const std::string kChallenge = R"({"status":"invalid_token","schemes":"Bearer"})";

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpOAuth,
    ::testing::Values(
        OAuthCase{"XOAuth2", AuthMechanism::XOAuth2, "u", kEhloOAuth, {"235 ok\r\n"}, kXoauth2U},
        OAuthCase{"OAuthBearerEscapesTheUser",
                  AuthMechanism::OAuthBearer,
                  "a,b=c",
                  "250-mail\r\n250 AUTH=OAUTHBEARER\r\n",
                  {"235 ok\r\n"},
                  "n,a=a=2Cb=3Dc,\x01host=127.0.0.1\x01port={port}\x01"
                  "auth=Bearer tok.Secret\x01\x01"},
        OAuthCase{"Refused502GoesOnAsForPlain",
                  AuthMechanism::XOAuth2,
                  "u",
                  kEhloOAuth,
                  {"502 5.5.1 not now\r\n"},
                  kXoauth2U},
        OAuthCase{"OAuthBearerErrorChallengeGetsCtrlA",
                  AuthMechanism::OAuthBearer,
                  "u",
                  kEhloOAuth,
                  {"334 " + test::reference_base64(kChallenge) + "\r\n", "535 no\r\n"},
                  kBearerU,
                  "AQ==",
                  refused_with("535 no\r\n", kChallenge)},
        // A hostile challenge: the token it echoes and its escape sequence are
        // made harmless like any reply text.
        OAuthCase{"XOAuth2ErrorChallengeGetsAnEmptyLine",
                  AuthMechanism::XOAuth2,
                  "u",
                  kEhloOAuth,
                  {"334 " + test::reference_base64("{tok.Secret\x1b[2J}") + "\r\n",
                   "535 no tok.Secret\r\n"},
                  kXoauth2U,
                  "",
                  refused_with("535 no ***\r\n", "{***?[2J}")},
        OAuthCase{"NotOffered",
                  AuthMechanism::XOAuth2,
                  "u",
                  kEhloPlainLogin,
                  {},
                  "",
                  {},
                  {"サーバが XOAUTH2 に対応していません。"}},
        OAuthCase{"NoAuthCapabilityAtAll",
                  AuthMechanism::OAuthBearer,
                  "u",
                  "250-mail\r\n250 SIZE 1000\r\n",
                  {},
                  "",
                  {},
                  {"サーバが OAUTHBEARER に対応していません。"}}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Refused steps ----------------------------------------------------------

struct RefusalCase {
    const char* name;
    bool use_smtp_auth;
    std::string to;
    Script script;
    Reports reports;
    Lines commands;
};

class SmtpRefusal : public SmtpSession, public ::testing::WithParamInterface<RefusalCase> {};

// The first refused step ends the conversation: no further command, no QUIT,
// no message log.
TEST_P(SmtpRefusal, EndsTheConversationWithTheRefusalReports) {
    const RefusalCase& c = GetParam();
    ScriptServer server(c.script, lasting(5s));
    SendRequest r = request_for(server);
    r.use_smtp_auth = c.use_smtp_auth;
    r.to = c.to;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().reports, c.reports);
    EXPECT_EQ(server.lines(), c.commands);
    EXPECT_EQ(server.received().find("QUIT"), std::string::npos);
    EXPECT_FALSE(has_log("Scrivlane"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpRefusal,
    ::testing::Values(
        RefusalCase{"HeloRefused", false, "to@example.com",
                    Script::smtp().reply("501 5.5.4 bad name\r\n"),
                    refused("HELO コマンド", "501 5.5.4 bad name\r\n"), Lines{"HELO 127.0.0.1"}},
        RefusalCase{"EhloRefusedWithoutHeloFallback", true, "to@example.com",
                    Script::smtp().reply("500 5.5.1 unknown\r\n"),
                    refused("EHLO コマンド", "500 5.5.1 unknown\r\n"), Lines{"EHLO 127.0.0.1"}},
        RefusalCase{"CredentialsRefused", true, "to@example.com",
                    Script::smtp()
                        .reply(kEhloPlainLogin)
                        .reply("334 \r\n")
                        .reply("535 5.7.8 bad credentials\r\n"),
                    refused("AUTH コマンド", "535 5.7.8 bad credentials\r\n"),
                    Lines{"EHLO 127.0.0.1", "AUTH PLAIN", std::string(kPlainUserPassword)}},
        RefusalCase{"MailFromRefused", false, "to@example.com",
                    Script::smtp().reply("250 ok\r\n").reply("550-no\r\n550 5.7.1 relay\r\n"),
                    refused("MAIL FROM コマンド", "550-no\r\n550 5.7.1 relay\r\n"),
                    Lines{"HELO 127.0.0.1", "MAIL FROM:<sender@example.com>"}},
        RefusalCase{"SecondRecipientRefused", false, "a@example.com, b@example.com",
                    Script::smtp()
                        .reply("250 ok\r\n")
                        .reply("250 ok\r\n")
                        .reply("250 ok\r\n")
                        .reply("550 5.1.1 unknown user\r\n"),
                    refused("RCPT TO コマンド", "550 5.1.1 unknown user\r\n"),
                    Lines{"HELO 127.0.0.1", "MAIL FROM:<sender@example.com>",
                          "RCPT TO:<a@example.com>", "RCPT TO:<b@example.com>"}},
        RefusalCase{"DataRefused", false, "to@example.com",
                    Script::smtp()
                        .reply("250 ok\r\n")
                        .reply("250 ok\r\n")
                        .reply("250 ok\r\n")
                        .reply("554 5.5.1 no valid recipients\r\n"),
                    refused("DATA コマンド", "554 5.5.1 no valid recipients\r\n"),
                    joined({"HELO 127.0.0.1"}, envelope_commands())},
        RefusalCase{"EndOfDataRefused", false, "to@example.com",
                    Script::smtp()
                        .reply("250 ok\r\n")
                        .reply("250 ok\r\n")
                        .reply("250 ok\r\n")
                        .reply("354 go\r\n")
                        .read_data()
                        .send("552 5.3.4 too big\r\n"),
                    refused("データ", "552 5.3.4 too big\r\n"),
                    joined({"HELO 127.0.0.1"}, envelope_commands())}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Recipients ---------------------------------------------------------------

struct RecipientCase {
    const char* name;
    std::string to;
    std::string cc;
    std::string bcc;
    Lines rcpts;
};

class SmtpRecipients : public SmtpSession, public ::testing::WithParamInterface<RecipientCase> {};

TEST_P(SmtpRecipients, OneRcptToPerAddressInListOrder) {
    const RecipientCase& c = GetParam();
    Script script = Script::smtp();
    script.reply("250 ok\r\n");
    deliver(script, static_cast<int>(c.rcpts.size()));
    ScriptServer server(script);
    SendRequest r = request_for(server);
    r.to = c.to;
    r.cc = c.cc;
    r.bcc = c.bcc;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok()) << sent.error().reports.front();
    EXPECT_EQ(server.lines(),
              joined(joined({"HELO 127.0.0.1"}, envelope_commands(c.rcpts)), {"QUIT"}));
    ASSERT_EQ(server.data().size(), 1u);
    // Blind copies are named in the envelope only.
    for (const auto& address : split_addresses(c.bcc)) {
        EXPECT_EQ(server.data()[0].find(address), std::string::npos) << address;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpRecipients,
    ::testing::Values(RecipientCase{"FullWidthComma",
                                    "a@example.com，b@example.com",
                                    "",
                                    "",
                                    {"RCPT TO:<a@example.com>", "RCPT TO:<b@example.com>"}},
                      RecipientCase{"EmptyFieldsSkipped",
                                    ",a@example.com,,b@example.com,",
                                    "",
                                    "",
                                    {"RCPT TO:<a@example.com>", "RCPT TO:<b@example.com>"}},
                      RecipientCase{"BlanksAroundAddresses",
                                    "  a@example.com  ,   b@example.com ",
                                    "",
                                    "",
                                    {"RCPT TO:<a@example.com>", "RCPT TO:<b@example.com>"}},
                      RecipientCase{"ToThenCcThenBcc",
                                    "a@example.com",
                                    "c@example.com， d@example.com",
                                    "e@example.com,f@example.com",
                                    {"RCPT TO:<a@example.com>", "RCPT TO:<c@example.com>",
                                     "RCPT TO:<d@example.com>", "RCPT TO:<e@example.com>",
                                     "RCPT TO:<f@example.com>"}}),
    [](const auto& row) { return std::string(row.param.name); });

// --- The message text -------------------------------------------------------

TEST_F(SmtpSession, DotStuffsLinesOnTheWireAndEndsWithOneDot) {
    Script script = Script::smtp();
    script.reply("250 ok\r\n");
    deliver(script);
    ScriptServer server(script);
    SendRequest r = request_for(server);
    r.body = ".starts with a dot\r\n.\r\nmiddle\n..two dots\nlast";
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok());
    ASSERT_EQ(server.data().size(), 1u);
    const std::string data = server.data()[0];
    EXPECT_EQ(data.rfind("Date: ", 0), 0u);
    EXPECT_NE(data.find("\r\nSubject: Subject\r\n"), std::string::npos);
    EXPECT_NE(data.find("\r\n\r\n..starts with a dot\r\n..\r\nmiddle\r\n...two dots\r\nlast"),
              std::string::npos)
        << data;
    // The only end of data is the final one.
    EXPECT_EQ(data.find("\r\n.\r\n"), data.size() - 5);
}

// Large texts go out in several pieces; lines beginning with a dot are
// stuffed wherever the piece boundaries fall.
TEST_F(SmtpSession, ALongTextArrivesWholeAcrossPieces) {
    std::string body;
    std::string stuffed;
    for (int i = 0; i < 30000; ++i) {
        char line[16];
        std::snprintf(line, sizeof line, ".l%05d", i);
        body += line;
        body += "\r\n";
        stuffed += ".";
        stuffed += line;
        stuffed += "\r\n";
    }
    body += "end";
    stuffed += "end";
    Script script = Script::smtp();
    script.reply("250 ok\r\n");
    deliver(script);
    ScriptServer server(script, lasting(20s));
    SendRequest r = request_for(server);
    r.body = body;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok());
    ASSERT_EQ(server.data().size(), 1u);
    const std::string data = server.data()[0];
    const auto at = data.find("\r\n\r\n" + stuffed);
    ASSERT_NE(at, std::string::npos);
    const std::string tail = data.substr(at + 4 + stuffed.size());
    EXPECT_TRUE(tail.ends_with("\r\n.\r\n"));
    EXPECT_EQ(tail.find_first_not_of("\r\n"), tail.size() - 3) << tail;
}

TEST_F(SmtpSession, StreamsTheAttachmentFromItsFile) {
    const std::string bytes = test::pattern_bytes(300000, 7);
    test::write_file(dir.file("report.bin"), bytes);
    auto prepared = prepare_attachment(dir.file("report.bin"));
    ASSERT_TRUE(prepared.ok());
    ASSERT_TRUE(prepared->has_value());
    Script script = Script::smtp();
    script.reply("250 ok\r\n");
    deliver(script);
    ScriptServer server(script, lasting(20s));
    SendRequest r = request_for(server);
    r.boundary = "==_Bndry_==test-0001";
    r.attachment = **prepared;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok());
    ASSERT_EQ(server.data().size(), 1u);
    EXPECT_NE(server.data()[0].find(test::reference_base64(bytes)), std::string::npos);
    EXPECT_NE(server.data()[0].find("--==_Bndry_==test-0001--"), std::string::npos);
}

// A file that goes between the probe and the sending aborts the message
// without the final dot, so the server discards what it got.
TEST_F(SmtpSession, AnAttachmentGoneBeforeSendingAbortsWithoutTheFinalDot) {
    test::write_file(dir.file("gone.bin"), "some bytes");
    auto prepared = prepare_attachment(dir.file("gone.bin"));
    ASSERT_TRUE(prepared.ok() && prepared->has_value());
    std::filesystem::remove(dir.file("gone.bin"));
    Script script = Script::smtp();
    script.reply("250 ok\r\n").reply("250 ok\r\n").reply("250 ok\r\n").reply("354 go\r\n");
    ScriptServer server(script, lasting(5s));
    SendRequest r = request_for(server);
    r.boundary = "==_Bndry_==test-0002";
    r.attachment = **prepared;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_FALSE(sent.ok());
    ASSERT_EQ(sent.error().reports.size(), 1u);
    EXPECT_EQ(sent.error().reports[0].rfind("AttachFileERR:エラー番号 :53 -- ", 0), 0u)
        << sent.error().reports[0];
    EXPECT_EQ(server.received().find("\r\n.\r\n"), std::string::npos);
    EXPECT_EQ(server.received().find("QUIT"), std::string::npos);
    EXPECT_FALSE(has_log("Scrivlane"));
}

// --- After the message was accepted -------------------------------------------

struct QuitCase {
    const char* name;
    std::function<void(Script&)> quit;  // what follows the 250 to the end of data
    Reports warnings;
};

class SmtpQuit : public SmtpSession, public ::testing::WithParamInterface<QuitCase> {};

// Once the server has accepted the message it is delivered, whatever QUIT gets.
TEST_P(SmtpQuit, TheMessageCountsAsDelivered) {
    const QuitCase& c = GetParam();
    Script script = Script::smtp();
    script.reply("250 ok\r\n").reply("250 ok\r\n").reply("250 ok\r\n").reply("354 go\r\n");
    script.read_data().send("250 2.0.0 queued as 1234\r\n");
    c.quit(script);
    ScriptServer server(script, lasting(5s));
    SendRequest r = request_for(server);
    r.limits.reply_wait = 1s;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok()) << sent.error().reports.front();
    EXPECT_EQ(sent->warnings, c.warnings);
    EXPECT_EQ(server.lines().back(), "QUIT");
    EXPECT_NE(log_file("Scrivlane").find("Subject: Subject\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpQuit,
    ::testing::Values(QuitCase{"Answered221", [](Script& s) { s.reply("221 bye\r\n"); }, {}},
                      QuitCase{"AnsweredWithAnotherCode",
                               [](Script& s) { s.reply("500 what?\r\n"); },
                               refused("QUIT コマンド", "500 what?\r\n")},
                      QuitCase{"ConnectionClosed", [](Script& s) { s.read_line().close(); },
                               closed_while_waiting("QUIT コマンド")},
                      QuitCase{"NoAnswer", [](Script& s) { s.read_line().pause(2s); },
                               timed_out_empty("QUIT コマンド", 1)}),
    [](const auto& row) { return std::string(row.param.name); });

// --- How replies arrive -----------------------------------------------------

TEST_F(SmtpSession, RepliesSplitOverReceivesAndMultiLineRepliesAreReadWhole) {
    Script script;
    script.send("220-mail.example.test\r\n2").pause(50ms).send("20 ready\r\n");
    script.read_line().send("250-mail.example.test\r\n250-AUTH LOG").pause(50ms);
    script.send("IN\r\n").pause(50ms).send("250 HELP\r\n");
    script.read_line().trickle("334 \r\n", 10ms);
    script.read_line().send("33").pause(50ms).send("4 \r\n");
    script.read_line().send("235 ok\r\n");
    script.read_line().send("250-first\r\n250-second\r\n250 sender ok\r\n");
    script.read_line().send("25").pause(50ms).send("0 recipient ok\r\n");
    script.read_line().send("354 go\r\n").read_data().trickle("250 queued\r\n", 10ms);
    script.read_line().send("221-see you\r\n221 bye\r\n");
    ScriptServer server(script);
    SendRequest r = request_for(server);
    r.use_smtp_auth = true;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok()) << sent.error().reports.front();
    EXPECT_TRUE(sent->warnings.empty());
    EXPECT_EQ(server.lines(),
              joined(joined({"EHLO 127.0.0.1", "AUTH LOGIN", "dXNlcg==", "cGFzc3dvcmQ="},
                            envelope_commands()),
                     {"QUIT"}));
}

struct BrokenCase {
    const char* name;
    Script script;
    Reports reports;
};

class SmtpBroken : public SmtpSession, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(SmtpBroken, EndsWithTheReceiveReports) {
    const BrokenCase& c = GetParam();
    ScriptServer server(c.script, lasting(5s));
    SendRequest r = request_for(server);
    r.use_smtp_auth = true;
    r.limits.reply_wait = 1s;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().reports, c.reports);
    EXPECT_FALSE(has_log("Scrivlane"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpBroken,
    ::testing::Values(
        BrokenCase{"ClosedMidEhloReply",
                   Script::smtp().read_line().send("250-mail\r\n250-AUTH PL").close(),
                   closed_while_waiting("EHLO コマンド")},
        BrokenCase{
            "ResetMidMailFromReply",
            Script::smtp().reply("250 ok\r\n").read_line().send("250-sen").reset(),
            {cmd_send("MAIL FROM コマンドの応答メッセージを受信できません。(recv) error: -1"),
             cmd_send(net::winsock_error_text(10054))}},
        BrokenCase{"SilentAfterRcpt",
                   Script::smtp().reply("250 ok\r\n").reply("250 ok\r\n").read_line().pause(3s),
                   timed_out_empty("RCPT TO コマンド", 1)}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Hostile servers ----------------------------------------------------------

struct HostileCase {
    const char* name;
    Script script;
    std::string first_report;
};

class SmtpHostile : public SmtpSession, public ::testing::WithParamInterface<HostileCase> {};

// Whatever the server sends, the session ends in bounded time with a report,
// and nothing counts as delivered without the 250 to the end of data.
TEST_P(SmtpHostile, EndsWithAReportAndNoDelivery) {
    const HostileCase& c = GetParam();
    ScriptServer server(c.script, lasting(8s));
    SendRequest r = request_for(server);
    r.limits.reply_wait = 1500ms;
    auto sent = send_mail(r, log);
    ASSERT_FALSE(sent.ok());
    ASSERT_FALSE(sent.error().reports.empty());
    EXPECT_EQ(sent.error().reports[0], c.first_report);
    for (const auto& report : sent.error().reports) EXPECT_LE(report.size(), 70000u);
    EXPECT_FALSE(has_log("Scrivlane"));
}

Script until_end_of_data() {
    Script s = Script::smtp();
    s.reply("250 ok\r\n").reply("250 ok\r\n").reply("250 ok\r\n").reply("354 go\r\n").read_data();
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpHostile,
    ::testing::Values(
        HostileCase{"ReplyLineOfThirtyMegabytes",
                    Script::smtp().read_line().huge_line(30 * 1024 * 1024, "250-"),
                    cmd_send("HELO コマンド：サーバにコマンドを拒否されました。")},
        HostileCase{"EndlessContinuationLines",
                    Script::smtp().reply("250 ok\r\n").read_line().repeat("250-more\r\n", 200000),
                    cmd_send("MAIL FROM コマンド：サーバにコマンドを拒否されました。")},
        HostileCase{"GarbageWithNulAnd8BitBytes",
                    Script::smtp()
                        .reply("250 ok\r\n")
                        .reply(std::string("\x00\xff\xfe\x80 garbage \x1b$B\r\n", 18)),
                    cmd_send("MAIL FROM コマンド：サーバにコマンドを拒否されました。")},
        HostileCase{"ReplyTrickledByteByByte",
                    Script::smtp().read_line().trickle("250 mail.example.test\r\n", 300ms),
                    cmd_send("HELO コマンド：応答待ちでタイムアウトしました。2(秒)")},
        HostileCase{"EndOfDataAnsweredWithEndlessContinuation",
                    until_end_of_data().repeat("250-queued\r\n", 100000),
                    cmd_send("データ：サーバにコマンドを拒否されました。")},
        HostileCase{"EndOfDataAnsweredWithNul",
                    until_end_of_data().send(std::string("2\x00"
                                                         "0 queued\r\n",
                                                         12)),
                    cmd_send("データ：サーバにコマンドを拒否されました。")},
        HostileCase{"EndOfDataAnsweredTooLate",
                    until_end_of_data().pause(2500ms).send("250 queued\r\n"),
                    cmd_send("データ：応答待ちでタイムアウトしました。2(秒)")},
        HostileCase{"EndOfDataAnsweredWithAnUnfinishedLine",
                    until_end_of_data().send("250 queued").pause(2500ms),
                    cmd_send("データ：応答待ちでタイムアウトしました。2(秒)")},
        HostileCase{"ClosedInsteadOfEndOfDataReply", until_end_of_data().close(),
                    cmd_send("データの応答メッセージを受信できません。(recv) error: 0")}),
    [](const auto& row) { return std::string(row.param.name); });

// A reset at any step ends the run with a report naming that step.
class SmtpResetAt : public SmtpSession, public ::testing::WithParamInterface<int> {};

TEST_P(SmtpResetAt, EachStep) {
    const int step = GetParam();
    const char* const names[] = {
        "EHLO コマンド",    "AUTH コマンド", "AUTH コマンド", "MAIL FROM コマンド",
        "RCPT TO コマンド", "DATA コマンド", "データ",        "QUIT コマンド"};
    const char* const replies[] = {"250-mail\r\n250 AUTH PLAIN\r\n",
                                   "334 \r\n",
                                   "235 ok\r\n",
                                   "250 ok\r\n",
                                   "250 ok\r\n",
                                   "354 go\r\n",
                                   "250 queued\r\n"};
    Script script = Script::smtp();
    for (int i = 0; i < step; ++i) {
        if (i == 6) {
            script.read_data().send(replies[i]);
        } else {
            script.reply(replies[i]);
        }
    }
    if (step == 6) {
        script.read_data();
    } else {
        script.read_line();
    }
    script.reset();
    ScriptServer server(script, lasting(5s));
    SendRequest r = request_for(server);
    r.use_smtp_auth = true;
    auto sent = send_mail(r, log);
    server.wait();
    if (step == 7) {
        // The reset came after the 250 to the end of data: delivered.
        ASSERT_TRUE(sent.ok());
        ASSERT_FALSE(sent->warnings.empty());
        EXPECT_EQ(sent->warnings[0].rfind(cmd_send(names[step]), 0), 0u) << sent->warnings[0];
        EXPECT_TRUE(has_log("Scrivlane"));
        return;
    }
    ASSERT_FALSE(sent.ok());
    ASSERT_FALSE(sent.error().reports.empty());
    EXPECT_EQ(sent.error().reports[0].rfind(cmd_send(names[step]), 0), 0u)
        << sent.error().reports[0];
    EXPECT_FALSE(has_log("Scrivlane"));
}

INSTANTIATE_TEST_SUITE_P(Steps, SmtpResetAt, ::testing::Range(0, 8));

// A server that goes away while the message streams makes a send fail; the
// process is not killed by a signal.
TEST_F(SmtpSession, AServerGoneDuringTheDataIsASendFailureNotASignal) {
    test::write_file(dir.file("big.bin"), test::pattern_bytes(8 * 1024 * 1024, 3));
    auto prepared = prepare_attachment(dir.file("big.bin"));
    ASSERT_TRUE(prepared.ok() && prepared->has_value());
    Script script = Script::smtp();
    script.reply("250 ok\r\n").reply("250 ok\r\n").reply("250 ok\r\n").reply("354 go\r\n");
    script.pause(100ms).reset();
    ScriptServer server(script, lasting(10s));
    SendRequest r = request_for(server);
    r.boundary = "==_Bndry_==test-0003";
    r.attachment = **prepared;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().reports.at(0).rfind(cmd_send("データ"), 0), 0u)
        << sent.error().reports[0];
    EXPECT_FALSE(has_log("Scrivlane"));
}

// --- Envelope checks before any connection ------------------------------------

struct EnvelopeCase {
    const char* name;
    std::string from;
    std::string to;
    std::string cc;
    std::string bcc;
    std::string report;
};

class SmtpEnvelope : public SmtpSession, public ::testing::WithParamInterface<EnvelopeCase> {};

TEST_P(SmtpEnvelope, RefusedBeforeConnecting) {
    const EnvelopeCase& c = GetParam();
    ScriptServer server(Script::smtp(), lasting(1s));
    SendRequest r = request_for(server);
    r.from = c.from;
    r.to = c.to;
    r.cc = c.cc;
    r.bcc = c.bcc;
    auto sent = send_mail(r, log);
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().reports, Reports{c.report});
    // A connection would have been accepted before the greeting was read.
    EXPECT_FALSE(server.accepted());
}

const std::string kBadAddress = "メールアドレスに使用できない文字が含まれています: ";

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpEnvelope,
    ::testing::Values(
        EnvelopeCase{"CrInSender", "a\rb@example.com", "to@example.com", "", "",
                     kBadAddress + "a\\rb@example.com"},
        EnvelopeCase{"LineBreakInjectingACommand", std::string(kSender),
                     "to@example.com>\r\nRCPT TO:<evil@example.com", "", "",
                     kBadAddress + "to@example.com>\\r\\nRCPT TO:<evil@example.com"},
        EnvelopeCase{"LfInSecondRecipient", std::string(kSender), "ok@example.com, x\n@example.com",
                     "", "", kBadAddress + "x\\n@example.com"},
        EnvelopeCase{"NulInCc", std::string(kSender), "to@example.com",
                     std::string("c\0@example.com", 14), "", kBadAddress + "c\\0@example.com"},
        EnvelopeCase{"AngleBracketsInBcc", std::string(kSender), "to@example.com", "",
                     "<e@example.com>", kBadAddress + "<e@example.com>"},
        EnvelopeCase{"SenderWithoutAt", "sender", "to@example.com", "", "",
                     "エラー番号 :5 -- PrjVellumtide でエラーが発生しました。 "
                     "プロシージャの呼び出し、または引数が不正です。"},
        EnvelopeCase{"BlankSender", "   ", "to@example.com", "", "", "Fromアドレス error!!"},
        EnvelopeCase{"BlankRecipients", std::string(kSender), "   ", "c@example.com", "",
                     "Toアドレス error!!"}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Logs -------------------------------------------------------------------

TEST_F(SmtpSession, TranscriptMasksCredentials) {
    Script script = Script::smtp();
    script.reply("250-mail\r\n250 AUTH LOGIN\r\n").reply("334 VXNlcm5hbWU6\r\n");
    script.reply("334 UGFzc3dvcmQ6\r\n").reply("235 ok\r\n");
    deliver(script);
    ScriptServer server(script);
    SendRequest r = request_for(server);
    r.use_smtp_auth = true;
    r.protocol_logging = true;
    r.user = "mailuser";
    r.password = "s3cret-Pa55";
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok());
    const std::string text = log_file("ScrivlaneProtocol");
    EXPECT_NE(text.find(" *** SMTP Protocol Logging\r\n" + std::string(test::kSmtpGreeting)),
              std::string::npos);
    EXPECT_NE(text.find(">> AUTH LOGIN\r\n334 VXNlcm5hbWU6\r\n"), std::string::npos);
    EXPECT_EQ(count_of(text, ">> ***\r\n"), 2u);
    EXPECT_EQ(text.find("s3cret"), std::string::npos);
    EXPECT_EQ(text.find("czNjcmV0LVBhNTU="), std::string::npos);  // the password's base64
    EXPECT_EQ(text.find("bWFpbHVzZXI="), std::string::npos);      // the user's base64
    EXPECT_NE(text.find("Subject: Subject\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n.\r\n250 2.0.0 queued\r\n"), std::string::npos);
    EXPECT_NE(text.find("  ** ** **  \r\n"), std::string::npos);
}

// The transcript holds the first 65536 octets of the text as sent, then a
// count of the rest.
TEST_F(SmtpSession, TranscriptCutsTheMessageTextAfter65536Octets) {
    Script script = Script::smtp();
    script.reply("250 ok\r\n");
    deliver(script);
    ScriptServer server(script);
    SendRequest r = request_for(server);
    r.body = std::string(100000, '.');  // every line start doubled on the wire
    r.protocol_logging = true;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok());
    ASSERT_EQ(server.data().size(), 1u);
    const std::string wire = server.data()[0].substr(0, server.data()[0].size() - 3);  // ".\r\n"
    ASSERT_GT(wire.size(), 65536u + 2);
    const std::string text = log_file("ScrivlaneProtocol");
    const std::string note = "\r\n(以下 " + std::to_string(wire.size() - 2 - 65536) +
                             " オクテット省略)\r\n.\r\n250 2.0.0 queued";
    EXPECT_NE(text.find(wire.substr(0, 65536) + note), std::string::npos);
}

TEST_F(SmtpSession, TranscriptIsWrittenAfterAFailureToo) {
    Script script = Script::smtp();
    script.reply(kEhloPlainLogin).reply("334 \r\n").reply("535 5.7.8 no\r\n");
    ScriptServer server(script);
    SendRequest r = request_for(server);
    r.use_smtp_auth = true;
    r.protocol_logging = true;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_FALSE(sent.ok());
    const std::string text = log_file("ScrivlaneProtocol");
    EXPECT_NE(text.find(">> ***\r\n535 5.7.8 no\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find(std::string(kPlainUserPassword)), std::string::npos);
    EXPECT_EQ(text.find("password"), std::string::npos);
    EXPECT_FALSE(has_log("Scrivlane"));
}

struct MessageLogCase {
    const char* name;
    std::string detail;
    bool written;
    bool has_body;
};

class SmtpMessageLog : public SmtpSession, public ::testing::WithParamInterface<MessageLogCase> {};

TEST_P(SmtpMessageLog, FollowsTheDetailSetting) {
    const MessageLogCase& c = GetParam();
    Script script = Script::smtp();
    script.reply("250 ok\r\n");
    deliver(script);
    ScriptServer server(script);
    SendRequest r = request_for(server);
    r.log_detail = c.detail;
    r.body = "the body text";
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok());
    EXPECT_FALSE(has_log("ScrivlaneProtocol"));
    ASSERT_EQ(has_log("Scrivlane"), c.written);
    if (!c.written) return;
    const std::string text = log_file("Scrivlane");
    EXPECT_NE(text.find(" *** Date: "), std::string::npos);
    EXPECT_NE(text.find("\r\nTo: to@example.com\r\n"), std::string::npos);
    EXPECT_EQ(text.find("the body text") != std::string::npos, c.has_body);
    EXPECT_TRUE(text.ends_with("\r\n  ** ** **  \r\n\r\n")) << text;
}

INSTANTIATE_TEST_SUITE_P(Cases, SmtpMessageLog,
                         ::testing::Values(MessageLogCase{"Header", "HDR", true, false},
                                           MessageLogCase{"All", "ALL", true, true},
                                           MessageLogCase{"Other", "NONE", false, false}),
                         [](const auto& row) { return std::string(row.param.name); });

// --- STARTTLS and implicit TLS --------------------------------------------------

class SmtpTls : public SmtpSession {
  protected:
    void SetUp() override {
        std::string why;
        pki = test::make_test_pki(&why);
        if (!pki) GTEST_SKIP() << "no test certificates: " << why;
        setenv("SSL_CERT_FILE", pki->ca_file.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("SSL_CERT_FILE");
        if (pki) test::remove_test_pki(*pki);
    }

    ServerOptions tls_options(const test::TlsFiles& files, bool implicit = false) const {
        ServerOptions o = lasting(8s);
        o.tls = files;
        o.implicit_tls = implicit;
        return o;
    }

    std::optional<test::TestPki> pki;
};

const std::string kEhloStartTls = "250-mail\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n";

TEST_F(SmtpTls, StartTlsThenAuthFromTheSecondEhlo) {
    Script script = Script::smtp();
    script.reply(kEhloStartTls).reply("220 2.0.0 go ahead\r\n").start_tls();
    script.reply("250-mail\r\n250-AUTH PLAIN\r\n250 OK\r\n").reply("334 \r\n").reply("235 ok\r\n");
    deliver(script);
    ScriptServer server(script, tls_options(pki->server));
    SendRequest r = request_for(server);
    r.server = "localhost";
    r.use_smtp_auth = true;
    r.tls = net::TlsMode::StartTls;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok()) << sent.error().reports.front();
    EXPECT_EQ(server.lines(), joined(joined({"EHLO localhost", "STARTTLS", "EHLO localhost",
                                             "AUTH PLAIN", std::string(kPlainUserPassword)},
                                            envelope_commands()),
                                     {"QUIT"}));
    // The credentials crossed the encrypted channel only.
    EXPECT_TRUE(server.problems().empty());
}

TEST_F(SmtpTls, StartTlsInThePopBeforeSmtpStyleGoesOnWithMailFrom) {
    Script script = Script::smtp();
    script.reply(kEhloStartTls).reply("220 go ahead\r\n").start_tls();
    script.reply("250-mail\r\n250 AUTH PLAIN\r\n");
    deliver(script);
    ScriptServer server(script, tls_options(pki->server));
    SendRequest r = request_for(server);
    r.server = "localhost";
    r.tls = net::TlsMode::StartTls;
    r.pop_login_done = true;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok()) << sent.error().reports.front();
    EXPECT_EQ(server.lines(),
              joined(joined({"EHLO localhost", "STARTTLS", "EHLO localhost"}, envelope_commands()),
                     {"QUIT"}));
}

TEST_F(SmtpTls, StartTlsNotOfferedSendsNothingElse) {
    Script script = Script::smtp();
    script.reply("250-mail\r\n250-STARTTLSX\r\n250 AUTH PLAIN LOGIN\r\n");
    ScriptServer server(script, tls_options(pki->server));
    SendRequest r = request_for(server);
    r.server = "localhost";
    r.use_smtp_auth = true;
    r.tls = net::TlsMode::StartTls;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().reports, Reports{"サーバが STARTTLS に対応していません。"});
    EXPECT_EQ(server.lines(), Lines{"EHLO localhost"});
    EXPECT_EQ(server.received(), "EHLO localhost\r\n");
}

TEST_F(SmtpTls, ImplicitTlsDelivers) {
    Script script = Script::smtp();
    script.reply("250-mail\r\n250 AUTH LOGIN\r\n").reply("334 \r\n").reply("334 \r\n");
    script.reply("235 ok\r\n");
    deliver(script);
    ScriptServer server(script, tls_options(pki->server, true));
    SendRequest r = request_for(server);
    r.server = "localhost";
    r.use_smtp_auth = true;
    r.tls = net::TlsMode::Implicit;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_TRUE(sent.ok()) << sent.error().reports.front();
    EXPECT_EQ(server.lines().size(), 8u);
    EXPECT_EQ(server.data().size(), 1u);
}

struct CertificateCase {
    const char* name;
    bool implicit;
    bool other_host;  // else untrusted
};

class SmtpTlsRefused : public SmtpTls, public ::testing::WithParamInterface<CertificateCase> {};

TEST_P(SmtpTlsRefused, ABadCertificateFailsAndNothingIsSent) {
    const CertificateCase& c = GetParam();
    Script script = Script::smtp();
    if (!c.implicit) script.reply(kEhloStartTls).reply("220 go ahead\r\n").start_tls();
    script.read_line();
    ScriptServer server(script,
                        tls_options(c.other_host ? pki->other_host : pki->untrusted, c.implicit));
    SendRequest r = request_for(server);
    r.server = "localhost";
    r.use_smtp_auth = true;
    r.tls = c.implicit ? net::TlsMode::Implicit : net::TlsMode::StartTls;
    auto sent = send_mail(r, log);
    server.wait();
    ASSERT_FALSE(sent.ok());
    const Reports& reports = sent.error().reports;
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0].rfind("TLS 接続を確立できませんでした: ", 0), 0u) << reports[0];
    if (c.implicit) {
        EXPECT_EQ(reports.size(), 1u);
        EXPECT_EQ(server.received().find("EHLO"), std::string::npos);
    } else {
        EXPECT_EQ(server.lines(), (Lines{"EHLO localhost", "STARTTLS"}));
    }
    EXPECT_EQ(server.received().find("AUTH"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, SmtpTlsRefused,
                         ::testing::Values(CertificateCase{"StartTlsOtherHost", false, true},
                                           CertificateCase{"ImplicitUntrusted", true, false}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vlt::smtp
