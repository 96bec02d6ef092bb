#include "net/socket_io.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>

#include "net/error_texts.h"

namespace vlt::net {
namespace {

int remaining_ms(SteadyClock::time_point deadline) {
    const auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms);
}

}  // namespace

IoResult wait_ready(int fd, short events, SteadyClock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
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

long send_now(int fd, const char* data, std::size_t size) {
    return static_cast<long>(::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT));
}

long receive_now(int fd, char* buffer, std::size_t capacity) {
    return static_cast<long>(::recv(fd, buffer, capacity, MSG_DONTWAIT));
}

IoResult receive_some(int fd, char* buffer, std::size_t capacity,
                      SteadyClock::time_point deadline) {
    for (;;) {
        const IoResult ready = wait_ready(fd, POLLIN, deadline);
        if (!ready.ok()) return ready;
        const long n = receive_now(fd, buffer, capacity);
        if (n > 0) return IoResult{IoResult::Status::Ok, static_cast<std::size_t>(n), 0};
        if (n == 0) return IoResult{IoResult::Status::Closed, 0, 0};
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return IoResult::failed(winsock_code_from_errno(errno));
    }
}

IoResult send_all(int fd, std::string_view bytes, std::chrono::milliseconds stall_limit) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long n = send_now(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return IoResult::failed(winsock_code_from_errno(errno));
        }
        const IoResult ready = wait_ready(fd, POLLOUT, SteadyClock::now() + stall_limit);
        if (ready.status == IoResult::Status::TimedOut) return IoResult::failed(kWsaEtimedout);
        if (!ready.ok()) return ready;
    }
    return IoResult{IoResult::Status::Ok, done, 0};
}

}  // namespace vlt::net
