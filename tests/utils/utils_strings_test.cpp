// Bounded 8-bit and 16-bit string functions: copies cut and terminate, results tell a cut from
// a fit, compares follow their end-of-string rules, and no call writes past its buffer.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "cmutils.h"

namespace {

constexpr char kCanary = '#';
constexpr RTS_WCHAR kWCanary = 0xABCD;

// A buffer of `size` bytes followed by guard bytes that must survive every call.
struct Guarded {
    // The buffer starts as `initial` when that fits, else as a full unterminated row of 'z'.
    explicit Guarded(std::size_t size, const char* initial = "") : size(size), bytes(size + 8, kCanary) {
        std::fill_n(bytes.begin(), size, 'z');
        std::size_t n = std::char_traits<char>::length(initial) + 1;
        if (n <= size) std::copy(initial, initial + n, bytes.begin());
    }
    char* data() { return bytes.data(); }
    bool guard_intact() const { return bytes.find_first_not_of(kCanary, size) == std::string::npos; }
    std::size_t size;
    std::string bytes;
};

TEST(CMUtlSafeStrCpy, CutsTerminatesAndReports) {
    struct Case {
        const char* source;
        std::size_t size;
        const char* expected;
        RTS_RESULT result;
    };
    const Case cases[] = {
        {"abcd", 4, "abc", RES_BUFFERSIZE}, {"abcd", 5, "abcd", RES_OK},
        {"abcd", 1, "", RES_BUFFERSIZE},    {"", 1, "", RES_OK},
        {"abcd", 9, "abcd", RES_OK},
    };
    for (const auto& c : cases) {
        for (auto copy : {CMUtlSafeStrCpy, CMUtlSafeStrCpy2}) {
            Guarded buf(c.size, "stale");
            EXPECT_EQ(copy(buf.data(), c.size, c.source), c.result) << c.source << " into " << c.size;
            EXPECT_STREQ(buf.data(), c.expected);
            EXPECT_TRUE(buf.guard_intact());
        }
    }
}

TEST(CMUtlSafeStrCpy, RejectsNullAndZeroSizeWithoutWriting) {
    char buf[4] = "xy";
    EXPECT_EQ(CMUtlSafeStrCpy(nullptr, 4, "a"), RES_PARAMETER);
    EXPECT_EQ(CMUtlSafeStrCpy(buf, 4, nullptr), RES_PARAMETER);
    EXPECT_EQ(CMUtlSafeStrCpy(buf, 0, "a"), RES_PARAMETER);
    EXPECT_EQ(CMUtlSafeStrNCpy(buf, 0, "a", 1), RES_PARAMETER);
    EXPECT_EQ(CMUtlSafeStrCat(buf, 4, nullptr), RES_PARAMETER);
    EXPECT_STREQ(buf, "xy");
}

TEST(CMUtlSafeStrNCpy, ReportsBufferSizeWheneverSizeIsBelowN) {
    struct Case {
        const char* source;
        std::size_t size, n;
        const char* expected;
        RTS_RESULT result;
    };
    const Case cases[] = {
        {"ab", 4, 10, "ab", RES_BUFFERSIZE},    // size < n although the source fits
        {"abcdef", 8, 3, "abc", RES_OK},        // n limits
        {"abcdef", 4, 4, "abc", RES_OK},        // size-1 limits, size == n is not reported
        {"abcdef", 3, 6, "ab", RES_BUFFERSIZE}, // both limits
        {"abc", 8, 0, "", RES_OK},
    };
    for (const auto& c : cases) {
        Guarded buf(c.size, "stale");
        EXPECT_EQ(CMUtlSafeStrNCpy(buf.data(), c.size, c.source, c.n), c.result) << c.size << "/" << c.n;
        EXPECT_STREQ(buf.data(), c.expected);
        EXPECT_TRUE(buf.guard_intact());
    }
}

TEST(CMUtlSafeStrCat, AppendsWhatFitsAndReportsTheCut) {
    struct Case {
        const char* dest;
        const char* source;
        std::size_t size;
        const char* expected;
        RTS_RESULT result;
    };
    const Case cases[] = {
        {"ab", "cd", 5, "abcd", RES_OK},     {"ab", "cd", 4, "abc", RES_BUFFERSIZE},
        {"ab", "", 3, "ab", RES_OK},         {"abc", "d", 4, "abc", RES_BUFFERSIZE},
        {"", "xyz", 2, "x", RES_BUFFERSIZE},
    };
    for (const auto& c : cases) {
        Guarded buf(c.size, c.dest);
        EXPECT_EQ(CMUtlSafeStrCat(buf.data(), c.size, c.source), c.result) << c.dest << "+" << c.source;
        EXPECT_STREQ(buf.data(), c.expected);
        EXPECT_TRUE(buf.guard_intact());
    }
}

TEST(CMUtlSafeStrCat, TerminatesADestinationThatFillsItsBuffer) {
    char buf[4] = {'a', 'b', 'c', 'd'}; // no terminator inside the buffer
    EXPECT_EQ(CMUtlSafeStrCat(buf, sizeof buf, "e"), RES_BUFFERSIZE);
    EXPECT_STREQ(buf, "abc");
}

TEST(CMUtlStrLen, CountsAndStopsAtTheBound) {
    EXPECT_EQ(CMUtlStrLen(nullptr), 0u);
    EXPECT_EQ(CMUtlStrLen("abc"), 3u);
    EXPECT_EQ(CMUtlStrNLen(nullptr, 5), 0u);
    EXPECT_EQ(CMUtlStrNLen("abc", 0), 0u);
    EXPECT_EQ(CMUtlStrNLen("abc", 2), 2u);
    EXPECT_EQ(CMUtlStrNLen("abc", 10), 3u);
    const char unterminated[3] = {'x', 'y', 'z'};
    EXPECT_EQ(CMUtlStrNLen(unterminated, sizeof unterminated), 3u);
}

TEST(CMUtlStrICmp, FollowsItsEndOfStringRules) {
    struct Case {
        const char *a, *b;
        int expected;
    };
    const Case cases[] = {
        {"abc", "ABC", 0},     {"Abd", "abc", 1},  {"abc", "abd", -1}, {"abcd", "ABC", 1},
        {"ab", "ABCD", -1},    {"", "", 0},        {"a", "", 1},       {"", "a", -1},
        {"a", "z", 'a' - 'z'}, {nullptr, "a", -1}, {"a", nullptr, -1}, {nullptr, nullptr, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CMUtlStrICmp(c.a, c.b), c.expected)
            << (c.a ? c.a : "null") << " vs " << (c.b ? c.b : "null");
}

TEST(CMUtlStrNICmp, ComparesAtMostNAndGivesRawDifferenceAtAnEnd) {
    struct Case {
        const char *a, *b;
        std::size_t n;
        int expected;
    };
    const Case cases[] = {
        {"abcX", "ABCy", 3, 0},   {"abc", "ABD", 3, 'c' - 'd'}, {"ab", "ABc", 5, 0 - 'c'},
        {"Abc", "a", 5, 'b'},     {"ABC", "abc", 5, 0},         {"a", "b", 0, 0},
        {"B", "a", 1, 'b' - 'a'}, {nullptr, "a", 1, -1},        {"a", nullptr, 1, -1},
        {"ab", "AB", 2, 0},       {"", "A", 3, 0 - 'A'}, // raw, not lower-cased
    };
    for (const auto& c : cases)
        EXPECT_EQ(CMUtlStrNICmp(c.a, c.b, c.n), c.expected)
            << (c.a ? c.a : "null") << " vs " << (c.b ? c.b : "null");
}

TEST(CMUtlStrIStr, FindsFirstCaseInsensitiveOccurrence) {
    const char* hay = "Alpha BETA gamma beta";
    EXPECT_EQ(CMUtlStrIStr(hay, "beta"), hay + 6);
    EXPECT_EQ(CMUtlStrIStr(hay, "GAMMA"), hay + 11);
    EXPECT_EQ(CMUtlStrIStr(hay, "a"), hay);
    EXPECT_EQ(CMUtlStrIStr(hay, ""), hay);
    EXPECT_EQ(CMUtlStrIStr(hay, "delta"), nullptr);
    EXPECT_EQ(CMUtlStrIStr(hay, "beta beta"), nullptr);
    EXPECT_EQ(CMUtlStrIStr("", ""), nullptr);
    EXPECT_EQ(CMUtlStrIStr("ab", "abc"), nullptr); // needle longer than the rest
    EXPECT_EQ(CMUtlStrIStr(nullptr, "a"), nullptr);
    EXPECT_EQ(CMUtlStrIStr(hay, nullptr), nullptr);
}

TEST(CMUtlStrRChr, SearchesBackwardsWithinStart) {
    const char* s = "a/b/c";
    EXPECT_EQ(CMUtlStrRChr(s, s + 4, '/'), s + 3);
    EXPECT_EQ(CMUtlStrRChr(s, s + 2, '/'), s + 1);
    EXPECT_EQ(CMUtlStrRChr(s, s + 4, 'a'), s);
    EXPECT_EQ(CMUtlStrRChr(s + 2, s + 2, '/'), nullptr); // the search never leaves start
    EXPECT_EQ(CMUtlStrRChr(s + 3, s + 2, '/'), nullptr); // from < start
    EXPECT_EQ(CMUtlStrRChr(s, s + 4, 'x'), nullptr);
    EXPECT_EQ(CMUtlStrRChr(nullptr, s, 'a'), nullptr);
}

TEST(CMUtlStrCase, ChangesInPlaceAndHandlesNull) {
    using Fn = char* (*)(char*);
    struct Case {
        Fn fn;
        const char* expected;
    };
    const Case cases[] = {{CMUtlStrToLower, "mixed 12 case!"},
                          {CMUtlStrlwr, "mixed 12 case!"},
                          {CMUtlStrToUpper, "MIXED 12 CASE!"},
                          {CMUtlStrupr, "MIXED 12 CASE!"}};
    for (const auto& c : cases) {
        char text[] = "MiXeD 12 cAsE!";
        EXPECT_EQ(c.fn(text), text);
        EXPECT_STREQ(text, c.expected);
        EXPECT_EQ(c.fn(nullptr), nullptr);
    }
}

TEST(CMUtlStrrev, ReversesAnyLength) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""}, {"a", "a"}, {"ab", "ba"}, {"abc", "cba"}, {"abcdefgh", "hgfedcba"}};
    for (const auto& [in, out] : cases) {
        std::string s = in;
        EXPECT_STREQ(CMUtlStrrev(s.data()), out);
    }
    EXPECT_EQ(CMUtlStrrev(nullptr), nullptr);
}

TEST(CMUtlSkipWhiteSpace, SkipsOnlySpaceAndTab) {
    const char* s = " \t \tx y";
    EXPECT_EQ(CMUtlSkipWhiteSpace(s), s + 4);
    const char* nl = "\nx";
    EXPECT_EQ(CMUtlSkipWhiteSpace(nl), nl);
    const char* blank = "  ";
    EXPECT_EQ(CMUtlSkipWhiteSpace(blank), blank + 2);
    EXPECT_EQ(CMUtlSkipWhiteSpace(nullptr), nullptr);
}

// ---- 16-bit strings ------------------------------------------------------------------------

std::u16string wide(const char16_t* s) {
    return s;
}

struct WGuarded {
    explicit WGuarded(std::size_t size, const char16_t* initial = u"")
        : size(size), units(size + 8, kWCanary) {
        std::fill_n(units.begin(), size, u'z');
        std::size_t n = std::char_traits<char16_t>::length(initial) + 1;
        if (n <= size) std::copy(initial, initial + n, units.begin());
    }
    RTS_WCHAR* data() { return units.data(); }
    bool guard_intact() const { return units.find_first_not_of(kWCanary, size) == std::u16string::npos; }
    std::size_t size;
    std::u16string units;
};

TEST(CMUtlWStrCpy, WFamilyReportsCutButCwFamilyDoesNot) {
    struct Case {
        const char16_t* source;
        std::size_t size;
        const char16_t* expected;
        RTS_RESULT wResult, cwResult;
    };
    const Case cases[] = {
        {u"abcd", 4, u"abc", RES_BUFFERSIZE, RES_OK},
        {u"abcd", 5, u"abcd", RES_OK, RES_OK},
        {u"abcd", 1, u"", RES_BUFFERSIZE, RES_OK},
        {u"", 1, u"", RES_OK, RES_OK},
    };
    for (const auto& c : cases) {
        WGuarded w(c.size, u"stale"), cw(c.size, u"stale");
        EXPECT_EQ(CMUtlwstrcpy(w.data(), c.size, c.source), c.wResult);
        EXPECT_EQ(CMUtlcwstrcpy(cw.data(), c.size, c.source), c.cwResult);
        EXPECT_EQ(wide(w.data()), c.expected);
        EXPECT_EQ(wide(cw.data()), c.expected);
        EXPECT_TRUE(w.guard_intact() && cw.guard_intact());
    }
    RTS_WCHAR buf[2];
    for (auto copy : {CMUtlwstrcpy, CMUtlcwstrcpy}) {
        EXPECT_EQ(copy(nullptr, 2, u"a"), RES_PARAMETER);
        EXPECT_EQ(copy(buf, 2, nullptr), RES_PARAMETER);
        EXPECT_EQ(copy(buf, 0, u"a"), RES_PARAMETER);
    }
}

TEST(CMUtlWStrNCpy, AnswersZeroOnlyWhenNUnitsWereCopied) {
    struct Case {
        const char16_t* source;
        std::size_t size, n;
        const char16_t* expected;
        RTS_RESULT result;
    };
    const Case cases[] = {
        {u"abcdef", 8, 3, u"abc", 0}, {u"ab", 8, 3, u"ab", 1}, // source shorter than n
        {u"abcdef", 3, 3, u"ab", 1},                           // buffer full
        {u"abc", 4, 3, u"abc", 0},    {u"abc", 4, 0, u"", 0},
    };
    for (const auto& c : cases) {
        for (auto copy : {CMUtlwstrncpy, CMUtlcwstrncpy}) {
            WGuarded buf(c.size, u"stale");
            EXPECT_EQ(copy(buf.data(), c.size, c.source, c.n), c.result) << c.size << "/" << c.n;
            EXPECT_EQ(wide(buf.data()), c.expected);
            EXPECT_TRUE(buf.guard_intact());
        }
    }
    RTS_WCHAR buf[4];
    EXPECT_EQ(CMUtlwstrncpy(nullptr, 4, u"a", 1), 1u);
    EXPECT_EQ(CMUtlcwstrncpy(buf, 4, nullptr, 1), 1u);
    EXPECT_EQ(CMUtlwstrncpy(nullptr, 4, nullptr, 0), 0u);
}

TEST(CMUtlWStrCat, AppendsAllOrNothing) {
    struct Case {
        const char16_t *dest, *source;
        std::size_t size;
        const char16_t* expected;
        RTS_RESULT wResult, cwResult;
    };
    const Case cases[] = {
        {u"ab", u"cd", 5, u"abcd", RES_OK, RES_OK},
        {u"ab", u"cd", 4, u"ab", RES_BUFFERSIZE, RES_PARAMETER}, // needs exactly size units
        {u"ab", u"", 3, u"ab", RES_OK, RES_OK},
        {u"", u"x", 1, u"", RES_BUFFERSIZE, RES_PARAMETER},
    };
    for (const auto& c : cases) {
        WGuarded w(c.size, c.dest), cw(c.size, c.dest);
        EXPECT_EQ(CMUtlwstrcat(w.data(), c.size, c.source), c.wResult);
        EXPECT_EQ(CMUtlcwstrcat(cw.data(), c.size, c.source), c.cwResult);
        EXPECT_EQ(wide(w.data()), c.expected);
        EXPECT_EQ(wide(cw.data()), c.expected);
        EXPECT_TRUE(w.guard_intact() && cw.guard_intact());
    }
    EXPECT_EQ(CMUtlwstrcat(nullptr, 4, u"a"), RES_PARAMETER);
    EXPECT_EQ(CMUtlcwstrcat(nullptr, 4, u"a"), RES_PARAMETER);
}

TEST(CMUtlWStrCmp, GivesUnsignedDifferenceAndZeroForNull) {
    struct Case {
        const char16_t *a, *b;
        int expected;
    };
    const Case cases[] = {
        {u"abc", u"abc", 0},
        {u"abc", u"abd", -1},
        {u"abd", u"abc", 1},
        {u"ab", u"abc", -'c'},
        {u"\xFFFF", u"a", 0xFFFF - 'a'},
        {nullptr, u"a", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CMUtlwstrcmp(c.a, c.b), c.expected);
        EXPECT_EQ(CMUtlcwstrcmp(c.a, c.b), c.expected);
    }
    EXPECT_EQ(CMUtlwstrncmp(u"abcX", u"abcY", 3), 0);
    EXPECT_EQ(CMUtlwstrncmp(u"abcX", u"abcY", 4), 'X' - 'Y');
    EXPECT_EQ(CMUtlwstrncmp(u"ab", u"ab", 10), 0);
    EXPECT_EQ(CMUtlwstrncmp(u"a", nullptr, 1), 0);
}

TEST(CMUtlWStrFunctions, LengthChrAndAsciiCase) {
    const char16_t* s = u"a\u00C4bA";
    for (auto len : {CMUtlwstrlen, CMUtlcwstrlen}) {
        EXPECT_EQ(len(s), 4u);
        EXPECT_EQ(len(nullptr), 0u);
    }
    for (auto chr : {CMUtlwstrchr, CMUtlcwstrchr}) {
        EXPECT_EQ(chr(s, u'b'), s + 2);
        EXPECT_EQ(chr(s, 0), nullptr); // the terminator is never found
        EXPECT_EQ(chr(u"", u'a'), nullptr);
        EXPECT_EQ(chr(nullptr, u'a'), nullptr);
    }
    struct Case {
        RTS_WCHAR* (*fn)(RTS_WCHAR*);
        const char16_t* expected;
    };
    const Case cases[] = {{CMUtlwtolower, u"az@[\u00C4\u00E4z"},
                          {CMUtlcwtolower, u"az@[\u00C4\u00E4z"},
                          {CMUtlwtoupper, u"AZ@[\u00C4\u00E4Z"},
                          {CMUtlcwtoupper, u"AZ@[\u00C4\u00E4Z"}};
    for (const auto& c : cases) {
        std::u16string text = u"aZ@[\u00C4\u00E4z"; // only ASCII letters may change
        EXPECT_EQ(c.fn(text.data()), text.data());
        EXPECT_EQ(text, c.expected);
        EXPECT_EQ(c.fn(nullptr), nullptr);
    }
}

} // namespace
