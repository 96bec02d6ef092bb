#pragma once
// Standard output and standard error: every text the program prints (the
// usage, --version, the message window of the terminal and none ways, the
// lines about logs that cannot be written) goes through these two functions.
// Texts are UTF-8 with LF line ends; nothing here fails a run, a stream that
// takes nothing more is given up on.
//
// POSIX: the bytes are written as they are.
// Windows: to a console through WriteConsoleW, as UTF-16. Redirected to a
// file or a pipe, the text is written in the console's output code page when
// the process has a console, otherwise in the system code page (GetACP), with
// CR LF line ends; a character that code page lacks becomes "?".

#include <string_view>

namespace vlt {

void write_standard_output(std::string_view text);
void write_standard_error(std::string_view text);

}  // namespace vlt
