#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <string>

#include "net/resolve.h"
#include "net/win32_sockets.h"

namespace vlt::net {

Resolved resolve_host(std::string_view host) {
    const std::string text(host);
    if (text.empty() || text.find('\0') != std::string::npos) {
        return Resolved{0, WSAHOST_NOT_FOUND};
    }
    if (const int started = start_winsock(); started != 0) return Resolved{0, started};

    const unsigned long literal = inet_addr(text.c_str());
    if (literal != INADDR_NONE) return Resolved{static_cast<std::uint32_t>(literal), 0};

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    // The resolver's failures are Windows Sockets codes already (11001 ...).
    const int rc = getaddrinfo(text.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        if (found != nullptr) freeaddrinfo(found);
        return Resolved{0, rc != 0 ? rc : WSAHOST_NOT_FOUND};
    }
    Resolved result{0, WSANO_DATA};
    for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr != nullptr &&
            ai->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in sin{};
            std::memcpy(&sin, ai->ai_addr, sizeof sin);
            result = Resolved{sin.sin_addr.s_addr, 0};
            break;
        }
    }
    freeaddrinfo(found);
    return result;
}

}  // namespace vlt::net
