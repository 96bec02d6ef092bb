// Dialogue tests of the POP-before-SMTP login against a scripted server: the
// commands, the retry of a locked mailbox, the STAT reading, the reports and
// the transcript.

#include "pop3/session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/log.h"
#include "support/script_server.h"
#include "support/session_reports.h"
#include "support/test_pki.h"

namespace vlt::pop3 {
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

const Lines kWholeLogin{"USER user", "PASS secret", "STAT", "QUIT"};

std::size_t count_of(const std::string& text, std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class PopSession : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        folder = std::filesystem::temp_directory_path() /
                 ("vlt-pop3-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(folder);
        log.emplace(folder.string(), "vellumtide");
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    PopRequest request_for(const ScriptServer& server) {
        PopRequest r;
        r.server = "127.0.0.1";
        r.port = server.port();
        r.user = "user";
        r.password = "secret";
        r.limits.reply_wait = 2s;
        r.limits.socket_timeout = 2s;
        r.sleep = [this](std::chrono::milliseconds ms) { slept.push_back(ms); };
        return r;
    }

    bool has_protocol_log() const {
        return std::filesystem::exists(log->path_of("DovekiteProtocol", 1));
    }
    std::string protocol_log() const {
        std::ifstream in(log->path_of("DovekiteProtocol", 1), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path folder;
    std::optional<LogWriter> log;
    std::vector<std::chrono::milliseconds> slept;
};

TEST_F(PopSession, LogsInWithUserPassStatQuit) {
    Script script = Script::pop3();
    script.reply("+OK user accepted\r\n").reply("+OK logged in\r\n");
    script.reply("+OK 2 320\r\n").reply("+OK bye\r\n");
    ScriptServer server(script);
    PopRequest r = request_for(server);
    r.server = " 127.0.0.1 ";
    r.port = " " + server.port() + " ";
    r.user = "  user ";
    r.password = " secret  ";
    auto login = pop_session(r, *log);
    server.wait();
    ASSERT_TRUE(login.ok()) << login.error().reports.front();
    EXPECT_TRUE(login->warnings.empty());
    EXPECT_EQ(server.lines(), kWholeLogin);
    EXPECT_TRUE(slept.empty());
    EXPECT_FALSE(has_protocol_log());
}

// --- Greeting ---------------------------------------------------------------

struct GreetingCase {
    const char* name;
    std::string greeting;
    std::string quoted = "";  // the greeting's reply line as quoted, when checked
};

class PopGreeting : public PopSession, public ::testing::WithParamInterface<GreetingCase> {};

TEST_P(PopGreeting, RefusedBeforeAnyCommand) {
    ScriptServer server(Script().send(GetParam().greeting), lasting(3s));
    PopRequest r = request_for(server);
    r.protocol_logging = true;
    auto login = pop_session(r, *log);
    server.wait();
    ASSERT_FALSE(login.ok());
    EXPECT_EQ(login.error().reports,
              Reports{"Connect　サーバにコネクトできません。 [POP] 127.0.0.1:" + server.port()});
    if (!GetParam().quoted.empty()) {
        EXPECT_EQ(login.error().reply_lines, std::vector<std::string>{GetParam().quoted});
    }
    EXPECT_EQ(server.received(), "");
    EXPECT_FALSE(has_protocol_log());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PopGreeting,
    ::testing::Values(GreetingCase{"OkWithoutBlank", "+OK\r\n"},
                      GreetingCase{"Error", "-ERR [SYS/TEMP] too many connections\r\n"},
                      GreetingCase{"SmtpStyle", "220 mail.example.test ready\r\n"},
                      GreetingCase{"LowerCase", "+ok ready\r\n"},
                      GreetingCase{"OverTheCaps", "+OK " + std::string(70000, 'y') + "\r\n",
                                   "+OK " + std::string(508, 'y')}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(PopSession, NoServerIsAConnectFailure) {
    PopRequest r;
    r.server = "127.0.0.1";
    r.port = "1";
    r.user = "user";
    r.password = "secret";
    auto login = pop_session(r, *log);
    ASSERT_FALSE(login.ok());
    EXPECT_EQ(login.error().reports,
              (Reports{test::connect_failed(), "サーバに接続できません。 [POP] 127.0.0.1:1"}));
}

// --- Refusals and the locked mailbox ---------------------------------------------

struct LoginCase {
    const char* name;
    Script script;  // after the greeting
    bool ok;
    Lines commands;
    Reports reports;
    std::size_t waits;  // 5-second waits before a second PASS
};

class PopLogin : public PopSession, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(PopLogin, Dialogue) {
    const LoginCase& c = GetParam();
    Script script = Script::pop3();
    for (const auto& step : c.script.steps()) {
        if (step.kind == Script::Kind::ReadLine) {
            script.read_line();
        } else {
            script.send(step.bytes);
        }
    }
    ScriptServer server(script, lasting(5s));
    auto login = pop_session(request_for(server), *log);
    server.wait();
    EXPECT_EQ(login.ok(), c.ok);
    EXPECT_EQ(server.lines(), c.commands);
    // Reports in order; on success the refusals that did not stop the login.
    EXPECT_EQ(login.ok() ? login->warnings : login.error().reports, c.reports);
    EXPECT_EQ(slept, std::vector<std::chrono::milliseconds>(c.waits, 5000ms));
    // Nothing else reached the server: no QUIT after a refusal.
    std::string wire;
    for (const auto& line : c.commands) wire += line + "\r\n";
    EXPECT_EQ(server.received(), wire);
}

Script steps(std::initializer_list<std::string_view> replies) {
    Script s;
    for (auto reply : replies) s.reply(reply);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PopLogin,
    ::testing::Values(
        LoginCase{"UserRefused",
                  steps({"-ERR no such user\r\n"}),
                  false,
                  {"USER user"},
                  // The user name sent (four characters or more) is masked.
                  refused("USER コマンド", "-ERR no such ***\r\n"),
                  0},
        LoginCase{"WrongPasswordIsNotRetried",
                  steps({"+OK\r\n", "-ERR [AUTH] Authentication failed.\r\n"}),
                  false,
                  {"USER user", "PASS secret"},
                  refused("PASS コマンド", "-ERR [AUTH] Authentication failed.\r\n"),
                  0},
        LoginCase{"LockBusyRetriedOnce",
                  steps({"+OK\r\n", "-ERR [IN-USE] lock busy\r\n", "+OK logged in\r\n",
                         "+OK 0 0\r\n", "+OK bye\r\n"}),
                  true,
                  {"USER user", "PASS secret", "PASS secret", "STAT", "QUIT"},
                  refused("PASS コマンド", "-ERR [IN-USE] lock busy\r\n"),
                  1},
        LoginCase{"LockBusyInAnyCase",
                  steps({"+OK\r\n", "-ERR Mailbox LOCK Busy, try later\r\n", "+OK\r\n",
                         "+OK 1 100\r\n", "+OK\r\n"}),
                  true,
                  {"USER user", "PASS secret", "PASS secret", "STAT", "QUIT"},
                  refused("PASS コマンド", "-ERR Mailbox LOCK Busy, try later\r\n"),
                  1},
        LoginCase{"SecondRefusalFails",
                  steps({"+OK\r\n", "-ERR lock busy\r\n", "-ERR Lock Busy still\r\n"}),
                  false,
                  {"USER user", "PASS secret", "PASS secret"},
                  joined(refused("PASS コマンド", "-ERR lock busy\r\n"),
                         refused("PASS コマンド", "-ERR Lock Busy still\r\n")),
                  1},
        LoginCase{"StatRefused",
                  steps({"+OK\r\n", "+OK\r\n", "-ERR not now\r\n"}),
                  false,
                  {"USER user", "PASS secret", "STAT"},
                  refused("STAT コマンド", "-ERR not now\r\n"),
                  0},
        LoginCase{"QuitNotOkFailsTheLogin",
                  steps({"+OK\r\n", "+OK\r\n", "+OK 3 1024\r\n", "-ERR cannot expunge\r\n"}), false,
                  kWholeLogin, refused("QUIT コマンド", "-ERR cannot expunge\r\n"), 0},
        LoginCase{"ManyMessages",
                  steps({"+OK\r\n", "+OK\r\n", "+OK 40000 81920000\r\n", "+OK\r\n"}),
                  true,
                  kWholeLogin,
                  {},
                  0},
        LoginCase{"OkWithoutBlankIsAccepted",
                  steps({"+OK\r\n", "+OK\r\n", "+OK 0 0\r\n", "+OK\r\n"}),
                  true,
                  kWholeLogin,
                  {},
                  0}),
    [](const auto& row) { return std::string(row.param.name); });

// --- A STAT reply that cannot be read -----------------------------------------------

struct StatCase {
    const char* name;
    std::string reply;
    std::string report;
};

class PopStat : public PopSession, public ::testing::WithParamInterface<StatCase> {};

// A run-time error: reported in the standard error text, without the
// transcript, and the connection is closed without QUIT.
TEST_P(PopStat, AnUnreadableCountIsARunTimeError) {
    const StatCase& c = GetParam();
    Script script = Script::pop3();
    script.reply("+OK\r\n").reply("+OK\r\n").reply(c.reply);
    ScriptServer server(script, lasting(5s));
    PopRequest r = request_for(server);
    r.protocol_logging = true;
    auto login = pop_session(r, *log);
    server.wait();
    ASSERT_FALSE(login.ok());
    EXPECT_EQ(login.error().reports, Reports{c.report});
    EXPECT_EQ(server.lines(), (Lines{"USER user", "PASS secret", "STAT"}));
    EXPECT_EQ(server.received().find("QUIT"), std::string::npos);
    EXPECT_FALSE(has_protocol_log());
}

const std::string kTypeMismatch =
    "エラー番号 :13 -- PrjVellumtide でエラーが発生しました。 型が一致しません。";
const std::string kInvalidCall =
    "エラー番号 :5 -- PrjVellumtide でエラーが発生しました。 "
    "プロシージャの呼び出し、または引数が不正です。";

INSTANTIATE_TEST_SUITE_P(Cases, PopStat,
                         ::testing::Values(StatCase{"CountNotANumber", "+OK x 10\r\n",
                                                    kTypeMismatch},
                                           StatCase{"NoBlankAfterCount", "+OK 3\r\n", kInvalidCall},
                                           StatCase{"EmptyCount", "+OK  3 10\r\n", kTypeMismatch}),
                         [](const auto& row) { return std::string(row.param.name); });

// --- Transcript --------------------------------------------------------------------

TEST_F(PopSession, TranscriptShowsThePasswordOnlyAsStars) {
    Script script = Script::pop3();
    script.reply("+OK\r\n").reply("-ERR [IN-USE] lock busy\r\n").reply("+OK in\r\n");
    script.reply("+OK 1 10\r\n").reply("+OK bye\r\n");
    ScriptServer server(script);
    PopRequest r = request_for(server);
    r.protocol_logging = true;
    r.password = "pa55-secret";
    auto login = pop_session(r, *log);
    server.wait();
    ASSERT_TRUE(login.ok());
    const std::string text = protocol_log();
    EXPECT_NE(text.find(" *** POP Protocol Logging\r\n" + std::string(test::kPop3Greeting)),
              std::string::npos);
    EXPECT_NE(text.find(">> USER user\r\n+OK\r\n"), std::string::npos);
    EXPECT_NE(
        text.find(
            ">> PASS ***\r\n-ERR [IN-USE] lock busy\r\nリトライ可能なエラーのため再実行します"),
        std::string::npos)
        << text;
    // The retry that succeeded adds no entry of its own.
    EXPECT_EQ(count_of(text, "PASS ***"), 1u);
    EXPECT_NE(text.find(">> STAT\r\n+OK 1 10\r\n"), std::string::npos);
    EXPECT_NE(text.find(">> QUIT\r\n+OK bye\r\n  ** ** **  \r\n"), std::string::npos);
    EXPECT_EQ(text.find("pa55-secret"), std::string::npos);
}

TEST_F(PopSession, TranscriptIsWrittenAfterARefusal) {
    Script script = Script::pop3();
    script.reply("+OK\r\n").reply("-ERR [AUTH] Authentication failed.\r\n");
    ScriptServer server(script);
    PopRequest r = request_for(server);
    r.protocol_logging = true;
    auto login = pop_session(r, *log);
    server.wait();
    ASSERT_FALSE(login.ok());
    const std::string text = protocol_log();
    EXPECT_NE(text.find(">> PASS ***\r\n-ERR [AUTH] Authentication failed.\r\n  ** ** **  \r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("secret"), std::string::npos);
}

// --- Broken and hostile servers ----------------------------------------------------

struct BrokenCase {
    const char* name;
    Script script;
    std::string first_report;
};

class PopBroken : public PopSession, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(PopBroken, EndsWithAReportInBoundedTime) {
    const BrokenCase& c = GetParam();
    ScriptServer server(c.script, lasting(6s));
    PopRequest r = request_for(server);
    r.limits.reply_wait = 1s;
    auto login = pop_session(r, *log);
    ASSERT_FALSE(login.ok());
    ASSERT_FALSE(login.error().reports.empty());
    EXPECT_EQ(login.error().reports[0], c.first_report);
    for (const auto& report : login.error().reports) EXPECT_LE(report.size(), 70000u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PopBroken,
    ::testing::Values(
        BrokenCase{"ClosedAfterUser", Script::pop3().read_line().close(),
                   cmd_send("USER コマンドの応答メッセージを受信できません。(recv) error: 0")},
        BrokenCase{"ResetAfterPass", Script::pop3().reply("+OK\r\n").read_line().reset(),
                   cmd_send("PASS コマンドの応答メッセージを受信できません。(recv) error: -1")},
        BrokenCase{"SilentAfterStat",
                   Script::pop3().reply("+OK\r\n").reply("+OK\r\n").read_line().pause(4s),
                   cmd_send("STAT コマンド：応答待ちでタイムアウトしました。1(秒)")},
        BrokenCase{"HugeReplyLine", Script::pop3().read_line().huge_line(20 * 1024 * 1024, "+OK "),
                   cmd_send("USER コマンド：サーバにコマンドを拒否されました。")},
        BrokenCase{"GarbageWithNul", Script::pop3().reply(std::string("+O\x00K \xff\xfe\r\n", 9)),
                   cmd_send("USER コマンド：サーバにコマンドを拒否されました。")}),
    [](const auto& row) { return std::string(row.param.name); });

// --- STLS and implicit TLS ------------------------------------------------------------

class PopTls : public PopSession {
  protected:
    void SetUp() override {
        PopSession::SetUp();
        std::string why;
        pki = test::make_test_pki(&why);
        if (!pki) GTEST_SKIP() << "no test certificates: " << why;
        setenv("SSL_CERT_FILE", pki->ca_file.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("SSL_CERT_FILE");
        if (pki) test::remove_test_pki(*pki);
        PopSession::TearDown();
    }
    ServerOptions tls_options(const test::TlsFiles& files, bool implicit) const {
        ServerOptions o = lasting(8s);
        o.tls = files;
        o.implicit_tls = implicit;
        return o;
    }

    std::optional<test::TestPki> pki;
};

TEST_F(PopTls, StlsBeforeUser) {
    Script script = Script::pop3();
    script.reply("+OK begin TLS\r\n").start_tls();
    script.reply("+OK\r\n").reply("+OK\r\n").reply("+OK 0 0\r\n").reply("+OK\r\n");
    ScriptServer server(script, tls_options(pki->server, false));
    PopRequest r = request_for(server);
    r.server = "localhost";
    r.tls = net::TlsMode::StartTls;
    auto login = pop_session(r, *log);
    server.wait();
    ASSERT_TRUE(login.ok()) << login.error().reports.front();
    EXPECT_EQ(server.lines(), (Lines{"STLS", "USER user", "PASS secret", "STAT", "QUIT"}));
}

TEST_F(PopTls, StlsRefusedSendsNoPassword) {
    Script script = Script::pop3();
    script.reply("-ERR not available\r\n");
    ScriptServer server(script, tls_options(pki->server, false));
    PopRequest r = request_for(server);
    r.server = "localhost";
    r.tls = net::TlsMode::StartTls;
    auto login = pop_session(r, *log);
    server.wait();
    ASSERT_FALSE(login.ok());
    EXPECT_EQ(login.error().reports, refused("STLS コマンド", "-ERR not available\r\n"));
    EXPECT_EQ(server.received().find("USER"), std::string::npos);
    EXPECT_EQ(server.received().find("PASS"), std::string::npos);
}

TEST_F(PopTls, ImplicitTls) {
    Script script = Script::pop3();
    script.reply("+OK\r\n").reply("+OK\r\n").reply("+OK 0 0\r\n").reply("+OK\r\n");
    ScriptServer server(script, tls_options(pki->server, true));
    PopRequest r = request_for(server);
    r.server = "localhost";
    r.tls = net::TlsMode::Implicit;
    auto login = pop_session(r, *log);
    server.wait();
    ASSERT_TRUE(login.ok()) << login.error().reports.front();
    EXPECT_EQ(server.lines(), kWholeLogin);
}

TEST_F(PopTls, AnUntrustedCertificateFailsBeforeTheUserName) {
    Script script = Script::pop3();
    script.reply("+OK begin TLS\r\n").start_tls().read_line();
    ScriptServer server(script, tls_options(pki->untrusted, false));
    PopRequest r = request_for(server);
    r.server = "localhost";
    r.tls = net::TlsMode::StartTls;
    auto login = pop_session(r, *log);
    server.wait();
    ASSERT_FALSE(login.ok());
    ASSERT_EQ(login.error().reports.size(), 1u);
    EXPECT_EQ(login.error().reports[0].rfind("TLS 接続を確立できませんでした: ", 0), 0u);
    EXPECT_EQ(server.lines(), Lines{"STLS"});
}

}  // namespace
}  // namespace vlt::pop3
