#include "app/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "app_fixture.h"
#include "encoding/base64.h"
#include "settings_samples.h"

namespace vlt::app {
namespace {

using testing::RunFixture;
using testing::same;
using testing::sample;

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
