#include "net/resolve.h"

namespace vlt::net {

std::optional<std::uint16_t> parse_port(std::string_view port) {
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (char c : port) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        ++digits;
        if (value > 65535) return std::nullopt;  // also keeps the sum from overflowing
    }
    if (digits == 0 || value == 0) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace vlt::net
