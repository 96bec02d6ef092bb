#include "net/transcript.h"

#include <cstdio>
#include <ctime>

#include "common/local_time.h"

namespace vlt::net {
namespace {

std::string local_minutes_seconds(std::chrono::system_clock::time_point at) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    const std::tm parts = vlt::local_time(seconds);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:%02d", parts.tm_min, parts.tm_sec);
    return buf;
}

}  // namespace

Transcript::Transcript(WallClock clock) : m_clock(std::move(clock)) {
    if (!m_clock) m_clock = [] { return std::chrono::system_clock::now(); };
}

void Transcript::start(std::string_view greeting) {
    m_text.assign(greeting);
}

void Transcript::add_exchange(std::string_view sent, std::string_view reply, Mask mask) {
    m_text += ">>";
    m_text += local_minutes_seconds(m_clock());
    m_text += ">> ";
    switch (mask) {
        case Mask::None:
            m_text += sent;
            break;
        case Mask::Whole:
            m_text += "***\r\n";
            break;
        case Mask::Password:
            m_text += "PASS ***\r\n";
            break;
        case Mask::LastWord: {
            const std::size_t blank = sent.rfind(' ');
            if (blank != std::string_view::npos) m_text += sent.substr(0, blank + 1);
            m_text += "***\r\n";
            break;
        }
    }
    m_text += reply;
}

void Transcript::append(std::string_view text) {
    m_text += text;
}

void write_protocol_log(const LogWriter& log, std::string_view prefix, std::string_view title,
                        const Transcript& transcript) {
    std::string text(title);
    text += "\r\n";
    text += transcript.text();
    text += kLogMarker;
    write_log_or_warn(log, prefix, text);
}

}  // namespace vlt::net
