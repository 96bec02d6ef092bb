#include "app/settings.h"

#include <array>
#include <filesystem>
#include <random>
#include <type_traits>

#include "common/error_text.h"
#include "common/files.h"
#include "common/text.h"
#include "encoding/base64.h"
#include "encoding/cp932.h"
#include "encoding/utf8.h"

namespace vlt::app {

namespace {

constexpr std::string_view kHeaderLine = "# <Vellumtide -- Config>";
// A settings file is a few hundred bytes; a larger one is not read.
constexpr std::uint64_t kMaxSettingsBytes = 64 * 1024;

// The 16-bit code page 932 codes of a text, one per character ("?" for a
// character the code page lacks).
std::vector<int> codes_of(std::string_view utf8) {
    std::vector<int> codes;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const int code = encoding::cp932_code(encoding::next_code_point(utf8, pos));
        codes.push_back(code < 0 ? '?' : code);
    }
    return codes;
}

// Appends the character of a code; a code outside the code page becomes U+30FB.
void append_code(std::string& out, int code) {
    char32_t cp = 0;
    if (code >= 0 && code <= 0xFFFF) cp = encoding::cp932_to_unicode(static_cast<unsigned>(code));
    if (cp == 0 && code != 0) cp = 0x30FB;
    encoding::append_utf8(out, cp);
}

// Codes to bytes: a code above 0xFF takes two bytes, high byte first.
std::string bytes_of(const std::vector<int>& codes) {
    std::string out;
    for (int code : codes) {
        if (code > 0xFF) out += static_cast<char>((code >> 8) & 0xFF);
        out += static_cast<char>(code & 0xFF);
    }
    return out;
}

// The code at `pos` (a lead byte and the byte after it form one code); moves past it.
int next_code(std::string_view bytes, std::size_t& pos) {
    const auto b = static_cast<std::uint8_t>(bytes[pos++]);
    if (!encoding::is_lead_byte(b) || pos >= bytes.size()) return b;
    return b << 8 | static_cast<std::uint8_t>(bytes[pos++]);
}

// The shift of the character at 1-based position i under key k.
int shift_at(int k, std::size_t i) {
    return k - static_cast<int>(i % 3);
}

std::vector<int> scramble(const std::vector<int>& plain, int k) {
    std::vector<int> out;
    out.reserve(plain.size() + 1);
    out.push_back('A' + k);
    for (std::size_t i = 0; i < plain.size(); ++i) out.push_back(plain[i] - shift_at(k, i + 1));
    return out;
}

unsigned draw_key(const std::function<unsigned()>& random) {
    if (random) return random() % 5;
    std::random_device device;
    return device() % 5;
}

// The file's bytes: empty when nothing is there; a file that is there but
// cannot be read fails with LoadSettings's report of its run-time error.
Result<std::string> settings_bytes(const std::string& path) {
    auto bytes = read_own_file(path, kMaxSettingsBytes);
    if (!bytes.ok()) {
        Error error = std::move(bytes).error();
        const auto number = static_cast<RuntimeError>(error.run_time_error);
        error.reports = {"エラーが発生しました。 \r\nデータ:\t" + error_text_inline(number)};
        return error;
    }
    return std::move(bytes).value().value_or(std::string());
}

// The settings kept under a key of their own, in the order the file lists
// them (the authentication style has its own line).
template <typename Settings>
auto stored_fields(Settings& s) {
    using Text = std::conditional_t<std::is_const_v<Settings>, const std::string, std::string>;
    return std::array<std::pair<const char*, Text*>, 9>{{
        {"SMTP_SERVER:", &s.smtp_server},
        {"SMTP_PORT:", &s.smtp_port},
        {"FROM:", &s.from},
        {"POP_SERVER:", &s.pop_server},
        {"POP_PORT:", &s.pop_port},
        {"MAIL_USER:", &s.user},
        {"MAIL_PASSWD:", &s.password},
        {"TLS:", &s.tls},
        {"AUTHMECH:", &s.auth_mech},
    }};
}

// The stored text of the older files (the later name wins); empty when
// there is none or it cannot be read.
std::string older_text(const SettingsPaths& paths) {
    std::string text;
    for (const std::string* older : {&paths.oldest, &paths.previous}) {
        auto bytes = read_own_file(*older, kMaxSettingsBytes);
        if (bytes.ok() && *bytes) text = std::move(**bytes);
    }
    return text;
}

void remove_older_files(const SettingsPaths& paths) {
    for (const std::string* older : {&paths.oldest, &paths.previous}) remove_own_file(*older);
}

// Older installations kept the settings under other names: their text is
// stored as the current file, and the older files go only once that file is
// written, flushed and reads back the same.
Result<std::string> migrate_older_files(const SettingsPaths& paths, const ReplaceOptions& store) {
    std::string text = older_text(paths);
    if (text.empty()) return text;
    VLT_TRY(replace_file(paths.current, text, store));
    auto back = read_own_file(paths.current, kMaxSettingsBytes);
    if (!back.ok() || !*back || **back != text) {
        return Error::on_file(static_cast<int>(RuntimeError::DeviceIo),
                              error_text_full(RuntimeError::DeviceIo), paths.current);
    }
    remove_older_files(paths);
    return text;
}

}  // namespace

SettingsPaths SettingsPaths::in_folder(const std::string& folder) {
    // The system's own separator, so that --info shows a path of one kind.
    constexpr char kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);
    std::string base = folder;
    if (!base.empty() && base.back() != '/' && base.back() != kSeparator) base += kSeparator;
    return {base + "vlt.sysdat", base + "TERNLOAD.DAT", base + "VLTSYS.DAT"};
}

std::string encode_settings_file(std::string_view plain, const std::function<unsigned()>& random) {
    const int k = 3 + static_cast<int>(draw_key(random));
    return encoding::base64_encode(bytes_of(scramble(codes_of(plain), k)));
}

std::string decode_settings_file(std::string_view file_text) {
    // Decoded code by code: the memory is the Base64-decoded bytes and the text.
    const std::string raw = encoding::base64_decode(file_text);
    std::string text;
    if (raw.empty()) return text;
    text.reserve(raw.size() + raw.size() / 2);
    std::size_t pos = 0;
    const int k = next_code(raw, pos) - 'A';
    for (std::size_t i = 1; pos < raw.size(); ++i)
        append_code(text, next_code(raw, pos) + shift_at(k, i));
    return text;
}

std::string settings_plain_text(const ServerSettings& s) {
    std::string text(kHeaderLine);
    text += "\r\n";
    text += "SMTP_XCONF:\t";
    text += s.use_smtp_auth ? "TRUE" : "FALSE";
    text += "\r\n";
    for (const auto& [key, value] : stored_fields(s)) {
        if (value->empty()) continue;
        text += key;
        text += '\t';
        text += *value;
        text += "\r\n";
    }
    return text;
}

ServerSettings parse_settings_text(std::string_view text) {
    ServerSettings s;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        std::string line(text.substr(start, end - start));
        start = end;
        for (char& c : line) {
            if (c == '\r' || c == '\n' || c == '\t') c = ' ';
        }
        line = trim(line);
        if (!line.empty() && line.front() == '#') line.clear();
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = to_upper_ascii(trim(line.substr(0, colon + 1)));
        const std::string value = trim(line.substr(colon + 1));
        if (key == "SMTP_XCONF:") {
            s.use_smtp_auth = to_upper_ascii(value) == "TRUE";
            continue;
        }
        for (const auto& [name, field] : stored_fields(s)) {
            if (key == name) *field = value;
        }
    }
    return s;
}

Status check_complete(const ServerSettings& s, std::string_view usage_line1) {
    std::string missing;
    if (s.smtp_server.empty()) missing += "SMTPSRV ";
    if (s.smtp_port.empty()) missing += "SMTPPORT ";
    if (s.from.empty()) missing += "FROM ";
    if (s.user.empty()) missing += "USER ";
    if (s.password.empty()) missing += "PASS ";
    if (missing.empty()) return {};
    return Error(ErrorKind::Config, "サーバ情報の設定が足りません。 " + missing + "（使用法：" +
                                        std::string(usage_line1) + "）");
}

std::string normalize_tls(std::string_view value) {
    const std::string upper = to_upper_ascii(value);
    if (upper.empty() || upper == "STARTTLS" || upper == "SSL") return upper;
    return std::string(value);
}

Status check_tls_setting(std::string_view value) {
    const std::string upper = to_upper_ascii(value);
    if (upper.empty() || upper == "STARTTLS" || upper == "SSL") return {};
    return Error(ErrorKind::Config, "暗号化の指定が正しくありません: " + std::string(value));
}

Result<std::string> stored_auth_mech(std::string_view value, bool use_smtp_auth) {
    const std::string upper = to_upper_ascii(value);
    if (upper.empty() || (use_smtp_auth && (upper == "XOAUTH2" || upper == "OAUTHBEARER"))) {
        return upper;
    }
    return Error(ErrorKind::Config, "認証機構の指定に誤りがあります。(" + std::string(value) + ")");
}

Result<ServerSettings> load_settings(const SettingsPaths& paths, std::string_view usage_line1,
                                     const ReplaceOptions& store) {
    VLT_TRY_ASSIGN(text, settings_bytes(paths.current));
    if (text.empty()) {
        VLT_TRY_ASSIGN(migrated, migrate_older_files(paths, store));
        text = std::move(migrated);
    } else {
        remove_older_files(paths);
    }
    if (text.empty()) return Error(ErrorKind::Config, "サーバ情報の設定がされていません。");
    ServerSettings s = parse_settings_text(decode_settings_file(text));
    VLT_TRY(check_complete(s, usage_line1));
    VLT_TRY(check_tls_setting(s.tls));
    s.tls = normalize_tls(s.tls);
    VLT_TRY_ASSIGN(mech, stored_auth_mech(s.auth_mech, s.use_smtp_auth));
    s.auth_mech = std::move(mech);
    return s;
}

Status save_settings(const SettingsPaths& paths, ServerSettings s, std::string_view usage_line1,
                     const std::function<unsigned()>& random, const ReplaceOptions& store) {
    for (std::string* field : {&s.smtp_server, &s.smtp_port, &s.from, &s.pop_server, &s.pop_port,
                               &s.user, &s.password, &s.tls, &s.auth_mech}) {
        *field = trim(*field);
    }
    VLT_TRY(check_complete(s, usage_line1));
    Status written =
        replace_file(paths.current, encode_settings_file(settings_plain_text(s), random), store);
    if (written.ok()) return {};
    Error& error = written.error();
    const std::string& why = error.reports.front();
    if (why == error_text_full(RuntimeError::FileNotFound) ||
        why == error_text_full(RuntimeError::PathNotFound)) {
        error.reports = {"定義ファイル　" + paths.current + "　がありません"};
    }
    return std::move(error);
}

Status check_storable(const ServerSettings& s) {
    for (const auto& [key, value] : stored_fields(s)) {
        if (value->find_first_of(std::string_view("\r\n\t\0", 4)) != std::string::npos) {
            return Error(ErrorKind::Config,
                         std::string("設定値に使用できない文字が含まれています。(") + key + ")");
        }
    }
    return {};
}

std::string settings_display_text(const ServerSettings& s) {
    std::string t = "現在設定されているサーバ情報　　（認証方式： ";
    t += s.use_smtp_auth ? "SMTP AUTH" : "POP before SMTP";
    t += "）\r\n\r\n";
    t += "  SMTPサーバ ： " + s.smtp_server + "　\r\n";
    t += "  SMTPポート ： " + s.smtp_port + "\r\n";
    t += "  送信元メールアドレス： " + s.from + "　\r\n";
    t += "  POP3サーバ ： " + s.pop_server + "　\r\n";
    t += "  POP3ポート ： " + s.pop_port + "\r\n";
    t += "  POP3ユーザ ： " + s.user;
    if (!s.tls.empty()) t += "\r\n  暗号化 ： " + s.tls;
    if (!s.auth_mech.empty()) t += "\r\n  認証機構 ： " + s.auth_mech;
    return t;
}

}  // namespace vlt::app
