#pragma once
// The generated katakana width tables (kana_table.cpp, written by
// tools/gen_kana.py). Private to the encoding library.

#include <cstddef>
#include <cstdint>

namespace vlt::encoding::detail {

// Widening of the half-width byte 0xA0 + k (k = 1..63) to code page 932
// double-byte codes: plain, voiced (when 0xDE follows) and semi-voiced (when
// 0xDF follows). Entry 0 and absent forms are 0.
extern const std::uint16_t kWidenPlain[64];
extern const std::uint16_t kWidenVoiced[64];
extern const std::uint16_t kWidenSemiVoiced[64];

// A full-width character and its one or two narrow characters.
struct NarrowEntry {
    char16_t wide;
    char16_t first;
    char16_t second;  // 0 when the narrow form is one character
};
extern const NarrowEntry kNarrowTable[];
extern const std::size_t kNarrowTableSize;

}  // namespace vlt::encoding::detail
