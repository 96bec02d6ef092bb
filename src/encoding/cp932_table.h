#pragma once
// The generated code page 932 tables (cp932_table.cpp, written by
// tools/gen_cp932.py). Private to the encoding library: use cp932.h.

#include <cstdint>

namespace vlt::encoding::detail {

inline constexpr unsigned kCp932EncodeBlockSize = 64;
inline constexpr unsigned kCp932TrailFirst = 0x40;
inline constexpr unsigned kCp932TrailLast = 0xFC;
inline constexpr unsigned kCp932TrailCount = kCp932TrailLast - kCp932TrailFirst + 1;
inline constexpr unsigned kCp932LeadCount = 60;

// Encoding: kCp932EncodeBlocks[kCp932EncodeIndex[cp / 64]][cp % 64] is the code
// of cp (U+0000-U+FFFF), 0 when the code page lacks it.
extern const std::uint16_t kCp932EncodeIndex[65536 / kCp932EncodeBlockSize];
extern const std::uint16_t kCp932EncodeBlocks[][kCp932EncodeBlockSize];

// Decoding: the character of a single byte, and of a double-byte code by lead
// row (0x81-0x9F then 0xE0-0xFC) and trail column (0x40-0xFC); 0 when lacking.
extern const char16_t kCp932DecodeSingle[256];
extern const char16_t kCp932DecodeDouble[kCp932LeadCount][kCp932TrailCount];

// Row of a lead byte in kCp932DecodeDouble.
constexpr unsigned cp932_lead_row(unsigned lead) {
    return lead < 0xE0 ? lead - 0x81 : lead - 0xC1;
}

}  // namespace vlt::encoding::detail
