#include <stdlib.h>

#include <ctime>

#include "smtp/test_support.h"

namespace vlt::test {

std::optional<std::string> time_zone() {
    if (const char* zone = std::getenv("TZ")) return std::string(zone);
    return std::nullopt;
}

void set_time_zone(const std::optional<std::string>& zone) {
    if (zone) {
        ::setenv("TZ", zone->c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

}  // namespace vlt::test
