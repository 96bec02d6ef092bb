#include <windows.h>

#include <climits>
#include <string>

#include "common/console.h"
#include "common/win32.h"

namespace vlt {

namespace {

DWORD api_length(std::size_t n) {
    return n > static_cast<std::size_t>(INT_MAX) ? static_cast<DWORD>(INT_MAX)
                                                 : static_cast<DWORD>(n);
}

// LF without a CR before it becomes CR LF, the line end of Windows text.
std::string with_crlf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    char previous = '\0';
    for (char c : text) {
        if (c == '\n' && previous != '\r') out += '\r';
        out += c;
        previous = c;
    }
    return out;
}

// UTF-16 text in `code_page`; a character the code page lacks becomes "?".
std::string in_code_page(std::wstring_view text, UINT code_page) {
    if (text.empty()) return {};
    const int in = static_cast<int>(api_length(text.size()));
    // Code pages of the UTF family take no replacement character and no
    // flags; the others map no character to a look-alike ("ä" is not "a").
    const bool utf = code_page == CP_UTF8 || code_page == CP_UTF7;
    const char* replacement = utf ? nullptr : "?";
    const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n =
        ::WideCharToMultiByte(code_page, flags, text.data(), in, nullptr, 0, replacement, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(code_page, flags, text.data(), in, out.data(), n, replacement, nullptr);
    return out;
}

void write_to(DWORD which, std::string_view text) {
    const HANDLE handle = ::GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
    const std::wstring wide = to_utf16(with_crlf(text));
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode)) {
        std::wstring_view rest = wide;
        while (!rest.empty()) {
            DWORD written = 0;
            if (!::WriteConsoleW(handle, rest.data(), api_length(rest.size()), &written, nullptr) ||
                written == 0)
                return;
            rest.remove_prefix(written);
        }
        return;
    }
    // A process started from a console keeps that console's code page for its
    // redirected output; without a console the system's code page is the one
    // Windows tools read.
    const UINT console_page = ::GetConsoleOutputCP();
    const std::string bytes = in_code_page(wide, console_page != 0 ? console_page : ::GetACP());
    std::string_view rest = bytes;
    while (!rest.empty()) {
        DWORD written = 0;
        if (!::WriteFile(handle, rest.data(), api_length(rest.size()), &written, nullptr) ||
            written == 0)
            return;
        rest.remove_prefix(written);
    }
}

}  // namespace

void write_standard_output(std::string_view text) {
    write_to(STD_OUTPUT_HANDLE, text);
}

void write_standard_error(std::string_view text) {
    write_to(STD_ERROR_HANDLE, text);
}

}  // namespace vlt
