#pragma once
// Turning the server text of the settings into an IPv4 address and a port.
//
// resolve_host() takes dotted IPv4 text literally and looks any other text up
// as a host name, using the first IPv4 address the resolver lists. It reports
// nothing: a name that cannot be resolved yields 0, and the session then fails
// the open as a connect failure. parse_port() reads the leading digits of the
// port text; nullopt when there are none or the number is outside 1-65535.

#include <cstdint>
#include <optional>
#include <string_view>

namespace vlt::net {

struct Resolved {
    std::uint32_t address = 0;  // network byte order; 0 = not resolved
    int error_code = 0;         // the resolver's code (11001-11004) when 0
};

// `host` is already trimmed. Dotted text follows inet_addr(): "127.1" and
// "0x7f.0.0.1" are addresses; "255.255.255.255" reads as "no address" there,
// so it goes to the name lookup like any other name.
Resolved resolve_host(std::string_view host);

// "25" -> 25, "25abc" -> 25, " 587" -> nullopt (no leading digit), "0" and
// "70000" -> nullopt.
std::optional<std::uint16_t> parse_port(std::string_view port);

}  // namespace vlt::net
