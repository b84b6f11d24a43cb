/* Start-up self checks: the sizes and ranges of the basic types, GUID text conversion in both
 * directions, and the effect of the processor's atomic operations. The component manager runs
 * them once before the other components start; every deviation is logged. */
#include <cstring>
#include <limits>
#include <string_view>

#include "cm.h"
#include "cm/cmchecks_internal.h"
#include "cmplog.h"
#include "cmutils_guid.h"
#include "syscpu.h"

namespace cmchecks {

namespace {

constexpr const char* kSelf = "CMBasicChecks";
constexpr RTS_UI32 kGuidInfoId = 81;
constexpr RTS_UI32 kAtomicInfoId = 84;

AtomicAddFn g_atomic_add = SysCpuAtomicAdd;
StringToGuidFn g_string_to_guid = CMUtlStringToGUID;
GuidToStringFn g_guid_to_string = CMUtlGUIDToString;

template <class T>
constexpr TypeRow row(RTS_UI32 info_id, const char* name, RTS_UI64 expected_size, RTS_UI64 expected_max,
                      bool at_least = false) {
    RTS_UI64 actual_max = 0;
    if constexpr (std::numeric_limits<T>::is_integer)
        actual_max = static_cast<RTS_UI64>(std::numeric_limits<T>::max());
    return {info_id, name, expected_size, sizeof(T), expected_max, expected_max != 0 ? actual_max : 0,
            at_least};
}

constexpr TypeRow kTypeRows[] = {
    row<RTS_I8>(73, "RTS_I8", 1, 0x7F),
    row<RTS_I16>(54, "RTS_I16", 2, 0x7FFF),
    row<RTS_I32>(55, "RTS_I32", 4, 0x7FFFFFFF),
    row<RTS_UI8>(56, "RTS_UI8", 1, 0xFF),
    row<RTS_UI16>(57, "RTS_UI16", 2, 0xFFFF),
    row<RTS_UI32>(58, "RTS_UI32", 4, 0xFFFFFFFF),
    row<RTS_CSTRING>(89, "RTS_CSTRING", 1, 0),
    row<RTS_WCHAR>(61, "RTS_WCHAR", 2, 0),
    row<RTS_I64>(85, "RTS_I64", 8, 0x7FFFFFFFFFFFFFFF),
    row<RTS_UI64>(86, "RTS_UI64", 8, 0xFFFFFFFFFFFFFFFF),
    row<RTS_INTPTR>(87, "RTS_INTPTR", 8, 0x7FFFFFFFFFFFFFFF),
    row<RTS_UINTPTR>(67, "RTS_UINTPTR", 8, 0xFFFFFFFFFFFFFFFF),
    row<RTS_SIZE>(68, "RTS_SIZE", 8, 0xFFFFFFFFFFFFFFFF),
    row<RTS_SSIZE>(88, "RTS_SSIZE", 8, 0x7FFFFFFFFFFFFFFF),
    row<RTS_GUID>(80, "RTS_GUID", 16, 0),
    row<RTS_RESULT>(59, "RTS_RESULT", 4, 0, true),
};

/* The GUID every text below stands for. */
constexpr RTS_GUID kGuid = {0xF81D4FAE, 0x7DEC, 0x11D0, {0xA7, 0x65, 0x00, 0xA0, 0xC9, 0x1E, 0x6B, 0xF6}};
constexpr const char* kStandardText = "f81d4fae-7dec-11d0-a765-00a0c91e6bf6";
constexpr const char* kSameGuidTexts[] = {kStandardText, "{f81d4fae-7dec11d0-a76500a0-c91e6bf6}",
                                          "f81d4fae-11d07dec-a00065a7-f66b1ec9"};
constexpr const char* kCutText = "f81d4fae-11d07dec-a00065a7-f6";

bool same_guid(const RTS_GUID& a, const RTS_GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
}

/* A GUID whose every byte differs from kGuid's, so that a conversion that writes nothing
 * cannot pass. */
RTS_GUID scrambled() {
    constexpr int kFill = 0x5A; /* no byte of kGuid has this value */
    RTS_GUID guid;
    std::memset(&guid, kFill, sizeof guid);
    return guid;
}

bool reads_as_guid(const char* text) {
    RTS_GUID guid = scrambled();
    return g_string_to_guid(text, &guid) == RES_OK && same_guid(guid, kGuid);
}

bool guid_texts_convert() {
    bool ok = true;
    for (const char* text : kSameGuidTexts) ok = reads_as_guid(text) && ok;
    char buffer[CMUTL_GUID_TEXT_SIZE] = {};
    ok = g_guid_to_string(&kGuid, buffer, sizeof buffer) == RES_OK &&
         std::string_view(buffer) == kStandardText && ok;
    RTS_GUID guid = scrambled();
    return g_string_to_guid(kCutText, &guid) == RES_INVALID_FORMAT && ok;
}

bool check_guids() {
    if (guid_texts_convert()) return true;
    LogAdd(nullptr, CMPID_CM, LOG_ERROR, RES_FAILED, kGuidInfoId,
           "<cmp>%s</cmp>: CMUtlStringToGUID()/CMUtlGUIDToString() check failed", kSelf);
    return false;
}

/* One atomic check: its name for the message, and the run that gives the result and whether
 * the value came out as it must. */
struct AtomicCheck {
    const char* message;
    bool (*run)(RTS_RESULT& result);
};

template <class T> bool result_and_value(RTS_RESULT result, const T& value, const T& expected) {
    return result == RES_OK && value == expected;
}

constexpr AtomicCheck kAtomicChecks[] = {
    {"<cmp>%s</cmp>: SysCpuTestAndSet failed (%d)",
     [](RTS_RESULT& r) {
         RTS_UI32 v = 2;
         r = SysCpuTestAndSet(&v, 2);
         return result_and_value<RTS_UI32>(r, v, 6);
     }},
    {"<cmp>%s</cmp>: SysCpuTestAndReset failed (%d)",
     [](RTS_RESULT& r) {
         RTS_UI32 v = 7;
         r = SysCpuTestAndReset(&v, 1);
         return result_and_value<RTS_UI32>(r, v, 5);
     }},
    {"<cmp>%s</cmp>: SysCpuTestAndSetBit failed (%d)",
     [](RTS_RESULT& r) {
         RTS_UI32 v = 1;
         r = SysCpuTestAndSetBit(&v, 4, 4, 1);
         return result_and_value<RTS_UI32>(r, v, 17);
     }},
    {"<cmp>%s</cmp>: SysCpuTestAndSetBit2 failed (%d)",
     [](RTS_RESULT& r) {
         RTS_UI64 v = 2;
         r = SysCpuTestAndSetBit2(&v, 8, 5, 1);
         return result_and_value<RTS_UI64>(r, v, 34);
     }},
    {"<cmp>%s</cmp>: SysCpuAtomicAdd failed (%d)",
     [](RTS_RESULT& r) {
         RTS_I32 v = 1;
         r = RES_FAILED;
         const RTS_I32 sum = g_atomic_add(&v, 2, &r);
         return result_and_value<RTS_I32>(r, v, 3) && sum == 3;
     }},
    {"<cmp>%s</cmp>: SysCpuAtomicAdd64 failed (%d)",
     [](RTS_RESULT& r) {
         RTS_I64 v = 2;
         r = RES_FAILED;
         const RTS_I64 sum = SysCpuAtomicAdd64(&v, 4, &r);
         return result_and_value<RTS_I64>(r, v, 6) && sum == 6;
     }},
    {"<cmp>%s</cmp>: SysCpuAtomicCompareAndSwap failed (%d)",
     [](RTS_RESULT& r) {
         RTS_I64 v = 1;
         const RTS_I64 desired = 2;
         const RTS_I64 expected = 1;
         r = SysCpuAtomicCompareAndSwap(&v, &desired, &expected, sizeof v);
         return result_and_value<RTS_I64>(r, v, 2);
     }},
    {"<cmp>%s</cmp>: SysCpuWriteInt64 failed (%d)",
     [](RTS_RESULT& r) {
         RTS_I64 v = 1;
         r = SysCpuWriteInt64(&v, 2);
         return result_and_value<RTS_I64>(r, v, 2);
     }},
    {"<cmp>%s</cmp>: SysCpuReadInt64 failed (%d)",
     [](RTS_RESULT& r) {
         const RTS_I64 v = 1;
         r = RES_FAILED;
         const RTS_I64 read = SysCpuReadInt64(&v, &r);
         return result_and_value<RTS_I64>(r, read, 1);
     }},
    {"<cmp>%s</cmp>: SysCpuWriteReal64 failed (%d)",
     [](RTS_RESULT& r) {
         RTS_REAL64 v = 1.0;
         r = SysCpuWriteReal64(&v, 2.0);
         return result_and_value<RTS_REAL64>(r, v, 2.0);
     }},
    {"<cmp>%s</cmp>: SysCpuReadReal64 failed (%d)",
     [](RTS_RESULT& r) {
         const RTS_REAL64 v = 1.0;
         r = RES_FAILED;
         const RTS_REAL64 read = SysCpuReadReal64(&v, &r);
         return result_and_value<RTS_REAL64>(r, read, 1.0);
     }},
    {"<cmp>%s</cmp>: SysCpuWriteValueAtomic failed (%d)",
     [](RTS_RESULT& r) {
         RTS_I64 v = 1;
         const RTS_I64 source = 2;
         r = SysCpuWriteValueAtomic(&v, &source, sizeof v);
         return result_and_value<RTS_I64>(r, v, 2);
     }},
    {"<cmp>%s</cmp>: SysCpuReadValueAtomic failed (%d)",
     [](RTS_RESULT& r) {
         const RTS_I64 v = 1;
         RTS_I64 dest = 2;
         r = SysCpuReadValueAtomic(&v, &dest, sizeof v);
         return result_and_value<RTS_I64>(r, dest, 1);
     }},
};

bool check_atomics() {
    bool ok = true;
    for (const AtomicCheck& check : kAtomicChecks) {
        RTS_RESULT result = RES_OK;
        if (check.run(result)) continue;
        LogAdd(nullptr, CMPID_CM, LOG_ERROR, result, kAtomicInfoId, check.message, kSelf,
               static_cast<int>(result));
        ok = false;
    }
    return ok;
}

} // namespace

void set_atomic_add(AtomicAddFn fn) {
    g_atomic_add = fn != nullptr ? fn : SysCpuAtomicAdd;
}

void set_guid_functions(StringToGuidFn to_guid, GuidToStringFn to_string) {
    g_string_to_guid = to_guid != nullptr ? to_guid : CMUtlStringToGUID;
    g_guid_to_string = to_string != nullptr ? to_string : CMUtlGUIDToString;
}

bool check_types(std::span<const TypeRow> rows) {
    bool ok = true;
    for (const TypeRow& r : rows) {
        const bool size_ok = r.at_least ? r.actual_size >= r.expected_size : r.actual_size == r.expected_size;
        if (!size_ok) {
            LogAdd(nullptr, CMPID_CM, LOG_ERROR, RES_FAILED, r.info_id,
                   "<cmp>%s</cmp>: sizeof(%s) is <size>%llu</size> instead of %llu byte", kSelf, r.name,
                   static_cast<unsigned long long>(r.actual_size),
                   static_cast<unsigned long long>(r.expected_size));
            ok = false;
        }
        if (r.expected_max != 0 && r.actual_max != r.expected_max) {
            LogAdd(nullptr, CMPID_CM, LOG_ERROR, RES_FAILED, r.info_id,
                   "<cmp>%s</cmp>: max(%s) is <max>%llu</max> instead of %llu", kSelf, r.name,
                   static_cast<unsigned long long>(r.actual_max),
                   static_cast<unsigned long long>(r.expected_max));
            ok = false;
        }
    }
    return ok;
}

} // namespace cmchecks

extern "C" int CMBasicChecks(void) {
    const bool types = cmchecks::check_types(cmchecks::kTypeRows);
    const bool guids = cmchecks::check_guids();
    const bool atomics = cmchecks::check_atomics();
    return types && guids && atomics ? 1 : 0;
}
