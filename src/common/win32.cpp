#include "common/win32.h"

#include <windows.h>

#include <climits>

#include "common/text.h"

namespace vlt {

namespace {

// The API takes lengths as int; program texts are far shorter, and a longer
// one is cut rather than wrapped around.
int api_length(std::size_t n) {
    return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

}  // namespace

std::wstring to_utf16(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int in = api_length(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in, out.data(), n);
    return out;
}

std::string from_utf16(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int in = api_length(utf16.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), in, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), in, out.data(), n, nullptr, nullptr);
    return out;
}

std::string win32_error_reason(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason;
    if (n > 0 && text != nullptr) reason = trim(trim_crlf(from_utf16(std::wstring_view(text, n))));
    if (text != nullptr) ::LocalFree(text);
    if (!reason.empty()) reason += ' ';
    reason += '(';
    reason += std::to_string(code);
    reason += ')';
    return reason;
}

RuntimeError runtime_error_from_win32(unsigned long code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
            return RuntimeError::FileNotFound;
        case ERROR_PATH_NOT_FOUND:
            return RuntimeError::PathNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return RuntimeError::PermissionDenied;
        case ERROR_INVALID_NAME:
            return RuntimeError::BadFileName;
        case ERROR_DIRECTORY:
        case ERROR_BAD_PATHNAME:
            return RuntimeError::PathFileAccess;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return RuntimeError::OutOfMemory;
        default:
            return RuntimeError::DeviceIo;
    }
}

}  // namespace vlt
