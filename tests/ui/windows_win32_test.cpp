// The Windows side of the windows without a display: what the none way
// prints when standard output is redirected to a file (code page 932 under a
// Japanese system code page, CR LF line ends, "?" for what the code page
// lacks), and the terminal prompts, which this build reports as not available.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

// VELLUMTIDE_UI=tty asks for prompts this build lacks: standard error says so
// and the run goes on the none way (nothing is read).
TEST(TerminalPrompts, ReportedUnavailable) {
    Redirected streams;
    ::_putenv_s("VELLUMTIDE_UI", "tty");
    auto windows = make_run_windows("vellumtide");
    ::_putenv_s("VELLUMTIDE_UI", "");
    windows->show_message("使用法：", true);
    SettingsFields settings{"smtp", "25", "", "", "", "", ""};
    EXPECT_EQ(windows->edit_settings(settings), FormOutcome::Closed);
    EXPECT_EQ(streams.out(), kUsageCp932 + "\r\n");
    EXPECT_EQ(streams.err(), "vellumtide: terminal prompts are not available in this build\r\n");
    EXPECT_FALSE(ask_terminal_password().ok());
}

}  // namespace
}  // namespace vlt::ui
