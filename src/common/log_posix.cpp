#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/log.h"
#include "common/log_file.h"

namespace vlt::detail {

namespace {

// An open log file. Closing it releases the lock taken on it.
class LogFile {
  public:
    explicit LogFile(int fd) : m_fd(fd) {}
    LogFile(LogFile&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    LogFile& operator=(LogFile&&) = delete;
    ~LogFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int fd() const { return m_fd; }

  private:
    int m_fd;
};

Error log_error(const std::string& path, std::string_view why) {
    return Error(ErrorKind::Io, path + ": " + std::string(why));
}

Error errno_error(const std::string& path, int err) {
    return log_error(path, std::strerror(err));
}

// A log holds what the servers said and whom the user wrote to, so it is
// readable by its owner only: a log of ours with a wider mode (made by hand or
// under a loose umask) is narrowed to 0600 before anything more goes into it.
Status narrow_mode(const LogFile& file, const struct stat& st, const std::string& path) {
    if (st.st_uid != ::geteuid() || (st.st_mode & 07177) == 0) return {};
    if (::fchmod(file.fd(), S_IRUSR | S_IWUSR) != 0) return errno_error(path, errno);
    return {};
}

// Opens the log at `path` for appending, creating it with mode 0600. A
// symbolic link is never followed (another user could point it at a file of
// ours), and anything but a regular file is refused. O_NONBLOCK keeps a FIFO
// put in place of the log from holding the run; it has no effect on a
// regular file.
Result<LogFile> open_log(const std::string& path) {
    const int flags =
        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        const int err = errno;
        if (err == ELOOP) return log_error(path, "a symbolic link, not written through");
        return errno_error(path, err);
    }
    LogFile file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno_error(path, errno);
    if (!S_ISREG(st.st_mode)) return log_error(path, "not a regular file");
    VLT_TRY(narrow_mode(file, st, path));
    return file;
}

// Opens the log at `path` and takes an exclusive lock on it. A run that
// rotated the log while this one waited for the lock has renamed the locked
// file away; the lock is then taken again on the file `path` names now, so
// the caller always holds the current file.
Result<LogFile> lock_current(const std::string& path) {
    constexpr int kAttempts = 16;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        VLT_TRY_ASSIGN(file, open_log(path));
        while (::flock(file.fd(), LOCK_EX) != 0) {
            if (errno != EINTR) return errno_error(path, errno);
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(file.fd(), &held) != 0) return errno_error(path, errno);
        if (::lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
            named.st_ino == held.st_ino) {
            return file;
        }
    }
    return log_error(path, "replaced by other runs on every attempt");
}

// Appends `bytes` as one entry. O_APPEND and the lock keep entries of
// concurrent runs apart; a short write (a full disk) goes on where it stopped.
Status write_whole(const LogFile& file, const std::string& path, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file.fd(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno_error(path, errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return {};
}

// Locks the current log for one entry. When it is already longer than the
// limit, it becomes the previous generation first (only one is kept), while
// the lock is held, and the entry goes to a fresh current file.
Result<LogFile> lock_for_entry(const std::string& current, const std::string& previous) {
    {
        VLT_TRY_ASSIGN(file, lock_current(current));
        struct stat st {};
        if (::fstat(file.fd(), &st) != 0) return errno_error(current, errno);
        if (st.st_size <= kLogRotateBytes) return file;
        // When the previous generation cannot be replaced, the current one is
        // dropped instead, so that a log never grows without bound.
        if (::rename(current.c_str(), previous.c_str()) != 0 && ::unlink(current.c_str()) != 0) {
            return errno_error(current, errno);
        }
    }
    return lock_current(current);
}

}  // namespace

std::string log_file_path(std::string_view folder, std::string_view name) {
    std::string p(folder);
    if (!p.empty() && p.back() != '/') p += '/';
    p += name;
    return p;
}

Status append_log_entry(const std::string& current, const std::string& previous,
                        std::string_view entry) {
    VLT_TRY_ASSIGN(file, lock_for_entry(current, previous));
    return write_whole(file, current, entry);
}

}  // namespace vlt::detail
