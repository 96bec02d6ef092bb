#pragma once
// Base64 with the standard alphabet and "=" padding.
//
// The encoder breaks its output into lines of 76 characters: no break when the
// whole text is 76 characters or fewer; otherwise CR LF after every full line
// of 76, including the last line when the length is an exact multiple of 76.

#include <cstddef>
#include <string>
#include <string_view>

namespace vlt::encoding {

// Bytes to Base64 text with the line breaks above.
std::string base64_encode(std::string_view bytes);
// The same into `out`, reusing its storage (no fresh allocation when it is
// already large enough).
void base64_encode(std::string_view bytes, std::string& out);
// Bytes to Base64 text as one line (used for AUTH credentials).
std::string base64_encode_line(std::string_view bytes);
// Text to bytes: every CR LF pair and every "=" removed first; characters
// outside the alphabet count as 0; a last group of one character gives no byte.
std::string base64_decode(std::string_view text);

// Encodes a byte stream piece by piece with exactly the output of
// base64_encode over the whole stream, so large files can be encoded in
// bounded memory. Feed the bytes with update(); finish() flushes the tail.
// Each call appends to `out`.
class Base64StreamEncoder {
  public:
    void update(std::string_view bytes, std::string& out);
    // Writes the last group with its padding and, when the text ends on a full
    // line and is longer than one line, the closing CR LF. The encoder is then
    // ready for a new stream.
    void finish(std::string& out);

  private:
    // Encodes `groups` whole 3-byte groups at `in`.
    void put_groups(const unsigned char* in, std::size_t groups, std::string& out);
    // Writes whole 4-character groups of encoded text, breaking lines.
    void put_chars(const char* chars, std::size_t n, std::string& out);

    unsigned char m_pending[3] = {0, 0, 0};
    std::size_t m_pending_len = 0;
    std::size_t m_line_len = 0;    // characters on the current line
    std::size_t m_total = 0;       // characters written so far (without breaks)
    bool m_break_pending = false;  // a full line ended; its CR LF waits for more output
};

}  // namespace vlt::encoding
