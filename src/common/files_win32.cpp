// The file helpers' Windows side: files opened by their UTF-16 names with
// CreateFileW, Windows error codes mapped to the run-time errors, and the
// settings file replaced with MoveFileExW. Reparse points (symbolic links,
// junctions) are never written through.

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "common/error_text.h"
#include "common/files.h"
#include "common/files_system.h"
#include "common/input_file.h"
#include "common/win32.h"

namespace vlt {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A piece of one ReadFile or WriteFile call; the API counts in DWORD.
constexpr std::size_t kPiece = std::size_t{1} << 30;

// The folder holding `path`, with its trailing separator ("" for the current folder).
std::string folder_part(const std::string& path) {
    const std::size_t at = path.find_last_of(detail::folder_separators());
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

// Closes the handle when it goes.
class Handle {
  public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() {
        if (valid()) ::CloseHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE release() { return std::exchange(m_handle, INVALID_HANDLE_VALUE); }

  private:
    HANDLE m_handle;
};

Error file_error(RuntimeError e, const std::string& path) {
    return Error::on_file(static_cast<int>(e), error_text_full(e), path);
}

Error io_error(DWORD code, const std::string& path) {
    return file_error(runtime_error_from_win32(code), path);
}

Error last_error(const std::string& path) {
    return io_error(::GetLastError(), path);
}

// Opens what `path` names for its attributes only; with `links` Refuse a
// reparse point is opened as itself. Folders open as well.
HANDLE open_attributes(const std::string& path, Links links) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
    if (links == Links::Refuse) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    return ::CreateFileW(to_utf16(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                         OPEN_EXISTING, flags, nullptr);
}

struct Facts {
    FileKind kind = FileKind::Other;
    bool reparse_point = false;
    std::uint64_t size = 0;
};

bool facts_of(HANDLE handle, Facts& facts) {
    if (::GetFileType(handle) != FILE_TYPE_DISK) return true;  // a device or a pipe
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) return false;
    facts.reparse_point = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        facts.kind = FileKind::Folder;
    } else {
        facts.kind = FileKind::Regular;
        facts.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    }
    return true;
}

Status write_all(HANDLE handle, std::string_view bytes, const std::string& path) {
    std::size_t put = 0;
    while (put < bytes.size()) {
        const auto piece = static_cast<DWORD>(std::min(bytes.size() - put, kPiece));
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data() + put, piece, &written, nullptr)) {
            return last_error(path);
        }
        if (written == 0) return io_error(ERROR_WRITE_FAULT, path);
        put += written;
    }
    return {};
}

}  // namespace

namespace detail {

std::string_view folder_separators() {
    return "\\/";
}

}  // namespace detail

Result<InputFile> InputFile::open(const std::string& path, Links links) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN;
    if (links == Links::Refuse) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    Handle handle(::CreateFileW(to_utf16(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                OPEN_EXISTING, flags, nullptr));
    if (!handle.valid()) return last_error(path);
    Facts facts;
    if (!facts_of(handle.get(), facts)) return last_error(path);
    if (facts.reparse_point && links == Links::Refuse) {
        return file_error(RuntimeError::PathFileAccess, path);
    }
    return InputFile(reinterpret_cast<std::intptr_t>(handle.release()), path, facts.kind,
                     facts.size);
}

void InputFile::close() {
    if (m_handle != -1) ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

Result<std::size_t> InputFile::read(char* data, std::size_t room) {
    // A folder opens (for its attributes) but holds no bytes to read.
    if (m_kind == FileKind::Folder) return io_error(ERROR_DIRECTORY, m_path);
    DWORD got = 0;
    const auto piece = static_cast<DWORD>(std::min(room, kPiece));
    if (!::ReadFile(reinterpret_cast<HANDLE>(m_handle), data, piece, &got, nullptr)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return std::size_t{0};
        return io_error(code, m_path);
    }
    return std::size_t{got};
}

std::uint64_t regular_file_length(const std::string& path) {
    if (path.empty()) return 0;
    const Handle handle(open_attributes(path, Links::Follow));
    Facts facts;
    if (!handle.valid() || !facts_of(handle.get(), facts)) return 0;
    return facts.kind == FileKind::Regular ? facts.size : 0;
}

namespace {

constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// One atomic replace: the temporary names it uses and the failures it meets.
class Replacement {
  public:
    Replacement(const std::string& path, const ReplaceOptions& options)
        : m_path(path),
          m_options(options),
          m_temp(path + ".tmp" + std::to_string(::GetCurrentProcessId())),
          m_backup_temp(m_temp + ".bak") {}
    ~Replacement() {
        // Whatever did not reach its place goes; both names are this process's own.
        ::DeleteFileW(to_utf16(m_temp).c_str());
        ::DeleteFileW(to_utf16(m_backup_temp).c_str());
    }
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    Status check_target() const;
    void remove_leftovers() const;
    Status write_temp(std::string_view bytes) const;
    Status make_backup() const;
    Status put_in_place() const;

  private:
    // Fails with the Windows error code injected before `step`, if any.
    Status injected(ReplaceStep step, const std::string& file) const {
        const int code = m_options.fault ? m_options.fault(step) : 0;
        if (code != 0) return io_error(static_cast<DWORD>(code), file);
        return {};
    }

    const std::string& m_path;
    const ReplaceOptions& m_options;
    std::string m_temp;
    std::string m_backup_temp;
};

// A reparse point at the path is never replaced or written through, nor is a
// folder or a device.
Status Replacement::check_target() const {
    const Handle handle(open_attributes(m_path, Links::Refuse));
    if (!handle.valid()) return {};
    Facts facts;
    if (!facts_of(handle.get(), facts)) return last_error(m_path);
    if (facts.reparse_point || facts.kind != FileKind::Regular) {
        return file_error(RuntimeError::PathFileAccess, m_path);
    }
    return {};
}

// True when no process of that id runs (or the id is this process's own).
bool process_gone(DWORD pid) {
    if (pid == ::GetCurrentProcessId()) return true;
    const Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.valid()) return ::GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    return ::GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE;
}

// A temporary name is "<name>.tmp<pid>" or "<name>.tmp<pid>.bak"; it is left
// over when no process of that id runs.
void Replacement::remove_leftovers() const {
    const std::string prefix = std::string(detail::name_part(m_path)) + ".tmp";
    const std::string folder = folder_part(m_path);
    std::error_code ec;
    const std::filesystem::path where(folder.empty() ? std::wstring(L".") : to_utf16(folder));
    for (const auto& entry : std::filesystem::directory_iterator(where, ec)) {
        const std::string name = from_utf16(entry.path().filename().native());
        if (name.rfind(prefix, 0) != 0) continue;
        std::string_view rest = std::string_view(name).substr(prefix.size());
        if (rest.size() > 4 && rest.substr(rest.size() - 4) == ".bak") rest.remove_suffix(4);
        if (rest.empty() || rest.size() > 10 ||
            rest.find_first_not_of("0123456789") != std::string_view::npos) {
            continue;
        }
        const unsigned long long pid = std::stoull(std::string(rest));
        if (pid > 0xFFFFFFFFull) continue;
        if (process_gone(static_cast<DWORD>(pid))) ::DeleteFileW(entry.path().c_str());
    }
}

Status Replacement::write_temp(std::string_view bytes) const {
    VLT_TRY(injected(ReplaceStep::CreateTemp, m_temp));
    // CREATE_NEW fails on anything already there, a reparse point included.
    Handle file(::CreateFileW(to_utf16(m_temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return last_error(m_temp);
    VLT_TRY(injected(ReplaceStep::WriteTemp, m_temp));
    VLT_TRY(write_all(file.get(), bytes, m_temp));
    VLT_TRY(injected(ReplaceStep::SyncTemp, m_temp));
    if (!::FlushFileBuffers(file.get())) return last_error(m_temp);
    if (!::CloseHandle(file.release())) return last_error(m_temp);
    return {};
}

// The previous file becomes the backup: a second name for it when the file
// system allows, otherwise a copy; either is moved over the old backup.
Status Replacement::make_backup() const {
    const std::string backup = m_path + ".bak";
    VLT_TRY(injected(ReplaceStep::MakeBackup, backup));
    const std::wstring path = to_utf16(m_path);
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return {};
        return io_error(code, m_path);
    }
    const std::wstring backup_temp = to_utf16(m_backup_temp);
    ::DeleteFileW(backup_temp.c_str());
    if (!::CreateHardLinkW(backup_temp.c_str(), path.c_str(), nullptr) &&
        !::CopyFileW(path.c_str(), backup_temp.c_str(), TRUE)) {
        return last_error(m_backup_temp);
    }
    if (!::MoveFileExW(backup_temp.c_str(), to_utf16(backup).c_str(), kMoveFlags)) {
        return last_error(backup);
    }
    return {};
}

// MOVEFILE_WRITE_THROUGH returns only once the move is on disk.
Status Replacement::put_in_place() const {
    VLT_TRY(injected(ReplaceStep::Rename, m_path));
    if (!::MoveFileExW(to_utf16(m_temp).c_str(), to_utf16(m_path).c_str(), kMoveFlags)) {
        return last_error(m_path);
    }
    return {};
}

}  // namespace

void remove_own_file(const std::string& path) {
    const std::wstring wide = to_utf16(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return;
    ::DeleteFileW(wide.c_str());
}

Status replace_file(const std::string& path, std::string_view bytes,
                    const ReplaceOptions& options) {
    const Replacement replacement(path, options);
    VLT_TRY(replacement.check_target());
    replacement.remove_leftovers();
    VLT_TRY(replacement.write_temp(bytes));
    VLT_TRY(replacement.make_backup());
    return replacement.put_in_place();
}

}  // namespace vlt
