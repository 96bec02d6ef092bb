#pragma once
// The whole life of one run: read the command line, then exactly one path:
// show the usage text, store the settings, show the stored settings, or send
// one message. Every failure is reported to the error log; the result is the
// exit status (0 when the run did what was asked, 1 when it failed).

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "app/params.h"
#include "app/platform.h"
#include "app/settings.h"
#include "common/log.h"
#include "common/report.h"
#include "net/session.h"
#include "ui/windows.h"

namespace vlt::app {

// What the run takes from the process and the machine. main supplies the real
// services; tests supply their own.
struct RunEnvironment {
    std::string argument_text;  // the arguments joined with single blanks
    EnvLookup env;
    RunFolders folders;    // of the settings file and of the logs
    std::string exe_name;  // without folder and extension
    ui::Windows* windows = nullptr;
    // Waits (the pause after the POP3 login, the password retry); empty sleeps for real.
    std::function<void(std::chrono::milliseconds)> sleep;
    // The time of the message Date, the boundary and every log stamp; empty
    // reads the system clock.
    LogWriter::Now now;
    // The operating-system name of the X-Mailer header; empty asks the machine.
    std::function<std::string()> os_name;
    net::SessionLimits limits;
    std::chrono::milliseconds param_countdown{180000};
    // The time the token command of an OAuth sign-in may take.
    std::chrono::milliseconds token_limit{60000};
    std::function<void(std::string_view)> print;  // standard output; empty uses stdout
    // The password of a settings run whose password item is "-"; empty reads
    // it from outside the command line (password_from_outside).
    std::function<Result<std::string>()> read_password;
};

// Everything one run reads and writes.
struct RunContext {
    explicit RunContext(RunEnvironment environment);

    // Given: the environment and what follows from it alone.
    RunEnvironment env;
    SettingsPaths paths;
    std::string usage_line1;
    LogWriter log;
    ErrorReport report;

    // Written once by the step named.
    CommandLine line;         // reading the argument text
    MailOptions options;      // reading the environment options (sending runs)
    ServerSettings settings;  // loading the settings (sending runs)
};

// Runs and returns the exit status. An exception that reaches it is reported
// (escaped_exception_report) and ends the run with status 1.
int run(RunContext& ctx);

// The report for an exception that reached the top of a run: the error report
// of run-time error 7 for an allocation failure, of run-time error 5 for
// anything else.
std::string escaped_exception_report(const std::exception_ptr& escaped);

// The usage text for an executable name (CR LF between lines, none at the end).
std::string usage_text(std::string_view exe_name);
std::string usage_line1(std::string_view exe_name);

inline constexpr const char* kCreditLine = "(C) The Vellumtide project";

}  // namespace vlt::app
