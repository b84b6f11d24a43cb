// Text conversions: the single-byte code page against the system's converter, UTF-8 <-> UTF-16
// with replacement, the terminator rules, buffer sweeps that look for overruns, and the two
// encoding checks.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cmutils.h"

#if !defined(_WIN32)
#include <iconv.h>
#endif

namespace {

constexpr RTS_WCHAR kGuard = 0xABCD;

std::u16string units(const RTS_WCHAR* p, std::size_t n) {
    return std::u16string(p, n);
}

// ---- single-byte code page -----------------------------------------------------------------

TEST(CMUtlCodePage, HighControlRangeMatchesSystemConverter) {
#if defined(_WIN32)
    GTEST_SKIP() << "the reference converter is not available on this platform";
#else
    iconv_t cd = iconv_open("UTF-16LE", "CP1252");
    if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "CP1252 converter not installed";
    for (int b = 0x80; b <= 0x9F; ++b) {
        char in[2] = {static_cast<char>(b), 0};
        RTS_WCHAR mine[2];
        ASSERT_EQ(CMUtlStrToW(in, mine, 2), RES_OK);
        char* ip = in;
        std::size_t il = 1;
        unsigned char out[4];
        char* op = reinterpret_cast<char*>(out);
        std::size_t ol = sizeof out;
        if (iconv(cd, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1)) {
            // A byte without a character in the code page stands for itself.
            EXPECT_EQ(mine[0], b) << std::hex << b;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else {
            EXPECT_EQ(mine[0], out[0] | (out[1] << 8)) << std::hex << b;
        }
    }
    iconv_close(cd);
#endif
}

TEST(CMUtlCodePage, EveryByteRoundTripsThroughWideText) {
    for (int b = 1; b <= 0xFF; ++b) {
        char in[2] = {static_cast<char>(b), 0};
        RTS_WCHAR w[2];
        char back[2] = {};
        ASSERT_EQ(CMUtlStrToW(in, w, 2), RES_OK);
        ASSERT_EQ(CMUtlWToStr(w, back, 2), RES_OK);
        EXPECT_EQ(static_cast<unsigned char>(back[0]), b);
        EXPECT_EQ(w[0] == b,
                  b < 0x80 || b >= 0xA0 || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
            << std::hex << b;
    }
}

TEST(CMUtlCodePage, ConversionsMapCutAndTerminate) {
    RTS_WCHAR w[8];
    EXPECT_EQ(CMUtlStrToCW("a\x80\x99\xE9", w, 8), RES_OK);
    EXPECT_EQ(units(w, 5), (std::u16string{u'a', 0x20AC, 0x2122, 0xE9, 0}));
    EXPECT_EQ(CMUtlStrToW("abcd", w, 3), 1u);
    EXPECT_EQ(units(w, 3), (std::u16string{u'a', u'b', 0}));

    const RTS_WCHAR src[] = {u'a', 0x20AC, 0x1234, 0x0080, 0x0181, 0};
    char s[8];
    EXPECT_EQ(CMUtlWToStr(src, s, 8), RES_OK);
    EXPECT_EQ(std::string(s), std::string("a\x80\x34\x80\x81"));
    EXPECT_EQ(CMUtlCWToStr(src, s, 8), RES_OK);
    EXPECT_EQ(std::string(s), std::string("a\xAC\x34\x80\x81"));
    EXPECT_EQ(CMUtlCWToStr(src, s, 2), 1u);
    EXPECT_STREQ(s, "a");

    EXPECT_EQ(CMUtlStrToW(nullptr, w, 8), RES_PARAMETER);
    EXPECT_EQ(CMUtlStrToW("a", w, 0), RES_PARAMETER);
    EXPECT_EQ(CMUtlWToStr(src, nullptr, 8), RES_PARAMETER);
    EXPECT_EQ(CMUtlCWToStr(nullptr, s, 8), RES_PARAMETER);
}

// ---- UTF-8 -> UTF-16 -----------------------------------------------------------------------

struct Utf8Case {
    std::string in;
    std::u16string out;
    RTS_RESULT result;
};

TEST(CMUtlUtf8ToW, DecodesAndReplacesInvalidInput) {
    const Utf8Case cases[] = {
        {"A\xC3\xA9", u"A\u00E9", RES_OK},
        {"\xE2\x82\xAC", u"\u20AC", RES_OK},
        {"\xF0\x9F\x98\x80", u"\xD83D\xDE00", RES_OK},
        {"\xC3\x28", u"\xFFFD(", RES_CHARS_REPLACED},      // missing continuation
        {"\xED\xA0\x80", u"\xFFFD", RES_CHARS_REPLACED},   // an encoded surrogate: one U+FFFD
        {"\x80x", u"\xFFFDx", RES_CHARS_REPLACED},         // continuation as lead
        {"\xFFx", u"\xFFFDx", RES_CHARS_REPLACED},         // no lead at all
        {"\xE2\x82", u"\xFFFD\xFFFD", RES_CHARS_REPLACED}, // lead without enough bytes
        {"\xC0\xAF", u"\x002F", RES_OK},                   // overlong forms pass
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF", RES_OK},     // U+10FFFF
    };
    for (const auto& c : cases) {
        std::vector<RTS_WCHAR> out(16, kGuard);
        EXPECT_EQ(CMUtlUtf8ToW(c.in.data(), c.in.size(), out.data(), out.size()), c.result) << c.in;
        EXPECT_EQ(units(out.data(), c.out.size()), c.out) << c.in;
        // The source length was used up: nothing after the last unit is written.
        EXPECT_EQ(out[c.out.size()], kGuard) << c.in;
    }
}

TEST(CMUtlUtf8ToW, TerminatorRules) {
    RTS_WCHAR out[8];
    std::fill(std::begin(out), std::end(out), kGuard);
    // Stops at a NUL before the length: terminated.
    EXPECT_EQ(CMUtlUtf8ToW("ab\0cd", 5, out, 8), RES_OK);
    EXPECT_EQ(units(out, 3), (std::u16string{u'a', u'b', 0}));
    EXPECT_EQ(out[3], kGuard);

    // Buffer full with source left: the last unit becomes the terminator.
    std::fill(std::begin(out), std::end(out), kGuard);
    EXPECT_EQ(CMUtlUtf8ToW("abcdef", 6, out, 3), RES_BUFFERSIZE);
    EXPECT_EQ(units(out, 3), (std::u16string{u'a', u'b', 0}));
    EXPECT_EQ(out[3], kGuard);

    // A pair that does not fit is not split; the terminator follows the last whole unit.
    std::fill(std::begin(out), std::end(out), kGuard);
    EXPECT_EQ(CMUtlUtf8ToW("a\xF0\x9F\x98\x80", 5, out, 2), RES_BUFFERSIZE);
    EXPECT_EQ(units(out, 2), (std::u16string{u'a', 0}));
    EXPECT_EQ(out[2], kGuard);
}

TEST(CMUtlUtf8ToW, RejectsNullAndZeroSizes) {
    RTS_WCHAR out[4] = {kGuard, kGuard, kGuard, kGuard};
    EXPECT_EQ(CMUtlUtf8ToW(nullptr, 1, out, 4), RES_PARAMETER);
    EXPECT_EQ(CMUtlUtf8ToW("a", 0, out, 4), RES_PARAMETER);
    EXPECT_EQ(CMUtlUtf8ToW("a", 1, nullptr, 4), RES_PARAMETER);
    EXPECT_EQ(CMUtlUtf8ToW("a", 1, out, 0), RES_PARAMETER);
    EXPECT_EQ(out[0], kGuard);
}

// ---- UTF-16 -> UTF-8 -----------------------------------------------------------------------

struct Utf16Case {
    std::u16string in;
    std::string out;
    RTS_RESULT result;
};

TEST(CMUtlWToUtf8, EncodesAndReplacesLoneSurrogates) {
    const Utf16Case cases[] = {
        {u"A\u00E9\u20AC", "A\xC3\xA9\xE2\x82\xAC", RES_OK},
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80", RES_OK},
        {u"\xD800\x0041", "\xEF\xBF\xBD\x41", RES_CHARS_REPLACED},
        {u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD", RES_CHARS_REPLACED}, // reversed pair
        {u"\xD800", "\xEF\xBF\xBD", RES_CHARS_REPLACED},                   // last unit within the length
        {u"\x07FF\x0800", "\xDF\xBF\xE0\xA0\x80", RES_OK},
    };
    for (const auto& c : cases) {
        std::string out(16, '#');
        EXPECT_EQ(CMUtlWToUtf8(c.in.data(), c.in.size(), out.data(), out.size()), c.result);
        EXPECT_EQ(out.substr(0, c.out.size()), c.out);
        EXPECT_EQ(out[c.out.size()], '#'); // no terminator when the length was used up
    }
}

TEST(CMUtlWToUtf8, PairCutByTheLengthIsReplaced) {
    const RTS_WCHAR in[] = {0xD83D, 0xDE00, 0};
    char out[8];
    EXPECT_EQ(CMUtlWToUtf8(in, 1, out, sizeof out), RES_CHARS_REPLACED);
    EXPECT_EQ(std::string(out, 3), "\xEF\xBF\xBD");
}

TEST(CMUtlWToUtf8, TerminatorRules) {
    const RTS_WCHAR in[] = {u'a', u'b', 0, u'c'};
    std::string out(8, '#');
    // Stops at the NUL: terminated.
    EXPECT_EQ(CMUtlWToUtf8(in, 4, out.data(), out.size()), RES_OK);
    EXPECT_EQ(out.substr(0, 4), std::string("ab\0#", 4));
    // Output fills the buffer exactly and the NUL is next: the terminator takes the last byte.
    out.assign(8, '#');
    EXPECT_EQ(CMUtlWToUtf8(in, 4, out.data(), 2), RES_BUFFERSIZE);
    EXPECT_EQ(out.substr(0, 3), std::string("a\0#", 3));
    // A character that does not fit is not started.
    const RTS_WCHAR euro[] = {u'a', 0x20AC, 0};
    out.assign(8, '#');
    EXPECT_EQ(CMUtlWToUtf8(euro, 2, out.data(), 3), RES_BUFFERSIZE);
    EXPECT_EQ(out.substr(0, 3), std::string("a\0#", 3));
    // Exactly filled by the whole length: no terminator and no cut.
    out.assign(8, '#');
    EXPECT_EQ(CMUtlWToUtf8(in, 2, out.data(), 2), RES_OK);
    EXPECT_EQ(out.substr(0, 3), "ab#");

    EXPECT_EQ(CMUtlWToUtf8(nullptr, 1, out.data(), 4), RES_PARAMETER);
    EXPECT_EQ(CMUtlWToUtf8(in, 1, out.data(), 0), RES_PARAMETER);
}

// ---- properties over many inputs -----------------------------------------------------------

std::u16string random_utf16(std::mt19937& rng, std::size_t n) {
    std::u16string s;
    while (s.size() < n) {
        std::uint32_t cp = rng() % 0x110000;
        if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) continue;
        if (cp < 0x10000) {
            s.push_back(static_cast<char16_t>(cp));
        } else {
            s.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            s.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        }
    }
    return s;
}

TEST(CMUtlUtf, ValidTextRoundTripsAndPassesTheChecks) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::u16string text = random_utf16(rng, rng() % 40 + 1);
        std::string utf8(text.size() * 3 + 1, '#');
        ASSERT_EQ(CMUtlWToUtf8(text.c_str(), text.size() + 1, utf8.data(), utf8.size()), RES_OK);
        std::size_t len = utf8.find('\0');
        ASSERT_NE(len, std::string::npos);
        EXPECT_EQ(CMUtlCheckUtf8Encoding(utf8.c_str(), len), RES_OK);
        EXPECT_EQ(CMUtlCheckUtf16Encoding(text.c_str(), text.size()), RES_OK);
        std::vector<RTS_WCHAR> back(text.size() + 1, kGuard);
        ASSERT_EQ(CMUtlUtf8ToW(utf8.c_str(), len + 1, back.data(), back.size()), RES_OK);
        EXPECT_EQ(std::u16string(back.data()), text);
    }
}

TEST(CMUtlUtf, NoBufferSizeWritesOutsideTheBuffer) {
    std::mt19937 rng(11);
    for (int round = 0; round < 100; ++round) {
        std::u16string text = random_utf16(rng, rng() % 12 + 1);
        text.insert(rng() % text.size(), 1,
                    static_cast<char16_t>(0xD800 + rng() % 0x800)); // a stray surrogate
        std::string utf8(64, '\0');
        CMUtlWToUtf8(text.c_str(), text.size() + 1, utf8.data(), utf8.size());
        for (std::size_t size = 1; size <= 40; ++size) {
            std::string out(size + 4, '#');
            RTS_RESULT r = CMUtlWToUtf8(text.c_str(), text.size() + 1, out.data(), size);
            EXPECT_EQ(out.substr(size), "####");
            EXPECT_NE(out.find('\0'), std::string::npos); // stopped at the NUL or cut: terminated
            EXPECT_TRUE(r == RES_OK || r == RES_BUFFERSIZE || r == RES_CHARS_REPLACED);

            std::vector<RTS_WCHAR> w(size + 4, kGuard);
            CMUtlUtf8ToW(utf8.c_str(), utf8.size(), w.data(), size);
            EXPECT_EQ(units(w.data() + size, 4), std::u16string(4, kGuard));
            EXPECT_NE(std::find(w.begin(), w.begin() + size, 0), w.begin() + size);
        }
    }
}

// ---- encoding checks -----------------------------------------------------------------------

TEST(CMUtlCheckUtf8Encoding, FindsEveryKindOfBadSequence) {
    struct Case {
        std::string text;
        std::size_t length;
        RTS_RESULT result;
    };
    const Case cases[] = {
        {"", 0, RES_OK},
        {"", 1, RES_OK},
        {"plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 16, RES_OK},
        {"\x80", 1, RES_INVALID_ENCODING},
        {"\xC3\x28", 2, RES_INVALID_ENCODING},
        {"\xED\xA0\x80", 3, RES_INVALID_ENCODING},
        {"\xE2\x82\xAC", 2, RES_INVALID_ENCODING}, // the length cuts the sequence
        {"ok\x80", 2, RES_OK},                     // the bad byte lies beyond the length
        {std::string("ok\0\x80", 4), 4, RES_OK},   // and beyond a NUL
        {"\xF8\x88\x80\x80\x80", 5, RES_INVALID_ENCODING},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CMUtlCheckUtf8Encoding(c.text.data(), c.length), c.result) << c.text;
    EXPECT_EQ(CMUtlCheckUtf8Encoding(nullptr, 4), RES_PARAMETER);
}

TEST(CMUtlCheckUtf16Encoding, FindsLoneAndMisplacedSurrogates) {
    struct Case {
        std::u16string text;
        std::size_t length;
        RTS_RESULT result;
    };
    const Case cases[] = {
        {u"", 1, RES_OK},
        {u"a\xD83D\xDE00z", 4, RES_OK},
        {u"\xDE00", 1, RES_INVALID_ENCODING},
        {u"\xD83Dz", 2, RES_INVALID_ENCODING},
        {u"a\xD83D\xDE00", 2, RES_INVALID_ENCODING}, // high surrogate last within the length
        {std::u16string(u"\xD83D\0", 2), 2, RES_INVALID_ENCODING},
        {u"ab\xDE00", 2, RES_OK},
    };
    for (const auto& c : cases) EXPECT_EQ(CMUtlCheckUtf16Encoding(c.text.data(), c.length), c.result);
    EXPECT_EQ(CMUtlCheckUtf16Encoding(nullptr, 4), RES_PARAMETER);
}

} // namespace
