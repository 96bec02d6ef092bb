#include "app/platform.h"

#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "common/error_text.h"
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

std::optional<std::string> raw_environment_value(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string without_trailing_slashes(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

bool is_set(const std::optional<std::string>& value) {
    return value && !value->empty();
}

// Whether `folder` is `top` or lies under it.
bool is_under(std::string_view folder, std::string_view top) {
    if (folder.substr(0, top.size()) != top) return false;
    return folder.size() == top.size() || folder[top.size()] == '/';
}

// Installed programs live in the system's folders; anything else (a build
// folder, a copy in ~/bin) keeps its settings beside itself.
bool is_installed(std::string_view exe_folder) {
    constexpr std::array<std::string_view, 4> kSystemFolders = {"/usr", "/opt", "/bin", "/sbin"};
    for (std::string_view top : kSystemFolders) {
        if (is_under(exe_folder, top)) return true;
    }
    return false;
}

bool holds_settings(const FolderFacts& facts) {
    if (!facts.file_exists) return false;
    for (const char* name : {"vlt.sysdat", "TERNLOAD.DAT", "VLTSYS.DAT"}) {
        if (facts.file_exists(facts.exe_folder + "/" + name)) return true;
    }
    return false;
}

// ${xdg:-home/fallback}/vellumtide, with a relative xdg ignored.
std::string user_folder(const std::optional<std::string>& xdg, const std::string& home,
                        const std::string& exe_folder, const char* fallback) {
    std::string base;
    if (xdg && !xdg->empty() && xdg->front() == '/') {
        base = *xdg;
    } else if (!home.empty()) {
        base = home;
        while (!base.empty() && base.back() == '/') base.pop_back();
        base += fallback;
    } else {
        base = exe_folder;
    }
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base + "/vellumtide";
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

RunFolders choose_run_folders(const FolderFacts& facts) {
    if (is_set(facts.vellumtide_home)) {
        const std::string folder = without_trailing_slashes(*facts.vellumtide_home);
        return {folder, folder, FolderMaking::None};
    }
    const std::string exe_folder = without_trailing_slashes(facts.exe_folder);
    if (!is_installed(exe_folder) || holds_settings(facts)) {
        return {exe_folder, exe_folder, FolderMaking::None};
    }
    const std::string home = is_set(facts.home) ? *facts.home : facts.account_home;
    return {user_folder(facts.xdg_config_home, home, exe_folder, "/.config"),
            user_folder(facts.xdg_state_home, home, exe_folder, "/.local/state"),
            FolderMaking::WhenMissing};
}

FolderFacts process_folder_facts(const char* argv0) {
    FolderFacts facts;
    facts.vellumtide_home = raw_environment_value("VELLUMTIDE_HOME");
    if (is_set(facts.vellumtide_home)) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(*facts.vellumtide_home, ec);
        if (!ec) facts.vellumtide_home = absolute.lexically_normal().string();
    }
    facts.xdg_config_home = raw_environment_value("XDG_CONFIG_HOME");
    facts.xdg_state_home = raw_environment_value("XDG_STATE_HOME");
    facts.home = raw_environment_value("HOME");
    if (!is_set(facts.home)) {
        // getpwuid_r with a buffer of the size the system suggests.
        long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
        std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
        struct passwd entry {};
        struct passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr) {
            facts.account_home = found->pw_dir;
        }
    }
    facts.exe_folder = std::filesystem::path(self_path(argv0)).parent_path().string();
    facts.file_exists = [](const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    };
    return facts;
}

RunFolders run_folders(const char* argv0) {
    return choose_run_folders(process_folder_facts(argv0));
}

Status make_private_folder(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return {};
    const std::filesystem::path path(folder);
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    int err = ec ? ec.value() : 0;
    if (err == 0 && ::mkdir(folder.c_str(), S_IRWXU) == 0) {
        // The mode is 0700 whatever the umask.
        if (::chmod(folder.c_str(), S_IRWXU) != 0) err = errno;
    } else if (err == 0) {
        err = errno;
        // Another run may have made it in the meantime.
        if (err == EEXIST)
            err = ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    }
    if (err == 0) return {};
    const RuntimeError e = runtime_error_from_errno(err);
    return Error::on_file(static_cast<int>(e), error_text_full(e), folder);
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
