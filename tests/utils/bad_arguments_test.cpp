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
    RTS_SIZE size = 8, zero = 0;
    RTS_UI32 version = 0, count = 4, records[4] = {1, 2, 3, 4};
    CMUtlHashTable table{}, unused{};
    CMString str{}, blank{};
    char line[8] = "a b";
    char* tokens[4] = {};
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
               std::to_string(size + zero + version + count + blank.capacity + unused.bucketCount);
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

#define GUARD(label, call, ...)                                                                              \
    Guard {                                                                                                  \
        label, [](Scratch& s) -> long long { return call; }, __VA_ARGS__                                     \
    }

constexpr RTS_SIZE kNone = CMUTL_BINARY_SEARCH_NONE;

const Guard kGuards[] = {
    GUARD("SafeStrCpy null destination", CMUtlSafeStrCpy(nullptr, 8, "a"), RES_PARAMETER),
    GUARD("SafeStrCpy size 0", CMUtlSafeStrCpy(s.text, 0, "a"), RES_PARAMETER),
    GUARD("SafeStrNCpy null destination", CMUtlSafeStrNCpy(nullptr, 8, "a", 1), RES_PARAMETER),
    GUARD("SafeStrCat null destination", CMUtlSafeStrCat(nullptr, 8, "a"), RES_PARAMETER),
    GUARD("StrICmp null", CMUtlStrICmp("a", nullptr), -1),
    GUARD("StrNICmp null", CMUtlStrNICmp(nullptr, "a", 1), -1),
    GUARD("StrIStr null needle", CMUtlStrIStr("a", nullptr) != nullptr, 0),
    GUARD("StrRChr null start", CMUtlStrRChr(nullptr, s.text, 'k') != nullptr, 0),
    GUARD("Strlwr null", CMUtlStrlwr(nullptr) != nullptr, 0),
    GUARD("Strrev null", CMUtlStrrev(nullptr) != nullptr, 0),
    GUARD("SkipWhiteSpace null", CMUtlSkipWhiteSpace(nullptr) != nullptr, 0),
    GUARD("wstrcpy null destination", CMUtlwstrcpy(nullptr, 8, u"a"), RES_PARAMETER),
    GUARD("wstrcpy size 0", CMUtlwstrcpy(s.wide, 0, u"a"), RES_PARAMETER),
    GUARD("cwstrcpy null destination", CMUtlcwstrcpy(nullptr, 8, u"a"), RES_PARAMETER),
    GUARD("wstrncpy null destination", CMUtlwstrncpy(nullptr, 8, u"a", 1), 1),
    GUARD("wstrncpy of nothing into null", CMUtlwstrncpy(nullptr, 8, nullptr, 0), 0),
    GUARD("wstrcat null destination", CMUtlwstrcat(nullptr, 8, u"a"), RES_PARAMETER),
    GUARD("wstrcmp null", CMUtlwstrcmp(nullptr, u"a"), 0),
    GUARD("wstrchr null", CMUtlwstrchr(nullptr, u'a') != nullptr, 0),
    GUARD("wtolower null", CMUtlwtolower(nullptr) != nullptr, 0),
    GUARD("StrToW null source", CMUtlStrToW(nullptr, s.wide, 8), RES_PARAMETER),
    GUARD("StrToW size 0", CMUtlStrToW("a", s.wide, 0), RES_PARAMETER),
    GUARD("WToStr null destination", CMUtlWToStr(u"a", nullptr, 8), RES_PARAMETER),
    GUARD("Utf8ToW null source", CMUtlUtf8ToW(nullptr, 1, s.wide, 8), RES_PARAMETER),
    GUARD("Utf8ToW zero length", CMUtlUtf8ToW("a", 0, s.wide, 8), RES_PARAMETER),
    GUARD("WToUtf8 null source", CMUtlWToUtf8(nullptr, 1, s.text, 8), RES_PARAMETER),
    GUARD("WToUtf8 zero size", CMUtlWToUtf8(u"a", 1, s.text, 0), RES_PARAMETER),
    GUARD("CheckUtf8Encoding null", CMUtlCheckUtf8Encoding(nullptr, 4), RES_PARAMETER),
    GUARD("CheckUtf16Encoding null", CMUtlCheckUtf16Encoding(nullptr, 4), RES_PARAMETER),
    GUARD("snprintf null buffer", CMUtlsnprintf(nullptr, 8, "a"), RES_PARAMETER),
    GUARD("snprintf size 0", CMUtlsnprintf(s.text, 0, "a"), RES_PARAMETER),
    GUARD("vsnprintf null list", CMUtlvsnprintf(s.text, 8, "a", nullptr), RES_PARAMETER),
    GUARD("snprintf2 size 0 leaves the result", CMUtlsnprintf2(s.text, 0, &s.result, "a"), 2),
    GUARD("vsnprintf2 null list", CMUtlvsnprintf2(s.text, 8, &s.result, "a", nullptr), 0, RES_PARAMETER),
    GUARD("Ltoa null buffer", CMUtlLtoa(1, nullptr, 8, 10, &s.result) != nullptr, 0, RES_PARAMETER),
    GUARD("Ultoa size 0", CMUtlUltoa(1, s.text, 0, 10, &s.result) != nullptr, 0, RES_PARAMETER),
    GUARD("SafeMemCpy null destination", CMUtlSafeMemCpy(nullptr, 8, "xyz", 4), RES_PARAMETER),
    GUARD("SafeMemCpy destination below n", CMUtlSafeMemCpy(s.text, 3, "xyz", 4), RES_PARAMETER),
    GUARD("SafeMemMove null destination", CMUtlSafeMemMove(nullptr, 8, "xyz", 4), RES_PARAMETER),
    GUARD("MemCpy null source", CMUtlMemCpy(s.text, nullptr, 4) == s.text, 1),
    GUARD("StringToVersion null text", CMUtlStringToVersion(nullptr, &s.version), RES_PARAMETER),
    GUARD("GetBuildDate null", CMUtlGetBuildDate(nullptr), RES_PARAMETER),
    GUARD("GUIDToString buffer below 37", CMUtlGUIDToString(&s.guid, s.text, 36), RES_PARAMETER),
    GUARD("StringToGUID null", CMUtlStringToGUID(nullptr, &s.guid), RES_PARAMETER),
    GUARD("ByteArrayToString no bytes", CMUtlByteArrayToString(s.bytes, 0, s.text, &s.size), RES_PARAMETER),
    GUARD("ByteArrayToString size 0", CMUtlByteArrayToString(s.bytes, 1, s.text, &s.zero), RES_PARAMETER),
    GUARD("StringToByteArray null size", CMUtlStringToByteArray("00", s.bytes, nullptr), RES_PARAMETER),
    GUARD("HashCreate null table", CMUtlHashCreate(nullptr, 7, kOwner), RES_PARAMETER),
    GUARD("HashCreate no buckets", CMUtlHashCreate(&s.unused, 0, kOwner), RES_PARAMETER),
    GUARD("HashCreate4 one function of two",
          CMUtlHashCreate4(&s.unused, 7, nullptr, 0, hash_zero, nullptr, kOwner), RES_PARAMETER),
    GUARD("HashDelete of a table never made", CMUtlHashDelete(&s.unused), RES_PARAMETER),
    GUARD("HashInsert null key", CMUtlHashInsert(&s.table, nullptr, 1, 1, 0), RES_PARAMETER),
    GUARD("HashInsert2 key length 0", CMUtlHashInsert2(&s.table, nullptr, "k", 0, 1, 0), RES_PARAMETER),
    GUARD("HashInsert into a table never made", CMUtlHashInsert(&s.unused, "x", 1, 1, 0), RES_PARAMETER),
    GUARD("HashSearch null table", CMUtlHashSearch(nullptr, "k", 1, &s.result) != nullptr, 0, RES_PARAMETER),
    GUARD("HashRemove null entry", CMUtlHashRemove(&s.table, nullptr), RES_PARAMETER),
    GUARD("HashRemove2 key length 0", CMUtlHashRemove2(&s.table, "k", 0), RES_PARAMETER),
    GUARD("HashIterate no callback", CMUtlHashIterate(&s.table, nullptr, nullptr), RES_PARAMETER),
    GUARD("StringCreate no owner", CMStringCreate(&s.blank, nullptr, "x"), RES_PARAMETER),
    GUARD("StringCreate3 null string", CMStringCreate3(nullptr, kOwner, 5, 0), RES_PARAMETER),
    GUARD("StringDelete not initialised", CMStringDelete(&s.blank), RES_NOTINITIALIZED),
    GUARD("StringExtend not initialised", CMStringExtend(&s.blank, 500), RES_NOTINITIALIZED),
    GUARD("StringCat null text", CMStringCat(&s.str, nullptr), RES_PARAMETER),
    GUARD("StringCopy null text", CMStringCopy(&s.str, nullptr, 1), RES_PARAMETER),
    GUARD("StringCopy2 null text", CMStringCopy2(&s.str, nullptr), RES_PARAMETER),
    GUARD("StringCat flags without capacity",
          (s.blank.flags = CMSTRING_INLINE | CMSTRING_INITIALIZED, CMStringCat(&s.blank, "x")),
          RES_NOTINITIALIZED),
    GUARD("Tokenizer null line", CMUtlArgumentTokenizer(nullptr, s.tokens, &s.count, " "), RES_PARAMETER),
    GUARD("Tokenizer separator of two", CMUtlArgumentTokenizer(s.line, s.tokens, &s.count, ", "),
          RES_PARAMETER),
    GUARD("Tokenizer no tokens, not counting", CMUtlArgumentTokenizer(s.line, nullptr, &s.count, " "),
          RES_PARAMETER),
    GUARD("BinarySearch null array", CMUtlBinarySearch_UI32(nullptr, 16, 4, 0, 0, 1, &s.result) == kNone, 1,
          RES_PARAMETER),
    GUARD("BinarySearch key into the next record",
          CMUtlBinarySearch_UI32(s.records, 16, 4, 1, 0, 1, &s.result) == kNone, 1, RES_PARAMETER),
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
