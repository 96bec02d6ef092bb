#pragma once
// What the shared folder rule (platform.cpp) takes from the system's own file
// (platform_posix.cpp, platform_win32.cpp).

#include <string>

#include "app/platform.h"

namespace vlt::app::detail {

// The characters that separate folders: "/" on POSIX systems, "\" and "/" on
// Windows. The first one joins names.
const char* folder_separators();

// The rule's steps after the executable's own settings files were looked for
// (`exe_folder` without a trailing separator).
RunFolders system_run_folders(const FolderFacts& facts, const std::string& exe_folder);

// The executable's full path (UTF-8 on Windows).
std::string self_path(const char* argv0);

}  // namespace vlt::app::detail
