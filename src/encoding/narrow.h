#pragma once
// The full-width to half-width narrowing applied to command-line items and
// environment values: U+FF01-U+FF5E to ASCII, U+3000 to a blank, U+FFE0-U+FFE6
// to their narrow forms, full-width katakana and 。「」、・ー゛゜ to half-width
// katakana (a voiced or semi-voiced katakana becomes the base letter followed
// by ﾞ or ﾟ). Kanji, hiragana and everything else stay as they are.

#include <string>
#include <string_view>

namespace vlt::encoding {

std::string narrow(std::string_view utf8);

}  // namespace vlt::encoding
