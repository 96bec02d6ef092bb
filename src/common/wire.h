#pragma once
// What crosses the wire, in one place: line-end normalisation, dot-stuffing,
// the checks on envelope addresses and header texts, and the decoding of
// server bytes for the logs.

#include <optional>
#include <string>
#include <string_view>

#include "common/sink.h"

namespace vlt {

// Bare LF and bare CR become CR LF; CR LF stays.
std::string normalize_crlf(std::string_view text);

// normalize_crlf for a text that arrives in pieces: a CR at the end of one
// piece and an LF at the start of the next are one line end.
class CrLfNormalizer {
  public:
    // Appends the piece with its line ends made CR LF to `out`.
    void append(std::string_view piece, std::string& out);

  private:
    bool m_after_cr = false;  // the last piece ended with CR
};

// CR and LF inside a header text become blanks.
std::string header_safe(std::string_view text);

// nullopt when the address may go into MAIL FROM / RCPT TO; otherwise the
// address written for the report, with CR, LF and NUL shown as \r, \n, \0.
// Refused: CR, LF, NUL, "<" and ">".
std::optional<std::string> envelope_address_fault(std::string_view address);

// Server bytes as log text: UTF-8 when valid, otherwise code page 932; NUL
// becomes U+30FB.
std::string server_text_for_log(std::string_view bytes);

// Passes message octets on to `inner`, doubling a "." that begins a line. The
// message is assumed to start at the beginning of a line; a line split across
// two writes is handled.
class DotStuffingSink final : public ByteSink {
  public:
    explicit DotStuffingSink(ByteSink& inner) : m_inner(inner) {}
    Status write(std::string_view bytes) override;
    // True when the octets written so far end a line (or nothing was written).
    bool at_line_start() const { return m_at_line_start; }

  private:
    ByteSink& m_inner;
    bool m_at_line_start = true;
};

}  // namespace vlt
