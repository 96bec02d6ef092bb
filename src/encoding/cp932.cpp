#include "encoding/cp932.h"

#include "encoding/cp932_table.h"
#include "encoding/utf8_decode.h"

namespace vlt::encoding {

namespace {

constexpr char32_t kMiddleDot = 0x30FB;  // written for bytes the code page lacks

bool is_trail_byte(unsigned b) {
    return b >= detail::kCp932TrailFirst && b <= detail::kCp932TrailLast && b != 0x7F;
}

char16_t decode_double(unsigned lead, unsigned trail) {
    return detail::kCp932DecodeDouble[detail::cp932_lead_row(lead)]
                                     [trail - detail::kCp932TrailFirst];
}

}  // namespace

int cp932_code(char32_t cp) {
    if (cp < 0x80) return static_cast<int>(cp);
    if (cp > 0xFFFF) return -1;
    const unsigned block = detail::kCp932EncodeIndex[cp / detail::kCp932EncodeBlockSize];
    const unsigned code = detail::kCp932EncodeBlocks[block][cp % detail::kCp932EncodeBlockSize];
    return code == 0 ? -1 : static_cast<int>(code);
}

void append_cp932(std::string& out, std::string_view utf8) {
    // Every character takes at least as many bytes in UTF-8 as in code page
    // 932, so the input length bounds the output.
    const std::size_t start = out.size();
    out.resize(start + utf8.size());
    char* w = out.data() + start;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        if (*p < 0x80) {
            *w++ = static_cast<char>(*p++);
            continue;
        }
        std::size_t len = 0;
        const int code = cp932_code(detail::decode_utf8(p, end, len));
        p += len;
        if (code < 0) {
            *w++ = '?';
        } else if (code < 0x100) {
            *w++ = static_cast<char>(code);
        } else {
            *w++ = static_cast<char>(code >> 8);
            *w++ = static_cast<char>(code & 0xFF);
        }
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
}

std::string to_cp932(std::string_view utf8) {
    std::string out;
    append_cp932(out, utf8);
    return out;
}

namespace {

// Reads code page 932 bytes and hands each character to `put`: a lead byte
// and a trail byte as one character, U+30FB for what the table lacks.
template <class Put>
void each_cp932_char(std::string_view bytes, Put&& put) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned b = *p;
        if (b < 0x80) {
            put(char32_t{b});
            ++p;
            continue;
        }
        char32_t cp = kMiddleDot;
        if (!is_lead_byte(static_cast<std::uint8_t>(b))) {
            if (detail::kCp932DecodeSingle[b] != 0) cp = detail::kCp932DecodeSingle[b];
            ++p;
        } else if (end - p >= 2 && is_trail_byte(p[1])) {
            // A lead and a trail byte make one character, even when the
            // table has nothing for the pair.
            if (const char16_t u = decode_double(b, p[1]); u != 0) cp = u;
            p += 2;
        } else {
            // A lead byte at the end or before a byte that cannot follow it
            // stands alone; the next byte is read on its own.
            ++p;
        }
        put(cp);
    }
}

}  // namespace

std::string from_cp932(std::string_view bytes) {
    // Sized exactly by a first pass, so that a large text costs its UTF-8
    // length once (every character here is below U+10000).
    std::size_t length = 0;
    each_cp932_char(bytes, [&length](char32_t cp) {
        length += cp < 0x80 ? 1 : cp < 0x800 ? 2 : 3;
    });
    std::string out(length, '\0');
    char* w = out.data();
    each_cp932_char(bytes, [&w](char32_t cp) { w = detail::encode_utf8(cp, w); });
    return out;
}

char32_t cp932_to_unicode(unsigned code) {
    if (code < 0x100) {
        return is_lead_byte(static_cast<std::uint8_t>(code)) ? 0 : detail::kCp932DecodeSingle[code];
    }
    const unsigned lead = code >> 8;
    const unsigned trail = code & 0xFF;
    if (lead > 0xFF || !is_lead_byte(static_cast<std::uint8_t>(lead)) || !is_trail_byte(trail)) {
        return 0;
    }
    return decode_double(lead, trail);
}

bool is_single_byte(std::string_view utf8) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        std::size_t len = 0;
        const int code = cp932_code(detail::decode_utf8(p, end, len));
        p += len;
        if (code >= 0x100) return false;
    }
    return true;
}

}  // namespace vlt::encoding
