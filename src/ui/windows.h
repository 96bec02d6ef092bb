#pragma once
// The three windows of a run: the message window, the parameter re-entry
// window (with its countdown) and the settings entry window.
//
// A run shows them one of three ways, chosen once: graphical windows, prompts
// on the terminal, or none (scripts: the message window writes its text to
// standard output and the input windows behave as closed with their close
// box). The windows validate nothing; the run flow checks the fields after.
// Nothing here throws: a graphical session that cannot start falls back to the
// terminal or to none. The graphical windows live in a module of their own
// (gui_module.h), loaded only when a window is shown.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace vlt::ui {

enum class UiMode { Gui, Tty, None };

// The five message fields of the re-entry window, top to bottom as shown.
struct ParamFields {
    std::string to;
    std::string cc;
    std::string subject;
    std::string body;
    std::string attach;
};

// The seven server values of the settings entry window.
struct SettingsFields {
    std::string smtp_server;
    std::string smtp_port;
    std::string from;
    std::string pop_server;
    std::string pop_port;
    std::string user;
    std::string password;
};

enum class FormOutcome {
    Stored,    // OK pressed: the fields hold what was typed
    Closed,    // close box (or declined): fields unchanged
    TimedOut,  // the countdown ran out: fields unchanged
};

inline constexpr std::chrono::milliseconds kParamCountdown{180000};

struct ParamWindowOptions {
    std::chrono::milliseconds countdown{kParamCountdown};
    // Shows the stored settings (the "サーバ情報" button); the countdown runs on.
    std::function<std::string()> settings_text;
};

class Windows {
  public:
    virtual ~Windows() = default;

    // Shows `text` (CR LF line breaks) and returns when the user closes it.
    // `wide` selects the large window (usage text), otherwise the narrow one.
    virtual void show_message(std::string_view text, bool wide) = 0;
    // Body line breaks come back as CR LF; a field left untouched comes back
    // exactly as it went in.
    virtual FormOutcome edit_params(ParamFields& fields, const ParamWindowOptions& options) = 0;
    virtual FormOutcome edit_settings(SettingsFields& fields) = 0;
    // Lets open windows process pending events once (called around blocking
    // network calls); does nothing while no window is open.
    virtual void pump() = 0;
};

// The mode for this run: VELLUMTIDE_UI (gui, tty, none) when set, otherwise
// tty when standard input is a terminal, gui when a display is available and
// windows can be opened, none otherwise.
UiMode choose_mode();

// The same choice from its inputs: `forced` is the value of VELLUMTIDE_UI
// (compared without regard to case; an unknown value is ignored).
UiMode choose_mode_for(std::optional<std::string_view> forced, bool stdin_is_terminal,
                       bool display_available);

// `exe_name` (without folder and extension) heads the message window's
// caption. Graphical windows are opened when the first window is shown (the
// toolkit is loaded then); when none can be opened, the windows are those of
// the terminal (standard input a terminal) or none.
//
// The test hook VELLUMTIDE_TEST_COUNTDOWN_MS (a positive number of
// milliseconds) is read here: when set, it replaces the countdown the re-entry
// window is given, so that tests need not wait three minutes.
std::unique_ptr<Windows> make_windows(UiMode mode, std::string exe_name = "vellumtide");

// The windows of a run: those of choose_mode(), except that the display is
// probed only when the first window is shown, so that a run that shows no
// window loads no toolkit and opens no connection to the X server.
std::unique_ptr<Windows> make_run_windows(std::string exe_name);

// The countdown message shown while the re-entry window waits.
std::string countdown_text(long seconds_left);

// Asks for a password on the controlling terminal (/dev/tty), whatever the
// standard input and output are: writes the prompt "パスワード: " and reads one
// line with echo off, returning it without its CR LF or LF (the end of input
// gives an empty password). The echo is back before an interrupt typed
// meanwhile (Ctrl-C) ends the run. Fails, with the standard error text of the
// failure, when the process has no controlling terminal.
Result<std::string> ask_terminal_password();

}  // namespace vlt::ui
