#pragma once
// The system side of the logs (log_posix.cpp, log_win32.cpp): where a log
// file of the program folder is, and how one entry is appended with the
// rotation. LogWriter builds the entries; these functions put them on disk.

#include <string>
#include <string_view>

#include "common/result.h"

namespace vlt::detail {

// The path of the file `name` in `folder`.
std::string log_file_path(std::string_view folder, std::string_view name);

// Appends `entry` (UTF-8, one or more lines ending in CR LF) to the current
// file `current` in one write, which no entry of another run can split. When
// the current file is longer than kLogRotateBytes it becomes `previous` first.
// Fails with the reason when the entry cannot be written.
Status append_log_entry(const std::string& current, const std::string& previous,
                        std::string_view entry);

}  // namespace vlt::detail
