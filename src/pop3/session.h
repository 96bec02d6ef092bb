#pragma once
// The POP-before-SMTP login: USER, PASS (one retry after 5 seconds when the
// mailbox is locked), STAT, QUIT over the shared socket session, with its
// transcript written to the protocol log when protocol logging is on.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"
#include "common/result.h"
#include "net/session.h"

namespace vlt::pop3 {

// The steps of the login, in order; step_name() names them.
enum class PopStep {
    Connect,  // connect, TLS, greeting
    Stls,     // STLS and the handshake, when asked
    User,
    Pass,  // PASS, and its retry after a locked mailbox
    Stat,
    Quit,
};

std::string_view step_name(PopStep step);

struct PopRequest {
    std::string server;
    std::string port;
    std::string user;
    std::string password;
    net::TlsMode tls = net::TlsMode::None;
    bool protocol_logging = false;
    net::SessionLimits limits;
    net::YieldHook yield;
    // Waits before the password retry; empty sleeps for real.
    std::function<void(std::chrono::milliseconds)> sleep;
    // The clock of the transcript stamps; empty reads the system clock.
    std::function<std::chrono::system_clock::time_point()> now;
    // Told each step as the login enters it; may be empty.
    std::function<void(PopStep)> on_step;
};

struct PopLogin {
    // Reports of the login that did not stop it (a locked mailbox that
    // opened on the retry), for the error log.
    std::vector<std::string> warnings;
};

// Succeeds only when the whole dialogue, QUIT included, succeeded.
Result<PopLogin> pop_session(const PopRequest& request, const LogWriter& log);

}  // namespace vlt::pop3
