#pragma once
// POSIX only: the name of this machine's system from an os-release file.

#include <string>

namespace vlt::sysinfo {

// PRETTY_NAME from the os-release file at `os_release_path` (shell quoting
// undone, the last assignment wins), else uname's system name, a blank and
// its release. local_os_name() reads /etc/os-release, or /usr/lib/os-release
// when that is missing.
std::string local_os_name_from(const std::string& os_release_path);

}  // namespace vlt::sysinfo
