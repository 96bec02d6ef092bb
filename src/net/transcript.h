#pragma once
// The record of one conversation for the protocol log, and the log entry
// that holds it.
//
// The transcript starts as the greeting; each exchange adds
// ">>" + mm:ss + ">> " + the command as sent + the reply text. Credentials
// never reach it: a credentials line shows as "***" and a POP3 password as
// "PASS ***", and an AUTH line that carries them as "AUTH XOAUTH2 ***". The stamps come from the
// clock the transcript is given (local minutes and seconds of its time); without one, from the
// system clock. The texts given to it are log text already (server text made harmless by
// ServerText, log_text.h).

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "common/log.h"

namespace vlt::net {

// The clock of a run: message Date, transcript stamps.
using WallClock = std::function<std::chrono::system_clock::time_point()>;

// Ends a protocol-log and a message-log entry.
inline constexpr std::string_view kLogMarker = "  ** ** **  \r\n";

// How the command of an exchange is shown.
enum class Mask {
    None,      // as sent
    Whole,     // "***" + CR LF (a credentials line)
    Password,  // "PASS ***" + CR LF
    LastWord,  // the line up to its last blank, then "***" + CR LF ("AUTH XOAUTH2 ***")
};

class Transcript {
  public:
    explicit Transcript(WallClock clock = {});

    void start(std::string_view greeting);
    // `sent` is the command line with its CR LF as it went on the wire.
    void add_exchange(std::string_view sent, std::string_view reply, Mask mask);
    // Free text (message octets, notes such as the retry notice).
    void append(std::string_view text);

    const std::string& text() const { return m_text; }

  private:
    std::string m_text;
    WallClock m_clock;
};

// Writes the protocol-log entry `title` CR LF + the transcript + the marker to
// the log pair `prefix`; a log that cannot be written is said on standard
// error.
void write_protocol_log(const LogWriter& log, std::string_view prefix, std::string_view title,
                        const Transcript& transcript);

}  // namespace vlt::net
