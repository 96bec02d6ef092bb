#pragma once
// Shared pieces of the fuzz targets: the input as a string_view, a check that
// stops the fuzzer with a message when a property of the output fails, and a
// private scratch folder for the targets whose parser reads a file.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace vlt::fuzz {

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A broken property is a finding like a crash: abort() makes libFuzzer keep
// the input and stop.
inline void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz property failed: %s\n", what);
    std::abort();
}

// A folder of this process under the system's temporary folder, removed with
// everything in it when the process ends normally.
class ScratchFolder {
  public:
    ScratchFolder() {
        namespace fs = std::filesystem;
        m_path = (fs::temp_directory_path() / ("vlt-fuzz-" + std::to_string(::getpid()))).string();
        std::error_code ec;
        fs::remove_all(m_path, ec);
        fs::create_directories(m_path, ec);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return m_path; }

    // Writes `bytes` as the file `name` in the folder (replacing it) and
    // returns its path.
    std::string put(const std::string& name, std::string_view bytes) const {
        const std::string file = m_path + "/" + name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

  private:
    std::string m_path;
};

// The one scratch folder of the process, made on first use.
inline const ScratchFolder& scratch() {
    static const ScratchFolder folder;
    return folder;
}

}  // namespace vlt::fuzz
