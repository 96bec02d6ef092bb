#pragma once
// The whole life of one run: read the command line, then exactly one path:
// show the usage text, store the settings, show the stored settings, or send
// one message. Every failure is reported to the error log; the result is the
// exit status (0 when the run did what was asked, 1 when it failed).

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/params.h"
#include "app/settings.h"
#include "common/log.h"
#include "common/report.h"
#include "net/session.h"
#include "ui/windows.h"

namespace vlt::app {

struct RunEnvironment {
    std::string argument_text;  // the arguments joined with single blanks
    EnvLookup env;
    std::string program_folder;
    std::string exe_name;  // without folder and extension
    ui::Windows* windows = nullptr;
    // Waits (the pause after the POP3 login, the password retry); empty sleeps for real.
    std::function<void(std::chrono::milliseconds)> sleep;
    net::SessionLimits limits;
    std::chrono::milliseconds param_countdown{180000};
    std::function<void(std::string_view)> print;  // standard output; empty uses stdout
};

// Everything the run reads and writes, in one place.
struct RunContext {
    explicit RunContext(RunEnvironment environment);

    RunEnvironment env;
    MailParams params;
    RunFlags flags;
    MailOptions options;
    ServerSettings settings;
    SettingsPaths paths;
    std::string boundary;
    std::string mailer_text;
    std::string usage_line1;
    std::string usage_line2;
    std::string usage_text;
    LogWriter log;
    ErrorReport report;
};

int run(RunContext& ctx);

// The usage text for an executable name (CR LF between lines, none at the end).
std::string usage_text(std::string_view exe_name);
std::string usage_line1(std::string_view exe_name);

inline constexpr const char* kCreditLine = "(C) The Vellumtide project";

}  // namespace vlt::app
