// Whole sending runs against scripted POP3 and SMTP servers: POP before SMTP
// with its pause, SMTP AUTH without a POP3 connection, the exit status and
// the error log.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "app/run.h"
#include "support/script_server.h"
#include "support/session_reports.h"

namespace vlt::app {
namespace {

using namespace std::chrono_literals;
using test::lasting;
using test::Lines;
using test::refused;
using test::Reports;
using test::Script;
using test::ScriptServer;
using test::ServerOptions;

const std::string kLoginFailed =
    "正しいユーザあるいはパスワードではありません。認証に失敗しました。";
const std::string kSendFailed = "メール送信に失敗しました。";

Script pop_login(std::string_view pass_reply = "+OK logged in\r\n") {
    Script s = Script::pop3();
    s.reply("+OK\r\n").reply(pass_reply).reply("+OK 0 0\r\n").reply("+OK bye\r\n");
    return s;
}

Script smtp_delivery(std::string_view greet_reply, std::string_view quit_reply = "221 bye\r\n") {
    Script s = Script::smtp();
    s.reply(greet_reply).reply("250 ok\r\n").reply("250 ok\r\n").reply("354 go\r\n");
    s.read_data().send("250 queued\r\n").reply(quit_reply);
    return s;
}

class RunDialogue : public testing::RunFixture {
  protected:
    // Stores the settings for the two servers with `flag` (--conf or --xcnf).
    void store(const std::string& flag, const ScriptServer& smtp, const std::string& pop_port) {
        ASSERT_EQ(run_with(flag + ", 127.0.0.1, " + smtp.port() + ", me@example.com, 127.0.0.1, " +
                           pop_port + ", user, secret"),
                  0);
    }

    // A sending run whose pauses are recorded by `pause` instead of slept.
    int send(const std::string& argument_text,
             std::function<void(std::chrono::milliseconds)> pause = {}) {
        on_sleep = std::move(pause);
        return run_with(argument_text);
    }

    bool exists(const std::string& name) const { return std::filesystem::exists(folder / name); }
};

TEST_F(RunDialogue, PopBeforeSmtpLogsInPausesThenSendsWithHelo) {
    ScriptServer pop(pop_login());
    ScriptServer smtp(smtp_delivery("250 mail.example.test\r\n"));
    store("--conf", smtp, pop.port());
    std::vector<bool> smtp_connected_during_pause;
    std::vector<std::size_t> pop_lines_at_pause;
    const int status = send("to@example.com, , subject, body", [&](std::chrono::milliseconds) {
        smtp_connected_during_pause.push_back(smtp.accepted());
        pop_lines_at_pause.push_back(pop.lines().size());
    });
    pop.wait();
    smtp.wait();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reports, Reports{});
    EXPECT_EQ(pop.lines(), (Lines{"USER user", "PASS secret", "STAT", "QUIT"}));
    // The pause comes after the whole POP3 dialogue and before the SMTP connection.
    EXPECT_EQ(slept, std::vector<std::chrono::milliseconds>{2000ms});
    EXPECT_EQ(smtp_connected_during_pause, std::vector<bool>{false});
    EXPECT_EQ(pop_lines_at_pause, std::vector<std::size_t>{4});
    EXPECT_EQ(smtp.lines(), (Lines{"HELO 127.0.0.1", "MAIL FROM:<me@example.com>",
                                   "RCPT TO:<to@example.com>", "DATA", "QUIT"}));
    EXPECT_TRUE(exists("Scrivlane1.log"));
    EXPECT_FALSE(exists("vellumtideERR1.log"));
}

TEST_F(RunDialogue, AFailedLoginEndsTheRunBeforeSmtp) {
    Script pop_script = Script::pop3();
    pop_script.reply("+OK\r\n").reply("-ERR [AUTH] Authentication failed.\r\n");
    ScriptServer pop(pop_script, lasting(5s));
    ScriptServer smtp(Script::smtp(), lasting(5s));
    store("--conf", smtp, pop.port());
    EXPECT_EQ(send("to@example.com, , subject, body"), 1);
    pop.wait();
    const Reports expected{refused("PASS コマンド", "-ERR [AUTH] Authentication failed.\r\n")[0],
                           refused("PASS コマンド", "-ERR [AUTH] Authentication failed.\r\n")[1],
                           kLoginFailed};
    EXPECT_EQ(reports, expected);
    EXPECT_FALSE(smtp.accepted());
    EXPECT_TRUE(slept.empty());
    const std::string error_log = read("vellumtideERR1.log");
    EXPECT_NE(error_log.find(" *** " + kLoginFailed + "\r\n"), std::string::npos) << error_log;
    EXPECT_FALSE(exists("Scrivlane1.log"));
}

TEST_F(RunDialogue, ALockedMailboxIsRetriedOnceAndReported) {
    Script pop_script = Script::pop3();
    pop_script.reply("+OK\r\n").reply("-ERR [IN-USE] Lock busy\r\n").reply("+OK\r\n");
    pop_script.reply("+OK 0 0\r\n").reply("+OK bye\r\n");
    ScriptServer pop(pop_script);
    ScriptServer smtp(smtp_delivery("250 ok\r\n"));
    store("--conf", smtp, pop.port());
    EXPECT_EQ(send("to@example.com, , subject, body"), 0);
    EXPECT_EQ(slept, (std::vector<std::chrono::milliseconds>{5000ms, 2000ms}));
    EXPECT_EQ(reports, refused("PASS コマンド", "-ERR [IN-USE] Lock busy\r\n"));
    smtp.wait();
    EXPECT_EQ(smtp.data().size(), 1u);
}

TEST_F(RunDialogue, SmtpAuthMakesNoPopConnectionAndNoPause) {
    ScriptServer pop(pop_login(), lasting(3s));
    Script smtp_script = Script::smtp();
    smtp_script.reply("250-mail\r\n250 AUTH PLAIN\r\n").reply("334 \r\n").reply("235 ok\r\n");
    smtp_script.reply("250 ok\r\n").reply("250 ok\r\n").reply("354 go\r\n");
    smtp_script.read_data().send("250 queued\r\n").reply("221 bye\r\n");
    ScriptServer smtp(smtp_script);
    store("--xcnf", smtp, pop.port());
    EXPECT_EQ(send("to@example.com, , subject, body"), 0);
    smtp.wait();
    EXPECT_EQ(reports, Reports{});
    EXPECT_FALSE(pop.accepted());
    EXPECT_TRUE(slept.empty());
    EXPECT_EQ(smtp.lines(), (Lines{"EHLO 127.0.0.1", "AUTH PLAIN",
                                   "dXNlcgB1c2VyAHNlY3JldA==", "MAIL FROM:<me@example.com>",
                                   "RCPT TO:<to@example.com>", "DATA", "QUIT"}));
}

// A delivered message is a successful run even when QUIT fails: a calling
// script must not send it again.
TEST_F(RunDialogue, QuitFailureAfterDeliveryIsASuccess) {
    ScriptServer smtp(smtp_delivery("250-mail\r\n250 OK\r\n", "451 4.3.0 try again\r\n"));
    store("--xcnf", smtp, "");
    EXPECT_EQ(send("to@example.com, , subject, body"), 0);
    EXPECT_EQ(reports, refused("QUIT コマンド", "451 4.3.0 try again\r\n"));
    EXPECT_TRUE(exists("Scrivlane1.log"));
    const std::string error_log = read("vellumtideERR1.log");
    EXPECT_NE(error_log.find("QUIT コマンド：サーバにコマンドを拒否されました。"),
              std::string::npos);
    EXPECT_EQ(error_log.find(kSendFailed), std::string::npos);
}

TEST_F(RunDialogue, ASmtpRefusalFailsTheRunAfterItsOwnReports) {
    Script smtp_script = Script::smtp();
    smtp_script.reply("250 ok\r\n").reply("550 5.7.1 relaying denied\r\n");
    ScriptServer smtp(smtp_script);
    ScriptServer pop(pop_login());
    store("--conf", smtp, pop.port());
    EXPECT_EQ(send("to@example.com, , subject, body"), 1);
    Reports expected = refused("MAIL FROM コマンド", "550 5.7.1 relaying denied\r\n");
    expected.push_back(kSendFailed);
    EXPECT_EQ(reports, expected);
    EXPECT_FALSE(exists("Scrivlane1.log"));
}

TEST_F(RunDialogue, ProtocolLoggingWritesBothTranscriptsWithoutThePassword) {
    vars["DEBUG_MODE"] = "  Protocol ";
    ScriptServer pop(pop_login());
    ScriptServer smtp(smtp_delivery("250 ok\r\n"));
    store("--conf", smtp, pop.port());
    EXPECT_EQ(send("to@example.com, , subject, body"), 0);
    const std::string pop_log = read("DovekiteProtocol1.log");
    const std::string smtp_log = read("ScrivlaneProtocol1.log");
    EXPECT_NE(pop_log.find("POP Protocol Logging\r\n"), std::string::npos);
    EXPECT_NE(pop_log.find(">> PASS ***\r\n+OK logged in\r\n"), std::string::npos) << pop_log;
    EXPECT_EQ(pop_log.find("secret"), std::string::npos);
    EXPECT_NE(smtp_log.find("SMTP Protocol Logging\r\n"), std::string::npos);
    EXPECT_NE(smtp_log.find(">> HELO 127.0.0.1\r\n250 ok\r\n"), std::string::npos) << smtp_log;
}

enum class NotAFile { Folder, EmptyFile, Missing };

class RunWithoutAttachment : public RunDialogue, public ::testing::WithParamInterface<NotAFile> {};

// What is not a regular file with content is no attachment: the message goes
// out as a plain text message.
TEST_P(RunWithoutAttachment, SendsThePlainMessage) {
    ScriptServer smtp(smtp_delivery("250-mail\r\n250 OK\r\n"));
    store("--xcnf", smtp, "");
    std::string attach = path("report.pdf");
    if (GetParam() == NotAFile::Folder) std::filesystem::create_directories(attach);
    if (GetParam() == NotAFile::EmptyFile) write("report.pdf", "");
    EXPECT_EQ(send("to@example.com, , subject, body, " + attach), 0);
    smtp.wait();
    EXPECT_EQ(reports, Reports{});
    ASSERT_EQ(smtp.data().size(), 1u);
    EXPECT_EQ(smtp.data()[0].find("multipart/mixed"), std::string::npos);
    EXPECT_NE(smtp.data()[0].find("Content-Type: text/plain;"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunWithoutAttachment,
                         ::testing::Values(NotAFile::Folder, NotAFile::EmptyFile,
                                           NotAFile::Missing),
                         [](const auto& row) {
                             switch (row.param) {
                                 case NotAFile::Folder:
                                     return std::string("Folder");
                                 case NotAFile::EmptyFile:
                                     return std::string("EmptyFile");
                                 case NotAFile::Missing:
                                     break;
                             }
                             return std::string("Missing");
                         });

}  // namespace
}  // namespace vlt::app
