#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "app/settings.h"
#include "app_fixture.h"
#include "encoding/base64.h"

namespace vlt::app {
namespace {

using testing::RunFixture;

ServerSettings sample(bool smtp_auth) {
    ServerSettings s;
    s.use_smtp_auth = smtp_auth;
    s.smtp_server = "smtp.example.com";
    s.smtp_port = "587";
    s.from = "me@example.com";
    s.pop_server = smtp_auth ? "" : "pop.example.com";
    s.user = "user";
    s.password = "p#ss:word";
    return s;
}

bool same(const ServerSettings& a, const ServerSettings& b) {
    return a.use_smtp_auth == b.use_smtp_auth && a.smtp_server == b.smtp_server &&
           a.smtp_port == b.smtp_port && a.from == b.from && a.pop_server == b.pop_server &&
           a.pop_port == b.pop_port && a.user == b.user && a.password == b.password &&
           a.tls == b.tls && a.auth_mech == b.auth_mech;
}

TEST(SettingsCoding, EveryKeyLetterRoundTrips) {
    // Code page 932 bytes under the scramble: a kanji is one two-byte code.
    const std::string plain = "# <Vellumtide -- Config>\r\nMAIL_PASSWD:\tp#ss:word漢字\r\n";
    for (unsigned key = 0; key < 5; ++key) {
        const std::string stored = encode_settings_file(plain, [key] { return key; });
        const std::string scrambled = encoding::base64_decode(stored);
        ASSERT_EQ(scrambled.front(), static_cast<char>('D' + key));
        EXPECT_EQ(scrambled.size(), plain.size() - 6 + 4 + 1);
        EXPECT_EQ(decode_settings_file(stored), plain) << "key " << key;
    }
}

TEST(SettingsCoding, ShiftPattern) {
    // Key D (k = 3): the shifts are 2, 1, 3, 2, 1, 3 ...
    EXPECT_EQ(encoding::base64_decode(encode_settings_file("dddddd", [] { return 0u; })),
              "Dbcabca");
}

class SettingsFiles : public RunFixture {};

TEST_F(SettingsFiles, RoundTripForBothStylesAndEveryKey) {
    const SettingsPaths paths = SettingsPaths::in_folder(folder.string());
    for (bool smtp_auth : {false, true}) {
        for (unsigned key = 0; key < 5; ++key) {
            ASSERT_TRUE(
                save_settings(paths, sample(smtp_auth), "usage", [key] { return key; }).ok());
            const auto loaded = load_settings(paths, "usage");
            ASSERT_TRUE(loaded.ok());
            EXPECT_TRUE(same(*loaded, sample(smtp_auth))) << smtp_auth << key;
        }
    }
    struct stat st {};
    ASSERT_EQ(::stat(paths.current.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((paths.current + ".bak").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SettingsFiles, PlainTextLayout) {
    ServerSettings s = sample(true);
    s.tls = "STARTTLS";
    s.auth_mech = "XOAUTH2";
    EXPECT_EQ(settings_plain_text(s),
              "# <Vellumtide -- Config>\r\nSMTP_XCONF:\tTRUE\r\nSMTP_SERVER:\tsmtp.example.com\r\n"
              "SMTP_PORT:\t587\r\nFROM:\tme@example.com\r\nMAIL_USER:\tuser\r\n"
              "MAIL_PASSWD:\tp#ss:word\r\nTLS:\tSTARTTLS\r\nAUTHMECH:\tXOAUTH2\r\n");
}

std::string stored_file(const std::string& plain) {
    return encode_settings_file(plain, [] { return 2u; });
}

TEST_F(SettingsFiles, LowerCaseKeysCommentsAndRepeats) {
    write("vlt.sysdat", stored_file("# comment: x\nsmtp_xconf: true\nsmtp_server:\ta\n"
                                    "smtp_server: b\nsmtp_port:25\nfrom: f@x\n mail_user: u \n"
                                    "mail_passwd:\t#:pw\nunknown: z\nno colon here"));
    const auto loaded = load_settings(SettingsPaths::in_folder(folder.string()), "u");
    ASSERT_TRUE(loaded.ok());
    const ServerSettings& s = *loaded;
    EXPECT_TRUE(s.use_smtp_auth);
    EXPECT_EQ(s.smtp_server, "b");
    EXPECT_EQ(s.user, "u");
    EXPECT_EQ(s.password, "#:pw");
}

TEST_F(SettingsFiles, MigratesOlderFiles) {
    const SettingsPaths paths = SettingsPaths::in_folder(folder.string());
    write("TERNLOAD.DAT", stored_file(settings_plain_text(sample(false))));
    auto loaded = load_settings(paths, "u");
    ASSERT_TRUE(loaded.ok());
    EXPECT_TRUE(same(*loaded, sample(false)));
    EXPECT_FALSE(std::filesystem::exists(folder / "TERNLOAD.DAT"));
    EXPECT_TRUE(std::filesystem::exists(folder / "vlt.sysdat"));

    // Both older files: the intermediate one wins, and both are removed.
    std::filesystem::remove(folder / "vlt.sysdat");
    ServerSettings other = sample(true);
    write("TERNLOAD.DAT", stored_file(settings_plain_text(sample(false))));
    write("VLTSYS.DAT", stored_file(settings_plain_text(other)));
    loaded = load_settings(paths, "u");
    ASSERT_TRUE(loaded.ok());
    EXPECT_TRUE(same(*loaded, other));
    EXPECT_FALSE(std::filesystem::exists(folder / "VLTSYS.DAT"));
    EXPECT_FALSE(std::filesystem::exists(folder / "TERNLOAD.DAT"));
}

TEST_F(SettingsFiles, MissingAndIncompleteReports) {
    const SettingsPaths paths = SettingsPaths::in_folder(folder.string());
    const auto none = load_settings(paths, "u");
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error().reports, std::vector<std::string>{"サーバ情報の設定がされていません。"});
    ServerSettings partial = sample(true);
    partial.user.clear();
    partial.password.clear();
    write("vlt.sysdat", stored_file(settings_plain_text(partial)));
    const auto incomplete = load_settings(paths, "vellumtide　フラグ");
    ASSERT_FALSE(incomplete.ok());
    EXPECT_EQ(incomplete.error().reports,
              std::vector<std::string>{
                  "サーバ情報の設定が足りません。 USER PASS （使用法：vellumtide　フラグ）"});
}

TEST_F(SettingsFiles, BadFilesNeverCrash) {
    const SettingsPaths paths = SettingsPaths::in_folder(folder.string());
    std::mt19937 rng(7);
    auto random_bytes = [&](std::size_t n) {
        std::string b(n, '\0');
        for (char& c : b) c = static_cast<char>(rng());
        return b;
    };
    const std::string good = stored_file(settings_plain_text(sample(true)));
    const std::vector<std::string> files = {
        random_bytes(4096),
        encoding::base64_encode(random_bytes(4096)),
        good.substr(0, good.size() / 2),
        "",
        "x",
        std::string(30 << 20, 'A'),
    };
    for (const auto& bytes : files) {
        write("vlt.sysdat", bytes);
        EXPECT_FALSE(load_settings(paths, "u").ok());
    }
    std::filesystem::remove(folder / "vlt.sysdat");
    std::filesystem::create_directory(folder / "vlt.sysdat");
    EXPECT_FALSE(load_settings(paths, "u").ok());
}

std::vector<std::string> folder_names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A failure at any step of storing leaves the previous settings and backup
// as they were, and no temporary file behind.
TEST_F(SettingsFiles, FailedStoreKeepsThePreviousFiles) {
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
TEST_F(SettingsFiles, LinksAndOtherEntriesAreRefused) {
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

// A file that is there but cannot be read is not "not set": its own report.
TEST_F(SettingsFiles, UnreadableFileReports) {
    const SettingsPaths paths = SettingsPaths::in_folder(folder.string());
    const std::string head = "エラーが発生しました。 \r\nデータ:\tエラー番号 :";
    write("vlt.sysdat", std::string(64 * 1024 + 1, 'A'));
    auto loaded = load_settings(paths, "u");
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().reports,
              std::vector<std::string>{head + "6 -- PrjVellumtide でエラーが発生しました。 "
                                              "オーバーフローしました。"});
    // Exactly 64 KiB is read (and found to hold no settings).
    write("vlt.sysdat", std::string(64 * 1024, 'A'));
    loaded = load_settings(paths, "u");
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().reports, std::vector<std::string>{"サーバ情報の設定が足りません。 "
                                                               "SMTPSRV SMTPPORT FROM USER PASS "
                                                               "（使用法：u）"});

    ASSERT_TRUE(save_settings(paths, sample(true), "u").ok());
    ::chmod(paths.current.c_str(), 0);
    // Root reads any file: read as an ordinary user.
    const bool as_root = ::geteuid() == 0;
    if (as_root) {
        ::chmod(folder.c_str(), 0755);
        ASSERT_EQ(::seteuid(65534), 0);
    }
    loaded = load_settings(paths, "u");
    if (as_root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().reports,
              std::vector<std::string>{head + "70 -- PrjVellumtide でエラーが発生しました。 "
                                              "書き込みできません。"});
}

// Older files go only once the migrated file is in place.
TEST_F(SettingsFiles, FailedMigrationKeepsTheOlderFiles) {
    const SettingsPaths paths = SettingsPaths::in_folder(folder.string());
    const std::string older = stored_file(settings_plain_text(sample(false)));
    write("VLTSYS.DAT", older);
    ReplaceOptions store;
    store.fault = [](ReplaceStep step) { return step == ReplaceStep::Rename ? EIO : 0; };
    const auto loaded = load_settings(paths, "u", store);
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(read("VLTSYS.DAT"), older);
    EXPECT_FALSE(std::filesystem::exists(folder / "vlt.sysdat"));
    ASSERT_TRUE(load_settings(paths, "u").ok());
    EXPECT_EQ(read("vlt.sysdat"), older);
    EXPECT_FALSE(std::filesystem::exists(folder / "VLTSYS.DAT"));
}

TEST(SettingsDisplay, ExactText) {
    ServerSettings s = sample(false);
    s.pop_port = "110";
    EXPECT_EQ(settings_display_text(s),
              "現在設定されているサーバ情報　　（認証方式： POP before SMTP）\r\n\r\n"
              "  SMTPサーバ ： smtp.example.com　\r\n"
              "  SMTPポート ： 587\r\n"
              "  送信元メールアドレス： me@example.com　\r\n"
              "  POP3サーバ ： pop.example.com　\r\n"
              "  POP3ポート ： 110\r\n"
              "  POP3ユーザ ： user");
    ServerSettings empty;
    empty.use_smtp_auth = true;
    empty.tls = "SSL";
    EXPECT_EQ(settings_display_text(empty),
              "現在設定されているサーバ情報　　（認証方式： SMTP AUTH）\r\n\r\n"
              "  SMTPサーバ ： 　\r\n  SMTPポート ： \r\n  送信元メールアドレス： 　\r\n"
              "  POP3サーバ ： 　\r\n  POP3ポート ： \r\n  POP3ユーザ ： \r\n  暗号化 ： SSL");
}

}  // namespace
}  // namespace vlt::app
