#include "app/params.h"

#include "common/text.h"
#include "encoding/cp932.h"
#include "encoding/narrow.h"

namespace vlt::app {

namespace {

// Removes one pair of surrounding quotes, both the same character out of
// `quotes`; a lone quote character is kept as it is. Argument items accept
// apostrophes and double quotes; the environment options double quotes only,
// so that an apostrophe there is part of the value.
std::string strip_pair(std::string_view text, std::string_view quotes) {
    if (text.size() >= 2 && quotes.find(text.front()) != std::string_view::npos &&
        text.back() == text.front()) {
        return std::string(text.substr(1, text.size() - 2));
    }
    return std::string(text);
}

constexpr std::string_view kItemQuotes = "'\"";
constexpr std::string_view kOptionQuotes = "\"";

enum class Width { Kept, Narrowed };

// Where item n (1-based, the index) is stored in a settings run and in any
// other run, and whether full-width characters are narrowed there first.
struct ItemPlace {
    std::string ServerValues::*server;
    Width server_width;
    std::string MessageValues::*message;
    Width message_width;
};

constexpr ItemPlace kItemPlaces[] = {
    {nullptr, Width::Kept, nullptr, Width::Kept},
    {nullptr, Width::Kept, &MessageValues::to, Width::Narrowed},
    {&ServerValues::smtp_server, Width::Narrowed, &MessageValues::cc, Width::Narrowed},
    {&ServerValues::smtp_port, Width::Narrowed, &MessageValues::subject, Width::Kept},
    {&ServerValues::from, Width::Narrowed, &MessageValues::body, Width::Kept},
    {&ServerValues::pop_server, Width::Narrowed, &MessageValues::attach, Width::Kept},
    {&ServerValues::pop_port, Width::Narrowed, nullptr, Width::Kept},
    {&ServerValues::user, Width::Kept, nullptr, Width::Kept},
    {&ServerValues::password, Width::Kept, nullptr, Width::Kept},
};
constexpr long kTlsItem = 9;
constexpr long kAuthMechItem = 10;

RunMode mode_of(std::string_view flag) {
    if (flag == "--conf") return RunMode::Conf;
    if (flag == "--xcnf") return RunMode::Xcnf;
    if (flag == "--info") return RunMode::Info;
    return RunMode::Send;
}

// The value of one item as written and narrowed, quotes removed.
struct ItemValue {
    std::string kept;
    std::string narrowed;
};

ItemValue item_value(std::string_view raw) {
    std::string value = trim(raw);
    const std::string narrowed = encoding::narrow(value);
    if (narrowed == "\"\"" || narrowed == "''") value.clear();
    value = strip_pair(value, kItemQuotes);
    std::string narrowed_value = encoding::narrow(value);
    return {std::move(value), std::move(narrowed_value)};
}

// Stores item `item` in both views; the one the mode does not use is cleared
// once the mode is known.
void place_item(long item, const ItemValue& v, CommandLine& line) {
    if (item < static_cast<long>(std::size(kItemPlaces))) {
        const ItemPlace& place = kItemPlaces[item];
        if (place.server != nullptr) {
            line.server.*place.server = place.server_width == Width::Narrowed ? v.narrowed : v.kept;
        }
        if (place.message != nullptr) {
            line.message.*place.message =
                place.message_width == Width::Narrowed ? v.narrowed : v.kept;
        }
    } else if (item == kTlsItem) {
        line.tls = trim(v.narrowed);
    } else if (item == kAuthMechItem) {
        line.auth_mech = trim(v.narrowed);
    }
}

}  // namespace

bool MailOptions::protocol_logging() const {
    return to_upper_ascii(trim(debug_mode)) == "PROTOCOL";
}

Result<CommandLine> parse_command_line(std::string_view argument_text) {
    if (trim(argument_text).empty()) {
        return Error(ErrorKind::Input, "パラメータの指定に誤りがあります ");
    }
    CommandLine line;
    std::size_t start = 0;
    long item = 1;
    while (true) {
        const std::size_t comma = argument_text.find(',', start);
        if (comma == std::string_view::npos && start >= argument_text.size()) break;
        const std::string_view raw = comma == std::string_view::npos
                                         ? argument_text.substr(start)
                                         : argument_text.substr(start, comma - start);
        const ItemValue value = item_value(raw);
        if (item == 1 && !trim(value.kept).empty()) {
            line.first_item = trim(value.narrowed);
            line.mode = mode_of(line.first_item);
        }
        place_item(item, value, line);
        ++item;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (line.stores_settings()) {
        line.message = MessageValues{};
    } else {
        line.server = ServerValues{};
    }
    line.items = item;
    return line;
}

MailOptions read_env_options(const EnvLookup& env) {
    MailOptions options;
    auto get = [&](const char* name) { return trim(env(name).value_or("")); };

    options.from_name = strip_pair(get("FROM_NAME"), kOptionQuotes);

    struct Alias {
        const char* name;
        std::string MailOptions::*field;
        const char* complaint;
    };
    const Alias aliases[] = {
        {"TO_ALIAS", &MailOptions::to_alias, "TO_ALIASに全角が含まれています"},
        {"CC_ALIAS", &MailOptions::cc_alias, "CC_ALIASに全角が含まれています"},
        {"REPLY_TO", &MailOptions::reply_to, "REPLY_TOに全角が含まれています"},
    };
    for (const Alias& alias : aliases) {
        std::string value = encoding::narrow(strip_pair(get(alias.name), kOptionQuotes));
        value = replace_all(value, " ", "");
        value = replace_all(value, "\t", "");
        value = trim_crlf(value);
        if (!encoding::is_single_byte(value)) {
            value.clear();
            options.complaints.emplace_back(alias.complaint);
        }
        options.*alias.field = value;
    }
    options.debug_mode = get("DEBUG_MODE");
    return options;
}

}  // namespace vlt::app
