#pragma once
// Helpers shared by the dialogue tests of the SMTP and POP3 sessions and of
// whole runs: the socket session's report texts.

#include <chrono>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "net/error_texts.h"
#include "support/script_server.h"

namespace vlt::test {

using Lines = std::vector<std::string>;
using Reports = std::vector<std::string>;

// Shows a table row by its name in test output.
template <typename Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

inline std::string cmd_send(std::string_view text) {
    return "WinSockCmdSend: " + std::string(text);
}

// The report of a connect that failed with Windows Sockets code `code`
// (10061: nothing listens on the port).
inline std::string connect_failed(int code = 10061) {
    return "WinSockManager: " + net::winsock_error_text(code);
}

// The two reports of a command the server refused.
inline Reports refused(std::string_view name, std::string_view quoted) {
    return {cmd_send(std::string(name) + "：サーバにコマンドを拒否されました。"),
            cmd_send(" (" + std::string(quoted) + ")")};
}

// A fixed clock for transcript stamps: 2026-12-07 10:31:05 UTC, stamped
// ">>31:05>> " in any time zone on whole hours.
inline std::chrono::system_clock::time_point fixed_time() {
    using namespace std::chrono;
    return sys_days{year{2026} / 12 / 7} + hours{10} + minutes{31} + seconds{5};
}
inline constexpr std::string_view kStamp = ">>31:05>> ";

inline Reports joined(Reports a, const Reports& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace vlt::test
