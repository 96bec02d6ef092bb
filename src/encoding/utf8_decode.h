#pragma once
// The UTF-8 decoding step shared by the encoding library's loops. Private to
// the library: use utf8.h.

#include <cstddef>

namespace vlt::encoding::detail {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// Decodes the character at p (p < end) and returns it with its length in
// `len`. A malformed sequence (overlong, surrogate, above U+10FFFF, truncated,
// stray continuation byte) yields U+FFFD with a length of 1.
inline char32_t decode_utf8(const unsigned char* p, const unsigned char* end, std::size_t& len) {
    const unsigned b0 = p[0];
    if (b0 < 0x80) {
        len = 1;
        return b0;
    }
    const std::size_t avail = static_cast<std::size_t>(end - p);
    len = 1;
    if (b0 < 0xC2) return kReplacementChar;  // continuation byte or overlong lead
    if (b0 < 0xE0) {
        if (avail < 2 || (p[1] & 0xC0) != 0x80) return kReplacementChar;
        len = 2;
        return ((b0 & 0x1F) << 6) | (p[1] & 0x3F);
    }
    if (b0 < 0xF0) {
        if (avail < 3) return kReplacementChar;
        const unsigned b1 = p[1];
        const unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80;  // E0: no overlongs
        const unsigned hi = b0 == 0xED ? 0x9F : 0xBF;  // ED: no surrogates
        if (b1 < lo || b1 > hi || (p[2] & 0xC0) != 0x80) return kReplacementChar;
        len = 3;
        return ((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (p[2] & 0x3F);
    }
    if (b0 < 0xF5) {
        if (avail < 4) return kReplacementChar;
        const unsigned b1 = p[1];
        const unsigned lo = b0 == 0xF0 ? 0x90 : 0x80;  // F0: no overlongs
        const unsigned hi = b0 == 0xF4 ? 0x8F : 0xBF;  // F4: nothing above U+10FFFF
        if (b1 < lo || b1 > hi || (p[2] & 0xC0) != 0x80 || (p[3] & 0xC0) != 0x80) {
            return kReplacementChar;
        }
        len = 4;
        return ((b0 & 0x07) << 18) | ((b1 & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
    }
    return kReplacementChar;
}

// Writes the UTF-8 form of cp (at most 4 bytes) at out and returns the end.
// Surrogates and values above U+10FFFF are written as U+FFFD.
inline char* encode_utf8(char32_t cp, char* out) {
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = kReplacementChar;
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp <= 0x10FFFF) {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        return encode_utf8(kReplacementChar, out);
    }
    return out;
}

}  // namespace vlt::encoding::detail
