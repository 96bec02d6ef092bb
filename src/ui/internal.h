#pragma once
// Pieces shared by the three ways of showing the windows; not for use outside
// src/ui and its tests. The factories never throw; make_gui_windows fails when
// no window can be opened.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "ui/forms.h"
#include "ui/windows.h"

namespace vlt::ui {

// The message text as printed: CR LF becomes LF, and one LF follows the last line.
std::string printable_message(std::string_view text);

// CR LF to LF for showing a text in an editor, and back when it is stored.
std::string to_lf(std::string_view text);
std::string to_crlf(std::string_view text);

// The test countdown from VELLUMTIDE_TEST_COUNTDOWN_MS: a positive decimal
// number of milliseconds, anything else is ignored.
std::optional<std::chrono::milliseconds> parse_countdown_override(const char* value);

std::unique_ptr<Windows> make_no_windows();

// The system's own part (terminal_posix.cpp, terminal_win32.cpp).
// Whether the choice of the windows takes standard input for a terminal.
// POSIX: isatty. Windows: never, so that the terminal prompts are used only
// when VELLUMTIDE_UI asks for them.
bool stdin_is_terminal();
// The terminal prompts on standard input and output. Windows: on the console
// (CONIN$ and CONOUT$); without one, standard error says so and the windows
// are those of the none way.
std::unique_ptr<Windows> make_standard_tty_windows(
    std::optional<std::chrono::milliseconds> countdown);

// True when graphical windows can be shown. POSIX: the graphical windows
// module loads and the X display opens. Windows: the process's window station
// is visible (not a service's, nor a task's that runs without a logged-on user).
bool gui_available();
// POSIX: loads the graphical windows module and opens the display. Fails when
// DISPLAY is unset or empty (nothing is loaded then), when the module is
// missing or cannot be loaded, or when the display does not open. Windows:
// fails when the window station is not visible; hides a console that belongs
// to this process alone.
Result<std::unique_ptr<Windows>> make_gui_windows(
    std::string exe_name, std::optional<std::chrono::milliseconds> countdown);

}  // namespace vlt::ui
