#pragma once
// Japanese text conversion: half-width katakana widening and ISO-2022-JP.
//
// The Unicode operations go through code page 932 bytes (cp932.h). The results
// of unicode_to_jis are bytes (one byte per character of the mail text), 7-bit
// for text that JIS X 0208 covers; characters of the vendor extensions and the
// user-defined area go through the same arithmetic and may give bytes outside
// it.
//
// The byte operations take code page 932 text without any terminator: the end
// of the input ends the text (a half-width katakana there is widened, an open
// double-byte run is closed). A lead byte in the last position has no trail
// byte and is passed on as a single byte. The byte 0xA0 passes unchanged.

#include <cstdint>
#include <string>
#include <string_view>

namespace vlt::encoding {

// Half-width katakana (and ﾞ ﾟ marks) to full-width, on code page 932 bytes.
// A voiced or semi-voiced mark is taken together with the letter before it.
std::string sjis_han2zen(std::string_view sjis);

// Code page 932 bytes to JIS: each run of double-byte characters opened by
// ESC $ B and closed by ESC ( B at the next single-byte character or at the
// end; the half-width widening runs first. With `roman_close` the runs are
// closed by ESC ( J instead and the widening is skipped.
std::string sjis_to_jis(std::string_view sjis, bool roman_close = false);

// One Shift_JIS double-byte character to its two JIS bytes, in place.
void sjis2jis_char(std::uint8_t& lead, std::uint8_t& trail);

// UTF-8 text with half-width katakana widened; NUL characters at both ends
// dropped, then leading and trailing spaces; empty when the text is empty or only spaces. The text
// makes the round trip through code page 932, so characters it lacks become "?" and characters it
// writes with another character's code come back as that one.
std::string unicode_han2zen(std::string_view utf8);

// UTF-8 text to ISO-2022-JP bytes (widening first); NUL characters at both
// ends dropped, then leading and trailing spaces (tabs and U+3000 stay);
// empty when the text is empty or only spaces. Characters code page 932 lacks
// become "?".
std::string unicode_to_jis(std::string_view utf8);

// As unicode_to_jis, but keeps the text as it is at both ends (no trimming,
// nothing dropped for blank text): for converting one segment of a larger
// message. Appends to `out`. For a segment that begins and ends in ASCII
// mode of the whole text, the bytes equal that segment's part of the whole
// text's conversion.
void append_jis(std::string& out, std::string_view utf8);

// True when ISO-2022-JP carries every character of the text as it is: ASCII,
// half-width katakana (which are widened) and every character code page 932
// writes with two bytes (JIS X 0208, the vendor extensions, the user-defined
// area). A character the code page lacks would become "?", and the few that it
// writes as a single byte above 0x7F have no JIS form; those do not fit.
bool fits_iso2022jp(std::string_view utf8);

// UTF-8 text with half-width katakana widened as unicode_han2zen widens them
// and every other character kept as it is (nothing becomes "?"); NUL
// characters at both ends dropped, then leading and trailing spaces; empty
// when the text is empty or only spaces.
std::string widen_kana(std::string_view utf8);

// widen_kana without the trimming, appended to `out`: for a text that arrives
// in pieces cut neither inside a character nor between a half-width katakana
// and its sound mark.
void append_widened_kana(std::string_view utf8, std::string& out);

// append_jis for a text that arrives in pieces, in bounded memory: the bytes
// appended over all append() calls and finish() are those append_jis gives
// for the whole text at once. A character split between two pieces is held
// back until the next one; finish() ends the text (an open double-byte run is
// closed) and makes the encoder ready for a new text.
class JisStreamEncoder {
  public:
    void append(std::string_view utf8, std::string& out);
    void finish(std::string& out);

  private:
    unsigned m_held_kana = 0;  // a half-width katakana waiting for its sound mark
    bool m_two_byte = false;   // inside a double-byte run
    std::string m_carry;       // the start of a character split off at a piece's end
};

}  // namespace vlt::encoding
