// Formatter, number texts, versions, memory copies, the wrappers and the export table: output
// equals the C library's for ordinary formats, cuts are reported, buffers are never overrun.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cmutils.h"

namespace {

// ---- formatter -----------------------------------------------------------------------------

struct FormatCase {
    const char* name;
    void (*run)(char* mine, char* reference, std::size_t size, RTS_RESULT* result);
};

#define FORMAT_CASE(fmt, ...)                                                                                \
    FormatCase {                                                                                             \
        fmt, [](char* mine, char* reference, std::size_t size, RTS_RESULT* result) {                         \
            *result = CMUtlsnprintf(mine, size, fmt, __VA_ARGS__);                                           \
            std::snprintf(reference, size, fmt, __VA_ARGS__);                                                \
        }                                                                                                    \
    }

const FormatCase kFormats[] = {
    FORMAT_CASE("Error: Component <cmp>%s</cmp> init (%ld) failed", "CmpLog", 17L),
    FORMAT_CASE("%d|%5d|%-5d|%05d|%+d|% d", 42, -42, 7, -3, 9, 9),
    FORMAT_CASE("%u %x %X %#x %o %#o", 4000000000u, 0xBEEFu, 0xBEEFu, 255u, 8u, 8u),
    FORMAT_CASE("%lld %llu %llx", -9000000000LL, 18000000000ULL, 0x123456789ABCULL),
    FORMAT_CASE("%zu %c%c %%", static_cast<std::size_t>(12345), 'o', 'k'),
    FORMAT_CASE("%.3s|%10s|%-10s|%*d|%.*s", "abcdef", "right", "left", 6, 42, 2, "xyz"),
    FORMAT_CASE("%f %.2f %e %.3g %g %10.4f", 3.14159, -2.5, 12345.678, 0.000123456, 1e20, 1.5),
    FORMAT_CASE("%08.3f %-8.2e| %hd %hhu", -1.25, 6.02e23, static_cast<short>(-5),
                static_cast<unsigned char>(200)),
    FORMAT_CASE("<name>%s</name> <file>%s</file> %d%%", "SysFile", "a/b.cfg", 100),
};

TEST(CMUtlsnprintf, MatchesTheCLibraryAtEverySize) {
    for (const auto& f : kFormats) {
        std::vector<char> full(512);
        RTS_RESULT r = RES_FAILED;
        std::vector<char> reference(512);
        f.run(full.data(), reference.data(), full.size(), &r);
        ASSERT_EQ(r, RES_OK) << f.name;
        ASSERT_STREQ(full.data(), reference.data()) << f.name;
        std::size_t length = std::strlen(full.data());
        for (std::size_t size = 1; size <= length + 2; ++size) {
            std::vector<char> mine(size + 4, '#'), ref(size + 4, '#');
            f.run(mine.data(), ref.data(), size, &r);
            EXPECT_EQ(r, length < size ? RES_OK : RES_BUFFERSIZE) << f.name << " size " << size;
            EXPECT_EQ(mine, ref) << f.name << " size " << size; // same cut, same untouched tail
        }
    }
}

TEST(CMUtlsnprintf, RejectsNullAndZeroSize) {
    char buf[4] = "xy";
    EXPECT_EQ(CMUtlsnprintf(nullptr, 4, "a"), RES_PARAMETER);
    EXPECT_EQ(CMUtlsnprintf(buf, 0, "a"), RES_PARAMETER);
    EXPECT_EQ(CMUtlsnprintf(buf, 4, nullptr), RES_PARAMETER);
    EXPECT_STREQ(buf, "xy");
}

RTS_RESULT call_vsnprintf(char* buf, RTS_SIZE size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    RTS_RESULT r = CMUtlvsnprintf(buf, size, format, &args);
    va_end(args);
    return r;
}

int call_vsnprintf2(char* buf, RTS_SIZE size, RTS_RESULT* pResult, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = CMUtlvsnprintf2(buf, size, pResult, format, &args);
    va_end(args);
    return n;
}

TEST(CMUtlvsnprintf, FormatsFromAnArgumentList) {
    char buf[8];
    EXPECT_EQ(call_vsnprintf(buf, sizeof buf, "%s-%d", "ab", 12), RES_OK);
    EXPECT_STREQ(buf, "ab-12");
    EXPECT_EQ(call_vsnprintf(buf, 4, "%s-%d", "ab", 12), RES_BUFFERSIZE);
    EXPECT_STREQ(buf, "ab-");
}

TEST(CMUtlsnprintf2, CountsTheFullOutputAndJudgesIt) {
    using Fn = int (*)(char*, RTS_SIZE, RTS_RESULT*, const char*, ...);
    for (Fn fn : {static_cast<Fn>(CMUtlsnprintf2), static_cast<Fn>(call_vsnprintf2)}) {
        struct Case {
            RTS_SIZE size;
            const char* arg;
            int count;
            RTS_RESULT result;
            const char* text;
        };
        const Case cases[] = {
            {8, "abc", 3, RES_OK, "abc"},
            {4, "abc", 3, RES_OK, "abc"},
            {3, "abc", 3, RES_BUFFERSIZE, "ab"},
            {8, "", 0, RES_BUFFERSIZE, ""}, // an empty output counts as a failure
        };
        for (const auto& c : cases) {
            char buf[8] = "zzzzzzz";
            RTS_RESULT r = 99;
            EXPECT_EQ(fn(buf, c.size, &r, "%s", c.arg), c.count);
            EXPECT_EQ(r, c.result) << c.arg << " size " << c.size;
            EXPECT_STREQ(buf, c.text);
        }
    }
}

TEST(CMUtlsnprintf2, BadArgumentsFollowEachVariantsRule) {
    char buf[4];
    RTS_RESULT r = 99;
    EXPECT_EQ(CMUtlsnprintf2(nullptr, 4, &r, "a"), 2);
    EXPECT_EQ(CMUtlsnprintf2(buf, 0, &r, "a"), 2);
    EXPECT_EQ(CMUtlsnprintf2(buf, 4, &r, nullptr), 2);
    EXPECT_EQ(r, 99u); // left as it was

    EXPECT_EQ(CMUtlvsnprintf2(buf, 4, &r, "a", nullptr), 0);
    EXPECT_EQ(r, RES_PARAMETER);
    r = 99;
    EXPECT_EQ(call_vsnprintf2(nullptr, 4, &r, "a"), 0);
    EXPECT_EQ(r, RES_PARAMETER);
    EXPECT_EQ(call_vsnprintf2(buf, 4, nullptr, "%d", 5), 1); // no result pointer: still formats
    EXPECT_STREQ(buf, "5");
}

// ---- numbers -------------------------------------------------------------------------------

TEST(CMUtlLtoa, WritesPrefixSignAndCuts) {
    struct Case {
        bool isSigned;
        long long value;
        RTS_SIZE size;
        int radix;
        const char* text;
        RTS_RESULT result;
    };
    const Case cases[] = {
        {true, -12, 4, 10, "-12", RES_OK},
        {true, -123, 4, 10, "", RES_PARAMETER},
        {true, 123, 4, 10, "123", RES_OK},
        {true, 1234, 4, 10, "", RES_PARAMETER},
        {true, 0, 2, 10, "0", RES_OK},
        {true, INT_MIN, 12, 10, "-2147483648", RES_OK},
        {true, INT_MAX, 11, 10, "2147483647", RES_OK},
        {true, -1, 16, 16, "0xFFFFFFFF", RES_OK}, // only radix 10 is signed
        {true, -1, 40, 2, "11111111111111111111111111111111", RES_OK},
        {true, 35, 8, 36, "Z", RES_OK},
        {true, 5, 8, 1, "0", RES_PARAMETER},
        {true, 5, 8, 37, "0", RES_PARAMETER},
        {true, 5, 1, 37, "", RES_PARAMETER},
        {false, 255, 8, 16, "0xFF", RES_OK},
        {false, 255, 5, 16, "0xFF", RES_OK},
        {false, 255, 4, 16, "", RES_PARAMETER},
        {false, 0, 4, 16, "0x0", RES_OK},
        {false, 4294967295u, 11, 10, "4294967295", RES_OK},
        {false, 8, 8, 8, "10", RES_OK},
        {false, 7, 8, 1, "0", RES_PARAMETER},
    };
    for (const auto& c : cases) {
        std::string buf(c.size + 4, '#');
        RTS_RESULT r = 99;
        char* out = c.isSigned ? CMUtlLtoa(static_cast<RTS_I32>(c.value), buf.data(), c.size, c.radix, &r)
                               : CMUtlUltoa(static_cast<RTS_UI32>(c.value), buf.data(), c.size, c.radix, &r);
        EXPECT_EQ(out, buf.data());
        EXPECT_STREQ(buf.c_str(), c.text) << c.value << " radix " << c.radix << " size " << c.size;
        EXPECT_EQ(r, c.result) << c.value << " radix " << c.radix << " size " << c.size;
        EXPECT_EQ(buf.substr(c.size), "####");
    }
}

TEST(CMUtlLtoa, NullBufferOrZeroSizeGivesNull) {
    char buf[4];
    RTS_RESULT r = 99;
    EXPECT_EQ(CMUtlLtoa(1, nullptr, 4, 10, &r), nullptr);
    EXPECT_EQ(r, RES_PARAMETER);
    r = 99;
    EXPECT_EQ(CMUtlUltoa(1, buf, 0, 10, &r), nullptr);
    EXPECT_EQ(r, RES_PARAMETER);
    EXPECT_STREQ(CMUtlUltoa(9, buf, 4, 10, nullptr), "9");
}

// ---- versions ------------------------------------------------------------------------------

TEST(CMUtlVersion, TextAndNumberAgree) {
    char buf[16];
    EXPECT_EQ(CMUtlVersionToString(0x0305150A, buf, sizeof buf), RES_OK);
    EXPECT_STREQ(buf, "3.5.21.10");
    EXPECT_EQ(CMUtlVersionToString(0xFF000001, buf, 8), RES_BUFFERSIZE);
    EXPECT_STREQ(buf, "255.0.0");

    struct Case {
        const char* text;
        RTS_RESULT result;
        RTS_UI32 version;
    };
    const Case cases[] = {
        {"3.5.21.10", RES_OK, 0x0305150A},
        {"3.5.21", RES_FAILED, 0},
        {"1.2.3.4.5", RES_OK, 0x01020304},
        {" 1. 2. 3. 4", RES_OK, 0x01020304},
        {"256.1.2.3", RES_OK, 0x00010203},
        {"-1.0.0.0", RES_OK, 0xFF000000},
        {"1.2.x.4", RES_FAILED, 0},
        {"1..2.3", RES_FAILED, 0},
        {"", RES_FAILED, 0},
    };
    for (const auto& c : cases) {
        RTS_UI32 v = 0xDEADBEEF;
        EXPECT_EQ(CMUtlStringToVersion(c.text, &v), c.result) << c.text;
        EXPECT_EQ(v, c.result == RES_OK ? c.version : 0xDEADBEEF) << c.text; // untouched on failure
    }
    RTS_UI32 v;
    EXPECT_EQ(CMUtlStringToVersion(nullptr, &v), RES_PARAMETER);
    EXPECT_EQ(CMUtlStringToVersion("1.2.3.4", nullptr), RES_PARAMETER);
}

// ---- memory --------------------------------------------------------------------------------

TEST(CMUtlMemCpy, CopiesExactlyForEveryAlignmentAndLength) {
    alignas(16) unsigned char src[80], dst[96];
    for (std::size_t i = 0; i < sizeof src; ++i) src[i] = static_cast<unsigned char>(i * 7 + 1);
    for (std::size_t so = 0; so < 8; ++so)
        for (std::size_t d = 0; d < 8; ++d)
            for (std::size_t n = 0; n <= 40; ++n) {
                std::memset(dst, 0xEE, sizeof dst);
                ASSERT_EQ(CMUtlMemCpy(dst + d, src + so, n), dst + d);
                ASSERT_EQ(std::memcmp(dst + d, src + so, n), 0) << so << "/" << d << "/" << n;
                for (std::size_t i = 0; i < sizeof dst; ++i) {
                    if (i >= d && i < d + n) continue;
                    ASSERT_EQ(dst[i], 0xEE) << so << "/" << d << "/" << n << " at " << i;
                }
                std::memset(dst, 0xEE, sizeof dst);
                ASSERT_EQ(CMUtlSafeMemCpy(dst + d, n, src + so, n), RES_OK);
                ASSERT_EQ(std::memcmp(dst + d, src + so, n), 0);
            }
}

TEST(CMUtlSafeMemCpy, RejectsSmallDestinationAndNull) {
    char a[4] = "abc", b[4] = "xyz";
    EXPECT_EQ(CMUtlSafeMemCpy(a, 3, b, 4), RES_PARAMETER);
    EXPECT_EQ(CMUtlSafeMemMove(a, 3, b, 4), RES_PARAMETER);
    EXPECT_EQ(CMUtlSafeMemCpy(nullptr, 4, b, 4), RES_PARAMETER);
    EXPECT_EQ(CMUtlSafeMemMove(a, 4, nullptr, 4), RES_PARAMETER);
    EXPECT_STREQ(a, "abc");
    EXPECT_EQ(CMUtlMemCpy(a, nullptr, 4), a);
}

TEST(CMUtlSafeMemMove, HandlesOverlapBothWays) {
    char s[] = "0123456789";
    EXPECT_EQ(CMUtlSafeMemMove(s + 2, 8, s, 6), RES_OK);
    EXPECT_STREQ(s, "0101234589");
    char t[] = "0123456789";
    EXPECT_EQ(CMUtlSafeMemMove(t, 10, t + 3, 5), RES_OK);
    EXPECT_STREQ(t, "3456756789");
}

// ---- wrappers and export table -------------------------------------------------------------

TEST(CMUtlWrappers, WriteTheCalledFunctionsResultIntoTheRecord) {
    char buf[4];
    CMUtlSafeStrCpyParams cpy{buf, sizeof buf, "abcd", 99};
    cmutlsafestrcpy(&cpy);
    EXPECT_EQ(cpy.result, RES_BUFFERSIZE);
    EXPECT_STREQ(buf, "abc");

    CMUtlStrICmpParams cmp{"abc", "ABD", 99};
    cmutlstricmp(&cmp);
    EXPECT_EQ(cmp.result, 'c' - 'd');

    RTS_WCHAR w[3];
    CMUtlWStrCpyParams wcp{w, 3, u"abc", 99};
    cmutlwstrcpy(&wcp);
    EXPECT_EQ(wcp.result, RES_BUFFERSIZE);
    wcp.result = 99;
    cmutlcwstrcpy(&wcp);
    EXPECT_EQ(wcp.result, RES_OK);
    EXPECT_EQ(std::u16string(w), u"ab");

    RTS_WCHAR wide[4];
    CMUtlUtf8ToWParams toW{"\xC3\x28", 2, wide, 4, 99};
    cmutlutf8tow(&toW);
    EXPECT_EQ(toW.result, RES_CHARS_REPLACED);
    EXPECT_EQ(wide[0], 0xFFFD);

    char narrow[8];
    const RTS_WCHAR lone[] = {0xD800, u'A', 0};
    CMUtlWToUtf8Params toU{lone, 3, narrow, sizeof narrow, 99};
    cmutlwtoutf8(&toU);
    EXPECT_EQ(toU.result, RES_CHARS_REPLACED);
    EXPECT_STREQ(narrow, "\xEF\xBF\xBD"
                         "A");

    cmutlsafestrcpy(nullptr); // ignored, no crash
}

TEST(CMUtlExportTable, ListsEachFunctionOnceUnderItsName) {
    std::vector<std::string> names;
    const CMExportEntry* e = CMUtlExportTable;
    for (; e->function != nullptr; ++e) {
        ASSERT_NE(e->name, nullptr);
        EXPECT_EQ(std::string(e->name).rfind("CMUtl", 0), 0u) << e->name;
        EXPECT_EQ(e->signatureId, 0u);
        EXPECT_EQ(e->version, 0u);
        for (const auto& n : names) EXPECT_NE(n, e->name);
        names.emplace_back(e->name);
    }
    EXPECT_EQ(e->name, nullptr);
    auto find = [](const char* name) -> RTS_VOID_FCTPTR {
        for (const CMExportEntry* x = CMUtlExportTable; x->function != nullptr; ++x)
            if (std::strcmp(x->name, name) == 0) return x->function;
        return nullptr;
    };
    EXPECT_EQ(find("CMUtlSafeStrCpy"), reinterpret_cast<RTS_VOID_FCTPTR>(CMUtlSafeStrCpy));
    EXPECT_EQ(find("CMUtlUtf8ToW"), reinterpret_cast<RTS_VOID_FCTPTR>(CMUtlUtf8ToW));
    EXPECT_EQ(find("CMUtlcwstrcat"), reinterpret_cast<RTS_VOID_FCTPTR>(CMUtlcwstrcat));
    EXPECT_EQ(find("CMUtlvsnprintf2"), reinterpret_cast<RTS_VOID_FCTPTR>(CMUtlvsnprintf2));
    EXPECT_GE(names.size(), 52u);
}

} // namespace

TEST(CMUtlGetBuildDate, GivesTheReleaseDateWithWeekdayAndDayOfYear) {
    RTS_SYSTIMEDATE date{};
    ASSERT_EQ(CMUtlGetBuildDate(&date), RES_OK);
    // 20 May 2025 was a Tuesday, the 140th day of the year.
    EXPECT_EQ(date.wYear, 2025);
    EXPECT_EQ(date.wMonth, 5);
    EXPECT_EQ(date.wDay, 20);
    EXPECT_EQ(date.wHour, 18);
    EXPECT_EQ(date.wMinute, 5);
    EXPECT_EQ(date.wSecond, 16);
    EXPECT_EQ(date.wMilliseconds, 0);
    EXPECT_EQ(date.wDayOfWeek, 2);
    EXPECT_EQ(date.wYday, 140);
    EXPECT_EQ(CMUtlGetBuildDate(nullptr), RES_PARAMETER);
}
