// Text conversions against outside converters: the single-byte code page for every byte and
// unit against the system's (iconv natively, the Win32 code-page call under Wine), valid UTF-8
// <-> UTF-16 text at every buffer size against the C++ library's; and the replacement and
// terminator rules for input a converter would refuse, each with the encoding check's verdict.
#include <gtest/gtest.h>

#include <codecvt>
#include <iterator>
#include <locale>
#include <optional>
#include <random>
#include <string>
#include <vector>
#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

#include "cmutils.h"

namespace {

constexpr char16_t kGuard = 0xABCD;

// The system's code point for a byte of the Windows-1252 code page; nothing when it has none.
std::optional<char16_t> system_cp1252(char byte) {
#if defined(_WIN32)
    wchar_t unit = 0;
    if (MultiByteToWideChar(1252, MB_ERR_INVALID_CHARS, &byte, 1, &unit, 1) != 1) return std::nullopt;
    return static_cast<char16_t>(unit);
#else
    iconv_t cd = iconv_open("UTF-16LE", "CP1252");
    unsigned char out[4];
    char *in = &byte, *to = reinterpret_cast<char*>(out);
    std::size_t inLeft = 1, outLeft = sizeof out;
    const bool ok = cd != reinterpret_cast<iconv_t>(-1) && iconv(cd, &in, &inLeft, &to, &outLeft) == 0;
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    return ok ? std::optional<char16_t>(out[0] | out[1] << 8) : std::nullopt;
#endif
}

// The C++ library's UTF-8 for valid UTF-16 text.
std::string library_utf8(const std::u16string& text) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t>().to_bytes(text);
#pragma GCC diagnostic pop
}

TEST(CMUtlCodePage, EveryByteAndUnitMapsAsTheSystemCodePage) {
    ASSERT_TRUE(system_cp1252('a')) << "the system has no Windows-1252 converter";
    std::vector<char> back(0x10000, 0); // the byte each unit came from
    for (int b = 1; b <= 0xFF; ++b) {
        const char in[2] = {static_cast<char>(b), 0};
        RTS_WCHAR unit[2];
        ASSERT_EQ(CMUtlStrToW(in, unit, 2), RES_OK);
        // A byte without a character in the code page stands for itself.
        EXPECT_EQ(unit[0], system_cp1252(in[0]).value_or(static_cast<char16_t>(b))) << b;
        back[unit[0]] = in[0];
    }
    std::u16string all;
    for (unsigned u = 1; u <= 0xFFFF; ++u) all.push_back(static_cast<char16_t>(u));
    std::string narrow(all.size() + 1, '#'), low(all.size() + 1, '#');
    ASSERT_EQ(CMUtlWToStr(all.c_str(), narrow.data(), narrow.size()), RES_OK);
    ASSERT_EQ(CMUtlCWToStr(all.c_str(), low.data(), low.size()), RES_OK);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const char16_t u = all[i];
        ASSERT_EQ(narrow[i], u >= 0x80 && back[u] != 0 ? back[u] : static_cast<char>(u)) << unsigned{u};
        ASSERT_EQ(low[i], static_cast<char>(u));
    }
    for (std::size_t size = 1; size <= 5; ++size) { // cut and terminated at every size
        const RTS_RESULT fits = size > 3 ? RES_OK : RES_FAILED;
        std::u16string w(size + 1, kGuard);
        std::string s(size + 1, '#');
        EXPECT_EQ(CMUtlStrToW("a\x80z", w.data(), size), fits);
        EXPECT_EQ(CMUtlWToStr(u"a\x20ACz", s.data(), size), fits);
        EXPECT_EQ(w.c_str(), std::u16string(u"a\x20ACz").substr(0, size - 1));
        EXPECT_EQ(s.c_str(), std::string("a\x80z").substr(0, size - 1));
        EXPECT_TRUE(w[size] == kGuard && s[size] == '#');
    }
}

// ---- UTF-8 <-> UTF-16 ----------------------------------------------------------------------

// Characters of valid UTF-16 text: the encoding boundaries and random ones.
std::vector<std::u16string> random_characters(std::mt19937& rng, std::size_t count) {
    static const std::u16string kBoundaries[] = {u"\x7F",         u"\x80",         u"\x7FF",
                                                 u"\x800",        u"\xD7FF",       u"\xE000",
                                                 u"\xD800\xDC00", u"\xDBFF\xDFFF", u"\xFFFF"};
    std::vector<std::u16string> out;
    while (out.size() < count) {
        const auto unit = static_cast<char16_t>(1 + rng() % 0xFFFF);
        if (rng() % 3 == 0)
            out.push_back(kBoundaries[rng() % std::size(kBoundaries)]);
        else if (unit < 0xD800 || unit > 0xDFFF)
            out.push_back(std::u16string(1, unit));
        else
            out.push_back({static_cast<char16_t>(0xD800 + rng() % 0x400),
                           static_cast<char16_t>(0xDC00 + rng() % 0x400)});
    }
    return out;
}

// What a conversion into `size` places keeps: the whole characters that fit, of which the
// terminator takes the last place when they fill the buffer.
template <class Text> Text expected_cut(const std::vector<Text>& characters, std::size_t size) {
    Text kept;
    for (std::size_t i = 0; i < characters.size() && kept.size() + characters[i].size() <= size; ++i)
        kept += characters[i];
    return kept.substr(0, size - 1);
}

TEST(CMUtlUtf, ValidTextConvertsAsTheLibraryConverterAtEveryBufferSize) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const std::vector<std::u16string> chars16 = random_characters(rng, 1 + rng() % 12);
        std::vector<std::string> chars8;
        std::u16string text16;
        std::string text8;
        for (const std::u16string& c : chars16) {
            chars8.push_back(library_utf8(c));
            text16 += c;
            text8 += chars8.back();
        }
        EXPECT_EQ(CMUtlCheckUtf16Encoding(text16.c_str(), text16.size()), RES_OK);
        EXPECT_EQ(CMUtlCheckUtf8Encoding(text8.c_str(), text8.size()), RES_OK);
        for (std::size_t size = 1; size <= text8.size() + 1; ++size) {
            SCOPED_TRACE(testing::Message() << "round " << round << " size " << size);
            std::string out8(size + 2, '#');
            std::u16string out16(size + 2, kGuard);
            EXPECT_EQ(CMUtlWToUtf8(text16.c_str(), text16.size() + 1, out8.data(), size),
                      text8.size() < size ? RES_OK : RES_BUFFERSIZE);
            EXPECT_EQ(CMUtlUtf8ToW(text8.c_str(), text8.size() + 1, out16.data(), size),
                      text16.size() < size ? RES_OK : RES_BUFFERSIZE);
            const std::string kept8 = expected_cut(chars8, size);
            const std::u16string kept16 = expected_cut(chars16, size);
            EXPECT_EQ(out8.substr(0, kept8.size() + 1), kept8 + '\0');
            EXPECT_EQ(out16.substr(0, kept16.size() + 1), kept16 + u'\0');
            EXPECT_EQ(out8.substr(size), "##");
            EXPECT_EQ(out16.substr(size), std::u16string(2, kGuard));
        }
    }
}

// Input a converter would refuse, or that ends early: what is written (a terminator only
// where one is due, nothing behind it), the result, and the encoding check, which calls the text
// invalid exactly when the conversion replaced something.
template <class In, class Out> struct ConversionCase {
    const char* label;
    In input;
    std::size_t length; // 0: the whole input
    Out written;
    RTS_RESULT result;
    std::size_t destSize = 16;
};

template <class In, class Out, class Convert, class Check>
void expect_conversions(std::initializer_list<ConversionCase<In, Out>> cases, Convert convert, Check check,
                        typename Out::value_type guard) {
    for (const auto& c : cases) {
        const std::size_t length = c.length != 0 ? c.length : c.input.size();
        Out out(c.destSize + 1, guard);
        EXPECT_EQ(convert(c.input.data(), length, out.data(), c.destSize), c.result) << c.label;
        EXPECT_EQ(out.substr(0, c.written.size() + 1), c.written + guard) << c.label;
        EXPECT_EQ(check(c.input.data(), length),
                  c.result == RES_CHARS_REPLACED ? RES_INVALID_ENCODING : RES_OK)
            << c.label;
    }
}

TEST(CMUtlUtf8ToW, ReplacesInvalidInputAndStopsWhereTheRulesSay) {
    expect_conversions<std::string, std::u16string>(
        {
            {"missing continuation", "\xC3\x28", 0, u"\xFFFD(", RES_CHARS_REPLACED},
            {"encoded first surrogate", "\xED\xA0\x80", 0, u"\xFFFD", RES_CHARS_REPLACED},
            {"encoded last surrogate", "\xED\xBF\xBF", 0, u"\xFFFD", RES_CHARS_REPLACED},
            {"continuation as lead", "\x80x", 0, u"\xFFFDx", RES_CHARS_REPLACED},
            {"five-byte lead", "\xF8\x88\x80\x80\x80", 0, u"\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD",
             RES_CHARS_REPLACED},
            {"lead without enough bytes", "\xE2\x82", 0, u"\xFFFD\xFFFD", RES_CHARS_REPLACED},
            {"length cuts a sequence", "\xE2\x82\xAC", 2, u"\xFFFD\xFFFD", RES_CHARS_REPLACED},
            {"overlong form passes", "\xC0\xAF", 0, u"/", RES_OK},
            {"length ends before the text", "ab\x80", 2, u"ab", RES_OK},
            {"inner NUL ends the text", std::string("ab\0cd", 5), 0, std::u16string(u"ab\0", 3), RES_OK},
            {"exactly filled by the length", "ab", 0, u"ab", RES_BUFFERSIZE, 2},
        },
        CMUtlUtf8ToW, CMUtlCheckUtf8Encoding, kGuard);
}

TEST(CMUtlWToUtf8, ReplacesStraySurrogatesAndStopsWhereTheRulesSay) {
    expect_conversions<std::u16string, std::string>(
        {
            {"lone high surrogate", u"\xD800\x0041", 0, "\xEF\xBF\xBD\x41", RES_CHARS_REPLACED},
            {"reversed pair", u"\xDC00\xD800", 0, "\xEF\xBF\xBD\xEF\xBF\xBD", RES_CHARS_REPLACED},
            {"two low surrogates", u"\xDC00\xDC00", 0, "\xEF\xBF\xBD\xEF\xBF\xBD", RES_CHARS_REPLACED},
            {"length cuts a pair", u"\xD83D\xDE00", 1, "\xEF\xBF\xBD", RES_CHARS_REPLACED},
            {"high surrogate before NUL", std::u16string(u"\xD83D\0", 2), 0, std::string("\xEF\xBF\xBD\0", 4),
             RES_CHARS_REPLACED},
            {"length ends before the text", u"ab\xDE00", 2, "ab", RES_OK},
            {"inner NUL ends the text", std::u16string(u"ab\0c", 4), 0, std::string("ab\0", 3), RES_OK},
            {"exactly filled by the length", u"ab", 0, "ab", RES_OK, 2},
        },
        CMUtlWToUtf8, CMUtlCheckUtf16Encoding, '#');
}

} // namespace
