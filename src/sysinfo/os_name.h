#pragma once
// The operating-system name carried in the X-Mailer header.
//
// The naming table (os_name) is shared; each system has its own provider of
// the facts behind it: on Windows the true version (RtlGetVersion) and the
// product name from the registry (os_name_win32.cpp), on POSIX the
// os-release file or uname (os_name_posix.cpp, os_release.h).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vlt::sysinfo {

struct VersionInfo {
    int platform_id = 0;  // 1 = 9x family, 2 = NT family
    int major = 0;
    int minor = 0;
    int build = 0;
};

// How NT 6.2 and later (Windows 8 to 11, Server 2012 and later) are named:
// "unknown" as the table has it, or by their caption like NT 6.0 and 6.1.
enum class ModernNt { Unknown, ByCaption };

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

// The naming table over any provider. An NT system whose name comes from its
// caption is named by the last caption the provider lists, cleaned; empty
// when the extended version query fails or there is no caption.
std::string os_name(OsInfoProvider& provider, ModernNt modern = ModernNt::Unknown);
// A caption cleaned: cut at NUL, "MicrosoftR"/"Microsoft" removed, "ServerR"
// to "Server", "?" removed, trimmed.
std::string clean_caption(std::string_view caption);

// A product name as the registry keeps it, for the build it runs on: Windows
// 11 (build 22000 and later) still calls itself "Windows 10" there, so that
// name is corrected to "Windows 11"; any other name is kept.
std::string product_caption(std::string_view product_name, int build);

// This machine's name. POSIX: PRETTY_NAME from /etc/os-release, else uname's
// system name, a blank and its release. Windows: the naming table over the
// true version and the product name, NT 6.2 and later by their caption.
std::string local_os_name();

}  // namespace vlt::sysinfo
