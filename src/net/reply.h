#pragma once
// A server reply as read by the line reader.

#include <string>
#include <vector>

namespace vlt::net {

enum class LineProtocol { Smtp, Pop3 };

struct Reply {
    // SMTP: the three-digit code of the final line (0 when it has none).
    // POP3: 1 for "+OK ", 0 otherwise.
    int code = 0;
    // The reply's lines as received, each with its line end (CR LF or LF).
    std::vector<std::string> lines;

    // All lines joined, line ends included: the text quoted in reports and
    // transcripts.
    std::string text() const;
    // The last line (the one that carries the code), or empty.
    const std::string& last_line() const;
};

}  // namespace vlt::net
