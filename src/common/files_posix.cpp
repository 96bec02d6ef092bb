// The file helpers' POSIX side: files opened with open(2), errno mapped to the
// run-time errors, and the settings file replaced by rename(2).

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "common/error_text.h"
#include "common/files.h"
#include "common/files_system.h"
#include "common/input_file.h"

namespace vlt {

namespace {

std::string folder_part(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

class Fd {
  public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

  private:
    int m_fd;
};

Error file_error(RuntimeError e, const std::string& path) {
    return Error::on_file(static_cast<int>(e), error_text_full(e), path);
}

Error io_error(int err, const std::string& path) {
    return file_error(runtime_error_from_errno(err), path);
}

bool nothing_there(int err) {
    return err == ENOENT || err == ENOTDIR;
}

Result<std::string> read_all(int fd, std::size_t size, const std::string& path) {
    std::string bytes;
    bytes.resize(size);
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return io_error(errno, path);
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

Status write_all(int fd, std::string_view bytes, const std::string& path) {
    std::size_t put = 0;
    while (put < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + put, bytes.size() - put);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return io_error(errno, path);
        put += static_cast<std::size_t>(n);
    }
    return {};
}

}  // namespace

namespace detail {

std::string_view folder_separators() {
    return "/";
}

}  // namespace detail

Result<InputFile> InputFile::open(const std::string& path, Links links) {
    // O_NONBLOCK: a pipe without a writer opens at once instead of waiting.
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    if (links == Links::Refuse) flags |= O_NOFOLLOW;  // a link gives ELOOP: 75
    Fd fd(::open(path.c_str(), flags));
    if (fd.get() < 0) return io_error(errno, path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return io_error(errno, path);
    FileKind kind = FileKind::Other;
    if (S_ISREG(st.st_mode)) kind = FileKind::Regular;
    if (S_ISDIR(st.st_mode)) kind = FileKind::Folder;
    const std::uint64_t size =
        kind == FileKind::Regular && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    return InputFile(fd.release(), path, kind, size);
}

void InputFile::close() {
    if (m_handle >= 0) ::close(static_cast<int>(m_handle));
    m_handle = -1;
}

Result<std::size_t> InputFile::read(char* data, std::size_t room) {
    while (true) {
        const ssize_t n = ::read(static_cast<int>(m_handle), data, room);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return io_error(errno, m_path);
    }
}

std::uint64_t regular_file_length(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

namespace {

// One atomic replace: the temporary names it uses and the failures it meets.
class Replacement {
  public:
    Replacement(const std::string& path, const ReplaceOptions& options)
        : m_path(path),
          m_options(options),
          m_temp(path + ".tmp" + std::to_string(::getpid())),
          m_backup_temp(m_temp + ".bak") {}
    ~Replacement() {
        // Whatever did not reach its place goes; both names are this process's own.
        ::unlink(m_temp.c_str());
        ::unlink(m_backup_temp.c_str());
    }
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    Status check_target() const;
    void remove_leftovers() const;
    Status write_temp(std::string_view bytes) const;
    Status make_backup() const;
    Status put_in_place() const;

  private:
    // Fails with the errno injected before `step`, if any.
    Status injected(ReplaceStep step, const std::string& file) const {
        const int err = m_options.fault ? m_options.fault(step) : 0;
        if (err != 0) return io_error(err, file);
        return {};
    }
    Status copy_backup() const;

    const std::string& m_path;
    const ReplaceOptions& m_options;
    std::string m_temp;
    std::string m_backup_temp;
};

Status Replacement::check_target() const {
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) != 0) return {};
    if (!S_ISREG(st.st_mode)) return file_error(RuntimeError::PathFileAccess, m_path);
    return {};
}

// A temporary name is "<name>.tmp<pid>" or "<name>.tmp<pid>.bak"; it is left
// over when no process of that id runs (or the id is this process's own).
void Replacement::remove_leftovers() const {
    const std::string prefix = std::string(detail::name_part(m_path)) + ".tmp";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder_part(m_path), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        std::string_view rest = std::string_view(name).substr(prefix.size());
        if (rest.size() > 4 && rest.substr(rest.size() - 4) == ".bak") rest.remove_suffix(4);
        if (rest.empty() || rest.size() > 9 ||
            rest.find_first_not_of("0123456789") != std::string_view::npos) {
            continue;
        }
        const auto pid = static_cast<pid_t>(std::stol(std::string(rest)));
        const bool gone = pid == ::getpid() || (::kill(pid, 0) != 0 && errno == ESRCH);
        if (gone) ::unlink(entry.path().c_str());
    }
}

Status Replacement::write_temp(std::string_view bytes) const {
    VLT_TRY(injected(ReplaceStep::CreateTemp, m_temp));
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    Fd fd(::open(m_temp.c_str(), flags, m_options.mode));
    if (fd.get() < 0) return io_error(errno, m_temp);
    // The mode must not depend on the process's umask.
    ::fchmod(fd.get(), m_options.mode);
    VLT_TRY(injected(ReplaceStep::WriteTemp, m_temp));
    VLT_TRY(write_all(fd.get(), bytes, m_temp));
    VLT_TRY(injected(ReplaceStep::SyncTemp, m_temp));
    if (::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) return io_error(errno, m_temp);
    const std::string folder = folder_part(m_path);
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || ::fsync(dir.get()) != 0) return io_error(errno, folder);
    return {};
}

Status Replacement::copy_backup() const {
    Fd from(::open(m_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (from.get() < 0) return io_error(errno, m_path);
    struct stat st {};
    if (::fstat(from.get(), &st) != 0) return io_error(errno, m_path);
    VLT_TRY_ASSIGN(bytes, read_all(from.get(), static_cast<std::size_t>(st.st_size), m_path));
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    Fd to(::open(m_backup_temp.c_str(), flags, m_options.mode));
    if (to.get() < 0) return io_error(errno, m_backup_temp);
    ::fchmod(to.get(), m_options.mode);
    VLT_TRY(write_all(to.get(), bytes, m_backup_temp));
    if (::fsync(to.get()) != 0 || ::close(to.release()) != 0) return io_error(errno, m_backup_temp);
    return {};
}

// The previous file becomes the backup: a second name for it when the file
// system allows, otherwise a copy; either is renamed over the old backup.
Status Replacement::make_backup() const {
    const std::string backup = m_path + ".bak";
    VLT_TRY(injected(ReplaceStep::MakeBackup, backup));
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) != 0) {
        if (nothing_there(errno)) return {};
        return io_error(errno, m_path);
    }
    ::unlink(m_backup_temp.c_str());
    if (::link(m_path.c_str(), m_backup_temp.c_str()) != 0) VLT_TRY(copy_backup());
    if (::rename(m_backup_temp.c_str(), backup.c_str()) != 0) return io_error(errno, backup);
    return {};
}

Status Replacement::put_in_place() const {
    VLT_TRY(injected(ReplaceStep::Rename, m_path));
    if (::rename(m_temp.c_str(), m_path.c_str()) != 0) return io_error(errno, m_path);
    // The rename is made durable as well; should that flush fail, the folder
    // still holds one complete file (the previous or the new one) either way.
    Fd dir(::open(folder_part(m_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return {};
}

}  // namespace

void remove_own_file(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
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
