#pragma once
// Whole-file helpers shared by the run flow and the settings: a parameter may
// name a file instead of holding the text, and the settings file is read and
// replaced whole.
//
// A file that is there but cannot be read or written is an Error whose `path`
// names it and whose `run_time_error` is the number its report carries.
// Paths are UTF-8; on Windows "\" and "/" both separate folders, and the
// files are opened by their UTF-16 names.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace vlt {

// The bytes of a file named by a parameter; nullopt when there is no such
// file. Only an ordinary, not hidden (name not beginning with "."), file of at
// least two bytes counts; anything else reads as "no file".
Result<std::optional<std::string>> read_file_bytes(const std::string& path);

// The file's text: UTF-8 when its bytes are valid UTF-8 (a byte-order mark
// dropped), otherwise code page 932.
Result<std::optional<std::string>> read_text_file(const std::string& path);

// Length of an ordinary file, 0 for anything else (missing, folder, device).
std::uint64_t regular_file_length(const std::string& path);

// The bytes of a small file of the program's own, opened without following a
// link; nullopt when nothing is there or the file is shorter than two bytes.
// A link or anything but an ordinary file fails with run-time error 75, a file
// longer than `max_bytes` with 6 (not read).
Result<std::optional<std::string>> read_own_file(const std::string& path, std::uint64_t max_bytes);

// The steps of replace_file, in order.
enum class ReplaceStep {
    CreateTemp,  // path + ".tmp" + process id, created exclusively
    WriteTemp,
    SyncTemp,    // the temporary file and the folder flushed to disk
    MakeBackup,  // path + ".bak" from the previous file
    Rename,      // the temporary file renamed over path
};

struct ReplaceOptions {
    // Of the new file and of a copied backup on POSIX systems; on Windows the
    // files take the access rules of their folder.
    unsigned mode = 0600;
    // Asked before each step; a system error code other than 0 (errno, or a
    // Windows error code on Windows) fails the step as if the system had
    // returned it (tests put failures where they want).
    std::function<int(ReplaceStep)> fault;
};

// Replaces the file whole, so that at every moment `path` holds either the
// previous or the new bytes, complete (rename(2) on POSIX systems, MoveFileExW
// with MOVEFILE_REPLACE_EXISTING and MOVEFILE_WRITE_THROUGH on Windows). The
// previous file is kept as path + ".bak". Links are never followed: an entry
// at `path` that is a link (on Windows any reparse point) or not an ordinary
// file fails with run-time error 75 and nothing is written. Temporary files of earlier runs (whose
// process is gone) are removed first. On failure the previous file and backup stay as they were.
Status replace_file(const std::string& path, std::string_view bytes,
                    const ReplaceOptions& options = {});

}  // namespace vlt
