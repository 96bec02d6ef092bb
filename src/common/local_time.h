#pragma once
// The local calendar time of a moment, from the system's time-zone rules
// (localtime_r on POSIX systems, localtime_s on Windows), safe to call from
// any thread. A moment the system cannot convert gives an all-zero std::tm.

#include <ctime>

namespace vlt {

std::tm local_time(std::time_t t);

// How far the local time `local` (local_time(t)) is ahead of UTC at the moment
// `t`, in seconds (negative west of Greenwich), worked out from the two times
// themselves, so it needs no system field for it; 0 for an all-zero std::tm.
long utc_offset_seconds(const std::tm& local, std::time_t t);

}  // namespace vlt
