// Code page 932 and UTF-8 decoding of outside bytes: whatever comes in, the
// program text that comes out is valid UTF-8, and valid UTF-8 survives the
// round trip through code points unchanged.

#include "encoding/cp932.h"
#include "encoding/utf8.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vlt;
    const std::string_view bytes = fuzz::as_text(data, size);

    const std::string external = encoding::decode_external(bytes);
    fuzz::check(encoding::is_valid_utf8(external), "decode_external gives valid UTF-8");
    const std::string from932 = encoding::from_cp932(bytes);
    fuzz::check(encoding::is_valid_utf8(from932), "from_cp932 gives valid UTF-8");

    const std::u32string points = encoding::to_u32(bytes);
    fuzz::check(points.size() == encoding::char_count(bytes), "char_count counts code points");
    if (encoding::is_valid_utf8(bytes)) {
        fuzz::check(encoding::to_utf8(points) == bytes, "valid UTF-8 round-trips");
        // Code page 932 bytes of program text read back as text again.
        fuzz::check(encoding::is_valid_utf8(encoding::from_cp932(encoding::to_cp932(bytes))),
                    "to_cp932 bytes decode");
        (void)encoding::is_single_byte(bytes);
    }
    return 0;
}
