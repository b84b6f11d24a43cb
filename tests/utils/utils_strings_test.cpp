// Bounded 8-bit and 16-bit string functions and the memory copies over every small text, size
// and count, against a model built from the standard library: every cut, terminator and result
// code is reached, and the guard units behind each buffer must survive. The C library's
// case-insensitive compares are the oracle for the sign of the 8-bit compares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>
#if !defined(_WIN32)
#include <strings.h>
#endif

#include "cmutils.h"

namespace {

// A buffer of `size` units that starts as `initial` (or a full row of 'z' when that does not
// fit), followed by guard units that no call may touch.
template <typename Char> struct Guarded {
    Guarded(std::size_t size, const std::basic_string<Char>& initial)
        : size(size), units(size + 4, Char('#')) {
        std::fill_n(units.begin(), size, Char('z'));
        if (initial.size() < size) std::copy_n(initial.c_str(), initial.size() + 1, units.begin());
    }
    // The text up to its terminator, or the whole buffer and its guard when that was lost.
    std::basic_string<Char> text() const {
        return units.find_first_not_of(Char('#'), size) == units.npos ? units.c_str() : units;
    }
    std::size_t size;
    std::basic_string<Char> units;
};

// Every text of up to `max` characters over the alphabet.
std::vector<std::string> all_texts(const std::string& alphabet, std::size_t max) {
    std::vector<std::string> out{""};
    for (std::size_t from = 0; from < out.size(); ++from)
        if (out[from].size() < max)
            for (char c : alphabet) out.push_back(out[from] + c);
    return out;
}

std::u16string wide(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}
int lower(char c) {
    return std::tolower(static_cast<unsigned char>(c));
}
int sign(int v) {
    return (v > 0) - (v < 0);
}

TEST(CMUtlStr, CopiesAndAppendsWhatFitsAtEverySize) {
    for (const std::string& src : all_texts("ab", 5)) {
        const std::u16string wsrc = wide(src);
        for (std::size_t size = 1; size <= 7; ++size) {
            for (std::size_t n = 0; n <= 7; ++n) {
                SCOPED_TRACE(testing::Message() << "[" << src << "] size " << size << " n " << n);
                const std::string dest = std::string("xyz").substr(0, std::min(n % 4, size - 1));
                const bool fits = src.size() < size, catFits = dest.size() + src.size() < size;
                Guarded<char> cpy(size, "stale"), ncpy(size, "stale"), cat(size, dest);
                EXPECT_EQ(CMUtlSafeStrCpy(cpy.units.data(), size, src.c_str()),
                          fits ? RES_OK : RES_BUFFERSIZE);
                EXPECT_EQ(CMUtlSafeStrNCpy(ncpy.units.data(), size, src.c_str(), n),
                          size < n ? RES_BUFFERSIZE : RES_OK);
                EXPECT_EQ(CMUtlSafeStrCat(cat.units.data(), size, src.c_str()),
                          catFits ? RES_OK : RES_BUFFERSIZE);
                EXPECT_EQ(cpy.text(), src.substr(0, size - 1));
                EXPECT_EQ(ncpy.text(), src.substr(0, std::min(n, size - 1)));
                EXPECT_EQ(cat.text(), (dest + src).substr(0, size - 1));

                const std::u16string wdest = wide(dest), wn = wsrc.substr(0, std::min(n, size - 1));
                Guarded<char16_t> w(size, u"stale"), cw(size, u"stale"), wnc(size, u"stale"),
                    wcat(size, wdest), cwcat(size, wdest);
                EXPECT_EQ(CMUtlwstrcpy(w.units.data(), size, wsrc.c_str()), fits ? RES_OK : RES_BUFFERSIZE);
                EXPECT_EQ(CMUtlcwstrcpy(cw.units.data(), size, wsrc.c_str()),
                          RES_OK); // a cut is not reported
                EXPECT_EQ(CMUtlwstrncpy(wnc.units.data(), size, wsrc.c_str(), n), wn.size() == n ? 0u : 1u);
                EXPECT_EQ(CMUtlwstrcat(wcat.units.data(), size, wsrc.c_str()),
                          catFits ? RES_OK : RES_BUFFERSIZE);
                EXPECT_EQ(CMUtlcwstrcat(cwcat.units.data(), size, wsrc.c_str()),
                          catFits ? RES_OK : RES_PARAMETER);
                EXPECT_EQ(w.text(), wsrc.substr(0, size - 1));
                EXPECT_EQ(cw.text(), wsrc.substr(0, size - 1));
                EXPECT_EQ(wnc.text(), wn);
                EXPECT_EQ(wcat.text(), catFits ? wdest + wsrc : wdest); // all or nothing
                EXPECT_EQ(cwcat.text(), catFits ? wdest + wsrc : wdest);
            }
        }
    }
    // A destination without a terminator inside its buffer: cut where the buffer ends, or left.
    char full[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(CMUtlSafeStrCat(full, sizeof full, "e"), RES_BUFFERSIZE);
    EXPECT_EQ(std::string(full, 4), std::string("abc\0", 4));
    RTS_WCHAR wfull[3] = {u'a', u'b', u'c'};
    EXPECT_EQ(CMUtlwstrcat(wfull, 3, u""), RES_BUFFERSIZE);
}

TEST(CMUtlStr, ComparesAsTheCLibraryWithItsOwnEndRules) {
    const auto texts = all_texts("aB[", 3); // '[' lies between the upper and the lower case
    for (const std::string& a : texts) {
        for (const std::string& b : texts) {
            SCOPED_TRACE(a + " vs " + b);
            auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end(),
                                          [](char x, char y) { return lower(x) == lower(y); });
            const bool bothGoOn = ia != a.end() && ib != b.end();
            const int expected = bothGoOn ? lower(*ia) - lower(*ib) : (ia != a.end()) - (ib != b.end());
            EXPECT_EQ(CMUtlStrICmp(a.c_str(), b.c_str()), expected);
            EXPECT_EQ(sign(expected), sign(strcasecmp(a.c_str(), b.c_str())));
            for (std::size_t n = 0; n <= 4; ++n) {
                const std::string an = a.substr(0, n) + '\0', bn = b.substr(0, n) + '\0';
                auto [ja, jb] = std::mismatch(an.begin(), an.end(), bn.begin(), bn.end(), [](char x, char y) {
                    return x != 0 && y != 0 && lower(x) == lower(y);
                });
                // At an end the raw difference of the next characters, elsewhere the lowered one.
                const int raw = ja == an.end()         ? 0
                                : *ja == 0 || *jb == 0 ? *ja - *jb
                                                       : lower(*ja) - lower(*jb);
                EXPECT_EQ(CMUtlStrNICmp(a.c_str(), b.c_str(), n), raw) << n;
                EXPECT_EQ(sign(raw), sign(strncasecmp(a.c_str(), b.c_str(), n))) << n;
                auto [ka, kb] = std::mismatch(an.begin(), an.end(), bn.begin(), bn.end());
                const int units = ka == an.end() ? 0 : *ka - *kb;
                EXPECT_EQ(CMUtlwstrncmp(wide(a).c_str(), wide(b).c_str(), n), units) << n;
                if (n == 4) {
                    EXPECT_EQ(CMUtlwstrcmp(wide(a).c_str(), wide(b).c_str()), units);
                }
            }
        }
    }
    EXPECT_EQ(CMUtlwstrcmp(u"\xFFFF", u"a"), 0xFFFF - 'a'); // units compare unsigned
}

TEST(CMUtlStr, SearchesAsTheStandardLibrary) {
    const auto texts = all_texts("aB", 4);
    for (const std::string& hay : texts) {
        for (const std::string& needle : texts) {
            auto at = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(),
                                  [](char x, char y) { return lower(x) == lower(y); });
            EXPECT_EQ(CMUtlStrIStr(hay.c_str(), needle.c_str()),
                      hay.empty() || at == hay.end() ? nullptr : hay.c_str() + (at - hay.begin()))
                << hay << " / " << needle;
        }
        for (std::size_t start = 0; start < hay.size(); ++start) {
            for (std::size_t from = 0; from < hay.size(); ++from) {
                const std::size_t at = from < start ? hay.npos : hay.rfind('a', from);
                EXPECT_EQ(CMUtlStrRChr(hay.c_str() + start, hay.c_str() + from, 'a'),
                          at == hay.npos || at < start ? nullptr : hay.c_str() + at);
            }
        }
        const std::u16string w = wide(hay);
        for (char16_t c : {u'a', u'\0'}) { // the terminator is never found
            const std::size_t at = c == 0 ? w.npos : w.find(c);
            EXPECT_EQ(CMUtlwstrchr(w.c_str(), c), at == w.npos ? nullptr : w.c_str() + at);
        }
        std::string reversed = hay;
        EXPECT_EQ(CMUtlStrrev(reversed.data()), reversed.data());
        EXPECT_EQ(reversed, std::string(hay.rbegin(), hay.rend()));
        for (std::size_t n = 0; n <= 5; ++n) EXPECT_EQ(CMUtlStrNLen(hay.c_str(), n), std::min(n, hay.size()));
        EXPECT_EQ(CMUtlwstrlen(w.c_str()), w.size());
    }
    const std::vector<char> unterminated(3, 'x'); // an exact heap block: no read past n
    EXPECT_EQ(CMUtlStrNLen(unterminated.data(), unterminated.size()), 3u);
    for (const char* s : {" \t \tx y", "\nx", "  "})
        EXPECT_EQ(CMUtlSkipWhiteSpace(s), s + std::strspn(s, " \t"));
}

TEST(CMUtlStr, ChangesCaseAsTheCLibraryAnd16BitTextOnlyForAsciiLetters) {
    std::u16string wall;
    for (unsigned u = 1; u <= 0xFFFF; ++u) wall.push_back(static_cast<char16_t>(u));
    const std::string all(wall.begin(), wall.begin() + 0xFF); // every byte but NUL
    std::string lo = all, up = all;
    std::u16string wlo = wall, wup = wall;
    EXPECT_TRUE(CMUtlStrToLower(lo.data()) == lo.data() && CMUtlStrToUpper(up.data()) == up.data());
    EXPECT_TRUE(CMUtlwtolower(wlo.data()) == wlo.data() && CMUtlwtoupper(wup.data()) == wup.data());
    for (std::size_t i = 0; i < wall.size(); ++i) {
        const char16_t u = wall[i], l = u >= u'A' && u <= u'Z' ? u + 32 : u,
                       h = u >= u'a' && u <= u'z' ? u - 32 : u;
        ASSERT_TRUE(wlo[i] == l && wup[i] == h) << std::hex << unsigned{u};
        const auto b = static_cast<unsigned char>(u); // the 8-bit text follows the C library
        ASSERT_TRUE(i >= all.size() || (lo[i] == char(std::tolower(b)) && up[i] == char(std::toupper(b))))
            << b;
    }
}

TEST(CMUtlMem, CopiesAndMovesExactlyForEveryAlignmentLengthAndOverlap) {
    alignas(16) unsigned char src[80], dst[96], expected[96];
    for (std::size_t i = 0; i < sizeof src; ++i) src[i] = static_cast<unsigned char>(i * 7 + 1);
    for (std::size_t so = 0; so < 8; ++so)
        for (std::size_t d = 0; d < 8; ++d)
            for (std::size_t n = 0; n <= 40; ++n) {
                std::memset(expected, 0xEE, sizeof expected);
                std::memcpy(expected + d, src + so, n);
                std::memset(dst, 0xEE, sizeof dst);
                ASSERT_EQ(CMUtlMemCpy(dst + d, src + so, n), dst + d);
                ASSERT_EQ(std::memcmp(dst, expected, sizeof dst), 0) << so << "/" << d << "/" << n;
                ASSERT_EQ(CMUtlSafeMemCpy(dst + d, n, src + so, n), RES_OK); // the same bytes again
                std::memcpy(expected, src, sizeof src); // an overlapping move inside one buffer
                std::memmove(expected + d, expected + so, n);
                std::memcpy(dst, src, sizeof src);
                ASSERT_EQ(CMUtlSafeMemMove(dst + d, n, dst + so, n), RES_OK);
                ASSERT_EQ(std::memcmp(dst, expected, sizeof src), 0) << so << "/" << d << "/" << n;
            }
}

} // namespace
