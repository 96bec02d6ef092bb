// The Windows folder rule and the folder an installed program makes.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "app/platform.h"
#include "app_fixture.h"

namespace vlt::app {

namespace {

using testing::RunFixture;

TEST(RunFolderRule, Windows) {
    struct Case {
        const char* name;
        std::optional<std::string> vellumtide_home;
        std::optional<std::string> local_app_data;
        std::string exe_folder;
        std::set<std::string> files;     // the files that exist
        std::set<std::string> writable;  // the folders a file can be created in
        RunFolders expected;
    };
    const std::string kLocal = "C:\\Users\\u\\AppData\\Local";
    const std::string kPf = "C:\\Program Files\\Vellumtide";
    const std::string kMine = kLocal + "\\Vellumtide";
    constexpr auto kMade = FolderMaking::WhenMissing;
    constexpr auto kAsIs = FolderMaking::None;
    // clang-format off
    const Case cases[] = {
        {"home_variable_first", "D:\\vlt\\", kLocal, kPf, {kPf + "\\vlt.sysdat"}, {kPf},
         {"D:\\vlt", "D:\\vlt", kAsIs}},
        {"empty_home_variable_ignored", "", kLocal, kPf, {}, {}, {kMine, kMine, kMade}},
        {"settings_beside_the_exe", std::nullopt, kLocal, kPf, {kPf + "\\vlt.sysdat"}, {},
         {kPf, kPf, kAsIs}},
        {"older_settings_count", std::nullopt, kLocal, kPf, {kPf + "\\VLTSYS.DAT"}, {},
         {kPf, kPf, kAsIs}},
        {"oldest_settings_count", std::nullopt, kLocal, kPf, {kPf + "\\TERNLOAD.DAT"}, {},
         {kPf, kPf, kAsIs}},
        {"writable_exe_folder", std::nullopt, kLocal, "D:\\tools\\", {}, {"D:\\tools"},
         {"D:\\tools", "D:\\tools", kAsIs}},
        {"drive_root", std::nullopt, kLocal, "E:\\", {}, {"E:\\"}, {"E:\\", "E:\\", kAsIs}},
        {"read_only_copy", std::nullopt, kLocal + "\\", kPf, {}, {}, {kMine, kMine, kMade}},
        {"no_local_app_data", std::nullopt, std::nullopt, kPf, {}, {}, {kPf, kPf, kAsIs}},
    };
    // clang-format on
    for (const Case& c : cases) {
        FolderFacts facts;
        facts.vellumtide_home = c.vellumtide_home;
        facts.local_app_data = c.local_app_data;
        facts.exe_folder = c.exe_folder;
        facts.file_exists = [&c](const std::string& path) { return c.files.count(path) > 0; };
        facts.can_create_file = [&c](const std::string& f) { return c.writable.count(f) > 0; };
        const RunFolders got = choose_run_folders(facts);
        EXPECT_EQ(got.settings, c.expected.settings) << c.name;
        EXPECT_EQ(got.logs, c.expected.logs) << c.name;
        EXPECT_EQ(got.making, c.expected.making) << c.name;
    }
}

// This process: the test program's folder is writable, so it is the
// program folder unless VELLUMTIDE_HOME names another.
TEST(RunFolderRule, ThisProcess) {
    const FolderFacts facts = process_folder_facts(nullptr);
    ASSERT_FALSE(facts.exe_folder.empty());
    EXPECT_TRUE(facts.can_create_file(facts.exe_folder));
    EXPECT_FALSE(facts.can_create_file(facts.exe_folder + "\\no such folder"));
    EXPECT_EQ(executable_name(nullptr), "test_app");
}

class UserFolders : public RunFixture {};

// The user's folder is made with its missing parents, and the run stores,
// shows and logs there; a folder where a file is fails like a settings file
// that cannot be written.
TEST_F(UserFolders, MadeWhenMissingAndUsed) {
    const std::string mine = (folder / "Local" / "deeper" / "Vellumtide").string();
    folders = RunFolders{mine, mine, FolderMaking::WhenMissing};
    EXPECT_EQ(run_with("--xcnf, 127.0.0.1, 1, f@x, , , u, p"), 0);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(mine) / "vlt.sysdat"));
    EXPECT_EQ(run_with("to@example.com, , 件名, 本文"), 1);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(mine) / "vellumtideERR1.log"));

    write("blocker", "a file where a folder should be");
    const std::string blocked = (folder / "blocker" / "Vellumtide").string();
    folders = RunFolders{blocked, blocked, FolderMaking::WhenMissing};
    EXPECT_EQ(run_with("--xcnf, 127.0.0.1, 1, f@x, , , u, p"), 1);
    EXPECT_EQ(reports, std::vector<std::string>{
                           "エラー番号 :76 -- PrjVellumtide でエラーが発生しました。 \r\n"
                           "パスが見つかりません。"});
}

}  // namespace
}  // namespace vlt::app
