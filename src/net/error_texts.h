#pragma once
// Japanese texts for socket error codes.
//
// Codes are the Windows Sockets numbers (10004 WSAEINTR ... 11004 WSANO_DATA)
// so that the reports read the same on every platform: on Windows they are the
// native WSAGetLastError() codes, on POSIX the errno and resolver results
// mapped onto them (error_codes_posix.h). A text is two lines:
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

}  // namespace vlt::net
