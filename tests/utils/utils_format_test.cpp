// Text output against the C and C++ libraries over generated inputs: the bounded formatter
// against snprintf at every buffer size, number texts against std::to_chars, version texts
// against sscanf and snprintf; the counting formatter's own result rules; the build date.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "cmutils.h"

namespace {

using ULL = unsigned long long;

int call_vsnprintf2(char* buf, RTS_SIZE size, RTS_RESULT* pResult, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = CMUtlvsnprintf2(buf, size, pResult, format, &args);
    va_end(args);
    return n;
}

// At every buffer size: the C library's bytes, the same untouched tail, and RES_BUFFERSIZE
// exactly when the output was cut (an empty output fits, but the counting formatters, which
// give the whole output's length, call it a cut; they need not be asked for a result).
template <class... Args> void expect_as_snprintf(const char* format, Args... args) {
    char probe[1];
    const auto length = static_cast<std::size_t>(std::snprintf(probe, 1, format, args...));
    for (std::size_t size = 1; size <= length + 2; ++size) {
        std::vector<char> mine(size + 4, '#'), ref(size + 4, '#'), counted(mine), vcounted(mine);
        RTS_RESULT r = 99;
        EXPECT_EQ(CMUtlsnprintf(mine.data(), size, format, args...), length < size ? RES_OK : RES_BUFFERSIZE)
            << format << " size " << size;
        EXPECT_EQ(CMUtlsnprintf2(counted.data(), size, &r, format, args...), static_cast<int>(length));
        EXPECT_EQ(r, length > 0 && length < size ? RES_OK : RES_BUFFERSIZE) << format << " size " << size;
        EXPECT_EQ(call_vsnprintf2(vcounted.data(), size, nullptr, format, args...), static_cast<int>(length));
        std::snprintf(ref.data(), size, format, args...);
        EXPECT_TRUE(mine == ref && counted == ref && vcounted == ref) << format << " size " << size;
    }
}

TEST(CMUtlsnprintf, MatchesTheCLibraryAtEverySize) {
    static const char* const kTexts[] = {"", "CmpLog", "a/b.cfg", "<name>%d</name>", nullptr};
    std::mt19937_64 rng(3);
    for (int round = 0; round < 40; ++round) {
        const long long n = static_cast<long long>(rng()) >> rng() % 64;
        const int i = static_cast<int>(n), w = static_cast<int>(rng() % 12);
        const auto u = static_cast<unsigned>(n);
        const double d =
            std::ldexp(static_cast<double>(rng() % 4000000) - 2e6, static_cast<int>(rng() % 60) - 30);
        const char* s = kTexts[rng() % std::size(kTexts)];
        expect_as_snprintf("Error: Component <cmp>%s</cmp> init (%ld) failed", s, long(n));
        const auto ul = static_cast<unsigned long>(n);
        expect_as_snprintf("%d %i %u %x %X|%ld %lu %lx %lX|%c%%", i, ~i, u, u, u, ~long(n), ul, ul, ul,
                           char(u));
        expect_as_snprintf("%d|%5d|%-5d|%05d|%+d|% d|%*d", i, i, i, i, i, i, w, i);
        expect_as_snprintf("%u %x %X %#x %o %#o %zu", u, u, u, u, u, u, std::size_t(n));
        expect_as_snprintf("%lld %llu %llx %c%c", n, ULL(n), ULL(n), char('!' + ULL(n) % 90),
                           char('!' + u % 77));
        expect_as_snprintf("%.3s|%10s|%-10s|%.*s|%%", s, s, s, w, s);
        expect_as_snprintf("%f %.2f %e %.3g %g %10.4f %08.3f %-8.2e|", d, d, d, d, d, d, d, d);
        expect_as_snprintf("%s", s);
        expect_as_snprintf("%c", char('!' + u % 77));
    }
}

// The text CMUtlLtoa/CMUtlUltoa must give: "-" for a negative value in radix 10 (signed only),
// "0x" before every radix-16 number, upper-case digits.
std::string number_text(RTS_UI32 pattern, bool isSigned, int radix) {
    const bool negative = isSigned && radix == 10 && static_cast<RTS_I32>(pattern) < 0;
    char digits[40];
    char* end = std::to_chars(digits, digits + sizeof digits, negative ? 0u - pattern : pattern, radix).ptr;
    std::transform(digits, end, digits, [](char ch) { return static_cast<char>(std::toupper(ch)); });
    return (radix == 16 ? "0x" : negative ? "-" : "") + std::string(digits, end);
}

TEST(CMUtlLtoa, WritesWhatToCharsWritesOrNothing) {
    std::mt19937 rng(5);
    std::vector<RTS_UI32> values = {0, 35, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (int i = 0; i < 20; ++i) values.push_back(static_cast<RTS_UI32>(rng()) >> rng() % 32);
    for (RTS_UI32 value : values)
        for (int radix = 0; radix <= 37; ++radix)
            for (RTS_SIZE size = 1; size <= 36; ++size)
                for (bool isSigned : {true, false}) {
                    std::string buf(size + 2, '#');
                    RTS_RESULT r = 99;
                    char* out = isSigned ? CMUtlLtoa(static_cast<RTS_I32>(value), buf.data(), size, radix, &r)
                                         : CMUtlUltoa(value, buf.data(), size, radix, &r);
                    const bool badRadix = radix < 2 || radix > 36;
                    const std::string text = badRadix ? "0" : number_text(value, isSigned, radix);
                    const bool fits = text.size() < size;
                    EXPECT_TRUE(out == buf.data() && buf.c_str() == (fits ? text : "") &&
                                buf.substr(size) == "##" && r == (fits && !badRadix ? RES_OK : RES_PARAMETER))
                        << value << (isSigned ? " signed" : "") << " radix " << radix << " size " << size;
                }
}

// Texts read as sscanf reads four numbers, each kept to its low byte; what is read is written
// back as snprintf writes the four bytes.
TEST(CMUtlVersion, ReadsAsSscanfAndWritesAsSnprintf) {
    static const char* const kPieces[] = {"1", "9", "23", "0", "300", ".", ".",
                                          ".", " ", "\t", "-", "+",   "x"};
    static const char* const kFixed[] = {"3.5.21.10", "3.5.21",         "1.2.3.x",
                                         "1.2.3.\t4", "255.128.-1.300", "+1. 2.+3.\n4"};
    const std::regex tooLong("[0-9]{7}"); // numbers that do not fit an int are left out
    std::mt19937 rng(9);
    for (std::size_t round = 0; round < 3000; ++round) {
        std::string text = round < std::size(kFixed) ? kFixed[round] : "";
        for (unsigned n = text.empty() ? rng() % 10 : 0; n > 0; --n)
            text += kPieces[rng() % std::size(kPieces)];
        if (std::regex_search(text, tooLong)) continue;
        int p[4];
        const bool four = std::sscanf(text.c_str(), "%d.%d.%d.%d", &p[0], &p[1], &p[2], &p[3]) == 4;
        RTS_UI32 version = 0xDEADBEEF; // stays on failure
        EXPECT_EQ(CMUtlStringToVersion(text.c_str(), &version), four ? RES_OK : RES_FAILED)
            << "[" << text << "]";
        EXPECT_EQ(version,
                  four ? ULL(p[0] & 0xFF) << 24 | (p[1] & 0xFF) << 16 | (p[2] & 0xFF) << 8 | (p[3] & 0xFF)
                       : 0xDEADBEEF);
        if (!four) continue;
        char mine[16], reference[16];
        std::snprintf(reference, sizeof reference, "%u.%u.%u.%u", p[0] & 0xFF, p[1] & 0xFF, p[2] & 0xFF,
                      p[3] & 0xFF);
        ASSERT_EQ(CMUtlVersionToString(version, mine, sizeof mine), RES_OK);
        EXPECT_STREQ(mine, reference) << "[" << text << "]";
    }
}

TEST(CMUtlGetBuildDate, GivesTheReleaseDateWithWeekdayAndDayOfYear) {
    RTS_SYSTIMEDATE d{};
    ASSERT_EQ(CMUtlGetBuildDate(&d), RES_OK);
    // 20 May 2025 18:05:16 was a Tuesday, the 140th day of the year.
    EXPECT_EQ(std::vector<int>({d.wYear, d.wMonth, d.wDay, d.wHour, d.wMinute, d.wSecond, d.wMilliseconds,
                                d.wDayOfWeek, d.wYday}),
              std::vector<int>({2025, 5, 20, 18, 5, 16, 0, 2, 140}));
}

} // namespace
