#pragma once
// Japanese text conversion: half-width katakana widening and ISO-2022-JP.
//
// The Unicode operations go through code page 932 bytes (cp932.h). The results
// of unicode_to_jis are bytes (one byte per character of the mail text), 7-bit
// for text that JIS X 0208 covers.

#include <cstdint>
#include <string>
#include <string_view>

namespace vlt::encoding {

// Half-width katakana (and ﾞ ﾟ marks) to full-width, on code page 932 bytes.
// A voiced or semi-voiced mark is taken together with the letter before it.
std::string sjis_han2zen(std::string_view sjis);

// Code page 932 bytes to JIS: each run of double-byte characters opened by
// ESC $ B and closed by ESC ( B (ESC ( J with `roman_close`) at the next
// single-byte character or at the end. Without `skip_han2zen` the half-width
// widening runs first.
std::string sjis_to_jis(std::string_view sjis, bool roman_close = false);

// One Shift_JIS double-byte character to its two JIS bytes, in place.
void sjis2jis_char(std::uint8_t& lead, std::uint8_t& trail);

// UTF-8 text with half-width katakana widened; leading and trailing spaces
// removed; empty when the text is empty or only spaces.
std::string unicode_han2zen(std::string_view utf8);

// UTF-8 text to ISO-2022-JP bytes (widening first); leading and trailing
// spaces removed; empty when the text is empty or only spaces. Characters
// code page 932 lacks become "?".
std::string unicode_to_jis(std::string_view utf8);

// As unicode_to_jis, but keeps the text as it is at both ends: for converting
// one segment of a larger message. Appends to `out`.
void append_jis(std::string& out, std::string_view utf8);

}  // namespace vlt::encoding
