#pragma once
// Assembles server replies from received bytes, independent of the socket.
//
// Bytes go in as they arrive, in pieces of any size; lines are cut at LF (the
// line keeps its CR LF or LF). An SMTP reply ends with its first line that is
// not a continuation ("ddd-"); a POP3 reply is one line. Bytes after the end
// of a reply stay buffered for the next one. The reader caps one reply at
// `max_lines` lines and `max_bytes` bytes, the unfinished line included, so a
// server that never ends a line or a reply costs bounded memory: once over a
// cap the reader reports TooLong and keeps nothing more.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "net/reply.h"

namespace vlt::net {

// The code of a reply whose last line is `line`. SMTP: three digits followed by
// a blank, CR, LF or the end of the line; otherwise 0. POP3: 1 when the first
// four characters, CR and LF removed at both ends and blanks trimmed, are
// "+OK"; otherwise 0.
int reply_code(LineProtocol protocol, std::string_view line);

// True when `line` ends a reply. SMTP: any line but a continuation (three
// digits followed by "-"); POP3: every line.
bool is_final_line(LineProtocol protocol, std::string_view line);

// True when the code of `line` is followed by a blank: "ddd " for SMTP, "+OK "
// for POP3 (a greeting must say something after its code).
bool has_text_after_code(LineProtocol protocol, std::string_view line);

class ReplyReader {
  public:
    enum class Progress { NeedMore, Complete, TooLong };

    ReplyReader(LineProtocol protocol, std::size_t max_lines, std::size_t max_bytes);

    // Adds received bytes and reads lines from the buffer.
    Progress add(std::string_view bytes);
    // Reads lines from what is already buffered (bytes left over from the
    // previous reply).
    Progress resume() { return add({}); }

    // The completed reply, with its code; the reader then starts the next.
    Reply take();

    // Everything received for the current reply so far: its complete lines
    // and the unfinished one (at most the byte cap).
    std::string gathered() const;
    const std::vector<std::string>& lines() const { return m_lines; }
    // The first line of the current reply, or the unfinished text when no
    // line is complete yet.
    std::string first_line() const;
    // True when bytes wait in the buffer beyond the current reply's lines.
    bool has_buffered() const { return m_start < m_buffer.size(); }

  private:
    std::string_view unfinished() const;
    void compact();

    LineProtocol m_protocol;
    std::size_t m_max_lines;
    std::size_t m_max_bytes;
    std::string m_buffer;  // received bytes; those before m_start are consumed
    std::size_t m_start = 0;
    std::vector<std::string> m_lines;  // complete lines of the current reply
    std::size_t m_line_bytes = 0;
    Progress m_state = Progress::NeedMore;
};

}  // namespace vlt::net
