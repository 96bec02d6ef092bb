#include "smtp/compose.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "common/sink.h"
#include "common/wire.h"
#include "smtp/attachment.h"
#include "smtp/test_support.h"

namespace vlt::smtp {
namespace {

using test::ScopedTz;
using test::TempDir;

const std::string kMailer = "Vellumtide 0.3.43 (Debian GNU/Linux 12 (bookworm))";
const std::string kBoundary = "==_Bndry_==20261207193105-0A1E";
const std::string kDateLine = "Date: Mon, 7 Dec 2026 19:31:05 +0900 (JST)\r\n";

MessageFields sample_fields() {
    MessageFields f;
    f.from = "taro@example.com";
    f.to = "hanako@example.com,jiro@example.com";
    f.subject = "Test";
    f.body = "Hello";
    return f;
}

ComposeContext sample_context() {
    return {kMailer, kBoundary, test::sample_time()};
}

struct Written {
    Result<ComposedHeader> result;
    std::string text;
};

Written compose(const MessageFields& f, const HeaderOptions& o = {},
                const AttachmentPart* a = nullptr) {
    StringSink sink;
    auto r = write_message(f, o, a, sample_context(), sink);
    return {std::move(r), sink.text()};
}

std::string text_part_lines() {
    return "Content-Type: text/plain;\r\n\tcharset=\"iso-2022-jp\"\r\n"
           "Content-Transfer-Encoding: 7bit\r\n";
}

std::string word(const std::string& base64) {
    return "=?ISO-2022-JP?B?" + base64 + "?=";
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

std::string utf8_text_part_lines() {
    return "Content-Type: text/plain;\r\n\tcharset=\"UTF-8\"\r\n"
           "Content-Transfer-Encoding: base64\r\n";
}

std::string utf8_word(const std::string& text) {
    return "=?UTF-8?B?" + test::reference_base64(text) + "?=";
}

// The empty line, then the text in base64 lines with the last line ended.
std::string utf8_body(const std::string& text) {
    const std::string lines = test::reference_base64(text);
    return "\r\n" + lines + (lines.ends_with("\r\n") ? "" : "\r\n");
}

class ComposeTest : public ::testing::Test {
  protected:
    ScopedTz m_tz{"JST-9"};
};

TEST_F(ComposeTest, WholeMessageWithoutAttachment) {
    const auto w = compose(sample_fields());
    ASSERT_TRUE(w.result.ok());
    const std::string header = kDateLine +
                               "From: taro<taro@example.com>\r\n"
                               "To: hanako@example.com,jiro@example.com\r\n"
                               "Subject: Test\r\n"
                               "Mime-Version: 1.0\r\n"
                               "X-Mailer: " +
                               kMailer + "\r\n" + text_part_lines();
    EXPECT_EQ(w.text, header + "\r\nHello\r\n");
    EXPECT_EQ(w.result->converted_header_block, header);
}

TEST_F(ComposeTest, WholeMessageWithAttachment) {
    TempDir dir;
    const std::string path = dir.file("data.bin");
    test::write_file(path, "abc");
    const auto part = prepare_attachment(path);
    ASSERT_TRUE(part.ok() && part->has_value());

    const auto w = compose(sample_fields(), {}, &**part);
    ASSERT_TRUE(w.result.ok());
    const std::string header = kDateLine +
                               "From: taro<taro@example.com>\r\n"
                               "To: hanako@example.com,jiro@example.com\r\n"
                               "Subject: Test\r\n"
                               "Mime-Version: 1.0\r\n"
                               "X-Mailer: " +
                               kMailer +
                               "\r\n"
                               "Content-Type: multipart/mixed;\r\n"
                               "\tboundary=\"" +
                               kBoundary +
                               "\"\r\n"
                               "\r\n"
                               "--" +
                               kBoundary + "\r\n" + text_part_lines();
    const std::string expected = header +
                                 "\r\nHello\r\n"
                                 "\r\n"
                                 "\r\n--" +
                                 kBoundary +
                                 "\r\n"
                                 "Content-Type: application/octet-stream;\r\n"
                                 "\tName=\"data.bin\"\r\n"
                                 "Content-Transfer-Encoding: base64\r\n"
                                 "Content-Disposition: attachment;\r\n"
                                 "\tFileName=\"data.bin\"\r\n"
                                 "\r\n"
                                 "YWJj\r\n"
                                 "\r\n"
                                 "\r\n--" +
                                 kBoundary + "--\r\n\r\n";
    EXPECT_EQ(w.text, expected);
    EXPECT_EQ(w.result->converted_header_block, header);
}

struct HeaderCase {
    const char* name;
    MessageFields fields;
    HeaderOptions options;
    // The lines from From to Subject, each ending in CR LF.
    std::string lines;
};

MessageFields with(void (*change)(MessageFields&)) {
    MessageFields f = sample_fields();
    change(f);
    return f;
}

HeaderOptions with_from_name(std::string text) {
    HeaderOptions o;
    o.from_name = std::move(text);
    return o;
}
HeaderOptions with_to_alias(std::string text) {
    HeaderOptions o;
    o.to_alias = std::move(text);
    return o;
}
HeaderOptions with_cc_alias(std::string text) {
    HeaderOptions o;
    o.cc_alias = std::move(text);
    return o;
}
HeaderOptions with_reply_to(std::string text) {
    HeaderOptions o;
    o.reply_to = std::move(text);
    return o;
}

const std::string kFromLine = "From: taro<taro@example.com>\r\n";
const std::string kToLine = "To: hanako@example.com,jiro@example.com\r\n";
const std::string kSubjectLine = "Subject: Test\r\n";

class HeaderLinesTest : public ComposeTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderLinesTest, ExactHeaderBlock) {
    const auto& c = GetParam();
    const auto w = compose(c.fields, c.options);
    ASSERT_TRUE(w.result.ok());
    EXPECT_EQ(w.result->converted_header_block, kDateLine + c.lines +
                                                    "Mime-Version: 1.0\r\nX-Mailer: " + kMailer +
                                                    "\r\n" + text_part_lines());
}

INSTANTIATE_TEST_SUITE_P(
    Variants, HeaderLinesTest,
    ::testing::Values(
        HeaderCase{"Plain", sample_fields(), {}, kFromLine + kToLine + kSubjectLine},
        HeaderCase{"JapaneseFromName", sample_fields(), with_from_name("山田太郎"),
                   "From: " + word("GyRCOzNFREJATzobKEI=") + "<taro@example.com>\r\n" + kToLine +
                       kSubjectLine},
        HeaderCase{"HalfWidthFromNameWidened", sample_fields(), with_from_name("ﾃｽﾄ"),
                   "From: " + word("GyRCJUYlOSVIGyhC") + "<taro@example.com>\r\n" + kToLine +
                       kSubjectLine},
        HeaderCase{"AsciiFromNameTrimmed", sample_fields(), with_from_name("  Taro Yamada  "),
                   "From: Taro Yamada<taro@example.com>\r\n" + kToLine + kSubjectLine},
        HeaderCase{"ToAlias", sample_fields(), with_to_alias(" Sales <sales@example.com> "),
                   kFromLine + "To: Sales <sales@example.com>\r\n" + kSubjectLine},
        HeaderCase{"JapaneseToAliasAsJis", sample_fields(), with_to_alias("営業部"),
                   kFromLine + "To: \x1b$B1D6HIt\x1b(B\r\n" + kSubjectLine},
        HeaderCase{"Cc",
                   with([](MessageFields& f) { f.cc = "c@example.com,d@example.com"; }),
                   {},
                   kFromLine + kToLine + "Cc: c@example.com,d@example.com\r\n" + kSubjectLine},
        HeaderCase{"CcAliasReplacesList", with([](MessageFields& f) { f.cc = "c@example.com"; }),
                   with_cc_alias("Team"), kFromLine + kToLine + "Cc: Team\r\n" + kSubjectLine},
        HeaderCase{"CcAliasWithoutCcGivesNoLine", sample_fields(), with_cc_alias("Team"),
                   kFromLine + kToLine + kSubjectLine},
        HeaderCase{"ReplyToArgumentWins",
                   with([](MessageFields& f) { f.reply_to = "arg@example.com"; }),
                   with_reply_to("opt@example.com"),
                   kFromLine + kToLine + "Reply-To: arg@example.com\r\n" + kSubjectLine},
        HeaderCase{"ReplyToOption", sample_fields(), with_reply_to("opt@example.com"),
                   kFromLine + kToLine + "Reply-To: opt@example.com\r\n" + kSubjectLine},
        HeaderCase{"AllOptionalLinesInOrder",
                   with([](MessageFields& f) {
                       f.cc = "c@example.com";
                       f.reply_to = "r@example.com";
                       f.errors_to = "e@example.com";
                   }),
                   {},
                   kFromLine + kToLine +
                       "Cc: c@example.com\r\nReply-To: r@example.com\r\n"
                       "Errors-To: e@example.com\r\n" +
                       kSubjectLine},
        HeaderCase{"MixedSubjectEncodesJapaneseOnly",
                   with([](MessageFields& f) { f.subject = "  Re: 件名 (2) "; }),
                   {},
                   kFromLine + kToLine + "Subject: Re: " + word("GyRCN29MPhsoQg==") + " (2)\r\n"},
        HeaderCase{"LongSubjectFolded",
                   with([](MessageFields& f) { f.subject = "報告書報告書 報告書報告書"; }),
                   {},
                   kFromLine + kToLine + "Subject: " + word("GyRCSnM5cD1xSnM5cD1xGyhC") + "\r\n " +
                       word("GyRCSnM5cD1xSnM5cD1xGyhC") + "\r\n"},
        HeaderCase{"EmptySubject",
                   with([](MessageFields& f) { f.subject = ""; }),
                   {},
                   kFromLine + kToLine + "Subject: \r\n"},
        HeaderCase{"UnusedCcAliasDoesNotDecide", sample_fields(), with_cc_alias("\U00020BB7"),
                   kFromLine + kToLine + kSubjectLine},
        HeaderCase{"FromNameAllowsAddressWithoutAt",
                   with([](MessageFields& f) { f.from = "taro"; }), with_from_name("Taro"),
                   "From: Taro<taro>\r\n" + kToLine + kSubjectLine}),
    [](const auto& row) { return std::string(row.param.name); });

// A character ISO-2022-JP cannot carry, in any text of the message, puts every
// header word in UTF-8.
class Utf8HeaderLinesTest : public ComposeTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(Utf8HeaderLinesTest, ExactHeaderBlock) {
    const auto& c = GetParam();
    const auto w = compose(c.fields, c.options);
    ASSERT_TRUE(w.result.ok());
    EXPECT_EQ(w.result->converted_header_block, kDateLine + c.lines +
                                                    "Mime-Version: 1.0\r\nX-Mailer: " + kMailer +
                                                    "\r\n" + utf8_text_part_lines());
}

HeaderOptions japanese_names() {
    return {"山田 太郎", "営業部 <sales@example.com>", "経理 課", ""};
}

INSTANTIATE_TEST_SUITE_P(
    Variants, Utf8HeaderLinesTest,
    ::testing::Values(
        HeaderCase{
            "EmojiInSubject",
            with([](MessageFields& f) { f.subject = " Re: 件名\U0001F600 (2) "; }),
            {},
            kFromLine + kToLine + "Subject: Re: " + utf8_word("件名\U0001F600") + " (2)\r\n"},
        HeaderCase{"EmojiInBodyOnly", with([](MessageFields& f) {
                       f.body = "\U0001F600";
                       f.subject = "件名 ｶﾞ";
                       f.cc = "c@example.com";
                   }),
                   japanese_names(),
                   "From: " + utf8_word("山田") + " " + utf8_word("太郎") +
                       "<taro@example.com>\r\nTo: " + utf8_word("営業部") +
                       " <sales@example.com>\r\nCc: " + utf8_word("経理") + " " + utf8_word("課") +
                       "\r\nSubject: " + utf8_word("件名") + " " + utf8_word("ガ") + "\r\n"},
        HeaderCase{"FromNameOutsideCodePage", sample_fields(), with_from_name("\U00020BB7野 家"),
                   "From: " + utf8_word("\U00020BB7野") + " " + utf8_word("家") +
                       "<taro@example.com>\r\n" + kToLine + kSubjectLine},
        HeaderCase{
            "ToAliasOutsideCodePage", sample_fields(), with_to_alias("한 팀"),
            kFromLine + "To: " + utf8_word("한") + " " + utf8_word("팀") + "\r\n" + kSubjectLine},
        HeaderCase{"CcAliasOutsideCodePage", with([](MessageFields& f) { f.cc = "c@example.com"; }),
                   with_cc_alias("café"),
                   kFromLine + kToLine + "Cc: caf" + utf8_word("é") + "\r\n" + kSubjectLine}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ComposeTest, Utf8MessageWithAttachmentNamedOutsideCodePage) {
    TempDir dir;
    const std::string path = dir.file("\U00020BB7野家 ﾃｽﾄ.bin");
    test::write_file(path, "abc");
    const auto part = prepare_attachment(path);
    ASSERT_TRUE(part.ok() && part->has_value());

    const auto w = compose(sample_fields(), {}, &**part);
    ASSERT_TRUE(w.result.ok());
    const std::string name =
        "\"" + utf8_word("\U00020BB7野家") + " " + utf8_word("テスト") + ".bin\"";
    const std::string header = kDateLine + kFromLine + kToLine + kSubjectLine +
                               "Mime-Version: 1.0\r\nX-Mailer: " + kMailer +
                               "\r\nContent-Type: multipart/mixed;\r\n\tboundary=\"" + kBoundary +
                               "\"\r\n\r\n--" + kBoundary + "\r\n" + utf8_text_part_lines();
    EXPECT_EQ(w.result->converted_header_block, header);
    EXPECT_EQ(w.text, header + utf8_body("Hello\r\n") + "\r\n\r\n--" + kBoundary +
                          "\r\nContent-Type: application/octet-stream;\r\n\tName=" + name +
                          "\r\nContent-Transfer-Encoding: base64\r\n"
                          "Content-Disposition: attachment;\r\n\tFileName=" +
                          name + "\r\n\r\nYWJj\r\n\r\n\r\n--" + kBoundary + "--\r\n\r\n");
}

TEST_F(ComposeTest, SenderWithoutAtAndNoDisplayNameFails) {
    MessageFields f = sample_fields();
    f.from = "taro.example.com";
    const auto w = compose(f);
    ASSERT_FALSE(w.result.ok());
    EXPECT_EQ(w.result.error().kind, ErrorKind::Input);
    EXPECT_EQ(w.result.error().reports,
              std::vector<std::string>{error_text_inline(RuntimeError::InvalidArgument)});
    EXPECT_EQ(w.text, "");
}

struct BodyCase {
    const char* name;
    std::string body;
    std::string expected;  // everything after the header block
};

class BodyTest : public ComposeTest, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(BodyTest, TextPart) {
    MessageFields f = sample_fields();
    f.body = GetParam().body;
    const auto w = compose(f);
    ASSERT_TRUE(w.result.ok());
    const std::string& head = w.result->converted_header_block;
    ASSERT_EQ(w.text.substr(0, head.size()), head);
    EXPECT_EQ(w.text.substr(head.size()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, BodyTest,
    ::testing::Values(
        BodyCase{"Plain", "Hello", "\r\nHello\r\n"},
        BodyCase{"BlanksTrimmed", "  Hello  ", "\r\nHello\r\n"},
        BodyCase{"LineBreaksAtEndsKept", "\r\nHello\r\n", "\r\n\r\nHello\r\n\r\n"},
        BodyCase{"TabsKept", "\tHello\t", "\r\n\tHello\t\r\n"},
        BodyCase{"BareLf", "a\nb\n", "\r\na\r\nb\r\n\r\n"},
        BodyCase{"BareCr", "a\rb", "\r\na\r\nb\r\n"},
        BodyCase{"MixedLineEnds", "a\nb\rc\r\nd\n\re", "\r\na\r\nb\r\nc\r\nd\r\n\r\ne\r\n"},
        BodyCase{"Japanese", "こんにちは\n世界",
                 "\r\n\x1b$B$3$s$K$A$O\x1b(B\r\n\x1b$B@$3&\x1b(B\r\n"},
        BodyCase{"HalfWidthWidened", "ｶﾞｲﾄﾞ", "\r\n\x1b$B%,%$%I\x1b(B\r\n"},
        BodyCase{"Utf8WhenACharacterDoesNotFit", "a\U0001F600b", utf8_body("a\U0001F600b\r\n")},
        BodyCase{"Utf8WidenedWithCrLfLineEnds", "  ｶﾞ\n\U00020BB7\r  ",
                 utf8_body("ガ\r\n\U00020BB7\r\n\r\n")},
        BodyCase{"Utf8OneFullLine", std::string(53, 'x') + "\U0001F600",
                 utf8_body(std::string(53, 'x') + "\U0001F600\r\n")},
        BodyCase{"Utf8TwoFullLinesEndOnce", std::string(108, 'x') + "\U0001F600",
                 utf8_body(std::string(108, 'x') + "\U0001F600\r\n")},
        BodyCase{"Utf8AcrossPieces", repeat("あ", 20000) + "\U0001F600",
                 utf8_body(repeat("あ", 20000) + "\U0001F600\r\n")},
        BodyCase{"NulsThenBlanksTrimmed", std::string(" \0 a\0b \0 ", 9),
                 std::string("\r\na\0b\r\n", 7)},
        BodyCase{"OnlyNulsAndBlanks", std::string(" \0 ", 3), "\r\n\r\n"},
        // The body is converted in pieces of 64 KiB: a CR LF and a character
        // cut by the piece boundary stay whole, and so does a half-width
        // katakana with its sound mark in a UTF-8 body without ASCII.
        BodyCase{"AcrossPieces",
                 std::string(65535, 'a') + "\r\n" + std::string(65533, 'b') + "漢字",
                 "\r\n" + std::string(65535, 'a') + "\r\n" + std::string(65533, 'b') +
                     "\x1b$B4A;z\x1b(B\r\n"},
        BodyCase{"Utf8SoundMarksAcrossPieces", repeat("ｶﾞ", 20000) + "\U0001F600",
                 utf8_body(repeat("ガ", 20000) + "\U0001F600\r\n")},
        BodyCase{"Empty", "", "\r\n\r\n"},
        BodyCase{"LoneDotNotGuarded", "a\r\n.\r\nb", "\r\na\r\n.\r\nb\r\n"}),
    [](const auto& row) { return std::string(row.param.name); });

struct InjectionCase {
    const char* name;
    MessageFields fields;
    HeaderOptions options;
    std::string line;  // the header line the text must stay within
};

const std::string kEvil = "x\r\nBcc: evil@example.com\nX: y\rZ";

class HeaderInjectionTest : public ComposeTest,
                            public ::testing::WithParamInterface<InjectionCase> {};

TEST_P(HeaderInjectionTest, LineBreaksBecomeBlanks) {
    const auto& c = GetParam();
    const auto w = compose(c.fields, c.options);
    ASSERT_TRUE(w.result.ok());
    const std::string& head = w.result->converted_header_block;
    EXPECT_NE(head.find(c.line + "\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("\nBcc"), std::string::npos);
    EXPECT_EQ(head.find("\nX: "), std::string::npos);
    EXPECT_EQ(head.find("\nZ"), std::string::npos);
}

const std::string kSafe = "x  Bcc: evil@example.com X: y Z";

INSTANTIATE_TEST_SUITE_P(
    Fields, HeaderInjectionTest,
    ::testing::Values(
        InjectionCase{
            "Subject", with([](MessageFields& f) { f.subject = kEvil; }), {}, "Subject: " + kSafe},
        InjectionCase{"FromName", sample_fields(), with_from_name(kEvil),
                      "From: " + kSafe + "<taro@example.com>"},
        InjectionCase{"ToAlias", sample_fields(), with_to_alias(kEvil), "To: " + kSafe},
        InjectionCase{"CcAlias", with([](MessageFields& f) { f.cc = "c@example.com"; }),
                      with_cc_alias(kEvil), "Cc: " + kSafe},
        InjectionCase{"ReplyToOption", sample_fields(), with_reply_to(kEvil),
                      "Reply-To: " + kSafe}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ComposeTest, DotStuffingThroughSink) {
    MessageFields f = sample_fields();
    f.body = ".\r\n.\r\n.\r\n..\r\n.text\r\nend.\r\n.";
    StringSink plain;
    DotStuffingSink stuffing(plain);
    const auto r = write_message(f, {}, nullptr, sample_context(), stuffing);
    ASSERT_TRUE(r.ok());
    const std::string& head = r->converted_header_block;
    EXPECT_EQ(plain.text().substr(head.size()),
              "\r\n..\r\n..\r\n..\r\n...\r\n..text\r\nend.\r\n..\r\n");
}

struct DateCase {
    const char* name;
    const char* zone;
    std::chrono::system_clock::time_point when;
    std::string expected;
};

std::chrono::system_clock::time_point utc(int y, unsigned m, unsigned d, int h, int min, int s) {
    using namespace std::chrono;
    return sys_days{year{y} / month{m} / day{d}} + hours{h} + minutes{min} + seconds{s};
}

class DateTextTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateTextTest, Formats) {
    ScopedTz tz(GetParam().zone);
    EXPECT_EQ(make_date_text(GetParam().when), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, DateTextTest,
    ::testing::Values(
        DateCase{"Tokyo", "JST-9", utc(2026, 12, 7, 10, 31, 5),
                 "Mon, 7 Dec 2026 19:31:05 +0900 (JST)"},
        DateCase{"TokyoNextYear", "JST-9", utc(2026, 12, 31, 20, 0, 0),
                 "Fri, 1 Jan 2027 05:00:00 +0900 (JST)"},
        DateCase{"OtherNineHourZone", "KST-9", utc(2026, 12, 7, 10, 31, 5),
                 "Mon, 7 Dec 2026 19:31:05 +0900 (JST)"},
        DateCase{"Utc", "UTC0", utc(2026, 3, 1, 0, 4, 9), "Sun, 1 Mar 2026 00:04:09 +0000"},
        DateCase{"Behind", "EST5", utc(2026, 12, 7, 10, 31, 5), "Mon, 7 Dec 2026 05:31:05 -0500"},
        DateCase{"HalfHourNegative", "NST3:30", utc(2026, 12, 7, 10, 31, 5),
                 "Mon, 7 Dec 2026 07:01:05 -0330"},
        DateCase{"HalfHourPositive", "IST-5:30", utc(2026, 11, 28, 23, 45, 59),
                 "Sun, 29 Nov 2026 05:15:59 +0530"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(MailerText, CarriesVersionAndOsName) {
    EXPECT_EQ(make_mailer_text("Debian GNU/Linux 12 (bookworm)"),
              "Vellumtide 0.3.43 (Debian GNU/Linux 12 (bookworm))");
    EXPECT_EQ(make_mailer_text(""), "Vellumtide 0.3.43 ()");
}

// Records every write so tests can see how the message was cut.
class RecordingSink final : public ByteSink {
  public:
    Status write(std::string_view bytes) override {
        m_text.append(bytes);
        m_largest = std::max(m_largest, bytes.size());
        ++m_writes;
        return {};
    }
    std::string m_text;
    std::size_t m_largest = 0;
    int m_writes = 0;
};

class StreamingTest : public ComposeTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(StreamingTest, EqualsWholeForm) {
    const std::size_t size = GetParam();
    TempDir dir;
    const std::string path = dir.file("data.bin");
    const std::string data = test::pattern_bytes(size, static_cast<unsigned>(size));
    test::write_file(path, data);
    const auto part = prepare_attachment(path);
    ASSERT_TRUE(part.ok() && part->has_value());

    RecordingSink sink;
    const auto r = write_message(sample_fields(), {}, &**part, sample_context(), sink);
    ASSERT_TRUE(r.ok());
    const std::string prefix = r->converted_header_block + "\r\nHello\r\n\r\n" +
                               attachment_head(AttachmentKind::Binary, path, kBoundary);
    const std::string expected =
        prefix + test::reference_base64(data) + "\r\n\r\n\r\n--" + kBoundary + "--\r\n\r\n";
    ASSERT_EQ(sink.m_text.size(), expected.size());
    EXPECT_TRUE(sink.m_text == expected);
    // Large files go out in bounded pieces, never as one block.
    EXPECT_LE(sink.m_largest, std::max<std::size_t>(prefix.size(), 128 * 1024));
}

INSTANTIATE_TEST_SUITE_P(Sizes, StreamingTest,
                         ::testing::Values(1, 2, 3, 4, 56, 57, 58, 113, 114, 115, 171, 172, 49151,
                                           49152, 49153, 49152 * 2 + 1, 57 * 1000,
                                           3 * 1024 * 1024 + 7));

TEST_F(ComposeTest, ExactMultipleOf76LeavesExtraLineBreak) {
    TempDir dir;
    const std::string path = dir.file("data.bin");
    test::write_file(path, std::string(114, 'x'));  // 152 base64 characters: two full lines
    const auto part = prepare_attachment(path);
    ASSERT_TRUE(part.ok() && part->has_value());
    const auto w = compose(sample_fields(), {}, &**part);
    ASSERT_TRUE(w.result.ok());
    std::string full;
    for (int i = 0; i < 19; ++i) full += "eHh4";
    const std::string tail =
        full + "\r\n" + full + "\r\n" + "\r\n\r\n\r\n--" + kBoundary + "--\r\n\r\n";
    ASSERT_GE(w.text.size(), tail.size());
    EXPECT_EQ(w.text.substr(w.text.size() - tail.size()), tail);
}

TEST_F(ComposeTest, MultiMegabyteFileStreamsInPieces) {
    TempDir dir;
    const std::string path = dir.file("big.bin");
    const std::string data = test::pattern_bytes(8 * 1024 * 1024 + 1, 7);
    test::write_file(path, data);
    const auto part = prepare_attachment(path);
    ASSERT_TRUE(part.ok() && part->has_value());
    RecordingSink sink;
    const auto r = write_message(sample_fields(), {}, &**part, sample_context(), sink);
    ASSERT_TRUE(r.ok());
    EXPECT_GT(sink.m_writes, 100);
    EXPECT_LE(sink.m_largest, 128u * 1024);
    const std::size_t start = r->converted_header_block.size() + 11 +
                              attachment_head(AttachmentKind::Binary, path, kBoundary).size();
    const std::string b64 = test::reference_base64(data);
    EXPECT_TRUE(sink.m_text.compare(start, b64.size(), b64) == 0);
}

struct ReadFailCase {
    const char* name;
    RuntimeError error;  // the system's error mapped
    bool use_folder;
    bool writes_nothing;  // the failure comes before the first octet
};

class StreamFailureTest : public ComposeTest, public ::testing::WithParamInterface<ReadFailCase> {};

TEST_P(StreamFailureTest, ReportsAttachFileError) {
    TempDir dir;
    AttachmentPart part;
    if (GetParam().use_folder) {
        part.path = test::utf8_string(dir.path());  // opens, but reading fails
    } else {
        const std::string path = dir.file("gone.bin");
        test::write_file(path, "abc");
        auto prepared = prepare_attachment(path);
        ASSERT_TRUE(prepared.ok() && prepared->has_value());
        part = **prepared;
        std::filesystem::remove(path);  // vanishes before the message is written
    }
    part.size = 3;
    const auto w = compose(sample_fields(), {}, &part);
    ASSERT_FALSE(w.result.ok());
    EXPECT_EQ(w.result.error().kind, ErrorKind::Io);
    EXPECT_EQ(w.result.error().reports,
              std::vector<std::string>{"AttachFileERR:" + error_text_inline(GetParam().error)});
    EXPECT_EQ(w.text.empty(), GetParam().writes_nothing);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, StreamFailureTest,
    ::testing::Values(ReadFailCase{"ReadFails", RuntimeError::PathFileAccess, true, false},
                      ReadFailCase{"FileVanished", RuntimeError::FileNotFound, false, true}),
    [](const auto& row) { return std::string(row.param.name); });

// Fails on the write numbered `fail_at` (0 is the first).
class FailingSink final : public ByteSink {
  public:
    explicit FailingSink(int fail_at) : m_fail_at(fail_at) {}
    Status write(std::string_view) override {
        if (m_count++ == m_fail_at) return Error(ErrorKind::Connect, "sink broke");
        return {};
    }

  private:
    int m_fail_at;
    int m_count = 0;
};

class SinkFailureTest : public ComposeTest, public ::testing::WithParamInterface<int> {};

TEST_P(SinkFailureTest, SinkErrorPassesThrough) {
    TempDir dir;
    const std::string path = dir.file("data.bin");
    test::write_file(path, test::pattern_bytes(200 * 1024));
    const auto part = prepare_attachment(path);
    ASSERT_TRUE(part.ok() && part->has_value());
    FailingSink sink(GetParam());
    const auto r = write_message(sample_fields(), {}, &**part, sample_context(), sink);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Connect);
    EXPECT_EQ(r.error().reports, std::vector<std::string>{"sink broke"});
}

INSTANTIATE_TEST_SUITE_P(WriteNumbers, SinkFailureTest, ::testing::Values(0, 1, 3, 5));

// Messages whose every character fits ISO-2022-JP, each compared octet for
// octet with a message composed by an earlier build (tests/smtp/data), so a
// change elsewhere in the writer cannot alter them unnoticed.
struct GoldenCase {
    const char* name;
    MessageFields fields;
    HeaderOptions options;
    const char* attachment_name;  // nullptr: no attachment
    std::size_t attachment_size;
};

class GoldenMessageTest : public ComposeTest, public ::testing::WithParamInterface<GoldenCase> {};

TEST_P(GoldenMessageTest, SameOctetsAsEarlierBuild) {
    const auto& c = GetParam();
    TempDir dir;
    std::optional<AttachmentPart> part;
    if (c.attachment_name != nullptr) {
        const std::string path = dir.file(c.attachment_name);
        test::write_file(path, test::pattern_bytes(c.attachment_size, 3));
        auto prepared = prepare_attachment(path);
        ASSERT_TRUE(prepared.ok() && prepared->has_value());
        part = std::move(**prepared);
    }
    const auto w = compose(c.fields, c.options, part ? &*part : nullptr);
    ASSERT_TRUE(w.result.ok());
    const std::string golden = test::read_file(std::string(VLT_SMTP_DATA "/") + c.name + ".eml");
    ASSERT_FALSE(golden.empty()) << c.name;
    EXPECT_TRUE(w.text == golden) << w.text;
}

MessageFields japanese_fields() {
    MessageFields f = sample_fields();
    f.cc = "c@example.com";
    f.errors_to = "e@example.com";
    f.subject = "Re: 会議の件 ①㈱髙 ｶﾞｲﾄﾞ 〜‖−¢£¬— 長い件名長い件名長い件名長い件名長い件名 end";
    f.body = "  各位\n\nｶﾀｶﾅ ﾊﾟﾋﾟﾌﾟ ①②㈱髙﨑 〜‖−¢£¬—\r\n.\r\n..二つの点\rend  ";
    return f;
}

HeaderOptions japanese_options() {
    return {"山田 太郎", "営業部 <sales@example.com>", "経理 課", "reply@example.com"};
}

INSTANTIATE_TEST_SUITE_P(
    Messages, GoldenMessageTest,
    ::testing::Values(
        GoldenCase{"plain_ascii", sample_fields(), {}, nullptr, 0},
        GoldenCase{"japanese_no_attachment", japanese_fields(), japanese_options(), nullptr, 0},
        GoldenCase{"japanese_attachment", japanese_fields(), japanese_options(),
                   "報告書 ①ﾃｽﾄ 2024.pdf", 5000},
        GoldenCase{"ascii_attachment_full_lines", with([](MessageFields& f) {
                       f.subject =
                           "A rather long plain subject line that is folded at blanks because "
                           "it is longer than one line";
                       f.body = "line 1\nline 2\n";
                   }),
                   with_from_name("Taro Yamada"), "data.bin", 114}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vlt::smtp
