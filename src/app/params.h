#pragma once
// The run's values: the parameter table filled from the command line and the
// stored settings, the mode flags, and the environment options.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/report.h"

namespace vlt::app {

// Slots of the parameter table. 0-5 hold the stored server settings, 6-12 the
// server values of the command line (later the values prepared for sending),
// 13-17 the message fields.
enum Slot : int {
    kSmtpServer = 0,
    kSmtpPort = 1,
    kPopServer = 2,
    kPopPort = 3,
    kUser = 4,
    kPassword = 5,
    kArgSmtpServer = 6,
    kArgSmtpPort = 7,
    kArgPopServer = 8,
    kArgPopPort = 9,
    kArgUser = 10,
    kArgPassword = 11,
    kArgFrom = 12,
    kTo = 13,
    kCc = 14,
    kSubject = 15,
    kBody = 16,
    kAttach = 17,
};

inline constexpr int kSlotCount = 18;

struct MailParams {
    std::array<std::string, kSlotCount> slots;
    std::string& operator[](int slot) { return slots[static_cast<std::size_t>(slot)]; }
    const std::string& operator[](int slot) const { return slots[static_cast<std::size_t>(slot)]; }
};

struct RunFlags {
    bool conf_mode = false;
    bool xcnf_mode = false;
    bool info_mode = false;
    bool use_smtp_auth = false;
    bool pop_login_done = false;
};

struct MailOptions {
    std::string from_name;
    std::string to_alias;
    std::string cc_alias;
    std::string reply_to;
    std::string debug_mode;
    std::string log_detail = "HDR";
    bool protocol_logging() const;
};

struct CommandLine {
    // 0 when the argument text is blank, otherwise the items processed plus one.
    long items = 0;
    // The first item as compared with the flags (narrowed, trimmed).
    std::string first_item;
    // The ninth item of a settings run: the encryption setting.
    std::string tls;
};

// Splits the argument text at commas into the table and sets the mode flags.
// Reports "パラメータの指定に誤りがあります " for a blank text.
CommandLine parse_command_line(std::string_view argument_text, MailParams& params, RunFlags& flags,
                               const ErrorReport& report);

using EnvLookup = std::function<std::optional<std::string>(const char* name)>;

// FROM_NAME, TO_ALIAS, CC_ALIAS, REPLY_TO and DEBUG_MODE. An alias holding
// full-width characters is cleared and reported; the run goes on.
MailOptions read_env_options(const EnvLookup& env, const ErrorReport& report);

}  // namespace vlt::app
