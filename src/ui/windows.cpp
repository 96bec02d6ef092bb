#include "ui/windows.h"

#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "common/version.h"
#include "ui/internal.h"

namespace vlt::ui {

std::string input_caption() {
    return std::string(kCaptionLead) + kAppTitle + "  " + version_text();
}

std::string message_caption(std::string_view exe_name) {
    return std::string(exe_name) + "   " + version_text();
}

std::string shown_value(FieldKind kind, const std::string& value) {
    return kind == FieldKind::Lines ? to_lf(value) : value;
}

std::string stored_value(FieldKind kind, const std::string& before, const std::string& typed) {
    if (kind != FieldKind::Lines) return typed;
    return typed == to_lf(before) ? before : to_crlf(typed);
}

std::string printable_message(std::string_view text) {
    std::string out = to_lf(text);
    out += '\n';
    return out;
}

std::string to_lf(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

std::string to_crlf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

std::optional<std::chrono::milliseconds> parse_countdown_override(const char* value) {
    if (value == nullptr || *value == '\0') return std::nullopt;
    const char* end = value + std::strlen(value);
    long long ms = 0;
    const auto [ptr, ec] = std::from_chars(value, end, ms);
    if (ec != std::errc() || ptr != end || ms <= 0) return std::nullopt;
    return std::chrono::milliseconds(ms);
}

UiMode choose_mode_for(std::optional<std::string_view> forced, bool stdin_is_terminal,
                       bool display_available) {
    if (forced) {
        if (iequals_ascii(*forced, "gui")) return UiMode::Gui;
        if (iequals_ascii(*forced, "tty")) return UiMode::Tty;
        if (iequals_ascii(*forced, "none")) return UiMode::None;
    }
    if (stdin_is_terminal) return UiMode::Tty;
    if (display_available) return UiMode::Gui;
    return UiMode::None;
}

UiMode choose_mode() {
    std::optional<std::string_view> forced;
    if (const char* value = std::getenv("VELLUMTIDE_UI")) forced = value;
    const bool terminal = isatty(STDIN_FILENO) == 1;
    // Opening the display costs a connection to the X server: probe it only
    // when the choice depends on it.
    const UiMode without_display = choose_mode_for(forced, terminal, false);
    const UiMode with_display = choose_mode_for(forced, terminal, true);
    if (without_display == with_display) return without_display;
    return gui_available() ? with_display : without_display;
}

std::unique_ptr<Windows> make_windows(UiMode mode, std::string exe_name) {
    const auto countdown = parse_countdown_override(std::getenv("VELLUMTIDE_TEST_COUNTDOWN_MS"));
    if (mode == UiMode::Gui) {
        if (auto gui = make_gui_windows(exe_name, countdown)) return std::move(gui).value();
        mode = isatty(STDIN_FILENO) == 1 ? UiMode::Tty : UiMode::None;
    }
    if (mode == UiMode::Tty) return make_tty_windows(STDIN_FILENO, STDOUT_FILENO, countdown);
    return make_no_windows();
}

std::string countdown_text(long seconds_left) {
    return "パラメータを指定後にOKボタンで送信してください。 あと " + std::to_string(seconds_left) +
           "秒で画面を閉じて処理を中断します。";
}

}  // namespace vlt::ui
