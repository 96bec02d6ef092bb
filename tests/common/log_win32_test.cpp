#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/log.h"
#include "common/win32.h"
#include "encoding/cp932.h"
#include "log_fixture.h"
#include "support/files.h"

namespace vlt {

std::string log_bytes(std::string_view utf8) {
    return encoding::to_cp932(utf8);
}

namespace {

// Wine shows neither symbolic links nor junctions as reparse points, so their
// refusal cannot be tested here.

using test::read_file;

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
    ~Holder() {
        if (open()) ::CloseHandle(m_handle);
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    bool open() const { return m_handle != INVALID_HANDLE_VALUE; }

  private:
    HANDLE m_handle;
};

// The current log is over the limit while other programs hold the files. A
// run holding the current log as every run does (deletion shared) does not
// stop the rotation. When the previous generation cannot be replaced, the
// entry goes to the current log and the next write, once the way is free,
// rotates.
TEST_F(LogTest, RotationWhileOthersHoldTheFiles) {
    const std::string full(2048001, 'x');
    const std::string line_a = "2026/12/07 10:31:05 *** a\r\n";
    struct Case {
        const char* name;
        std::function<std::unique_ptr<Holder>()> hold;  // released before the second write
        bool rotates;
    };
    const Case cases[] = {
        {"currentHeldByAnotherRun",
         [&] {
             return std::make_unique<Holder>(
                 file("Scrivlane1.log"), FILE_READ_DATA | FILE_APPEND_DATA | DELETE,
                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
         },
         true},
        {"previousHeldWithoutSharingDeletion",
         [&] {
             test::write_file(file("Scrivlane2.log"), "old");
             return std::make_unique<Holder>(file("Scrivlane2.log"), GENERIC_READ, FILE_SHARE_READ);
         },
         false},
        {"previousIsAFolder",
         [&] {
             std::filesystem::create_directory(file("Scrivlane2.log"));
             return std::unique_ptr<Holder>();
         },
         false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(file("Scrivlane2.log"));
        test::write_file(file("Scrivlane1.log"), full);
        auto holder = c.hold();
        ASSERT_TRUE(holder == nullptr || holder->open()) << c.name;
        ASSERT_TRUE(writer().write("Scrivlane", "a").ok()) << c.name;
        holder.reset();  // the C library's readers share no deletion
        if (c.rotates) {
            EXPECT_TRUE(read_file(file("Scrivlane2.log")) == full) << c.name;
            EXPECT_EQ(read_file(file("Scrivlane1.log")), line_a) << c.name;
            continue;
        }
        EXPECT_TRUE(read_file(file("Scrivlane1.log")) == full + line_a) << c.name;
        if (std::filesystem::is_directory(file("Scrivlane2.log"))) {
            std::filesystem::remove(file("Scrivlane2.log"));
        }
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
    std::vector<std::string> expected;  // every line of both writers, CR ending each, sorted
    for (int w = 0; w < 2; ++w) {
        for (int n = 0; n < kLines; ++n) {
            expected.push_back("2026/12/07 10:31:05 *** " + entry_text(w, n) + "\r");
        }
    }
    std::sort(expected.begin(), expected.end());
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
        std::vector<std::string> seen;
        std::istringstream current(read_file(file("Scrivlane1.log")));
        for (std::string line; std::getline(current, line);) seen.push_back(line);
        std::sort(seen.begin(), seen.end());
        ASSERT_EQ(seen, expected) << "round " << round;
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
