#pragma once
// Helpers shared by the message tests: a time-zone guard, a temporary folder
// and an independent base64 encoder with the MIME line rule.

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

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

// A fresh folder under the system's temporary folder, removed with its content.
class TempDir {
  public:
    TempDir() {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() /
                 ("vlt-smtp-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

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

// Base64 of the whole input, broken as a MIME body: no break up to 76
// characters, otherwise CR LF after every full line of 76 (also after the last
// line when the length is an exact multiple of 76).
inline std::string reference_base64(const std::string& bytes) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string flat;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const unsigned b1 = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        const unsigned b2 = i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0;
        flat += alphabet[b0 >> 2];
        flat += alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        flat += i + 1 < bytes.size() ? alphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        flat += i + 2 < bytes.size() ? alphabet[b2 & 63] : '=';
    }
    if (flat.size() <= 76) return flat;
    std::string out;
    for (std::size_t i = 0; i < flat.size(); i += 76) {
        out += flat.substr(i, 76);
        if (i + 76 <= flat.size()) out += "\r\n";
    }
    return out;
}

// 2026-12-07 10:31:05 UTC (a Monday), 19:31:05 in Tokyo.
inline std::chrono::system_clock::time_point sample_time() {
    using namespace std::chrono;
    return sys_days{year{2026} / 12 / 7} + hours{10} + minutes{31} + seconds{5};
}

}  // namespace vlt::test
