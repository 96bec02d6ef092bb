#include "encoding/narrow.h"

#include <gtest/gtest.h>

#include <string>

namespace vlt::encoding {
namespace {

TEST(Narrow, Conversions) {
    struct Case {
        const char* name;
        std::string wide;
        std::string narrow;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"full-width letters and digits", "ＡＢＣｘｙｚ０１９", "ABCxyz019"},
        {"full-width symbols at both ends of the range", "！＃＠［＼］～", "!#@[\\]~"},
        {"address typed in full width", "ｙａｍａｄａ＠ｅｘａｍｐｌｅ．ｊｐ", "yamada@example.jp"},
        {"ideographic space", "a\u3000b", "a b"},
        {"full-width signs", "￠￡￢￣￤￥￦", "¢£¬¯¦¥₩"},
        {"katakana", "アイウエオンヲ", "ｱｲｳｴｵﾝｦ"},
        {"small katakana", "ァッャ", "ｧｯｬ"},
        {"voiced katakana", "ガギグゲゴ", "ｶﾞｷﾞｸﾞｹﾞｺﾞ"},
        {"semi-voiced katakana", "パピプペポ", "ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ"},
        {"vu", "ヴ", "ｳﾞ"},
        {"punctuation and marks", "。「」、・ー゛゜", "｡｢｣､･ｰﾞﾟ"},
        {"katakana without a half-width form", "ヵヶヮヰヱ", "ヵヶヮヰヱ"},
        {"kanji and hiragana stay", "漢字ひらがな", "漢字ひらがな"},
        {"ascii and half-width stay", "abc ｱｲｳ", "abc ｱｲｳ"},
        {"full-width parentheses", "（）", "()"},
        {"white parentheses beyond the range stay", "｟｠", "｟｠"},
        {"emoji stays", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"mixed", "ＴＥＬ：０３－１２３４　山田タロウ", "TEL:03-1234 山田ﾀﾛｳ"},
    };
    for (const auto& c : cases) EXPECT_EQ(narrow(c.wide), c.narrow) << c.name;
}

}  // namespace
}  // namespace vlt::encoding
