// The argument text: the input, cut at NUL bytes, stands for the program's
// arguments. They are checked as outside text and joined, then split into the
// parameter table with the mode flags, as a run does.

#include <vector>

#include "app/params.h"
#include "app/platform.h"
#include "encoding/utf8.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vlt;
    std::string bytes(fuzz::as_text(data, size));
    std::vector<char*> argv{const_cast<char*>("vellumtide")};
    for (std::size_t start = 0; start <= bytes.size();) {
        std::size_t end = bytes.find('\0', start);
        if (end == std::string::npos) end = bytes.size();
        // Each piece already ends with a NUL: the one found, or the string's own.
        argv.push_back(bytes.data() + start);
        start = end + 1;
    }
    const std::string text = app::argument_text(static_cast<int>(argv.size()), argv.data());
    fuzz::check(encoding::is_valid_utf8(text), "argument text is valid UTF-8");

    const Result<app::CommandLine> parsed = app::parse_command_line(text);
    if (!parsed.ok()) return 0;
    const app::CommandLine& line = *parsed;
    const app::ServerValues& sv = line.server;
    const app::MessageValues& mv = line.message;
    for (const std::string* value :
         {&sv.smtp_server, &sv.smtp_port, &sv.from, &sv.pop_server, &sv.pop_port, &sv.user,
          &sv.password, &line.tls, &mv.to, &mv.cc, &mv.subject, &mv.body, &mv.attach}) {
        fuzz::check(encoding::is_valid_utf8(*value), "item values are valid UTF-8");
    }
    fuzz::check(line.items >= 2, "item count");
    return 0;
}
