#pragma once
// The Windows edge of the program, for the *_win32.cpp files only: inside,
// text and paths are UTF-8; the Windows API takes and gives UTF-16. Each
// *_win32.cpp file converts once, where it calls the API, with these helpers.
// Windows error codes (GetLastError) keep their native numbers until they are
// turned into the program's run-time errors or into a reason for a report.
// This header does not include <windows.h>: a code is an unsigned long, as
// DWORD is.

#include <string>
#include <string_view>

#include "common/error_text.h"

namespace vlt {

// UTF-8 to UTF-16 for the API. Program text is valid UTF-8; a malformed
// sequence becomes U+FFFD.
std::wstring to_utf16(std::string_view utf8);

// UTF-16 from the API to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string from_utf16(std::wstring_view utf16);

// The system's description of a Windows error code, followed by the code in
// parentheses: "Access denied. (5)"; only the code when the system has no text.
std::string win32_error_reason(unsigned long code);

// A Windows error code to a run-time error: ERROR_FILE_NOT_FOUND 53,
// ERROR_PATH_NOT_FOUND 76, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION and
// ERROR_LOCK_VIOLATION 70, ERROR_INVALID_NAME 52, ERROR_DIRECTORY and
// ERROR_BAD_PATHNAME 75, ERROR_NOT_ENOUGH_MEMORY and ERROR_OUTOFMEMORY 7,
// anything else 57.
RuntimeError runtime_error_from_win32(unsigned long code);

}  // namespace vlt
