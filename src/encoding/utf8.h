#pragma once
// UTF-8 helpers. Text inside the program is UTF-8 held in std::string and is
// always valid: outside text is checked at the edge (decode_external). A
// "character" is one Unicode code point.

#include <cstddef>
#include <string>
#include <string_view>

namespace vlt::encoding {

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates, <= U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// Decodes the code point that starts at `pos` and advances `pos` past it.
// On a malformed sequence it yields U+FFFD and advances by one byte.
char32_t next_code_point(std::string_view text, std::size_t& pos);

// Appends the UTF-8 form of `cp` to `out` (U+FFFD for a surrogate or a value
// above U+10FFFF).
void append_utf8(std::string& out, char32_t cp);

std::u32string to_u32(std::string_view utf8);
std::string to_utf8(std::u32string_view text);

// Number of code points (each byte of a malformed sequence counts as one).
std::size_t char_count(std::string_view utf8);

// Outside bytes (a file, an argument, an environment value, a server line) as
// program text: UTF-8 when the bytes are valid UTF-8 (a leading byte-order mark
// dropped), otherwise code page 932.
std::string decode_external(std::string_view bytes);
// The same for bytes the caller gives up: valid UTF-8 is kept in place
// instead of being copied (a large file costs its size once).
std::string decode_external_owned(std::string&& bytes);

}  // namespace vlt::encoding
