// Binary search over records keyed by a 32-bit field: hits, misses on both sides and between,
// the start index, records whose key is not aligned, a trailing partial record, and refusals of
// array descriptions that would read outside the array. The records sit in a heap block of
// exactly their size so that the address sanitizer sees any read before or past it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "cmhash.h"

namespace {

constexpr RTS_SIZE kElement = 6; // u16 tag, then the u32 key at offset 2 (unaligned)
constexpr RTS_SIZE kOffset = 2;
constexpr RTS_SIZE kRecords = 10;

// Records with keys 10, 20, ..., 100, in a block of exactly `extra` bytes more than they need.
std::unique_ptr<RTS_UI8[]> make_records(RTS_SIZE extra = 0) {
    std::unique_ptr<RTS_UI8[]> block(new RTS_UI8[kRecords * kElement + extra]());
    for (RTS_SIZE i = 0; i < kRecords; ++i) {
        RTS_UI32 key = static_cast<RTS_UI32>(10 * (i + 1));
        std::memcpy(block.get() + i * kElement + kOffset, &key, sizeof key);
    }
    return block;
}

TEST(CMUtlBinarySearch_UI32, FindsKeysAndMissesOutsideAndBetween) {
    struct Case {
        RTS_UI32 key;
        RTS_SIZE start;
        RTS_SIZE index; // CMUTL_BINARY_SEARCH_NONE for a miss
    };
    constexpr RTS_SIZE none = CMUTL_BINARY_SEARCH_NONE;
    const Case cases[] = {
        {10, 0, 0},    {100, 0, 9},     {50, 0, 4},
        {60, 0, 5},    {70, 0, 6},      {5, 0, none}, // below the first record
        {0, 0, none},  {200, 0, none},                // above the last record
        {55, 0, none}, {40, 3, 3},      {20, 3, none},
        {100, 9, 9},   {100, 10, none}, {10, 500, none},
    };
    auto records = make_records();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << c.key << " start " << c.start);
        RTS_RESULT r = RES_FAILED;
        EXPECT_EQ(
            CMUtlBinarySearch_UI32(records.get(), kRecords * kElement, kElement, kOffset, c.start, c.key, &r),
            c.index);
        EXPECT_EQ(r, c.index == none ? RES_NO_OBJECT : RES_OK);
    }
}

TEST(CMUtlBinarySearch_UI32, EveryKeyOfEveryArrayLengthIsFound) {
    auto records = make_records();
    for (RTS_SIZE count = 1; count <= kRecords; ++count) {
        for (RTS_SIZE i = 0; i < count; ++i) {
            RTS_UI32 key = static_cast<RTS_UI32>(10 * (i + 1));
            EXPECT_EQ(
                CMUtlBinarySearch_UI32(records.get(), count * kElement, kElement, kOffset, 0, key, nullptr),
                i)
                << "count " << count;
            EXPECT_EQ(CMUtlBinarySearch_UI32(records.get(), count * kElement, kElement, kOffset, 0, key + 1,
                                             nullptr),
                      CMUTL_BINARY_SEARCH_NONE);
        }
    }
}

TEST(CMUtlBinarySearch_UI32, IgnoresATrailingPartialRecord) {
    auto records = make_records(3);
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(CMUtlBinarySearch_UI32(records.get(), kRecords * kElement + 3, kElement, kOffset, 0, 1000, &r),
              CMUTL_BINARY_SEARCH_NONE);
    EXPECT_EQ(r, RES_NO_OBJECT);
}

TEST(CMUtlBinarySearch_UI32, RefusesArrayDescriptionsThatReadOutside) {
    auto records = make_records();
    struct Case {
        const void* array;
        RTS_SIZE arraySize, elementSize, keyOffset;
    };
    const Case cases[] = {
        {nullptr, 60, 6, 2},       {records.get(), 60, 0, 0},
        {records.get(), 5, 6, 2},  // one record does not even fit
        {records.get(), 60, 6, 6}, // key offset outside the record
        {records.get(), 60, 6, 3}, // key would reach into the next record
    };
    for (const Case& c : cases) {
        RTS_RESULT r = RES_OK;
        EXPECT_EQ(CMUtlBinarySearch_UI32(c.array, c.arraySize, c.elementSize, c.keyOffset, 0, 10, &r),
                  CMUTL_BINARY_SEARCH_NONE);
        EXPECT_EQ(r, RES_PARAMETER);
    }
}

} // namespace
