#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>

#include "net/error_texts.h"
#include "net/socket_io.h"
#include "net/win32_sockets.h"

namespace vlt::net {
namespace {

SOCKET native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

// The time left until `deadline` for select(); zero once it has passed.
timeval remaining(SteadyClock::time_point deadline) {
    const auto left = deadline - SteadyClock::now();
    timeval tv{};
    if (left <= SteadyClock::duration::zero()) return tv;
    const auto us = std::chrono::ceil<std::chrono::microseconds>(left).count();
    constexpr long long kMaxSeconds = 0x7fffffff;
    tv.tv_sec = static_cast<long>(std::min<long long>(us / 1000000, kMaxSeconds));
    tv.tv_usec = static_cast<long>(us % 1000000);
    return tv;
}

// A set holding `socket` alone; select() on Windows takes sets of handles, so
// no descriptor limit applies.
fd_set only(SOCKET socket) {
    fd_set set{};
    set.fd_count = 1;
    set.fd_array[0] = socket;
    return set;
}

int as_length(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

}  // namespace

int start_winsock() {
    // The outcome of the one start, kept for the life of the process.
    static const int outcome = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return outcome;
}

SocketHandle open_socket(std::chrono::milliseconds timeout, std::vector<std::string>& notices) {
    if (start_winsock() != 0) return kNoSocket;
    const SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return kNoSocket;
    // The socket's own time-outs are set as on other systems, although every
    // wait here is bounded by select() already.
    const DWORD ms = static_cast<DWORD>(std::clamp<long long>(timeout.count(), 0, 0x7fffffff));
    const char* value = reinterpret_cast<const char*>(&ms);
    if (::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, value, sizeof ms) != 0) {
        notices.push_back("WinSockManager: setsockopt() SO_SNDTIMEO error: -1");
    }
    if (::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, value, sizeof ms) != 0) {
        notices.push_back("WinSockManager: setsockopt() SO_RCVTIMEO error: -1");
    }
    // Non-blocking from here on: no call may wait longer than its limit.
    u_long nonblocking = 1;
    if (::ioctlsocket(s, static_cast<long>(FIONBIO), &nonblocking) != 0) {
        ::closesocket(s);
        return kNoSocket;
    }
    return static_cast<SocketHandle>(s);
}

IoResult connect_socket(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                        std::chrono::milliseconds limit) {
    const SOCKET s = native(socket);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = address;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        return IoResult{};
    }
    const int started = WSAGetLastError();
    if (started != WSAEWOULDBLOCK) return IoResult::failed(started);
    // The attempt goes on in the background: writable means connected, an
    // exception means it failed, and SO_ERROR then holds the reason.
    const auto deadline = SteadyClock::now() + limit;
    for (;;) {
        fd_set writable = only(s);
        fd_set failed = only(s);
        timeval tv = remaining(deadline);
        const int rc = ::select(0, nullptr, &writable, &failed, &tv);
        if (rc == SOCKET_ERROR) return IoResult::failed(WSAGetLastError());
        if (rc > 0) {
            int error = 0;
            int length = sizeof error;
            if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) !=
                0) {
                return IoResult::failed(WSAGetLastError());
            }
            if (error != 0) return IoResult::failed(error);
            if (writable.fd_count != 1) return IoResult::failed(kWsaEconnreset);
            return IoResult{};
        }
        if (SteadyClock::now() >= deadline) {
            return IoResult{IoResult::Status::TimedOut, 0, kWsaEtimedout};
        }
    }
}

void close_socket(SocketHandle socket) {
    if (socket != kNoSocket) ::closesocket(native(socket));
}

IoResult wait_ready(SocketHandle socket, Readiness readiness, SteadyClock::time_point deadline) {
    const SOCKET s = native(socket);
    for (;;) {
        fd_set ready = only(s);
        fd_set failed = only(s);
        timeval tv = remaining(deadline);
        const int rc = readiness == Readiness::Readable
                           ? ::select(0, &ready, nullptr, &failed, &tv)
                           : ::select(0, nullptr, &ready, &failed, &tv);
        if (rc > 0) return IoResult{};
        if (rc == 0) {
            if (SteadyClock::now() >= deadline)
                return IoResult{IoResult::Status::TimedOut, 0, kWsaEtimedout};
            continue;  // woke a little early
        }
        const int code = WSAGetLastError();
        if (code == WSAEINTR) continue;
        return IoResult::failed(code);
    }
}

IoResult receive_some(SocketHandle socket, char* buffer, std::size_t capacity,
                      SteadyClock::time_point deadline) {
    for (;;) {
        const IoResult ready = wait_ready(socket, Readiness::Readable, deadline);
        if (!ready.ok()) return ready;
        const int n = ::recv(native(socket), buffer, as_length(capacity), 0);
        if (n > 0) return IoResult{IoResult::Status::Ok, static_cast<std::size_t>(n), 0};
        if (n == 0) return IoResult{IoResult::Status::Closed, 0, 0};
        const int code = WSAGetLastError();
        if (code == WSAEWOULDBLOCK || code == WSAEINTR) continue;
        return IoResult::failed(code);
    }
}

IoResult send_all(SocketHandle socket, std::string_view bytes,
                  std::chrono::milliseconds stall_limit) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int n =
            ::send(native(socket), bytes.data() + done, as_length(bytes.size() - done), 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n == SOCKET_ERROR) {
            const int code = WSAGetLastError();
            if (code == WSAEINTR) continue;
            if (code != WSAEWOULDBLOCK) return IoResult::failed(code);
        }
        const IoResult ready =
            wait_ready(socket, Readiness::Writable, SteadyClock::now() + stall_limit);
        if (ready.status == IoResult::Status::TimedOut) return IoResult::failed(kWsaEtimedout);
        if (!ready.ok()) return ready;
    }
    return IoResult{IoResult::Status::Ok, done, 0};
}

}  // namespace vlt::net
