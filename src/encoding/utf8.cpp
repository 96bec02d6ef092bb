#include "encoding/utf8.h"

#include <utility>

#include "encoding/cp932.h"
#include "encoding/utf8_decode.h"

namespace vlt::encoding {

namespace {

const unsigned char* bytes_of(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    const unsigned char* p = bytes_of(bytes);
    const unsigned char* end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        std::size_t len = 0;
        // U+FFFD itself is three bytes long, so a length of 1 means a fault.
        detail::decode_utf8(p, end, len);
        if (len == 1) return false;
        p += len;
    }
    return true;
}

char32_t next_code_point(std::string_view text, std::size_t& pos) {
    if (pos >= text.size()) return detail::kReplacementChar;
    const unsigned char* p = bytes_of(text) + pos;
    std::size_t len = 0;
    const char32_t cp = detail::decode_utf8(p, bytes_of(text) + text.size(), len);
    pos += len;
    return cp;
}

void append_utf8(std::string& out, char32_t cp) {
    char buf[4];
    char* end = detail::encode_utf8(cp, buf);
    out.append(buf, static_cast<std::size_t>(end - buf));
}

std::u32string to_u32(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) out.push_back(next_code_point(utf8, pos));
    return out;
}

std::string to_utf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text) append_utf8(out, cp);
    return out;
}

std::size_t char_count(std::string_view utf8) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < utf8.size(); ++count) next_code_point(utf8, pos);
    return count;
}

std::string decode_external(std::string_view bytes) {
    if (!is_valid_utf8(bytes)) return from_cp932(bytes);
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return std::string(bytes);
}

std::string decode_external_owned(std::string&& bytes) {
    if (!is_valid_utf8(bytes)) return from_cp932(bytes);
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
    return std::move(bytes);
}

}  // namespace vlt::encoding
