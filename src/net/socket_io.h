#pragma once
// The socket calls of a session, with every wait bounded.
//
// One implementation per system (socket_io_posix.cpp, socket_io_win32.cpp).
// On POSIX the socket stays in blocking mode: each call asks the system not to
// block (MSG_DONTWAIT) and waits with poll() for at most the time it is given,
// and the connect is bounded by the send time-out. On Windows the socket is
// non-blocking from the start (Winsock 2, started once per process), the
// connect waits with select() for at most its limit, and so does every send
// and receive. Either way a silent or slow peer can never hold the caller
// longer than the limit it is given. Sends never raise SIGPIPE: writing to a
// closed connection is a Failed result. Failures carry the Windows Sockets
// code (error_texts.h): the native WSAGetLastError() code on Windows, the
// errno value mapped onto it on POSIX.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vlt::net {

using SteadyClock = std::chrono::steady_clock;

// The system's handle of a socket (a descriptor on POSIX, a SOCKET on
// Windows), held in an integer wide enough for both. kNoSocket is no socket:
// -1 on POSIX, INVALID_SOCKET (all bits set) on Windows.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

struct IoResult {
    enum class Status { Ok, Closed, Failed, TimedOut };
    Status status = Status::Ok;
    std::size_t count = 0;  // bytes received (Ok)
    int code = 0;           // Windows Sockets code (Failed)

    bool ok() const { return status == Status::Ok; }
    static IoResult failed(int code) { return IoResult{Status::Failed, 0, code}; }
};

// What a wait is for.
enum class Readiness { Readable, Writable };

// A new IPv4 stream socket whose send and receive time-outs are `timeout`;
// kNoSocket when none can be made. A time-out that cannot be set does not
// stop it: `notices` gets "WinSockManager: setsockopt() SO_SNDTIMEO error: -1"
// (or SO_RCVTIMEO) and the socket is returned all the same.
SocketHandle open_socket(std::chrono::milliseconds timeout, std::vector<std::string>& notices);

// Connects `socket` to `address` (network byte order) and `port`, waiting at
// most `limit`. Ok when connected; otherwise Failed with the code of the
// failure (10061 when refused) or TimedOut with 10060.
IoResult connect_socket(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                        std::chrono::milliseconds limit);

// Closes the socket; kNoSocket is ignored.
void close_socket(SocketHandle socket);

// Waits until `socket` is ready as asked or the deadline passes (TimedOut).
// A peer that closed or reset counts as ready: the call that follows reports
// it.
IoResult wait_ready(SocketHandle socket, Readiness readiness, SteadyClock::time_point deadline);

// Receives up to `capacity` bytes, waiting until the deadline at most. Closed
// when the peer ended the connection.
IoResult receive_some(SocketHandle socket, char* buffer, std::size_t capacity,
                      SteadyClock::time_point deadline);

// Sends all of `bytes`, partial sends continued. Fails with 10060 when the
// connection takes nothing for `stall_limit`.
IoResult send_all(SocketHandle socket, std::string_view bytes,
                  std::chrono::milliseconds stall_limit);

}  // namespace vlt::net
