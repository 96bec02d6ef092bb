// The reply reader fed in random pieces: the first bytes choose the protocol,
// the caps and the piece sizes, the rest is what the server sends. Every byte
// that goes in comes out again in the replies, in order, until a reply is over
// a cap; the caps hold for every reply.

#include <fuzzer/FuzzedDataProvider.h>

#include "common/wire.h"
#include "encoding/utf8.h"
#include "fuzz_support.h"
#include "net/line_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vlt;
    FuzzedDataProvider in(data, size);
    const auto protocol = in.ConsumeBool() ? net::LineProtocol::Smtp : net::LineProtocol::Pop3;
    // Small caps half of the time, so that the limits are reached; the
    // session's own caps otherwise.
    const bool small = in.ConsumeBool();
    const std::size_t max_lines = small ? in.ConsumeIntegralInRange<std::size_t>(1, 8) : 512;
    const std::size_t max_bytes =
        small ? in.ConsumeIntegralInRange<std::size_t>(1, 256) : 64 * 1024;
    net::ReplyReader reader(protocol, max_lines, max_bytes);

    std::string sent;       // every byte given to the reader
    std::string delivered;  // every byte of the replies taken
    auto progress = net::ReplyReader::Progress::NeedMore;
    while (in.remaining_bytes() > 0 && progress != net::ReplyReader::Progress::TooLong) {
        const std::size_t piece = in.ConsumeIntegralInRange<std::size_t>(1, 64);
        const std::string bytes = in.ConsumeBytesAsString(piece);
        sent += bytes;
        progress = reader.add(bytes);
        while (progress == net::ReplyReader::Progress::Complete) {
            const net::Reply reply = reader.take();
            fuzz::check(!reply.lines.empty() && reply.lines.size() <= max_lines,
                        "a reply has 1 to max_lines lines");
            const std::string text = reply.text();
            fuzz::check(text.size() <= max_bytes, "a reply has at most max_bytes bytes");
            for (const std::string& line : reply.lines) {
                fuzz::check(!line.empty() && line.back() == '\n', "each line ends with LF");
            }
            fuzz::check(encoding::is_valid_utf8(server_text_for_log(text)),
                        "the log text of a reply is valid UTF-8");
            delivered += text;
            progress = reader.resume();
        }
    }
    if (progress == net::ReplyReader::Progress::TooLong) {
        fuzz::check(reader.gathered().size() <= max_bytes, "an over-long reply keeps the cap");
        fuzz::check(encoding::is_valid_utf8(server_text_for_log(reader.first_line())),
                    "the log text of the first line is valid UTF-8");
        delivered += reader.gathered();
        fuzz::check(sent.compare(0, delivered.size(), delivered) == 0,
                    "the replies are the bytes received, in order");
    } else {
        delivered += reader.gathered();
        fuzz::check(delivered == sent, "the replies and the rest are the bytes received");
    }
    return 0;
}
