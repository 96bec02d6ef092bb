#include "smtp/header_words.h"

#include <cstdint>

#include "encoding/base64.h"
#include "encoding/cp932.h"
#include "encoding/kanji.h"
#include "encoding/utf8.h"

namespace vlt::smtp {
namespace {

constexpr std::string_view kWordOpen = "=?ISO-2022-JP?B?";
constexpr std::string_view kUtf8WordOpen = "=?UTF-8?B?";
constexpr std::string_view kWordClose = "?=";
constexpr std::size_t kWordLimit = 75;       // a word must stay below this length
constexpr std::size_t kFoldLimit = 75;       // folded lines stay within this length
constexpr std::size_t kUtf8WordOctets = 45;  // 60 base64 characters: a word of 72

// A character needs an encoded word when its code-page form is not ASCII:
// a double-byte character or a single byte of 0x80 and above. A character the
// code page lacks counts as its substitute "?", which is ASCII. In UTF-8
// every character outside ASCII needs one.
bool needs_word(char32_t cp, MailCharset charset) {
    if (charset == MailCharset::Utf8) return cp >= 0x80;
    const int code = encoding::cp932_code(cp);
    return code >= 0x80;
}

// Length of the encoded word for a run of `chars` double-byte characters:
// two JIS bytes per character plus ESC $ B and ESC ( B, in base64.
std::size_t word_length(std::size_t chars) {
    const std::size_t jis = 2 * chars + 6;
    return kWordOpen.size() + 4 * ((jis + 2) / 3) + kWordClose.size();
}

// The ISO-2022-JP bytes of a run of non-ASCII characters: ESC $ B, the JIS
// pairs, ESC ( B. Half-width katakana are widened first (callers normally
// have done so); a single-byte code that is not katakana has no JIS form and
// goes as "?" in ASCII.
std::string to_jis_escaped(std::string_view run_utf8) {
    const std::string sjis = encoding::sjis_han2zen(encoding::to_cp932(run_utf8));
    std::string out;
    out.reserve(sjis.size() + 8);
    bool two_byte = false;
    for (std::size_t i = 0; i < sjis.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(sjis[i]);
        if (encoding::is_lead_byte(b) && i + 1 < sjis.size()) {
            if (!two_byte) {
                out += "\x1b$B";
                two_byte = true;
            }
            std::uint8_t lead = b;
            auto trail = static_cast<std::uint8_t>(sjis[++i]);
            encoding::sjis2jis_char(lead, trail);
            out.push_back(static_cast<char>(lead));
            out.push_back(static_cast<char>(trail));
        } else {
            if (two_byte) {
                out += "\x1b(B";
                two_byte = false;
            }
            out.push_back(b < 0x80 ? static_cast<char>(b) : '?');
        }
    }
    if (two_byte) out += "\x1b(B";
    return out;
}

void fold_line(std::string_view line, std::string& out) {
    std::size_t start = 0;
    std::size_t segment_chars = 0;
    bool first = true;
    while (true) {
        const auto blank = line.find(' ', start);
        const auto field =
            line.substr(start, blank == std::string_view::npos ? line.npos : blank - start);
        const std::size_t field_chars = encoding::char_count(field);
        if (first) {
            segment_chars = field_chars;
            first = false;
        } else if (segment_chars + field_chars + 1 > kFoldLimit) {
            out += "\r\n ";
            segment_chars = field_chars;
        } else {
            out.push_back(' ');
            segment_chars += field_chars + 1;
        }
        out.append(field);
        if (blank == std::string_view::npos) break;
        start = blank + 1;
    }
}

}  // namespace

std::string encode_jis_word(std::string_view run_utf8) {
    std::string word(kWordOpen);
    word += encoding::base64_encode_line(to_jis_escaped(run_utf8));
    word += kWordClose;
    return word;
}

std::string encode_utf8_word(std::string_view run_utf8) {
    std::string word(kUtf8WordOpen);
    word += encoding::base64_encode_line(run_utf8);
    word += kWordClose;
    return word;
}

std::string encode_header_words(std::string_view utf8, MailCharset charset) {
    const auto encode_word = charset == MailCharset::Utf8 ? encode_utf8_word : encode_jis_word;
    // Whether a word holding `run` would grow too long with `ch` added.
    const auto full = [charset](const std::string& run, std::size_t run_chars,
                                std::string_view ch) {
        if (charset == MailCharset::Utf8) return run.size() + ch.size() > kUtf8WordOctets;
        return word_length(run_chars + 1) >= kWordLimit;
    };
    std::string out;
    out.reserve(utf8.size() * 2);
    std::string run;
    std::size_t run_chars = 0;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const std::size_t start = pos;
        const char32_t cp = encoding::next_code_point(utf8, pos);
        const std::string_view ch = utf8.substr(start, pos - start);
        if (needs_word(cp, charset)) {
            // A word that would grow too long is closed first; the next word
            // follows it directly, without a blank.
            if (run_chars > 0 && full(run, run_chars, ch)) {
                out += encode_word(run);
                run.clear();
                run_chars = 0;
            }
            run.append(ch);
            ++run_chars;
        } else {
            if (run_chars > 0) {
                out += encode_word(run);
                run.clear();
                run_chars = 0;
            }
            out.append(ch);
        }
    }
    if (run_chars > 0) out += encode_word(run);
    return out;
}

std::string fold_header_text(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    std::size_t start = 0;
    while (true) {
        const auto end = text.find("\r\n", start);
        if (end == std::string_view::npos) {
            // A text that ends with CR LF keeps it and has no empty last line.
            if (start < text.size() || start == 0) fold_line(text.substr(start), out);
            break;
        }
        fold_line(text.substr(start, end - start), out);
        out += "\r\n";
        start = end + 2;
    }
    return out;
}

std::string encode_header_text(std::string_view utf8, MailCharset charset) {
    return fold_header_text(encode_header_words(utf8, charset));
}

}  // namespace vlt::smtp
