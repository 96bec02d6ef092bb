// Windows: the terminal is the console. The prompts read it with ReadConsoleW
// and write it with WriteConsoleW, as UTF-16, so that Japanese answers arrive
// whatever the console's code pages are. Echo is switched off for the
// password by SetConsoleMode; a console control handler gives it back when
// Ctrl-C or a closed window ends the run meanwhile. A descriptor that is no
// console (a pipe or a file) is read and written as bytes, as on POSIX
// systems.
//
// The prompts are used only when VELLUMTIDE_UI=tty asks for them. Without a
// console (no CONIN$), standard error says so and the windows are those of
// the none way.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>

#include "common/console.h"
#include "common/win32.h"
#include "ui/internal.h"
#include "ui/terminal.h"
#include "ui/windows.h"

namespace vlt::ui {

namespace {

constexpr const char* kNoConsole = "terminal prompts need a console";
constexpr DWORD kPipePollMs = 20;

HANDLE handle_of(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

// Milliseconds to wait before `deadline`: INFINITE without one, 0 once it passed.
DWORD wait_ms(std::optional<Clock::time_point> deadline) {
    if (!deadline) return INFINITE;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    return static_cast<DWORD>(std::clamp<long long>(left.count(), 0, 1 << 30));
}

// Runs in a thread of its own when the console asks the process to end while
// echo is off: the echo comes back, and the next handler (the system's)
// ends the process. It opens the console itself, so it needs no state.
BOOL WINAPI echo_back_on_exit(DWORD /*event*/) {
    const HANDLE in =
        ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return FALSE;
    DWORD mode = 0;
    if (::GetConsoleMode(in, &mode)) ::SetConsoleMode(in, mode | ENABLE_ECHO_INPUT);
    ::CloseHandle(in);
    return FALSE;
}

// Switches echo off on a console for as long as it lives (the password).
// Only a console whose echo was on is touched, so giving it back means
// switching it on.
class EchoOff {
  public:
    explicit EchoOff(HANDLE console) : m_console(console) {
        if (!::GetConsoleMode(console, &m_saved) || (m_saved & ENABLE_ECHO_INPUT) == 0) return;
        m_handler = ::SetConsoleCtrlHandler(echo_back_on_exit, TRUE) != 0;
        m_active = ::SetConsoleMode(console, m_saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
    }
    ~EchoOff() {
        if (m_active) ::SetConsoleMode(m_console, m_saved);
        if (m_handler) ::SetConsoleCtrlHandler(echo_back_on_exit, FALSE);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    HANDLE m_console;
    DWORD m_saved = 0;
    bool m_active = false;
    bool m_handler = false;
};

// Whether the console input holds a key press that starts a line. Other
// events (key releases, focus, mouse, resizing) are taken out, so that a
// read that follows does not wait for a line nobody has begun.
bool console_has_key(HANDLE console) {
    for (;;) {
        INPUT_RECORD record{};
        DWORD count = 0;
        if (!::PeekConsoleInputW(console, &record, 1, &count) || count == 0) return false;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return true;
        if (!::ReadConsoleInputW(console, &record, 1, &count)) return false;
    }
}

// A console owned by the prompts: CONIN$ and CONOUT$ as descriptors, closed
// with them.
class ConsoleWindows final : public Windows {
  public:
    ConsoleWindows(int in_fd, int out_fd, std::optional<std::chrono::milliseconds> countdown)
        : m_in(in_fd), m_out(out_fd), m_prompts(make_tty_windows(in_fd, out_fd, countdown)) {}
    ~ConsoleWindows() override {
        m_prompts.reset();
        _close(m_in);
        _close(m_out);
    }
    ConsoleWindows(const ConsoleWindows&) = delete;
    ConsoleWindows& operator=(const ConsoleWindows&) = delete;

    void show_message(std::string_view text, bool wide) override {
        m_prompts->show_message(text, wide);
    }
    FormOutcome edit_params(ParamFields& fields, const ParamWindowOptions& options) override {
        return m_prompts->edit_params(fields, options);
    }
    FormOutcome edit_settings(SettingsFields& fields) override {
        return m_prompts->edit_settings(fields);
    }
    void pump() override { m_prompts->pump(); }

  private:
    int m_in;
    int m_out;
    std::unique_ptr<Windows> m_prompts;
};

// The console's input and output as descriptors; -1 each without a console.
struct ConsoleFds {
    int in = -1;
    int out = -1;
};

ConsoleFds open_console() {
    ConsoleFds fds;
    for (const auto& [name, fd] : {std::pair{L"CONIN$", &fds.in}, {L"CONOUT$", &fds.out}}) {
        const HANDLE h =
            ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) break;
        *fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
        if (*fd < 0) {
            ::CloseHandle(h);
            break;
        }
    }
    if (fds.in < 0 || fds.out < 0) {
        if (fds.in >= 0) _close(fds.in);
        if (fds.out >= 0) _close(fds.out);
        return {};
    }
    return fds;
}

}  // namespace

Terminal::Terminal(int in_fd, int out_fd) : m_in(in_fd), m_out(out_fd), m_styled(false) {}

bool Terminal::input_is_terminal() const {
    return is_console(handle_of(m_in));
}

void Terminal::write(std::string_view text) const {
    const HANDLE out = handle_of(m_out);
    if (is_console(out)) {
        std::wstring wide = to_utf16(text);
        std::wstring_view rest = wide;
        while (!rest.empty()) {
            DWORD n = 0;
            const auto size = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 16384));
            if (!::WriteConsoleW(out, rest.data(), size, &n, nullptr) || n == 0) return;
            rest.remove_prefix(n);
        }
        return;
    }
    while (!text.empty()) {
        DWORD n = 0;
        const auto size = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 16));
        if (!::WriteFile(out, text.data(), size, &n, nullptr) || n == 0) return;
        text.remove_prefix(n);
    }
}

std::string Terminal::label(std::string_view text, bool /*bold*/) const {
    return std::string(text);
}

ReadResult Terminal::read_line(std::string& line, std::optional<Clock::time_point> deadline,
                               int /*interrupt_fd*/) {
    const HANDLE in = handle_of(m_in);
    const bool console = is_console(in);
    for (;;) {
        if (const auto taken = take_buffered_line(line)) return *taken;
        const DWORD timeout = wait_ms(deadline);
        if (timeout == 0) return ReadResult::TimedOut;
        if (console) {
            // Once a key is pressed the line is read to its end: somebody is
            // answering, and the console edits the line until Enter.
            if (::WaitForSingleObject(in, timeout) != WAIT_OBJECT_0) continue;
            if (!console_has_key(in)) continue;
            std::array<wchar_t, 1024> chunk{};
            DWORD n = 0;
            if (!::ReadConsoleW(in, chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr)) {
                m_end = true;
                continue;
            }
            std::wstring_view got(chunk.data(), n);
            // Ctrl-Z at the start of a line is the console's end of input.
            if (m_buffer.empty() && !got.empty() && got.front() == L'\x1a') {
                m_end = true;
                continue;
            }
            m_buffer += from_utf16(got);
            continue;
        }
        DWORD available = 0;
        const bool pipe = ::GetFileType(in) == FILE_TYPE_PIPE;
        if (pipe && ::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr) &&
            available == 0) {
            ::Sleep(std::min(timeout, kPipePollMs));
            continue;
        }
        std::array<char, 4096> chunk{};
        DWORD n = 0;
        const auto size = static_cast<DWORD>(
            pipe ? std::min<DWORD>(available, static_cast<DWORD>(chunk.size())) : chunk.size());
        if (!::ReadFile(in, chunk.data(), size, &n, nullptr) || n == 0) {
            m_end = true;
            continue;
        }
        m_buffer.append(chunk.data(), n);
    }
}

ReadResult Terminal::read_secret(std::string_view prompt, std::string& line,
                                 std::optional<Clock::time_point> deadline) {
    const EchoOff quiet(handle_of(m_in));
    write(prompt);
    const ReadResult read = read_line(line, deadline);
    write("\n");
    return read;
}

void Terminal::discard_pending_input() const {
    const HANDLE in = handle_of(m_in);
    if (is_console(in)) ::FlushConsoleInputBuffer(in);
}

bool stdin_is_terminal() {
    return false;
}

std::unique_ptr<Windows> make_standard_tty_windows(
    std::optional<std::chrono::milliseconds> countdown) {
    const ConsoleFds console = open_console();
    if (console.in < 0) {
        write_standard_error(std::string("vellumtide: ") + kNoConsole + "\n");
        return make_no_windows();
    }
    return std::make_unique<ConsoleWindows>(console.in, console.out, countdown);
}

Result<std::string> ask_terminal_password() {
    const ConsoleFds console = open_console();
    if (console.in < 0) return Error(ErrorKind::Input, kNoConsole);
    std::string line;
    {
        Terminal terminal(console.in, console.out);
        if (terminal.read_secret("パスワード: ", line, std::nullopt) != ReadResult::Line)
            line.clear();
    }
    _close(console.in);
    _close(console.out);
    return line;
}

}  // namespace vlt::ui
