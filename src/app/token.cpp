#include "app/token.h"

#include "app/token_process.h"

namespace vlt::app {

namespace {

Error token_failure(const std::string& why) {
    return Error(ErrorKind::Auth, "アクセストークンを取得できませんでした: " + why);
}

// The first line of the output without spaces, tabs and CR at either end.
std::string first_line(const std::string& output) {
    const std::string line = output.substr(0, output.find('\n'));
    constexpr const char* kBlanks = " \t\r";
    const std::size_t start = line.find_first_not_of(kBlanks);
    if (start == std::string::npos) return {};
    return line.substr(start, line.find_last_not_of(kBlanks) - start + 1);
}

}  // namespace

Result<std::string> fetch_access_token(const std::string& command,
                                       std::chrono::milliseconds limit) {
    const CommandRun run = run_shell_command(command, limit);
    switch (run.outcome) {
        case CommandRun::Outcome::NotStarted:
            return token_failure("コマンドを起動できません");
        case CommandRun::Outcome::TimedOut: {
            const auto seconds = std::chrono::ceil<std::chrono::seconds>(limit).count();
            return token_failure("時間切れ（" + std::to_string(seconds) + "秒）");
        }
        case CommandRun::Outcome::Exited:
            break;
    }
    if (run.status != 0) return token_failure("終了コード " + std::to_string(run.status));
    std::string token = first_line(run.output);
    if (token.empty()) return token_failure("出力がありません");
    return token;
}

}  // namespace vlt::app
