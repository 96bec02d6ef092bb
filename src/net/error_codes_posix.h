#pragma once
// The mapping of POSIX error numbers onto the Windows Sockets codes of the
// error texts (error_texts.h). Pure functions; nothing here fails.

namespace vlt::net {

// An errno value as the Windows Sockets code with the same meaning; an errno
// without an equivalent is returned unchanged (and so has no row). EAGAIN and
// EWOULDBLOCK count as a timed-out send or receive (10060).
int winsock_code_from_errno(int err);

// A getaddrinfo() result as the Windows Sockets resolver code (11001-11004);
// other results map to 11003 (no recovery). 0 stays 0.
int winsock_code_from_resolver(int eai);

}  // namespace vlt::net
