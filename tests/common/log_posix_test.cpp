#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "common/log.h"
#include "log_fixture.h"
#include "support/files.h"

namespace vlt {

std::string log_bytes(std::string_view utf8) {
    return std::string(utf8);
}

namespace {

using test::read_file;

// Two runs write one log at the same moment while it is over the limit: one
// of them rotates it. Every line of both runs and the whole previous
// generation survive, each line whole. Repeated so that the two runs meet
// inside the rotation more than once.
TEST_F(LogTest, ConcurrentWritersAroundARotationKeepEveryLine) {
    constexpr int kRounds = 50;
    constexpr int kLines = 50;
    const std::string previous_generation(2048001, 'x');
    std::set<std::string> expected;  // the lines of both writers, CR ending each
    for (int w = 0; w < 2; ++w) {
        for (int n = 0; n < kLines; ++n) {
            expected.insert("2026/12/07 10:31:05 *** " + entry_text(w, n) + "\r");
        }
    }
    for (int round = 0; round < kRounds; ++round) {
        std::filesystem::remove(file("Scrivlane2.log"));
        test::write_file(file("Scrivlane1.log"), previous_generation);
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        pid_t children[2];
        for (int who = 0; who < 2; ++who) {
            children[who] = ::fork();
            ASSERT_GE(children[who], 0);
            if (children[who] == 0) {
                ::close(go[1]);
                char byte = 0;
                const bool released = ::read(go[0], &byte, 1) == 0;
                const LogWriter log = writer();
                bool all = released;
                for (int n = 0; n < kLines; ++n) {
                    all = log.write("Scrivlane", entry_text(who, n)).ok() && all;
                }
                ::_exit(all ? 0 : 1);
            }
        }
        ::close(go[0]);
        ::close(go[1]);  // releases both writers at once
        for (pid_t child : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        EXPECT_TRUE(read_file(file("Scrivlane2.log")) == previous_generation) << "round " << round;
        std::set<std::string> seen;
        std::istringstream current(read_file(file("Scrivlane1.log")));
        for (std::string line; std::getline(current, line);) {
            EXPECT_TRUE(seen.insert(line).second) << "twice: " << line;
        }
        ASSERT_EQ(seen, expected) << "round " << round;
    }
}

// What stands at the log's path when a run writes to it. The write fails with
// the reason and nothing reaches the file a link points to.
struct NotALogCase {
    const char* name;
    std::function<void(const test::TempDir&)> make;
    const char* reason;
};

std::ostream& operator<<(std::ostream& out, const NotALogCase& c) {
    return out << c.name;
}

class LogRefusal : public LogTest, public ::testing::WithParamInterface<NotALogCase> {};

TEST_P(LogRefusal, NothingIsWrittenThroughIt) {
    GetParam().make(m_dir);
    ::testing::internal::CaptureStderr();
    write_log_or_warn(writer(), "Scrivlane", "secret");
    const std::string warned = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(warned, "vellumtide: log not written: " + file("Scrivlane1.log") + ": " +
                          GetParam().reason + "\n");
    EXPECT_EQ(read_file(file("target.log")), "");
    EXPECT_FALSE(std::filesystem::exists(file("Scrivlane2.log")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogRefusal,
    ::testing::Values(NotALogCase{"LinkToAFile",
                                  [](const test::TempDir& d) {
                                      test::write_file(d.file("target.log"), "");
                                      std::filesystem::create_symlink(d.file("target.log"),
                                                                      d.file("Scrivlane1.log"));
                                  },
                                  "a symbolic link, not written through"},
                      NotALogCase{"DanglingLink",
                                  [](const test::TempDir& d) {
                                      std::filesystem::create_symlink(d.file("target.log"),
                                                                      d.file("Scrivlane1.log"));
                                  },
                                  "a symbolic link, not written through"},
                      NotALogCase{"Folder",
                                  [](const test::TempDir& d) {
                                      std::filesystem::create_directory(d.file("Scrivlane1.log"));
                                  },
                                  "Is a directory"},
                      NotALogCase{"FifoWithAReader",
                                  [](const test::TempDir& d) {
                                      ASSERT_EQ(::mkfifo(d.file("Scrivlane1.log").c_str(), 0600),
                                                0);
                                      // Held open for reading (and leaked to the end of the
                                      // test) so that opening it for writing succeeds.
                                      ASSERT_GE(::open(d.file("Scrivlane1.log").c_str(),
                                                       O_RDONLY | O_NONBLOCK),
                                                0);
                                  },
                                  "not a regular file"}),
    [](const auto& row) { return row.param.name; });

// Logs are readable by their owner only, whatever the umask and whatever mode
// an existing log of the user's had.
TEST_F(LogTest, LogsAreNarrowedToTheOwner) {
    struct Case {
        const char* name;
        int existing_mode;  // -1: no log yet
    };
    const Case cases[] = {{"new", -1},
                          {"group and others read", 0644},
                          {"everybody writes", 0666},
                          {"executable", 0700}};
    const mode_t old_umask = ::umask(0);
    for (const auto& c : cases) {
        std::filesystem::remove(file("Scrivlane1.log"));
        if (c.existing_mode >= 0) {
            test::write_file(file("Scrivlane1.log"), "");
            ::chmod(file("Scrivlane1.log").c_str(), static_cast<mode_t>(c.existing_mode));
        }
        EXPECT_TRUE(writer().write("Scrivlane", "x").ok()) << c.name;
        struct stat st {};
        ASSERT_EQ(::stat(file("Scrivlane1.log").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << c.name;
    }
    ::umask(old_umask);
}

}  // namespace
}  // namespace vlt
