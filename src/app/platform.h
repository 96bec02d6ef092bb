#pragma once
// What the run needs from the process: the argument text, the environment,
// the folders of the settings and the logs, the executable's name, a password
// from outside the command line; and the protection of the process's memory.

#include <functional>
#include <optional>
#include <string>

#include "common/result.h"

namespace vlt::app {

// The arguments after the program name joined with single blanks, each
// checked as outside text (UTF-8 when valid, otherwise code page 932).
std::string argument_text(int argc, char** argv);

// The environment value as program text, or nullopt when unset.
std::optional<std::string> environment_value(const char* name);

// Whether the run makes its folders when they are missing.
enum class FolderMaking {
    None,         // folders the user chose or the executable's own: used as they are
    WhenMissing,  // the user's own folders of an installed program
};

// Where one run reads and writes its settings file and its logs.
struct RunFolders {
    std::string settings;
    std::string logs;
    FolderMaking making = FolderMaking::None;
};

// What the folder rule looks at. Unset variables are nullopt; the paths are
// as the system gives them (not decoded).
struct FolderFacts {
    std::optional<std::string> vellumtide_home;  // VELLUMTIDE_HOME, made absolute
    std::optional<std::string> xdg_config_home;
    std::optional<std::string> xdg_state_home;
    std::optional<std::string> home;  // HOME
    std::string account_home;         // the home folder of the user's password entry
    std::string exe_folder;           // the executable's folder, absolute
    std::function<bool(const std::string& path)> file_exists;
};

// The folder rule, in this order:
// 1. VELLUMTIDE_HOME when set and not empty: settings and logs there.
// 2. The executable's folder, when it holds vlt.sysdat or an older settings
//    file, or when the executable is not installed (its folder is not under
//    /usr, /opt, /bin or /sbin): settings and logs there.
// 3. Otherwise the settings in ${XDG_CONFIG_HOME:-~/.config}/vellumtide and
//    the logs in ${XDG_STATE_HOME:-~/.local/state}/vellumtide, made when
//    missing. An XDG variable holding a relative path is ignored; without
//    HOME the password entry's home is used. With no home at all, the
//    executable's folder stands in for the base.
// Folders come without a trailing slash.
RunFolders choose_run_folders(const FolderFacts& facts);

// The facts of this process (the executable from /proc/self/exe, falling
// back to argv[0]) and the folders they give.
FolderFacts process_folder_facts(const char* argv0);
RunFolders run_folders(const char* argv0);

// Makes `folder` when it is missing: its parents with the default mode, the
// folder itself with mode 0700. A folder that is already there is left as it
// is. Fails like a settings file that cannot be written: the run-time error
// of the errno, with the path.
Status make_private_folder(const std::string& folder);

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
