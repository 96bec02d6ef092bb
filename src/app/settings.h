#pragma once
// The settings file: the server settings stored once by a settings run and
// read back by every sending run.
//
// The file holds a short key/value text, scrambled character by character
// and Base64-encoded, so that the password is not readable at a glance. It is
// written readable and writable by its owner only.

#include <functional>
#include <string>
#include <string_view>

#include "app/params.h"
#include "common/report.h"

namespace vlt::app {

// The stored view of the settings (the fields live in the parameter table
// slots 0-5 and the flags; the sender address and the encryption are texts of
// their own).
struct ServerSettings {
    bool use_smtp_auth = false;
    std::string smtp_server;
    std::string smtp_port;
    std::string from;
    std::string pop_server;
    std::string pop_port;
    std::string user;
    std::string password;
    std::string tls;  // "", "STARTTLS" or "SSL"
};

struct SettingsPaths {
    std::string current;   // vlt.sysdat
    std::string oldest;    // TERNLOAD.DAT
    std::string previous;  // VLTSYS.DAT
    static SettingsPaths in_folder(const std::string& folder);
};

// Scrambles ("ENC") or unscrambles ("DEC") a settings text. `random` draws
// the key letter D-H (0-4); empty uses a random source.
std::string crypt_settings(std::string_view mode, std::string_view text,
                           const std::function<unsigned()>& random = {});

// The plain settings text (before scrambling).
std::string settings_plain_text(const ServerSettings& s);
// Fills `s` from a plain settings text.
void parse_settings_text(std::string_view text, ServerSettings& s);

// The report for missing items, or empty when nothing is missing.
std::string missing_settings_report(const ServerSettings& s, std::string_view usage_line1);
// The report for an encryption value other than STARTTLS or SSL, or empty.
std::string tls_setting_report(std::string_view value);
// The encryption value as stored: capitals, or unchanged when not valid.
std::string normalize_tls(std::string_view value);

// Reads the settings (migrating the older files first) and checks them.
// Reports its own failures and returns false then.
bool load_settings(const SettingsPaths& paths, ServerSettings& s, std::string_view usage_line1,
                   const ErrorReport& report);

// Trims and checks the settings, then writes the file. Reports its own
// failures and returns false then.
bool save_settings(const SettingsPaths& paths, ServerSettings& s, std::string_view usage_line1,
                   const ErrorReport& report, const std::function<unsigned()>& random = {});

// The report for a value holding CR, LF, a tab or NUL, which would break the
// file's lines; empty when every value can be stored.
std::string unstorable_value_report(const ServerSettings& s);

// The text shown for the stored settings.
std::string settings_display_text(const ServerSettings& s);

}  // namespace vlt::app
