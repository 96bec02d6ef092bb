#include "ui/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "common/error_text.h"
#include "ui/internal.h"
#include "ui/windows.h"

namespace vlt::ui {

namespace {

// Switches echo off on a terminal for as long as it lives (the password).
// Meanwhile the signals that end a run from the keyboard (Ctrl-C and the
// like) are held back and reported through signal_fd(): the terminal gets its
// echo back first, and the held signal takes its usual effect when this
// object goes away.
class EchoOff {
  public:
    explicit EchoOff(int fd) : m_fd(fd) {
        if (isatty(fd) != 1 || tcgetattr(fd, &m_saved) != 0) return;
        sigset_t held;
        sigemptyset(&held);
        for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP}) sigaddset(&held, sig);
        m_holding = pthread_sigmask(SIG_BLOCK, &held, &m_old_mask) == 0;
        if (m_holding) m_signal_fd = signalfd(-1, &held, SFD_CLOEXEC | SFD_NONBLOCK);
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        m_active = tcsetattr(fd, TCSANOW, &quiet) == 0;
    }
    ~EchoOff() {
        if (m_active) tcsetattr(m_fd, TCSANOW, &m_saved);
        if (m_signal_fd >= 0) close(m_signal_fd);
        if (m_holding) pthread_sigmask(SIG_SETMASK, &m_old_mask, nullptr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

    int signal_fd() const { return m_signal_fd; }

  private:
    int m_fd;
    termios m_saved{};
    sigset_t m_old_mask{};
    bool m_active = false;
    bool m_holding = false;
    int m_signal_fd = -1;
};

// Milliseconds to wait in poll() before `deadline`: -1 without one, 0 once it passed.
int poll_timeout(std::optional<Clock::time_point> deadline) {
    if (!deadline) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
}

// A descriptor closed when it goes out of scope.
class OwnedFd {
  public:
    explicit OwnedFd(int fd) : m_fd(fd) {}
    ~OwnedFd() {
        if (m_fd >= 0) close(m_fd);
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

}  // namespace

Terminal::Terminal(int in_fd, int out_fd)
    : m_in(in_fd), m_out(out_fd), m_styled(isatty(out_fd) == 1) {}

bool Terminal::input_is_terminal() const {
    return isatty(m_in) == 1;
}

void Terminal::write(std::string_view text) const {
    while (!text.empty()) {
        const ssize_t n = ::write(m_out, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string Terminal::label(std::string_view text, bool bold) const {
    if (!bold || !m_styled) return std::string(text);
    return "\x1b[1m" + std::string(text) + "\x1b[0m";
}

ReadResult Terminal::read_line(std::string& line, std::optional<Clock::time_point> deadline,
                               int interrupt_fd) {
    for (;;) {
        if (const auto taken = take_buffered_line(line)) return *taken;
        const int timeout_ms = poll_timeout(deadline);
        if (timeout_ms == 0) return ReadResult::TimedOut;
        pollfd pfd[2] = {{m_in, POLLIN, 0}, {interrupt_fd, POLLIN, 0}};
        const int ready = ::poll(pfd, interrupt_fd >= 0 ? 2 : 1, timeout_ms);
        if (ready < 0) {
            if (errno != EINTR) m_end = true;
            continue;
        }
        if (ready == 0) continue;  // the deadline check above decides
        if (interrupt_fd >= 0 && (pfd[1].revents & POLLIN) != 0) return ReadResult::Interrupted;
        char chunk[4096];
        const ssize_t n = ::read(m_in, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            m_end = true;
            continue;
        }
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

ReadResult Terminal::read_secret(std::string_view prompt, std::string& line,
                                 std::optional<Clock::time_point> deadline) {
    // Leaving here gives the echo back; an interrupt typed meanwhile ends the
    // run only then.
    const EchoOff quiet(m_in);
    write(prompt);
    const ReadResult read = read_line(line, deadline, quiet.signal_fd());
    write("\n");
    return read;
}

void Terminal::discard_pending_input() const {
    if (input_is_terminal()) tcflush(m_in, TCIFLUSH);
}

bool stdin_is_terminal() {
    return isatty(STDIN_FILENO) == 1;
}

std::unique_ptr<Windows> make_standard_tty_windows(
    std::optional<std::chrono::milliseconds> countdown) {
    return make_tty_windows(STDIN_FILENO, STDOUT_FILENO, countdown);
}

Result<std::string> ask_terminal_password() {
    const OwnedFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (tty.get() < 0) {
        return Error(ErrorKind::Input, error_text_inline(runtime_error_from_errno(errno)));
    }
    Terminal terminal(tty.get(), tty.get());
    std::string line;
    if (terminal.read_secret("パスワード: ", line, std::nullopt) != ReadResult::Line) line.clear();
    return line;
}

}  // namespace vlt::ui
