#include "net/reply.h"

namespace vlt::net {

std::string Reply::text() const {
    std::size_t size = 0;
    for (const auto& line : lines) size += line.size();
    std::string joined;
    joined.reserve(size);
    for (const auto& line : lines) joined += line;
    return joined;
}

const std::string& Reply::last_line() const {
    static const std::string kEmpty;
    return lines.empty() ? kEmpty : lines.back();
}

}  // namespace vlt::net
