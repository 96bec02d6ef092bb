#include <sys/utsname.h>

#include <fstream>
#include <string_view>

#include "sysinfo/os_name.h"
#include "sysinfo/os_release.h"

namespace vlt::sysinfo {
namespace {

// Shell-style unquoting of an os-release value: double quotes (with backslash
// escapes inside), single quotes (literal), and backslash escapes outside quotes.
std::string unquote_value(std::string_view value) {
    std::string out;
    enum class Quote { None, Double, Single } quote = Quote::None;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        switch (quote) {
            case Quote::None:
                if (c == '"') {
                    quote = Quote::Double;
                } else if (c == '\'') {
                    quote = Quote::Single;
                } else if (c == '\\' && i + 1 < value.size()) {
                    out.push_back(value[++i]);
                } else {
                    out.push_back(c);
                }
                break;
            case Quote::Double:
                if (c == '"') {
                    quote = Quote::None;
                } else if (c == '\\' && i + 1 < value.size() &&
                           std::string_view("\"\\$`").find(value[i + 1]) !=
                               std::string_view::npos) {
                    out.push_back(value[++i]);
                } else {
                    out.push_back(c);
                }
                break;
            case Quote::Single:
                if (c == '\'') {
                    quote = Quote::None;
                } else {
                    out.push_back(c);
                }
                break;
        }
    }
    return out;
}

std::string pretty_name_from(const std::string& path) {
    std::ifstream in(path);
    if (!in) return {};
    std::string line;
    std::string found;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        std::string_view rest(line);
        rest.remove_prefix(start);
        constexpr std::string_view key = "PRETTY_NAME=";
        if (rest.substr(0, key.size()) != key) continue;
        rest.remove_prefix(key.size());
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
        found = unquote_value(rest);  // a later assignment wins, as in a shell
    }
    return found;
}

std::string uname_name() {
    utsname u{};
    if (uname(&u) != 0) return {};
    return std::string(u.sysname) + " " + u.release;
}

}  // namespace

std::string local_os_name_from(const std::string& os_release_path) {
    std::string name = pretty_name_from(os_release_path);
    if (name.empty()) name = uname_name();
    return name;
}

std::string local_os_name() {
    // /usr/lib/os-release stands in when /etc/os-release is missing.
    std::ifstream etc("/etc/os-release");
    return local_os_name_from(etc ? "/etc/os-release" : "/usr/lib/os-release");
}

}  // namespace vlt::sysinfo
