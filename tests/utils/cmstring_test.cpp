// The dynamic string: where the text lives (inline or heap) and how much is allocated, growth on
// append and copy, cut copies, self-append, refusals of bad or uninitialised objects and a heap
// that says no; and the in-place argument tokenizer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmhash.h"

namespace {

constexpr const char* kOwner = "StringTest";

// A string object that is always deleted at the end of the test.
struct Str {
    CMString s{};
    ~Str() {
        if (s.flags != 0) CMStringDelete(&s);
    }
    std::string text() const { return CMStringText(&s); }
    bool heap() const { return s.flags == (CMSTRING_HEAP | CMSTRING_INITIALIZED); }
    bool inline_() const { return s.flags == (CMSTRING_INLINE | CMSTRING_INITIALIZED); }
};

TEST(CMString, CreatePlacesTextInlineOrInAnExactHeapBuffer) {
    struct Case {
        std::string text;
        int forceHeap;
        bool heap;
        RTS_SIZE capacity;
    };
    const Case cases[] = {
        {"", 0, false, 128},
        {"short", 0, false, 128},
        {std::string(127, 'a'), 0, false, 128},
        {std::string(128, 'a'), 0, true, 129},
        {std::string(1000, 'b'), 0, true, 1001},
        {"abc", 1, true, 4},
        {"", 1, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "length " << c.text.size() << " force " << c.forceHeap);
        Str str;
        ASSERT_EQ(CMStringCreate2(&str.s, kOwner, c.text.c_str(), c.forceHeap), RES_OK);
        EXPECT_EQ(str.heap(), c.heap);
        EXPECT_EQ(str.inline_(), !c.heap);
        EXPECT_EQ(str.s.capacity, c.capacity);
        EXPECT_EQ(str.s.owner, kOwner);
        EXPECT_EQ(str.text(), c.text);
    }
    Str empty;
    ASSERT_EQ(CMStringCreate(&empty.s, kOwner, nullptr), RES_OK);
    EXPECT_EQ(empty.text(), "");
    EXPECT_TRUE(empty.inline_());
}

TEST(CMString, Create3ReservesCapacity) {
    struct Case {
        RTS_SIZE capacity;
        int forceHeap;
        RTS_RESULT result;
        bool heap;
        RTS_SIZE expected;
    };
    const Case cases[] = {
        {0, 0, RES_OK, false, 128}, {128, 0, RES_OK, false, 128},    {129, 0, RES_OK, true, 129},
        {10, 1, RES_OK, true, 10},  {0, 1, RES_PARAMETER, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "capacity " << c.capacity << " force " << c.forceHeap);
        Str str;
        ASSERT_EQ(CMStringCreate3(&str.s, kOwner, c.capacity, c.forceHeap), c.result);
        EXPECT_EQ(str.s.capacity, c.expected);
        if (c.result != RES_OK) continue;
        EXPECT_EQ(str.heap(), c.heap);
        EXPECT_EQ(str.text(), "");
    }
}

TEST(CMString, CatGrowsToExactlyTheNeededSize) {
    struct Case {
        std::string start;
        int forceHeap;
        std::string added;
        bool heap;
        RTS_SIZE capacity;
    };
    const Case cases[] = {
        {std::string(100, 'x'), 0, std::string(27, 'y'), false, 128}, // 127 + terminator fits
        {std::string(100, 'x'), 0, std::string(28, 'y'), true, 129},
        {std::string(100, 'x'), 0, std::string(30, 'y'), true, 131},
        {"ab", 1, "cd", true, 5},
        {"ab", 1, "", true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start.size() << " + " << c.added.size());
        Str str;
        ASSERT_EQ(CMStringCreate2(&str.s, kOwner, c.start.c_str(), c.forceHeap), RES_OK);
        ASSERT_EQ(CMStringCat(&str.s, c.added.c_str()), RES_OK);
        EXPECT_EQ(str.text(), c.start + c.added);
        EXPECT_EQ(str.heap(), c.heap);
        EXPECT_EQ(str.s.capacity, c.capacity);
    }
}

TEST(CMString, AppendingAStringToItselfSurvivesTheMoveToTheHeap) {
    for (std::size_t length : {std::size_t{5}, std::size_t{64}, std::size_t{100}, std::size_t{300}}) {
        Str str;
        const std::string start(length, 'r');
        ASSERT_EQ(CMStringCreate(&str.s, kOwner, start.c_str()), RES_OK);
        ASSERT_EQ(CMStringCat(&str.s, CMStringText(&str.s)), RES_OK);
        EXPECT_EQ(str.text(), start + start);
        EXPECT_EQ(str.s.capacity, std::max<RTS_SIZE>(2 * length + 1, 128));
    }
}

TEST(CMString, CopyGrowsOnlyAsFarAsNAndReportsACut) {
    struct Case {
        RTS_SIZE capacity;
        int forceHeap;
        std::string text;
        RTS_SIZE n;
        std::string expected;
        RTS_RESULT result;
        RTS_SIZE capacityAfter;
    };
    const std::string longText(200, 'L');
    const Case cases[] = {
        {0, 0, "hello", 2, "hello", RES_OK, 128},      // n bounds growth only, not the copy
        {4, 1, "abcdef", 3, "abc", RES_BUFFERSIZE, 4}, // no growth needed, so the copy is cut
        {4, 1, "abcdef", 10, "abcdef", RES_OK, 7},     // grows to exactly strnlen + 1
        {0, 0, longText, 150, longText.substr(0, 150), RES_BUFFERSIZE, 151},
        {0, 0, longText, 500, longText, RES_OK, 201},
        {8, 1, "", 0, "", RES_OK, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "text " << c.text.size() << " n " << c.n);
        Str str;
        ASSERT_EQ(CMStringCreate3(&str.s, kOwner, c.capacity, c.forceHeap), RES_OK);
        ASSERT_EQ(CMStringCat(&str.s, "old"), RES_OK);
        EXPECT_EQ(CMStringCopy(&str.s, c.text.c_str(), c.n), c.result);
        EXPECT_EQ(str.text(), c.expected);
        EXPECT_EQ(str.s.capacity, c.capacityAfter);
    }
}

TEST(CMString, Copy2AndExtendKeepTheText) {
    Str str;
    ASSERT_EQ(CMStringCreate(&str.s, kOwner, "keep me"), RES_OK);
    EXPECT_EQ(CMStringExtend(&str.s, 50), RES_OK); // already enough room: nothing changes
    EXPECT_TRUE(str.inline_());
    EXPECT_EQ(CMStringExtend(&str.s, 129), RES_OK);
    EXPECT_TRUE(str.heap());
    EXPECT_EQ(str.s.capacity, 129u);
    EXPECT_EQ(str.text(), "keep me");
    EXPECT_EQ(CMStringExtend(&str.s, 4000), RES_OK);
    EXPECT_EQ(str.text(), "keep me");

    const std::string big(5000, 'g');
    ASSERT_EQ(CMStringCopy2(&str.s, big.c_str()), RES_OK);
    EXPECT_EQ(str.text(), big);
    EXPECT_EQ(str.s.capacity, 5001u);
    ASSERT_EQ(CMStringCopy2(&str.s, "tiny"), RES_OK);
    EXPECT_EQ(str.text(), "tiny");
    EXPECT_EQ(str.s.capacity, 5001u); // never shrinks
}

TEST(CMString, HeapThatSaysNoLeavesTheOldContent) {
    for (int forceHeap : {0, 1}) {
        Str str;
        ASSERT_EQ(CMStringCreate2(&str.s, kOwner, "survivor", forceHeap), RES_OK);
        const CMString before = str.s;
        EXPECT_EQ(CMStringExtend(&str.s, ~static_cast<RTS_SIZE>(0) / 2), RES_NOMEMORY);
        EXPECT_EQ(std::memcmp(&before, &str.s, sizeof before), 0);
        EXPECT_EQ(str.text(), "survivor");
    }
    CMString s{};
    EXPECT_EQ(CMStringCreate3(&s, kOwner, ~static_cast<RTS_SIZE>(0) / 2, 0), RES_NOMEMORY);
    EXPECT_EQ(s.flags, 0u);
}

TEST(CMString, RefusesNullAndUninitialisedObjects) {
    CMString zero{};
    EXPECT_EQ(CMStringCreate(nullptr, kOwner, "x"), RES_PARAMETER);
    EXPECT_EQ(CMStringCreate(&zero, nullptr, "x"), RES_PARAMETER);
    EXPECT_EQ(CMStringCreate3(nullptr, kOwner, 5, 0), RES_PARAMETER);
    EXPECT_EQ(CMStringDelete(nullptr), RES_PARAMETER);
    EXPECT_EQ(CMStringCat(nullptr, "x"), RES_PARAMETER);
    EXPECT_EQ(CMStringDelete(&zero), RES_NOTINITIALIZED);
    EXPECT_EQ(CMStringExtend(&zero, 500), RES_NOTINITIALIZED);
    EXPECT_EQ(CMStringCat(&zero, "x"), RES_NOTINITIALIZED);
    EXPECT_EQ(CMStringCopy(&zero, "x", 1), RES_NOTINITIALIZED);
    EXPECT_EQ(CMStringCopy2(&zero, "x"), RES_NOTINITIALIZED);
    EXPECT_EQ(zero.capacity, 0u);

    // Flags set but capacity 0 is just as uninitialised.
    CMString half{};
    half.flags = CMSTRING_INLINE | CMSTRING_INITIALIZED;
    EXPECT_EQ(CMStringCat(&half, "x"), RES_NOTINITIALIZED);

    Str str;
    ASSERT_EQ(CMStringCreate(&str.s, kOwner, "abc"), RES_OK);
    EXPECT_EQ(CMStringCat(&str.s, nullptr), RES_PARAMETER);
    EXPECT_EQ(CMStringCopy(&str.s, nullptr, 4), RES_PARAMETER);
    EXPECT_EQ(CMStringCopy2(&str.s, nullptr), RES_PARAMETER);
    EXPECT_EQ(str.text(), "abc");
    ASSERT_EQ(CMStringDelete(&str.s), RES_OK);
    EXPECT_EQ(str.s.flags, 0u);
    EXPECT_EQ(CMStringDelete(&str.s), RES_NOTINITIALIZED);
}

// ---- tokenizer ----------------------------------------------------------------------------

struct TokenCase {
    const char* line;
    const char* separator;
    RTS_UI32 capacity;
    std::vector<std::string> tokens;
};

TEST(CMUtlArgumentTokenizer, SplitsInPlace) {
    const TokenCase cases[] = {
        {"  a  b  c  ", " ", 2, {"a", "b  c"}},
        {"  a  b  c  ", " ", 10, {"a", "b", "c"}},
        {"  a  b  c  ", nullptr, 10, {"a", "b", "c"}},
        {"x,,y", ",", 10, {"x", "y"}},
        {"a,b,c,,", ",", 10, {"a", "b", "c"}},
        {",,a", ",", 10, {"a"}},
        {"a, b,\tc", ",", 10, {"a", "b", "c"}},
        {"a ,b , ", ",", 10, {"a ", "b "}},
        {"a,b,c", ",", 1, {"a,b,c"}},
        {"a,,b,,c", ",", 2, {"a", "b,,c"}},
        {"a b", ",", 5, {"a b"}},
        {"\"a b\" c", " ", 5, {"\"a", "b\"", "c"}},
        {"\t b", " ", 5, {"b"}},
        {"a, ,b", ",", 5, {"a", "b"}},
        {"", " ", 5, {}},
        {"   ", " ", 5, {}},
        {",,,", ",", 5, {}},
        {"a b", " ", 0, {}},
    };
    for (const TokenCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "line [" << c.line << "] capacity " << c.capacity);
        std::string line = c.line;
        // One guard slot behind the capacity must never be written.
        char guard = 0;
        std::vector<char*> tokens(c.capacity + 1, &guard);
        RTS_UI32 count = c.capacity;
        ASSERT_EQ(CMUtlArgumentTokenizer(line.data(), tokens.data(), &count, c.separator), RES_OK);
        ASSERT_EQ(count, c.tokens.size());
        for (RTS_UI32 i = 0; i < count; ++i) EXPECT_EQ(std::string(tokens[i]), c.tokens[i]) << "token " << i;
        EXPECT_EQ(tokens[c.capacity], &guard);
    }
}

TEST(CMUtlArgumentTokenizer, CountsWithoutTokenArray) {
    std::string line = "  one two   three ";
    RTS_UI32 count = CMUTL_TOKENIZER_COUNT_ONLY;
    ASSERT_EQ(CMUtlArgumentTokenizer(line.data(), nullptr, &count, " "), RES_OK);
    EXPECT_EQ(count, 3u);
}

TEST(CMUtlArgumentTokenizer, RefusesBadArguments) {
    std::string line = "a b";
    char* tokens[4];
    struct Case {
        char* line;
        char** tokens;
        RTS_UI32 count;
        bool nullCount;
        const char* separator;
    };
    const Case cases[] = {
        {nullptr, tokens, 4, false, " "},      {line.data(), tokens, 4, true, " "},
        {line.data(), tokens, 4, false, ""},   {line.data(), tokens, 4, false, ", "},
        {line.data(), nullptr, 4, false, " "},
    };
    for (const Case& c : cases) {
        RTS_UI32 count = c.count;
        EXPECT_EQ(CMUtlArgumentTokenizer(c.line, c.tokens, c.nullCount ? nullptr : &count, c.separator),
                  RES_PARAMETER);
        EXPECT_EQ(count, c.count);
    }
    EXPECT_EQ(line, "a b");
}

} // namespace
