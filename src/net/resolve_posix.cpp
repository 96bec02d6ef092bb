#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

#include "net/error_codes_posix.h"
#include "net/resolve.h"

namespace vlt::net {

Resolved resolve_host(std::string_view host) {
    const std::string text(host);
    if (text.empty() || text.find('\0') != std::string::npos) {
        return Resolved{0, 11001};
    }

    const in_addr_t literal = inet_addr(text.c_str());
    if (literal != INADDR_NONE) return Resolved{literal, 0};

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(text.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        if (found != nullptr) freeaddrinfo(found);
        return Resolved{0, winsock_code_from_resolver(rc != 0 ? rc : EAI_NONAME)};
    }
    Resolved result{0, 11004};
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
