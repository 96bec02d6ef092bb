// The token command of an OAuth sign-in, run for real through /bin/sh.

#include "app/token.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace vlt::app {
namespace {

using namespace std::chrono_literals;

struct TokenCase {
    const char* name;
    std::string command;
    std::string expected;  // the token, or the reason after the report's colon
    bool ok = true;
    std::chrono::milliseconds limit = 5s;
};

void PrintTo(const TokenCase& c, std::ostream* os) {
    *os << c.name;
}

class TokenCommand : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenCommand, GivesTheTokenOrTheReport) {
    const TokenCase& c = GetParam();
    const auto token = fetch_access_token(c.command, c.limit);
    if (c.ok) {
        ASSERT_TRUE(token.ok()) << token.error().reports.front();
        EXPECT_EQ(*token, c.expected);
    } else {
        ASSERT_FALSE(token.ok()) << *token;
        EXPECT_EQ(
            token.error().reports,
            std::vector<std::string>{"アクセストークンを取得できませんでした: " + c.expected});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TokenCommand,
    ::testing::Values(
        TokenCase{"FirstLineWithoutBlanksAtItsEnds", "printf ' \\t a b \\t\\r\\nsecond\\n'", "a b"},
        TokenCase{"NoLineEnd", "printf tok-2", "tok-2"},
        TokenCase{"OnlyTheFirstLineCounts", "printf ' \\r\\ntok\\n'", "出力がありません", false},
        TokenCase{"ExitStatusWinsOverOutput", "echo tok; exit 3", "終了コード 3", false},
        TokenCase{"EndedBySignal", "kill -9 $$", "終了コード 137", false},
        // One argument longer than the system passes to a program: the shell
        // cannot be started.
        TokenCase{"ShellCannotStart", "echo " + std::string(300 * 1024, 'x'),
                  "コマンドを起動できません", false},
        TokenCase{"TimeLimit", "sleep 20", "時間切れ（1秒）", false, 300ms}),
    [](const auto& row) { return std::string(row.param.name); });

// Whether the process runs (a zombie or a vanished process does not).
bool is_running(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return false;
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' &&
           text[close + 2] != 'X';
}

class TokenProcess : public ::testing::Test {
  protected:
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vlt_token_" + std::to_string(::getpid()));
};

// At the limit the command's whole process group goes, not only the shell.
TEST_F(TokenProcess, TimeLimitEndsWhatTheCommandStarted) {
    std::filesystem::create_directories(dir);
    const std::string pid_file = (dir / "pid").string();
    const auto token = fetch_access_token("sleep 20 & echo $! > " + pid_file + "; wait", 300ms);
    ASSERT_FALSE(token.ok());
    std::string pid;
    std::ifstream(pid_file) >> pid;
    ASSERT_FALSE(pid.empty());
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (is_running(pid) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(is_running(pid)) << pid;
}

// The command reads nothing of this process's standard input, and once it
// has ended a child still holding its output is not waited for.
TEST_F(TokenProcess, ReadsNoInputAndDoesNotWaitForLeftovers) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "leaked\n", 7), 7);
    ::close(fds[1]);
    const int saved = ::dup(0);
    ::dup2(fds[0], 0);
    ::close(fds[0]);
    const auto input = fetch_access_token("read line && echo got:$line || echo none");
    ::dup2(saved, 0);
    ::close(saved);
    ASSERT_TRUE(input.ok());
    EXPECT_EQ(*input, "none");

    const auto started = std::chrono::steady_clock::now();
    const auto token = fetch_access_token("(sleep 2; echo late) & echo tok", 10s);
    ASSERT_TRUE(token.ok());
    EXPECT_EQ(*token, "tok");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1500ms);
}

}  // namespace
}  // namespace vlt::app
