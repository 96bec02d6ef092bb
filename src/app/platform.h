#pragma once
// What the run needs from the process: the argument text, the environment,
// the program folder and the executable's name, a password from outside the
// command line; and the protection of the process's memory.

#include <optional>
#include <string>

#include "common/result.h"

namespace vlt::app {

// The arguments after the program name joined with single blanks, each
// checked as outside text (UTF-8 when valid, otherwise code page 932).
std::string argument_text(int argc, char** argv);

// The environment value as program text, or nullopt when unset.
std::optional<std::string> environment_value(const char* name);

// VELLUMTIDE_HOME when set and not empty, otherwise the folder of the
// executable (from /proc/self/exe, falling back to argv[0]).
std::string program_folder(const char* argv0);

// The executable's file name without folder and extension.
std::string executable_name(const char* argv0);

// A password that is not on the command line: one line of standard input
// without its CR LF or LF when standard input is not a terminal, otherwise
// asked for on the terminal without echo (ui::ask_terminal_password). End of
// input gives an empty password.
Result<std::string> password_from_outside();

// Makes the process non-dumpable, so that the secrets it holds reach no core
// file and no other process of the user can attach to it or read its memory.
void protect_process_memory();

}  // namespace vlt::app
