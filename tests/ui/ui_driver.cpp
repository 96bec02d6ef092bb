// Shows one window through the windows module and prints what came back, so
// that the window tests can drive the windows without the rest of the program.
//
//   ui_driver MODE WINDOW [name=value ...]
//     MODE    gui, tty, none, or auto (the mode the program would choose)
//     WINDOW  message, params, settings, password (the terminal password
//             prompt: outcome Stored or Failed), or mode (print the chosen
//             mode only)
//     values  to cc subject body attach; smtp_server smtp_port from pop_server
//             pop_port user password; text wide=1 (message); settings_text
//             (the server information of the re-entry window); exe (the
//             executable name in the message window's caption); out=PATH
//             (write the result there instead of standard output).
//             "\n", "\r", "\t" and "\\" in a value stand for LF, CR, a tab and
//             a backslash.
//
// The result is one JSON line: {"mode":..,"outcome":..,"elapsed_ms":..,"fields":{..}}.

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/windows.h"

namespace {

using vlt::ui::FormOutcome;
using vlt::ui::UiMode;

std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == 'n' || next == 'r' || next == 't' || next == '\\') {
                out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : '\\';
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

const char* mode_name(UiMode mode) {
    switch (mode) {
        case UiMode::Gui:
            return "gui";
        case UiMode::Tty:
            return "tty";
        case UiMode::None:
            return "none";
    }
    return "?";
}

const char* outcome_name(FormOutcome outcome) {
    switch (outcome) {
        case FormOutcome::Stored:
            return "Stored";
        case FormOutcome::Closed:
            return "Closed";
        case FormOutcome::TimedOut:
            return "TimedOut";
    }
    return "?";
}

int usage() {
    std::fputs(
        "usage: ui_driver gui|tty|none|auto message|params|settings|password|mode "
        "[name=value ...]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string mode_arg = argv[1];
    const std::string window = argv[2];
    std::map<std::string, std::string> values;
    for (int i = 3; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto eq = arg.find('=');
        if (eq == std::string_view::npos) return usage();
        values[std::string(arg.substr(0, eq))] = unescape(arg.substr(eq + 1));
    }
    auto value = [&values](const std::string& name) {
        const auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    };

    UiMode mode = UiMode::None;
    if (mode_arg == "gui") {
        mode = UiMode::Gui;
    } else if (mode_arg == "tty") {
        mode = UiMode::Tty;
    } else if (mode_arg == "auto") {
        mode = vlt::ui::choose_mode();
    } else if (mode_arg != "none") {
        return usage();
    }

    std::vector<std::pair<std::string, std::string>> fields;
    std::string outcome = "Shown";
    const auto start = std::chrono::steady_clock::now();
    if (window == "mode") {
        outcome = "None";
    } else if (window == "password") {
        auto password = vlt::ui::ask_terminal_password();
        outcome = password ? "Stored" : "Failed";
        if (password) {
            fields = {{"password", *password}};
        } else {
            fields = {{"error", password.error().reports.at(0)}};
        }
    } else {
        const std::string exe = values.count("exe") ? value("exe") : "ui_driver";
        auto windows = vlt::ui::make_windows(mode, exe);
        if (window == "message") {
            windows->show_message(value("text"), value("wide") == "1");
        } else if (window == "params") {
            vlt::ui::ParamFields f{value("to"), value("cc"), value("subject"), value("body"),
                                   value("attach")};
            vlt::ui::ParamWindowOptions options;
            if (values.count("settings_text")) {
                const std::string text = value("settings_text");
                options.settings_text = [text] { return text; };
            }
            outcome = outcome_name(windows->edit_params(f, options));
            fields = {{"to", f.to},
                      {"cc", f.cc},
                      {"subject", f.subject},
                      {"body", f.body},
                      {"attach", f.attach}};
        } else if (window == "settings") {
            vlt::ui::SettingsFields f{value("smtp_server"), value("smtp_port"), value("from"),
                                      value("pop_server"),  value("pop_port"),  value("user"),
                                      value("password")};
            outcome = outcome_name(windows->edit_settings(f));
            fields = {{"smtp_server", f.smtp_server}, {"smtp_port", f.smtp_port}, {"from", f.from},
                      {"pop_server", f.pop_server},   {"pop_port", f.pop_port},   {"user", f.user},
                      {"password", f.password}};
        } else {
            return usage();
        }
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);

    std::string json = "{\"mode\":" + json_string(mode_name(mode)) +
                       ",\"outcome\":" + json_string(outcome) +
                       ",\"elapsed_ms\":" + std::to_string(elapsed.count()) + ",\"fields\":{";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) json += ',';
        json += json_string(fields[i].first) + ":" + json_string(fields[i].second);
    }
    json += "}}\n";

    const std::string out_path = value("out");
    std::FILE* out = out_path.empty() ? stdout : std::fopen(out_path.c_str(), "w");
    if (out == nullptr) return 1;
    std::fwrite(json.data(), 1, json.size(), out);
    if (out != stdout) std::fclose(out);
    return 0;
}
