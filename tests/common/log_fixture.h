#pragma once
// The fixture the log tests of both systems share, and what differs between
// the systems: log_posix_test.cpp and log_win32_test.cpp each define
// log_bytes.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <string_view>

#include "common/log.h"
#include "support/files.h"

namespace vlt {

// The bytes a log file holds for `utf8`: the text itself on POSIX systems,
// code page 932 on Windows.
std::string log_bytes(std::string_view utf8);

// The text of entry `n` of writer `who`, for the tests of concurrent writers.
inline std::string entry_text(int who, int n) {
    std::string text = "w";
    text += std::to_string(who);
    text += " n";
    text += std::to_string(n);
    return text;
}

class LogTest : public ::testing::Test {
  protected:
    // A writer for the temporary folder whose clock always says
    // 2026/12/07 10:31:05 in local time.
    LogWriter writer() const {
        return LogWriter(m_dir.path().string(), "mail", [] {
            std::tm tm{};
            tm.tm_year = 126;
            tm.tm_mon = 11;
            tm.tm_mday = 7;
            tm.tm_hour = 10;
            tm.tm_min = 31;
            tm.tm_sec = 5;
            tm.tm_isdst = -1;
            return std::chrono::system_clock::from_time_t(std::mktime(&tm));
        });
    }
    std::string file(const std::string& name) const { return m_dir.file(name); }

    test::TempDir m_dir;
};

}  // namespace vlt
