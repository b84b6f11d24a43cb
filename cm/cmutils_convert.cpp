/* Utility library, text conversions: the single-byte code page in both directions, UTF-8 to
 * UTF-16 and back with U+FFFD for invalid input, and the two encoding checks. The UTF-8 decoder
 * is shared by the conversion and the check so both judge a sequence the same way. */
#include <algorithm>
#include <array>
#include <cassert>
#include <iterator>

#include "cmutils.h"

namespace {

constexpr RTS_WCHAR kReplacement = 0xFFFD;

/* The code page's own range: bytes 0x80-0x9F. */
constexpr unsigned char kHighControlFirst = 0x80;
constexpr unsigned char kHighControlLast = 0x9F;

/* Code points of the bytes 0x80-0x9F; the five bytes without a character map to themselves. */
constexpr std::array<RTS_WCHAR, kHighControlLast - kHighControlFirst + 1> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

/* Unicode's limits of the encoding forms. */
constexpr RTS_UI32 kAsciiEnd = 0x80;              /* below: one UTF-8 byte, and the same byte */
constexpr RTS_UI32 kTwoBytesLast = 0x7FF;         /* up to here: two UTF-8 bytes */
constexpr RTS_UI32 kBasicPlaneLast = 0xFFFF;      /* up to here: three UTF-8 bytes, one UTF-16 unit */
constexpr RTS_UI32 kSupplementaryFirst = 0x10000; /* from here: four bytes, a surrogate pair */
constexpr RTS_UI32 kCodePointLast = 0x10FFFF;
constexpr RTS_UI32 kHighSurrogateFirst = 0xD800;
constexpr RTS_UI32 kLowSurrogateFirst = 0xDC00;
constexpr RTS_UI32 kSurrogateLast = 0xDFFF;
constexpr int kSurrogateBits = 10; /* the payload of each half of a pair */
constexpr RTS_UI32 kSurrogatePayload = (1u << kSurrogateBits) - 1;
constexpr int kContinuationBits = 6; /* 10xxxxxx */
constexpr std::size_t kMaxUtf8Bytes = 4;
constexpr unsigned char kContinuationMark = 0x80;
constexpr unsigned char kContinuationPayload = (1u << kContinuationBits) - 1;

/* The lead byte of a sequence of `length` bytes (110xxxxx, 1110xxxx, 11110xxx) and the last
 * code point that length carries. */
struct Lead {
    RTS_SIZE length;
    unsigned char mask, mark; /* (lead & mask) == mark */
    RTS_UI32 last;
};
constexpr Lead kLeads[] = {
    {2, 0xE0, 0xC0, kTwoBytesLast}, {3, 0xF0, 0xE0, kBasicPlaneLast}, {4, 0xF8, 0xF0, kCodePointLast}};

char low_byte(RTS_WCHAR u) {
    return static_cast<char>(u & 0xFF);
}

RTS_WCHAR byte_to_unit(unsigned char b) {
    return (b >= kHighControlFirst && b <= kHighControlLast) ? kHighControls[b - kHighControlFirst]
                                                             : static_cast<RTS_WCHAR>(b);
}

char unit_to_byte(RTS_WCHAR u) {
    if (u >= kAsciiEnd)
        for (std::size_t i = 0; i < kHighControls.size(); ++i)
            if (kHighControls[i] == u) return static_cast<char>(kHighControlFirst + i);
    return low_byte(u);
}

/* Maps a terminated source unit by unit into dest; 1 when the source did not fit, else 0. */
template <typename In, typename Out, typename Map>
RTS_RESULT map_terminated(const In* source, Out* dest, RTS_SIZE size, Map map) {
    if (source == nullptr || dest == nullptr || size == 0) return RES_PARAMETER;
    RTS_SIZE i = 0;
    for (; i + 1 < size && source[i] != 0; ++i) dest[i] = map(source[i]);
    dest[i] = 0;
    return source[i] == 0 ? RES_OK : RES_FAILED;
}

/* ---- UTF-8 decoding ------------------------------------------------------------------------ */

enum class Decoded { Ok, Invalid, Surrogate };

struct Utf8Step {
    Decoded status;
    RTS_UI32 codePoint;
    RTS_SIZE consumed; // one byte for an invalid lead, the whole sequence otherwise
};

bool is_continuation(unsigned char b) {
    return (b & ~kContinuationPayload) == kContinuationMark;
}
bool is_surrogate(RTS_UI32 v) {
    return v >= kHighSurrogateFirst && v <= kSurrogateLast;
}

/* Decodes one sequence from `left` (> 0) bytes. Overlong forms and values above U+10FFFF pass. */
Utf8Step decode_utf8(const unsigned char* p, RTS_SIZE left) {
    assert(left > 0);
    const unsigned char lead = p[0];
    if (lead < kAsciiEnd) return {Decoded::Ok, lead, 1};
    const Lead* form = std::find_if(std::begin(kLeads), std::end(kLeads),
                                    [lead](const Lead& l) { return (lead & l.mask) == l.mark; });
    if (form == std::end(kLeads) || left < form->length) return {Decoded::Invalid, kReplacement, 1};
    RTS_UI32 value = lead & ~form->mask;
    for (RTS_SIZE i = 1; i < form->length; ++i) {
        if (!is_continuation(p[i])) return {Decoded::Invalid, kReplacement, 1};
        value = (value << kContinuationBits) | (p[i] & kContinuationPayload);
    }
    if (is_surrogate(value)) return {Decoded::Surrogate, kReplacement, form->length};
    return {Decoded::Ok, value, form->length};
}

/* ---- UTF-16 decoding ----------------------------------------------------------------------- */

bool is_high(RTS_WCHAR u) {
    return u >= kHighSurrogateFirst && u < kLowSurrogateFirst;
}
bool is_low(RTS_WCHAR u) {
    return u >= kLowSurrogateFirst && u <= kSurrogateLast;
}

struct Utf16Step {
    bool valid;
    RTS_UI32 codePoint;
    RTS_SIZE consumed;
};

Utf16Step decode_utf16(const RTS_WCHAR* p, RTS_SIZE left) {
    assert(left > 0);
    if (!is_surrogate(p[0])) return {true, p[0], 1};
    if (is_high(p[0]) && left >= 2 && is_low(p[1]))
        return {true,
                ((p[0] & kSurrogatePayload) << kSurrogateBits | (p[1] & kSurrogatePayload)) +
                    kSupplementaryFirst,
                2};
    return {false, kReplacement, 1};
}

/* The two units of a code point above the basic plane. */
void encode_pair(RTS_UI32 cp, RTS_WCHAR* out) {
    const RTS_UI32 v = cp - kSupplementaryFirst;
    out[0] = static_cast<RTS_WCHAR>(kHighSurrogateFirst + (v >> kSurrogateBits));
    out[1] = static_cast<RTS_WCHAR>(kLowSurrogateFirst + (v & kSurrogatePayload));
}

/* UTF-8 form of a code point into out[4]; answers its length. */
RTS_SIZE encode_utf8(RTS_UI32 cp, unsigned char* out) {
    if (cp < kAsciiEnd) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    assert(cp <= kCodePointLast);
    const Lead& lead =
        *std::find_if(std::begin(kLeads), std::end(kLeads), [cp](const Lead& l) { return cp <= l.last; });
    for (RTS_SIZE i = lead.length - 1; i > 0; --i, cp >>= kContinuationBits)
        out[i] = static_cast<unsigned char>(kContinuationMark | (cp & kContinuationPayload));
    out[0] = static_cast<unsigned char>(lead.mark | cp);
    return lead.length;
}

RTS_RESULT conversion_result(bool cut, bool replaced) {
    return cut ? RES_BUFFERSIZE : replaced ? RES_CHARS_REPLACED : RES_OK;
}

} // namespace

/* ---- single-byte code page ----------------------------------------------------------------- */

extern "C" RTS_RESULT CMUtlStrToW(const char* source, RTS_WCHAR* dest, RTS_SIZE size) {
    return map_terminated(source, dest, size,
                          [](char c) { return byte_to_unit(static_cast<unsigned char>(c)); });
}

extern "C" RTS_RESULT CMUtlStrToCW(const char* source, RTS_WCHAR* dest, RTS_SIZE size) {
    return CMUtlStrToW(source, dest, size);
}

extern "C" RTS_RESULT CMUtlWToStr(const RTS_WCHAR* source, char* dest, RTS_SIZE size) {
    return map_terminated(source, dest, size, unit_to_byte);
}

extern "C" RTS_RESULT CMUtlCWToStr(const RTS_WCHAR* source, char* dest, RTS_SIZE size) {
    return map_terminated(source, dest, size, low_byte);
}

/* ---- UTF-8 <-> UTF-16 ---------------------------------------------------------------------- */

extern "C" RTS_RESULT CMUtlUtf8ToW(const char* source, RTS_SIZE sourceLength, RTS_WCHAR* dest,
                                   RTS_SIZE destSize) {
    if (source == nullptr || dest == nullptr || sourceLength == 0 || destSize == 0) return RES_PARAMETER;
    const auto* src = reinterpret_cast<const unsigned char*>(source);
    RTS_SIZE read = 0, written = 0;
    bool cut = false, replaced = false;
    while (!cut && read < sourceLength && src[read] != 0) {
        Utf8Step step = decode_utf8(src + read, sourceLength - read);
        replaced |= step.status != Decoded::Ok;
        const RTS_SIZE units = step.codePoint > kBasicPlaneLast ? 2 : 1;
        if (units > destSize - written) {
            cut = true;
            break;
        }
        read += step.consumed;
        if (units == 1)
            dest[written] = static_cast<RTS_WCHAR>(step.codePoint);
        else
            encode_pair(step.codePoint, dest + written);
        written += units;
        cut = written == destSize;
    }
    if (read < sourceLength) dest[written < destSize ? written : destSize - 1] = 0;
    return conversion_result(cut, replaced);
}

extern "C" RTS_RESULT CMUtlWToUtf8(const RTS_WCHAR* source, RTS_SIZE sourceLength, char* dest,
                                   RTS_SIZE destSize) {
    if (source == nullptr || dest == nullptr || sourceLength == 0 || destSize == 0) return RES_PARAMETER;
    RTS_SIZE read = 0, written = 0;
    bool cut = false, replaced = false;
    while (read < sourceLength && source[read] != 0) {
        Utf16Step step = decode_utf16(source + read, sourceLength - read);
        unsigned char bytes[kMaxUtf8Bytes];
        RTS_SIZE length = encode_utf8(step.codePoint, bytes);
        if (length > destSize - written) {
            cut = true;
            break;
        }
        replaced |= !step.valid;
        read += step.consumed;
        for (RTS_SIZE i = 0; i < length; ++i) dest[written++] = static_cast<char>(bytes[i]);
    }
    if (read < sourceLength) {
        if (written == destSize) {
            cut = true;
            written = destSize - 1;
        }
        dest[written] = '\0';
    }
    return conversion_result(cut, replaced);
}

/* ---- encoding checks ----------------------------------------------------------------------- */

extern "C" RTS_RESULT CMUtlCheckUtf8Encoding(const char* s, RTS_SIZE length) {
    if (s == nullptr) return RES_PARAMETER;
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    for (RTS_SIZE i = 0; i < length && p[i] != 0;) {
        Utf8Step step = decode_utf8(p + i, length - i);
        if (step.status != Decoded::Ok) return RES_INVALID_ENCODING;
        i += step.consumed;
    }
    return RES_OK;
}

extern "C" RTS_RESULT CMUtlCheckUtf16Encoding(const RTS_WCHAR* s, RTS_SIZE length) {
    if (s == nullptr) return RES_PARAMETER;
    for (RTS_SIZE i = 0; i < length && s[i] != 0;) {
        Utf16Step step = decode_utf16(s + i, length - i);
        if (!step.valid) return RES_INVALID_ENCODING;
        i += step.consumed;
    }
    return RES_OK;
}
