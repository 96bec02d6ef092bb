// The POSIX side of the windows without a display: the none way's message on
// standard output, and the terminal prompts, with the keyboard replaced by a
// pipe and the screen by another one.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "ui/internal.h"
#include "ui/terminal.h"
#include "ui/windows.h"

namespace vlt::ui {
namespace {

using namespace std::chrono_literals;

TEST(NoWindows, MessagePrintedWithLineFeeds) {
    auto windows = make_windows(UiMode::None);
    testing::internal::CaptureStdout();
    windows->show_message("使用法：\r\n\r\n  TO", true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "使用法：\n\n  TO\n");
}

// The terminal prompts, with the keyboard replaced by a pipe and the screen
// by another one.
class TtyPrompts : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(pipe(m_in), 0);
        ASSERT_EQ(pipe(m_out), 0);
        // The output is read only at the end; keep the writer from blocking.
        fcntl(m_out[1], F_SETPIPE_SZ, 1 << 20);
    }
    void TearDown() override {
        for (int fd : {m_in[0], m_in[1], m_out[0], m_out[1]}) {
            if (fd >= 0) close(fd);
        }
    }

    std::unique_ptr<Windows> windows(std::optional<std::chrono::milliseconds> countdown = {}) {
        return make_tty_windows(m_in[0], m_out[1], countdown);
    }
    void type(std::string_view keys) {
        ASSERT_EQ(write(m_in[1], keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    void end_input() {
        close(m_in[1]);
        m_in[1] = -1;
    }
    std::string screen() {
        close(m_out[1]);
        m_out[1] = -1;
        std::string text;
        char chunk[4096];
        ssize_t n;
        while ((n = read(m_out[0], chunk, sizeof chunk)) > 0) {
            text.append(chunk, static_cast<std::size_t>(n));
        }
        return text;
    }

    int m_in[2] = {-1, -1};
    int m_out[2] = {-1, -1};
};

TEST_F(TtyPrompts, EnterKeepsValuesAndTypedLinesReplaceThem) {
    ParamFields fields{"a@example.com", "", "", "old body", "file.txt"};
    type("\ncc@example.com\n件名\n一行目\n\n三行目\n.\n\ny\n");
    EXPECT_EQ(windows()->edit_params(fields, {}), FormOutcome::Stored);
    EXPECT_EQ(fields.to, "a@example.com");
    EXPECT_EQ(fields.cc, "cc@example.com");
    EXPECT_EQ(fields.subject, "件名");
    EXPECT_EQ(fields.body, "一行目\r\n\r\n三行目");
    EXPECT_EQ(fields.attach, "file.txt");

    const std::string shown = screen();
    EXPECT_NE(shown.find(input_caption()), std::string::npos);
    EXPECT_NE(shown.find(kInstruction), std::string::npos);
    // The default countdown of three minutes, in the words of the window.
    EXPECT_NE(shown.find(countdown_text(180) + "\nTo: [a@example.com] "), std::string::npos);
    const auto to = shown.find("To: [a@example.com] ");
    const auto cc = shown.find("Cc: ");
    const auto subject = shown.find("Subject: ");
    const auto message = shown.find("Message: [old body] ");
    const auto attach = shown.find("Attach: [file.txt] ");
    const auto ok = shown.find("O K [y/n]: ");
    EXPECT_LT(to, cc);
    EXPECT_LT(cc, subject);
    EXPECT_LT(subject, message);
    EXPECT_LT(message, attach);
    EXPECT_LT(attach, ok);
    EXPECT_NE(ok, std::string::npos);
    EXPECT_EQ(shown.find("Cc: ["), std::string::npos) << "no brackets for an empty value";
}

TEST_F(TtyPrompts, BodyKeptWhenNothingTypedBeforeTheDot) {
    ParamFields fields{"", "", "", "本文\r\n二行", ""};
    type("to@example.com\n\nsub\n.\n\ny\n");
    EXPECT_EQ(windows()->edit_params(fields, {}), FormOutcome::Stored);
    EXPECT_EQ(fields.to, "to@example.com");
    EXPECT_EQ(fields.body, "本文\r\n二行");
    EXPECT_NE(screen().find("Message: [本文\n二行] "), std::string::npos);
}

TEST_F(TtyPrompts, DecliningOrEndOfInputStoresNothing) {
    {
        ParamFields fields{"keep@example.com", "", "", "", ""};
        type("new@example.com\n\nsub\nbody\n.\n\nmaybe\nn\n");
        EXPECT_EQ(windows()->edit_params(fields, {}), FormOutcome::Closed);
        EXPECT_EQ(fields.to, "keep@example.com");
        EXPECT_EQ(fields.subject, "");
        EXPECT_EQ(fields.body, "");
    }
    {
        // The input ends inside the body: the lines so far are the body, the
        // remaining prompts keep their values, and there is no one to say OK.
        ParamFields fields{"keep@example.com", "", "", "", ""};
        type("\n\nsub\npartial");
        end_input();
        EXPECT_EQ(windows()->edit_params(fields, {}), FormOutcome::Closed);
        EXPECT_EQ(fields.subject, "");
    }
}

TEST_F(TtyPrompts, CountdownEndsThePromptsWithoutStoring) {
    ParamFields fields{"keep@example.com", "", "", "", ""};
    type("typed@example.com\n");  // then nothing more, the writer stays open
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(windows(1200ms)->edit_params(fields, {}), FormOutcome::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1100ms);
    EXPECT_EQ(fields.to, "keep@example.com");
    const std::string shown = screen();
    EXPECT_NE(shown.find(countdown_text(1)), std::string::npos);
}

TEST_F(TtyPrompts, ServerInformationShownOnRequestWhileCountingDown) {
    ParamFields fields{"to@example.com", "", "sub", "body", ""};
    ParamWindowOptions options;
    options.settings_text = [] { return std::string("現在設定されているサーバ情報\r\n  SMTP"); };
    type("\n\n\n.\n\ns\ny\n");
    EXPECT_EQ(windows()->edit_params(fields, options), FormOutcome::Stored);
    const std::string shown = screen();
    const auto question = shown.find("O K [y/n/s=サーバ情報]: ");
    const auto info = shown.find("現在設定されているサーバ情報\n  SMTP\n");
    EXPECT_NE(question, std::string::npos);
    EXPECT_NE(info, std::string::npos);
    EXPECT_LT(question, info);
    EXPECT_NE(shown.find("O K [y/n/s=サーバ情報]: ", info), std::string::npos)
        << "asked again after showing the settings";
}

TEST_F(TtyPrompts, SettingsInWindowOrderWithMaskedPassword) {
    SettingsFields fields{"smtp.example.com", "", "", "", "", "", "pässwd"};
    type("\n587\nｆｒｏｍ＠example.com\npop.example.com\n\nuser\n新しい\ny\n");
    EXPECT_EQ(windows()->edit_settings(fields), FormOutcome::Stored);
    EXPECT_EQ(fields.smtp_server, "smtp.example.com");
    EXPECT_EQ(fields.smtp_port, "587");
    EXPECT_EQ(fields.from, "ｆｒｏｍ＠example.com") << "stored as typed, not narrowed";
    EXPECT_EQ(fields.pop_server, "pop.example.com");
    EXPECT_EQ(fields.pop_port, "");
    EXPECT_EQ(fields.user, "user");
    EXPECT_EQ(fields.password, "新しい");

    const std::string shown = screen();
    const char* order[] = {"SMTP Server: [smtp.example.com] ",
                           "Port: ",
                           "From: ",
                           "POP Server: ",
                           "Port: ",
                           "User: ",
                           "Password: [******] ",
                           "O K [y/n]: "};
    std::size_t at = 0;
    for (const char* prompt : order) {
        const auto found = shown.find(prompt, at);
        ASSERT_NE(found, std::string::npos) << prompt;
        at = found + 1;
    }
    EXPECT_EQ(shown.find("pässwd"), std::string::npos);
    EXPECT_EQ(shown.find("パラメータを指定後"), std::string::npos) << "no countdown here";
}

}  // namespace
}  // namespace vlt::ui
