#include "common/wire.h"

#include "encoding/utf8.h"

namespace vlt {

void CrLfNormalizer::append(std::string_view piece, std::string& out) {
    if (piece.empty()) return;
    if (m_after_cr && piece.front() == '\n') piece.remove_prefix(1);
    m_after_cr = false;
    // Runs without CR or LF are copied whole.
    while (!piece.empty()) {
        const std::size_t end = piece.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            out.append(piece);
            return;
        }
        out.append(piece.substr(0, end));
        out += "\r\n";
        const bool cr = piece[end] == '\r';
        piece.remove_prefix(end + 1);
        m_after_cr = cr && piece.empty();
        if (cr && !piece.empty() && piece.front() == '\n') piece.remove_prefix(1);
    }
}

std::string normalize_crlf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    CrLfNormalizer().append(text, out);
    return out;
}

std::string header_safe(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return out;
}

std::optional<std::string> envelope_address_fault(std::string_view address) {
    if (address.find_first_of(std::string_view("\r\n\0<>", 5)) == std::string_view::npos) {
        return std::nullopt;
    }
    std::string shown;
    for (char c : address) {
        switch (c) {
            case '\r':
                shown += "\\r";
                break;
            case '\n':
                shown += "\\n";
                break;
            case '\0':
                shown += "\\0";
                break;
            default:
                shown += c;
        }
    }
    return shown;
}

std::string server_text_for_log(std::string_view bytes) {
    const std::string text = encoding::decode_external(bytes);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\0') {
            out += "\xE3\x83\xBB";  // U+30FB
        } else {
            out += c;
        }
    }
    return out;
}

Status DotStuffingSink::write(std::string_view bytes) {
    // Each "." that begins a line gets a second "." in front; the rest passes
    // in as few writes as possible.
    std::size_t from = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (m_at_line_start && c == '.') {
            if (i > from) VLT_TRY(m_inner.write(bytes.substr(from, i - from)));
            VLT_TRY(m_inner.write("."));
            from = i;
        }
        m_at_line_start = (c == '\n');
    }
    if (from < bytes.size()) VLT_TRY(m_inner.write(bytes.substr(from)));
    return {};
}

}  // namespace vlt
