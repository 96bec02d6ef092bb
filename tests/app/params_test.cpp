#include <gtest/gtest.h>

#include <map>

#include "app/params.h"

namespace vlt::app {
namespace {

CommandLine parse(std::string_view text) {
    auto parsed = parse_command_line(text);
    EXPECT_TRUE(parsed.ok()) << text;
    return parsed.ok() ? parsed.value() : CommandLine{};
}

bool is_empty(const ServerValues& v) {
    return (v.smtp_server + v.smtp_port + v.from + v.pop_server + v.pop_port + v.user + v.password)
        .empty();
}

bool is_empty(const MessageValues& m) {
    return (m.to + m.cc + m.subject + m.body + m.attach).empty();
}

TEST(CommandLine, SettingsItemsFillTheServerSlots) {
    const CommandLine p =
        parse("--conf,  smtp.example.com , 25, me@example.com, pop.example.com, , user, pass, ssl");
    EXPECT_EQ(p.mode, RunMode::Conf);
    EXPECT_EQ(p.server.smtp_server, "smtp.example.com");
    EXPECT_EQ(p.server.smtp_port, "25");
    EXPECT_EQ(p.server.from, "me@example.com");
    EXPECT_EQ(p.server.pop_server, "pop.example.com");
    EXPECT_EQ(p.server.pop_port, "");
    EXPECT_EQ(p.server.user, "user");
    EXPECT_EQ(p.server.password, "pass");
    EXPECT_EQ(p.tls, "ssl");
    EXPECT_TRUE(is_empty(p.message));
    EXPECT_EQ(p.items, 10);
}

TEST(CommandLine, MessageItemsFillTheMessageSlots) {
    const CommandLine p = parse("to@example.com, , 件名, 本文, a.bin, 6, 7, 8");
    EXPECT_EQ(p.mode, RunMode::Send);
    EXPECT_EQ(p.message.to, "to@example.com");
    EXPECT_EQ(p.message.cc, "");
    EXPECT_EQ(p.message.subject, "件名");
    EXPECT_EQ(p.message.body, "本文");
    EXPECT_EQ(p.message.attach, "a.bin");
    EXPECT_TRUE(is_empty(p.server));
}

struct FlagCase {
    const char* name;
    const char* text;
    RunMode mode;
    const char* to;
};

class Flags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(Flags, Recognised) {
    const auto& c = GetParam();
    const CommandLine p = parse(c.text);
    EXPECT_EQ(p.mode, c.mode);
    EXPECT_EQ(p.message.to, c.to);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Flags,
    ::testing::Values(
        FlagCase{"xcnf", "--xcnf, s, 25, f, , , u, p", RunMode::Xcnf, ""},
        FlagCase{"info", "--info", RunMode::Info, "--info"},
        FlagCase{"capital_conf_is_a_recipient", "--CONF, a", RunMode::Send, "--CONF"},
        FlagCase{"full_width_flag", "－－ｃｏｎｆ, s, 25, f, p, , u, p", RunMode::Conf, ""},
        FlagCase{"later_position_is_a_value", "a@b, --conf, s, m", RunMode::Send, "a@b"},
        FlagCase{"quoted_flag", "'--info'", RunMode::Info, "--info"}),
    [](const auto& row) { return row.param.name; });

struct QuoteCase {
    const char* name;
    const char* text;
    const char* subject;
};

class Quotes : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(Quotes, Stripped) {
    const CommandLine p = parse(std::string("a@b, , ") + GetParam().text + ", body");
    EXPECT_EQ(p.message.subject, GetParam().subject);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Quotes,
    ::testing::Values(QuoteCase{"two_apostrophes", "''", ""},
                      QuoteCase{"two_double_quotes", "\"\"", ""},
                      QuoteCase{"full_width_quotes", "＂＂", ""}, QuoteCase{"enclosed", "'x'", "x"},
                      QuoteCase{"inner_quotes_kept", "\"a \"b\" c\"", "a \"b\" c"},
                      QuoteCase{"leading_only", "'x", "'x"},
                      QuoteCase{"single_quote_char", "'", "'"}),
    [](const auto& row) { return row.param.name; });

TEST(CommandLine, CommasAndItems) {
    // A trailing comma adds no item; adjacent commas give an empty item.
    CommandLine p = parse("a@b,,s,m,");
    EXPECT_EQ(p.message.cc, "");
    EXPECT_EQ(p.message.subject, "s");
    EXPECT_EQ(p.message.body, "m");
    EXPECT_EQ(p.items, 5);
    // Quotes do not protect commas.
    p = parse("a@b, , 'x, y', m");
    EXPECT_EQ(p.message.subject, "'x");
    EXPECT_EQ(p.message.body, "y'");
}

TEST(CommandLine, NarrowingOnlyWhereTheTableSaysSo) {
    const CommandLine p = parse("ａ＠ｂ．ｊｐ, ｃ＠ｄ, ＡＢＣ, ＡＢＣ, ＡＢＣ");
    EXPECT_EQ(p.message.to, "a@b.jp");
    EXPECT_EQ(p.message.cc, "c@d");
    EXPECT_EQ(p.message.subject, "ＡＢＣ");
    EXPECT_EQ(p.message.body, "ＡＢＣ");
    EXPECT_EQ(p.message.attach, "ＡＢＣ");
    const CommandLine s = parse("--xcnf, ｓ, ２５, ｆ＠ｘ, ｐ, １１０, ＵＳＥＲ, ＰＡＳＳ, ｓｓｌ");
    EXPECT_EQ(s.server.smtp_server + s.server.smtp_port + s.server.from + s.server.pop_server +
                  s.server.pop_port,
              "s25f@xp110");
    EXPECT_EQ(s.server.user, "ＵＳＥＲ");
    EXPECT_EQ(s.server.password, "ＰＡＳＳ");
    EXPECT_EQ(s.tls, "ssl");
}

TEST(CommandLine, BlankTextIsReported) {
    const auto parsed = parse_command_line("   ");
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error().reports,
              std::vector<std::string>{"パラメータの指定に誤りがあります "});
}

TEST(CommandLine, HugeInputIsHandledWhole) {
    const std::string commas(300000, ',');
    CommandLine p = parse("a@b" + commas);
    EXPECT_EQ(p.message.to, "a@b");
    const std::string field(1 << 20, 'x');
    p = parse("a@b, , s, " + field);
    EXPECT_EQ(p.message.body.size(), field.size());
}

MailOptions options_of(const std::map<std::string, std::string>& vars) {
    return read_env_options([&](const char* name) -> std::optional<std::string> {
        auto it = vars.find(name);
        if (it == vars.end()) return std::nullopt;
        return it->second;
    });
}

TEST(EnvOptions, Aliases) {
    const MailOptions o = options_of({
        {"FROM_NAME", " \"山田 太郎\" "},
        {"TO_ALIAS", "Team A"},
        {"CC_ALIAS", "漢字"},
        {"REPLY_TO", "ｒｅｐｌｙ＠ｘ．ｊｐ"},
        {"DEBUG_MODE", " protocol "},
    });
    EXPECT_EQ(o.from_name, "山田 太郎");
    EXPECT_EQ(o.to_alias, "TeamA");
    EXPECT_EQ(o.cc_alias, "");
    EXPECT_EQ(o.reply_to, "reply@x.jp");
    EXPECT_TRUE(o.protocol_logging());
    EXPECT_EQ(o.log_detail, "HDR");
    EXPECT_EQ(o.complaints, std::vector<std::string>{"CC_ALIASに全角が含まれています"});
}

// Each option loses one pair of surrounding double quotes; apostrophes stay.
TEST(EnvOptions, OnlyDoubleQuotesAreStripped) {
    struct Case {
        const char* value;
        const char* from_name;
        const char* alias;  // the same value as TO_ALIAS, CC_ALIAS and REPLY_TO
    };
    const Case cases[] = {
        {"\"'Taro'\"", "'Taro'", "'Taro'"}, {"'Taro'", "'Taro'", "'Taro'"},
        {"\"Taro\"", "Taro", "Taro"},       {"\"\"Taro\"\"", "\"Taro\"", "\"Taro\""},
        {"\"Taro", "\"Taro", "\"Taro"},     {"\"", "\"", "\""},
    };
    for (const Case& c : cases) {
        const MailOptions o = options_of({{"FROM_NAME", c.value},
                                          {"TO_ALIAS", c.value},
                                          {"CC_ALIAS", c.value},
                                          {"REPLY_TO", c.value}});
        EXPECT_EQ(o.from_name, c.from_name) << c.value;
        EXPECT_EQ(o.to_alias, c.alias) << c.value;
        EXPECT_EQ(o.cc_alias, c.alias) << c.value;
        EXPECT_EQ(o.reply_to, c.alias) << c.value;
    }
}

}  // namespace
}  // namespace vlt::app
