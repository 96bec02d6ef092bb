// The parts of the process layer shared by both systems.
#include "app/platform.h"

#include <gtest/gtest.h>

namespace vlt::app {
namespace {

// The program name of a Windows command line, quoted or not, and the blanks
// after it go; the rest stays as typed, quotes included.
TEST(CommandLineArguments, Table) {
    struct Case {
        const char* line;
        const char* expected;
    };
    // clang-format off
    const Case cases[] = {
        {"vellumtide.exe a@x, , 件名, 本文", "a@x, , 件名, 本文"},
        {"\"C:\\Program Files\\v\\vellumtide.exe\"  \t\"a, b\" , c", "\"a, b\" , c"},
        {"\"C:\\v\\vellumtide.exe\"--info", "--info"},
        {"C:\\v\\vellumtide.exe\t--help ", "--help "},
        {"vellumtide.exe", ""},
        {"vellumtide.exe   ", ""},
        {"\"unclosed name --info", ""},
        {"", ""},
    };
    // clang-format on
    for (const Case& c : cases) EXPECT_EQ(command_line_arguments(c.line), c.expected) << c.line;
}

}  // namespace
}  // namespace vlt::app
