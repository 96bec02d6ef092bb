#include "ui/windows.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/text.h"
#include "ui/internal.h"

namespace vlt::ui {

namespace {

std::unique_ptr<Windows> make_plain_windows(UiMode mode,
                                            std::optional<std::chrono::milliseconds> countdown) {
    if (mode == UiMode::Tty) return make_standard_tty_windows(countdown);
    return make_no_windows();
}

// Graphical windows opened when the first window is shown: the module is
// loaded and the display probed only then, so that a run that shows no window
// never loads the toolkit. When no window can be opened, the windows are
// those of `fallback` (the terminal or none) for the rest of the run.
class DeferredGuiWindows final : public Windows {
  public:
    DeferredGuiWindows(std::string exe_name, std::optional<std::chrono::milliseconds> countdown,
                       UiMode fallback)
        : m_exe_name(std::move(exe_name)), m_countdown(countdown), m_fallback(fallback) {}

    void show_message(std::string_view text, bool wide) override {
        opened().show_message(text, wide);
    }
    FormOutcome edit_params(ParamFields& fields, const ParamWindowOptions& options) override {
        return opened().edit_params(fields, options);
    }
    FormOutcome edit_settings(SettingsFields& fields) override {
        return opened().edit_settings(fields);
    }
    void pump() override {
        if (m_windows) m_windows->pump();
    }

  private:
    Windows& opened() {
        if (!m_windows) {
            auto gui = make_gui_windows(m_exe_name, m_countdown);
            m_windows = gui ? std::move(gui).value() : make_plain_windows(m_fallback, m_countdown);
        }
        return *m_windows;
    }

    std::string m_exe_name;
    std::optional<std::chrono::milliseconds> m_countdown;
    UiMode m_fallback;
    std::unique_ptr<Windows> m_windows;
};

}  // namespace

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
    const bool terminal = stdin_is_terminal();
    // Opening the display costs a connection to the X server: probe it only
    // when the choice depends on it.
    const UiMode without_display = choose_mode_for(forced, terminal, false);
    const UiMode with_display = choose_mode_for(forced, terminal, true);
    if (without_display == with_display) return without_display;
    return gui_available() ? with_display : without_display;
}

std::unique_ptr<Windows> make_windows(UiMode mode, std::string exe_name) {
    const auto countdown = parse_countdown_override(std::getenv("VELLUMTIDE_TEST_COUNTDOWN_MS"));
    const bool terminal = stdin_is_terminal();
    if (mode == UiMode::Gui) {
        return std::make_unique<DeferredGuiWindows>(std::move(exe_name), countdown,
                                                    terminal ? UiMode::Tty : UiMode::None);
    }
    return make_plain_windows(mode, countdown);
}

std::unique_ptr<Windows> make_run_windows(std::string exe_name) {
    std::optional<std::string_view> forced;
    if (const char* value = std::getenv("VELLUMTIDE_UI")) forced = value;
    const bool terminal = stdin_is_terminal();
    const UiMode without_display = choose_mode_for(forced, terminal, false);
    const UiMode with_display = choose_mode_for(forced, terminal, true);
    if (without_display == with_display) return make_windows(without_display, std::move(exe_name));
    const auto countdown = parse_countdown_override(std::getenv("VELLUMTIDE_TEST_COUNTDOWN_MS"));
    return std::make_unique<DeferredGuiWindows>(std::move(exe_name), countdown, without_display);
}

}  // namespace vlt::ui
