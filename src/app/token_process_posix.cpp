// The token command on POSIX systems: /bin/sh -c in a process group of its
// own, made by posix_spawn (which calls setpgid in the child before the shell
// starts, so the group exists before this process can signal it).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <thread>

#include "app/token_process.h"

extern char** environ;

namespace vlt::app {

namespace {

using Clock = std::chrono::steady_clock;

// How long one wait for output or for the end of the command lasts before the
// other is looked at again.
constexpr std::chrono::milliseconds kStep{20};

// Both ends of a pipe, closed when it goes.
class Pipe {
  public:
    Pipe() {
        if (::pipe2(m_fds.data(), O_CLOEXEC) != 0) m_fds = {-1, -1};
    }
    ~Pipe() {
        close_read();
        close_write();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool ok() const { return m_fds[0] >= 0; }
    int read_end() const { return m_fds[0]; }
    int write_end() const { return m_fds[1]; }
    void close_read() { close_one(m_fds[0]); }
    void close_write() { close_one(m_fds[1]); }

  private:
    static void close_one(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    std::array<int, 2> m_fds{-1, -1};
};

// The attributes and file actions of the spawn, released when it goes.
class SpawnSetup {
  public:
    explicit SpawnSetup(int output_fd) {
        m_actions_made = ::posix_spawn_file_actions_init(&m_actions) == 0;
        m_attr_made = ::posix_spawnattr_init(&m_attr) == 0;
        if (!m_actions_made || !m_attr_made) return;
        // Standard input at its end from the start; standard output into the pipe.
        m_ok = ::posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
               ::posix_spawn_file_actions_adddup2(&m_actions, output_fd, 1) == 0;
        // Its own process group, no blocked signals, SIGPIPE back to its default
        // (this program ignores it for its sockets).
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        m_ok = m_ok && ::posix_spawnattr_setpgroup(&m_attr, 0) == 0 &&
               ::posix_spawnattr_setsigmask(&m_attr, &none) == 0 &&
               ::posix_spawnattr_setsigdefault(&m_attr, &defaults) == 0 &&
               ::posix_spawnattr_setflags(&m_attr, flags) == 0;
    }
    ~SpawnSetup() {
        if (m_actions_made) ::posix_spawn_file_actions_destroy(&m_actions);
        if (m_attr_made) ::posix_spawnattr_destroy(&m_attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool ok() const { return m_ok; }
    const posix_spawn_file_actions_t* actions() const { return &m_actions; }
    const posix_spawnattr_t* attributes() const { return &m_attr; }

  private:
    posix_spawn_file_actions_t m_actions{};
    posix_spawnattr_t m_attr{};
    bool m_actions_made = false;
    bool m_attr_made = false;
    bool m_ok = false;
};

// Reads what the pipe holds now into `output` (up to the limit; the rest is
// dropped). False once the pipe is at its end or broken.
bool read_available(int fd, std::string& output) {
    std::array<char, 4096> buffer;
    while (true) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got > 0) {
            const auto count = static_cast<std::size_t>(got);
            const std::size_t room =
                kCommandOutputLimit - std::min(output.size(), kCommandOutputLimit);
            output.append(buffer.data(), std::min(room, count));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// The exit status of a finished command; a signal counts as 128 + its number,
// as shells report it.
int status_of(int wait_status) {
    if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
    return -1;
}

// Whether the command has ended; reaps it then.
bool has_ended(pid_t pid, int& wait_status) {
    while (true) {
        const pid_t done = ::waitpid(pid, &wait_status, WNOHANG);
        if (done == pid) return true;
        if (done < 0 && errno == EINTR) continue;
        // ECHILD would mean someone else reaped it: it has ended all the same.
        return done < 0;
    }
}

void wait_for_output(int fd, Clock::duration left) {
    const auto step = std::min<Clock::duration>(left, kStep);
    const int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(step).count());
    if (fd < 0) {
        std::this_thread::sleep_for(step);
        return;
    }
    pollfd watched{fd, POLLIN, 0};
    ::poll(&watched, 1, ms);
}

// Ends the command's whole process group and reaps the command.
void end_group(pid_t pid) {
    ::kill(-pid, SIGKILL);
    int wait_status = 0;
    while (::waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

CommandRun run_shell_command(const std::string& command, std::chrono::milliseconds limit) {
    CommandRun run;
    Pipe pipe;
    if (!pipe.ok()) return run;
    SpawnSetup setup(pipe.write_end());
    if (!setup.ok()) return run;

    std::string shell_command = command;
    char shell[] = "/bin/sh";
    char name[] = "sh";
    char option[] = "-c";
    char* argv[] = {name, option, shell_command.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, shell, setup.actions(), setup.attributes(), argv, environ) != 0) {
        return run;
    }
    pipe.close_write();
    ::fcntl(pipe.read_end(), F_SETFL, ::fcntl(pipe.read_end(), F_GETFL) | O_NONBLOCK);

    const auto deadline = Clock::now() + limit;
    bool reading = true;
    int wait_status = 0;
    while (true) {
        if (reading) reading = read_available(pipe.read_end(), run.output);
        if (has_ended(pid, wait_status)) {
            // What it printed before it ended; a leftover holder of the pipe
            // is not waited for.
            if (reading) read_available(pipe.read_end(), run.output);
            run.outcome = CommandRun::Outcome::Exited;
            run.status = status_of(wait_status);
            return run;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            end_group(pid);
            run.outcome = CommandRun::Outcome::TimedOut;
            return run;
        }
        wait_for_output(reading ? pipe.read_end() : -1, left);
    }
}

}  // namespace vlt::app
