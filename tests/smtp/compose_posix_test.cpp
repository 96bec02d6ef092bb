// The Date text across daylight saving time, by the zone names of the
// system's time-zone database (Windows' C library knows neither the names nor
// other rules than its own).

#include <gtest/gtest.h>

#include <string>

#include "smtp/compose.h"
#include "smtp/test_support.h"

namespace vlt::smtp {
namespace {

TEST(DateText, FollowsDaylightSavingTime) {
    using namespace std::chrono;
    struct Row {
        const char* zone;
        system_clock::time_point when;
        const char* expected;
    };
    const Row rows[] = {
        {"America/New_York", sys_days{2026y / 12 / 7} + 10h + 31min + 5s,
         "Mon, 7 Dec 2026 05:31:05 -0500"},
        {"America/New_York", sys_days{2026y / 7 / 4} + 3h, "Fri, 3 Jul 2026 23:00:00 -0400"},
        {"Asia/Tokyo", sys_days{2026y / 12 / 31} + 20h, "Fri, 1 Jan 2027 05:00:00 +0900 (JST)"},
        {"America/St_Johns", sys_days{2026y / 7 / 4} + 3h, "Sat, 4 Jul 2026 00:30:00 -0230"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.zone);
        test::ScopedTz tz(row.zone);
        EXPECT_EQ(make_date_text(row.when), row.expected);
    }
}

}  // namespace
}  // namespace vlt::smtp
