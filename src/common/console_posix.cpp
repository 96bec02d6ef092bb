#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/console.h"

namespace vlt {

namespace {

void write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

// The C streams may hold text of a library that printed through them; they
// are flushed first so that the order on the screen stays the order of the
// calls.
void write_standard_output(std::string_view text) {
    std::fflush(stdout);
    write_all(STDOUT_FILENO, text);
}

void write_standard_error(std::string_view text) {
    std::fflush(stderr);
    write_all(STDERR_FILENO, text);
}

}  // namespace vlt
