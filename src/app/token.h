#pragma once
// The access token of an OAuth 2.0 sign-in (XOAUTH2, OAUTHBEARER).
//
// A token lives for about an hour, so it is not stored: the settings hold a
// command that prints a fresh one, and each sending run runs it before any
// connection. The token is the first line of the command's standard output
// without the blanks (spaces, tabs, CR) at either end.

#include <chrono>
#include <string>

#include "common/result.h"

namespace vlt::app {

inline constexpr std::chrono::milliseconds kTokenCommandLimit{60000};

// Runs the token command (token_process.h). Fails with
// "アクセストークンを取得できませんでした: " and why: "コマンドを起動できません",
// "終了コード " + the exit status, "出力がありません" (an empty first line), or
// "時間切れ（" + the limit in seconds + "秒）".
Result<std::string> fetch_access_token(const std::string& command,
                                       std::chrono::milliseconds limit = kTokenCommandLimit);

}  // namespace vlt::app
