#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "net/error_codes_posix.h"
#include "net/error_texts.h"
#include "net/socket_io.h"

namespace vlt::net {
namespace {

int remaining_ms(SteadyClock::time_point deadline) {
    const auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms);
}

int descriptor(SocketHandle socket) {
    return static_cast<int>(socket);
}

timeval to_timeval(std::chrono::milliseconds ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms.count() % 1000) * 1000);
    return tv;
}

// One attempt each that does not block: as send() / recv(), errno set on -1.
long send_now(SocketHandle socket, const char* data, std::size_t size) {
    return static_cast<long>(::send(descriptor(socket), data, size, MSG_NOSIGNAL | MSG_DONTWAIT));
}

long receive_now(SocketHandle socket, char* buffer, std::size_t capacity) {
    return static_cast<long>(::recv(descriptor(socket), buffer, capacity, MSG_DONTWAIT));
}

}  // namespace

SocketHandle open_socket(std::chrono::milliseconds timeout, std::vector<std::string>& notices) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    // The time-outs bound the connect; every later wait has its own limit.
    const timeval tv = to_timeval(timeout);
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) {
        notices.push_back("WinSockManager: setsockopt() SO_SNDTIMEO error: -1");
    }
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
        notices.push_back("WinSockManager: setsockopt() SO_RCVTIMEO error: -1");
    }
    return fd;
}

// The socket is blocking here; its send time-out bounds the attempt.
IoResult connect_socket(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                        std::chrono::milliseconds limit) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = address;
    const int fd = descriptor(socket);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        return IoResult{};
    }
    // The send time-out ran out while the attempt was still going on.
    if (errno == EINPROGRESS) return IoResult{IoResult::Status::TimedOut, 0, kWsaEtimedout};
    if (errno != EINTR) return IoResult::failed(winsock_code_from_errno(errno));
    // Interrupted: the attempt goes on in the background; wait for its end.
    const IoResult ready = wait_ready(socket, Readiness::Writable, SteadyClock::now() + limit);
    if (!ready.ok()) return ready;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return IoResult::failed(winsock_code_from_errno(errno));
    }
    if (error != 0) return IoResult::failed(winsock_code_from_errno(error));
    return IoResult{};
}

void close_socket(SocketHandle socket) {
    if (socket != kNoSocket) ::close(descriptor(socket));
}

IoResult wait_ready(SocketHandle socket, Readiness readiness, SteadyClock::time_point deadline) {
    const short events = readiness == Readiness::Readable ? POLLIN : POLLOUT;
    for (;;) {
        pollfd entry{descriptor(socket), events, 0};
        const int timeout = remaining_ms(deadline);
        const int rc = ::poll(&entry, 1, timeout);
        if (rc > 0) return IoResult{};
        if (rc == 0) {
            if (SteadyClock::now() >= deadline)
                return IoResult{IoResult::Status::TimedOut, 0, kWsaEtimedout};
            continue;  // woke a little early
        }
        if (errno == EINTR) continue;
        return IoResult::failed(winsock_code_from_errno(errno));
    }
}

IoResult receive_some(SocketHandle socket, char* buffer, std::size_t capacity,
                      SteadyClock::time_point deadline) {
    for (;;) {
        const IoResult ready = wait_ready(socket, Readiness::Readable, deadline);
        if (!ready.ok()) return ready;
        const long n = receive_now(socket, buffer, capacity);
        if (n > 0) return IoResult{IoResult::Status::Ok, static_cast<std::size_t>(n), 0};
        if (n == 0) return IoResult{IoResult::Status::Closed, 0, 0};
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return IoResult::failed(winsock_code_from_errno(errno));
    }
}

IoResult send_all(SocketHandle socket, std::string_view bytes,
                  std::chrono::milliseconds stall_limit) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long n = send_now(socket, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return IoResult::failed(winsock_code_from_errno(errno));
        }
        const IoResult ready =
            wait_ready(socket, Readiness::Writable, SteadyClock::now() + stall_limit);
        if (ready.status == IoResult::Status::TimedOut) return IoResult::failed(kWsaEtimedout);
        if (!ready.ok()) return ready;
    }
    return IoResult{IoResult::Status::Ok, done, 0};
}

}  // namespace vlt::net
