// Text conversions against outside converters: the single-byte code page for every byte and
// unit against the system's (iconv natively, the Win32 code-page call under Wine), valid UTF-8
// <-> UTF-16 text at every buffer size against the C++ library's; and the replacement and
// terminator rules for input a converter would refuse, each with the encoding check's verdict.
// GUID and byte-array texts against the texts the C library's printf writes: random GUIDs are
// written exactly as printf writes the standard form and read back from all three accepted forms
// in either case; malformed texts are refused; byte arrays go to hex and back at exact sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <codecvt>
#include <cstdio>
#include <cstring>
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
#include "cmutils_guid.h"

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
    std::u16string w(4, kGuard); // one place short: cut, terminated, nothing written behind
    std::string s(4, '#');
    EXPECT_EQ(std::make_pair(CMUtlStrToW("a\x80z", w.data(), 3), CMUtlWToStr(u"a\x20ACz", s.data(), 3)),
              std::make_pair(RES_FAILED, RES_FAILED));
    EXPECT_EQ(std::make_pair(w, s),
              std::make_pair(std::u16string(u"a\x20AC\0", 3) + kGuard, std::string("a\x80\0#", 4)));
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

TEST(CMUtlUtf, ReplacesInvalidInputAndStopsWhereTheRulesSay) {
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
    expect_conversions<std::u16string, std::string>(
        {
            {"lone high surrogate", u"\xD800\x0041", 0, "\xEF\xBF\xBD\x41", RES_CHARS_REPLACED},
            {"reversed pair", u"\xDC00\xD800", 0, "\xEF\xBF\xBD\xEF\xBF\xBD", RES_CHARS_REPLACED},
            {"length cuts a pair", u"\xD83D\xDE00", 1, "\xEF\xBF\xBD", RES_CHARS_REPLACED},
            {"high surrogate before NUL", std::u16string(u"\xD83D\0", 2), 0, std::string("\xEF\xBF\xBD\0", 4),
             RES_CHARS_REPLACED},
            {"length ends before the text", u"ab\xDE00", 2, "ab", RES_OK},
            {"inner NUL ends the text", std::u16string(u"ab\0c", 4), 0, std::string("ab\0", 3), RES_OK},
            {"exactly filled by the length", u"ab", 0, "ab", RES_OK, 2},
        },
        CMUtlWToUtf8, CMUtlCheckUtf16Encoding, '#');
}

// ---- GUID and byte-array texts -----------------------------------------------------------

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

TEST(CMUtlGuidText, RandomGuidsAreWrittenAsPrintfAndReadFromEveryForm) {
    std::mt19937 rng(1);
    for (int round = 0; round < 200; ++round) {
        RTS_GUID g;
        RTS_UI32 words[4]; // the GUID's memory as four 32-bit numbers, the groups of the third form
        for (RTS_UI32& w : words) w = static_cast<RTS_UI32>(rng());
        std::memcpy(&g, words, sizeof g);
        const RTS_UI8* d = g.Data4;
        char forms[3][40];
        std::snprintf(forms[0], 40, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.Data1, g.Data2,
                      g.Data3, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
        std::snprintf(forms[1], 40, "{%08x-%04x%04x-%02x%02x%02x%02x-%02x%02x%02x%02x}", g.Data1, g.Data2,
                      g.Data3, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
        std::snprintf(forms[2], 40, "%08x-%08x-%08x-%08x", words[0], words[1], words[2], words[3]);
        char written[40];
        std::memset(written, '#', sizeof written);
        ASSERT_EQ(CMUtlGUIDToString(&g, written, 37), RES_OK);
        EXPECT_EQ(std::string(written, 38), forms[0] + std::string("\0#", 2)); // nothing behind the NUL
        for (const std::string form : forms) {
            for (const std::string& text : {form, upper(form), form + " and more"}) {
                RTS_GUID read;
                std::memset(&read, 0x5A, sizeof read);
                EXPECT_EQ(CMUtlStringToGUID(text.c_str(), &read), RES_OK) << text;
                EXPECT_EQ(std::memcmp(&read, &g, sizeof g), 0) << text;
            }
        }
    }
}

TEST(CMUtlStringToGUID, RefusesMalformedTexts) {
    for (const char* text : {
             "",
             "f81d4fa-e7dec-11d0-a765-00a0c91e6bf6",  // dash misplaced
             "f81d4fae-7dec-11d0-a765-00a0c91e6bfg",  // not a hex digit
             "012345678-9abcdef-01234567-89abcdef",   // 35 characters, dash at 9
             "{f81d4fae-7dec11d0-a76500a0-c91e6bf6)", // wrong closing brace
         }) {
        RTS_GUID g;
        EXPECT_EQ(CMUtlStringToGUID(text, &g), RES_INVALID_FORMAT) << text;
    }
}

TEST(CMUtlByteArray, WritesHexAsPrintfReadsItBackAtExactSizesAndRefusesOtherTexts) {
    std::mt19937 rng(2);
    for (RTS_SIZE n = 1; n <= 8; ++n) {
        RTS_UI8 bytes[8], back[8];
        char text[20] = "keep", pair[3];
        std::string hex;
        for (RTS_SIZE i = 0; i < n; ++i)
            hex += (std::snprintf(pair, sizeof pair, "%02x", bytes[i] = static_cast<RTS_UI8>(rng())), pair);
        RTS_SIZE size = 2 * n, room = n - 1; // each one short
        EXPECT_EQ(CMUtlByteArrayToString(bytes, n, text, &size), RES_PARAMETER);
        EXPECT_EQ(CMUtlStringToByteArray(hex.c_str(), back, &room), RES_PARAMETER);
        EXPECT_STREQ(text, "keep");
        size = 2 * n + 1, room = n;
        ASSERT_EQ(CMUtlByteArrayToString(bytes, n, text, &size), RES_OK);
        ASSERT_EQ(CMUtlStringToByteArray(upper(hex).c_str(), back, &room), RES_OK);
        EXPECT_TRUE(text == hex && size == 2 * n + 1 && room == n && std::memcmp(back, bytes, n) == 0) << hex;
    }
    const std::pair<const char*, RTS_RESULT> bad[] = {
        {"", RES_PARAMETER}, {"abc", RES_PARAMETER}, {"0g", RES_FAILED}, {"G0", RES_FAILED},
        {"/0", RES_FAILED},  {":0", RES_FAILED},     {"0@", RES_FAILED}, {"0`", RES_FAILED}};
    for (const auto& [text, expected] : bad) {
        RTS_UI8 out[4] = {};
        RTS_SIZE room = sizeof out;
        EXPECT_EQ(CMUtlStringToByteArray(text, out, &room), expected) << text;
        EXPECT_EQ(room, sizeof out) << text;
    }
}

} // namespace
