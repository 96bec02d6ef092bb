#include "app/platform.h"

#include <string_view>

#include "app/platform_system.h"

namespace vlt::app {

namespace {

bool is_set(const std::optional<std::string>& value) {
    return value && !value->empty();
}

bool is_separator(char c) {
    return std::string_view(detail::folder_separators()).find(c) != std::string_view::npos;
}

// The root ("/", "C:\") keeps its separator.
std::string without_trailing_separators(std::string folder) {
    while (folder.size() > 1 && is_separator(folder.back()) &&
           !(folder.size() == 3 && folder[1] == ':')) {
        folder.pop_back();
    }
    return folder;
}

bool holds_settings(const FolderFacts& facts, const std::string& exe_folder) {
    if (!facts.file_exists) return false;
    const std::string folder =
        is_separator(exe_folder.back()) ? exe_folder : exe_folder + detail::folder_separators()[0];
    for (const char* name : {"vlt.sysdat", "TERNLOAD.DAT", "VLTSYS.DAT"}) {
        if (facts.file_exists(folder + name)) return true;
    }
    return false;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::string command_line_arguments(std::string_view line) {
    std::size_t pos = 0;
    if (!line.empty() && line[0] == '"') {
        const std::size_t closing = line.find('"', 1);
        pos = closing == std::string_view::npos ? line.size() : closing + 1;
    } else {
        while (pos < line.size() && !is_blank(line[pos])) ++pos;
    }
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    return std::string(line.substr(pos));
}

RunFolders choose_run_folders(const FolderFacts& facts) {
    if (is_set(facts.vellumtide_home)) {
        const std::string folder = without_trailing_separators(*facts.vellumtide_home);
        return {folder, folder, FolderMaking::None};
    }
    const std::string exe_folder = without_trailing_separators(facts.exe_folder);
    if (!exe_folder.empty() && holds_settings(facts, exe_folder)) {
        return {exe_folder, exe_folder, FolderMaking::None};
    }
    return detail::system_run_folders(facts, exe_folder);
}

RunFolders run_folders(const char* argv0) {
    return choose_run_folders(process_folder_facts(argv0));
}

std::string executable_name(const char* argv0) {
    const std::string path = detail::self_path(argv0);
    const std::size_t slash = path.find_last_of(detail::folder_separators());
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace vlt::app
