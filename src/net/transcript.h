#pragma once
// The record of one conversation for the protocol log.
//
// The transcript starts as the greeting; each exchange adds
// ">>" + mm:ss + ">> " + the command as sent + the reply text. Credentials
// never reach it: a credentials line shows as "***" and a POP3 password as
// "PASS ***".

#include <functional>
#include <string>
#include <string_view>

namespace vlt::net {

class Transcript {
public:
    using Clock = std::function<std::string()>;  // returns "mm:ss"

    explicit Transcript(Clock clock = {});

    void start(std::string_view greeting);
    // `sent` is the command line with its CR LF as it went on the wire.
    void add_exchange(std::string_view sent, std::string_view reply, bool secret);
    // Free text (message octets, notes such as the retry notice).
    void append(std::string_view text);

    const std::string& text() const { return m_text; }

private:
    std::string m_text;
    Clock m_clock;
};

}  // namespace vlt::net
