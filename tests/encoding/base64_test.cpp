#include "encoding/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/base64_reference.h"

namespace vlt::encoding {
namespace {

std::string random_bytes(std::size_t n, std::mt19937& rng) {
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

TEST(Base64, EncodeVectors) {
    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        // RFC 4648, section 10.
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"abc", "YWJj"},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {std::string("\0\0\0", 3), "AAAA"},
        {"\xFF\xFF\xFF", "////"},
        {"\xFB\xEF\xBE", "++++"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base64_encode(c.bytes), c.text) << c.bytes;
        EXPECT_EQ(base64_encode_line(c.bytes), c.text) << c.bytes;
    }
}

TEST(Base64, LineBreaks) {
    struct Case {
        const char* name;
        std::size_t bytes;
        std::vector<std::size_t> lines;  // line lengths, each but the last followed by CR LF
        bool ends_with_crlf;
    };
    const Case cases[] = {
        {"56 bytes: one line of 76, no break", 56, {76}, false},
        {"57 bytes: one line of 76, no break", 57, {76}, false},
        {"58 bytes: a full line and 4", 58, {76, 4}, false},
        {"113 bytes: two full lines, the padded one too", 113, {76, 76}, true},
        {"114 bytes: two full lines", 114, {76, 76}, true},
        {"115 bytes: two full lines and 4", 115, {76, 76, 4}, false},
        {"171 bytes: three full lines", 171, {76, 76, 76}, true},
        {"172 bytes: three full lines and 4", 172, {76, 76, 76, 4}, false},
    };
    for (const auto& c : cases) {
        const std::string text = base64_encode(std::string(c.bytes, 'x'));
        std::string expected_shape;
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            expected_shape += std::string(c.lines[i], '.');
            if (i + 1 < c.lines.size() || c.ends_with_crlf) expected_shape += "\r\n";
        }
        std::string shape = text;
        for (char& ch : shape) {
            if (ch != '\r' && ch != '\n') ch = '.';
        }
        EXPECT_EQ(shape, expected_shape) << c.name;
    }
}

TEST(Base64, EncodeMatchesReferenceForEverySizeUpTo400) {
    std::mt19937 rng(4648);
    for (std::size_t n = 0; n <= 400; ++n) {
        const std::string bytes = random_bytes(n, rng);
        ASSERT_EQ(base64_encode(bytes), test::reference_base64(bytes)) << n;
    }
}

TEST(Base64, EncodeLineNeverBreaks) {
    const std::string text = base64_encode_line(std::string(300, 'z'));
    EXPECT_EQ(text.size(), 400u);
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(Base64, Decode) {
    struct Case {
        const char* name;
        std::string text;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"rfc 4648 foobar", "Zm9vYmFy", "foobar"},
        {"rfc 4648 fooba", "Zm9vYmE=", "fooba"},
        {"rfc 4648 foob", "Zm9vYg==", "foob"},
        {"abc", "YWJj", "abc"},
        {"line break in the middle", "YW\r\nJj", "abc"},
        {"without padding, one byte", "YQ", "a"},
        {"without padding, two bytes", "YWI", "ab"},
        {"padding in the middle is dropped too", "YQ==YWJj", "a\x06\x16&"},
        {"one character left gives no byte", "YWJjY", "abc"},
        {"a lone character gives nothing", "Y", ""},
        {"lone CR counts as value 0", "YW\rJ", "a`\t"},
        {"lone LF counts as value 0", "YW\nJ", "a`\t"},
        {"lone LF at the end is a leftover", "YWJj\n", "abc"},
        {"CR = LF: two lone characters", "YWJj\r=\n", std::string("abc\0", 4)},
        {"CR CR LF leaves one CR", "YWJj\r\r\nAA", std::string("abc\0\0", 5)},
        {"other characters count as 0", "YW*J", "a`\t"},
    };
    for (const auto& c : cases) EXPECT_EQ(base64_decode(c.text), c.bytes) << c.name;
}

TEST(Base64, DecodeReversesEncodeForEverySizeUpTo400) {
    std::mt19937 rng(2045);
    for (std::size_t n = 0; n <= 400; ++n) {
        const std::string bytes = random_bytes(n, rng);
        ASSERT_EQ(base64_decode(base64_encode(bytes)), bytes) << n;
    }
}

// Feeds `bytes` in random pieces (empty ones included) and returns the text.
std::string stream_encode(Base64StreamEncoder& encoder, const std::string& bytes, std::mt19937& rng,
                          std::size_t max_piece) {
    std::string out;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t piece = std::min<std::size_t>(rng() % (max_piece + 1), bytes.size() - at);
        encoder.update(std::string_view(bytes).substr(at, piece), out);
        at += piece;
    }
    encoder.finish(out);
    return out;
}

TEST(Base64, StreamEncoderMatchesOneShotWhateverThePieces) {
    std::mt19937 rng(76);
    const std::size_t sizes[] = {0,   1,   2,   3,   55,  56,  57,  58,  59,   112,  113,
                                 114, 115, 116, 170, 171, 172, 228, 229, 1000, 4096, 10000};
    const std::size_t max_pieces[] = {1, 2, 3, 4, 7, 57, 58, 100, 5000};
    for (std::size_t n : sizes) {
        const std::string bytes = random_bytes(n, rng);
        const std::string expected = base64_encode(bytes);
        for (std::size_t max_piece : max_pieces) {
            for (int round = 0; round < 5; ++round) {
                Base64StreamEncoder encoder;
                ASSERT_EQ(stream_encode(encoder, bytes, rng, max_piece), expected)
                    << n << " bytes, pieces up to " << max_piece;
            }
        }
    }
}

TEST(Base64, StreamEncoderStartsAfreshAfterFinish) {
    std::mt19937 rng(1);
    Base64StreamEncoder encoder;
    const std::string first = random_bytes(115, rng);
    const std::string second = random_bytes(58, rng);
    EXPECT_EQ(stream_encode(encoder, first, rng, 10), base64_encode(first));
    EXPECT_EQ(stream_encode(encoder, second, rng, 10), base64_encode(second));
    std::string out;
    encoder.finish(out);
    EXPECT_EQ(out, "");
}

TEST(Base64, StreamEncoderWholeLinesInOnePiece) {
    // 114 bytes in one update: two full lines; the second CR LF only comes
    // with finish().
    Base64StreamEncoder encoder;
    std::string out;
    encoder.update(std::string(114, 'x'), out);
    EXPECT_EQ(out.size(), 76u + 2u + 76u);
    encoder.finish(out);
    EXPECT_EQ(out, base64_encode(std::string(114, 'x')));
}

}  // namespace
}  // namespace vlt::encoding
