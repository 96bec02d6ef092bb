#pragma once
// The socket calls of a session, with every wait bounded.
//
// The socket itself stays in blocking mode; each call here asks the system not
// to block (MSG_DONTWAIT) and waits with poll() for at most the time it is
// given, so a silent or slow peer can never hold the caller longer than that.
// Sends never raise SIGPIPE (MSG_NOSIGNAL): writing to a closed connection is
// a Failed result. Failures carry the Windows Sockets code (error_texts.h).

#include <chrono>
#include <cstddef>
#include <string_view>

namespace vlt::net {

using SteadyClock = std::chrono::steady_clock;

struct IoResult {
    enum class Status { Ok, Closed, Failed, TimedOut };
    Status status = Status::Ok;
    std::size_t count = 0;  // bytes received (Ok)
    int code = 0;           // Windows Sockets code (Failed)

    bool ok() const { return status == Status::Ok; }
    static IoResult failed(int code) { return IoResult{Status::Failed, 0, code}; }
};

// Waits until `fd` is ready for `events` (POLLIN / POLLOUT) or the deadline
// passes (TimedOut). A peer that closed or reset counts as ready: the call
// that follows reports it.
IoResult wait_ready(int fd, short events, SteadyClock::time_point deadline);

// Receives up to `capacity` bytes, waiting until the deadline at most. Closed
// when the peer ended the connection.
IoResult receive_some(int fd, char* buffer, std::size_t capacity, SteadyClock::time_point deadline);

// Sends all of `bytes`, partial sends continued. Fails with 10060 when the
// connection takes nothing for `stall_limit`.
IoResult send_all(int fd, std::string_view bytes, std::chrono::milliseconds stall_limit);

// One send attempt that does not block: the count sent, or -1 with errno set
// (EAGAIN when the connection takes nothing right now).
long send_now(int fd, const char* data, std::size_t size);
// One receive attempt that does not block: as recv().
long receive_now(int fd, char* buffer, std::size_t capacity);

}  // namespace vlt::net
