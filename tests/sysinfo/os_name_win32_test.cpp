#include <gtest/gtest.h>

#include <string>

#include "sysinfo/os_name.h"

namespace vlt::sysinfo {
namespace {

// The system is named through the naming table from its true version and
// its product name: every Windows in use today is named by its caption,
// cleaned (no vendor name), never "unknown" and never empty.
TEST(LocalOsName, NamesThisWindowsByItsCaption) {
    const std::string name = local_os_name();
    EXPECT_EQ(name.rfind("Windows", 0), 0u) << name;
    EXPECT_EQ(name.find("Microsoft"), std::string::npos) << name;
    EXPECT_EQ(name, clean_caption(name)) << name;
}

}  // namespace
}  // namespace vlt::sysinfo
