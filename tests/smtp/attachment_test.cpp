#include "smtp/attachment.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "smtp/test_support.h"

namespace vlt::smtp {
namespace {

using test::ScopedTz;
using test::TempDir;

const std::string kBoundary = "==_Bndry_==20261207193105-0A1E";

std::string head_for(const std::string& type, const std::string& name) {
    return "\r\n--" + kBoundary + "\r\nContent-Type: " + type + ";\r\n\tName=\"" + name +
           "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n"
           "\tFileName=\"" +
           name + "\"\r\n\r\n";
}

std::string word(const std::string& base64) {
    return "=?ISO-2022-JP?B?" + base64 + "?=";
}

TEST(Boundary, FormFromLocalTimeAndDigits) {
    ScopedTz tz("JST-9");
    std::vector<unsigned> draws = {0, 14, 15, 29};
    std::size_t next = 0;
    const std::string b = make_boundary(test::sample_time(), [&] { return draws[next++]; });
    EXPECT_EQ(b, "==_Bndry_==20261207193105-0E0E");
}

TEST(Boundary, UsesLocalClock) {
    ScopedTz tz("UTC0");
    const std::string b = make_boundary(test::sample_time(), [] { return 3u; });
    EXPECT_EQ(b, "==_Bndry_==20261207103105-3333");
}

TEST(Boundary, RandomDigitsRangeOverZeroToE) {
    const std::regex form("==_Bndry_==[0-9]{14}-[0-9A-E]{4}");
    std::set<char> seen;
    for (int i = 0; i < 600; ++i) {
        const std::string b = make_boundary(std::chrono::system_clock::now());
        ASSERT_EQ(b.size(), 30u);
        ASSERT_TRUE(std::regex_match(b, form)) << b;
        seen.insert(b.end() - 4, b.end());
    }
    EXPECT_EQ(seen.size(), 15u);
}

struct NameCase {
    const char* name;
    std::string path;
    std::string expected;
};

class FileNamePartTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNamePartTest, KeepsLastComponent) {
    EXPECT_EQ(file_name_part(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FileNamePartTest,
    ::testing::Values(NameCase{"BareName", "report.pdf", "report.pdf"},
                      NameCase{"UnixPath", "/home/taro/report.pdf", "report.pdf"},
                      NameCase{"DriveAndBackslashes", "C:\\docs\\report.pdf", "report.pdf"},
                      NameCase{"MixedSeparators", "D:/docs\\sub/2024\\report.pdf", "report.pdf"},
                      NameCase{"DriveDirectlyBeforeName", "C:report.pdf", "report.pdf"},
                      NameCase{"ColonAfterLastSeparator", "a:b/c:d.txt", "d.txt"},
                      NameCase{"TrailingBackslash", "C:\\docs\\", ""},
                      NameCase{"TrailingSlash", "/tmp/docs/", ""},
                      NameCase{"JapaneseName", "C:\\書類\\日本語.txt", "日本語.txt"},
                      NameCase{"Empty", "", ""}),
    [](const auto& row) { return std::string(row.param.name); });

struct HeadCase {
    const char* name;
    AttachmentKind kind;
    std::string path;
    std::string type;
    std::string encoded_name;
};

class AttachmentHeadTest : public ::testing::TestWithParam<HeadCase> {};

TEST_P(AttachmentHeadTest, ExactLines) {
    const auto& c = GetParam();
    EXPECT_EQ(attachment_head(c.kind, c.path, kBoundary), head_for(c.type, c.encoded_name));
}

const std::string kOctet = "application/octet-stream";

INSTANTIATE_TEST_SUITE_P(
    Names, AttachmentHeadTest,
    ::testing::Values(
        HeadCase{"AsciiName", AttachmentKind::Binary, "/tmp/report.pdf", kOctet, "report.pdf"},
        HeadCase{"TextKind", AttachmentKind::Text, "notes.txt", "text/plain", "notes.txt"},
        HeadCase{"JapaneseStartsName", AttachmentKind::Binary, "C:\\書類/日本語.txt", kOctet,
                 word("GyRCRnxLXDhsGyhC") + ".txt"},
        HeadCase{"JapaneseBeforeBlank", AttachmentKind::Binary, "報告書 2024.pdf", kOctet,
                 word("GyRCSnM5cD1xGyhC") + " 2024.pdf"},
        HeadCase{"JapaneseAfterDigits", AttachmentKind::Binary, "/x/2024年度報告.pdf", kOctet,
                 "2024" + word("GyRCRy9FWUpzOXAbKEI=") + ".pdf"},
        HeadCase{"HalfWidthWidened", AttachmentKind::Binary, "ﾃｽﾄ.txt", kOctet,
                 word("GyRCJUYlOSVIGyhC") + ".txt"},
        HeadCase{"BlanksTrimmed", AttachmentKind::Binary, "/tmp/  report.pdf ", kOctet,
                 "report.pdf"},
        HeadCase{"LineBreaksBecomeBlanks", AttachmentKind::Binary, "a\r\nX-Evil\nb.txt", kOctet,
                 "a  X-Evil b.txt"},
        HeadCase{"QuoteEscaped", AttachmentKind::Binary, "say \"hi\".txt", kOctet,
                 "say \\\"hi\\\".txt"},
        HeadCase{"MissingCharacterAsQuestionMark", AttachmentKind::Binary, "x\U0001F600.txt",
                 kOctet, "x?.txt"},
        HeadCase{"LongNameFoldedInsideQuotes", AttachmentKind::Binary,
                 "報告書報告書 報告書報告書.pdf", kOctet,
                 word("GyRCSnM5cD1xSnM5cD1xGyhC") + "\r\n " + word("GyRCSnM5cD1xSnM5cD1xGyhC") +
                     ".pdf"}),
    [](const auto& row) { return std::string(row.param.name); });

struct ProbeCase {
    const char* name;
    // Makes the object to probe inside the folder and returns its path.
    std::string (*make)(const TempDir&);
    bool expect_part;
    std::uint64_t size;
};

class PrepareAttachmentTest : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(PrepareAttachmentTest, ProbesPath) {
    const auto& c = GetParam();
    TempDir dir;
    const std::string path = c.make(dir);
    const auto part = prepare_attachment(path);
    ASSERT_TRUE(part.ok()) << part.error().reports.front();
    ASSERT_EQ(part->has_value(), c.expect_part);
    if (c.expect_part) {
        EXPECT_EQ((*part)->path, path);
        EXPECT_EQ((*part)->size, c.size);
        EXPECT_EQ((*part)->kind, AttachmentKind::Binary);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Objects, PrepareAttachmentTest,
    ::testing::Values(
        ProbeCase{"RegularFile",
                  [](const TempDir& d) {
                      test::write_file(d.file("a.bin"), "abc");
                      return d.file("a.bin");
                  },
                  true, 3},
        ProbeCase{"JapaneseNameInSubfolder",
                  [](const TempDir& d) {
                      std::filesystem::create_directory(d.path() / "sub");
                      test::write_file(d.file("sub/添付ファイル.bin"), std::string(1000, 'x'));
                      return test::utf8_string(d.path()) + "/sub/添付ファイル.bin";
                  },
                  true, 1000},
        ProbeCase{"Missing", [](const TempDir& d) { return d.file("none.bin"); }, false, 0},
        ProbeCase{"EmptyPath", [](const TempDir&) { return std::string(); }, false, 0},
        ProbeCase{"EmptyFile",
                  [](const TempDir& d) {
                      test::write_file(d.file("empty"), "");
                      return d.file("empty");
                  },
                  false, 0},
        ProbeCase{"Folder", [](const TempDir& d) { return test::utf8_string(d.path()); }, false,
                  0}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vlt::smtp
