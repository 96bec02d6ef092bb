#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "common/log.h"
#include "common/win32.h"
#include "encoding/cp932.h"
#include "log_test.h"
#include "support/files.h"

namespace vlt {

std::string log_bytes(std::string_view utf8) {
    return encoding::to_cp932(utf8);
}

namespace {

using test::read_file;

// The text of entry `n` of writer `who`.
std::string entry_text(int who, int n) {
    std::string text = "w";
    text += std::to_string(who);
    text += " n";
    text += std::to_string(n);
    return text;
}

// Windows tools read the logs in code page 932: each text's exact bytes, and
// "?" for a character the code page lacks (in the log only).
TEST_F(LogTest, EntriesAreCodePage932) {
    struct Case {
        const char* name;
        const char* text;
        std::string bytes;
    };
    const Case cases[] = {
        {"kana", "ログ", "\x83\x8D\x83\x4F"},
        {"halfWidthKana", "ｶﾅ", "\xB6\xC5"},
        {"necAndIbmExtensions", "①髙", "\x87\x40\xEE\xE0"},
        {"jisForms", "\u301C\u2212", "\x81\x60\x81\x7C"},
        {"lacking", "e\u00E9\u20AC\U0001F600.", "e???."},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(file("Scrivlane1.log"));
        ASSERT_TRUE(writer().write("Scrivlane", c.text).ok()) << c.name;
        EXPECT_EQ(read_file(file("Scrivlane1.log")), "2026/12/07 10:31:05 *** " + c.bytes + "\r\n")
            << c.name;
    }
}

// Opens `path` as another program would, with the given access and sharing.
class Holder {
  public:
    Holder(const std::string& path, DWORD access, DWORD share)
        : m_handle(::CreateFileW(to_utf16(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~Holder() { close(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    bool open() const { return m_handle != INVALID_HANDLE_VALUE; }
    void close() {
        if (open()) ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE m_handle;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Another run has the current log open, as every run opens it (deletion
// shared, and with the right to rename it itself): the log is still written
// and rotated.
TEST_F(LogTest, ALogAnotherRunHoldsIsWrittenAndRotated) {
    const std::string full(2048001, 'x');
    test::write_file(file("Scrivlane1.log"), full);
    Holder other(file("Scrivlane1.log"), FILE_READ_DATA | FILE_APPEND_DATA | DELETE, kShareAll);
    ASSERT_TRUE(other.open());
    ASSERT_TRUE(writer().write("Scrivlane", "a").ok());
    other.close();  // the C library's readers do not share deletion
    EXPECT_TRUE(read_file(file("Scrivlane2.log")) == full);
    EXPECT_EQ(read_file(file("Scrivlane1.log")), "2026/12/07 10:31:05 *** a\r\n");
}

// The previous generation cannot be replaced: the entry goes to the current
// log, nothing is lost, and a later write rotates once the way is free.
TEST_F(LogTest, FailedRotationAppendsAndIsTriedAgain) {
    const std::string full(2048001, 'x');
    const std::string line_a = "2026/12/07 10:31:05 *** a\r\n";
    struct Case {
        const char* name;
        std::function<void()> block;  // makes the rename fail
        std::function<void()> free;   // lets it succeed again
    };
    Holder* holder = nullptr;
    const Case cases[] = {
        {"previousHeldWithoutSharingDeletion",
         [&] {
             test::write_file(file("Scrivlane2.log"), "old");
             holder = new Holder(file("Scrivlane2.log"), GENERIC_READ, FILE_SHARE_READ);
             ASSERT_TRUE(holder->open());
         },
         [&] {
             delete holder;
             holder = nullptr;
         }},
        {"previousIsAFolder", [&] { std::filesystem::create_directory(file("Scrivlane2.log")); },
         [&] { std::filesystem::remove(file("Scrivlane2.log")); }},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(file("Scrivlane2.log"));
        test::write_file(file("Scrivlane1.log"), full);
        c.block();
        ASSERT_TRUE(writer().write("Scrivlane", "a").ok()) << c.name;
        EXPECT_TRUE(read_file(file("Scrivlane1.log")) == full + line_a) << c.name;
        c.free();
        ASSERT_TRUE(writer().write("Scrivlane", "b").ok()) << c.name;
        EXPECT_TRUE(read_file(file("Scrivlane2.log")) == full + line_a) << c.name;
        EXPECT_EQ(read_file(file("Scrivlane1.log")), "2026/12/07 10:31:05 *** b\r\n") << c.name;
    }
}

// Two writers, each opening and locking the log for every entry as separate
// runs do, meet around a rotation: every line survives once, and the previous
// generation whole.
TEST_F(LogTest, ConcurrentWritersAroundARotationKeepEveryLine) {
    constexpr int kRounds = 5;
    constexpr int kLines = 40;
    const std::string full(2048001, 'x');
    std::set<std::string> expected;
    for (int w = 0; w < 2; ++w) {
        for (int n = 0; n < kLines; ++n) {
            expected.insert("2026/12/07 10:31:05 *** " + entry_text(w, n) + "\r");
        }
    }
    for (int round = 0; round < kRounds; ++round) {
        std::filesystem::remove(file("Scrivlane2.log"));
        test::write_file(file("Scrivlane1.log"), full);
        bool ok[2] = {true, true};
        {
            std::jthread writers[2];
            for (int w = 0; w < 2; ++w) {
                writers[w] = std::jthread([&, w] {
                    const LogWriter log = writer();
                    for (int n = 0; n < kLines; ++n) {
                        ok[w] = log.write("Scrivlane", entry_text(w, n)).ok() && ok[w];
                    }
                });
            }
        }
        EXPECT_TRUE(ok[0] && ok[1]) << "round " << round;
        EXPECT_TRUE(read_file(file("Scrivlane2.log")) == full) << "round " << round;
        std::set<std::string> seen;
        std::istringstream current(read_file(file("Scrivlane1.log")));
        for (std::string line; std::getline(current, line);) {
            EXPECT_TRUE(seen.insert(line).second) << "twice: " << line;
        }
        ASSERT_EQ(seen, expected) << "round " << round;
    }
}

// A folder stands at the log's path: the write fails and names the log.
// (Wine shows neither symbolic links nor junctions as reparse points, so the
// refusal of those is not tested here.)
TEST_F(LogTest, AFolderAtTheLogsPathIsAnError) {
    std::filesystem::create_directory(file("Scrivlane1.log"));
    const Status written = writer().write("Scrivlane", "x");
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().reports.at(0).rfind(file("Scrivlane1.log") + ": ", 0), 0u);
    EXPECT_TRUE(std::filesystem::is_empty(file("Scrivlane1.log")));
}

TEST(ErrorText, FromWindowsErrors) {
    struct Case {
        DWORD code;
        RuntimeError expected;
    };
    const Case cases[] = {
        {ERROR_FILE_NOT_FOUND, RuntimeError::FileNotFound},
        {ERROR_PATH_NOT_FOUND, RuntimeError::PathNotFound},
        {ERROR_ACCESS_DENIED, RuntimeError::PermissionDenied},
        {ERROR_SHARING_VIOLATION, RuntimeError::PermissionDenied},
        {ERROR_LOCK_VIOLATION, RuntimeError::PermissionDenied},
        {ERROR_INVALID_NAME, RuntimeError::BadFileName},
        {ERROR_DIRECTORY, RuntimeError::PathFileAccess},
        {ERROR_BAD_PATHNAME, RuntimeError::PathFileAccess},
        {ERROR_NOT_ENOUGH_MEMORY, RuntimeError::OutOfMemory},
        {ERROR_OUTOFMEMORY, RuntimeError::OutOfMemory},
        {ERROR_WRITE_FAULT, RuntimeError::DeviceIo},
        {ERROR_DISK_FULL, RuntimeError::DeviceIo},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(runtime_error_from_win32(c.code), c.expected) << c.code;
    }
}

// Text crosses the API edge unchanged, Japanese file names included.
TEST(Win32Edge, Utf16RoundTrip) {
    for (const std::string text : {"", "plain", "件名 テスト.txt", "①髙\U0001F600"}) {
        EXPECT_EQ(from_utf16(to_utf16(text)), text);
    }
    EXPECT_EQ(to_utf16("件\U0001F600"), std::wstring(L"\u4EF6\xD83D\xDE00"));
}

}  // namespace
}  // namespace vlt
