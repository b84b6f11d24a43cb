// The dynamic string: after each sequence of calls, where the text lives (inline or heap), how
// much is allocated, the text and the result, also when the heap says no; and the in-place
// argument tokenizer line by line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmhash.h"

namespace {

constexpr const char* kOwner = "StringTest";

// A text of n characters that differ from their neighbours, so a misplaced copy shows.
std::string chars(std::size_t n) {
    std::string s(n, ' ');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

// A create (with a text, or an empty reserve of `size`), then at most one more call.
enum First { kText, kNullText, kTextOnHeap, kReserve, kReserveOnHeap };
using Then = RTS_RESULT (*)(CMString* s, const std::string& arg, RTS_SIZE size);
const Then kCat = [](CMString* s, const std::string& a, RTS_SIZE) { return CMStringCat(s, a.c_str()); };
const Then kCatItself = [](CMString* s, const std::string&, RTS_SIZE) {
    return CMStringCat(s, CMStringText(s));
};
const Then kCopy = [](CMString* s, const std::string& a, RTS_SIZE n) {
    return CMStringCopy(s, a.c_str(), n);
};
const Then kCopy2 = [](CMString* s, const std::string& a, RTS_SIZE) { return CMStringCopy2(s, a.c_str()); };
const Then kExtend = [](CMString* s, const std::string&, RTS_SIZE n) { return CMStringExtend(s, n); };
const Then kDelete = [](CMString* s, const std::string&, RTS_SIZE) { return CMStringDelete(s); };

struct StringCase {
    const char* label;
    First first;
    std::string text;
    Then then; // null: nothing more
    std::string arg;
    RTS_SIZE size; // of the reserve, the extension or the copy's bound
    RTS_RESULT result;
    std::string after;
    RTS_UI32 where; // CMSTRING_INLINE or CMSTRING_HEAP; 0 for a cleared object
    RTS_SIZE capacity;
};

RTS_RESULT run(const StringCase& c, CMString* s) {
    const bool heap = c.first == kTextOnHeap || c.first == kReserveOnHeap;
    const RTS_RESULT created = c.first == kReserve || c.first == kReserveOnHeap
                                   ? CMStringCreate3(s, kOwner, c.size, heap)
                               : c.first == kNullText ? CMStringCreate(s, kOwner, nullptr)
                                                      : CMStringCreate2(s, kOwner, c.text.c_str(), heap);
    return c.then != nullptr ? c.then(s, c.arg, c.size) : created;
}

TEST(CMString, PlacesGrowsAndCopiesTheTextAsAsked) {
    constexpr RTS_UI32 kIn = CMSTRING_INLINE, kHeap = CMSTRING_HEAP;
    constexpr RTS_SIZE kHuge = ~RTS_SIZE{0} / 2;
    const std::string s100 = chars(100), s127 = chars(127), s128 = chars(128);
    const StringCase cases[] = {
        {"null text", kNullText, "", nullptr, "", 0, RES_OK, "", kIn, 128},
        {"127 characters inline", kText, s127, nullptr, "", 0, RES_OK, s127, kIn, 128},
        {"128 characters: exact heap", kText, s128, nullptr, "", 0, RES_OK, s128, kHeap, 129},
        {"forced heap", kTextOnHeap, "abc", nullptr, "", 0, RES_OK, "abc", kHeap, 4},
        {"forced heap, empty", kTextOnHeap, "", nullptr, "", 0, RES_OK, "", kHeap, 1},
        {"reserve 128", kReserve, "", nullptr, "", 128, RES_OK, "", kIn, 128},
        {"reserve 129", kReserve, "", nullptr, "", 129, RES_OK, "", kHeap, 129},
        {"forced reserve", kReserveOnHeap, "", nullptr, "", 10, RES_OK, "", kHeap, 10},
        {"forced reserve of nothing", kReserveOnHeap, "", nullptr, "", 0, RES_PARAMETER, "", 0, 0},
        {"append inline", kText, s100, kCat, chars(27), 0, RES_OK, s100 + chars(27), kIn, 128},
        {"append past inline: exact", kText, s100, kCat, chars(28), 0, RES_OK, s100 + chars(28), kHeap, 129},
        {"append itself while moving", kText, s100, kCatItself, "", 0, RES_OK, s100 + s100, kHeap, 201},
        {"copy: n bounds growth only", kReserve, "", kCopy, "hello", 2, RES_OK, "hello", kIn, 128},
        {"copy cut by the capacity", kReserveOnHeap, "", kCopy, "abcdef", 3, RES_BUFFERSIZE, "abc", kHeap, 4},
        {"copy grows to strnlen + 1", kTextOnHeap, "abc", kCopy, "abcdef", 10, RES_OK, "abcdef", kHeap, 7},
        {"copy2 grows", kText, "old", kCopy2, chars(500), 0, RES_OK, chars(500), kHeap, 501},
        {"copy2 never shrinks", kText, chars(300), kCopy2, "tiny", 0, RES_OK, "tiny", kHeap, 301},
        {"extend within capacity", kText, "keep", kExtend, "", 128, RES_OK, "keep", kIn, 128},
        {"extend to the heap", kText, "keep", kExtend, "", 129, RES_OK, "keep", kHeap, 129},
        {"delete clears", kTextOnHeap, "x", kDelete, "", 0, RES_OK, "", 0, 0},
        // Sizes no heap can give: the string stays as it was.
        {"heap says no to a reserve", kReserve, "", nullptr, "", kHuge, RES_NOMEMORY, "", 0, 0},
        {"heap says no to growth", kText, "keep", kExtend, "", kHuge, RES_NOMEMORY, "keep", kIn, 128},
    };
    for (const StringCase& c : cases) {
        CMString s{};
        EXPECT_EQ(run(c, &s), c.result) << c.label;
        EXPECT_EQ(CMStringText(&s), c.after) << c.label;
        EXPECT_EQ(s.flags, c.where == 0 ? 0u : c.where | CMSTRING_INITIALIZED) << c.label;
        EXPECT_EQ(s.capacity, c.capacity) << c.label;
        EXPECT_TRUE(c.where == 0 || (s.owner == kOwner && CMStringDelete(&s) == RES_OK)) << c.label;
    }
}

TEST(CMUtlArgumentTokenizer, SplitsInPlace) {
    const std::tuple<const char*, const char*, RTS_UI32, std::vector<std::string>> cases[] = {
        {"  a  b  c  ", " ", 2, {"a", "b  c"}}, // the last allowed token keeps the rest
        {"  a  b  c  ", nullptr, 10, {"a", "b", "c"}},
        {"a,b,c,,", ",", 10, {"a", "b", "c"}},
        {"a, b,\tc", ",", 10, {"a", "b", "c"}},
        {"a ,b , ", ",", 10, {"a ", "b "}},
        {"", " ", 5, {}},
        {"   ", " ", 5, {}},
        {"a b", " ", 0, {}},
        {"  one two   three ", " ", CMUTL_TOKENIZER_COUNT_ONLY, {"", "", ""}} // counted only
    };
    for (const auto& [text, separator, capacity, expected] : cases) {
        SCOPED_TRACE(testing::Message() << "line [" << text << "] capacity " << capacity);
        std::string line = text;
        const bool countOnly = capacity == CMUTL_TOKENIZER_COUNT_ONLY;
        char guard = 0; // one slot behind the capacity that must never be written
        std::vector<char*> tokens(countOnly ? 0 : capacity + 1, &guard);
        RTS_UI32 count = capacity;
        ASSERT_EQ(CMUtlArgumentTokenizer(line.data(), countOnly ? nullptr : tokens.data(), &count, separator),
                  RES_OK);
        ASSERT_EQ(count, expected.size());
        for (RTS_UI32 i = 0; i < count && !countOnly; ++i) EXPECT_EQ(std::string(tokens[i]), expected[i]);
        EXPECT_TRUE(countOnly || tokens[capacity] == &guard);
    }
}

} // namespace
