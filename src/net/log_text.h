#pragma once
// Server text as it may appear in a report or a transcript.
//
// A hostile server must neither forge log entries nor plant a secret in the
// error log by echoing it. ServerText decodes server bytes (UTF-8 when valid,
// otherwise code page 932), replaces every credential this run sent with
// "***" (case-sensitive, wherever it appears), and writes the control
// characters U+0000-U+001F other than tab, U+007F and U+0080-U+009F as "?".
// The line ends between the lines of a reply (LF, CR LF) stay as they are.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vlt::net {

class ServerText {
  public:
    // A credential sent in this run (a password, an AUTH string, a user name,
    // an access token). Empty texts are ignored.
    void add_secret(std::string_view secret);

    std::string for_log(std::string_view bytes) const;
    std::vector<std::string> for_log(const std::vector<std::string>& lines) const;

  private:
    std::vector<std::string> m_secrets;
};

// The first `count` characters of UTF-8 `text`.
std::string first_characters(std::string_view text, std::size_t count);

}  // namespace vlt::net
