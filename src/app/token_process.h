#pragma once
// The process behind a token command: one command line run through the
// system's shell, its standard output collected.
//
// Each system has its own file: token_process_posix.cpp runs /bin/sh -c in a
// process group of its own. The command reads nothing (its standard input is
// at its end from the start) and its standard error is this process's. At the
// time limit the whole process group is ended, so that nothing the command
// started lives on. Nothing here fails as an Error: the outcome says what
// happened and the caller words it.

#include <chrono>
#include <cstddef>
#include <string>

namespace vlt::app {

struct CommandRun {
    enum class Outcome {
        Exited,      // the command ended by itself; `status` holds its exit status
        NotStarted,  // no process could be made or the shell could not be run
        TimedOut,    // still running at the limit: its process group was ended
    };
    Outcome outcome = Outcome::NotStarted;
    // The exit status; 128 + the signal number for a command ended by a signal.
    int status = 0;
    // Standard output as printed, up to kCommandOutputLimit octets (the rest is read
    // and dropped, so the command never waits on a full pipe).
    std::string output;
};

inline constexpr std::size_t kCommandOutputLimit = 64 * 1024;

// Runs `command` and waits until it ends or `limit` has passed. When the
// command ends while something it started still holds its standard output,
// what is there so far is its output.
CommandRun run_shell_command(const std::string& command, std::chrono::milliseconds limit);

}  // namespace vlt::app
