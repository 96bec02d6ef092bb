#include "common/text.h"

#include <gtest/gtest.h>

#include "common/wire.h"

namespace vlt {
namespace {

TEST(Text, TrimRemovesOnlyAsciiSpaces) {
    EXPECT_EQ(trim("  a b  "), "a b");
    EXPECT_EQ(trim("\ta\t"), "\ta\t");
    EXPECT_EQ(trim("　a　"), "　a　");
    EXPECT_EQ(trim("    "), "");
}

TEST(Text, ReplaceAllScansOnceWithoutOverlap) {
    EXPECT_EQ(replace_all(",,,", ",,", ","), ",,");
    EXPECT_EQ(replace_all("abc", "x", "y"), "abc");
    EXPECT_EQ(replace_all("a,b,", ",", ";"), "a;b;");
}

TEST(Text, CommaListFromLines) {
    EXPECT_EQ(to_comma_list("a@x\r\nb@y\r\n"), "a@x,b@y,");
    EXPECT_EQ(to_comma_list("a@x\nb@y"), "a@x,b@y");
    EXPECT_EQ(to_comma_list("a@x\r\rb @y\t"), "a@x,b@y");
    // Three separators in a row are reduced only once.
    EXPECT_EQ(to_comma_list("a\n\n\nb"), "a,,b");
}

TEST(Text, TrimCrLfAndNull) {
    EXPECT_EQ(trim_crlf("\r\nabc \n"), "abc");
    EXPECT_EQ(trim_crlf("\r\n"), "");
    EXPECT_EQ(trim_null(std::string("\0\0 x \0", 7)), "x");
}

struct FieldCase {
    const char* name;
    std::string text;
    long number;
    std::string separator;
    std::optional<std::string> expected;
};

class GetField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(GetField, Splits) {
    const auto& c = GetParam();
    EXPECT_EQ(get_field(c.text, c.number, c.separator), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetField,
                         ::testing::Values(FieldCase{"second", "a, b ,c", 2, ",", "b"},
                                           FieldCase{"beyond", "a, b ,c", 4, ",", std::nullopt},
                                           FieldCase{"zero", "a, b ,c", 0, ",", std::nullopt},
                                           FieldCase{"empty_field", "a,,c", 2, ",", ""},
                                           FieldCase{"trailing_comma", "a,", 2, ",", std::nullopt},
                                           FieldCase{"blank_separator", "AUTH  PLAIN", 2, " ", ""},
                                           FieldCase{"wide_separator", "a，b", 2, "，", "b"},
                                           FieldCase{"two_char_separator", "a,b", 1, ",,",
                                                     std::nullopt},
                                           FieldCase{"blank_text", "   ", 1, ",", std::nullopt}),
                         [](const auto& row) { return row.param.name; });

TEST(Text, VersionText) {
    EXPECT_EQ(version_text(), "Ver： 0.3.43");
}

TEST(Wire, NormalizesBareLineEnds) {
    const struct {
        std::string text;
        std::string normalized;
    } cases[] = {
        {"a\nb\rc\r\nd", "a\r\nb\r\nc\r\nd"},
        {"\r\r\n\n", "\r\n\r\n\r\n"},
        {"\n\r", "\r\n\r\n"},
        {"no line end", "no line end"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalize_crlf(c.text), c.normalized) << c.text;
        // In pieces, cut at every pair of positions (a CR LF cut in two too),
        // with an empty piece between.
        for (std::size_t a = 0; a <= c.text.size(); ++a) {
            for (std::size_t b = a; b <= c.text.size(); ++b) {
                CrLfNormalizer pieces;
                std::string out;
                for (const std::string& piece : {c.text.substr(0, a), std::string(),
                                                 c.text.substr(a, b - a), c.text.substr(b)}) {
                    pieces.append(piece, out);
                }
                EXPECT_EQ(out, c.normalized) << c.text << " cut at " << a << " and " << b;
            }
        }
    }
}

TEST(Wire, HeaderTextLosesLineBreaks) {
    EXPECT_EQ(header_safe("a\r\nBcc: x"), "a  Bcc: x");
}

TEST(Wire, EnvelopeAddressFaults) {
    EXPECT_EQ(envelope_address_fault("a@example.com"), std::nullopt);
    EXPECT_EQ(envelope_address_fault("a@x\r\nRCPT TO:<b@y>"), "a@x\\r\\nRCPT TO:<b@y>");
    EXPECT_EQ(envelope_address_fault(std::string("a\0b", 3)), "a\\0b");
    EXPECT_TRUE(envelope_address_fault("a>b").has_value());
}

TEST(Wire, ServerTextForLog) {
    EXPECT_EQ(server_text_for_log("250 OK"), "250 OK");
    EXPECT_EQ(server_text_for_log(std::string("a\0b", 3)), "a・b");
    EXPECT_EQ(server_text_for_log("\x82\xa0"), "あ");  // not UTF-8: code page 932
}

struct StuffCase {
    const char* name;
    std::vector<std::string> pieces;
    std::string expected;
};

class DotStuffing : public ::testing::TestWithParam<StuffCase> {};

TEST_P(DotStuffing, DoublesLeadingDots) {
    StringSink out;
    DotStuffingSink sink(out);
    for (const auto& piece : GetParam().pieces) ASSERT_TRUE(sink.write(piece).ok());
    EXPECT_EQ(out.text(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DotStuffing,
    ::testing::Values(StuffCase{"lone_dot", {"a\r\n.\r\nb\r\n"}, "a\r\n..\r\nb\r\n"},
                      StuffCase{"two_dots", {"..\r\n"}, "...\r\n"},
                      StuffCase{"dot_text", {"x\r\n.text\r\n"}, "x\r\n..text\r\n"},
                      StuffCase{"inner_dot", {"a.b\r\n"}, "a.b\r\n"},
                      StuffCase{"split_before_dot", {"a\r\n", ".b\r\n"}, "a\r\n..b\r\n"},
                      StuffCase{"split_inside_crlf", {"a\r", "\n.\r\n"}, "a\r\n..\r\n"},
                      StuffCase{"three_lines", {".\r\n.\r\n.\r\n"}, "..\r\n..\r\n..\r\n"}),
    [](const auto& row) { return row.param.name; });

}  // namespace
}  // namespace vlt
