#pragma once
// RFC 2047 "B" words in ISO-2022-JP for header texts that may hold Japanese:
// ASCII stretches stay, each run of non-ASCII characters becomes encoded
// words of at most 74 characters, and the result is folded at blanks so that
// no line exceeds 75 characters.

#include <string>
#include <string_view>

namespace vlt::smtp {

std::string encode_header_text(std::string_view utf8);
std::string encode_header_words(std::string_view utf8);
std::string encode_jis_word(std::string_view run_utf8);
std::string fold_header_text(std::string_view text);

}  // namespace vlt::smtp
