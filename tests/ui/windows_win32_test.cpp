// The Windows side of the windows without a display: what the none way
// prints when standard output is redirected to a file (code page 932 under a
// Japanese system code page, CR LF line ends, "?" for what the code page
// lacks), and the terminal prompts over this system's terminal primitive.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ui/internal.h"
#include "ui/terminal.h"
#include "ui/windows.h"

namespace vlt::ui {
namespace {

const std::string kUsageCp932 = "\x8e\x67\x97\x70\x96\x40\x81\x46";  // 使用法：

// Standard output and error point to files while it lives; the bytes written
// to them are read back whole.
class Redirected {
  public:
    Redirected() {
        m_folder = std::filesystem::temp_directory_path() /
                   ("vlt_ui_" + std::to_string(::GetCurrentProcessId()));
        std::filesystem::create_directories(m_folder);
        m_out = open(STD_OUTPUT_HANDLE, "out");
        m_err = open(STD_ERROR_HANDLE, "err");
    }
    ~Redirected() {
        restore();
        std::filesystem::remove_all(m_folder);
    }
    Redirected(const Redirected&) = delete;
    Redirected& operator=(const Redirected&) = delete;

    std::string out() { return finished("out"); }
    std::string err() { return finished("err"); }

  private:
    struct Saved {
        DWORD which;
        HANDLE previous;
        HANDLE file;
    };
    Saved open(DWORD which, const char* name) {
        const HANDLE file =
            ::CreateFileW((m_folder / name).wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                          nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const Saved saved{which, ::GetStdHandle(which), file};
        ::SetStdHandle(which, file);
        return saved;
    }
    void restore() {
        for (Saved* s : {&m_out, &m_err}) {
            if (s->file == nullptr) continue;
            ::SetStdHandle(s->which, s->previous);
            ::CloseHandle(s->file);
            s->file = nullptr;
        }
    }
    std::string finished(const char* name) {
        restore();
        std::ifstream f(m_folder / name, std::ios::binary);
        std::stringstream bytes;
        bytes << f.rdbuf();
        return bytes.str();
    }

    std::filesystem::path m_folder;
    Saved m_out{};
    Saved m_err{};
};

TEST(NoWindows, MessagePrintedInTheCodePage) {
    auto windows = make_windows(UiMode::None);
    Redirected streams;
    windows->show_message("使用法：\r\n\r\n  ① 한 ä", true);
    EXPECT_EQ(streams.out(), kUsageCp932 + "\r\n\r\n  \x87\x40 ? ?\r\n");
}

// VELLUMTIDE_UI=tty without a console: standard error says so and the run
// goes on the none way (nothing is read).
TEST(TerminalPrompts, WithoutAConsoleTheNoneWayGoesOn) {
    ::FreeConsole();
    Redirected streams;
    ::_putenv_s("VELLUMTIDE_UI", "tty");
    auto windows = make_run_windows("vellumtide");
    ::_putenv_s("VELLUMTIDE_UI", "");
    windows->show_message("使用法：", true);
    SettingsFields settings{"smtp", "25", "", "", "", "", ""};
    EXPECT_EQ(windows->edit_settings(settings), FormOutcome::Closed);
    EXPECT_EQ(streams.out(), kUsageCp932 + "\r\n");
    EXPECT_EQ(streams.err(), "vellumtide: terminal prompts need a console\r\n");
    EXPECT_FALSE(ask_terminal_password().ok());
}

// The shared prompts over this system's terminal primitive, with pipes in
// place of the console: answers in UTF-8, CR LF line ends, the end of input
// and the countdown.
struct PipePromptCase {
    const char* name;
    std::string typed;
    bool end_input;
    std::optional<std::chrono::milliseconds> countdown;
    FormOutcome outcome;
    std::string user;  // the user field afterwards
};

TEST(TerminalPrompts, SharedPromptsOverPipes) {
    const PipePromptCase cases[] = {
        {"AnswersWithCrLf", "\r\n\r\n\r\n\r\n\r\n利用者\r\n秘密\r\ny\r\n", false, std::nullopt,
         FormOutcome::Stored, "利用者"},
        {"EndOfInputStoresNothing", "\n\n\n\n\n別人\n", true, std::nullopt, FormOutcome::Closed,
         "old"},
        {"CountdownRunsOut", "", false, std::chrono::milliseconds(300), FormOutcome::TimedOut,
         "old"},
    };
    for (const auto& c : cases) {
        int in[2] = {-1, -1};
        int out[2] = {-1, -1};
        ASSERT_EQ(::_pipe(in, 1 << 16, _O_BINARY), 0);
        ASSERT_EQ(::_pipe(out, 1 << 20, _O_BINARY), 0);
        ASSERT_EQ(::_write(in[1], c.typed.data(), static_cast<unsigned>(c.typed.size())),
                  static_cast<int>(c.typed.size()));
        if (c.end_input) ::_close(in[1]);
        SettingsFields settings{"smtp", "25", "", "", "", "old", ""};
        ParamFields params{"to@example.com", "", "件名", "本文", ""};
        auto windows = make_tty_windows(in[0], out[1], c.countdown);
        const FormOutcome outcome =
            c.countdown ? windows->edit_params(params, {}) : windows->edit_settings(settings);
        EXPECT_EQ(outcome, c.outcome) << c.name;
        EXPECT_EQ(settings.user, c.user) << c.name;
        EXPECT_EQ(params.subject, "件名") << c.name;
        for (int fd : {in[0], out[0], out[1]}) ::_close(fd);
        if (!c.end_input) ::_close(in[1]);
    }
}

}  // namespace
}  // namespace vlt::ui
