// Vellumtide: sends one Japanese mail message per run through an SMTP server.
#include <csignal>

#include "app/platform.h"
#include "app/run.h"
#include "ui/windows.h"

int main(int argc, char** argv) {
    // A write to a connection the server has closed must come back as an
    // error value, not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    const char* argv0 = argc > 0 ? argv[0] : nullptr;
    const std::string exe_name = vlt::app::executable_name(argv0);
    auto windows = vlt::ui::make_run_windows(exe_name);
    vlt::app::RunEnvironment env;
    env.argument_text = vlt::app::argument_text(argc, argv);
    env.env = vlt::app::environment_value;
    env.program_folder = vlt::app::program_folder(argv0);
    env.exe_name = exe_name;
    env.windows = windows.get();

    vlt::app::RunContext ctx(std::move(env));
    return vlt::app::run(ctx);
}
