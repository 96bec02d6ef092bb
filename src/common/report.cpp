#include "common/report.h"

#include "common/console.h"

namespace vlt {

void ErrorReport::report(std::string_view text) const {
    m_reported.emplace_back(text);
    Status written = m_log.write_error(text);
    if (!written.ok()) {
        // The log cannot take it: the text must still reach somebody.
        std::string line = "vellumtide: ";
        line += text;
        line += "\n";
        for (const auto& why : written.error().reports) {
            line += "vellumtide: error log not written: " + why + "\n";
        }
        write_standard_error(line);
    }
}

void ErrorReport::report(const Error& error) const {
    for (const auto& text : error.reports) report(text);
}

}  // namespace vlt
