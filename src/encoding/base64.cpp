#include "encoding/base64.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace vlt::encoding {

namespace {

constexpr std::size_t kLineChars = 76;
constexpr std::size_t kLineGroups = kLineChars / 4;  // 19 groups of 3 bytes per line
constexpr std::size_t kLineBytes = kLineGroups * 3;  // 57 input bytes per line

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12 bits of input: a group of three bytes
// becomes two lookups.
using CharPair = std::array<char, 2>;
constexpr std::array<CharPair, 4096> make_pairs() {
    std::array<CharPair, 4096> pairs{};
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        pairs[i] = {kAlphabet[i >> 6], kAlphabet[i & 0x3F]};
    }
    return pairs;
}
constexpr std::array<CharPair, 4096> kPairs = make_pairs();

// Value of each character code; codes outside the alphabet count as 0.
constexpr std::array<std::uint8_t, 256> make_values() {
    std::array<std::uint8_t, 256> values{};
    for (std::uint8_t v = 0; v < 64; ++v) values[static_cast<unsigned char>(kAlphabet[v])] = v;
    return values;
}
constexpr std::array<std::uint8_t, 256> kValues = make_values();

inline char* encode_group(const unsigned char* in, char* w) {
    const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
    std::memcpy(w, kPairs[v >> 12].data(), 2);
    std::memcpy(w + 2, kPairs[v & 0xFFF].data(), 2);
    return w + 4;
}

inline char* encode_groups(const unsigned char* in, std::size_t groups, char* w) {
    for (std::size_t i = 0; i < groups; ++i) w = encode_group(in + 3 * i, w);
    return w;
}

// The last one or two bytes as four characters with "=" padding.
inline char* encode_tail(const unsigned char* in, std::size_t n, char* w) {
    const unsigned char group[3] = {in[0], n > 1 ? in[1] : std::uint8_t{0}, 0};
    encode_group(group, w);
    w[3] = '=';
    if (n == 1) w[2] = '=';
    return w + 4;
}

inline std::size_t encoded_chars(std::size_t bytes) {
    return (bytes + 2) / 3 * 4;
}

}  // namespace

std::string base64_encode_line(std::string_view bytes) {
    std::string out(encoded_chars(bytes.size()), '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t groups = bytes.size() / 3;
    char* w = encode_groups(in, groups, out.data());
    if (const std::size_t rest = bytes.size() - groups * 3; rest > 0) {
        encode_tail(in + groups * 3, rest, w);
    }
    return out;
}

std::string base64_encode(std::string_view bytes) {
    std::string out;
    base64_encode(bytes, out);
    return out;
}

void base64_encode(std::string_view bytes, std::string& out) {
    const std::size_t chars = encoded_chars(bytes.size());
    if (chars <= kLineChars) {
        out = base64_encode_line(bytes);
        return;
    }

    // Longer than one line: every full line of 76 characters ends in CR LF,
    // the last one included.
    out.resize(chars + 2 * (chars / kLineChars));
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    char* w = out.data();
    for (; left >= kLineBytes; left -= kLineBytes, in += kLineBytes) {
        w = encode_groups(in, kLineGroups, w);
        *w++ = '\r';
        *w++ = '\n';
    }
    const std::size_t groups = left / 3;
    w = encode_groups(in, groups, w);
    if (const std::size_t rest = left - groups * 3; rest > 0)
        w = encode_tail(in + groups * 3, rest, w);
    // A padded last group can complete a line of its own (55 or 56 bytes left).
    if (w != out.data() + out.size()) {
        *w++ = '\r';
        *w++ = '\n';
    }
}

std::string base64_decode(std::string_view text) {
    std::string out(text.size() / 4 * 3 + 3, '\0');
    char* w = out.data();
    std::uint32_t acc = 0;
    int count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            continue;
        }
        if (c == '=') continue;
        acc = (acc << 6) | kValues[static_cast<unsigned char>(c)];
        if (++count == 4) {
            *w++ = static_cast<char>(acc >> 16);
            *w++ = static_cast<char>(acc >> 8);
            *w++ = static_cast<char>(acc);
            acc = 0;
            count = 0;
        }
    }
    // Two characters hold one byte, three hold two; a single one holds none.
    if (count == 2) {
        *w++ = static_cast<char>(acc >> 4);
    } else if (count == 3) {
        *w++ = static_cast<char>(acc >> 10);
        *w++ = static_cast<char>(acc >> 2);
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
    return out;
}

void Base64StreamEncoder::update(std::string_view bytes, std::string& out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    if (m_pending_len > 0) {
        const std::size_t take = std::min(left, 3 - m_pending_len);
        std::memcpy(m_pending + m_pending_len, in, take);
        m_pending_len += take;
        in += take;
        left -= take;
        if (m_pending_len < 3) return;
        put_groups(m_pending, 1, out);
        m_pending_len = 0;
    }
    const std::size_t groups = left / 3;
    put_groups(in, groups, out);
    m_pending_len = left - groups * 3;
    std::memcpy(m_pending, in + groups * 3, m_pending_len);
}

void Base64StreamEncoder::finish(std::string& out) {
    if (m_pending_len > 0) {
        char tail[4];
        encode_tail(m_pending, m_pending_len, tail);
        put_chars(tail, 4, out);
    }
    if (m_break_pending && m_total > kLineChars) out.append("\r\n");
    *this = Base64StreamEncoder{};
}

void Base64StreamEncoder::put_groups(const unsigned char* in, std::size_t groups,
                                     std::string& out) {
    if (groups == 0) return;
    const std::size_t start = out.size();
    out.resize(start + 4 * groups + 2 * (groups / kLineGroups + 2));
    char* const base = out.data();
    char* w = base + start;
    while (groups > 0) {
        if (m_break_pending) {
            *w++ = '\r';
            *w++ = '\n';
            m_break_pending = false;
        }
        const std::size_t n = std::min(groups, (kLineChars - m_line_len) / 4);
        w = encode_groups(in, n, w);
        in += 3 * n;
        groups -= n;
        m_line_len += 4 * n;
        m_total += 4 * n;
        if (m_line_len == kLineChars) {
            m_line_len = 0;
            m_break_pending = true;
        }
    }
    out.resize(static_cast<std::size_t>(w - base));
}

void Base64StreamEncoder::put_chars(const char* chars, std::size_t n, std::string& out) {
    if (m_break_pending) {
        out.append("\r\n");
        m_break_pending = false;
    }
    out.append(chars, n);
    m_line_len += n;
    m_total += n;
    if (m_line_len == kLineChars) {
        m_line_len = 0;
        m_break_pending = true;
    }
}

}  // namespace vlt::encoding
