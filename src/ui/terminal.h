#pragma once
// Line input and plain output on a terminal (or any descriptor), shared by the
// terminal prompts of the windows and the password prompt. One implementation
// per system (terminal_posix.cpp, terminal_win32.cpp; on Windows the terminal
// is the console). Not for use outside src/ui and its tests.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "ui/windows.h"

namespace vlt::ui {

using Clock = std::chrono::steady_clock;

enum class ReadResult { Line, End, TimedOut, Interrupted };

// Line input from a descriptor with an optional deadline, and plain output.
// End of input is remembered: every later read ends at once. The descriptors
// stay the caller's.
class Terminal {
  public:
    Terminal(int in_fd, int out_fd);

    bool input_is_terminal() const;
    int input_fd() const { return m_in; }

    // Writes all of `text`; a screen that takes nothing more is given up on,
    // since the answers read afterwards still decide what happens.
    void write(std::string_view text) const;

    // A label as the window shows it: bold labels mark the required fields.
    std::string label(std::string_view text, bool bold) const;

    // One line without its CR LF or LF. `interrupt_fd`, when given, is polled
    // too: readable means the user asked to stop (see EchoOff).
    ReadResult read_line(std::string& line, std::optional<Clock::time_point> deadline,
                         int interrupt_fd = -1);

    // One line read with echo off when the input is a terminal: the prompt is
    // written once echo is off, so that nothing typed in answer is shown, and a
    // line break follows the answer. An interrupt typed meanwhile (Ctrl-C and
    // the like) ends the process only after the echo is back.
    ReadResult read_secret(std::string_view prompt, std::string& line,
                           std::optional<Clock::time_point> deadline);

    // Drops what was typed but not yet read, so that it does not reach the
    // shell after the run ends.
    void discard_pending_input() const;

  private:
    // Moves the next buffered line (without its CR LF or LF) into `line`, or at
    // the end of input what is left; nullopt when more input must be read.
    // Both systems' read_line() take their lines through it.
    std::optional<ReadResult> take_buffered_line(std::string& line) {
        if (const auto eol = m_buffer.find('\n'); eol != std::string::npos) {
            line.assign(m_buffer, 0, eol);
            m_buffer.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return ReadResult::Line;
        }
        if (!m_end) return std::nullopt;
        if (m_buffer.empty()) return ReadResult::End;
        line = std::move(m_buffer);
        m_buffer.clear();
        return ReadResult::Line;
    }

    int m_in;
    int m_out;
    bool m_styled;
    std::string m_buffer;
    bool m_end = false;
};

// Prompts read from `in_fd` and written to `out_fd`; echo is switched off for
// the password only when `in_fd` is a terminal.
std::unique_ptr<Windows> make_tty_windows(int in_fd, int out_fd,
                                          std::optional<std::chrono::milliseconds> countdown);

}  // namespace vlt::ui
