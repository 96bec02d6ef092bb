#include "common/text.h"

#include <cctype>

#include "common/version.h"

namespace vlt {

std::string trim_left(std::string_view text) {
    std::size_t b = 0;
    while (b < text.size() && text[b] == ' ') ++b;
    return std::string(text.substr(b));
}

std::string trim_right(std::string_view text) {
    std::size_t e = text.size();
    while (e > 0 && text[e - 1] == ' ') --e;
    return std::string(text.substr(0, e));
}

std::string trim(std::string_view text) {
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    return std::string(text.substr(b, e - b));
}

std::string replace_all(std::string_view text, std::string_view find, std::string_view with) {
    if (find.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t p = text.find(find); p != std::string_view::npos; p = text.find(find, start)) {
        out.append(text.substr(start, p - start));
        out.append(with);
        start = p + find.size();
    }
    out.append(text.substr(start));
    return out;
}

std::string to_comma_list(std::string_view text) {
    std::string s = replace_all(text, "\r\n", ",");
    s = replace_all(s, "\r", ",");
    s = replace_all(s, "\n", ",");
    s = replace_all(s, "\t", "");
    s = replace_all(s, " ", "");
    return replace_all(s, ",,", ",");
}

std::string tab_to_space(std::string_view text) {
    std::string s(text);
    for (char& c : s) {
        if (c == '\t') c = ' ';
    }
    return s;
}

namespace {

std::string strip_ends(std::string_view text, std::string_view chars) {
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && chars.find(text[b]) != std::string_view::npos) ++b;
    while (e > b && chars.find(text[e - 1]) != std::string_view::npos) --e;
    return std::string(text.substr(b, e - b));
}

}  // namespace

std::string trim_crlf(std::string_view text) {
    return trim(strip_ends(text, "\r\n"));
}

std::string trim_null(std::string_view text) {
    return trim(strip_ends(text, std::string_view("\0", 1)));
}

std::optional<std::string> get_field(std::string_view text, long number,
                                     std::string_view separator) {
    if (trim(text).empty() || number <= 0) return std::nullopt;
    std::string sep(separator);
    if (sep != " " && sep != "\t") {
        sep = trim(separator);
        // One character once trimmed: one code point, which may take several bytes.
        if (sep.empty()) return std::nullopt;
        std::size_t len = 1;
        const auto lead = static_cast<unsigned char>(sep[0]);
        if (lead >= 0xF0)
            len = 4;
        else if (lead >= 0xE0)
            len = 3;
        else if (lead >= 0xC0)
            len = 2;
        if (sep.size() != len) return std::nullopt;
    }
    std::size_t start = 0;
    long field = 1;
    while (true) {
        std::size_t comma = text.find(sep, start);
        std::string_view item;
        if (comma == std::string_view::npos) {
            if (start >= text.size()) return std::nullopt;
            item = text.substr(start);
        } else {
            item = text.substr(start, comma - start);
        }
        if (field == number) return trim(item);
        if (comma == std::string_view::npos) return std::nullopt;
        start = comma + sep.size();
        ++field;
    }
}

std::string to_upper_ascii(std::string_view text) {
    std::string s(text);
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

bool iequals_ascii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && to_upper_ascii(a) == to_upper_ascii(b);
}

bool icontains_ascii(std::string_view haystack, std::string_view needle) {
    return to_upper_ascii(haystack).find(to_upper_ascii(needle)) != std::string::npos;
}

std::string version_text() {
    return std::string("Ver\xEF\xBC\x9A ") + kVersionString;
}

}  // namespace vlt
