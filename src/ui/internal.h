#pragma once
// Pieces shared by the three ways of showing the windows; not for use outside
// src/ui and its tests. The factories never throw; make_gui_windows returns
// nullptr when no window can be opened.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ui/windows.h"

namespace vlt::ui {

// Texts the windows show, shared by the graphical windows and the prompts.
inline constexpr const char* kInstruction =
    "パラメータが不足しています。パラメータを指定してください。　（太字は必須）";
inline constexpr const char* kCaptionLead = "【再入力】 ";
inline constexpr const char* kServerInfoButton = "サーバ情報";
inline constexpr const char* kOkButton = "O K";

// "【再入力】 Vellumtide  Ver： 0.3.43", the caption of both input windows.
std::string input_caption();
// The message window's caption: the executable name, three spaces, the version.
std::string message_caption(std::string_view exe_name);

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

// True when this build has graphical windows and the X display opens.
bool gui_available();
std::unique_ptr<Windows> make_gui_windows(std::string exe_name,
                                          std::optional<std::chrono::milliseconds> countdown);

}  // namespace vlt::ui
