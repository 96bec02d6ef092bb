#include "app/platform.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "encoding/utf8.h"
#include "ui/windows.h"

namespace vlt::app {

namespace {

std::string self_path(const char* argv0) {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) return exe.string();
    return std::filesystem::absolute(argv0 ? argv0 : "", ec).string();
}

}  // namespace

std::string argument_text(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += encoding::decode_external(argv[i]);
    }
    return text;
}

std::optional<std::string> environment_value(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return encoding::decode_external(value);
}

std::string program_folder(const char* argv0) {
    if (const char* home = std::getenv("VELLUMTIDE_HOME"); home != nullptr && *home != '\0') {
        std::string folder = home;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        return folder;
    }
    return std::filesystem::path(self_path(argv0)).parent_path().string();
}

std::string executable_name(const char* argv0) {
    return std::filesystem::path(self_path(argv0)).stem().string();
}

Result<std::string> password_from_outside() {
    if (isatty(STDIN_FILENO) == 1) return ui::ask_terminal_password();
    // Read a byte at a time, so that nothing after the line is taken from a
    // standard input that others share.
    std::string line;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') break;
        line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return encoding::decode_external(line);
}

void protect_process_memory() {
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

}  // namespace vlt::app
