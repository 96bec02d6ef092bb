// The attachment file name: the input, as outside text, is the attachment
// path, and the part's header lines are built from it. A name may hold
// anything, but it must not break the header: no line end other than those
// of the header lines themselves.

#include "encoding/utf8.h"
#include "fuzz_support.h"
#include "smtp/attachment.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vlt;
    const std::string path = encoding::decode_external(fuzz::as_text(data, size));
    const std::string name = smtp::file_name_part(path);
    fuzz::check(name.find_first_of("/\\:") == std::string::npos, "the bare name has no folder");

    const std::string head =
        smtp::attachment_head(smtp::AttachmentKind::Binary, path, "==_Bndry_==20240102030405-0123");
    // Every line end is CR LF, and the part's header ends with the empty line.
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\n') fuzz::check(i > 0 && head[i - 1] == '\r', "LF only after CR");
        if (head[i] == '\r')
            fuzz::check(i + 1 < head.size() && head[i + 1] == '\n', "CR before LF");
    }
    fuzz::check(head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0,
                "the header ends with the empty line");
    fuzz::check(head.find("\r\n\r\n") == head.size() - 4, "no empty line inside the header");
    return 0;
}
