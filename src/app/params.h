#pragma once
// The run's values from outside: the items of the argument text and the
// environment options.
//
// The argument text is split at commas. A settings run (--conf, --xcnf) reads
// items 2-8 as the seven server values, item 9 as the encryption and item 10
// as the authentication mechanism; any
// other run reads items 1-5 as the message values. The values are the fields
// of the windows that ask for them when they are missing.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "ui/windows.h"

namespace vlt::app {

// Recipients, carbon copy, subject, body and attachment.
using MessageValues = ui::ParamFields;
// SMTP server and port, sender, POP3 server and port, user, password.
using ServerValues = ui::SettingsFields;

enum class RunMode {
    Send,  // items 1-5 are the message
    Conf,  // --conf: store settings for POP before SMTP
    Xcnf,  // --xcnf: store settings for SMTP AUTH
    Info,  // --info: show the stored settings
};

struct CommandLine {
    // The items processed plus one (at least 2: the text is not blank).
    long items = 0;
    // The first item as compared with the flags (narrowed, trimmed).
    std::string first_item;
    RunMode mode = RunMode::Send;
    // Filled in settings runs only.
    ServerValues server;
    std::string tls;        // the ninth item: the encryption setting
    std::string auth_mech;  // the tenth item: the authentication mechanism
    // Filled in the other runs only.
    MessageValues message;

    bool stores_settings() const { return mode == RunMode::Conf || mode == RunMode::Xcnf; }
};

// Splits the argument text. A blank text fails with "パラメータの指定に誤りがあります ".
Result<CommandLine> parse_command_line(std::string_view argument_text);

struct MailOptions {
    std::string from_name;
    std::string to_alias;
    std::string cc_alias;
    std::string reply_to;
    std::string debug_mode;
    std::string log_detail = "HDR";
    // Reports for aliases that were cleared; the run goes on.
    std::vector<std::string> complaints;
    bool protocol_logging() const;
};

using EnvLookup = std::function<std::optional<std::string>(const char* name)>;

// FROM_NAME, TO_ALIAS, CC_ALIAS, REPLY_TO and DEBUG_MODE. An alias holding
// full-width characters is cleared, with a complaint.
MailOptions read_env_options(const EnvLookup& env);

}  // namespace vlt::app
