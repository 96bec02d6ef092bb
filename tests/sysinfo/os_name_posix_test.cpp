#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "sysinfo/os_release.h"

namespace vlt::sysinfo {
namespace {

struct ReleaseCase {
    const char* name;
    std::string content;
    std::string expected;  // empty: the uname form
};

class LocalOsNameTest : public ::testing::TestWithParam<ReleaseCase> {};

std::string uname_form() {
    utsname u{};
    EXPECT_EQ(uname(&u), 0);
    return std::string(u.sysname) + " " + u.release;
}

TEST_P(LocalOsNameTest, ReadsPrettyName) {
    const auto& c = GetParam();
    const auto path = std::filesystem::temp_directory_path() /
                      ("vlt-os-release-" + std::to_string(getpid()) + "-" + c.name);
    {
        std::ofstream out(path, std::ios::binary);
        out << c.content;
    }
    const std::string got = local_os_name_from(path.string());
    std::filesystem::remove(path);
    EXPECT_EQ(got, c.expected.empty() ? uname_form() : c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LocalOsNameTest,
    ::testing::Values(
        ReleaseCase{"DoubleQuoted",
                    "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
                    "Debian GNU/Linux 12 (bookworm)"},
        ReleaseCase{"SingleQuoted", "PRETTY_NAME='Fedora Linux 39 (Workstation \"Edition\")'\n",
                    "Fedora Linux 39 (Workstation \"Edition\")"},
        ReleaseCase{"Unquoted", "ID=alpine\nPRETTY_NAME=Alpine\n", "Alpine"},
        ReleaseCase{"EscapesInsideDoubleQuotes", "PRETTY_NAME=\"A \\\"B\\\" \\$C \\\\ D\"\n",
                    "A \"B\" $C \\ D"},
        ReleaseCase{"BackslashKeptBeforeOrdinary", "PRETTY_NAME=\"A\\nB\"\n", "A\\nB"},
        ReleaseCase{"EscapedBlankUnquoted", "PRETTY_NAME=Arch\\ Linux\n", "Arch Linux"},
        ReleaseCase{"CommentIgnored", "# PRETTY_NAME=\"Wrong\"\nPRETTY_NAME=\"Right\"\n", "Right"},
        ReleaseCase{"CrLfLineEnds", "PRETTY_NAME=\"Debian\"\r\n", "Debian"},
        ReleaseCase{"SimilarKeyIgnored", "XPRETTY_NAME=\"No\"\nPRETTY_NAMES=\"No\"\n", ""},
        ReleaseCase{"MissingKeyUsesUname", "NAME=Debian\n", ""},
        ReleaseCase{"EmptyValueUsesUname", "PRETTY_NAME=\"\"\n", ""}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(LocalOsName, MissingFileUsesUname) {
    EXPECT_EQ(local_os_name_from("/nonexistent/vlt/os-release"), uname_form());
}

}  // namespace
}  // namespace vlt::sysinfo
