#include <windows.h>

#include <algorithm>
#include <utility>

#include "common/log.h"
#include "common/log_file.h"
#include "common/win32.h"
#include "encoding/cp932.h"

namespace vlt::detail {

namespace {

// The lock is taken on one byte far past the end of any log: it orders the
// runs that write, and nobody's reading or writing of the file itself touches
// that range.
constexpr DWORD kLockOffsetHigh = 0x40000000;

// An open log file, unlocked and closed when it goes.
class LogFile {
  public:
    explicit LogFile(HANDLE handle) : m_handle(handle) {}
    LogFile(LogFile&& other) noexcept
        : m_handle(std::exchange(other.m_handle, nullptr)),
          m_locked(std::exchange(other.m_locked, false)) {}
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    LogFile& operator=(LogFile&&) = delete;
    ~LogFile() {
        if (m_handle == nullptr) return;
        if (m_locked) {
            OVERLAPPED at{};
            at.OffsetHigh = kLockOffsetHigh;
            ::UnlockFileEx(m_handle, 0, 1, 0, &at);
        }
        ::CloseHandle(m_handle);
    }
    HANDLE handle() const { return m_handle; }

    // Waits until no other run holds the lock.
    bool lock() {
        OVERLAPPED at{};
        at.OffsetHigh = kLockOffsetHigh;
        m_locked = ::LockFileEx(m_handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
        return m_locked;
    }

  private:
    HANDLE m_handle;
    bool m_locked = false;
};

Error log_error(const std::string& path, std::string_view why) {
    return Error(ErrorKind::Io, path + ": " + std::string(why));
}

Error last_error(const std::string& path) {
    const DWORD code = ::GetLastError();
    return log_error(path, win32_error_reason(code));
}

// A file's identity: its volume and its index on that volume.
struct FileId {
    DWORD volume = 0;
    DWORD index_high = 0;
    DWORD index_low = 0;
    bool operator==(const FileId&) const = default;
};

bool file_info(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return ::GetFileInformationByHandle(handle, &info) != 0;
}

FileId id_of(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// True when `path` names the file `held` now (another run may have renamed
// it away meanwhile).
bool path_names(const std::string& path, const FileId& held) {
    const HANDLE handle = ::CreateFileW(
        to_utf16(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool same = file_info(handle, info) && id_of(info) == held;
    ::CloseHandle(handle);
    return same;
}

// Opens the log at `path` for appending, creating it when it is missing. Every
// run shares reading, writing and deleting, so that runs never keep each
// other out and one of them can rotate the log while others hold it open. A
// reparse point (a symbolic link, a junction) is opened as itself and never
// written through, and anything but a disk file is refused.
Result<LogFile> open_log(const std::string& path) {
    const HANDLE handle = ::CreateFileW(
        to_utf16(path).c_str(), FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return last_error(path);
    LogFile file(handle);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file_info(handle, info)) return last_error(path);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return log_error(path, "a reparse point, not written through");
    }
    if (::GetFileType(handle) != FILE_TYPE_DISK ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return log_error(path, "not a regular file");
    }
    return file;
}

// Opens the log at `path` and takes the lock on it. A run that rotated the
// log while this one waited for the lock has renamed the locked file away;
// the lock is then taken again on the file `path` names now, so the caller
// always holds the current file.
Result<LogFile> lock_current(const std::string& path) {
    constexpr int kAttempts = 16;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        VLT_TRY_ASSIGN(file, open_log(path));
        if (!file.lock()) return last_error(path);
        BY_HANDLE_FILE_INFORMATION held{};
        if (!file_info(file.handle(), held)) return last_error(path);
        if (path_names(path, id_of(held))) return file;
    }
    return log_error(path, "replaced by other runs on every attempt");
}

// Locks the current log for one entry. When it is already longer than the
// limit, it becomes the previous generation first (only one is kept), while
// the lock is held, and the entry goes to a fresh current file. When the
// rename fails (another program holds the previous file without sharing its
// deletion), the entry goes to the current file and a later write tries again.
Result<LogFile> lock_for_entry(const std::string& current, const std::string& previous) {
    {
        VLT_TRY_ASSIGN(file, lock_current(current));
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file.handle(), &size)) return last_error(current);
        if (size.QuadPart <= kLogRotateBytes) return file;
        if (!::MoveFileExW(to_utf16(current).c_str(), to_utf16(previous).c_str(),
                           MOVEFILE_REPLACE_EXISTING)) {
            return file;
        }
    }
    return lock_current(current);
}

// Appends `bytes` in one write; FILE_APPEND_DATA without FILE_WRITE_DATA puts
// every write at the end of the file. A short write goes on where it stopped.
Status write_whole(const LogFile& file, const std::string& path, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto piece =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, std::size_t{1} << 30));
        DWORD written = 0;
        if (!::WriteFile(file.handle(), bytes.data() + done, piece, &written, nullptr)) {
            return last_error(path);
        }
        if (written == 0) return log_error(path, "nothing written");
        done += written;
    }
    return {};
}

}  // namespace

std::string log_file_path(std::string_view folder, std::string_view name) {
    std::string p(folder);
    if (!p.empty() && p.back() != '\\' && p.back() != '/') p += '\\';
    p += name;
    return p;
}

// Windows tools and batch files read text in the system code page, so the
// entry is written in code page 932, the code page of a Japanese Windows.
Status append_log_entry(const std::string& current, const std::string& previous,
                        std::string_view entry) {
    const std::string bytes = encoding::to_cp932(entry);
    VLT_TRY_ASSIGN(file, lock_for_entry(current, previous));
    return write_whole(file, current, bytes);
}

}  // namespace vlt::detail
