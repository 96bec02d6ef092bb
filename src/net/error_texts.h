#pragma once
// Japanese texts for socket error codes, and the mapping of this platform's
// error numbers onto those codes.
//
// Codes are the Windows Sockets numbers (10004 WSAEINTR ... 11004 WSANO_DATA)
// so that the reports read the same on every platform. A text is two lines:
// the meaning line, CR LF, the explanation line, each with its leading and
// trailing blanks. A code without a row gives "その他のエラー: " + the code.
// Pure functions; nothing here fails.

#include <string>

namespace vlt::net {

// The Windows Sockets codes the session itself gives, by their Winsock names.
inline constexpr int kWsaEinval = 10022;        // WSAEINVAL
inline constexpr int kWsaEnotsock = 10038;      // WSAENOTSOCK
inline constexpr int kWsaEconnaborted = 10053;  // WSAECONNABORTED
inline constexpr int kWsaEconnreset = 10054;    // WSAECONNRESET
inline constexpr int kWsaEtimedout = 10060;     // WSAETIMEDOUT

// The text for `code`. Only the low 16 bits of `code` count, read as a signed
// 16-bit number (65536 + 10061 reads as 10061).
std::string winsock_error_text(int code);

// An errno value as the Windows Sockets code with the same meaning; an errno
// without an equivalent is returned unchanged (and so has no row). EAGAIN and
// EWOULDBLOCK count as a timed-out send or receive (10060).
int winsock_code_from_errno(int err);

// A getaddrinfo() result as the Windows Sockets resolver code (11001-11004);
// other results map to 11003 (no recovery). 0 stays 0.
int winsock_code_from_resolver(int eai);

}  // namespace vlt::net
