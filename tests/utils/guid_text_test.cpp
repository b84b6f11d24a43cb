/* GUID texts in their three forms, the round trip through the text, and hex texts of byte
 * arrays, with the malformed and undersized inputs each must refuse. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cmutils_guid.h"

namespace {

constexpr RTS_GUID kGuid = {0xF81D4FAE, 0x7DEC, 0x11D0, {0xA7, 0x65, 0x00, 0xA0, 0xC9, 0x1E, 0x6B, 0xF6}};

bool same(const RTS_GUID& a, const RTS_GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

RTS_GUID filled(RTS_UI8 byte) {
    RTS_GUID g;
    std::memset(&g, byte, sizeof g);
    return g;
}

TEST(CMUtlStringToGUID, AcceptsAllThreeFormsOfTheSameGuid) {
    for (const char* text :
         {"f81d4fae-7dec-11d0-a765-00a0c91e6bf6", "F81D4FAE-7DEC-11D0-A765-00A0C91E6BF6",
          "{f81d4fae-7dec11d0-a76500a0-c91e6bf6}", "f81d4fae-11d07dec-a00065a7-f66b1ec9",
          "f81d4fae-7dec-11d0-a765-00a0c91e6bf6 and more", "{F81D4FAE-7DEC11D0-A76500A0-C91E6BF6}x"}) {
        RTS_GUID g = filled(0x5A);
        EXPECT_EQ(CMUtlStringToGUID(text, &g), RES_OK) << text;
        EXPECT_TRUE(same(g, kGuid)) << text;
    }
}

TEST(CMUtlStringToGUID, ReadsEachFormsByteOrder) {
    struct Case {
        const char* text;
        RTS_GUID guid;
    };
    const Case cases[] = {
        {"{01234567-89ABCDEF-01234567-89ABCDEF}",
         {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}},
        {"01234567-89ab-cdef-0123-456789abcdef",
         {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}},
        /* each group a 32-bit number: 0x89abcdef is Data3:Data2 */
        {"01234567-89abcdef-01234567-89abcdef",
         {0x01234567, 0xCDEF, 0x89AB, {0x67, 0x45, 0x23, 0x01, 0xEF, 0xCD, 0xAB, 0x89}}},
    };
    for (const Case& c : cases) {
        RTS_GUID g = filled(0);
        ASSERT_EQ(CMUtlStringToGUID(c.text, &g), RES_OK) << c.text;
        EXPECT_EQ(g.Data1, c.guid.Data1) << c.text;
        EXPECT_EQ(g.Data2, c.guid.Data2) << c.text;
        EXPECT_EQ(g.Data3, c.guid.Data3) << c.text;
        EXPECT_EQ(std::memcmp(g.Data4, c.guid.Data4, 8), 0) << c.text;
    }
}

TEST(CMUtlStringToGUID, RejectsMalformedTexts) {
    const char* bad[] = {
        "",
        "f81d4fae-11d07dec-a00065a7-f6",         /* cut */
        "f81d4fae-7dec-11d0-a765-00a0c91e6bf",   /* one digit short */
        "f81d4fa-e7dec-11d0-a765-00a0c91e6bf6",  /* dash misplaced */
        "f81d4fae-7dec-11d0-a765-00a0c91e6bfg",  /* not a hex digit */
        "f81d4fae-7dec-11d0-a765_00a0c91e6bf6",  /* wrong separator */
        "01234567-89abcdef-01234567-89abcde",    /* 34 characters */
        "012345678-9abcdef-01234567-89abcdef",   /* 35 characters, dash at 9 */
        "{f81d4fae-7dec11d0-a76500a0-c91e6bf6",  /* no closing brace */
        "{f81d4fae-7dec11d0-a76500a0-c91e6bf6)", /* wrong closing brace */
        "{f81d4fae-7dec11d0-a76500a0-c91e6b 6}", /* a blank takes a digit's place */
        "zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz",
    };
    for (const char* text : bad) {
        RTS_GUID g = filled(0x5A);
        EXPECT_EQ(CMUtlStringToGUID(text, &g), RES_INVALID_FORMAT) << text;
    }
    RTS_GUID g;
    EXPECT_EQ(CMUtlStringToGUID(nullptr, &g), RES_PARAMETER);
    EXPECT_EQ(CMUtlStringToGUID("f81d4fae-7dec-11d0-a765-00a0c91e6bf6", nullptr), RES_PARAMETER);
}

TEST(CMUtlGUIDToString, WritesLowerCaseAndRoundTrips) {
    char text[40];
    std::memset(text, '#', sizeof text);
    ASSERT_EQ(CMUtlGUIDToString(&kGuid, text, 37), RES_OK);
    EXPECT_STREQ(text, "f81d4fae-7dec-11d0-a765-00a0c91e6bf6");
    EXPECT_EQ(text[37], '#');

    const RTS_GUID edge = {0x0000000F, 0xF000, 0x000A, {0, 0, 0, 0, 0, 0, 0, 0xFF}};
    ASSERT_EQ(CMUtlGUIDToString(&edge, text, sizeof text), RES_OK);
    EXPECT_STREQ(text, "0000000f-f000-000a-0000-0000000000ff");

    for (int seed = 0; seed < 64; ++seed) {
        RTS_GUID g;
        auto* bytes = reinterpret_cast<RTS_UI8*>(&g);
        for (int i = 0; i < 16; ++i) bytes[i] = static_cast<RTS_UI8>(seed * 37 + i * 11);
        RTS_GUID back = filled(0);
        ASSERT_EQ(CMUtlGUIDToString(&g, text, 37), RES_OK);
        ASSERT_EQ(CMUtlStringToGUID(text, &back), RES_OK);
        EXPECT_TRUE(same(g, back)) << text;
    }
}

TEST(CMUtlGUIDToString, RefusesSmallBuffersAndNull) {
    char text[37] = "untouched";
    EXPECT_EQ(CMUtlGUIDToString(&kGuid, text, 36), RES_PARAMETER);
    EXPECT_STREQ(text, "untouched");
    EXPECT_EQ(CMUtlGUIDToString(nullptr, text, 37), RES_PARAMETER);
    EXPECT_EQ(CMUtlGUIDToString(&kGuid, nullptr, 37), RES_PARAMETER);
}

TEST(CMUtlByteArray, WritesAndReadsHexPairs) {
    const RTS_UI8 bytes[] = {0x00, 0x0A, 0xF0, 0xFF, 0x5C};
    char text[11];
    RTS_SIZE size = sizeof text;
    ASSERT_EQ(CMUtlByteArrayToString(bytes, sizeof bytes, text, &size), RES_OK);
    EXPECT_STREQ(text, "000af0ff5c");
    EXPECT_EQ(size, 11u);

    RTS_UI8 back[5] = {};
    size = sizeof back;
    ASSERT_EQ(CMUtlStringToByteArray("000AF0fF5c", back, &size), RES_OK);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::memcmp(back, bytes, sizeof bytes), 0);
}

TEST(CMUtlByteArray, RefusesBadSizesAndDigits) {
    const RTS_UI8 bytes[] = {1, 2, 3};
    char text[8] = "keep";
    RTS_SIZE size = 6; /* needs 7 */
    EXPECT_EQ(CMUtlByteArrayToString(bytes, 3, text, &size), RES_PARAMETER);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(size, 6u);
    size = 0;
    EXPECT_EQ(CMUtlByteArrayToString(bytes, 3, text, &size), RES_PARAMETER);
    size = sizeof text;
    EXPECT_EQ(CMUtlByteArrayToString(bytes, 0, text, &size), RES_PARAMETER);
    EXPECT_EQ(CMUtlByteArrayToString(nullptr, 3, text, &size), RES_PARAMETER);
    EXPECT_EQ(CMUtlByteArrayToString(bytes, 3, text, nullptr), RES_PARAMETER);

    struct Case {
        const char* text;
        RTS_SIZE room;
        RTS_RESULT expected;
    };
    const Case cases[] = {
        {"", 4, RES_PARAMETER},  {"abc", 4, RES_PARAMETER}, {"abcdef", 2, RES_PARAMETER},
        {"0g", 4, RES_FAILED},   {"g0", 4, RES_FAILED},     {"00 1", 4, RES_FAILED},
        {"0x12", 4, RES_FAILED}, {"abcdef", 3, RES_OK},
    };
    for (const Case& c : cases) {
        RTS_UI8 out[4] = {};
        RTS_SIZE room = c.room;
        EXPECT_EQ(CMUtlStringToByteArray(c.text, out, &room), c.expected) << c.text;
        EXPECT_EQ(room, c.expected == RES_OK ? strlen(c.text) / 2 : c.room) << c.text;
    }
    RTS_UI8 out[4];
    size = 4;
    EXPECT_EQ(CMUtlStringToByteArray(nullptr, out, &size), RES_PARAMETER);
    EXPECT_EQ(CMUtlStringToByteArray("00", nullptr, &size), RES_PARAMETER);
}

TEST(CMUtlGuidExportTable, ListsTheFunctionsAndEndsWithNull) {
    int n = 0;
    for (; CMUtlGuidExportTable[n].function != nullptr; ++n) {
        const std::string name = CMUtlGuidExportTable[n].name;
        EXPECT_EQ(name.rfind("CMUtl", 0), 0u) << name;
    }
    EXPECT_EQ(n, 4);
    EXPECT_EQ(CMUtlGuidExportTable[1].function, reinterpret_cast<RTS_VOID_FCTPTR>(CMUtlStringToGUID));
}

} // namespace
