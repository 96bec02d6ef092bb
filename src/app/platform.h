#pragma once
// What the run needs from the process: the argument text, the environment,
// the program folder and the executable's name.

#include <optional>
#include <string>

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

}  // namespace vlt::app
