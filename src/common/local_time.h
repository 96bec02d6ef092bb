#pragma once
// The local calendar time of a moment, from the system's time-zone rules
// (localtime_r on POSIX systems, localtime_s on Windows), safe to call from
// any thread. A moment the system cannot convert gives an all-zero std::tm.

#include <ctime>

namespace vlt {

std::tm local_time(std::time_t t);

}  // namespace vlt
