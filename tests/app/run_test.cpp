#include "app/run.h"

#include <gtest/gtest.h>

#include "app_fixture.h"
#include "net/error_texts.h"

namespace vlt::app {
namespace {

using testing::RunFixture;

class RunFlow : public RunFixture {};

TEST(Usage, ExactText) {
    const std::string tab = "\t";
    const std::string expected =
        "使用法：　vellumtide　フラグ, SMTPSRV, SMTPPORT, FROM, POPSRV, [POPPORT], USER, PASS\r\n"
        "　　または　vellumtide　TO, [CC], SUB, MSG [,ATCH]\r\n"
        " 　　（パラメータはすべてカンマで記述,　省略時は\"\"）\r\n"
        "\r\n"
        "     ・フラグ　\t= 設定および 認証方式 ,情報表示を指示するフラグ　\r\n" +
        std::string(35, ' ') + "--conf (POP before SMTP)  または  --xcnf (SMTP AUTH)\r\n" +
        std::string(35, ' ') +
        "--info\r\n"
        "       SMTPSRV \t= SMTPサーバ (IPアドレス or ホスト名)\r\n"
        "       SMTPPORT\t= SMTPポート (通常 25 or 587)\r\n"
        "       FROM    \t= 送信元メールアドレス\r\n"
        "       POPSRV  \t= POP3サーバ (IPアドレス or ホスト名)\r\n"
        "       POPPORT \t= POP3ポート (通常 110、省略可)\r\n"
        "       USER    \t= ユーザ名(POP3サーバのアカウント or SMTPサーバのアカウント)\r\n"
        "       PASS    \t= パスワード(POP3サーバのパスワード or SMTPサーバのパスワード)\r\n"
        "\r\n"
        "     ・TO  \t\t= 宛先アドレス (メールアドレス or ファイル)\r\n"
        "       CC  \t\t= ＣＣアドレス (メールアドレス or ファイル)\r\n"
        "       SUB \t\t= タイトル\r\n"
        "       MSG \t= メッセージ (ファイル or 本文)\r\n"
        "       ATCH\t= 添付文書 (ファイル) ";
    EXPECT_EQ(usage_text("vellumtide"), expected);
}

TEST_F(RunFlow, BlankCommandLineShowsUsageAndFails) {
    EXPECT_EQ(run_with(""), 1);
    ASSERT_EQ(windows.shown.size(), 1u);
    EXPECT_TRUE(windows.wide_flags[0]);
    EXPECT_EQ(windows.shown[0], usage_text("vellumtide") + "\r\n\r\n(C) The Vellumtide project");
    EXPECT_EQ(reports, std::vector<std::string>{"パラメータの指定に誤りがあります "});
    EXPECT_EQ(read("vellumtideERR1.log"), error_entry("パラメータの指定に誤りがあります "));
}

// An exception that reaches the run ends it with status 1 and the error
// report of its run-time error: 7 for an allocation failure, 5 for anything
// else. A sending run follows it with its own report, whichever step failed;
// the other paths have none.
TEST_F(RunFlow, EscapedExceptionsAreReported) {
    const std::string no_memory =
        "エラー番号 :7 -- PrjVellumtide でエラーが発生しました。 \r\nメモリが不足しています。";
    const std::string invalid =
        "エラー番号 :5 -- PrjVellumtide でエラーが発生しました。 \r\n"
        "プロシージャの呼び出し、または引数が不正です。";
    const std::string send_failed = "メール送信に失敗しました。";
    enum class Hook { Print, Window, OsName };
    struct Case {
        const char* name;
        const char* arguments;
        Hook hook;
        std::function<void()> thrower;
        std::vector<std::string> reports;
    };
    const auto no_room = [] { throw std::bad_alloc(); };
    const Case cases[] = {
        {"version, allocation", "--version", Hook::Print, no_room, {no_memory}},
        {"version, library",
         "--version",
         Hook::Print,
         [] { throw std::out_of_range("x"); },
         {invalid}},
        {"version, not an exception class", "--version", Hook::Print, [] { throw 42; }, {invalid}},
        {"settings window", "--conf, s, 25, f@x, , , u, p", Hook::Window, no_room, {no_memory}},
        {"info window", "--info", Hook::Window, no_room, {no_memory}},
        {"sending, parameter window",
         "to@example.com, , , body",
         Hook::Window,
         no_room,
         {no_memory, send_failed}},
        {"sending, before connecting",
         "to@example.com, , s, body",
         Hook::OsName,
         no_room,
         {no_memory, send_failed}},
    };
    ASSERT_EQ(run_with("--xcnf, 127.0.0.1, 1, f@x, , , u, p"), 0);
    for (const Case& c : cases) {
        std::filesystem::remove(folder / "vellumtideERR1.log");
        on_print = c.hook == Hook::Print ? c.thrower : nullptr;
        windows.on_open = c.hook == Hook::Window ? c.thrower : nullptr;
        on_os_name = c.hook == Hook::OsName ? c.thrower : nullptr;
        EXPECT_EQ(run_with(c.arguments), 1) << c.name;
        EXPECT_EQ(reports, c.reports) << c.name;
        std::string log;
        for (const std::string& report : c.reports) log += error_entry(report);
        EXPECT_EQ(read("vellumtideERR1.log"), log) << c.name;
    }
}

TEST_F(RunFlow, HelpAndVersion) {
    EXPECT_EQ(run_with("--help"), 0);
    EXPECT_EQ(run_with("-h"), 0);
    EXPECT_EQ(windows.shown.size(), 2u);
    EXPECT_EQ(run_with("--version"), 0);
    EXPECT_EQ(printed, "Vellumtide 0.3.43\n");
    EXPECT_TRUE(reports.empty());
}

TEST_F(RunFlow, StoresSettingsThenShowsThem) {
    EXPECT_EQ(run_with("--xcnf, smtp.example.com, 587, me@example.com, , , user, secret"), 0);
    EXPECT_TRUE(windows.shown.empty());
    EXPECT_TRUE(std::filesystem::exists(folder / "vlt.sysdat"));
    EXPECT_EQ(run_with("--info"), 0);
    ASSERT_EQ(windows.shown.size(), 1u);
    EXPECT_FALSE(windows.wide_flags[0]);
    EXPECT_EQ(windows.shown[0].substr(0, windows.shown[0].find("\r\n")),
              "現在設定されているサーバ情報　　（認証方式： SMTP AUTH）");
    EXPECT_NE(windows.shown[0].find("  SMTPポート ： 587\r\n"), std::string::npos);
    EXPECT_EQ(windows.shown[0].find("secret"), std::string::npos);
    const std::string last_line = "\r\n  設定ファイル ： " + path("vlt.sysdat");
    EXPECT_TRUE(windows.shown[0].ends_with(
        settings_display_text(
            load_settings(SettingsPaths::in_folder(folder.string()), "").value()) +
        last_line));
}

TEST_F(RunFlow, ConfWithoutPopServerAsksAndReports) {
    EXPECT_EQ(run_with("--conf, smtp.example.com, 25, me@example.com, , , user, secret"), 1);
    EXPECT_EQ(windows.settings_windows, 1);
    EXPECT_EQ(reports, std::vector<std::string>{"パラメータが不足しています。"});
    EXPECT_FALSE(std::filesystem::exists(folder / "vlt.sysdat"));

    windows.settings_answer = ui::SettingsFields{
        "smtp.example.com", "25", "me@example.com", "pop.example.com", "", "user", "secret"};
    EXPECT_EQ(run_with("--conf, smtp.example.com, 25, me@example.com, , , user, secret"), 0);
    EXPECT_TRUE(std::filesystem::exists(folder / "vlt.sysdat"));
}

// A password item of exactly "-" is read from outside the command line
// before the completeness check; an empty or unreadable one leaves the
// settings incomplete.
TEST_F(RunFlow, PasswordFromOutsideTheCommandLine) {
    const std::string missing = "パラメータが不足しています。";
    struct Case {
        const char* name;
        const char* password_item;
        Result<std::string> answer;
        int reads;
        const char* stored;  // nullptr: nothing stored
        std::vector<std::string> reports;
    };
    const Case cases[] = {
        {"read", "-", std::string("s3cret パス"), 1, "s3cret パス", {}},
        {"quoted dash", "\"-\"", std::string("q"), 1, "q", {}},
        {"not exactly a dash", "--", std::string("unused"), 0, "--", {}},
        {"empty line or end of input", "-", std::string(), 1, nullptr, {missing}},
        {"no terminal to ask on",
         "-",
         Error(ErrorKind::Input, "no terminal"),
         1,
         nullptr,
         {"no terminal", missing}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(folder / "vlt.sysdat");
        password_answer = c.answer;
        password_reads = 0;
        windows.settings_windows = 0;
        const std::string arguments =
            std::string("--conf, smtp.example.com, 25, me@example.com, pop.example.com, , user, ") +
            c.password_item;
        EXPECT_EQ(run_with(arguments), c.stored ? 0 : 1) << c.name;
        EXPECT_EQ(password_reads, c.reads) << c.name;
        EXPECT_EQ(reports, c.reports) << c.name;
        // An incomplete password opens the settings window, as any missing value does.
        EXPECT_EQ(windows.settings_windows, c.stored ? 0 : 1) << c.name;
        auto stored = load_settings(SettingsPaths::in_folder(folder.string()), "");
        if (c.stored) {
            ASSERT_TRUE(stored.ok()) << c.name;
            EXPECT_EQ(stored->password, c.stored) << c.name;
        } else {
            EXPECT_FALSE(std::filesystem::exists(folder / "vlt.sysdat")) << c.name;
        }
    }
}

TEST_F(RunFlow, XcnfWithoutPopServerStoresAtOnce) {
    EXPECT_EQ(run_with("--xcnf, s, 25, f@x, , , u, p"), 0);
    EXPECT_EQ(windows.settings_windows, 0);
}

TEST_F(RunFlow, RefusesValuesThatWouldBreakTheFile) {
    EXPECT_EQ(run_with("--xcnf, s, 25, f@x, , , u, p\tq"), 1);
    EXPECT_EQ(reports,
              std::vector<std::string>{"設定値に使用できない文字が含まれています。(MAIL_PASSWD:)"});
    EXPECT_FALSE(std::filesystem::exists(folder / "vlt.sysdat"));
}

TEST_F(RunFlow, EncryptionSetting) {
    EXPECT_EQ(run_with("--xcnf, s, 587, f@x, , , u, p, starttls, , ignored"), 0);
    EXPECT_EQ(run_with("--info"), 0);
    ASSERT_EQ(windows.shown.size(), 1u);
    EXPECT_NE(windows.shown[0].find("\r\n  暗号化 ： STARTTLS"), std::string::npos);
    EXPECT_EQ(run_with("--xcnf, s, 25, f@x, , , u, p, tls13"), 1);
    EXPECT_EQ(reports, std::vector<std::string>{"暗号化の指定が正しくありません: tls13"});
}

// The tenth item: the authentication mechanism, stored in capitals and shown
// after the encryption; any other value leaves the stored settings as they were.
TEST_F(RunFlow, AuthenticationMechanismSetting) {
    struct Case {
        const char* name;
        const char* text;
        const char* report;      // empty: stored
        const char* info_lines;  // the end of --info before the settings file line
    };
    const Case cases[] = {
        {"xoauth2_any_case", "--xcnf, s, 587, f@x, , , u, get-token, starttls, xOAuth2", "",
         "  POP3ユーザ ： u\r\n  暗号化 ： STARTTLS\r\n  認証機構 ： XOAUTH2"},
        {"oauthbearer_without_encryption", "--xcnf, s, 587, f@x, , , u, get-token, , oauthbearer",
         "", "  POP3ユーザ ： u\r\n  認証機構 ： OAUTHBEARER"},
        {"empty_is_not_shown", "--xcnf, s, 25, f@x, , , u, p, , ", "", "  POP3ユーザ ： u"},
        {"other_value", "--xcnf, s, 25, f@x, , , u, p, , CRAM-MD5",
         "認証機構の指定に誤りがあります。(CRAM-MD5)", nullptr},
        {"conf_with_a_tenth_item", "--conf, s, 25, f@x, pop, , u, p, , xoauth2",
         "認証機構の指定に誤りがあります。(xoauth2)", nullptr},
    };
    const std::string settings_line = "\r\n  設定ファイル ： " + path("vlt.sysdat");
    for (const Case& c : cases) {
        ASSERT_EQ(run_with("--xcnf, before, 25, f@x, , , u, p"), 0);
        const std::string before = read("vlt.sysdat");
        const bool refused = *c.report != '\0';
        EXPECT_EQ(run_with(c.text), refused ? 1 : 0) << c.name;
        if (refused) {
            EXPECT_EQ(reports, std::vector<std::string>{c.report}) << c.name;
            EXPECT_EQ(read("vlt.sysdat"), before) << c.name;
            continue;
        }
        windows.shown.clear();
        ASSERT_EQ(run_with("--info"), 0) << c.name;
        ASSERT_EQ(windows.shown.size(), 1u);
        EXPECT_TRUE(windows.shown[0].ends_with(c.info_lines + settings_line))
            << c.name << ": " << windows.shown[0];
    }
}

TEST_F(RunFlow, SendingWithoutSettings) {
    EXPECT_EQ(run_with("to@example.com, , 件名, 本文"), 1);
    EXPECT_EQ(reports, (std::vector<std::string>{
                           "サーバ情報の設定がされていません。",
                           "サーバ情報等の初期設定パラメータを取得できませんでした。"}));
}

TEST_F(RunFlow, MissingFieldsAskThenReport) {
    ASSERT_EQ(run_with("--xcnf, 127.0.0.1, 1, f@x, , , u, p"), 0);
    EXPECT_EQ(run_with("to@example.com, , , body"), 1);
    EXPECT_EQ(windows.param_windows, 1);
    EXPECT_EQ(windows.countdown, std::chrono::milliseconds(180000));
    EXPECT_EQ(reports, std::vector<std::string>{"パラメータが不足しています。"});

    windows.param_outcome = ui::FormOutcome::TimedOut;
    EXPECT_EQ(run_with("to@example.com, , , body"), 1);
    EXPECT_EQ(reports,
              (std::vector<std::string>{
                  "再入力画面でパラメータを要求しましたが、応答がないため処理中断しました。",
                  "パラメータが不足しています。"}));
}

TEST_F(RunFlow, EnvelopeFaultsStopBeforeAnyConnection) {
    ASSERT_EQ(run_with("--conf, 127.0.0.1, 1, sender-without-at, 127.0.0.1, 1, u, p"), 0);
    EXPECT_EQ(run_with("to@example.com, , s, body"), 1);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0],
              "エラー番号 :5 -- PrjVellumtide でエラーが発生しました。 "
              "プロシージャの呼び出し、または引数が不正です。");
    EXPECT_EQ(reports[1], "メール送信に失敗しました。");
    // No POP3 login was tried, so no pause either.
    EXPECT_TRUE(slept.empty());
}

TEST_F(RunFlow, ConnectFailureIsReportedInOrder) {
    // Port 1 on loopback: nothing listens there.
    ASSERT_EQ(run_with("--xcnf, 127.0.0.1, 1, f@x, , , u, p"), 0);
    EXPECT_EQ(run_with("to@example.com, , s, body"), 1);
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports[reports.size() - 3], "WinSockManager: " + net::winsock_error_text(10061));
    EXPECT_EQ(reports[reports.size() - 2], "サーバに接続できません。 [SMTP] 127.0.0.1:1");
    EXPECT_EQ(reports.back(), "メール送信に失敗しました。");
}

}  // namespace
}  // namespace vlt::app
