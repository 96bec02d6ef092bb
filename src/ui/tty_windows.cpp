#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <optional>
#include <span>
#include <string>

#include "ui/internal.h"

namespace vlt::ui {

namespace {

using Clock = std::chrono::steady_clock;

enum class ReadResult { Line, End, TimedOut, Interrupted };

// Line input from a descriptor with an optional deadline, and plain output.
// End of input is remembered: every later read ends at once.
class Terminal {
  public:
    Terminal(int in_fd, int out_fd) : m_in(in_fd), m_out(out_fd), m_styled(isatty(out_fd) == 1) {}

    bool input_is_terminal() const { return isatty(m_in) == 1; }

    void write(std::string_view text) const {
        while (!text.empty()) {
            const ssize_t n = ::write(m_out, text.data(), text.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            text.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    // A label as the window shows it: bold labels mark the required fields.
    std::string label(std::string_view text, bool bold) const {
        if (!bold || !m_styled) return std::string(text);
        return "\x1b[1m" + std::string(text) + "\x1b[0m";
    }

    // `interrupt_fd`, when given, is polled too: readable means the user asked
    // to stop (see EchoOff).
    ReadResult read_line(std::string& line, std::optional<Clock::time_point> deadline,
                         int interrupt_fd = -1) {
        for (;;) {
            if (const auto eol = m_buffer.find('\n'); eol != std::string::npos) {
                line.assign(m_buffer, 0, eol);
                m_buffer.erase(0, eol + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return ReadResult::Line;
            }
            if (m_end) {
                if (m_buffer.empty()) return ReadResult::End;
                line = std::move(m_buffer);
                m_buffer.clear();
                return ReadResult::Line;
            }
            int timeout_ms = -1;
            if (deadline) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
                if (left.count() <= 0) return ReadResult::TimedOut;
                timeout_ms = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
            }
            pollfd pfd[2] = {{m_in, POLLIN, 0}, {interrupt_fd, POLLIN, 0}};
            const int ready = ::poll(pfd, interrupt_fd >= 0 ? 2 : 1, timeout_ms);
            if (ready < 0) {
                if (errno == EINTR) continue;
                m_end = true;
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

    // Drops what was typed but not yet read, so that it does not reach the
    // shell after the run ends.
    void discard_pending_input() const {
        if (input_is_terminal()) tcflush(m_in, TCIFLUSH);
    }

    int input_fd() const { return m_in; }

  private:
    int m_in;
    int m_out;
    bool m_styled;
    std::string m_buffer;
    bool m_end = false;
};

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

enum class FieldKind { Line, Secret, Lines };

// One prompt: the window's label without its colon, whether the label is bold
// (required), and the value being edited.
struct Field {
    const char* label;
    bool bold;
    FieldKind kind;
    std::string* value;
};

long utf8_length(std::string_view text) {
    long count = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}

class TtyWindows final : public Windows {
  public:
    TtyWindows(int in_fd, int out_fd, std::optional<std::chrono::milliseconds> countdown)
        : m_terminal(in_fd, out_fd), m_countdown(countdown) {}

    void show_message(std::string_view text, bool /*wide*/) override {
        m_terminal.write(printable_message(text));
    }

    FormOutcome edit_params(ParamFields& fields, const ParamWindowOptions& options) override {
        ParamFields edited = fields;
        Field prompts[] = {
            {"To", true, FieldKind::Line, &edited.to},
            {"Cc", false, FieldKind::Line, &edited.cc},
            {"Subject", true, FieldKind::Line, &edited.subject},
            {"Message", true, FieldKind::Lines, &edited.body},
            {"Attach", false, FieldKind::Line, &edited.attach},
        };
        const auto deadline = Clock::now() + m_countdown.value_or(options.countdown);
        const FormOutcome outcome = run_form(prompts, deadline, &options.settings_text);
        if (outcome == FormOutcome::Stored) fields = std::move(edited);
        return outcome;
    }

    FormOutcome edit_settings(SettingsFields& fields) override {
        SettingsFields edited = fields;
        Field prompts[] = {
            {"SMTP Server", true, FieldKind::Line, &edited.smtp_server},
            {"Port", true, FieldKind::Line, &edited.smtp_port},
            {"From", true, FieldKind::Line, &edited.from},
            {"POP Server", true, FieldKind::Line, &edited.pop_server},
            {"Port", false, FieldKind::Line, &edited.pop_port},
            {"User", true, FieldKind::Line, &edited.user},
            {"Password", true, FieldKind::Secret, &edited.password},
        };
        const FormOutcome outcome = run_form(prompts, std::nullopt, nullptr);
        if (outcome == FormOutcome::Stored) fields = std::move(edited);
        return outcome;
    }

    void pump() override {}

  private:
    // The prompts of one window, then the confirmation. With a deadline every
    // prompt shows the seconds left, and running out ends the form at once.
    FormOutcome run_form(std::span<Field> fields, std::optional<Clock::time_point> deadline,
                         const std::function<std::string()>* settings_text) {
        m_terminal.write(input_caption() + "\n" + kInstruction + "\n");
        for (Field& field : fields) {
            show_time_left(deadline);
            if (!ask(field, deadline)) return timed_out();
        }
        const std::string question =
            settings_text && *settings_text
                ? std::string(kOkButton) + " [y/n/s=" + kServerInfoButton + "]: "
                : std::string(kOkButton) + " [y/n]: ";
        for (;;) {
            show_time_left(deadline);
            m_terminal.write(question);
            std::string answer;
            const ReadResult read = m_terminal.read_line(answer, deadline);
            if (read == ReadResult::TimedOut) return timed_out();
            if (read == ReadResult::End) {
                m_terminal.write("\n");
                return FormOutcome::Closed;
            }
            if (answer == "y" || answer == "Y" || answer == "yes") return FormOutcome::Stored;
            if (answer == "n" || answer == "N" || answer == "no") return FormOutcome::Closed;
            if ((answer == "s" || answer == "S") && settings_text && *settings_text) {
                show_message((*settings_text)(), false);
            }
        }
    }

    void show_time_left(std::optional<Clock::time_point> deadline) const {
        if (!deadline) return;
        const auto left = std::chrono::round<std::chrono::seconds>(*deadline - Clock::now());
        m_terminal.write(countdown_text(std::max<long>(0, static_cast<long>(left.count()))) + "\n");
    }

    FormOutcome timed_out() const {
        m_terminal.discard_pending_input();
        m_terminal.write("\n");
        return FormOutcome::TimedOut;
    }

    // Asks for one field. Enter (or the end of input) keeps the current value.
    // False when the deadline passed.
    bool ask(Field& field, std::optional<Clock::time_point> deadline) {
        std::string prompt = m_terminal.label(field.label, field.bold) + ": ";
        if (!field.value->empty()) {
            const std::string shown = field.kind == FieldKind::Secret
                                          ? std::string(utf8_length(*field.value), '*')
                                          : to_lf(*field.value);
            prompt += "[" + shown + "] ";
        }
        if (field.kind == FieldKind::Lines) {
            prompt += "\n（\".\" だけの行で入力を終わります）\n";
            m_terminal.write(prompt);
            return ask_lines(*field.value, deadline);
        }
        std::string line;
        ReadResult read;
        if (field.kind == FieldKind::Secret) {
            // Echo goes off before the prompt appears, so that nothing typed
            // in answer to it is shown.
            const EchoOff quiet(m_terminal.input_fd());
            m_terminal.write(prompt);
            read = m_terminal.read_line(line, deadline, quiet.signal_fd());
            m_terminal.write("\n");
            // Leaving this block gives the echo back; an interrupt typed
            // meanwhile ends the run only then.
        } else {
            m_terminal.write(prompt);
            read = m_terminal.read_line(line, deadline);
        }
        if (read == ReadResult::TimedOut) return false;
        if (read == ReadResult::Line && !line.empty()) *field.value = line;
        return true;
    }

    // The body: lines up to one holding only "." or the end of input, joined
    // with CR LF. Nothing typed before the end keeps the current body.
    bool ask_lines(std::string& value, std::optional<Clock::time_point> deadline) {
        std::string body;
        bool any = false;
        for (;;) {
            std::string line;
            const ReadResult read = m_terminal.read_line(line, deadline);
            if (read == ReadResult::TimedOut) return false;
            if (read == ReadResult::End || line == ".") break;
            if (any) body += "\r\n";
            body += line;
            any = true;
        }
        if (any) value = std::move(body);
        return true;
    }

    Terminal m_terminal;
    std::optional<std::chrono::milliseconds> m_countdown;
};

}  // namespace

std::unique_ptr<Windows> make_tty_windows(int in_fd, int out_fd,
                                          std::optional<std::chrono::milliseconds> countdown) {
    return std::make_unique<TtyWindows>(in_fd, out_fd, countdown);
}

}  // namespace vlt::ui
