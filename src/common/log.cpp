#include "common/log.h"

#include <cstdio>
#include <ctime>
#include <utility>

#include "common/console.h"
#include "common/local_time.h"
#include "common/log_file.h"

namespace vlt {

std::string format_log_time(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    const std::tm tm = local_time(secs);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

LogWriter::LogWriter(std::string folder, std::string exe_name, Now now)
    : m_folder(std::move(folder)),
      m_error_prefix(std::move(exe_name) + "ERR"),
      m_now(std::move(now)) {
    if (!m_now) m_now = [] { return std::chrono::system_clock::now(); };
}

std::string LogWriter::path_of(std::string_view prefix, int generation) const {
    std::string name(prefix);
    name += std::to_string(generation);
    name += ".log";
    return detail::log_file_path(m_folder, name);
}

std::string LogWriter::stamp() const {
    return format_log_time(m_now());
}

Status LogWriter::write(std::string_view prefix, std::string_view text) const {
    std::string line = stamp();
    line += " *** ";
    line += text;
    line += "\r\n";
    return append_line(prefix, line);
}

Status LogWriter::write_error(std::string_view text) const {
    std::string line = " ";
    line += stamp();
    line += " *** ";
    line += text;
    line += "\r\n";
    return append_line(m_error_prefix, line);
}

void write_log_or_warn(const LogWriter& log, std::string_view prefix, std::string_view text) {
    Status written = log.write(prefix, text);
    if (written.ok()) return;
    std::string line = "vellumtide: log not written: ";
    for (const auto& why : written.error().reports) line += why;
    line += "\n";
    write_standard_error(line);
}

Status LogWriter::append_line(std::string_view prefix, std::string_view line) const {
    return detail::append_log_entry(path_of(prefix, 1), path_of(prefix, 2), line);
}

}  // namespace vlt
