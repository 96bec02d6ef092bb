#pragma once
// Log files: each log is a pair prefix + "1.log" / prefix + "2.log" in the
// program folder. Every entry is one line "yyyy/mm/dd hh:nn:ss *** text" + CR LF
// (error-log lines begin with one space); the text may hold CR LF itself.
// When the current file is longer than 2048000 bytes before a write, it
// replaces the previous file first. Texts are written as UTF-8 on POSIX
// systems; on Windows in code page 932, where a character the code page lacks
// becomes "?" (in the log only), so that Windows tools read the logs.
//
// Several runs may write one log at once: each entry is appended in one
// write under an exclusive lock on the current file, and the size check and
// the rotation happen under that lock too, so no entry is lost.
//
// POSIX: the lock is flock(2). When the previous generation cannot be
// replaced, the current file is dropped instead, so that a log never grows
// without bound. Logs are created with mode 0600, and a log of the user's
// with a wider mode is narrowed to 0600. A log that is a symbolic link or not
// a regular file is never written: the write fails with the reason.
//
// Windows: the lock is LockFileEx, and every run opens the log with
// FILE_SHARE_DELETE, so that another run can rotate it while it is open.
// When the rename fails (another program holds the previous file), the entry
// goes to the current file and a later write tries the rotation again. A log
// that is a reparse point (a link or a junction) or not a disk file is never
// written.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace vlt {

inline constexpr long long kLogRotateBytes = 2048000;

class LogWriter {
  public:
    using Now = std::function<std::chrono::system_clock::time_point()>;

    // `folder` is the program folder; `exe_name` names the error log
    // (exe_name + "ERR").
    LogWriter(std::string folder, std::string exe_name, Now now = {});

    // Appends one entry to the log pair `prefix`. Fails with the reason when
    // the file cannot be written.
    Status write(std::string_view prefix, std::string_view text) const;
    Status write_error(std::string_view text) const;

    std::string path_of(std::string_view prefix, int generation) const;
    const std::string& folder() const { return m_folder; }
    const std::string& error_prefix() const { return m_error_prefix; }

  private:
    Status append_line(std::string_view prefix, std::string_view line) const;
    std::string stamp() const;

    std::string m_folder;
    std::string m_error_prefix;
    Now m_now;
};

// Writes one entry; when the log cannot take it, says so on standard error
// (the caller goes on: a log that cannot be written never fails a run).
void write_log_or_warn(const LogWriter& log, std::string_view prefix, std::string_view text);

// Local time as "yyyy/mm/dd hh:nn:ss".
std::string format_log_time(std::chrono::system_clock::time_point t);

}  // namespace vlt
