#pragma once
// An independent Base64 encoder for checking the library's: three bytes at a
// time with the standard alphabet, then the MIME line rule applied to the
// finished text.

#include <string>

namespace vlt::test {

// Base64 of the whole input, broken as a MIME body: no break up to 76
// characters, otherwise CR LF after every full line of 76 (also after the last
// line when the length is an exact multiple of 76).
inline std::string reference_base64(const std::string& bytes) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string flat;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned b0 = static_cast<unsigned char>(bytes[i]);
        const unsigned b1 = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        const unsigned b2 = i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0;
        flat += alphabet[b0 >> 2];
        flat += alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        flat += i + 1 < bytes.size() ? alphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        flat += i + 2 < bytes.size() ? alphabet[b2 & 63] : '=';
    }
    if (flat.size() <= 76) return flat;
    std::string out;
    for (std::size_t i = 0; i < flat.size(); i += 76) {
        out += flat.substr(i, 76);
        if (i + 76 <= flat.size()) out += "\r\n";
    }
    return out;
}

}  // namespace vlt::test
