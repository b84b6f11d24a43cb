/* Utility library, text output: the bounded formatter (the C library's conversions with a
 * result code for a cut output; the plain ones that log messages use are written here, without
 * the C library's stream machinery), integer-to-text in any radix from 2 to 36, the version
 * number in both directions, and the framework's build date. */
#include <algorithm>
#include <array>
#include <cassert>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "cm/rts_common.h"
#include "cmutils.h"
#include "systimertc.h"

using rts::report;
using rts::set_result;

namespace {

constexpr int kMinRadix = 2;     /* binary */
constexpr int kMaxRadix = 36;    /* digits 0-9 and A-Z */
constexpr int kDecimal = 10;     /* the only radix that shows a sign */
constexpr int kHexadecimal = 16; /* the radix that always carries "0x" */
constexpr int kVersionParts = 4; /* major.minor.patch.build, a byte each */
constexpr int kByteBits = 8;
constexpr RTS_UI32 kByteMask = 0xFF;

/* The output of the plain formatter: the first size - 1 characters land in the buffer, the
 * rest is only counted, as the C library does. */
class Output {
public:
    Output(char* buffer, RTS_SIZE size) : buffer_(buffer), room_(size - 1) {}

    void put(const char* text, RTS_SIZE length) {
        if (count_ < room_) std::memcpy(buffer_ + count_, text, std::min(length, room_ - count_));
        count_ += length;
    }

    /* Terminates the buffer; the full output's length, -1 when it exceeds what an int holds. */
    int finish() {
        buffer_[std::min(count_, room_)] = '\0';
        return count_ <= static_cast<RTS_SIZE>(INT_MAX) ? static_cast<int>(count_) : -1;
    }

private:
    char* buffer_;
    RTS_SIZE room_;
    RTS_SIZE count_ = 0;
};

/* "00" to "99": decimal digits two at a time halve the chain of divisions a number costs. */
constexpr auto kDigitPairs = [] {
    std::array<char, 2 * 100> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / kDecimal);
        pairs[2 * i + 1] = static_cast<char>('0' + i % kDecimal);
    }
    return pairs;
}();

/* The decimal digits of `value`, written backwards so that they end at `end`. */
char* decimal_before(char* end, unsigned long value) {
    for (; value >= 100; value /= 100) {
        end -= 2;
        std::memcpy(end, &kDigitPairs[2 * (value % 100)], 2);
    }
    if (value < kDecimal) {
        *--end = static_cast<char>('0' + value);
    } else {
        end -= 2;
        std::memcpy(end, &kDigitPairs[2 * value], 2);
    }
    return end;
}

/* The hexadecimal digits of `value` from the digit set given, ending at `end`. */
char* hexadecimal_before(char* end, unsigned long value, const char* set) {
    do {
        *--end = set[value % kHexadecimal];
        value /= kHexadecimal;
    } while (value != 0);
    return end;
}

/* One conversion with an optional "l": %d %i %u %x %X %c %s and %%. False for anything the
 * C library must write itself: flags, widths, precisions, other lengths and conversions, and a
 * null string. */
bool convert(Output& out, const char*& p, va_list* args) {
    const bool isLong = *p == 'l';
    if (isLong) ++p;
    const char c = *p++;
    char text[24]; /* a long in decimal with its sign, or in hexadecimal */
    char* const end = text + sizeof text;
    if (c == 'd' || c == 'i') {
        long v = isLong ? va_arg(*args, long) : va_arg(*args, int);
        char* first = decimal_before(end, v < 0 ? 0ul - static_cast<unsigned long>(v) : v);
        if (v < 0) *--first = '-';
        out.put(first, end - first);
    } else if (c == 'u' || c == 'x' || c == 'X') {
        unsigned long v = isLong ? va_arg(*args, unsigned long) : va_arg(*args, unsigned);
        char* first = c == 'u'   ? decimal_before(end, v)
                      : c == 'x' ? hexadecimal_before(end, v, "0123456789abcdef")
                                 : hexadecimal_before(end, v, "0123456789ABCDEF");
        out.put(first, end - first);
    } else if (c == 'c' && !isLong) {
        text[0] = static_cast<char>(va_arg(*args, int));
        out.put(text, 1);
    } else if (c == 's' && !isLong) {
        const char* s = va_arg(*args, const char*);
        if (s == nullptr) return false;
        out.put(s, std::strlen(s));
    } else if (c == '%' && !isLong) {
        out.put("%", 1);
    } else {
        return false;
    }
    return true;
}

constexpr int kNeedsCLibrary = -2; /* from format_plain: not a length, not the C library's -1 */

/* Formats the plain conversions without the C library's stream machinery, which costs more
 * than the text itself for the short messages of a log. The full output's length, or
 * kNeedsCLibrary when the format needs the C library (the arguments are read from a copy, so
 * the caller can start over with its own). */

int format_plain(char* buffer, RTS_SIZE size, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    Output out(buffer, size);
    const char* p = format;
    bool plain = true;
    for (const char* percent; plain && (percent = std::strchr(p, '%')) != nullptr;) {
        out.put(p, percent - p);
        p = percent + 1;
        plain = convert(out, p, &copy);
    }
    va_end(copy);
    if (!plain) return kNeedsCLibrary;
    out.put(p, std::strlen(p));
    return out.finish();
}

/* Formats into a buffer that is known to be usable; answers the full output's length, -1 when
 * the output cannot be written. The buffer is terminated in either case. */
int format_into(char* buffer, RTS_SIZE size, const char* format, va_list args) {
    int n = format_plain(buffer, size, format, args);
    if (n == kNeedsCLibrary) n = std::vsnprintf(buffer, size, format, args);
    if (n < 0) {
        buffer[0] = '\0';
        return -1;
    }
    return n;
}

int format_counted(char* buffer, RTS_SIZE size, RTS_RESULT* pResult, const char* format, va_list args) {
    int n = format_into(buffer, size, format, args);
    set_result(pResult, n >= 1 && static_cast<RTS_SIZE>(n) < size ? RES_OK : RES_BUFFERSIZE);
    return n;
}

/* Digits of `magnitude`, least significant first, into `out` with room for `room` characters,
 * then `suffix` (the prefix reversed); terminated and reversed in place. False when the digits
 * need more than `room`. */
bool write_number(RTS_UI32 magnitude, unsigned radix, const char* suffix, char* out, RTS_SIZE room) {
    RTS_SIZE n = 0;
    do {
        if (n == room) return false;
        unsigned digit = magnitude % radix;
        out[n++] = static_cast<char>(digit < kDecimal ? '0' + digit : 'A' + digit - kDecimal);
        magnitude /= radix;
    } while (magnitude != 0);
    while (*suffix != '\0') out[n++] = *suffix++;
    out[n] = '\0';
    CMUtlStrrev(out);
    return true;
}

char* number_to_text(RTS_UI32 magnitude, bool negative, char* buffer, RTS_SIZE size, int radix,
                     RTS_RESULT* pResult) {
    if (buffer == nullptr || size == 0) return report(pResult, RES_PARAMETER, static_cast<char*>(nullptr));
    if (radix < kMinRadix || radix > kMaxRadix) {
        CMUtlSafeStrCpy(buffer, size, "0"); /* a buffer of one byte keeps only the terminator */
        return report(pResult, RES_PARAMETER, buffer);
    }
    const char* suffix = radix == kHexadecimal ? "x0" : negative ? "-" : "";
    RTS_SIZE reserved = CMUtlStrLen(suffix);
    RTS_SIZE room = size - 1 > reserved ? size - 1 - reserved : 0;
    if (!write_number(magnitude, static_cast<unsigned>(radix), suffix, buffer, room)) {
        buffer[0] = '\0';
        return report(pResult, RES_PARAMETER, buffer);
    }
    assert(CMUtlStrLen(buffer) < size);
    return report(pResult, RES_OK, buffer);
}

/* Reads one decimal number as the C library's "%d" does: blanks, an optional sign, digits.
 * Only its low byte is kept, so overlong numbers simply wrap. */
bool read_decimal(const char*& p, RTS_UI32& value) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (*p < '0' || *p > '9') return false;
    RTS_UI32 v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) v = v * 10u + static_cast<RTS_UI32>(*p - '0');
    value = negative ? 0u - v : v;
    return true;
}

/* Part i of a version, the major part first. */
int version_part(RTS_UI32 version, int i) {
    return static_cast<int>((version >> (kByteBits * (kVersionParts - 1 - i))) & kByteMask);
}

/* The release's build date and time, as the compiler would write them. */
constexpr const char* kBuildDate = "May 20 2025";
constexpr const char* kBuildTime = "18:05:16";

/* "Mmm dd yyyy" and "hh:mm:ss" into a date record; false when either cannot be read. */
bool read_build_texts(const char* date, const char* time, RTS_SYSTIMEDATE& out) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    constexpr std::size_t kMonthName = 3; /* "Mmm" */
    RTS_UI32 month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    for (RTS_UI32 i = 0; i < std::size(months) && month == 0; ++i)
        if (std::strncmp(date, months[i], kMonthName) == 0) month = i + 1;
    const char* p = date + kMonthName;
    const char* t = time;
    if (month == 0 || !read_decimal(p, day) || !read_decimal(p, year) || !read_decimal(t, hour) ||
        *t++ != ':' || !read_decimal(t, minute) || *t++ != ':' || !read_decimal(t, second))
        return false;
    out = RTS_SYSTIMEDATE{};
    out.wYear = static_cast<RTS_UI16>(year);
    out.wMonth = static_cast<RTS_UI16>(month);
    out.wDay = static_cast<RTS_UI16>(day);
    out.wHour = static_cast<RTS_UI16>(hour);
    out.wMinute = static_cast<RTS_UI16>(minute);
    out.wSecond = static_cast<RTS_UI16>(second);
    const auto m = static_cast<RTS_I32>(month), d = static_cast<RTS_I32>(day), y = static_cast<RTS_I32>(year);
    out.wDayOfWeek = static_cast<RTS_UI16>(SysTimeRtcGetDayOfWeek(m, d, y));
    out.wYday = static_cast<RTS_UI16>(SysTimeRtcGetYDay(m, d, y));
    return true;
}

} // namespace

extern "C" RTS_RESULT CMUtlGetBuildDate(RTS_SYSTIMEDATE* pDate) {
    if (pDate == nullptr) return RES_PARAMETER;
    return read_build_texts(kBuildDate, kBuildTime, *pDate) ? RES_OK : RES_FAILED;
}

/* ---- formatter ----------------------------------------------------------------------------- */

extern "C" RTS_RESULT CMUtlvsnprintf(char* buffer, RTS_SIZE size, const char* format, va_list* pArgs) {
    if (buffer == nullptr || size == 0 || format == nullptr || pArgs == nullptr) return RES_PARAMETER;
    int n = format_into(buffer, size, format, *pArgs);
    return n >= 0 && static_cast<RTS_SIZE>(n) < size ? RES_OK : RES_BUFFERSIZE;
}

extern "C" RTS_RESULT CMUtlsnprintf(char* buffer, RTS_SIZE size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    RTS_RESULT r = CMUtlvsnprintf(buffer, size, format, &args);
    va_end(args);
    return r;
}

extern "C" int CMUtlsnprintf2(char* buffer, RTS_SIZE size, RTS_RESULT* pResult, const char* format, ...) {
    if (buffer == nullptr || size == 0 || format == nullptr) return RES_PARAMETER;
    va_list args;
    va_start(args, format);
    int n = format_counted(buffer, size, pResult, format, args);
    va_end(args);
    return n;
}

extern "C" int CMUtlvsnprintf2(char* buffer, RTS_SIZE size, RTS_RESULT* pResult, const char* format,
                               va_list* pArgs) {
    if (buffer == nullptr || format == nullptr || pArgs == nullptr) {
        set_result(pResult, RES_PARAMETER);
        return 0;
    }
    if (size == 0) return RES_PARAMETER;
    va_list args;
    va_copy(args, *pArgs);
    int n = format_counted(buffer, size, pResult, format, args);
    va_end(args);
    return n;
}

/* ---- numbers ------------------------------------------------------------------------------- */

extern "C" char* CMUtlLtoa(RTS_I32 value, char* buffer, RTS_SIZE size, int radix, RTS_RESULT* pResult) {
    bool negative = radix == kDecimal && value < 0;
    auto pattern = static_cast<RTS_UI32>(value);
    return number_to_text(negative ? 0u - pattern : pattern, negative, buffer, size, radix, pResult);
}

extern "C" char* CMUtlUltoa(RTS_UI32 value, char* buffer, RTS_SIZE size, int radix, RTS_RESULT* pResult) {
    return number_to_text(value, false, buffer, size, radix, pResult);
}

/* ---- versions ------------------------------------------------------------------------------ */

extern "C" RTS_RESULT CMUtlVersionToString(RTS_UI32 version, char* buffer, RTS_SIZE size) {
    return CMUtlsnprintf(buffer, size, "%d.%d.%d.%d", version_part(version, 0), version_part(version, 1),
                         version_part(version, 2), version_part(version, 3));
}

extern "C" RTS_RESULT CMUtlStringToVersion(const char* text, RTS_UI32* pVersion) {
    if (text == nullptr || pVersion == nullptr) return RES_PARAMETER;
    RTS_UI32 version = 0;
    const char* p = text;
    for (int i = 0; i < kVersionParts; ++i) {
        if (i > 0 && *p++ != '.') return RES_FAILED;
        RTS_UI32 part = 0;
        if (!read_decimal(p, part)) return RES_FAILED;
        version = (version << kByteBits) | (part & kByteMask);
    }
    *pVersion = version;
    return RES_OK;
}
