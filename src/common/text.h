#pragma once
// Small text helpers shared by every module. Texts are UTF-8; "space" means
// the ASCII space only, and trimming removes spaces, not tabs or U+3000.

#include <optional>
#include <string>
#include <string_view>

namespace vlt {

std::string trim(std::string_view text);
std::string trim_left(std::string_view text);
std::string trim_right(std::string_view text);

// Every occurrence of `find` (not empty) replaced, left to right, without
// overlap: ",,," with ",," -> "," gives ",,".
std::string replace_all(std::string_view text, std::string_view find, std::string_view with);

// Lines to one comma list: CR LF, CR and LF become ",", tabs and spaces go,
// then ",," becomes "," once.
std::string to_comma_list(std::string_view text);

std::string tab_to_space(std::string_view text);
// CR and LF removed at both ends, then spaces.
std::string trim_crlf(std::string_view text);
// NUL removed at both ends, then spaces.
std::string trim_null(std::string_view text);

// The trimmed 1-based field `number` of `text` split at `separator` (a space,
// a tab, or one character once trimmed). nullopt when there is no such field:
// the text is blank, `number` is below 1 or past the last field, or the
// separator is not one character; a separator at the very end opens no field
// ("a," has one). An empty field between two separators gives an empty
// string, so a caller walking a list can tell an empty item ("a,,c") from
// its end.
std::optional<std::string> get_field(std::string_view text, long number,
                                     std::string_view separator);

std::string to_upper_ascii(std::string_view text);
bool iequals_ascii(std::string_view a, std::string_view b);
bool icontains_ascii(std::string_view haystack, std::string_view needle);

// "Ver： 0.3.43"
std::string version_text();

}  // namespace vlt
