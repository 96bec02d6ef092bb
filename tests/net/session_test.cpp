#include "net/session.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/wire.h"
#include "net/error_texts.h"
#include "support/script_server.h"
#include "support/session_reports.h"

namespace vlt::net {
namespace {

using namespace std::chrono_literals;
using test::cmd_send;
using test::refused;
using test::Reports;
using test::Script;
using test::ScriptServer;

OpenOptions options_for(LineProtocol protocol, std::chrono::milliseconds reply_wait = 5s) {
    OpenOptions options;
    options.protocol = protocol;
    options.limits.reply_wait = reply_wait;
    options.limits.socket_timeout = 5s;
    options.now = test::fixed_time;
    return options;
}

Result<SocketSession> open_on(const ScriptServer& server, OpenOptions options) {
    return SocketSession::open("127.0.0.1", server.port(), std::move(options));
}

// The transcript with its stamps shown as ">>mm:ss>> ", for comparing whole
// transcripts.
std::string without_times(const std::string& text) {
    std::string out = text;
    for (auto at = out.find(test::kStamp); at != std::string::npos;
         at = out.find(test::kStamp, at + 1)) {
        out.replace(at, test::kStamp.size(), ">>mm:ss>> ");
    }
    return out;
}

TEST(SessionOpen, ReadsTheWholeMultiLineGreeting) {
    ScriptServer server(Script::smtp());
    auto session = open_on(server, options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok()) << session.error().reports.size();
    const Reply& greeting = session->greeting();
    EXPECT_EQ(greeting.code, 220);
    ASSERT_EQ(greeting.lines.size(), 3u);
    EXPECT_EQ(greeting.text(), test::kSmtpGreeting);
    EXPECT_EQ(session->transcript().text(), test::kSmtpGreeting);
    EXPECT_TRUE(session->notices().empty());
    EXPECT_TRUE(session->is_open());
    session->close();
    EXPECT_FALSE(session->is_open());
}

TEST(SessionOpen, ReadsAGreetingSplitOverSeveralReceives) {
    ScriptServer server(Script().send("220-first\r\n2").pause(50ms).send("20 last\r\n"));
    auto session = open_on(server, options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
    EXPECT_EQ(session->greeting().text(), "220-first\r\n220 last\r\n");
}

TEST(SessionOpen, APop3GreetingIsOneLine) {
    ScriptServer server(Script::pop3());
    auto session = open_on(server, options_for(LineProtocol::Pop3));
    ASSERT_TRUE(session.ok());
    EXPECT_EQ(session->greeting().code, 1);
    EXPECT_EQ(session->greeting().text(), test::kPop3Greeting);
}

TEST(SessionOpen, PortTextIsReadFromItsLeadingDigits) {
    ScriptServer server(Script::smtp());
    auto session =
        SocketSession::open(" 127.0.0.1 ", server.port() + "abc", options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
    EXPECT_EQ(session->greeting().code, 220);
}

TEST(SessionOpen, AHostNameIsResolved) {
    ScriptServer server(Script::smtp());
    auto session = SocketSession::open("localhost", server.port(), options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
}

struct OpenFailureCase {
    const char* name;
    std::string host;
    std::string port;  // "*" = the scripted server's port
    Script script;
    ErrorKind kind = ErrorKind::Connect;  // Rejected: a greeting over the caps
};

class SessionOpenFailure : public ::testing::TestWithParam<OpenFailureCase> {};

// A failed open other than a failed connect is quiet: the callers report it
// in their own words.
TEST_P(SessionOpenFailure, FailsAsAConnectFailureWithoutReports) {
    const OpenFailureCase& c = GetParam();
    ScriptServer server(c.script, test::lasting(3s));
    auto session = SocketSession::open(c.host, c.port == "*" ? server.port() : c.port,
                                       options_for(LineProtocol::Smtp, 500ms));
    ASSERT_FALSE(session.ok());
    EXPECT_EQ(session.error().kind, c.kind);
    EXPECT_EQ(session.error().reports, Reports{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionOpenFailure,
    ::testing::Values(
        OpenFailureCase{"EmptyHost", "  ", "*", Script::smtp()},
        OpenFailureCase{"EmptyPort", "127.0.0.1", " ", Script::smtp()},
        OpenFailureCase{"PortWithoutDigits", "127.0.0.1", "smtp", Script::smtp()},
        OpenFailureCase{"PortZero", "127.0.0.1", "0", Script::smtp()},
        OpenFailureCase{"PortTooHigh", "127.0.0.1", "70000", Script::smtp()},
        OpenFailureCase{"UnknownHost", "no-such-host.invalid", "*", Script::smtp()},
        OpenFailureCase{"ClosedBeforeGreeting", "127.0.0.1", "*", Script().close()},
        OpenFailureCase{"ResetBeforeGreeting", "127.0.0.1", "*", Script().reset()},
        OpenFailureCase{"GreetingNeverEnds", "127.0.0.1", "*", Script().send("220 no line end")},
        OpenFailureCase{"SilentServer", "127.0.0.1", "*", Script().pause(5s)},
        OpenFailureCase{"GreetingOverTheCap", "127.0.0.1", "*",
                        Script().repeat("220-more\r\n", 100000), ErrorKind::Rejected}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(SessionOpen, ARefusedConnectionCarriesItsWinsockText) {
    // A bound socket that does not listen refuses connections.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    auto session = SocketSession::open("127.0.0.1", std::to_string(ntohs(address.sin_port)),
                                       options_for(LineProtocol::Smtp));
    ::close(fd);
    ASSERT_FALSE(session.ok());
    EXPECT_EQ(session.error().kind, ErrorKind::Connect);
    EXPECT_EQ(session.error().reports, Reports{test::connect_failed(10061)});
}

struct ExchangeCase {
    const char* name;
    LineProtocol protocol;
    CommandId id;
    std::string line;
    std::string reply;  // what the server answers
    Reports reports;    // empty when the reply is accepted
};

class SessionCommand : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(SessionCommand, JudgesTheWholeReplyByTheCodeOfItsFinalLine) {
    const ExchangeCase& c = GetParam();
    Script script = c.protocol == LineProtocol::Smtp ? Script::smtp() : Script::pop3();
    ScriptServer server(script.expect(c.line).send(c.reply));
    auto session = open_on(server, options_for(c.protocol));
    ASSERT_TRUE(session.ok());

    auto reply = session->command(c.id, c.line);
    if (c.reports.empty()) {
        ASSERT_TRUE(reply.ok()) << reply.error().reports.front();
        EXPECT_EQ(reply->text(), c.reply);
    } else {
        ASSERT_FALSE(reply.ok());
        EXPECT_EQ(reply.error().kind, ErrorKind::Rejected);
        EXPECT_EQ(reply.error().reports, c.reports);
        EXPECT_FALSE(reply.error().reply_lines.empty());
    }
    session->close();
    server.wait();
    EXPECT_EQ(server.received(), c.line + "\r\n");
    EXPECT_TRUE(server.mismatches().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SessionCommand,
    ::testing::Values(
        ExchangeCase{"HeloAccepted",
                     LineProtocol::Smtp,
                     CommandId::Helo,
                     "HELO mail.example.test",
                     "250 mail.example.test\r\n",
                     {}},
        ExchangeCase{
            "FinalLineOnlyACode", LineProtocol::Smtp, CommandId::Data, "DATA", "354\r\n", {}},
        ExchangeCase{"EhloMultiLine",
                     LineProtocol::Smtp,
                     CommandId::Ehlo,
                     "EHLO a.test",
                     "250-a.test\r\n250-AUTH PLAIN LOGIN\r\n250 SIZE 1000\r\n",
                     {}},
        ExchangeCase{"RcptToForwarded",
                     LineProtocol::Smtp,
                     CommandId::RcptTo,
                     "RCPT TO:<a@b.test>",
                     "251 will forward\r\n",
                     {}},
        ExchangeCase{"AuthNotImplementedGoesOn",
                     LineProtocol::Smtp,
                     CommandId::Auth,
                     "AUTH PLAIN",
                     "502 5.5.1 not implemented\r\n",
                     {}},
        ExchangeCase{"StartTlsReady",
                     LineProtocol::Smtp,
                     CommandId::StartTls,
                     "STARTTLS",
                     "220 go ahead\r\n",
                     {}},
        ExchangeCase{
            "BareLineEnds", LineProtocol::Smtp, CommandId::Helo, "HELO x", "250-x\n250 y\n", {}},
        ExchangeCase{"QuitWrongCode", LineProtocol::Smtp, CommandId::Quit, "QUIT", "250 bye\r\n",
                     refused("QUIT コマンド", "250 bye\r\n")},
        ExchangeCase{"RefusedMultiLineQuotesEveryLine", LineProtocol::Smtp, CommandId::MailFrom,
                     "MAIL FROM:<a@b.test>", "550-no such user\r\n550 go away\r\n",
                     refused("MAIL FROM コマンド", "550-no such user\r\n550 go away\r\n")},
        ExchangeCase{"GarbageLine", LineProtocol::Smtp, CommandId::Helo, "HELO x",
                     "hello there\r\n", refused("HELO コマンド", "hello there\r\n")},
        ExchangeCase{"ContinuationThenGarbage", LineProtocol::Smtp, CommandId::Ehlo, "EHLO x",
                     "250-x\r\n25O typo\r\n", refused("EHLO コマンド", "250-x\r\n25O typo\r\n")},
        ExchangeCase{"EmptyLine", LineProtocol::Smtp, CommandId::Helo, "HELO x", "\r\n",
                     refused("HELO コマンド", "\r\n")},
        ExchangeCase{"PopOkAlone", LineProtocol::Pop3, CommandId::PopStat, "STAT", "+OK\r\n", {}},
        ExchangeCase{
            "PopOkWithCount", LineProtocol::Pop3, CommandId::PopStat, "STAT", "+OK 2 320\r\n", {}},
        ExchangeCase{"PopErr", LineProtocol::Pop3, CommandId::PopPass, "PASS x",
                     "-ERR [AUTH] invalid\r\n",
                     refused("PASS コマンド", "-ERR [AUTH] invalid\r\n")},
        ExchangeCase{"PopOkay", LineProtocol::Pop3, CommandId::PopUser, "USER a", "+OKAY\r\n",
                     refused("USER コマンド", "+OKAY\r\n")}),
    [](const auto& row) { return std::string(row.param.name); });

struct HostileTextCase {
    const char* name;
    CommandId id;
    std::string line;
    std::string reply;   // what the server answers (refused)
    std::string quoted;  // as reports and transcript quote it
};

class SessionHostileText : public ::testing::TestWithParam<HostileTextCase> {};

// Server text in logs can neither forge lines nor carry a credential of the
// run (user "alice", password "s3cret", every AUTH line sent).
TEST_P(SessionHostileText, IsQuotedHarmless) {
    const HostileTextCase& c = GetParam();
    ScriptServer server(Script::smtp().expect(c.line).send(c.reply));
    auto session = open_on(server, options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
    session->add_login("alice", "s3cret");
    auto reply = session->command(c.id, c.line);
    ASSERT_FALSE(reply.ok());
    const std::string name(command_row(c.id).display_name);
    EXPECT_EQ(reply.error().reports, refused(name, c.quoted));
    const std::string shown = c.id == CommandId::AuthData ? "***\r\n" : c.line + "\r\n";
    EXPECT_EQ(session->transcript().text(),
              std::string(test::kSmtpGreeting) + std::string(test::kStamp) + shown + c.quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionHostileText,
    ::testing::Values(
        HostileTextCase{"NulAndHighBytesDecoded", CommandId::Helo, "HELO x",
                        std::string("2\0\xff\x81 junk\r\n", 11),
                        "2?\xEF\xA3\xB3\xE3\x83\xBB junk\r\n"},
        HostileTextCase{"EscapeBareCrDelAndC1", CommandId::Helo, "HELO x",
                        "550 a\x1b[31mred\rfake\x7f\xc2\x85 z\tt\r\n",
                        "550 a?[31mred?fake?? z\tt\r\n"},
        HostileTextCase{"LineEndsBetweenLinesStay", CommandId::MailFrom, "MAIL FROM:<a@b.test>",
                        "550-one\n550-two\r\n550 three\r\n", "550-one\n550-two\r\n550 three\r\n"},
        HostileTextCase{"EchoedAuthLine", CommandId::AuthData, "YWxpY2UAYWxpY2UAczNjcmV0",
                        "535 bad YWxpY2UAYWxpY2UAczNjcmV0\r\n", "535 bad ***\r\n"},
        HostileTextCase{"EchoedPasswordAndUser", CommandId::MailFrom, "MAIL FROM:<a@b.test>",
                        "550 alice:s3cret?\r\n", "550 ***:***?\r\n"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(SessionCommand, ReadsAReplySplitOverSeveralReceives) {
    ScriptServer server(Script::smtp()
                            .expect("EHLO")
                            .send("250-first li")
                            .pause(50ms)
                            .send("ne\r\n250")
                            .pause(50ms)
                            .send("-second\r\n250 last\r\n"));
    auto session = open_on(server, options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
    auto reply = session->command(CommandId::Ehlo, "EHLO x");
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->lines,
              (std::vector<std::string>{"250-first line\r\n", "250-second\r\n", "250 last\r\n"}));
    EXPECT_EQ(without_times(session->transcript().text()),
              std::string(test::kSmtpGreeting) +
                  ">>mm:ss>> EHLO x\r\n250-first line\r\n250-second\r\n250 last\r\n");
}

TEST(SessionCommand, RefusesALineWithALineEndAndSendsNothing) {
    ScriptServer server(Script::smtp());
    auto session = open_on(server, options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
    auto reply = session->command(CommandId::RcptTo, "RCPT TO:<a@b.test>\r\nDATA");
    ASSERT_FALSE(reply.ok());
    EXPECT_EQ(reply.error().kind, ErrorKind::Input);
    EXPECT_EQ(reply.error().reports, (Reports{cmd_send("RCPT TO コマンド を送信できません。(send)"),
                                              cmd_send(winsock_error_text(10022))}));
    session->close();
    server.wait();
    EXPECT_EQ(server.received(), "");
}

struct CapCase {
    const char* name;
    Script script;
    std::string first_line;  // as quoted; "x..." = a prefix of it
};

class SessionReplyCaps : public ::testing::TestWithParam<CapCase> {};

TEST_P(SessionReplyCaps, AReplyOverTheCapsIsRefusedQuotingItsFirstLine) {
    ScriptServer server(GetParam().script, test::lasting(20s));
    auto session = open_on(server, options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
    auto reply = session->command(CommandId::Ehlo, "EHLO x");
    ASSERT_FALSE(reply.ok());
    const Reports& reports = reply.error().reports;
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], cmd_send("EHLO コマンド：サーバにコマンドを拒否されました。"));
    const std::string& expected = GetParam().first_line;
    if (expected.size() > 3 && expected.substr(expected.size() - 3) == "...") {
        const std::string prefix = cmd_send(" (" + expected.substr(0, expected.size() - 3));
        EXPECT_EQ(reports[1].rfind(prefix, 0), 0u);
        EXPECT_LE(reports[1].size(), 64u * 1024 + 40);
    } else {
        EXPECT_EQ(reports[1], cmd_send(" (" + expected + ")"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Caps, SessionReplyCaps,
    ::testing::Values(CapCase{"EndlessContinuationLines",
                              Script::smtp().expect("EHLO").repeat("250-more\r\n", 2000000),
                              "250-more\r\n"},
                      CapCase{"LineOfTwentyMegabytes",
                              Script::smtp().expect("EHLO").huge_line(20 * 1024 * 1024, "250 "),
                              "250 xxxx..."},
                      CapCase{"ManyLongLines",
                              Script::smtp()
                                  .expect("EHLO")
                                  .send("250-first\r\n")
                                  .repeat("250-" + std::string(1000, 'y') + "\r\n", 100),
                              "250-first\r\n"}),
    [](const auto& row) { return std::string(row.param.name); });

struct TimeoutCase {
    const char* name;
    Script script;
    Reports reports;
};

class SessionTimeout : public ::testing::TestWithParam<TimeoutCase> {};

// The whole wait is bounded: not even a server that keeps sending a byte now
// and then can hold the session past the limit.
TEST_P(SessionTimeout, AReplyNotCompleteInTimeEndsTheWait) {
    ScriptServer server(GetParam().script, test::lasting(10s));
    auto session = open_on(server, options_for(LineProtocol::Smtp, 600ms));
    ASSERT_TRUE(session.ok());
    const auto start = std::chrono::steady_clock::now();
    auto reply = session->command(CommandId::Helo, "HELO x");
    // A lower bound only: a slow (sanitized) build waits longer, never shorter.
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              0.55);
    ASSERT_FALSE(reply.ok());
    EXPECT_EQ(reply.error().kind, ErrorKind::Protocol);
    EXPECT_EQ(reply.error().reports, GetParam().reports);
}

const std::string kTimedOut = cmd_send("HELO コマンド：応答待ちでタイムアウトしました。1(秒)");

INSTANTIATE_TEST_SUITE_P(
    Waits, SessionTimeout,
    ::testing::Values(
        TimeoutCase{
            "NothingComes",
            Script::smtp().expect("HELO").pause(5s),
            {kTimedOut, cmd_send(" ()"),
             cmd_send("HELO コマンド　の応答メッセージを受信できません。(recv - no data)")}},
        TimeoutCase{"PartOfAReplyComes",
                    Script::smtp().expect("HELO").send("250-partial\r\n250 unfini").pause(5s),
                    {kTimedOut, cmd_send(" (250-partial\r\n250 unfini)"),
                     cmd_send("HELO コマンド：サーバにコマンドを拒否されました。"),
                     cmd_send(" (250-partial\r\n250 unfini)")}},
        TimeoutCase{"LineEndNeverComes",
                    Script::smtp().expect("HELO").send("250 done").pause(5s),
                    {kTimedOut, cmd_send(" (250 done)"),
                     cmd_send("HELO コマンド：サーバにコマンドを拒否されました。"),
                     cmd_send(" (250 done)")}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(SessionTimeout, AServerSendingAByteNowAndThenCannotHoldTheWait) {
    ScriptServer server(Script::smtp().expect("HELO").trickle("250 hello\r\n", 200ms),
                        test::lasting(10s));
    auto session = open_on(server, options_for(LineProtocol::Smtp, 600ms));
    ASSERT_TRUE(session.ok());
    auto reply = session->command(CommandId::Helo, "HELO x");
    ASSERT_FALSE(reply.ok());
    const Reports& reports = reply.error().reports;
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0], kTimedOut);
    EXPECT_EQ(reports[2], cmd_send("HELO コマンド：サーバにコマンドを拒否されました。"));
}

TEST(SessionTimeout, TheDefaultLimitIsThirtySeconds) {
    ScriptServer server(Script::smtp().expect("QUIT").pause(40s), test::lasting(45s));
    OpenOptions options;  // the limits as shipped
    auto session = open_on(server, options);
    ASSERT_TRUE(session.ok());
    const auto start = std::chrono::steady_clock::now();
    auto reply = session->command(CommandId::Quit, "QUIT");
    // A lower bound only: a slow (sanitized) build waits longer, never shorter.
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              29.9);
    ASSERT_FALSE(reply.ok());
    ASSERT_FALSE(reply.error().reports.empty());
    EXPECT_EQ(reply.error().reports[0],
              cmd_send("QUIT コマンド：応答待ちでタイムアウトしました。30(秒)"));
}

struct BrokenCase {
    const char* name;
    Script script;
    Reports reports;
    std::string transcript_reply;  // the reply part of the transcript entry
};

class SessionBrokenConnection : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(SessionBrokenConnection, EndsTheWaitWithTheReceiveReports) {
    ScriptServer server(GetParam().script);
    auto session = open_on(server, options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
    auto reply = session->command(CommandId::Ehlo, "EHLO x");
    ASSERT_FALSE(reply.ok());
    EXPECT_EQ(reply.error().kind, ErrorKind::Protocol);
    EXPECT_EQ(reply.error().reports, GetParam().reports);
    EXPECT_EQ(
        without_times(session->transcript().text()),
        std::string(test::kSmtpGreeting) + ">>mm:ss>> EHLO x\r\n" + GetParam().transcript_reply);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionBrokenConnection,
    ::testing::Values(
        BrokenCase{"ClosedMidReply",
                   Script::smtp().expect("EHLO").send("250-first\r\n250-sec").close(),
                   {cmd_send("EHLO コマンドの応答メッセージを受信できません。(recv) error: 0"),
                    cmd_send("その他のエラー: 0")},
                   "250-first\r\n250-sec"},
        BrokenCase{"ClosedBeforeReply",
                   Script::smtp().expect("EHLO").close(),
                   {cmd_send("EHLO コマンドの応答メッセージを受信できません。(recv) error: 0"),
                    cmd_send("その他のエラー: 0")},
                   ""},
        BrokenCase{"Reset",
                   Script::smtp().expect("EHLO").reset(),
                   {cmd_send("EHLO コマンドの応答メッセージを受信できません。(recv) error: -1"),
                    cmd_send(winsock_error_text(10054))},
                   ""}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(SessionSend, WritingToAClosedConnectionIsAnErrorNotASignal) {
    ScriptServer server(Script::smtp().close());
    auto session = open_on(server, options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
    server.wait();  // the server's socket is gone
    const std::string piece(64 * 1024, 'a');
    Status sent;
    for (int i = 0; i < 100 && sent.ok(); ++i) {
        sent = session->send_data(piece);
        if (sent.ok()) std::this_thread::sleep_for(10ms);
    }
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().reports, (Reports{cmd_send("データ を送信できません。(send)"),
                                             cmd_send(winsock_error_text(10054))}));
    // A command fails the same way, by value.
    auto reply = session->command(CommandId::Quit, "QUIT");
    ASSERT_FALSE(reply.ok());
    EXPECT_EQ(reply.error().reports.front(), cmd_send("QUIT コマンド を送信できません。(send)"));
}

TEST(SessionSend, SendsMessageTextAndEndsTheData) {
    std::string text;
    for (int i = 0; i < 60000; ++i) text += "line " + std::to_string(i) + " of a long message\r\n";
    ScriptServer server(Script::smtp()
                            .expect_reply("DATA", "354 go ahead\r\n")
                            .read_data()
                            .send("250-queued\r\n250 as 12345\r\n"),
                        test::lasting(20s));
    auto session = open_on(server, options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
    ASSERT_TRUE(session->command(CommandId::Data, "DATA").ok());
    session->transcript().append("(message)");
    ASSERT_TRUE(session->send_data(text).ok());
    auto end = session->end_data();
    ASSERT_TRUE(end.ok()) << end.error().reports.front();
    EXPECT_EQ(end->code, 250);
    session->close();
    server.wait();
    ASSERT_EQ(server.data().size(), 1u);
    EXPECT_EQ(server.data()[0], text + "\r\n.\r\n");
    EXPECT_EQ(without_times(session->transcript().text()),
              std::string(test::kSmtpGreeting) + ">>mm:ss>> DATA\r\n354 go ahead\r\n(message)" +
                  "\r\n.\r\n250-queued\r\n250 as 12345\r\n");
}

TEST(SessionSend, EndOfDataRefusedIsReportedForTheData) {
    ScriptServer server(
        Script::smtp().expect_reply("DATA", "354 go\r\n").read_data().send("554 no\r\n"));
    auto session = open_on(server, options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
    ASSERT_TRUE(session->command(CommandId::Data, "DATA").ok());
    ASSERT_TRUE(session->send_data("x").ok());
    auto end = session->end_data();
    ASSERT_FALSE(end.ok());
    EXPECT_EQ(end.error().reports, refused("データ", "554 no\r\n"));
}

TEST(SessionTranscript, Pop3PasswordNeverReachesIt) {
    ScriptServer server(Script::pop3()
                            .expect_reply("USER alice", "+OK\r\n")
                            .expect_reply("PASS s3cret", "-ERR [IN-USE] lock busy\r\n")
                            .expect_reply("PASS s3cret", "+OK logged in\r\n")
                            .expect_reply("STAT", "+OK 0 0\r\n"));
    auto session = open_on(server, options_for(LineProtocol::Pop3));
    ASSERT_TRUE(session.ok());
    ASSERT_TRUE(session->command(CommandId::PopUser, "USER alice").ok());
    ASSERT_FALSE(session->command(CommandId::PopPass, "PASS s3cret").ok());
    session->transcript().append("リトライ可能なエラーのため再実行します");
    ASSERT_TRUE(
        session->command(CommandId::PopPass, "PASS s3cret", TranscriptEntry::OnlyOnFailure).ok());
    ASSERT_TRUE(session->command(CommandId::PopStat, "STAT").ok());
    EXPECT_EQ(without_times(session->transcript().text()),
              std::string(test::kPop3Greeting) + ">>mm:ss>> USER alice\r\n+OK\r\n" +
                  ">>mm:ss>> PASS ***\r\n-ERR [IN-USE] lock busy\r\n" +
                  "リトライ可能なエラーのため再実行します" + ">>mm:ss>> STAT\r\n+OK 0 0\r\n");
    session->close();
    server.wait();
    EXPECT_TRUE(server.mismatches().empty());
    EXPECT_EQ(server.lines()[1], "PASS s3cret");
}

TEST(SessionTranscript, AuthCredentialsAreMaskedEvenWhenRefused) {
    ScriptServer server(Script::smtp()
                            .expect_reply("AUTH LOGIN", "334 VXNlcm5hbWU6\r\n")
                            .expect_reply("YWxpY2U=", "334 UGFzc3dvcmQ6\r\n")
                            .expect_reply("czNjcmV0", "535 5.7.8 bad credentials\r\n"));
    auto session = open_on(server, options_for(LineProtocol::Smtp));
    ASSERT_TRUE(session.ok());
    ASSERT_TRUE(session->command(CommandId::Auth, "AUTH LOGIN").ok());
    ASSERT_TRUE(session->command(CommandId::AuthData, "YWxpY2U=").ok());
    auto refused_login = session->command(CommandId::AuthData, "czNjcmV0");
    ASSERT_FALSE(refused_login.ok());
    EXPECT_EQ(refused_login.error().reports,
              refused("AUTH コマンド", "535 5.7.8 bad credentials\r\n"));
    const std::string text = without_times(session->transcript().text());
    EXPECT_EQ(text, std::string(test::kSmtpGreeting) +
                        ">>mm:ss>> AUTH LOGIN\r\n334 VXNlcm5hbWU6\r\n" +
                        ">>mm:ss>> ***\r\n334 UGFzc3dvcmQ6\r\n" +
                        ">>mm:ss>> ***\r\n535 5.7.8 bad credentials\r\n");
    EXPECT_EQ(text.find("czNjcmV0"), std::string::npos);
}

TEST(SessionYield, TheHookRunsBeforeEveryReceive) {
    ScriptServer server(Script::smtp().expect("HELO").trickle("250 ok\r\n", 20ms));
    int calls = 0;
    OpenOptions options = options_for(LineProtocol::Smtp);
    options.yield = [&calls] { ++calls; };
    auto session = open_on(server, std::move(options));
    ASSERT_TRUE(session.ok());
    const int after_open = calls;
    EXPECT_GE(after_open, 1);
    ASSERT_TRUE(session->command(CommandId::Helo, "HELO x").ok());
    // Before and after the send, then once per receive: the 8 bytes come
    // slowly, in several receives.
    EXPECT_GE(calls - after_open, 6);
}

}  // namespace
}  // namespace vlt::net
