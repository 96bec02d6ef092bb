#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smtp/header_words.h"

namespace vlt::smtp {
namespace {

const std::string kOpen = "=?ISO-2022-JP?B?";

std::string word(const std::string& base64) {
    return kOpen + base64 + "?=";
}

// Base64 decoding written out here so the words are checked independently of
// the encoder under test.
std::string decode64(const std::string& text) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (char c : text) {
        const auto v = alphabet.find(c);
        if (v == std::string::npos) continue;
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

// The encoded words of a text, in order (anything between them ignored).
std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> words;
    std::size_t pos = 0;
    while ((pos = text.find(kOpen, pos)) != std::string::npos) {
        const auto end = text.find("?=", pos + kOpen.size());
        words.push_back(text.substr(pos, end + 2 - pos));
        pos = end + 2;
    }
    return words;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// ESC $ B, the JIS pair 0x24 0x22 (あ) n times, ESC ( B.
std::string jis_a(int n) {
    return "\x1b$B" + repeat("$\"", n) + "\x1b(B";
}

struct WordsCase {
    const char* name;
    std::string input;
    std::string expected;
};

class EncodeWordsTest : public ::testing::TestWithParam<WordsCase> {};

TEST_P(EncodeWordsTest, ProducesExactText) {
    EXPECT_EQ(encode_header_words(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeWordsTest,
    ::testing::Values(
        WordsCase{"AsciiUnchanged", "Meeting at 10:00, room B", "Meeting at 10:00, room B"},
        WordsCase{"Empty", "", ""}, WordsCase{"Kanji", "漢字", word("GyRCNEE7ehsoQg==")},
        WordsCase{"TwoWordsWithBlank", "報告書 日本語",
                  word("GyRCSnM5cD1xGyhC") + " " + word("GyRCRnxLXDhsGyhC")},
        WordsCase{"AsciiBetweenRuns", "報告書2024日本語",
                  word("GyRCSnM5cD1xGyhC") + "2024" + word("GyRCRnxLXDhsGyhC")},
        WordsCase{"AsciiAroundRun", "Re: 件名 (2)", "Re: " + word("GyRCN29MPhsoQg==") + " (2)"},
        WordsCase{"HalfWidthWidenedInWord", "ﾃｽﾄ", word("GyRCJUYlOSVIGyhC")},
        WordsCase{"MissingCharacterCopied", "漢\U0001F600字",
                  word("GyRCNEEbKEI=") + "\U0001F600" + word("GyRCO3obKEI=")},
        WordsCase{"TabAndLineBreakAreAscii", "漢\t字\r\n",
                  word("GyRCNEEbKEI=") + "\t" + word("GyRCO3obKEI=") + "\r\n"}),
    [](const auto& row) { return std::string(row.param.name); });

struct RunCase {
    const char* name;
    int chars;
    std::vector<int> per_word;  // characters in each word
};

class RunLengthTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunLengthTest, SplitsLongRunsIntoAdjacentWords) {
    const auto& c = GetParam();
    const std::string text = encode_header_words(repeat("あ", c.chars));
    const auto words = words_of(text);
    ASSERT_EQ(words.size(), c.per_word.size());
    std::string joined;
    for (std::size_t i = 0; i < words.size(); ++i) {
        joined += words[i];
        EXPECT_LE(words[i].size(), 74u) << i;
        const std::string b64 = words[i].substr(kOpen.size(), words[i].size() - kOpen.size() - 2);
        EXPECT_EQ(decode64(b64), jis_a(c.per_word[i])) << i;
    }
    // Nothing stands between the words of one run.
    EXPECT_EQ(text, joined);
}

INSTANTIATE_TEST_SUITE_P(Runs, RunLengthTest,
                         ::testing::Values(RunCase{"One", 1, {1}}, RunCase{"Seventeen", 17, {17}},
                                           RunCase{"Eighteen", 18, {18}},
                                           RunCase{"Nineteen", 19, {18, 1}},
                                           RunCase{"ThirtySix", 36, {18, 18}},
                                           RunCase{"ThirtySeven", 37, {18, 18, 1}}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(EncodeWords, EighteenCharactersMakeOneWordOf74) {
    const std::string text = encode_header_words(repeat("あ", 18));
    EXPECT_EQ(text, word("GyRCJCIkIiQiJCIkIiQiJCIkIiQiJCIkIiQiJCIkIiQiJCIkIiQiGyhC"));
    EXPECT_EQ(text.size(), 74u);
}

struct FoldCase {
    const char* name;
    std::string input;
    std::string expected;
};

class FoldTest : public ::testing::TestWithParam<FoldCase> {};

TEST_P(FoldTest, FoldsAtBlanks) {
    EXPECT_EQ(fold_header_text(GetParam().input), GetParam().expected);
}

const std::string k10 = "abcdefghij";
const std::string k9 = "abcdefghi";

INSTANTIATE_TEST_SUITE_P(
    Cases, FoldTest,
    ::testing::Values(
        FoldCase{"ShortUnchanged", "a b c", "a b c"},
        // Seven fields of 10 and a blank between each: 76 characters.
        FoldCase{"FoldsBeforeCrossingField", repeat(k10 + " ", 6) + k10,
                 repeat(k10 + " ", 5) + k10 + "\r\n " + k10},
        // Seven fields of 9, each with its blank, and a field of 5: 75 characters.
        FoldCase{"ExactlySeventyFiveStays", repeat(k9 + " ", 7) + "abcde",
                 repeat(k9 + " ", 7) + "abcde"},
        FoldCase{"SeventySixFolds", repeat(k9 + " ", 7) + "abcdef",
                 repeat(k9 + " ", 6) + k9 + "\r\n abcdef"},
        FoldCase{"ContinuationFoldsAgain", repeat(k10 + " ", 20) + k10,
                 repeat(k10 + " ", 5) + k10 + "\r\n " + repeat(k10 + " ", 5) + k10 + "\r\n " +
                     repeat(k10 + " ", 5) + k10 + "\r\n " + repeat(k10 + " ", 2) + k10},
        FoldCase{"LongFieldNeverBroken", std::string(100, 'x') + " y",
                 std::string(100, 'x') + "\r\n y"},
        FoldCase{"LongFieldAfterShort", "a " + std::string(80, 'x'),
                 "a\r\n " + std::string(80, 'x')},
        FoldCase{"DoubleBlankKeepsEmptyField", "a  b", "a  b"},
        FoldCase{"LinesFoldedSeparately", repeat(k10 + " ", 6) + k10 + "\r\n" + "short",
                 repeat(k10 + " ", 5) + k10 + "\r\n " + k10 + "\r\nshort"},
        FoldCase{"LineLengthsDoNotCarryOver", std::string(70, 'a') + "\r\n" + "b c",
                 std::string(70, 'a') + "\r\nb c"},
        FoldCase{"FinalLineBreakKept", "a b\r\n", "a b\r\n"}, FoldCase{"Empty", "", ""},
        // Characters count, not bytes: 40 two-byte letters and 34 more fit.
        FoldCase{"CountsCharacters", repeat("é", 40) + " " + std::string(34, 'z'),
                 repeat("é", 40) + " " + std::string(34, 'z')}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(EncodeHeaderText, MixedSubjectFoldsBeforeWordThatCrossesLimit) {
    // Three 6-character Japanese words separated by blanks give three encoded
    // words of 42 characters; no two fit on one line of 75.
    const std::string text = encode_header_text("報告書報告書 報告書報告書 報告書報告書");
    const auto words = words_of(text);
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(text, words[0] + "\r\n " + words[1] + "\r\n " + words[2]);
    EXPECT_EQ(decode64(words[0].substr(16, words[0].size() - 18)), "\x1b$BJs9p=qJs9p=q\x1b(B");
}

TEST(EncodeHeaderText, EveryFoldedLineWithinLimit) {
    std::string subject;
    for (int i = 0; i < 12; ++i) subject += "週次報告 week" + std::to_string(i) + " ";
    const std::string text = encode_header_text(subject);
    std::size_t start = 0;
    int lines = 0;
    while (true) {
        const auto end = text.find("\r\n", start);
        const std::string line =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        EXPECT_LE(line.size(), 76u) << line;  // the continuation blank plus 75
        if (lines > 0) {
            EXPECT_EQ(line[0], ' ');
        }
        ++lines;
        if (end == std::string::npos) break;
        start = end + 2;
    }
    EXPECT_GT(lines, 3);
}

}  // namespace
}  // namespace vlt::smtp
