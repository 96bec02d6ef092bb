#include <stdlib.h>

#include <ctime>

#include "smtp/test_support.h"

namespace vlt::test {

std::optional<std::string> time_zone() {
    if (const char* zone = std::getenv("TZ")) return std::string(zone);
    return std::nullopt;
}

// The C library reads TZ when _tzset is called; an empty value removes it.
void set_time_zone(const std::optional<std::string>& zone) {
    ::_putenv_s("TZ", zone ? zone->c_str() : "");
    ::_tzset();
}

}  // namespace vlt::test
