#include "encoding/kanji.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "encoding/cp932.h"
#include "encoding/utf8.h"

namespace vlt::encoding {
namespace {

const std::string kToJis = "\x1B$B";    // ESC $ B
const std::string kToAscii = "\x1B(B";  // ESC ( B
const std::string kToRoman = "\x1B(J";  // ESC ( J

// Joins the parts (GCC 12 warns wrongly about `"literal" + std::string`).
std::string cat(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (std::string_view part : parts) out += part;
    return out;
}

// A run of JIS X 0208 characters between the two escape sequences.
std::string jis_run(std::string_view jis_bytes) {
    return cat({kToJis, jis_bytes, kToAscii});
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(Kanji, Sjis2JisChar) {
    struct Case {
        const char* name;
        std::uint8_t lead, trail, row, cell;
    };
    const Case cases[] = {
        {"ideographic space", 0x81, 0x40, 0x21, 0x21},
        {"small a", 0x82, 0x9F, 0x24, 0x21},
        {"katakana a", 0x83, 0x41, 0x25, 0x22},
        {"first level-1 kanji", 0x88, 0x9F, 0x30, 0x21},
        {"trail just below 7F", 0x81, 0x7E, 0x21, 0x5F},
        {"trail just above 7F", 0x81, 0x80, 0x21, 0x60},
        {"last cell of an odd row", 0x81, 0x9E, 0x21, 0x7E},
        {"last kanji of JIS X 0208", 0xEA, 0xA4, 0x74, 0x26},
        {"NEC row 13", 0x87, 0x40, 0x2D, 0x21},
        {"NEC-selected IBM extension", 0xED, 0x40, 0x79, 0x21},
        {"NEC-selected IBM extension, row 7C", 0xEE, 0xE0, 0x7C, 0x62},
        {"user-defined area", 0xF0, 0x40, 0x7F, 0x21},
        {"last IBM extension code", 0xFC, 0xFC, 0x98, 0x7E},
    };
    for (const auto& c : cases) {
        std::uint8_t lead = c.lead, trail = c.trail;
        sjis2jis_char(lead, trail);
        EXPECT_EQ(lead, c.row) << c.name;
        EXPECT_EQ(trail, c.cell) << c.name;
    }
}

TEST(Kanji, UnicodeToJis) {
    struct Case {
        const char* name;
        std::string text;
        std::string jis;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"only spaces", "   ", ""},
        {"ascii passes unchanged", "Hello, world.\r\n", "Hello, world.\r\n"},
        {"spaces trimmed at both ends", "  abc  ", "abc"},
        {"tab at the ends stays", "\tabc\t", "\tabc\t"},
        {"tab alone stays", "\t", "\t"},
        {"two kanji", "漢字", jis_run("\x34\x41\x3B\x7A")},
        {"one switch each way", "a漢b", cat({"a", jis_run("\x34\x41"), "b"})},
        {"each line closes its run", "日本\r\n語",
         cat({jis_run("\x46\x7C\x4B\x5C"), "\r\n", jis_run("\x38\x6C")})},
        {"ideographic space at the ends stays", "\u3000漢\u3000",
         jis_run("\x21\x21\x34\x41\x21\x21")},
        {"spaces outside a run trimmed", " 漢 ", jis_run("\x34\x41")},
        {"half-width katakana leave as JIS X 0208", "ｱｶﾞﾊﾟ", jis_run("\x25\x22\x25\x2C\x25\x51")},
        {"half-width katakana last", "abcｶ", cat({"abc", jis_run("\x25\x2B")})},
        {"half-width punctuation", "｡｢｣､･ｰ",
         jis_run("\x21\x23\x21\x56\x21\x57\x21\x22\x21\x26\x21\x3C")},
        {"emoji becomes a question mark",
         "a\xF0\x9F\x98\x80"
         "b",
         "a?b"},
        {"question mark closes a run", "漢\xF0\x9F\x98\x80", cat({jis_run("\x34\x41"), "?"})},
        {"JIS forms", "〜—", jis_run("\x21\x41\x21\x3D")},
        {"NUL at the ends goes before the spaces", std::string("\0 a \0", 5), "a"},
        {"NUL inside stays", std::string("a\0b", 3), std::string("a\0b", 3)},
        {"only NUL", std::string("\0\0", 2), ""},
        {"user-defined area keeps its bytes", "\uE000", jis_run("\x7F\x21")},
    };
    for (const auto& c : cases) EXPECT_EQ(unicode_to_jis(c.text), c.jis) << c.name;
}

TEST(Kanji, UnicodeHan2Zen) {
    struct Case {
        const char* name;
        std::string text;
        std::string wide;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"only spaces", "  ", ""},
        {"voiced", "ｶﾞｷﾞｸﾞ", "ガギグ"},
        {"semi-voiced", "ﾊﾟﾋﾟ", "パピ"},
        {"vu", "ｳﾞ", "ヴ"},
        {"mark without a voiced form", "ｱﾞ", "ア゛"},
        {"semi-voiced mark without a form", "ｶﾟ", "カ゜"},
        {"voiced mark alone", "ﾞ", "゛"},
        {"semi-voiced mark alone", "ﾟ", "゜"},
        {"mark after ascii", "aﾞ", "a゛"},
        {"mark after a consumed mark", "ｶﾞﾞ", "ガ゛"},
        {"voiced letter then semi-voiced mark", "ﾊﾞﾟ", "バ゜"},
        {"mark after a kanji", "漢ﾞ", "漢゛"},
        {"last character widened without a mark", "abｱ", "abア"},
        {"plain letters and punctuation", "ｦｧｯｰ｡｢｣､･ﾝ", "ヲァッー。「」、・ン"},
        {"everything else unchanged", "漢字ひらがな ABC", "漢字ひらがな ABC"},
        {"spaces trimmed", "  ｱ  ", "ア"},
        {"ideographic space stays", "\u3000ｱ", "\u3000ア"},
        {"characters the code page lacks", "a\xF0\x9F\x98\x80¥", "a??"},
        {"round trip gives the table form", "〜", "～"},
    };
    for (const auto& c : cases) EXPECT_EQ(unicode_han2zen(c.text), c.wide) << c.name;
}

TEST(Kanji, FitsIso2022jp) {
    struct Case {
        const char* name;
        std::string text;
        bool fits;
    };
    const Case cases[] = {
        {"empty", "", true},
        {"half-width katakana, widened", "ｶﾞｲﾄﾞ", true},
        {"NEC extensions", "①㈱№", true},
        {"IBM extension", "髙﨑", true},
        {"JIS forms", "〜‖−¢£¬—", true},
        {"user-defined area", "\uE000\uE757", true},
        {"emoji at the end", "件名\U0001F600", false},
        {"kanji outside the code page", "\U00020BB7", false},
        {"a single byte without a JIS form", "\u0080", false},
        {"private use with a single-byte code", "\uF8F0", false},
    };
    for (const auto& c : cases) EXPECT_EQ(fits_iso2022jp(c.text), c.fits) << c.name;
}

TEST(Kanji, FitsExactlyWhenTheConversionCarriesTheCharacter) {
    // Every character of the basic plane: it fits when it converts to a
    // double-byte run, or to one byte that is neither "?" nor above 0x7F.
    for (char32_t cp = 1; cp < 0x10000; ++cp) {
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == ' ' || cp == '?') continue;
        std::string text;
        append_utf8(text, cp);
        std::string jis;
        append_jis(jis, text);
        const auto first = static_cast<unsigned char>(jis[0]);
        const bool carried =
            jis.starts_with(kToJis) || (jis.size() == 1 && first != '?' && first < 0x80);
        ASSERT_EQ(fits_iso2022jp(text), carried) << std::hex << static_cast<unsigned>(cp);
    }
}

TEST(Kanji, WidenKana) {
    struct Case {
        const char* name;
        std::string text;
        std::string wide;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"only spaces", "   ", ""},
        {"voiced and semi-voiced", "ｶﾞﾊﾟｳﾞ", "ガパヴ"},
        {"letter before a character the code page lacks", "ｱ\U0001F600ﾞ", "ア\U0001F600゛"},
        {"characters the code page lacks kept", "\U00020BB7¥é한", "\U00020BB7¥é한"},
        {"JIS forms kept as they are", "〜¬", "〜¬"},
        {"NUL then spaces trimmed, tabs kept", std::string("\0 \tｱ \0", 6), "\tア"},
        {"across the internal chunks", repeat("ﾊﾟ\U0001F600", 3000), repeat("パ\U0001F600", 3000)},
    };
    for (const auto& c : cases) EXPECT_EQ(widen_kana(c.text), c.wide) << c.name;
}

TEST(Kanji, SjisHan2Zen) {
    struct Case {
        const char* name;
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"voiced", "\xB6\xDE", "\x83\x4B"},
        {"semi-voiced", "\xCA\xDF", "\x83\x70"},
        {"last byte widened", "a\xB1", "a\x83\x41"},
        {"mark alone", "\xDE", "\x81\x4A"},
        {"mark after a double-byte character", "\x8A\xBF\xDE", "\x8A\xBF\x81\x4A"},
        {"trail byte in the half-width range is no katakana", "\x83\xB1", "\x83\xB1"},
        {"A0 passes unchanged", "\xA0\xB1", "\xA0\x83\x41"},
        {"ascii unchanged", "abc\r\n", "abc\r\n"},
        {"lead byte at the end passes", "\xB1\x82", "\x83\x41\x82"},
    };
    for (const auto& c : cases) EXPECT_EQ(sjis_han2zen(c.in), c.out) << c.name;
}

TEST(Kanji, SjisToJis) {
    EXPECT_EQ(sjis_to_jis("\x8A\xBF\x8E\x9A"), jis_run("\x34\x41\x3B\x7A"));
    EXPECT_EQ(sjis_to_jis("\xB6\xDE"), jis_run("\x25\x2C"));
    EXPECT_EQ(sjis_to_jis("a\xA0"), "a\xA0");
    EXPECT_EQ(sjis_to_jis("\x8A\xBF\xA0"), cat({jis_run("\x34\x41"), "\xA0"}));
    // A lead byte without its trail byte leaves as a single byte.
    EXPECT_EQ(sjis_to_jis("\x8A\xBF\x82"), cat({jis_run("\x34\x41"), "\x82"}));
    // ESC ( J closes the runs, and half-width katakana stay single bytes.
    EXPECT_EQ(sjis_to_jis("\x8A\xBF"
                          "a\xB1",
                          true),
              cat({kToJis, "\x34\x41", kToRoman, "a\xB1"}));
    EXPECT_EQ(sjis_to_jis("\x8A\xBF", true), cat({kToJis, "\x34\x41", kToRoman}));
}

TEST(Kanji, AppendJisConvertsASegmentAsTheWholeTextWould) {
    const std::string head = "Subject: test\r\n\r\n";
    const std::string body = " 本文です。ｶﾞｲﾄﾞ\r\n  二行目\u3000\r\n";
    const std::string tail = "\r\n--boundary--\r\n";
    std::string pieces = "prefix:";
    append_jis(pieces, head);
    append_jis(pieces, body);
    append_jis(pieces, tail);
    EXPECT_EQ(pieces, cat({"prefix:", unicode_to_jis(head + body + tail)}));

    std::string out = "x";
    append_jis(out, "  ");
    EXPECT_EQ(out, "x  ");  // nothing trimmed
    append_jis(out, "");
    EXPECT_EQ(out, "x  ");
    append_jis(out, "漢");
    EXPECT_EQ(out, cat({"x  ", jis_run("\x34\x41")}));
}

// The stream encoder fed the text in three pieces, cut at every pair of
// positions (inside characters too), writes what append_jis writes for the
// whole text: a character split between pieces, a katakana whose sound mark
// comes in the next piece and a double-byte run open across pieces all come
// out the same.
TEST(Kanji, StreamEncoderMatchesTheWholeText) {
    const std::string nul(1, '\0');
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"kanji, kana and ASCII", "a漢字ｶﾞb\r\nｳﾞｰ.\r\n"},
        {"four-byte and missing characters", "x\U0001F600y€～"},
        {"malformed bytes",
         "\xE3\x81"
         "a\xF0\x90\x80\x80\xED\xA0\x80\x80\xFF\xC2"},
        {"a character cut off at the end", "漢\xE5\xAD"},
        {"NUL and spaces", " " + nul + "ﾊﾟ " + nul},
    };
    for (const auto& c : cases) {
        std::string whole;
        append_jis(whole, c.text);
        const std::string_view text = c.text;
        for (std::size_t a = 0; a <= text.size(); ++a) {
            for (std::size_t b = a; b <= text.size(); ++b) {
                JisStreamEncoder stream;
                std::string out;
                stream.append(text.substr(0, a), out);
                stream.append(text.substr(a, b - a), out);
                stream.append(text.substr(b), out);
                stream.finish(out);
                ASSERT_EQ(out, whole) << c.name << " cut at " << a << " and " << b;
            }
        }
        // After finish() the encoder starts a new text.
        JisStreamEncoder reused;
        std::string twice;
        for (int i = 0; i < 2; ++i) {
            reused.append(text, twice);
            reused.finish(twice);
        }
        EXPECT_EQ(twice, whole + whole) << c.name;
    }
}

TEST(Kanji, LongTextsAcrossTheInternalChunks) {
    // Characters of three bytes straddle every chunk boundary of the
    // converter, and the alternation makes the output more than twice the
    // input, so the buffer has to grow.
    const int n = 5000;
    EXPECT_EQ(unicode_to_jis(repeat("a漢字", n)),
              repeat(cat({"a", jis_run("\x34\x41\x3B\x7A")}), n));
    EXPECT_EQ(unicode_to_jis(repeat("a\u00A7", n)), repeat(cat({"a", jis_run("\x21\x78")}), n));
    // A letter and its mark land in different chunks.
    EXPECT_EQ(unicode_to_jis(cat({"a", repeat("ｶﾞ", n)})),
              cat({"a", jis_run(repeat("\x25\x2C", n))}));
    EXPECT_EQ(unicode_han2zen(repeat("ﾊﾟa", n)), repeat("パa", n));
}

TEST(Kanji, ByteAndUnicodePathsAgree) {
    // The same text through the code page 932 byte path and the one-pass
    // Unicode path.
    std::string text;
    const char* parts[] = {"漢字", "ｶﾞ", "ﾞ",      "ｱ",  "abc", "\r\n",
                           "ﾟ",    "①",  "\uE000", "〜", "ｰ",   " "};
    std::uint32_t state = 7;
    for (int i = 0; i < 20000; ++i) {
        state = state * 1103515245u + 12345u;
        text += parts[(state >> 16) % (sizeof parts / sizeof parts[0])];
    }
    std::string appended;
    append_jis(appended, text);
    EXPECT_EQ(appended, sjis_to_jis(to_cp932(text)));
}

}  // namespace
}  // namespace vlt::encoding
