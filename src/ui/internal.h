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
// Prompts read from `in_fd` and written to `out_fd`; echo is switched off for
// the password only when `in_fd` is a terminal.
std::unique_ptr<Windows> make_tty_windows(int in_fd, int out_fd,
                                          std::optional<std::chrono::milliseconds> countdown);

// True when the graphical windows module loads and the X display opens.
bool gui_available();
// Loads the graphical windows module and opens the display. Fails when DISPLAY
// is unset or empty (nothing is loaded then), when the module is missing or
// cannot be loaded, or when the display does not open.
Result<std::unique_ptr<Windows>> make_gui_windows(
    std::string exe_name, std::optional<std::chrono::milliseconds> countdown);

}  // namespace vlt::ui
