#pragma once
// Helpers shared by the message tests: a time-zone guard, sample bytes and a
// sample time; the file helpers and the reference Base64 encoder come from
// support/.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "support/base64_reference.h"
#include "support/files.h"

namespace vlt::test {

// The process's TZ setting, and a new one that the C library's local time
// follows at once (nullopt removes it). time_zone_posix.cpp and
// time_zone_win32.cpp define them.
std::optional<std::string> time_zone();
void set_time_zone(const std::optional<std::string>& zone);

// Sets TZ for the lifetime of the guard and restores the previous value. The
// zones are POSIX TZ strings ("JST-9", "EST5EDT", "NST3:30"), which the C
// libraries of both systems read alike.
class ScopedTz {
  public:
    explicit ScopedTz(const char* zone) : m_old(time_zone()) { set_time_zone(zone); }
    ~ScopedTz() { set_time_zone(m_old); }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

  private:
    std::optional<std::string> m_old;
};

// Deterministic bytes covering every byte value.
inline std::string pattern_bytes(std::size_t n, unsigned seed = 1) {
    std::string bytes(n, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<char>(x >> 24);
    }
    return bytes;
}

// 2026-12-07 10:31:05 UTC (a Monday), 19:31:05 in Tokyo.
inline std::chrono::system_clock::time_point sample_time() {
    using namespace std::chrono;
    return sys_days{year{2026} / 12 / 7} + hours{10} + minutes{31} + seconds{5};
}

}  // namespace vlt::test
