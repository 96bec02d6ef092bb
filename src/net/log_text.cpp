#include "net/log_text.h"

#include <algorithm>

#include "encoding/utf8.h"

namespace vlt::net {
namespace {

bool is_continuation_byte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

// Control characters as "?", line ends (LF, CR before LF) and tab kept.
std::string without_controls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool line_end =
            c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
        if ((c < 0x20 && c != '\t' && !line_end) || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += '?';  // U+0080-U+009F
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void mask(std::string& text, const std::string& secret) {
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + 3)) {
        text.replace(at, secret.size(), "***");
    }
}

}  // namespace

void ServerText::add_secret(std::string_view secret) {
    if (secret.empty()) return;
    if (std::find(m_secrets.begin(), m_secrets.end(), secret) != m_secrets.end()) return;
    m_secrets.emplace_back(secret);
    // A longer secret first, so that one inside another is still masked whole.
    std::stable_sort(
        m_secrets.begin(), m_secrets.end(),
        [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

std::string ServerText::for_log(std::string_view bytes) const {
    std::string text = encoding::decode_external(bytes);
    for (const auto& secret : m_secrets) mask(text, secret);
    return without_controls(text);
}

std::vector<std::string> ServerText::for_log(const std::vector<std::string>& lines) const {
    std::vector<std::string> out;
    out.reserve(lines.size());
    for (const auto& line : lines) out.push_back(for_log(line));
    return out;
}

std::string first_characters(std::string_view text, std::size_t count) {
    std::size_t end = 0;
    for (std::size_t seen = 0; end < text.size(); ++end) {
        if (!is_continuation_byte(text[end]) && seen++ == count) break;
    }
    return std::string(text.substr(0, end));
}

}  // namespace vlt::net
