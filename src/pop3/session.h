#pragma once
// The POP-before-SMTP login: USER, PASS (one retry after 5 seconds when the
// mailbox is locked), STAT, QUIT over the shared socket session, with its
// transcript written to the protocol log when protocol logging is on.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/result.h"
#include "net/session.h"

namespace vlt::pop3 {

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
};

struct PopLogin {
    // Reports of the login that did not stop it (a locked mailbox that
    // opened on the retry), for the error log.
    std::vector<std::string> warnings;
};

// Succeeds only when the whole dialogue, QUIT included, succeeded.
Result<PopLogin> pop_session(const PopRequest& request, const LogWriter& log);

}  // namespace vlt::pop3
