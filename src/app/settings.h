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

#include "common/files.h"
#include "common/result.h"

namespace vlt::app {

// The settings as stored: the authentication style, the seven server values,
// the encryption and the authentication mechanism.
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
    // "" (PLAIN or LOGIN as the server offers), "XOAUTH2" or "OAUTHBEARER". With
    // an OAuth mechanism the password is the command that prints an access token.
    std::string auth_mech;
};

struct SettingsPaths {
    std::string current;   // vlt.sysdat
    std::string oldest;    // TERNLOAD.DAT
    std::string previous;  // VLTSYS.DAT
    static SettingsPaths in_folder(const std::string& folder);
};

// The text stored in the file: the plain text as code page 932 bytes,
// scrambled under a key letter D-H and Base64-encoded. `random` draws the key
// (0-4); empty uses a random source.
std::string encode_settings_file(std::string_view plain,
                                 const std::function<unsigned()>& random = {});
// The plain text of a stored file text.
std::string decode_settings_file(std::string_view file_text);

// The plain settings text (before scrambling).
std::string settings_plain_text(const ServerSettings& s);
// The settings a plain settings text holds.
ServerSettings parse_settings_text(std::string_view text);

// Fails with the report naming the missing items.
Status check_complete(const ServerSettings& s, std::string_view usage_line1);
// Fails for an encryption value other than STARTTLS or SSL (any case) or empty.
Status check_tls_setting(std::string_view value);
// The encryption value as stored: capitals, or unchanged when not valid.
std::string normalize_tls(std::string_view value);
// The mechanism as stored (capitals). Fails with "認証機構の指定に誤りがあります。("
// + value + ")" for a value other than XOAUTH2 or OAUTHBEARER (any case) or
// empty, and for any value at all in the POP before SMTP style.
Result<std::string> stored_auth_mech(std::string_view value, bool use_smtp_auth);
// Fails for a value holding CR, LF, a tab or NUL, which would break the
// file's lines.
Status check_storable(const ServerSettings& s);

// Reads the settings and checks them. Without a current file the older files
// are migrated first. A file that is there but cannot be read (no permission,
// a link or not an ordinary file, over 64 KiB) fails with "エラーが発生しました。 "
// CR LF "データ:" tab and the inline standard error text of its run-time error.
// `store` is used for the migrated file.
Result<ServerSettings> load_settings(const SettingsPaths& paths, std::string_view usage_line1,
                                     const ReplaceOptions& store = {});

// Trims and checks the settings, then replaces the file (replace_file), the
// previous one kept as the backup.
Status save_settings(const SettingsPaths& paths, ServerSettings s, std::string_view usage_line1,
                     const std::function<unsigned()>& random = {},
                     const ReplaceOptions& store = {});

// The text shown for the stored settings.
std::string settings_display_text(const ServerSettings& s);

}  // namespace vlt::app
