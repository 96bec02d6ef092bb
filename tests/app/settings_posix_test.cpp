// The settings file and its neighbours on POSIX: the file and its backup are
// the owner's alone, a file the user may not read fails the run with its
// error (run as root, the reads happen as an ordinary user), a store that
// fails with an errno at any step keeps the previous files, and links are
// never written through.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "app/settings.h"
#include "app_fixture.h"
#include "settings_samples.h"

namespace vlt::app {
namespace {

using testing::folder_names;
using testing::RunFixture;
using testing::sample;

unsigned mode_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

class SettingsPosix : public RunFixture {};

TEST_F(SettingsPosix, SettingsOwnerOnlyAndUnreadable) {
    const SettingsPaths paths = SettingsPaths::in_folder(folder.string());
    const std::string head = "エラーが発生しました。 \r\nデータ:\tエラー番号 :";
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(save_settings(paths, sample(true), "u").ok());
    EXPECT_EQ(mode_of(paths.current), 0600u);
    EXPECT_EQ(mode_of(paths.current + ".bak"), 0600u);
    ::chmod(paths.current.c_str(), 0);
    // Root reads any file: read as an ordinary user.
    const bool as_root = ::geteuid() == 0;
    if (as_root) {
        ::chmod(folder.c_str(), 0755);
        ASSERT_EQ(::seteuid(65534), 0);
    }
    const auto loaded = load_settings(paths, "u");
    if (as_root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().reports,
              std::vector<std::string>{head + "70 -- PrjVellumtide でエラーが発生しました。 "
                                              "書き込みできません。"});
}

TEST_F(SettingsPosix, UnreadableAttachmentFailsBeforeAnyConnection) {
    ASSERT_EQ(run_with("--xcnf, 127.0.0.1, 1, f@x, , , u, p"), 0);
    write("secret.bin", "data");
    std::filesystem::permissions(folder / "secret.bin", std::filesystem::perms::none);
    // Root reads any file: run as an ordinary user, who may still read the settings.
    const bool as_root = ::geteuid() == 0;
    if (as_root) {
        namespace fs = std::filesystem;
        fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
        fs::permissions(folder / "vlt.sysdat",
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        ASSERT_EQ(::seteuid(65534), 0);
    }
    const int status = run_with("to@example.com, , s, body, " + path("secret.bin"));
    if (as_root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    EXPECT_EQ(status, 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind("AttachFileERR:エラー番号 :70", 0), 0u) << reports[0];
}

// A failure at any step of storing leaves the previous settings and backup
// as they were, and no temporary file behind.
TEST_F(SettingsPosix, FailedStoreKeepsThePreviousFiles) {
    const SettingsPaths paths = SettingsPaths::in_folder(folder.string());
    ServerSettings first = sample(true);
    ASSERT_TRUE(save_settings(paths, first, "u").ok());
    first.user = "second";
    ASSERT_TRUE(save_settings(paths, first, "u").ok());
    const std::string current = read("vlt.sysdat");
    const std::string backup = read("vlt.sysdat.bak");
    // A leftover of an earlier run (no process has this id) goes with the next store.
    write("vlt.sysdat.tmp999999999", "left over");
    const std::vector<std::string> kept = {"vlt.sysdat", "vlt.sysdat.bak"};
    struct Case {
        ReplaceStep step;
        int err;
        const char* report;
    };
    const Case cases[] = {
        {ReplaceStep::CreateTemp, EACCES,
         "エラー番号 :70 -- PrjVellumtide でエラーが発生しました。 \r\n書き込みできません。"},
        {ReplaceStep::WriteTemp, ENOSPC,
         "エラー番号 :57 -- PrjVellumtide でエラーが発生しました。 \r\nデバイス I/O エラーです。"},
        {ReplaceStep::SyncTemp, EIO,
         "エラー番号 :57 -- PrjVellumtide でエラーが発生しました。 \r\nデバイス I/O エラーです。"},
        {ReplaceStep::MakeBackup, EROFS,
         "エラー番号 :70 -- PrjVellumtide でエラーが発生しました。 \r\n書き込みできません。"},
        {ReplaceStep::Rename, ENOENT, "定義ファイル　"},
    };
    for (const Case& c : cases) {
        ReplaceOptions store;
        store.fault = [&c](ReplaceStep step) { return step == c.step ? c.err : 0; };
        ServerSettings other = sample(false);
        const Status saved = save_settings(paths, other, "u", {}, store);
        ASSERT_FALSE(saved.ok()) << static_cast<int>(c.step);
        EXPECT_EQ(saved.error().reports.front().rfind(c.report, 0), 0u) << saved.error().reports[0];
        EXPECT_FALSE(saved.error().path.empty());
        EXPECT_EQ(read("vlt.sysdat"), current);
        // Once made, the backup holds the current file, the previous settings.
        const bool backup_made = c.step == ReplaceStep::Rename;
        EXPECT_EQ(read("vlt.sysdat.bak"), backup_made ? current : backup);
        EXPECT_EQ(folder_names(folder), kept) << static_cast<int>(c.step);
    }
    // Storing again works, and the backup is the file it replaced.
    ASSERT_TRUE(save_settings(paths, sample(false), "u").ok());
    EXPECT_EQ(read("vlt.sysdat.bak"), current);
    EXPECT_EQ(folder_names(folder), kept);
}

// Entries that are links or not ordinary files are refused and never written through.
TEST_F(SettingsPosix, LinksAndOtherEntriesAreRefused) {
    namespace fs = std::filesystem;
    const SettingsPaths paths = SettingsPaths::in_folder(folder.string());
    write("target", "untouched");
    const std::string load_report =
        "エラーが発生しました。 \r\nデータ:\tエラー番号 :75 -- PrjVellumtide "
        "でエラーが発生しました。 "
        "パス名が無効です。";
    const std::string save_report =
        "エラー番号 :75 -- PrjVellumtide でエラーが発生しました。 \r\nパス名が無効です。";
    const std::vector<std::function<void()>> makers = {
        [&] { fs::create_symlink(folder / "target", folder / "vlt.sysdat"); },
        [&] { fs::create_symlink(folder / "missing", folder / "vlt.sysdat"); },
        [&] { fs::create_directory(folder / "vlt.sysdat"); },
    };
    for (const auto& make : makers) {
        fs::remove_all(folder / "vlt.sysdat");
        make();
        const auto loaded = load_settings(paths, "u");
        ASSERT_FALSE(loaded.ok());
        EXPECT_EQ(loaded.error().reports, std::vector<std::string>{load_report});
        const Status saved = save_settings(paths, sample(true), "u");
        ASSERT_FALSE(saved.ok());
        EXPECT_EQ(saved.error().reports, std::vector<std::string>{save_report});
        EXPECT_EQ(read("target"), "untouched");
        EXPECT_FALSE(fs::exists(folder / "missing"));
    }
    // A backup entry that is a link is replaced, not written through.
    fs::remove_all(folder / "vlt.sysdat");
    fs::create_symlink(folder / "target", folder / "vlt.sysdat.bak");
    ASSERT_TRUE(save_settings(paths, sample(true), "u").ok());
    ASSERT_TRUE(save_settings(paths, sample(false), "u").ok());
    EXPECT_FALSE(fs::is_symlink(folder / "vlt.sysdat.bak"));
    EXPECT_EQ(read("target"), "untouched");
}

}  // namespace
}  // namespace vlt::app
