#pragma once
// Sample settings and a folder listing shared by the settings tests.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/settings.h"

namespace vlt::app::testing {

inline ServerSettings sample(bool smtp_auth) {
    ServerSettings s;
    s.use_smtp_auth = smtp_auth;
    s.smtp_server = "smtp.example.com";
    s.smtp_port = "587";
    s.from = "me@example.com";
    s.pop_server = smtp_auth ? "" : "pop.example.com";
    s.user = "user";
    s.password = "p#ss:word";
    return s;
}

inline bool same(const ServerSettings& a, const ServerSettings& b) {
    return a.use_smtp_auth == b.use_smtp_auth && a.smtp_server == b.smtp_server &&
           a.smtp_port == b.smtp_port && a.from == b.from && a.pop_server == b.pop_server &&
           a.pop_port == b.pop_port && a.user == b.user && a.password == b.password &&
           a.tls == b.tls && a.auth_mech == b.auth_mech;
}

inline std::vector<std::string> folder_names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace vlt::app::testing
