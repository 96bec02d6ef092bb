// Vellumtide: sends one Japanese mail message per run through an SMTP server.
#include <csignal>
#include <cstdio>
#include <exception>

#include "app/platform.h"
#include "app/run.h"
#include "sysinfo/os_name.h"
#include "ui/windows.h"

namespace {

int run_process(int argc, char** argv) {
    const char* argv0 = argc > 0 ? argv[0] : nullptr;
    const std::string exe_name = vlt::app::executable_name(argv0);
    auto windows = vlt::ui::make_run_windows(exe_name);
    vlt::app::RunEnvironment env;
    env.argument_text = vlt::app::argument_text(argc, argv);
    env.env = vlt::app::environment_value;
    env.folders = vlt::app::run_folders(argv0);
    env.exe_name = exe_name;
    env.windows = windows.get();
    env.now = [] { return std::chrono::system_clock::now(); };
    env.os_name = vlt::sysinfo::local_os_name;

    vlt::app::RunContext ctx(std::move(env));
    return vlt::app::run(ctx);
}

// An exception that escaped the run itself (while its context was built, or
// while the run reported another one) still leaves an entry in the error log.
int report_escaped(int argc, char** argv, const std::exception_ptr& escaped) {
    try {
        const char* argv0 = argc > 0 ? argv[0] : nullptr;
        const vlt::LogWriter log(vlt::app::run_folders(argv0).logs,
                                 vlt::app::executable_name(argv0));
        const vlt::ErrorReport report(log);
        report.report(vlt::app::escaped_exception_report(escaped));
    } catch (...) {
        std::fputs("vellumtide: the run ended with an error that could not be logged\n", stderr);
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Passwords pass through this process: none may reach a core file or
    // another process of the user.
    vlt::app::protect_process_memory();
    // A write to a connection the server has closed must come back as an
    // error value, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run_process(argc, argv);
    } catch (...) {
        return report_escaped(argc, argv, std::current_exception());
    }
}
