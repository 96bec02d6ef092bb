#include "common/files.h"

#include <utility>

#include "common/error_text.h"
#include "common/files_system.h"
#include "common/input_file.h"
#include "encoding/utf8.h"

namespace vlt {

namespace detail {

std::string_view name_part(std::string_view path) {
    const std::size_t separator = path.find_last_of(folder_separators());
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

}  // namespace detail

namespace {

using detail::name_part;

bool is_hidden(const std::string& path) {
    const std::string_view name = name_part(path);
    return !name.empty() && name.front() == '.';
}

Error file_error(RuntimeError e, const std::string& path) {
    return Error::on_file(static_cast<int>(e), error_text_full(e), path);
}

// Reads up to `size` bytes (fewer when the file shrank meanwhile).
Result<std::string> read_all(InputFile& file, std::size_t size) {
    std::string bytes;
    bytes.resize(size);
    std::size_t got = 0;
    while (got < bytes.size()) {
        VLT_TRY_ASSIGN(n, file.read(bytes.data() + got, bytes.size() - got));
        if (n == 0) break;
        got += n;
    }
    bytes.resize(got);
    return bytes;
}

}  // namespace

Result<std::optional<std::string>> read_file_bytes(const std::string& path) {
    if (path.empty() || is_hidden(path)) return std::optional<std::string>();
    auto opened = InputFile::open(path, Links::Follow);
    if (!opened.ok()) {
        if (is_absent(opened.error())) return std::optional<std::string>();
        return std::move(opened).error();
    }
    InputFile& file = *opened;
    if (file.kind() != FileKind::Regular || file.size() < 2) return std::optional<std::string>();
    VLT_TRY_ASSIGN(bytes, read_all(file, static_cast<std::size_t>(file.size())));
    if (bytes.size() < 2) return std::optional<std::string>();
    return std::optional<std::string>(std::move(bytes));
}

Result<std::optional<std::string>> read_text_file(const std::string& path) {
    VLT_TRY_ASSIGN(bytes, read_file_bytes(path));
    if (!bytes) return bytes;
    return std::optional<std::string>(encoding::decode_external_owned(std::move(*bytes)));
}

Result<std::optional<std::string>> read_own_file(const std::string& path, std::uint64_t max_bytes) {
    auto opened = InputFile::open(path, Links::Refuse);  // a link: run-time error 75
    if (!opened.ok()) {
        if (is_absent(opened.error())) return std::optional<std::string>();
        return std::move(opened).error();
    }
    InputFile& file = *opened;
    if (file.kind() != FileKind::Regular) return file_error(RuntimeError::PathFileAccess, path);
    if (file.size() > max_bytes) return file_error(RuntimeError::Overflow, path);
    VLT_TRY_ASSIGN(bytes, read_all(file, static_cast<std::size_t>(file.size())));
    if (bytes.size() < 2) return std::optional<std::string>();
    return std::optional<std::string>(std::move(bytes));
}

bool is_absent(const Error& error) {
    return error.run_time_error == static_cast<int>(RuntimeError::FileNotFound) ||
           error.run_time_error == static_cast<int>(RuntimeError::PathNotFound);
}

// The handle moves with the object; only close() differs between systems.
InputFile::InputFile(InputFile&& other) noexcept
    : m_handle(std::exchange(other.m_handle, -1)),
      m_path(std::move(other.m_path)),
      m_kind(other.m_kind),
      m_size(other.m_size) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, -1);
        m_path = std::move(other.m_path);
        m_kind = other.m_kind;
        m_size = other.m_size;
    }
    return *this;
}

InputFile::~InputFile() {
    close();
}

}  // namespace vlt
