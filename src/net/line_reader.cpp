#include "net/line_reader.h"

#include <utility>

namespace vlt::net {
namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool has_three_digits(std::string_view line) {
    return line.size() >= 3 && is_digit(line[0]) && is_digit(line[1]) && is_digit(line[2]);
}

}  // namespace

int reply_code(LineProtocol protocol, std::string_view line) {
    if (protocol == LineProtocol::Pop3) {
        std::string_view head = line.substr(0, 4);
        while (!head.empty() && (head.front() == '\r' || head.front() == '\n')) {
            head.remove_prefix(1);
        }
        while (!head.empty() && (head.back() == '\r' || head.back() == '\n')) {
            head.remove_suffix(1);
        }
        while (!head.empty() && head.front() == ' ') head.remove_prefix(1);
        while (!head.empty() && head.back() == ' ') head.remove_suffix(1);
        return head == "+OK" ? 1 : 0;
    }
    if (!has_three_digits(line)) return 0;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '\r' && line[3] != '\n') return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

bool is_final_line(LineProtocol protocol, std::string_view line) {
    if (protocol == LineProtocol::Pop3) return true;
    return !(has_three_digits(line) && line.size() > 3 && line[3] == '-');
}

bool has_text_after_code(LineProtocol protocol, std::string_view line) {
    if (protocol == LineProtocol::Pop3) return line.substr(0, 4) == "+OK ";
    return has_three_digits(line) && line.size() > 3 && line[3] == ' ';
}

ReplyReader::ReplyReader(LineProtocol protocol, std::size_t max_lines, std::size_t max_bytes)
    : m_protocol(protocol), m_max_lines(max_lines), m_max_bytes(max_bytes) {}

std::string_view ReplyReader::unfinished() const {
    return std::string_view(m_buffer).substr(m_start);
}

void ReplyReader::compact() {
    // Drop consumed bytes once they make up most of the buffer, so that
    // reading many lines does not move the rest of the buffer each time.
    if (m_start > 0 && m_start * 2 >= m_buffer.size()) {
        m_buffer.erase(0, m_start);
        m_start = 0;
    }
}

ReplyReader::Progress ReplyReader::add(std::string_view bytes) {
    if (m_state == Progress::TooLong) return m_state;
    m_buffer.append(bytes);

    while (m_state == Progress::NeedMore) {
        const std::size_t lf = m_buffer.find('\n', m_start);
        if (lf == std::string::npos) {
            if (m_line_bytes + (m_buffer.size() - m_start) > m_max_bytes) {
                m_state = Progress::TooLong;
            }
            break;
        }
        const std::size_t length = lf + 1 - m_start;
        if (m_line_bytes + length > m_max_bytes || m_lines.size() + 1 > m_max_lines) {
            m_state = Progress::TooLong;
            break;
        }
        m_lines.emplace_back(m_buffer, m_start, length);
        m_line_bytes += length;
        m_start = lf + 1;
        if (is_final_line(m_protocol, m_lines.back())) {
            m_state = Progress::Complete;
        }
    }
    if (m_state == Progress::TooLong) {
        // Keep only what the reply could have held; the rest is never read.
        const std::size_t keep = m_max_bytes > m_line_bytes ? m_max_bytes - m_line_bytes : 0;
        if (m_buffer.size() - m_start > keep) m_buffer.resize(m_start + keep);
    }
    compact();
    return m_state;
}

Reply ReplyReader::take() {
    Reply reply;
    reply.lines = std::move(m_lines);
    if (!reply.lines.empty()) reply.code = reply_code(m_protocol, reply.lines.back());
    m_lines.clear();
    m_line_bytes = 0;
    m_state = Progress::NeedMore;
    return reply;
}

std::string ReplyReader::gathered() const {
    std::string text;
    for (const auto& line : m_lines) text += line;
    text += unfinished();
    return text;
}

std::string ReplyReader::first_line() const {
    if (!m_lines.empty()) return m_lines.front();
    return std::string(unfinished());
}

}  // namespace vlt::net
