#pragma once
// What the shared file helpers (files.cpp) take from the system's own file
// (files_posix.cpp, files_win32.cpp).

#include <string_view>

namespace vlt::detail {

// The characters that separate folders in a path: "/" on POSIX systems, "\"
// and "/" on Windows.
std::string_view folder_separators();

// The last part of `path`, after its last folder separator.
std::string_view name_part(std::string_view path);

}  // namespace vlt::detail
