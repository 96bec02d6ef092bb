#include "common/local_time.h"

namespace vlt {

std::tm local_time(std::time_t t) {
    std::tm tm{};
    if (::localtime_s(&tm, &t) != 0) return std::tm{};
    return tm;
}

}  // namespace vlt
