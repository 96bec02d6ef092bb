// The parts of the windows that do not need a display: the countdown, the
// choice of mode, the none way and the terminal prompts (fed through pipes).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "ui/countdown.h"
#include "ui/internal.h"
#include "ui/windows.h"

namespace vlt::ui {
namespace {

using namespace std::chrono_literals;

TEST(Countdown, ThreeMinutesShowSecondsLeftEveryTenSecondsThenExpire) {
    EXPECT_EQ(ParamWindowOptions{}.countdown, 180000ms);
    Countdown countdown(ParamWindowOptions{}.countdown);
    std::vector<std::pair<long, long>> messages;  // tick number, seconds shown
    long expired_at = 0;
    for (long tick = 1; tick <= 2000 && expired_at == 0; ++tick) {
        switch (countdown.tick()) {
            case Countdown::Event::Message:
                messages.emplace_back(tick, countdown.seconds_left());
                break;
            case Countdown::Event::Expired:
                expired_at = tick;
                break;
            case Countdown::Event::None:
                break;
        }
    }
    EXPECT_EQ(expired_at, 1800);
    ASSERT_EQ(messages.size(), 17u);
    EXPECT_EQ(messages.front(), std::make_pair(100L, 170L));
    EXPECT_EQ(messages.back(), std::make_pair(1700L, 10L));
    for (std::size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].first, 100L * static_cast<long>(i + 1));
        EXPECT_EQ(messages[i].second, 170L - 10L * static_cast<long>(i));
    }
}

TEST(Countdown, ShortCountdownsLastWholeTicksAndAtLeastOne) {
    struct Row {
        const char* name;
        std::chrono::milliseconds total;
        long ticks;
    };
    const Row rows[] = {
        {"exact", 300ms, 3},   {"partial tick rounds up", 250ms, 3}, {"zero", 0ms, 1},
        {"negative", -5ms, 1}, {"ten seconds", 10000ms, 100},
    };
    for (const Row& row : rows) {
        Countdown countdown(row.total);
        long ticks = 0;
        while (countdown.tick() != Countdown::Event::Expired && ticks < 100000) ++ticks;
        EXPECT_EQ(ticks + 1, row.ticks) << row.name;
    }
}

TEST(Texts, CountdownMessageAndCaptionsAreExact) {
    EXPECT_EQ(countdown_text(170),
              "パラメータを指定後にOKボタンで送信してください。 あと 170秒で画面を閉じて処理を中断"
              "します。");
    EXPECT_EQ(input_caption(), "【再入力】 Vellumtide  Ver： 0.3.43");
    EXPECT_EQ(message_caption("vellumtide"), "vellumtide   Ver： 0.3.43");
}

TEST(Texts, LineBreaksBetweenWindowsAndFields) {
    struct Row {
        const char* name;
        std::string lf;
        std::string crlf;
    };
    const Row rows[] = {
        {"no break", "abc", "abc"},
        {"inner breaks", "a\nb\nc", "a\r\nb\r\nc"},
        {"leading and trailing", "\na\n", "\r\na\r\n"},
        {"empty lines", "a\n\nb", "a\r\n\r\nb"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(to_crlf(row.lf), row.crlf) << row.name;
        EXPECT_EQ(to_lf(row.crlf), row.lf) << row.name;
    }
    EXPECT_EQ(to_crlf("a\r\nb"), "a\r\nb") << "CR LF is not doubled";
    EXPECT_EQ(to_lf("a\rb"), "a\rb") << "a lone CR stays";
    EXPECT_EQ(printable_message("一\r\n二"), "一\n二\n");
}

TEST(Mode, ChoiceFollowsForcedValueThenTerminalThenDisplay) {
    struct Row {
        const char* name;
        std::optional<std::string_view> forced;
        bool terminal;
        bool display;
        UiMode expected;
    };
    const Row rows[] = {
        {"terminal wins over display", std::nullopt, true, true, UiMode::Tty},
        {"display without terminal", std::nullopt, false, true, UiMode::Gui},
        {"nothing", std::nullopt, false, false, UiMode::None},
        {"forced none on a terminal", "none", true, true, UiMode::None},
        {"forced gui on a terminal", "gui", true, false, UiMode::Gui},
        {"forced tty without terminal", "tty", false, false, UiMode::Tty},
        {"case does not matter", "TTY", false, true, UiMode::Tty},
        {"unknown value is ignored", "windows", false, true, UiMode::Gui},
        {"empty value is ignored", "", true, false, UiMode::Tty},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(choose_mode_for(row.forced, row.terminal, row.display), row.expected) << row.name;
    }
}

TEST(Mode, TestCountdownSetting) {
    EXPECT_EQ(parse_countdown_override("1500"), 1500ms);
    EXPECT_EQ(parse_countdown_override(nullptr), std::nullopt);
    EXPECT_EQ(parse_countdown_override(""), std::nullopt);
    EXPECT_EQ(parse_countdown_override("0"), std::nullopt);
    EXPECT_EQ(parse_countdown_override("-10"), std::nullopt);
    EXPECT_EQ(parse_countdown_override("15s"), std::nullopt);
}

TEST(NoWindows, MessagePrintsAndInputWindowsCloseAtOnce) {
    auto windows = make_windows(UiMode::None);
    testing::internal::CaptureStdout();
    windows->show_message("使用法：\r\n\r\n  TO", true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "使用法：\n\n  TO\n");

    ParamFields params{"to", "", "", "body", ""};
    ParamWindowOptions options;
    bool asked = false;
    options.settings_text = [&asked] {
        asked = true;
        return std::string("x");
    };
    // Nothing is read: a window that waited for input would hang here.
    EXPECT_EQ(windows->edit_params(params, options), FormOutcome::Closed);
    SettingsFields settings{"smtp", "25", "", "", "", "", ""};
    EXPECT_EQ(windows->edit_settings(settings), FormOutcome::Closed);
    EXPECT_EQ(params.to, "to");
    EXPECT_EQ(params.body, "body");
    EXPECT_EQ(settings.smtp_server, "smtp");
    EXPECT_FALSE(asked);
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
