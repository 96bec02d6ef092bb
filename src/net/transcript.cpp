#include "net/transcript.h"

#include <cstdio>
#include <ctime>

namespace vlt::net {
namespace {

std::string local_minutes_seconds() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:%02d", parts.tm_min, parts.tm_sec);
    return buf;
}

bool is_pass_command(std::string_view sent) {
    if (sent.size() < 5) return false;
    for (std::size_t i = 0; i < 4; ++i) {
        const char c = static_cast<char>(sent[i] & ~0x20);  // ASCII upper case
        if (c != "PASS"[i]) return false;
    }
    return sent[4] == ' ' || sent[4] == '\r' || sent[4] == '\n';
}

}  // namespace

Transcript::Transcript(Clock clock) : m_clock(std::move(clock)) {
    if (!m_clock) m_clock = local_minutes_seconds;
}

void Transcript::start(std::string_view greeting) {
    m_text.assign(greeting);
}

void Transcript::add_exchange(std::string_view sent, std::string_view reply, bool secret) {
    Mask mask = Mask::None;
    if (secret) mask = is_pass_command(sent) ? Mask::Password : Mask::Whole;
    add_exchange(sent, reply, mask);
}

void Transcript::add_exchange(std::string_view sent, std::string_view reply, Mask mask) {
    m_text += ">>";
    m_text += m_clock();
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
    }
    m_text += reply;
}

void Transcript::append(std::string_view text) {
    m_text += text;
}

}  // namespace vlt::net
