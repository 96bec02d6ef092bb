#include "encoding/kanji.h"

#include <algorithm>

#include "encoding/cp932.h"
#include "encoding/kana_table.h"
#include "encoding/utf8_decode.h"

namespace vlt::encoding {

namespace {

// Code page 932 codes travel between the steps below as one number: a
// single-byte character as 0x00-0xFF, a double-byte one as lead << 8 | trail.
constexpr unsigned kHalfWidthFirst = 0xA1;        // ｡
constexpr unsigned kHalfWidthLast = 0xDF;         // ﾟ
constexpr unsigned kVoicedMark = 0xDE;            // ﾞ
constexpr unsigned kSemiVoicedMark = 0xDF;        // ﾟ
constexpr unsigned kFullVoicedMark = 0x814A;      // ゛
constexpr unsigned kFullSemiVoicedMark = 0x814B;  // ゜
constexpr char kEsc = 0x1B;
constexpr char32_t kHalfWidthKanaFirst = 0xFF61;  // ｡
constexpr char32_t kHalfWidthKanaLast = 0xFF9F;   // ﾟ

// Writes codes as ISO-2022-JP: a run of double-byte characters is opened by
// ESC $ B and closed by ESC ( B (or ESC ( J) at the next single-byte character
// or at the end. Single-byte characters are written unchanged.
class JisWriter {
  public:
    explicit JisWriter(char close_final, bool two_byte = false)
        : m_mode(two_byte ? Mode::TwoByte : Mode::Ascii), m_close_final(close_final) {}

    // Writes at most 5 bytes.
    char* put(unsigned code, char* w) {
        if (code < 0x100) {
            if (m_mode == Mode::TwoByte) w = close(w);
            *w++ = static_cast<char>(code);
            return w;
        }
        if (m_mode == Mode::Ascii) {
            *w++ = kEsc;
            *w++ = '$';
            *w++ = 'B';
            m_mode = Mode::TwoByte;
        }
        auto lead = static_cast<std::uint8_t>(code >> 8);
        auto trail = static_cast<std::uint8_t>(code);
        sjis2jis_char(lead, trail);
        *w++ = static_cast<char>(lead);
        *w++ = static_cast<char>(trail);
        return w;
    }

    // The end of the text: an open run is closed, so the text ends in ASCII.
    char* finish(char* w) { return m_mode == Mode::TwoByte ? close(w) : w; }

    bool two_byte() const { return m_mode == Mode::TwoByte; }

  private:
    enum class Mode { Ascii, TwoByte };

    char* close(char* w) {
        *w++ = kEsc;
        *w++ = '(';
        *w++ = m_close_final;
        m_mode = Mode::Ascii;
        return w;
    }

    Mode m_mode = Mode::Ascii;
    char m_close_final;
};

// Writes codes as code page 932 bytes.
class ByteWriter {
  public:
    char* put(unsigned code, char* w) {
        if (code >= 0x100) *w++ = static_cast<char>(code >> 8);
        *w++ = static_cast<char>(code);
        return w;
    }
    char* finish(char* w) { return w; }
};

// Writes codes as UTF-8 characters; a code the table lacks becomes U+30FB.
class Utf8Writer {
  public:
    char* put(unsigned code, char* w) {
        char32_t cp = cp932_to_unicode(code);
        if (cp == 0 && code != 0) cp = 0x30FB;
        return detail::encode_utf8(cp, w);
    }
    char* finish(char* w) { return w; }
};

// A code point that passes the widening untouched travels as kKeptChar | cp,
// above every code page 932 code, so the widener never takes it for a letter
// or a sound mark.
constexpr unsigned kKeptChar = 0x1000000;

// Writes codes as UTF-8: a kept code point as itself, a code page 932 code as
// its character.
class KeptUtf8Writer {
  public:
    char* put(unsigned code, char* w) {
        if ((code & kKeptChar) != 0) return detail::encode_utf8(code & ~kKeptChar, w);
        return detail::encode_utf8(cp932_to_unicode(code), w);
    }
    char* finish(char* w) { return w; }
};

// Replaces half-width katakana by full-width ones before passing the codes
// on. A half-width character is held back until the next code shows whether
// a sound mark (ﾞ or ﾟ) follows; the mark is then taken with it: the voiced
// or semi-voiced form where there is one, otherwise the plain form followed
// by the full-width mark. The end of the text releases a held character in
// its plain form.
template <class Next>
class Widener {
  public:
    explicit Widener(Next& next, unsigned held = 0) : m_next(next), m_held(held) {}

    // Passes on at most two codes.
    char* put(unsigned code, char* w) {
        if (m_held != 0) {
            const unsigned k = m_held - 0xA0;
            m_held = 0;
            if (code == kVoicedMark) return put_marked(k, detail::kWidenVoiced, kFullVoicedMark, w);
            if (code == kSemiVoicedMark) {
                return put_marked(k, detail::kWidenSemiVoiced, kFullSemiVoicedMark, w);
            }
            w = m_next.put(detail::kWidenPlain[k], w);
        }
        if (code >= kHalfWidthFirst && code <= kHalfWidthLast) {
            m_held = code;
            return w;
        }
        return m_next.put(code, w);  // 0xA0 has no full-width form and passes as it is
    }

    char* finish(char* w) {
        if (m_held != 0) w = m_next.put(detail::kWidenPlain[m_held - 0xA0], w);
        m_held = 0;
        return m_next.finish(w);
    }

    unsigned held() const { return m_held; }

  private:
    char* put_marked(unsigned k, const std::uint16_t* forms, unsigned full_mark, char* w) {
        if (forms[k] != 0) return m_next.put(forms[k], w);
        w = m_next.put(detail::kWidenPlain[k], w);
        return m_next.put(full_mark, w);
    }

    Next& m_next;
    unsigned m_held;
};

// The output string seen as a buffer with room reserved ahead of the writer,
// so the loops below write through a pointer without a check per byte.
class OutBuffer {
  public:
    OutBuffer(std::string& out, std::size_t expected) : m_out(out), m_pos(out.size()) {
        m_out.resize(m_pos + expected);
    }
    OutBuffer(const OutBuffer&) = delete;
    OutBuffer& operator=(const OutBuffer&) = delete;
    ~OutBuffer() { m_out.resize(m_pos); }

    char* room(std::size_t n) {
        if (m_out.size() - m_pos < n) m_out.resize(std::max(m_out.size() * 2, m_pos + n));
        return m_out.data() + m_pos;
    }
    void commit(char* w) { m_pos = static_cast<std::size_t>(w - m_out.data()); }

  private:
    std::string& m_out;
    std::size_t m_pos;
};

// Input is taken in chunks; one character yields at most two codes of at most
// five bytes each, so a chunk of n bytes needs at most 10 n bytes of room
// (plus a little for the end of the text).
constexpr std::size_t kChunk = 4096;
constexpr std::size_t kRoomPerByte = 10;
constexpr std::size_t kFinishRoom = 16;

constexpr std::size_t room_for(std::size_t chunk) {
    return kRoomPerByte * chunk + kFinishRoom;
}

// Feeds UTF-8 text to `stage` as code page 932 codes ("?" for characters the
// code page lacks) and appends what it writes to `out`; with Ending::Finish
// the text ends there.
enum class Ending { Finish, MoreToCome };

template <class Stage>
void run_utf8(std::string& out, std::string_view utf8, Stage& stage,
              Ending ending = Ending::Finish) {
    OutBuffer buffer(out, utf8.size() + utf8.size() / 8 + kFinishRoom);
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* const end = p + utf8.size();
    while (p < end) {
        const std::size_t chunk = std::min(kChunk, static_cast<std::size_t>(end - p));
        const auto* const chunk_end = p + chunk;
        char* w = buffer.room(room_for(chunk));
        while (p < chunk_end) {
            if (*p < 0x80) {
                w = stage.put(*p++, w);
                continue;
            }
            std::size_t len = 0;
            const int code = cp932_code(detail::decode_utf8(p, end, len));
            p += len;
            w = stage.put(code < 0 ? unsigned{'?'} : static_cast<unsigned>(code), w);
        }
        buffer.commit(w);
    }
    if (ending == Ending::Finish) buffer.commit(stage.finish(buffer.room(kFinishRoom)));
}

// The length of the character that `lead` begins when it is well formed, 1
// for any byte that cannot begin a longer one.
std::size_t utf8_length(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 1;
}

// How many bytes at the end of `text` may be the start of a character that
// the next piece completes: the last byte that is not a continuation byte,
// when the character it begins needs more bytes than follow it.
std::size_t unfinished_tail(std::string_view text) {
    for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
        const auto b = static_cast<unsigned char>(text[text.size() - back]);
        if ((b & 0xC0) == 0x80) continue;
        return utf8_length(b) > back ? back : 0;
    }
    return 0;
}

// Feeds UTF-8 text to `stage` with the half-width katakana as their code page
// 932 codes and every other character as a kept code point.
template <class Stage>
void run_utf8_kept(std::string& out, std::string_view utf8, Stage& stage) {
    OutBuffer buffer(out, utf8.size() + utf8.size() / 8 + kFinishRoom);
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* const end = p + utf8.size();
    while (p < end) {
        const std::size_t chunk = std::min(kChunk, static_cast<std::size_t>(end - p));
        const auto* const chunk_end = p + chunk;
        char* w = buffer.room(room_for(chunk));
        while (p < chunk_end) {
            std::size_t len = 0;
            const char32_t cp = detail::decode_utf8(p, end, len);
            p += len;
            const bool half_width = cp >= kHalfWidthKanaFirst && cp <= kHalfWidthKanaLast;
            w = stage.put(half_width ? static_cast<unsigned>(cp932_code(cp)) : kKeptChar | cp, w);
        }
        buffer.commit(w);
    }
    buffer.commit(stage.finish(buffer.room(kFinishRoom)));
}

// Feeds code page 932 bytes to `stage`: a lead byte and the byte after it as
// one code, every other byte on its own (a lead byte at the very end too).
template <class Stage>
std::string run_bytes(std::string_view sjis, Stage& stage) {
    std::string out;
    {
        OutBuffer buffer(out, sjis.size() + sjis.size() / 4 + kFinishRoom);
        const auto* p = reinterpret_cast<const unsigned char*>(sjis.data());
        const auto* const end = p + sjis.size();
        while (p < end) {
            const std::size_t chunk = std::min(kChunk, static_cast<std::size_t>(end - p));
            const auto* const chunk_end = p + chunk;
            char* w = buffer.room(room_for(chunk));
            while (p < chunk_end) {
                if (is_lead_byte(*p) && end - p >= 2) {
                    w = stage.put((unsigned{p[0]} << 8) | p[1], w);
                    p += 2;
                } else {
                    w = stage.put(*p++, w);
                }
            }
            buffer.commit(w);
        }
        buffer.commit(stage.finish(buffer.room(kFinishRoom)));
    }
    return out;
}

bool is_blank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

// NUL removed at both ends, then spaces.
void trim_null_then_spaces(std::string& text) {
    std::string_view view(text);
    const std::size_t first = view.find_first_not_of('\0');
    if (first == std::string_view::npos) {
        text.clear();
        return;
    }
    view = view.substr(first, view.find_last_not_of('\0') + 1 - first);
    const std::size_t from = view.find_first_not_of(' ');
    if (from == std::string_view::npos) {
        text.clear();
        return;
    }
    view = view.substr(from, view.find_last_not_of(' ') + 1 - from);
    const std::size_t offset = static_cast<std::size_t>(view.data() - text.data());
    text.resize(offset + view.size());
    text.erase(0, offset);
}

}  // namespace

void sjis2jis_char(std::uint8_t& lead, std::uint8_t& trail) {
    unsigned h = lead;
    unsigned l = trail;
    if (h >= 0xA0) h -= 0x40;
    h = (2 * h - 0xE1) & 0xFF;
    if (l > 0x7E) l -= 1;
    if (l < 0x9E) {
        l -= 0x1F;
    } else {
        l -= 0x7D;
        h += 1;
    }
    lead = static_cast<std::uint8_t>(h);
    trail = static_cast<std::uint8_t>(l);
}

std::string sjis_han2zen(std::string_view sjis) {
    ByteWriter bytes;
    Widener<ByteWriter> widener(bytes);
    return run_bytes(sjis, widener);
}

std::string sjis_to_jis(std::string_view sjis, bool roman_close) {
    if (roman_close) {
        JisWriter jis('J');
        return run_bytes(sjis, jis);
    }
    JisWriter jis('B');
    Widener<JisWriter> widener(jis);
    return run_bytes(sjis, widener);
}

void append_jis(std::string& out, std::string_view utf8) {
    JisWriter jis('B');
    Widener<JisWriter> widener(jis);
    run_utf8(out, utf8, widener);
}

void JisStreamEncoder::append(std::string_view utf8, std::string& out) {
    // A character split off last time goes in front of this piece.
    std::string joined;
    if (!m_carry.empty()) {
        joined.reserve(m_carry.size() + utf8.size());
        joined = m_carry;
        joined += utf8;
        utf8 = joined;
    }
    const std::size_t cut = utf8.size() - unfinished_tail(utf8);
    JisWriter jis('B', m_two_byte);
    Widener<JisWriter> widener(jis, m_held_kana);
    run_utf8(out, utf8.substr(0, cut), widener, Ending::MoreToCome);
    m_two_byte = jis.two_byte();
    m_held_kana = widener.held();
    m_carry.assign(utf8.substr(cut));
}

void JisStreamEncoder::finish(std::string& out) {
    JisWriter jis('B', m_two_byte);
    Widener<JisWriter> widener(jis, m_held_kana);
    run_utf8(out, m_carry, widener, Ending::Finish);
    *this = JisStreamEncoder();
}

std::string unicode_to_jis(std::string_view utf8) {
    if (is_blank(utf8)) return {};
    std::string out;
    append_jis(out, utf8);
    trim_null_then_spaces(out);
    return out;
}

std::string unicode_han2zen(std::string_view utf8) {
    if (is_blank(utf8)) return {};
    Utf8Writer text;
    Widener<Utf8Writer> widener(text);
    std::string out;
    run_utf8(out, utf8, widener);
    trim_null_then_spaces(out);
    return out;
}

bool fits_iso2022jp(std::string_view utf8) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* const end = p + utf8.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        std::size_t len = 0;
        const int code = cp932_code(detail::decode_utf8(p, end, len));
        p += len;
        const bool fits = code >= 0x100 || (code >= static_cast<int>(kHalfWidthFirst) &&
                                            code <= static_cast<int>(kHalfWidthLast));
        if (!fits) return false;
    }
    return true;
}

void append_widened_kana(std::string_view utf8, std::string& out) {
    KeptUtf8Writer text;
    Widener<KeptUtf8Writer> widener(text);
    run_utf8_kept(out, utf8, widener);
}

std::string widen_kana(std::string_view utf8) {
    if (is_blank(utf8)) return {};
    KeptUtf8Writer text;
    Widener<KeptUtf8Writer> widener(text);
    std::string out;
    run_utf8_kept(out, utf8, widener);
    trim_null_then_spaces(out);
    return out;
}

}  // namespace vlt::encoding
