// The text-file reader: the input is stored as a file and read back as a
// parameter's text (UTF-8 when valid, otherwise code page 932), which is
// always valid program text.

#include "common/files.h"
#include "encoding/utf8.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vlt;
    const std::string file = fuzz::scratch().put("body.txt", fuzz::as_text(data, size));
    const Result<std::optional<std::string>> read = read_text_file(file);
    fuzz::check(read.ok(), "a file that is there is read");
    if (!read.ok()) return 0;
    const std::optional<std::string>& text = *read;
    fuzz::check(text.has_value() == (size >= 2), "a file of two bytes or more is read");
    if (text) fuzz::check(encoding::is_valid_utf8(*text), "the text is valid UTF-8");
    return 0;
}
