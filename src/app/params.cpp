#include "app/params.h"

#include "common/text.h"
#include "encoding/cp932.h"
#include "encoding/narrow.h"

namespace vlt::app {

namespace {

// One pair of surrounding quotes (both apostrophes or both double quotes) is
// removed; a lone quote character is kept as it is.
std::string strip_quotes(std::string text) {
    if (text.size() >= 2) {
        const char q = text.front();
        if ((q == '\'' || q == '"') && text.back() == q) return text.substr(1, text.size() - 2);
    }
    return text;
}

// Where item n (1-based) is stored, in settings terms and in message terms.
constexpr int kSettingsSlots[] = {-1,           -1,       kArgSmtpServer,
                                  kArgSmtpPort, kArgFrom, kArgPopServer,
                                  kArgPopPort,  kArgUser, kArgPassword};
constexpr int kMessageSlots[] = {-1, kTo, kCc, kSubject, kBody, kAttach};

bool is_narrowed_slot(int slot) {
    switch (slot) {
        case kArgSmtpServer:
        case kArgSmtpPort:
        case kArgFrom:
        case kArgPopServer:
        case kArgPopPort:
        case kTo:
        case kCc:
            return true;
        default:
            return false;
    }
}

void set_mode(std::string_view flag, RunFlags& flags) {
    if (flag == "--conf" || flag == "--xcnf" || flag == "--info") {
        flags.conf_mode = flag == "--conf";
        flags.xcnf_mode = flag == "--xcnf";
        flags.info_mode = flag == "--info";
        flags.use_smtp_auth = flag == "--xcnf";
    }
}

}  // namespace

bool MailOptions::protocol_logging() const {
    return to_upper_ascii(trim(debug_mode)) == "PROTOCOL";
}

CommandLine parse_command_line(std::string_view argument_text, MailParams& params, RunFlags& flags,
                               const ErrorReport& report) {
    CommandLine result;
    if (trim(argument_text).empty()) {
        report.report("パラメータの指定に誤りがあります ");
        return result;
    }
    std::size_t start = 0;
    long item = 1;
    while (true) {
        const std::size_t comma = argument_text.find(',', start);
        if (comma == std::string_view::npos && start >= argument_text.size()) break;
        const std::string_view raw = comma == std::string_view::npos
                                         ? argument_text.substr(start)
                                         : argument_text.substr(start, comma - start);
        std::string value = trim(raw);
        const std::string narrowed = encoding::narrow(value);
        if (narrowed == "\"\"" || narrowed == "''") value.clear();
        value = strip_quotes(std::move(value));
        const std::string narrowed_value = encoding::narrow(value);
        if (item == 1 && !trim(value).empty()) {
            result.first_item = trim(narrowed_value);
            set_mode(result.first_item, flags);
        }
        if (item <= 8) {
            for (int slot : {kSettingsSlots[item], item <= 5 ? kMessageSlots[item] : -1}) {
                if (slot < 0) continue;
                params[slot] = is_narrowed_slot(slot) ? narrowed_value : value;
            }
        } else if (item == 9) {
            result.tls = trim(narrowed_value);
        }
        ++item;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (flags.conf_mode || flags.xcnf_mode) {
        for (int slot = kTo; slot <= kAttach; ++slot) params[slot].clear();
    } else {
        for (int slot = kArgSmtpServer; slot <= kArgFrom; ++slot) params[slot].clear();
    }
    result.items = item;
    return result;
}

MailOptions read_env_options(const EnvLookup& env, const ErrorReport& report) {
    MailOptions options;
    auto get = [&](const char* name) { return trim(env(name).value_or("")); };

    options.from_name = strip_quotes(get("FROM_NAME"));

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
        std::string value = encoding::narrow(strip_quotes(get(alias.name)));
        value = replace_all(value, " ", "");
        value = replace_all(value, "\t", "");
        value = trim_crlf(value);
        if (!encoding::is_single_byte(value)) {
            value.clear();
            report.report(alias.complaint);
        }
        options.*alias.field = value;
    }
    options.debug_mode = get("DEBUG_MODE");
    return options;
}

}  // namespace vlt::app
