// ISO-2022-JP conversion and header words. The input is taken both as code
// page 932 bytes (the byte conversions) and as outside text made program text
// (the Unicode conversions and the RFC 2047 words). Every conversion leaves
// the text in ASCII mode at its end.

#include "encoding/kanji.h"
#include "encoding/utf8.h"
#include "fuzz_support.h"
#include "smtp/header_words.h"

namespace {

// True when the last escape sequence of `jis` (if any) returns to a
// single-byte set, so that whatever follows is read as ASCII.
bool ends_in_ascii(std::string_view jis) {
    const std::size_t esc = jis.rfind('\x1b');
    if (esc == std::string_view::npos) return true;
    return jis.substr(esc, 2) == "\x1b(";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vlt;
    const std::string_view bytes = fuzz::as_text(data, size);
    const bool has_escape = bytes.find('\x1b') != std::string_view::npos;

    (void)encoding::sjis_han2zen(bytes);
    const std::string jis = encoding::sjis_to_jis(bytes);
    const std::string roman = encoding::sjis_to_jis(bytes, true);
    if (!has_escape) {
        fuzz::check(ends_in_ascii(jis), "sjis_to_jis closes its last run");
        fuzz::check(ends_in_ascii(roman), "sjis_to_jis (roman) closes its last run");
    }

    const std::string text = encoding::decode_external(bytes);
    const bool text_has_escape = text.find('\x1b') != std::string::npos;
    fuzz::check(encoding::is_valid_utf8(encoding::unicode_han2zen(text)),
                "unicode_han2zen gives valid UTF-8");
    const std::string words_jis = encoding::unicode_to_jis(text);
    std::string segment;
    encoding::append_jis(segment, text);
    if (!text_has_escape) {
        fuzz::check(ends_in_ascii(words_jis), "unicode_to_jis closes its last run");
        fuzz::check(ends_in_ascii(segment), "append_jis closes its last run");
    }

    // The body's stream encoder, fed the text cut at a point the input
    // chooses, gives the octets of the whole-text conversion.
    const std::size_t cut = size == 0 ? 0 : data[0] % (text.size() + 1);
    encoding::JisStreamEncoder stream;
    std::string streamed;
    stream.append(std::string_view(text).substr(0, cut), streamed);
    stream.append(std::string_view(text).substr(cut), streamed);
    stream.finish(streamed);
    fuzz::check(streamed == segment, "the stream encoder matches append_jis");

    (void)encoding::fits_iso2022jp(text);
    (void)smtp::encode_header_text(text, smtp::MailCharset::Utf8);

    const std::string header = smtp::encode_header_text(text);
    (void)smtp::encode_header_words(text);
    (void)smtp::fold_header_text(text);
    if (!text_has_escape) fuzz::check(ends_in_ascii(header), "header text ends in ASCII");
    return 0;
}
