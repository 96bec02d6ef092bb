#pragma once
// A file opened for reading by its name, through the system: POSIX calls on
// POSIX systems, CreateFileW with the UTF-16 name on Windows (where "\" and
// "/" both separate folders). The file is read in pieces and closed when the
// object goes; the object owns its handle and is moved, never copied.
//
// A failure is an Error (ErrorKind::Io) whose `run_time_error` is the system's
// own error (errno, or GetLastError on Windows) mapped to the program's
// run-time error, whose report is that error's full text, and whose `path`
// names the file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/result.h"

namespace vlt {

enum class FileKind { Regular, Folder, Other };

// Whether opening goes through a symbolic link (on Windows, any reparse
// point) to what it names, or refuses it.
enum class Links { Follow, Refuse };

class InputFile {
  public:
    // Opens `path` without waiting for a writer (a pipe or a device opens at
    // once; only a regular file is meant to be read). With Links::Refuse a
    // link fails with run-time error 75.
    static Result<InputFile> open(const std::string& path, Links links);

    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    FileKind kind() const { return m_kind; }
    // The length when the file was opened; 0 for anything but a regular file.
    std::uint64_t size() const { return m_size; }

    // Reads up to `room` bytes into `data`; 0 at the end of the file. Reading
    // a folder fails with run-time error 75.
    Result<std::size_t> read(char* data, std::size_t room);

  private:
    InputFile(std::intptr_t handle, std::string path, FileKind kind, std::uint64_t size)
        : m_handle(handle), m_path(std::move(path)), m_kind(kind), m_size(size) {}
    void close();

    std::intptr_t m_handle;  // a file descriptor, or a Windows HANDLE
    std::string m_path;
    FileKind m_kind;
    std::uint64_t m_size;
};

// True when a failed open found nothing at its path (run-time error 53 or 76):
// the file, or a folder on the way to it, is missing.
bool is_absent(const Error& error);

}  // namespace vlt
