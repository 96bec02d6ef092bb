// Base64: decoding any text, and the encoders checked against the decoder:
// the input decodes back from its encoding, and the stream encoder fed in
// pieces gives exactly the whole-text encoding.

#include <fuzzer/FuzzedDataProvider.h>

#include "encoding/base64.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vlt;
    const std::string_view bytes = fuzz::as_text(data, size);
    const std::string decoded = encoding::base64_decode(bytes);
    fuzz::check(decoded.size() <= bytes.size() / 4 * 3 + 2, "decoding shrinks the text");

    const std::string encoded = encoding::base64_encode(bytes);
    fuzz::check(encoding::base64_decode(encoded) == bytes, "encoded text decodes back");
    fuzz::check(encoding::base64_decode(encoding::base64_encode_line(bytes)) == bytes,
                "one-line text decodes back");

    FuzzedDataProvider pieces(data, size);
    encoding::Base64StreamEncoder stream;
    std::string streamed;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t n =
            std::min(bytes.size() - at, pieces.ConsumeIntegralInRange<std::size_t>(1, 200));
        stream.update(bytes.substr(at, n), streamed);
        at += n;
    }
    stream.finish(streamed);
    fuzz::check(streamed == encoded, "the stream encoder equals the whole-text encoder");
    return 0;
}
