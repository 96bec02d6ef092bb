#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "common/win32.h"
#include "sysinfo/os_name.h"

namespace vlt::sysinfo {
namespace {

// RtlGetVersion reports the true version; GetVersionEx reports 6.2 to every
// program whose manifest does not name the newer systems. It is looked up in
// ntdll, which every process has loaded, since the SDK headers do not declare it.
using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);

std::optional<OSVERSIONINFOEXW> true_version() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return std::nullopt;
    const FARPROC found = GetProcAddress(ntdll, "RtlGetVersion");
    if (found == nullptr) return std::nullopt;
    // Through the generic function type, which any function pointer may pass.
    const auto rtl_get_version =
        reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void (*)()>(found));
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (rtl_get_version(&info) != 0) return std::nullopt;  // not STATUS_SUCCESS
    return info;
}

// The product name the registry keeps for this installation, as UTF-8.
std::optional<std::string> product_name() {
    constexpr const wchar_t* kKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    constexpr const wchar_t* kValue = L"ProductName";
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_SZ, nullptr, text.data(),
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    text.resize(size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return from_utf16(text);
}

// The facts of this machine, read once each.
class Win32Provider final : public OsInfoProvider {
  public:
    std::optional<VersionInfo> version() override {
        if (!m_info) return std::nullopt;
        return VersionInfo{
            static_cast<int>(m_info->dwPlatformId), static_cast<int>(m_info->dwMajorVersion),
            static_cast<int>(m_info->dwMinorVersion), static_cast<int>(m_info->dwBuildNumber)};
    }
    // The extended form of the version is what RtlGetVersion filled in.
    bool extended_version() override { return m_info.has_value(); }
    std::optional<std::vector<std::string>> captions() override {
        const auto name = product_name();
        if (!name) return std::nullopt;
        return std::vector<std::string>{
            product_caption(*name, m_info ? static_cast<int>(m_info->dwBuildNumber) : 0)};
    }

  private:
    std::optional<OSVERSIONINFOEXW> m_info = true_version();
};

}  // namespace

std::string local_os_name() {
    Win32Provider provider;
    return os_name(provider, ModernNt::ByCaption);
}

}  // namespace vlt::sysinfo
