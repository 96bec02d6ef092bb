#include "sysinfo/os_name.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace vlt::sysinfo {
namespace {

using namespace std::string_literals;

// A provider that answers from the case and counts how often it was asked.
class FakeProvider final : public OsInfoProvider {
  public:
    std::optional<VersionInfo> m_version;
    bool m_extended = true;
    std::optional<std::vector<std::string>> m_captions;
    int m_caption_calls = 0;

    std::optional<VersionInfo> version() override { return m_version; }
    bool extended_version() override { return m_extended; }
    std::optional<std::vector<std::string>> captions() override {
        ++m_caption_calls;
        return m_captions;
    }
};

struct NameCase {
    const char* name;
    std::optional<VersionInfo> version;
    bool extended;
    std::optional<std::vector<std::string>> captions;
    std::string expected;
    bool asks_caption;
    ModernNt modern = ModernNt::Unknown;
};

const std::vector<std::string> kXp = {"Microsoft Windows XP Professional"};

class OsNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(OsNameTest, NamesTheSystem) {
    const auto& c = GetParam();
    FakeProvider p;
    p.m_version = c.version;
    p.m_extended = c.extended;
    p.m_captions = c.captions;
    EXPECT_EQ(os_name(p, c.modern), c.expected);
    EXPECT_EQ(p.m_caption_calls > 0, c.asks_caption);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OsNameTest,
    ::testing::Values(
        NameCase{"VersionQueryFails", std::nullopt, true, kXp, "", false},
        NameCase{"Win95", VersionInfo{1, 4, 0}, true, kXp, "Windows95", false},
        NameCase{"Win98", VersionInfo{1, 4, 10}, true, kXp, "Windows98", false},
        NameCase{"WinMe", VersionInfo{1, 4, 90}, true, kXp, "WindowsMe", false},
        NameCase{"Platform1Minor3", VersionInfo{1, 4, 3}, true, kXp, "unknown", false},
        NameCase{"Platform1AnyMajor", VersionInfo{1, 9, 10}, true, kXp, "Windows98", false},
        NameCase{"Nt351", VersionInfo{2, 3, 51}, true, kXp, "WindowsNT3.51", false},
        NameCase{"Nt35", VersionInfo{2, 3, 50}, true, kXp, "WindowsNT3.5", false},
        NameCase{"Nt4", VersionInfo{2, 4, 0}, true, kXp, "WinowsNT4.0", false},
        NameCase{"Nt4AnyMinor", VersionInfo{2, 4, 7}, true, kXp, "WinowsNT4.0", false},
        NameCase{"Nt50Caption", VersionInfo{2, 5, 0}, true, kXp, "Windows XP Professional", true},
        NameCase{"Nt51Caption", VersionInfo{2, 5, 1}, true, kXp, "Windows XP Professional", true},
        NameCase{"Nt52Caption", VersionInfo{2, 5, 2}, true, kXp, "Windows XP Professional", true},
        NameCase{"Nt53Unknown", VersionInfo{2, 5, 3}, true, kXp, "unknown", true},
        NameCase{"Nt60Caption", VersionInfo{2, 6, 0}, true,
                 std::vector<std::string>{"Microsoft\u00AE Windows Server\u00AE 2008 Standard"},
                 "Windows Server 2008 Standard", true},
        NameCase{"Nt61Caption", VersionInfo{2, 6, 1}, true,
                 std::vector<std::string>{"Microsoft Windows 7 Professional "},
                 "Windows 7 Professional", true},
        NameCase{"Nt62Unknown", VersionInfo{2, 6, 2}, true, kXp, "unknown", true},
        NameCase{"Nt63UnknownWithoutService", VersionInfo{2, 6, 3}, true, std::nullopt, "unknown",
                 true},
        NameCase{"Nt10Unknown", VersionInfo{2, 10, 0}, true, kXp, "unknown", false},
        NameCase{"Platform3Unknown", VersionInfo{3, 5, 1}, true, kXp, "unknown", false},
        NameCase{"ExtendedQueryFails", VersionInfo{2, 5, 1}, false, kXp, "", false},
        NameCase{"ExtendedQueryFailsNt53", VersionInfo{2, 5, 3}, false, kXp, "", false},
        NameCase{"ServiceUnavailable", VersionInfo{2, 5, 1}, true, std::nullopt, "", true},
        NameCase{"NoInstance", VersionInfo{2, 5, 1}, true, std::vector<std::string>{}, "", true},
        NameCase{"LastInstanceWins", VersionInfo{2, 6, 1}, true,
                 std::vector<std::string>{"Microsoft Windows Vista", "Microsoft Windows 7"},
                 "Windows 7", true},
        NameCase{"EmptyCaptionStaysEmpty", VersionInfo{2, 6, 0}, true,
                 std::vector<std::string>{"   "}, "", true},
        // Named by caption from NT 6.2 on, as the Windows build does.
        NameCase{"Nt62ByCaption", VersionInfo{2, 6, 2}, true,
                 std::vector<std::string>{"Microsoft Windows 8.1 Pro"}, "Windows 8.1 Pro", true,
                 ModernNt::ByCaption},
        NameCase{"Nt10ByCaption", VersionInfo{2, 10, 0, 22631}, true,
                 std::vector<std::string>{"Windows 11 Pro"}, "Windows 11 Pro", true,
                 ModernNt::ByCaption},
        NameCase{"Nt10ByCaptionWithoutService", VersionInfo{2, 10, 0}, true, std::nullopt, "", true,
                 ModernNt::ByCaption},
        NameCase{"Nt10ByCaptionExtendedQueryFails", VersionInfo{2, 10, 0}, false, kXp, "", false,
                 ModernNt::ByCaption},
        NameCase{"Nt4ByCaptionStillFixed", VersionInfo{2, 4, 0}, true, kXp, "WinowsNT4.0", false,
                 ModernNt::ByCaption}),
    [](const auto& row) { return std::string(row.param.name); });

struct CaptionCase {
    const char* name;
    std::string caption;
    std::string expected;
};

class CleanCaptionTest : public ::testing::TestWithParam<CaptionCase> {};

TEST_P(CleanCaptionTest, Cleans) {
    EXPECT_EQ(clean_caption(GetParam().caption), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Captions, CleanCaptionTest,
    ::testing::Values(
        CaptionCase{"VendorRemoved", "Microsoft Windows XP Professional",
                    "Windows XP Professional"},
        CaptionCase{"RegisteredSignsAsR", "Microsoft\u00AE Windows Server\u00AE 2008 Standard",
                    "Windows Server 2008 Standard"},
        CaptionCase{"AlreadyRoundTripped", "MicrosoftR Windows ServerR 2008 Standard",
                    "Windows Server 2008 Standard"},
        CaptionCase{"TrailingSpace", "Microsoft Windows 7 Professional ", "Windows 7 Professional"},
        CaptionCase{"CutAtNul", "Microsoft Windows 7\0 garbage"s, "Windows 7"},
        CaptionCase{"LeadingNul", "\0Microsoft Windows 7"s, ""},
        CaptionCase{"MissingCharactersDropped", "Microsoft Windows\u2122 7 \U0001F600Home",
                    "Windows 7 Home"},
        CaptionCase{"QuestionMarkRemoved", "Windows? 8", "Windows 8"},
        CaptionCase{"JapaneseKept", "Microsoft Windows 7 Professional \u65e5\u672c\u8a9e",
                    "Windows 7 Professional \u65e5\u672c\u8a9e"},
        CaptionCase{"CaseSensitive", "microsoft Windows", "microsoft Windows"},
        CaptionCase{"ServerRNotAfterTrademark", "Windows ServerRack", "Windows Serverack"}),
    [](const auto& row) { return std::string(row.param.name); });

struct ProductCase {
    const char* name;
    std::string product;
    int build;
    std::string expected;
};

class ProductCaptionTest : public ::testing::TestWithParam<ProductCase> {};

TEST_P(ProductCaptionTest, NamesTheRunningBuild) {
    EXPECT_EQ(product_caption(GetParam().product, GetParam().build), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Products, ProductCaptionTest,
    ::testing::Values(ProductCase{"Windows11", "Windows 10 Pro", 22631, "Windows 11 Pro"},
                      ProductCase{"LastWindows10Build", "Windows 10 Pro", 21999, "Windows 10 Pro"},
                      ProductCase{"ServerKept", "Windows Server 2022 Datacenter", 20348,
                                  "Windows Server 2022 Datacenter"},
                      ProductCase{"OnlyWholeName", "Windows 100", 22631, "Windows 100"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vlt::sysinfo
