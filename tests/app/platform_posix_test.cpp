// The POSIX folder rule and the folders an installed program makes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "app/platform.h"
#include "app_fixture.h"

namespace vlt::app {

namespace {

using testing::RunFixture;

struct FolderCase {
    const char* name;
    std::optional<std::string> vellumtide_home;
    std::optional<std::string> xdg_config_home;
    std::optional<std::string> xdg_state_home;
    std::optional<std::string> home;
    std::string exe_folder;
    std::set<std::string> files;  // the files that exist
    RunFolders expected;
};

const std::string kCfg = "/home/u/.config/vellumtide";
const std::string kState = "/home/u/.local/state/vellumtide";
constexpr auto kMade = FolderMaking::WhenMissing;
constexpr auto kAsIs = FolderMaking::None;
const std::nullopt_t kUnset = std::nullopt;

TEST(RunFolderRule, Table) {
    // clang-format off
    const FolderCase cases[] = {
        {"home_variable_first", "/srv/vlt/", "/cfg", "/st", "/home/u", "/usr/bin",
         {"/usr/bin/vlt.sysdat"}, {"/srv/vlt", "/srv/vlt", kAsIs}},
        {"empty_home_variable_ignored", "", kUnset, kUnset, "/home/u", "/usr/bin", {},
         {kCfg, kState, kMade}},
        {"build_folder", kUnset, kUnset, kUnset, "/home/u", "/home/u/src/build", {},
         {"/home/u/src/build", "/home/u/src/build", kAsIs}},
        {"copy_in_home_bin", kUnset, "/cfg", kUnset, "/home/u", "/home/u/bin", {},
         {"/home/u/bin", "/home/u/bin", kAsIs}},
        {"name_only_begins_with_usr", kUnset, kUnset, kUnset, "/home/u", "/usrlocal/bin", {},
         {"/usrlocal/bin", "/usrlocal/bin", kAsIs}},
        {"portable_copy_with_settings", kUnset, kUnset, kUnset, "/home/u", "/usr/local/bin",
         {"/usr/local/bin/vlt.sysdat"}, {"/usr/local/bin", "/usr/local/bin", kAsIs}},
        {"portable_copy_with_older_file", kUnset, kUnset, kUnset, "/home/u", "/opt/vlt",
         {"/opt/vlt/VLTSYS.DAT"}, {"/opt/vlt", "/opt/vlt", kAsIs}},
        {"oldest_file_counts_too", kUnset, kUnset, kUnset, "/home/u", "/bin",
         {"/bin/TERNLOAD.DAT"}, {"/bin", "/bin", kAsIs}},
        {"settings_elsewhere_do_not_count", kUnset, kUnset, kUnset, "/home/u", "/usr/bin",
         {"/usr/vlt.sysdat", "/usr/bin/other.dat"}, {kCfg, kState, kMade}},
        {"installed_sbin", kUnset, kUnset, kUnset, "/home/u/", "/sbin", {},
         {kCfg, kState, kMade}},
        {"xdg_folders", kUnset, "/cfg/", "/var/st", "/home/u", "/usr/bin", {},
         {"/cfg/vellumtide", "/var/st/vellumtide", kMade}},
        {"relative_xdg_ignored", kUnset, "cfg", "./st", "/home/u", "/usr/bin", {},
         {kCfg, kState, kMade}},
        {"empty_xdg_ignored", kUnset, "", "", "/home/u", "/opt/x/bin", {},
         {kCfg, kState, kMade}},
        {"no_home_variable", kUnset, kUnset, kUnset, kUnset, "/usr/bin", {},
         {"/var/lib/acct/.config/vellumtide", "/var/lib/acct/.local/state/vellumtide", kMade}},
        {"empty_home_variable", kUnset, kUnset, "/st", "", "/usr/bin", {},
         {"/var/lib/acct/.config/vellumtide", "/st/vellumtide", kMade}},
        {"root_home", kUnset, kUnset, kUnset, "/", "/usr/bin", {},
         {"/.config/vellumtide", "/.local/state/vellumtide", kMade}},
    };
    // clang-format on
    for (const FolderCase& c : cases) {
        FolderFacts facts;
        facts.vellumtide_home = c.vellumtide_home;
        facts.xdg_config_home = c.xdg_config_home;
        facts.xdg_state_home = c.xdg_state_home;
        facts.home = c.home;
        facts.account_home = "/var/lib/acct";
        facts.exe_folder = c.exe_folder;
        facts.file_exists = [&c](const std::string& path) { return c.files.count(path) > 0; };
        const RunFolders got = choose_run_folders(facts);
        EXPECT_EQ(got.settings, c.expected.settings) << c.name;
        EXPECT_EQ(got.logs, c.expected.logs) << c.name;
        EXPECT_EQ(got.making, c.expected.making) << c.name;
    }
}

unsigned mode_of(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

class UserFolders : public RunFixture {};

// An installed program's run makes both folders (0700, their parents with the
// default mode), stores and shows the settings there and logs in the other.
TEST_F(UserFolders, MadeWhenMissingAndUsed) {
    const auto settings = folder / "config" / "vellumtide";
    const auto logs = folder / "state" / "deeper" / "vellumtide";
    folders = RunFolders{settings.string(), logs.string(), FolderMaking::WhenMissing};
    const mode_t old_mask = ::umask(022);
    EXPECT_EQ(run_with("--xcnf, 127.0.0.1, 1, f@x, , , u, p"), 0);
    ::umask(old_mask);
    EXPECT_EQ(mode_of(settings), 0700u);
    EXPECT_EQ(mode_of(logs), 0700u);
    EXPECT_EQ(mode_of(folder / "state" / "deeper"), 0755u);
    EXPECT_EQ(mode_of(settings / "vlt.sysdat"), 0600u);

    EXPECT_EQ(run_with("--info"), 0);
    ASSERT_EQ(windows.shown.size(), 1u);
    const std::string tail = "\r\n  設定ファイル ： " + (settings / "vlt.sysdat").string();
    EXPECT_EQ(windows.shown[0].substr(windows.shown[0].size() - tail.size()), tail);

    EXPECT_EQ(run_with("to@example.com, , 件名, 本文"), 1);
    EXPECT_TRUE(std::filesystem::exists(logs / "vellumtideERR1.log"));
    EXPECT_FALSE(std::filesystem::exists(settings / "vellumtideERR1.log"));
    EXPECT_FALSE(std::filesystem::exists(folder / "vellumtideERR1.log"));
}

// A folder that cannot be made fails the settings run like a settings file
// that cannot be written; a log folder that cannot be made leaves the run
// going, without a log.
TEST_F(UserFolders, FolderThatCannotBeMade) {
    write("blocker", "a file where a folder should be");
    const auto settings = folder / "blocker" / "vellumtide";
    folders = RunFolders{settings.string(), settings.string(), FolderMaking::WhenMissing};
    EXPECT_EQ(run_with("--xcnf, 127.0.0.1, 1, f@x, , , u, p"), 1);
    EXPECT_EQ(reports, std::vector<std::string>{
                           "エラー番号 :76 -- PrjVellumtide でエラーが発生しました。 \r\n"
                           "パスが見つかりません。"});

    // An existing folder is left with its mode.
    std::filesystem::create_directories(folder / "open");
    std::filesystem::permissions(folder / "open", std::filesystem::perms(0755));
    folders = RunFolders{(folder / "open").string(), (folder / "open").string(),
                         FolderMaking::WhenMissing};
    EXPECT_EQ(run_with("--xcnf, 127.0.0.1, 1, f@x, , , u, p"), 0);
    EXPECT_EQ(mode_of(folder / "open"), 0755u);
}

}  // namespace
}  // namespace vlt::app
