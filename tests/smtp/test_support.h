#pragma once
// Helpers shared by the message tests: a time-zone guard, sample bytes and a
// sample time; the file helpers and the reference Base64 encoder come from
// support/.

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "support/base64_reference.h"
#include "support/files.h"

namespace vlt::test {

// Sets TZ for the lifetime of the guard and restores the previous value.
class ScopedTz {
  public:
    explicit ScopedTz(const char* zone) {
        if (const char* old = std::getenv("TZ")) m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTz() {
        if (m_old) {
            setenv("TZ", m_old->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
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
