#include "common/local_time.h"

#include <chrono>

namespace vlt {

long utc_offset_seconds(const std::tm& local, std::time_t t) {
    using namespace std::chrono;
    if (local.tm_mday == 0) return 0;  // the moment could not be converted
    const year_month_day date{year{local.tm_year + 1900},
                              month{static_cast<unsigned>(local.tm_mon + 1)},
                              day{static_cast<unsigned>(local.tm_mday)}};
    const auto wall =
        sys_days{date} + hours{local.tm_hour} + minutes{local.tm_min} + seconds{local.tm_sec};
    return static_cast<long>(wall.time_since_epoch().count() - static_cast<long long>(t));
}

}  // namespace vlt
