#pragma once
// The commands the sessions send (and the greetings they read), with the name
// used in reports and what each reply code means.
//
// A reply's verdict is decided here and nowhere else: a code in `accepted`
// lets the conversation go on, the row's `stop` code is accepted but ends the
// step it belongs to (a 502 to an AUTH step: the server offers no
// authentication after all), any other code is a refusal. Greeting rows also
// want the final line to hold text after its code ("220 " / "+OK "): a bare
// "220" or "+OK" line is refused.

#include <array>
#include <string_view>

#include "net/reply.h"

namespace vlt::net {

// In table order (commands.cpp).
enum class CommandId {
    Helo,
    MailFrom,
    RcptTo,
    Data,
    DataContent,
    Quit,
    Ehlo,
    Auth,         // AUTH PLAIN / AUTH LOGIN, or an answer that carries no credential
    AuthData,     // a credentials line: masked in the transcript
    AuthInitial,  // AUTH with the credentials on the line: the credentials masked
    StartTls,
    PopUser,
    PopPass,
    PopStat,
    PopStls,
    PopQuit,
    SmtpGreeting,
    PopGreeting,
    Unknown,  // a stray number cast to an id: accepts nothing
};

enum class Verdict { Accepted, Stop, Refused };

struct CommandRow {
    CommandId id;
    std::string_view display_name;  // as used in the reports
    std::array<int, 2> accepted;    // SMTP codes; POP3 rows use 1 for "+OK"; 0 = unused
    int stop = 0;                   // accepted, and ends the step; 0 = none
    bool greeting = false;          // the final line must hold text after the code
};

// The row for `id`.
const CommandRow& command_row(CommandId id);

// What `reply` means as the answer to `row`'s command.
Verdict judge(const CommandRow& row, LineProtocol protocol, const Reply& reply);

}  // namespace vlt::net
