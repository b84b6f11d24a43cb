// Start-up self checks: they pass on this build without a word, and each kind of broken building
// block (a type of the wrong size or range, a GUID parser or formatter that strays, an atomic
// add that answers the old value) fails them with its own log line while the others still run.
#include <gtest/gtest.h>

#include <cctype>

#include "cm/cmchecks_internal.h"
#include "cmutils_guid.h"
#include "log_reader.h"

namespace {

using Strings = std::vector<std::string>;

RTS_I32 add_answering_old_value(RTS_I32* pValue, RTS_I32 nSum, RTS_RESULT* pResult) {
    *pResult = RES_OK;
    return (*pValue += nSum) - nSum;
}

RTS_RESULT parser_accepting_anything(const char* text, RTS_GUID* pGuid) {
    CMUtlStringToGUID(text, pGuid);
    return RES_OK;
}

RTS_RESULT formatter_writing_upper_case(const RTS_GUID* pGuid, char* buffer, RTS_SIZE size) {
    const RTS_RESULT r = CMUtlGUIDToString(pGuid, buffer, size);
    for (char* p = buffer; *p != '\0'; ++p) *p = static_cast<char>(std::toupper(*p));
    return r;
}

// Every entry logged, as "<info id> <error id> <text>"; each must be an error of the manager.
Strings logged() {
    Strings out;
    for (const LogEntry& e : testlog::entries()) {
        EXPECT_EQ(std::make_pair(e.CmpId, e.ClassId),
                  std::make_pair(RTS_UI32{CMPID_CM}, RTS_UI32{LOG_ERROR}));
        out.push_back(std::to_string(e.InfoId) + " " + std::to_string(e.ErrorId) + " " + e.InfoText);
    }
    return out;
}

TEST(CMBasicChecks, EachBrokenBuildingBlockFailsWithItsOwnLine) {
    struct Restore { // the real operations come back however the test ends
        ~Restore() { cmchecks::set_atomic_add(nullptr), cmchecks::set_guid_functions(nullptr, nullptr); }
    } restore;
    const std::string kGuidLine =
        "81 1 <cmp>CMBasicChecks</cmp>: CMUtlStringToGUID()/CMUtlGUIDToString() check failed";
    const std::tuple<cmchecks::AtomicAddFn, cmchecks::StringToGuidFn, cmchecks::GuidToStringFn, std::string>
        cases[] = {
            {nullptr, nullptr, nullptr, ""}, // the checks pass without logging
            {add_answering_old_value, nullptr, nullptr,
             "84 0 <cmp>CMBasicChecks</cmp>: SysCpuAtomicAdd failed (0)"},
            {nullptr, parser_accepting_anything, nullptr, kGuidLine},
            {nullptr, nullptr, formatter_writing_upper_case, kGuidLine},
        };
    for (const auto& [add, toGuid, toText, line] : cases) {
        testlog::clear();
        cmchecks::set_atomic_add(add);
        cmchecks::set_guid_functions(toGuid, toText);
        EXPECT_EQ(CMBasicChecks(), line.empty() ? 1 : 0) << line;
        EXPECT_EQ(logged(), line.empty() ? Strings{} : Strings{line});
    }
}

TEST(CMBasicChecks, TypeRowsReportSizeAndMaximumDeviations) {
    const cmchecks::TypeRow rows[] = {
        {59, "RTS_RESULT", 4, 1, 0, 0, true}, // smaller than allowed
        {59, "RTS_RESULT", 4, 8, 0, 0, true}, // larger is fine
        {55, "RTS_I32", 4, 4, 0x7FFFFFFF, 0xFFFFFFFF, false},
        {73, "RTS_I8", 1, 2, 0x7F, 0x7F, false},
        {89, "RTS_CSTRING", 1, 1, 0, 0, false},
    };
    testlog::clear();
    EXPECT_FALSE(cmchecks::check_types(rows));
    EXPECT_EQ(
        logged(),
        (Strings{"59 1 <cmp>CMBasicChecks</cmp>: sizeof(RTS_RESULT) is <size>1</size> instead of 4 byte",
                 "55 1 <cmp>CMBasicChecks</cmp>: max(RTS_I32) is <max>4294967295</max> instead of 2147483647",
                 "73 1 <cmp>CMBasicChecks</cmp>: sizeof(RTS_I8) is <size>2</size> instead of 1 byte"}));
}

} // namespace
