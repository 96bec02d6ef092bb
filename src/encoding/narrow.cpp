#include "encoding/narrow.h"

#include <algorithm>

#include "encoding/kana_table.h"
#include "encoding/utf8_decode.h"

namespace vlt::encoding {

namespace {

const detail::NarrowEntry* find_narrow(char32_t cp) {
    const detail::NarrowEntry* first = detail::kNarrowTable;
    const detail::NarrowEntry* last = first + detail::kNarrowTableSize;
    const auto* it = std::lower_bound(
        first, last, cp, [](const detail::NarrowEntry& e, char32_t c) { return e.wide < c; });
    return it != last && it->wide == cp ? it : nullptr;
}

}  // namespace

std::string narrow(std::string_view utf8) {
    // A voiced katakana narrows to two characters, so the output may grow;
    // this runs on short command-line items and is built by appending.
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 2);
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        if (*p < 0x80) {
            out.push_back(static_cast<char>(*p++));
            continue;
        }
        std::size_t len = 0;
        const char32_t cp = detail::decode_utf8(p, end, len);
        const detail::NarrowEntry* entry = cp >= 0x3000 ? find_narrow(cp) : nullptr;
        if (entry == nullptr) {
            // Everything without a narrow form stays byte for byte.
            out.append(reinterpret_cast<const char*>(p), len);
        } else {
            char buf[8];
            char* w = detail::encode_utf8(entry->first, buf);
            if (entry->second != 0) w = detail::encode_utf8(entry->second, w);
            out.append(buf, static_cast<std::size_t>(w - buf));
        }
        p += len;
    }
    return out;
}

}  // namespace vlt::encoding
