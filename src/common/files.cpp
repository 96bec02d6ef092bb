#include "common/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "common/error_text.h"
#include "encoding/utf8.h"

namespace vlt {

namespace {

bool is_hidden(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string::npos
                                      ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
    return !name.empty() && name.front() == '.';
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

Error io_error(int err, const std::string& path) {
    return Error::on_file(error_text_full(runtime_error_from_errno(err)), path);
}

// Opening fails without an error when there is nothing at the path.
bool is_absent(int err) {
    return err == ENOENT || err == ENOTDIR;
}

}  // namespace

std::uint64_t regular_file_length(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

Result<std::optional<std::string>> read_file_bytes(const std::string& path) {
    if (path.empty() || is_hidden(path)) return std::optional<std::string>();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        if (is_absent(errno)) return std::optional<std::string>();
        return io_error(errno, path);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return io_error(errno, path);
    if (!S_ISREG(st.st_mode) || st.st_size < 2) return std::optional<std::string>();
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return io_error(errno, path);
        if (n == 0) break;  // the file shrank while we read it
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    if (bytes.size() < 2) return std::optional<std::string>();
    return std::optional<std::string>(std::move(bytes));
}

Result<std::optional<std::string>> read_text_file(const std::string& path) {
    VLT_TRY_ASSIGN(bytes, read_file_bytes(path));
    if (!bytes) return bytes;
    return std::optional<std::string>(encoding::decode_external(*bytes));
}

Status write_file_bytes(const std::string& path, std::string_view bytes, unsigned mode) {
    namespace fs = std::filesystem;
    const std::string backup = path + ".bak";
    std::error_code ec;
    bool backed_up = false;
    if (fs::is_regular_file(path, ec)) {
        fs::copy_file(path, backup, fs::copy_options::overwrite_existing, ec);
        if (ec) return io_error(ec.value(), path);
        ::chmod(backup.c_str(), mode);
        fs::remove(path, ec);
        if (ec) return io_error(ec.value(), path);
        backed_up = true;
    }
    auto restore = [&](int err) -> Status {
        std::error_code ignored;
        fs::remove(path, ignored);
        if (backed_up) fs::copy_file(backup, path, fs::copy_options::overwrite_existing, ignored);
        fs::remove(backup, ignored);
        return io_error(err, path);
    };
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (fd.get() < 0) return restore(errno);
    ::fchmod(fd.get(), mode);
    if (bytes.size() < 2) return restore(EINVAL);
    std::size_t put = 0;
    while (put < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + put, bytes.size() - put);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return restore(errno);
        put += static_cast<std::size_t>(n);
    }
    if (::close(fd.release()) != 0) return restore(errno);
    return {};
}

}  // namespace vlt
