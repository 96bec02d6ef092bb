#include "encoding/cp932.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "encoding/utf8.h"

namespace vlt::encoding {
namespace {

// Characters written with the code of their JIS form although Python's
// encoder maps them differently or not at all.
const std::map<char32_t, unsigned> kJisForms = {
    {0x301C, 0x8160}, {0x2016, 0x8161}, {0x2212, 0x817C}, {0x00A2, 0x8191},
    {0x00A3, 0x8192}, {0x00AC, 0x81CA}, {0x2014, 0x815C},
};

// The codec as Python's cp932 reports it (tests/encoding/data/cp932_python.txt).
struct PythonCodec {
    std::map<unsigned, char32_t> decode;  // code -> character
    std::map<char32_t, unsigned> encode;  // character -> code
};

const PythonCodec& python_codec() {
    static const PythonCodec codec = [] {
        PythonCodec c;
        std::ifstream in(VLT_CP932_DUMP);
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream fields(line);
            char kind = 0;
            unsigned a = 0, b = 0;
            fields >> kind >> std::hex >> a >> b;
            if (kind == 'D') c.decode[a] = b;
            if (kind == 'E') c.encode[a] = b;
        }
        return c;
    }();
    return codec;
}

std::string code_bytes(unsigned code) {
    std::string bytes;
    if (code > 0xFF) bytes.push_back(static_cast<char>(code >> 8));
    bytes.push_back(static_cast<char>(code & 0xFF));
    return bytes;
}

std::string utf8_of(char32_t cp) {
    std::string s;
    append_utf8(s, cp);
    return s;
}

TEST(Cp932, DumpIsComplete) {
    // Guards the checks below against a missing or truncated data file.
    EXPECT_EQ(python_codec().decode.size(), 9800u);
    EXPECT_EQ(python_codec().encode.size(), 9408u);
}

TEST(Cp932, DecodesEveryCodeAsPythonDoes) {
    for (const auto& [code, cp] : python_codec().decode) {
        ASSERT_EQ(cp932_to_unicode(code), cp) << std::hex << code;
        ASSERT_EQ(from_cp932(code_bytes(code)), utf8_of(cp)) << std::hex << code;
    }
}

TEST(Cp932, EncodesEveryCharacterAsPythonDoes) {
    for (const auto& [cp, code] : python_codec().encode) {
        const auto jis = kJisForms.find(cp);
        const unsigned expected = jis != kJisForms.end() ? jis->second : code;
        ASSERT_EQ(cp932_code(cp), static_cast<int>(expected))
            << std::hex << static_cast<unsigned>(cp);
        ASSERT_EQ(to_cp932(utf8_of(cp)), code_bytes(expected))
            << std::hex << static_cast<unsigned>(cp);
    }
}

TEST(Cp932, EveryOtherCharacterIsUnmapped) {
    const auto& encode = python_codec().encode;
    int mapped = 0;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        const bool expected = encode.count(cp) != 0 || kJisForms.count(cp) != 0;
        ASSERT_EQ(cp932_code(cp) >= 0, expected) << std::hex << static_cast<unsigned>(cp);
        mapped += expected;
    }
    EXPECT_EQ(mapped, 9409);
}

TEST(Cp932, MappedCharactersRoundTrip) {
    // Decoding what the encoder wrote gives the character back, except for
    // the characters written with another character's code.
    int different = 0;
    for (const auto& [cp, code] : python_codec().encode) {
        const std::string text = utf8_of(cp);
        if (from_cp932(to_cp932(text)) != text) ++different;
    }
    EXPECT_EQ(different, 6);  // ¢ £ ¬ ‖ − 〜 come back as their table forms
}

TEST(Cp932, NamedCharacters) {
    struct Case {
        const char* name;
        char32_t cp;
        int code;
    };
    const Case cases[] = {
        {"ideographic space", U'\u3000', 0x8140},
        {"hiragana a", U'あ', 0x82A0},
        {"kanji", U'漢', 0x8ABF},
        {"half-width katakana", U'ｱ', 0xB1},
        {"backslash stays ASCII", U'\\', 0x5C},
        {"tilde stays ASCII", U'~', 0x7E},
        {"U+0080", U'\u0080', 0x80},
        {"U+F8F0 is the single byte A0", U'\uF8F0', 0xA0},
        {"U+F8F3 is the single byte FF", U'\uF8F3', 0xFF},
        {"NEC row 13 circled one", U'①', 0x8740},
        {"because: JIS code, not NEC 8790 or IBM FA5B", U'∵', 0x81E6},
        {"full-width not sign: JIS code, not EEF9 or FA54", U'￢', 0x81CA},
        {"small roman one: NEC-selected EEEF, not IBM FA40", U'ⅰ', 0xEEEF},
        {"IBM extension kanji", U'纊', 0xED40},
        {"user-defined area first", U'\uE000', 0xF040},
        {"user-defined area last", U'\uE757', 0xF9FC},
        {"beyond the user-defined area", U'\uE758', -1},
        {"yen sign", U'¥', -1},
        {"euro sign", U'€', -1},
        {"emoji", U'\U0001F600', -1},
        {"hangul", U'한', -1},
    };
    for (const auto& c : cases) EXPECT_EQ(cp932_code(c.cp), c.code) << c.name;
}

TEST(Cp932, JisFormsEncodeButDecodeToTheTableForms) {
    struct Case {
        char32_t cp;
        unsigned code;
        char32_t decoded;
    };
    const Case cases[] = {
        {U'〜', 0x8160, U'～'}, {U'‖', 0x8161, U'∥'},  {U'−', 0x817C, U'－'}, {U'¢', 0x8191, U'￠'},
        {U'£', 0x8192, U'￡'},  {U'¬', 0x81CA, U'￢'}, {U'—', 0x815C, U'―'},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cp932_code(c.cp), static_cast<int>(c.code))
            << std::hex << static_cast<unsigned>(c.cp);
        EXPECT_EQ(cp932_to_unicode(c.code), c.decoded) << std::hex << static_cast<unsigned>(c.cp);
    }
}

TEST(Cp932, ToCp932) {
    struct Case {
        const char* name;
        std::string text;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"ascii", "Hello", "Hello"},
        {"kanji", "漢字", "\x8A\xBF\x8E\x9A"},
        {"half-width", "ｱﾞ", "\xB1\xDE"},
        {"emoji becomes one question mark",
         "a\xF0\x9F\x98\x80"
         "b",
         "a?b"},
        {"each unmapped character one mark", "¥€", "??"},
        {"nul kept", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) EXPECT_EQ(to_cp932(c.text), c.bytes) << c.name;

    std::string out = "x";
    append_cp932(out, "漢");
    EXPECT_EQ(out, "x\x8A\xBF");
}

TEST(Cp932, FromCp932) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"kanji and ascii",
         "a\x8A\xBF"
         "b",
         "a漢b"},
        {"half-width katakana", "\xB1\xDF", "ｱﾟ"},
        {"byte 80", "\x80", "\u0080"},
        {"byte A0", "\xA0", "\uF8F0"},
        {"bytes FD FF", "\xFD\xFF", "\uF8F1\uF8F3"},
        {"unassigned row 85", "\x85\x40", "・"},
        {"unassigned lead EB",
         "\xEB\x40"
         "a",
         "・a"},
        {"lead byte at the end", "a\x82", "a・"},
        {"lead byte before a non-trail byte", "\x82 a", "・ a"},
        {"lead byte before DEL", "\x82\x7F", "・\x7F"},
        {"trail in ASCII range pairs with the lead", "\x82\x60", "Ａ"},
    };
    for (const auto& c : cases) EXPECT_EQ(from_cp932(c.bytes), c.text) << c.name;
}

TEST(Cp932, CodeLookupRejectsNonCodes) {
    EXPECT_EQ(cp932_to_unicode(0x82), 0u);    // a lead byte alone
    EXPECT_EQ(cp932_to_unicode(0x827F), 0u);  // 7F is no trail byte
    EXPECT_EQ(cp932_to_unicode(0x8530), 0u);  // nor is 30
    EXPECT_EQ(cp932_to_unicode(0x4141), 0u);  // 41 is no lead byte
    EXPECT_EQ(cp932_to_unicode(0x18140), 0u);
}

TEST(Cp932, IsSingleByte) {
    struct Case {
        const char* name;
        std::string text;
        bool single;
    };
    const Case cases[] = {
        {"empty", "", true},
        {"ascii", "Subject", true},
        {"half-width katakana", "ｶﾀｶﾅ", true},
        {"unmapped counts as question mark", "a\xF0\x9F\x98\x80", true},
        {"kanji", "a漢", false},
        {"full-width letter", "Ａ", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_single_byte(c.text), c.single) << c.name;
}

}  // namespace
}  // namespace vlt::encoding
