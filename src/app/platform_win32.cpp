#include <windows.h>

#include <string>
#include <vector>

#include "app/platform.h"
#include "app/platform_system.h"
#include "common/error_text.h"
#include "common/win32.h"
#include "encoding/utf8.h"
#include "ui/windows.h"

namespace vlt::app {

namespace {

std::optional<std::wstring> wide_environment_value(const wchar_t* name) {
    std::wstring value(64, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD n =
            ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            // An empty value and an unset one both give 0; the error tells them apart.
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::wstring();
        }
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(n);  // n counts the terminating NUL here
    }
}

std::optional<std::string> environment_utf8(const wchar_t* name) {
    auto value = wide_environment_value(name);
    if (!value) return std::nullopt;
    return from_utf16(*value);
}

bool is_set(const std::optional<std::string>& value) {
    return value && !value->empty();
}

std::string full_path(const std::string& path) {
    const std::wstring wide = to_utf16(path);
    const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring out(n, L'\0');
    const DWORD got = ::GetFullPathNameW(wide.c_str(), n, out.data(), nullptr);
    if (got == 0 || got >= n) return path;
    out.resize(got);
    return from_utf16(out);
}

std::string parent_folder(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return {};
    // "C:\vellumtide.exe" lies in "C:\".
    if (slash == 2 && path[1] == ':') return path.substr(0, 3);
    return path.substr(0, slash);
}

bool file_exists(const std::string& path) {
    return ::GetFileAttributesW(to_utf16(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A file of a name no other run uses, created and removed again when closed.
bool can_create_file(const std::string& folder) {
    std::string probe = folder;
    if (!probe.empty() && probe.back() != '\\' && probe.back() != '/') probe += '\\';
    probe += "vlt" + std::to_string(::GetCurrentProcessId()) + ".probe";
    const HANDLE h = ::CreateFileW(to_utf16(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

bool is_folder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Makes the folder and the parents it lacks; the error code of the step
// that failed, or 0.
DWORD make_folders(const std::wstring& folder) {
    if (folder.empty() || is_folder(folder)) return 0;
    const std::size_t slash = folder.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0) {
        const std::wstring parent = folder.substr(0, slash);
        // A drive ("C:") or a share root is there or cannot be made anyway.
        if (parent.size() > 2 || parent.back() != L':') {
            if (const DWORD err = make_folders(parent); err != 0) return err;
        }
    }
    if (::CreateDirectoryW(folder.c_str(), nullptr)) return 0;
    const DWORD err = ::GetLastError();
    // Another run may have made it in the meantime; a file in the way means
    // the path cannot be reached, as on POSIX systems.
    if (err == ERROR_ALREADY_EXISTS) return is_folder(folder) ? 0 : ERROR_PATH_NOT_FOUND;
    return err;
}

}  // namespace

namespace detail {

const char* folder_separators() {
    return "\\/";
}

RunFolders system_run_folders(const FolderFacts& facts, const std::string& exe_folder) {
    if (facts.can_create_file && facts.can_create_file(exe_folder)) {
        return {exe_folder, exe_folder, FolderMaking::None};
    }
    if (!is_set(facts.local_app_data)) return {exe_folder, exe_folder, FolderMaking::None};
    std::string base = *facts.local_app_data;
    while (base.size() > 1 && (base.back() == '\\' || base.back() == '/')) base.pop_back();
    const std::string folder = base + "\\Vellumtide";
    return {folder, folder, FolderMaking::WhenMissing};
}

std::string self_path(const char* /*argv0*/) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return from_utf16(path);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace detail

void prepare_process() {}

std::string argument_text(int /*argc*/, char** /*argv*/) {
    const wchar_t* line = ::GetCommandLineW();
    return command_line_arguments(line != nullptr ? from_utf16(line) : std::string());
}

std::optional<std::string> environment_value(const char* name) {
    return environment_utf8(to_utf16(name).c_str());
}

FolderFacts process_folder_facts(const char* argv0) {
    FolderFacts facts;
    facts.vellumtide_home = environment_utf8(L"VELLUMTIDE_HOME");
    if (is_set(facts.vellumtide_home)) facts.vellumtide_home = full_path(*facts.vellumtide_home);
    facts.local_app_data = environment_utf8(L"LOCALAPPDATA");
    facts.exe_folder = parent_folder(detail::self_path(argv0));
    facts.file_exists = file_exists;
    facts.can_create_file = can_create_file;
    return facts;
}

Status make_private_folder(const std::string& folder) {
    const DWORD err = make_folders(to_utf16(folder));
    if (err == 0) return {};
    const RuntimeError e = runtime_error_from_win32(err);
    return Error::on_file(static_cast<int>(e), error_text_full(e), folder);
}

Result<std::string> password_from_outside() {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (in != nullptr && in != INVALID_HANDLE_VALUE && ::GetConsoleMode(in, &mode)) {
        return ui::ask_terminal_password();
    }
    // A byte at a time, as on POSIX systems: the rest of the input stays unread.
    std::string line;
    char c = 0;
    DWORD n = 0;
    while (in != nullptr && in != INVALID_HANDLE_VALUE && ::ReadFile(in, &c, 1, &n, nullptr) &&
           n == 1 && c != '\n') {
        line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return encoding::decode_external(line);
}

void protect_process_memory() {}

}  // namespace vlt::app
