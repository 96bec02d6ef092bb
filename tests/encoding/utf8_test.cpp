#include "encoding/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace vlt::encoding {
namespace {

struct ValidityCase {
    const char* name;
    std::string bytes;
    bool valid;
};

TEST(Utf8, Validity) {
    const ValidityCase cases[] = {
        {"empty", "", true},
        {"ascii with NUL", std::string("a\0b", 3), true},
        {"two-byte", "\xC3\xA9", true},
        {"three-byte kanji", "\xE6\xBC\xA2\xE5\xAD\x97", true},
        {"four-byte emoji", "\xF0\x9F\x98\x80", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"last before surrogates", "\xED\x9F\xBF", true},
        {"first after surrogates", "\xEE\x80\x80", true},
        {"overlong slash C0", "\xC0\xAF", false},
        {"overlong C1", "\xC1\xBF", false},
        {"overlong three-byte", "\xE0\x80\xAF", false},
        {"overlong three-byte top", "\xE0\x9F\xBF", false},
        {"overlong four-byte", "\xF0\x8F\xBF\xBF", false},
        {"high surrogate", "\xED\xA0\x80", false},
        {"low surrogate", "\xED\xBF\xBF", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"F5 lead", "\xF5\x80\x80\x80", false},
        {"FF byte", "\xFF", false},
        {"stray continuation", "a\x80", false},
        {"truncated two-byte", "\xC3", false},
        {"truncated three-byte", "\xE6\xBC", false},
        {"truncated four-byte", "\xF0\x9F\x98", false},
        {"lead before ASCII",
         "\xC3"
         "A",
         false},
        {"CP932 kanji", "\x8A\xBF\x8E\x9A", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.name;
}

TEST(Utf8, NextCodePointStepsOverMalformedBytesOneAtATime) {
    const std::string text =
        "a\xE6\xBC"
        "b\xE6\xBC\xA2\xF0\x9F\x98\x80";
    std::size_t pos = 0;
    EXPECT_EQ(next_code_point(text, pos), U'a');
    EXPECT_EQ(pos, 1u);
    EXPECT_EQ(next_code_point(text, pos), U'\uFFFD');  // E6 BC before "b"
    EXPECT_EQ(pos, 2u);
    EXPECT_EQ(next_code_point(text, pos), U'\uFFFD');  // the lone continuation byte
    EXPECT_EQ(pos, 3u);
    EXPECT_EQ(next_code_point(text, pos), U'b');
    EXPECT_EQ(next_code_point(text, pos), U'漢');
    EXPECT_EQ(next_code_point(text, pos), U'\U0001F600');
    EXPECT_EQ(pos, text.size());
}

TEST(Utf8, EncodesEveryLengthBoundary) {
    struct Case {
        char32_t cp;
        std::string bytes;
    };
    const Case cases[] = {
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
        {0xD800, "\xEF\xBF\xBD"},    // a surrogate cannot be written
        {0x110000, "\xEF\xBF\xBD"},  // nor anything above U+10FFFF
    };
    for (const auto& c : cases) {
        std::string out = "x";
        append_utf8(out, c.cp);
        EXPECT_EQ(out.substr(1), c.bytes) << std::hex << static_cast<unsigned>(c.cp);
    }
}

TEST(Utf8, ConvertsToCodePointsAndBack) {
    const std::string text = "a\xC3\xA9\xE6\xBC\xA2\xF0\x9F\x98\x80";  // a é 漢 😀
    const std::u32string cps = to_u32(text);
    EXPECT_EQ(cps, std::u32string(U"a\u00E9\u6F22\U0001F600"));
    EXPECT_EQ(to_utf8(cps), text);
    EXPECT_EQ(char_count(text), 4u);
    EXPECT_EQ(char_count("\xE6\xBC"), 2u);  // each malformed byte counts once
}

TEST(Utf8, DecodeExternal) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"ascii", "abc", "abc"},
        {"utf-8 stays", "\xE6\xBC\xA2\xE5\xAD\x97", "漢字"},
        {"byte-order mark dropped",
         "\xEF\xBB\xBF"
         "abc",
         "abc"},
        {"only the leading mark goes", "\xEF\xBB\xBF\xEF\xBB\xBF", "\xEF\xBB\xBF"},
        {"cp932 kanji", "\x8A\xBF\x8E\x9A", "漢字"},
        {"cp932 half-width katakana", "\xB1\xB2", "ｱｲ"},
        {"cp932 mixed with ascii", "To: \x8E\x52\x93\x63", "To: 山田"},
    };
    for (const auto& c : cases) EXPECT_EQ(decode_external(c.bytes), c.text) << c.name;
}

}  // namespace
}  // namespace vlt::encoding
