#pragma once
// RFC 2047 "B" words for header texts that may hold Japanese: ASCII
// stretches stay, each run of non-ASCII characters becomes encoded words of
// at most 74 characters, and the result is folded at blanks so that no line
// exceeds 75 characters.
//
// The words are in ISO-2022-JP, or in UTF-8 for a message that ISO-2022-JP
// cannot carry whole: then each word holds at most 45 octets of UTF-8 and
// never splits a character. Callers widen half-width katakana first (the
// ISO-2022-JP words also widen what is left).

#include <string>
#include <string_view>

namespace vlt::smtp {

// The charset of a message's text part and of its header words.
enum class MailCharset { Iso2022Jp, Utf8 };

std::string encode_header_text(std::string_view utf8, MailCharset charset = MailCharset::Iso2022Jp);
std::string encode_header_words(std::string_view utf8,
                                MailCharset charset = MailCharset::Iso2022Jp);
std::string encode_jis_word(std::string_view run_utf8);
std::string encode_utf8_word(std::string_view run_utf8);
std::string fold_header_text(std::string_view text);

}  // namespace vlt::smtp
