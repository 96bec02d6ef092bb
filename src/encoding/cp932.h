#pragma once
// Code page 932 (Shift_JIS with the NEC and IBM extensions and the user-defined
// area), from the generated table in cp932_table.cpp. Lookups only: nothing is
// allocated per character.

#include <cstdint>
#include <string>
#include <string_view>

namespace vlt::encoding {

// The code of `cp` in code page 932: 0x00-0xFF for a single-byte character,
// 0x8140-0xFCFC for a double-byte one, or -1 when the code page lacks it.
// Besides the table's own mapping, the JIS forms U+301C, U+2016, U+2212,
// U+00A2, U+00A3, U+00AC and U+2014 map to 8160, 8161, 817C, 8191, 8192, 81CA
// and 815C.
int cp932_code(char32_t cp);

// True for a lead byte of a double-byte character (0x81-0x9F, 0xE0-0xFC).
constexpr bool is_lead_byte(std::uint8_t b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// UTF-8 text to code page 932 bytes; a character the code page lacks becomes "?".
std::string to_cp932(std::string_view utf8);
// Appends to `out` instead of returning a new string.
void append_cp932(std::string& out, std::string_view utf8);

// Code page 932 bytes to UTF-8; bytes the table lacks become U+30FB. A lead
// byte and a trail byte (0x40-0xFC but 0x7F) are read as one code, one U+30FB
// when the table lacks it; a lead byte at the end or before any other byte
// becomes U+30FB by itself and the next byte is read on its own.
std::string from_cp932(std::string_view bytes);

// The Unicode character for one single-byte code or one double-byte code
// (lead << 8 | trail), or 0 when the table lacks it.
char32_t cp932_to_unicode(unsigned code);

// True when every character of the text takes one byte in code page 932
// (ASCII and half-width katakana); characters the code page lacks count as
// "?", a single byte.
bool is_single_byte(std::string_view utf8);

}  // namespace vlt::encoding
