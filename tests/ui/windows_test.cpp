// The parts of the windows that do not need a display and run on both
// systems: the countdown, the choice of mode and the input windows of the none
// way. What the none way prints, and the terminal prompts, are tested in the
// files of each system.

#include "ui/windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ui/countdown.h"
#include "ui/internal.h"

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

TEST(NoWindows, InputWindowsCloseAtOnce) {
    auto windows = make_windows(UiMode::None);
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

}  // namespace
}  // namespace vlt::ui
