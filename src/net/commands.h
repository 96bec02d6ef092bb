#pragma once
// The commands the sessions send, with the name used in reports and the
// reply codes each accepts.

#include <array>
#include <string_view>

namespace vlt::net {

enum class CommandId {
    Helo = 0,
    MailFrom = 1,
    RcptTo = 2,
    Data = 3,
    DataContent = 4,
    Quit = 5,
    Ehlo = 6,
    Auth = 7,      // AUTH PLAIN / AUTH LOGIN command line
    AuthData = 8,  // a credentials line: masked in the transcript
    StartTls = 9,
    PopUser = 10,
    PopPass = 11,
    PopStat = 12,
    PopStls = 13,
    PopQuit = 18,
};

struct CommandRow {
    CommandId id;
    std::string_view display_name;  // as used in the reports
    std::array<int, 3> accepted;    // SMTP codes; POP3 rows use 1 for "+OK"; 0 = unused
};

// The row for `id`.
const CommandRow& command_row(CommandId id);

// True when `code` is among the row's accepted codes.
bool accepts(const CommandRow& row, int code);

}  // namespace vlt::net
