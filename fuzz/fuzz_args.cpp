// The argument text: the input, cut at NUL bytes, stands for the program's
// arguments. They are checked as outside text and joined, then split into the
// parameter table with the mode flags, as a run does.

#include <vector>

#include "app/params.h"
#include "app/platform.h"
#include "common/log.h"
#include "common/report.h"
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

    LogWriter log(fuzz::scratch().path(), "fuzz");
    ErrorReport report(log);
    app::MailParams params;
    app::RunFlags flags;
    const app::CommandLine line = app::parse_command_line(text, params, flags, report);
    fuzz::check(int{flags.conf_mode} + int{flags.xcnf_mode} + int{flags.info_mode} <= 1,
                "at most one mode flag");
    for (const std::string& slot : params.slots) {
        fuzz::check(encoding::is_valid_utf8(slot), "parameter slots are valid UTF-8");
    }
    fuzz::check(line.items >= 0, "item count");
    return 0;
}
