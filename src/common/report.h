#pragma once
// The one error report through which every failure text passes: each text is
// one entry of the error log. When the log cannot be written, the text and the
// reason go to standard error instead; the run goes on.

#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"
#include "common/result.h"

namespace vlt {

class ErrorReport {
  public:
    explicit ErrorReport(const LogWriter& log) : m_log(log) {}

    void report(std::string_view text) const;
    void report(const Error& error) const;  // every report of the error, in order

    // Texts reported during this run, for tests and the exit summary.
    const std::vector<std::string>& reported() const { return m_reported; }

  private:
    const LogWriter& m_log;
    mutable std::vector<std::string> m_reported;
};

}  // namespace vlt
