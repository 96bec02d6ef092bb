#include <gtest/gtest.h>

#include <map>

#include "app/params.h"
#include "common/log.h"

namespace vlt::app {
namespace {

struct Parsed {
    CommandLine line;
    MailParams params;
    RunFlags flags;
    std::vector<std::string> reports;
};

Parsed parse(std::string_view text) {
    LogWriter log("/nonexistent-vlt-folder", "t");
    ErrorReport report(log);
    Parsed p;
    p.line = parse_command_line(text, p.params, p.flags, report);
    p.reports = report.reported();
    return p;
}

TEST(CommandLine, SettingsItemsFillTheServerSlots) {
    const Parsed p =
        parse("--conf,  smtp.example.com , 25, me@example.com, pop.example.com, , user, pass");
    EXPECT_TRUE(p.flags.conf_mode);
    EXPECT_FALSE(p.flags.use_smtp_auth);
    EXPECT_EQ(p.params[kArgSmtpServer], "smtp.example.com");
    EXPECT_EQ(p.params[kArgSmtpPort], "25");
    EXPECT_EQ(p.params[kArgFrom], "me@example.com");
    EXPECT_EQ(p.params[kArgPopServer], "pop.example.com");
    EXPECT_EQ(p.params[kArgPopPort], "");
    EXPECT_EQ(p.params[kArgUser], "user");
    EXPECT_EQ(p.params[kArgPassword], "pass");
    for (int slot = kTo; slot <= kAttach; ++slot) EXPECT_EQ(p.params[slot], "") << slot;
    EXPECT_EQ(p.line.items, 9);
}

TEST(CommandLine, MessageItemsFillTheMessageSlots) {
    const Parsed p = parse("to@example.com, , 件名, 本文");
    EXPECT_FALSE(p.flags.conf_mode || p.flags.xcnf_mode || p.flags.info_mode);
    EXPECT_EQ(p.params[kTo], "to@example.com");
    EXPECT_EQ(p.params[kCc], "");
    EXPECT_EQ(p.params[kSubject], "件名");
    EXPECT_EQ(p.params[kBody], "本文");
    for (int slot = kArgSmtpServer; slot <= kArgFrom; ++slot) EXPECT_EQ(p.params[slot], "") << slot;
}

struct FlagCase {
    const char* name;
    const char* text;
    bool conf, xcnf, info;
    const char* to;
};

class Flags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(Flags, Recognised) {
    const auto& c = GetParam();
    const Parsed p = parse(c.text);
    EXPECT_EQ(p.flags.conf_mode, c.conf);
    EXPECT_EQ(p.flags.xcnf_mode, c.xcnf);
    EXPECT_EQ(p.flags.info_mode, c.info);
    EXPECT_EQ(p.flags.use_smtp_auth, c.xcnf);
    if (!c.conf && !c.xcnf) {
        EXPECT_EQ(p.params[kTo], c.to);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Flags,
    ::testing::Values(
        FlagCase{"xcnf", "--xcnf, s, 25, f, , , u, p", false, true, false, ""},
        FlagCase{"info", "--info", false, false, true, "--info"},
        FlagCase{"capital_conf_is_a_recipient", "--CONF, a", false, false, false, "--CONF"},
        FlagCase{"full_width_flag", "－－ｃｏｎｆ, s, 25, f, p, , u, p", true, false, false, ""},
        FlagCase{"later_position_is_a_value", "a@b, --conf, s, m", false, false, false, "a@b"},
        FlagCase{"quoted_flag", "'--info'", false, false, true, "--info"}),
    [](const auto& info) { return info.param.name; });

struct QuoteCase {
    const char* name;
    const char* text;
    const char* subject;
};

class Quotes : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(Quotes, Stripped) {
    const Parsed p = parse(std::string("a@b, , ") + GetParam().text + ", body");
    EXPECT_EQ(p.params[kSubject], GetParam().subject);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Quotes,
    ::testing::Values(QuoteCase{"two_apostrophes", "''", ""},
                      QuoteCase{"two_double_quotes", "\"\"", ""},
                      QuoteCase{"full_width_quotes", "＂＂", ""}, QuoteCase{"enclosed", "'x'", "x"},
                      QuoteCase{"inner_quotes_kept", "\"a \"b\" c\"", "a \"b\" c"},
                      QuoteCase{"leading_only", "'x", "'x"},
                      QuoteCase{"single_quote_char", "'", "'"}),
    [](const auto& info) { return info.param.name; });

TEST(CommandLine, CommasAndItems) {
    // A trailing comma adds no item; adjacent commas give an empty item.
    Parsed p = parse("a@b,,s,m,");
    EXPECT_EQ(p.params[kCc], "");
    EXPECT_EQ(p.params[kSubject], "s");
    EXPECT_EQ(p.params[kBody], "m");
    EXPECT_EQ(p.line.items, 5);
    // Quotes do not protect commas.
    p = parse("a@b, , 'x, y', m");
    EXPECT_EQ(p.params[kSubject], "'x");
    EXPECT_EQ(p.params[kBody], "y'");
}

TEST(CommandLine, NarrowingOnlyWhereTheTableSaysSo) {
    const Parsed p = parse("ａ＠ｂ．ｊｐ, ｃ＠ｄ, ＡＢＣ, ＡＢＣ");
    EXPECT_EQ(p.params[kTo], "a@b.jp");
    EXPECT_EQ(p.params[kCc], "c@d");
    EXPECT_EQ(p.params[kSubject], "ＡＢＣ");
    EXPECT_EQ(p.params[kBody], "ＡＢＣ");
}

TEST(CommandLine, BlankTextIsReported) {
    const Parsed p = parse("   ");
    EXPECT_EQ(p.line.items, 0);
    ASSERT_EQ(p.reports.size(), 1u);
    EXPECT_EQ(p.reports[0], "パラメータの指定に誤りがあります ");
}

TEST(CommandLine, HugeInputIsHandledWhole) {
    const std::string commas(300000, ',');
    Parsed p = parse("a@b" + commas);
    EXPECT_EQ(p.params[kTo], "a@b");
    const std::string field(1 << 20, 'x');
    p = parse("a@b, , s, " + field);
    EXPECT_EQ(p.params[kBody].size(), field.size());
}

TEST(EnvOptions, Aliases) {
    std::map<std::string, std::string> vars = {
        {"FROM_NAME", " \"山田 太郎\" "},       {"TO_ALIAS", "Team A"},       {"CC_ALIAS", "漢字"},
        {"REPLY_TO", "'ｒｅｐｌｙ＠ｘ．ｊｐ'"}, {"DEBUG_MODE", " protocol "},
    };
    LogWriter log("/nonexistent-vlt-folder", "t");
    ErrorReport report(log);
    const MailOptions o = read_env_options(
        [&](const char* name) -> std::optional<std::string> {
            auto it = vars.find(name);
            if (it == vars.end()) return std::nullopt;
            return it->second;
        },
        report);
    EXPECT_EQ(o.from_name, "山田 太郎");
    EXPECT_EQ(o.to_alias, "TeamA");
    EXPECT_EQ(o.cc_alias, "");
    EXPECT_EQ(o.reply_to, "reply@x.jp");
    EXPECT_TRUE(o.protocol_logging());
    EXPECT_EQ(o.log_detail, "HDR");
    ASSERT_EQ(report.reported().size(), 1u);
    EXPECT_EQ(report.reported()[0], "CC_ALIASに全角が含まれています");
}

}  // namespace
}  // namespace vlt::app
