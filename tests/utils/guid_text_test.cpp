// GUID and byte-array texts against the texts the C library's printf writes: random GUIDs are
// written exactly as printf writes the standard form and read back from all three accepted forms
// in either case; malformed texts are refused; byte arrays go to hex and back at exact sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "cmutils_guid.h"

namespace {

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
             "f81d4fae-11d07dec-a00065a7-f6",         // cut
             "f81d4fae-7dec-11d0-a765-00a0c91e6bf",   // one digit short
             "f81d4fa-e7dec-11d0-a765-00a0c91e6bf6",  // dash misplaced
             "f81d4fae-7dec-11d0-a765-00a0c91e6bfg",  // not a hex digit
             "f81d4fae-7dec-11d0-a765_00a0c91e6bf6",  // wrong separator
             "01234567-89abcdef-01234567-89abcde",    // 34 characters
             "012345678-9abcdef-01234567-89abcdef",   // 35 characters, dash at 9
             "{f81d4fae-7dec11d0-a76500a0-c91e6bf6",  // no closing brace
             "{f81d4fae-7dec11d0-a76500a0-c91e6bf6)", // wrong closing brace
             "{f81d4fae-7dec11d0-a76500a0-c91e6b 6}", // a blank takes a digit's place
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
        {"", RES_PARAMETER},  {"abc", RES_PARAMETER}, {"0g", RES_FAILED}, {"G0", RES_FAILED},
        {"/0", RES_FAILED},   {":0", RES_FAILED},     {"0@", RES_FAILED}, {"0`", RES_FAILED},
        {"00 1", RES_FAILED}, {"0x12", RES_FAILED}};
    for (const auto& [text, expected] : bad) {
        RTS_UI8 out[4] = {};
        RTS_SIZE room = sizeof out;
        EXPECT_EQ(CMUtlStringToByteArray(text, out, &room), expected) << text;
        EXPECT_EQ(room, sizeof out) << text;
    }
}

} // namespace
