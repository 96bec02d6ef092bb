// The file helpers on both systems, by UTF-8 names (Japanese ones included)
// with either folder separator: what counts as a file to read, the text it
// holds, the program's own files and the whole-file replace.

#include "common/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "common/error_text.h"
#include "support/files.h"

namespace vlt {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// The folder separator of this system: "/" on POSIX systems, "\" on Windows.
const std::string kSep(1, static_cast<char>(fs::path::preferred_separator));

struct ReadCase {
    const char* name;
    std::string file;                  // made under the temporary folder, "" for none
    std::optional<std::string> bytes;  // its content; nullopt makes a folder
    std::string read_as;               // the name the helpers are given
    std::optional<std::string> text;   // read_text_file's answer
    std::uint64_t length;              // regular_file_length's answer
};

class ReadFileTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadFileTest, ReadsOnlyOrdinaryVisibleFiles) {
    const auto& c = GetParam();
    TempDir dir;
    if (!c.file.empty()) {
        fs::create_directories(test::utf8_path(dir.file(c.file)).parent_path());
        if (c.bytes) {
            test::write_file(dir.file(c.file), *c.bytes);
        } else {
            fs::create_directory(test::utf8_path(dir.file(c.file)));
        }
    }
    const std::string path = test::utf8_string(dir.path()) + kSep + c.read_as;
    const auto text = read_text_file(path);
    ASSERT_TRUE(text.ok()) << text.error().reports.front();
    EXPECT_EQ(*text, c.text);
    EXPECT_EQ(regular_file_length(path), c.length);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadFileTest,
    ::testing::Values(
        ReadCase{"Utf8JapaneseName", "本文.txt", "こんにちは", "本文.txt", "こんにちは", 15},
        ReadCase{"Cp932Bytes", "sjis.txt", "\x82\xb1\x82\xf1", "sjis.txt", "こん", 4},
        ReadCase{"NativeSeparatorInside", "下/本文.txt", "ab", "下" + kSep + "本文.txt", "ab", 2},
        ReadCase{"SlashInside", "下/本文.txt", "ab", "下/本文.txt", "ab", 2},
        ReadCase{"OneByteIsNoFile", "a.txt", "x", "a.txt", std::nullopt, 1},
        ReadCase{"HiddenName", ".secret", "abc", ".secret", std::nullopt, 3},
        ReadCase{"HiddenInSubfolder", "下/.secret", "abc", "下" + kSep + ".secret", std::nullopt,
                 3},
        ReadCase{"Missing", "", "", "none.txt", std::nullopt, 0},
        ReadCase{"MissingFolder", "", "", "none" + kSep + "x.txt", std::nullopt, 0},
        ReadCase{"Folder", "folder", std::nullopt, "folder", std::nullopt, 0}),
    [](const auto& row) { return std::string(row.param.name); });

struct OwnCase {
    const char* name;
    std::optional<std::string> bytes;  // nullopt: a folder at the path; "" nothing there
    std::optional<std::string> read;   // the answer, when there is no error
    int run_time_error;                // else the error's number
};

class OwnFileTest : public ::testing::TestWithParam<OwnCase> {};

TEST_P(OwnFileTest, LimitsKindAndLength) {
    const auto& c = GetParam();
    TempDir dir;
    const std::string path = dir.file("設定.dat");
    if (!c.bytes) fs::create_directory(test::utf8_path(path));
    if (c.bytes && !c.bytes->empty()) test::write_file(path, *c.bytes);
    const auto read = read_own_file(path, 8);
    if (c.run_time_error != 0) {
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().run_time_error, c.run_time_error);
        EXPECT_EQ(read.error().path, path);
        return;
    }
    ASSERT_TRUE(read.ok()) << read.error().reports.front();
    EXPECT_EQ(*read, c.read);
}

INSTANTIATE_TEST_SUITE_P(Files, OwnFileTest,
                         ::testing::Values(OwnCase{"AtTheLimit", "12345678", "12345678", 0},
                                           OwnCase{"OverTheLimit", "123456789", std::nullopt, 6},
                                           OwnCase{"OneByte", "1", std::nullopt, 0},
                                           OwnCase{"Nothing", "", std::nullopt, 0},
                                           OwnCase{"Folder", std::nullopt, std::nullopt, 75}),
                         [](const auto& row) { return std::string(row.param.name); });

// Two replaces in a row under a Japanese name: the second keeps the first as
// the backup, a temporary file of a process that is gone is removed, and no
// temporary file of this run stays behind.
TEST(ReplaceFile, NewFileThenBackupAndNoLeftovers) {
    TempDir dir;
    const std::string path = dir.file("定義.sysdat");
    const std::string stale = path + ".tmp999999999";
    test::write_file(stale, "old run");
    ASSERT_TRUE(replace_file(path, "first").ok());
    EXPECT_EQ(test::read_file(path), "first");
    EXPECT_FALSE(fs::exists(test::utf8_path(path + ".bak")));
    ASSERT_TRUE(replace_file(path, "second").ok());
    EXPECT_EQ(test::read_file(path), "second");
    EXPECT_EQ(test::read_file(path + ".bak"), "first");
    EXPECT_FALSE(fs::exists(test::utf8_path(stale)));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 2);
}

// A failure at any step leaves the previous file and its backup as they were.
TEST(ReplaceFile, FailedStepChangesNothing) {
    for (const ReplaceStep failing :
         {ReplaceStep::CreateTemp, ReplaceStep::WriteTemp, ReplaceStep::SyncTemp,
          ReplaceStep::MakeBackup, ReplaceStep::Rename}) {
        SCOPED_TRACE(static_cast<int>(failing));
        TempDir dir;
        const std::string path = dir.file("定義.sysdat");
        ASSERT_TRUE(replace_file(path, "first").ok());
        ASSERT_TRUE(replace_file(path, "second").ok());
        ReplaceOptions options;
        options.fault = [failing](ReplaceStep step) { return step == failing ? 5 : 0; };
        const auto status = replace_file(path, "third", options);
        ASSERT_FALSE(status.ok());
        EXPECT_NE(status.error().run_time_error, 0);
        EXPECT_EQ(test::read_file(path), "second");
        EXPECT_EQ(test::read_file(path + ".bak"),
                  failing == ReplaceStep::Rename ? "second" : "first");
    }
}

TEST(ReplaceFile, FolderAtThePathIsRefused) {
    TempDir dir;
    const std::string path = dir.file("定義.sysdat");
    fs::create_directory(test::utf8_path(path));
    const auto status = replace_file(path, "bytes");
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().run_time_error, static_cast<int>(RuntimeError::PathFileAccess));
    EXPECT_TRUE(fs::is_directory(test::utf8_path(path)));
}

}  // namespace
}  // namespace vlt
