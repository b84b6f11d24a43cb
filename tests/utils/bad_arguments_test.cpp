// Bad arguments to the utility library and its containers: one row per guard path, each
// answered with its documented result (or null, 0, -1) without touching anything it was given.
#include <gtest/gtest.h>

#include <string>

#include "cmhash.h"
#include "cmutils.h"
#include "cmutils_guid.h"

namespace {

constexpr const char* kOwner = "GuardTest";

// Everything a refused call could reach, in a state that must survive it.
struct Scratch {
    char text[40] = "keep";
    RTS_WCHAR wide[8] = {u'k', u'e', u'e', u'p', 0};
    RTS_GUID guid{};
    RTS_UI8 bytes[4] = {};
    RTS_SIZE size = 8;
    RTS_UI32 version = 0, count = 4;
    CMUtlHashTable table{}, unused{};
    CMString str{}, blank{};
    char line[8] = "a b";
    char* tokens[4] = {};
    va_list list{};         // never read: every call that gets it refuses first
    RTS_RESULT result = 99; // a refusal writes here only where its row says so
    Scratch() {
        CMUtlHashCreate(&table, 7, kOwner);
        CMUtlHashInsert(&table, "k", 1, 1, 42);
        CMStringCreate(&str, kOwner, "abc");
    }
    ~Scratch() {
        CMUtlHashDelete(&table);
        CMStringDelete(&str);
    }
    std::string state() {
        const CMUtlHashEntry* e = CMUtlHashSearch(&table, "k", 1, nullptr);
        return text + std::string(wide, wide + 5) + line + CMStringText(&str) +
               std::to_string(e ? e->value : 0) +
               std::to_string(size + version + count + blank.capacity + unused.bucketCount);
    }
};

RTS_UINTPTR hash_zero(const void*, RTS_SIZE) {
    return 0;
}

struct Guard {
    const char* label;
    long long (*call)(Scratch&);
    long long answer;
    RTS_RESULT result = 99;
};

// A row labelled with its own call.
#define GUARD(call, ...)                                                                                     \
    Guard {                                                                                                  \
#call, [](Scratch & s) -> long long { return call; }, __VA_ARGS__                                    \
    }

constexpr RTS_SIZE kNone = CMUTL_BINARY_SEARCH_NONE;

const Guard kGuards[] = {
    GUARD(CMUtlSafeStrCpy(nullptr, 8, "a"), RES_PARAMETER),
    GUARD(CMUtlSafeStrNCpy(nullptr, 8, "a", 1), RES_PARAMETER),
    GUARD(CMUtlSafeStrCat(nullptr, 8, "a"), RES_PARAMETER),
    GUARD(CMUtlStrICmp("a", nullptr), -1),
    GUARD(CMUtlStrNICmp(nullptr, "a", 1), -1),
    GUARD(CMUtlStrIStr("a", nullptr) != nullptr, 0),
    GUARD(CMUtlStrRChr(nullptr, s.text, 'k') != nullptr, 0),
    GUARD(CMUtlStrlwr(nullptr) != nullptr, 0),
    GUARD(CMUtlStrrev(nullptr) != nullptr, 0),
    GUARD(CMUtlSkipWhiteSpace(nullptr) != nullptr, 0),
    GUARD(CMUtlwstrcpy(nullptr, 8, u"a"), RES_PARAMETER),
    GUARD(CMUtlcwstrcpy(nullptr, 8, u"a"), RES_PARAMETER),
    GUARD(CMUtlwstrncpy(nullptr, 8, u"a", 1), 1),
    GUARD(CMUtlwstrncpy(nullptr, 8, nullptr, 0), 0),
    GUARD(CMUtlwstrcat(nullptr, 8, u"a"), RES_PARAMETER),
    GUARD(CMUtlwstrcmp(nullptr, u"a"), 0),
    GUARD(CMUtlwstrchr(nullptr, u'a') != nullptr, 0),
    GUARD(CMUtlwtolower(nullptr) != nullptr, 0),
    GUARD(CMUtlStrToW(nullptr, s.wide, 8), RES_PARAMETER),
    GUARD(CMUtlWToStr(u"a", nullptr, 8), RES_PARAMETER),
    GUARD(CMUtlUtf8ToW(nullptr, 1, s.wide, 8), RES_PARAMETER),
    GUARD(CMUtlWToUtf8(nullptr, 1, s.text, 8), RES_PARAMETER),
    GUARD(CMUtlCheckUtf8Encoding(nullptr, 4), RES_PARAMETER),
    GUARD(CMUtlCheckUtf16Encoding(nullptr, 4), RES_PARAMETER),
    GUARD(CMUtlsnprintf(nullptr, 8, "a"), RES_PARAMETER),
    GUARD(CMUtlvsnprintf(s.text, 8, "a", nullptr), RES_PARAMETER),
    GUARD(CMUtlsnprintf2(s.text, 0, &s.result, "a"), 2),
    GUARD(CMUtlvsnprintf2(nullptr, 8, &s.result, "a", &s.list), 0, RES_PARAMETER),
    GUARD(CMUtlLtoa(1, nullptr, 8, 10, &s.result) != nullptr, 0, RES_PARAMETER),
    GUARD(CMUtlSafeMemCpy(s.text, 3, "xyz", 4), RES_PARAMETER),
    GUARD(CMUtlSafeMemMove(nullptr, 8, "xyz", 4), RES_PARAMETER),
    GUARD(CMUtlMemCpy(s.text, nullptr, 4) == s.text, 1),
    GUARD(CMUtlStringToVersion(nullptr, &s.version), RES_PARAMETER),
    GUARD(CMUtlGetBuildDate(nullptr), RES_PARAMETER),
    GUARD(CMUtlGUIDToString(&s.guid, s.text, CMUTL_GUID_TEXT_SIZE - 1), RES_PARAMETER),
    GUARD(CMUtlStringToGUID(nullptr, &s.guid), RES_PARAMETER),
    GUARD(CMUtlByteArrayToString(nullptr, 1, s.text, &s.size), RES_PARAMETER),
    GUARD(CMUtlStringToByteArray(nullptr, s.bytes, &s.size), RES_PARAMETER),
    GUARD(CMUtlHashCreate(nullptr, 7, kOwner), RES_PARAMETER),
    GUARD(CMUtlHashCreate4(&s.unused, 7, nullptr, 0, hash_zero, nullptr, kOwner), RES_PARAMETER),
    GUARD(CMUtlHashDelete(&s.unused), RES_PARAMETER),
    GUARD(CMUtlHashInsert2(&s.table, nullptr, "k", 0, 1, 0), RES_PARAMETER),
    GUARD(CMUtlHashInsert(&s.unused, "x", 1, 1, 0), RES_PARAMETER),
    GUARD(CMUtlHashSearch(nullptr, "k", 1, &s.result) != nullptr, 0, RES_PARAMETER),
    GUARD(CMUtlHashRemove(&s.table, nullptr), RES_PARAMETER),
    GUARD(CMUtlHashRemove2(&s.table, "k", 0), RES_PARAMETER),
    GUARD(CMUtlHashIterate(&s.table, nullptr, nullptr), RES_PARAMETER),
    GUARD(CMStringCreate(&s.blank, nullptr, "x"), RES_PARAMETER),
    GUARD(CMStringCreate3(nullptr, kOwner, 5, 0), RES_PARAMETER),
    GUARD(CMStringDelete(&s.blank), RES_NOTINITIALIZED),
    GUARD(CMStringExtend(&s.blank, 500), RES_NOTINITIALIZED),
    GUARD(CMStringCat(&s.str, nullptr), RES_PARAMETER),
    GUARD(CMStringCopy(&s.str, nullptr, 1), RES_PARAMETER),
    GUARD(CMStringCopy2(&s.str, nullptr), RES_PARAMETER),
    GUARD((s.blank.flags = CMSTRING_INLINE | CMSTRING_INITIALIZED, CMStringCat(&s.blank, "x")),
          RES_NOTINITIALIZED),
    GUARD(CMUtlArgumentTokenizer(nullptr, s.tokens, &s.count, " "), RES_PARAMETER),
    GUARD(CMUtlArgumentTokenizer(s.line, s.tokens, &s.count, ", "), RES_PARAMETER),
    GUARD(CMUtlArgumentTokenizer(s.line, nullptr, &s.count, " "), RES_PARAMETER),
    GUARD(CMUtlBinarySearch_UI32(nullptr, 16, 4, 0, 0, 1, &s.result) == kNone, 1, RES_PARAMETER),
};

TEST(CMUtl, RefusesBadArgumentsWithoutTouchingAnything) {
    const std::string untouched = Scratch().state();
    for (const Guard& g : kGuards) {
        Scratch s;
        EXPECT_EQ(g.call(s), g.answer) << g.label;
        EXPECT_EQ(s.result, g.result) << g.label;
        EXPECT_EQ(s.state(), untouched) << g.label;
    }
}

} // namespace
