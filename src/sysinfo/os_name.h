#pragma once
// The operating-system name carried in the X-Mailer header.

#include <optional>
#include <string>
#include <vector>

namespace vlt::sysinfo {

struct VersionInfo {
    int platform_id = 0;  // 1 = 9x family, 2 = NT family
    int major = 0;
    int minor = 0;
};

// The three platform operations the naming logic needs; each may fail.
class OsInfoProvider {
public:
    virtual ~OsInfoProvider() = default;
    virtual std::optional<VersionInfo> version() = 0;
    virtual bool extended_version() = 0;
    // Captions of the operating-system instances; nullopt when the service
    // cannot be reached.
    virtual std::optional<std::vector<std::string>> captions() = 0;
};

// The naming table over any provider.
std::string os_name(OsInfoProvider& provider);
// A caption cleaned: cut at NUL, "MicrosoftR"/"Microsoft" removed, "ServerR"
// to "Server", "?" removed, trimmed.
std::string clean_caption(std::string_view caption);

// This machine's name: PRETTY_NAME from /etc/os-release, else uname's system
// name, a blank and its release.
std::string local_os_name();
// As local_os_name, reading os-release from `path` (for tests).
std::string local_os_name_from(const std::string& os_release_path);

}  // namespace vlt::sysinfo
