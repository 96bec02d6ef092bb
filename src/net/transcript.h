#pragma once
// The record of one conversation for the protocol log.
//
// The transcript starts as the greeting; each exchange adds
// ">>" + mm:ss + ">> " + the command as sent + the reply text. Credentials
// never reach it: a credentials line shows as "***" and a POP3 password as
// "PASS ***".
//
// Without a clock the transcript stamps each exchange with the local time. The
// texts given to it are log text already (server bytes decoded by the caller).

#include <functional>
#include <string>
#include <string_view>

namespace vlt::net {

// How the command of an exchange is shown.
enum class Mask {
    None,      // as sent
    Whole,     // "***" + CR LF (a credentials line)
    Password,  // "PASS ***" + CR LF
};

class Transcript {
  public:
    using Clock = std::function<std::string()>;  // returns "mm:ss"

    explicit Transcript(Clock clock = {});

    void start(std::string_view greeting);
    // `sent` is the command line with its CR LF as it went on the wire.
    // `secret` masks the whole line, or shows "PASS ***" when the line is a
    // POP3 PASS command.
    void add_exchange(std::string_view sent, std::string_view reply, bool secret);
    void add_exchange(std::string_view sent, std::string_view reply, Mask mask);
    // Free text (message octets, notes such as the retry notice).
    void append(std::string_view text);

    const std::string& text() const { return m_text; }

  private:
    std::string m_text;
    Clock m_clock;
};

}  // namespace vlt::net
