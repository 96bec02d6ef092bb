#include "sysinfo/os_name.h"

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

bool is_modern_nt(const VersionInfo& v) {
    return v.platform_id == 2 && (v.major > 6 || (v.major == 6 && v.minor >= 2));
}

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

std::string product_caption(std::string_view product_name, int build) {
    constexpr int kFirstWindows11Build = 22000;
    constexpr std::string_view kTen = "Windows 10";
    std::string name(product_name);
    const auto at = name.find(kTen);
    const auto after = at == std::string::npos ? at : at + kTen.size();
    // "Windows 10" as a whole word only: "Windows 100" is another name.
    if (build >= kFirstWindows11Build && at != std::string::npos &&
        (after == name.size() || name[after] == ' ')) {
        name.replace(at, kTen.size(), "Windows 11");
    }
    return name;
}

std::string os_name(OsInfoProvider& provider, ModernNt modern) {
    const auto version = provider.version();
    if (!version) return {};
    Choice choice = choose(*version);
    const bool by_caption = modern == ModernNt::ByCaption && is_modern_nt(*version);
    if (by_caption) choice.row = Row::Caption;
    if (!by_caption &&
        (version->platform_id != 2 || (version->major != 5 && version->major != 6))) {
        return std::string(choice.name);
    }
    // NT 5 and 6 consult the management service for every minor version,
    // although only the listed ones take its caption; so does every NT named
    // by its caption.
    if (!provider.extended_version()) return {};
    std::string caption;
    if (const auto captions = provider.captions()) {
        for (const auto& c : *captions) caption = clean_caption(c);
    }
    return choice.row == Row::Caption ? caption : std::string(choice.name);
}

}  // namespace vlt::sysinfo
