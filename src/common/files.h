#pragma once
// Whole-file helpers shared by the run flow and the settings: a parameter may
// name a file instead of holding the text, and the settings file is read and
// written whole.
//
// A file counts only when it is an ordinary, not hidden (name not beginning
// with "."), file of at least two bytes; anything else reads as "no file".
// A file that is there but cannot be read or written is an Error whose `path`
// names it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace vlt {

// The bytes of the file; nullopt when there is no such file.
Result<std::optional<std::string>> read_file_bytes(const std::string& path);

// The file's text: UTF-8 when its bytes are valid UTF-8 (a byte-order mark
// dropped), otherwise code page 932.
Result<std::optional<std::string>> read_text_file(const std::string& path);

// Length of an ordinary file, 0 for anything else (missing, folder, device).
std::uint64_t regular_file_length(const std::string& path);

// Writes the file whole. An existing file is first kept as path + ".bak"
// (replacing an older copy); when the write fails the backup is put back.
// Both files get `mode`.
Status write_file_bytes(const std::string& path, std::string_view bytes, unsigned mode = 0600);

}  // namespace vlt
