#include "sysinfo/os_name.h"

#include <sys/utsname.h>

#include <fstream>
#include <string_view>

#include "encoding/cp932.h"
#include "encoding/utf8.h"

namespace vlt::sysinfo {
namespace {

std::string trim_spaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

void remove_all(std::string& text, std::string_view find, std::string_view with) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (true) {
        const auto hit = text.find(find, pos);
        if (hit == std::string::npos) break;
        out.append(text, pos, hit - pos);
        out.append(with);
        pos = hit + find.size();
    }
    out.append(text, pos, std::string::npos);
    text = std::move(out);
}

// The caption as the code-page round trip leaves it: the registered sign comes
// back as the letter R (the best-fit form), any other character the code page
// lacks as "?", and characters with a preferred code-page form (a JIS wave
// dash, say) as that form.
std::string code_page_round_trip(std::string_view text) {
    std::string widened;
    widened.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char32_t cp = encoding::next_code_point(text, pos);
        if (cp == U'\u00AE') {
            widened.push_back('R');
        } else {
            encoding::append_utf8(widened, cp);
        }
    }
    return encoding::from_cp932(encoding::to_cp932(widened));
}

// The name table for systems that carry no caption of their own.
enum class Row { Caption, Fixed };

struct Choice {
    Row row;
    std::string_view name;  // the fixed name, or the name used when no caption applies
};

Choice choose(const VersionInfo& v) {
    if (v.platform_id == 1) {
        switch (v.minor) {
            case 0:
                return {Row::Fixed, "Windows95"};
            case 10:
                return {Row::Fixed, "Windows98"};
            case 90:
                return {Row::Fixed, "WindowsMe"};
            default:
                return {Row::Fixed, "unknown"};
        }
    }
    if (v.platform_id == 2) {
        switch (v.major) {
            case 3:
                return {Row::Fixed, v.minor == 51 ? "WindowsNT3.51" : "WindowsNT3.5"};
            case 4:
                return {Row::Fixed, "WinowsNT4.0"};
            case 5:
                return {v.minor >= 0 && v.minor <= 2 ? Row::Caption : Row::Fixed, "unknown"};
            case 6:
                return {v.minor == 0 || v.minor == 1 ? Row::Caption : Row::Fixed, "unknown"};
            default:
                return {Row::Fixed, "unknown"};
        }
    }
    return {Row::Fixed, "unknown"};
}

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

std::string clean_caption(std::string_view caption) {
    const auto nul = caption.find('\0');
    std::string text = code_page_round_trip(trim_spaces(caption.substr(0, nul)));
    remove_all(text, "MicrosoftR", "");
    remove_all(text, "Microsoft", "");
    remove_all(text, "ServerR", "Server");
    remove_all(text, "?", "");
    return trim_spaces(text);
}

std::string os_name(OsInfoProvider& provider) {
    const auto version = provider.version();
    if (!version) return {};
    const Choice choice = choose(*version);
    if (version->platform_id != 2 || (version->major != 5 && version->major != 6)) {
        return std::string(choice.name);
    }
    // NT 5 and 6 consult the management service for every minor version,
    // although only the listed ones take its caption.
    if (!provider.extended_version()) return {};
    std::string caption;
    if (const auto captions = provider.captions()) {
        for (const auto& c : *captions) caption = clean_caption(c);
    }
    return choice.row == Row::Caption ? caption : std::string(choice.name);
}

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
