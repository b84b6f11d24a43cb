// Start-up self checks: they pass on this build without a word, and each kind of broken building
// block (a type of the wrong size or range, a GUID parser or formatter that strays, an atomic
// add that answers the old value) fails them with its own log line while the others still run.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "cm.h"
#include "cm/cmchecks_internal.h"
#include "cmplog.h"
#include "cmutils_guid.h"
#include "log_reader.h"

namespace {

RTS_I32 add_answering_old_value(RTS_I32* pValue, RTS_I32 nSum, RTS_RESULT* pResult) {
    *pResult = RES_OK;
    return (*pValue += nSum) - nSum;
}

RTS_RESULT parser_accepting_cut_text(const char* text, RTS_GUID* pGuid) {
    const RTS_RESULT r = CMUtlStringToGUID(text, pGuid);
    return r == RES_INVALID_FORMAT ? RES_OK : r;
}

RTS_RESULT formatter_writing_upper_case(const RTS_GUID* pGuid, char* buffer, RTS_SIZE size) {
    const RTS_RESULT r = CMUtlGUIDToString(pGuid, buffer, size);
    for (char* p = buffer; *p != '\0'; ++p)
        *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    return r;
}

const std::string kGuidLine =
    "<cmp>CMBasicChecks</cmp>: CMUtlStringToGUID()/CMUtlGUIDToString() check failed";

TEST(CMBasicChecks, EachBrokenBuildingBlockFailsWithItsOwnLine) {
    struct Restore { // the real operations come back however the test ends
        ~Restore() { cmchecks::set_atomic_add(nullptr), cmchecks::set_guid_functions(nullptr, nullptr); }
    } restore;
    struct Case {
        cmchecks::AtomicAddFn add;
        cmchecks::StringToGuidFn toGuid;
        cmchecks::GuidToStringFn toText;
        std::string line; // empty: the checks pass without logging
        RTS_UI32 infoId, errorId;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, "", 0, 0},
        {add_answering_old_value, nullptr, nullptr, "<cmp>CMBasicChecks</cmp>: SysCpuAtomicAdd failed (0)",
         84, 0},
        {nullptr, parser_accepting_cut_text, nullptr, kGuidLine, 81, RES_FAILED},
        {nullptr, nullptr, formatter_writing_upper_case, kGuidLine, 81, RES_FAILED},
    };
    for (const Case& c : cases) {
        LogEarlyBufferClear();
        cmchecks::set_atomic_add(c.add);
        cmchecks::set_guid_functions(c.toGuid, c.toText);
        EXPECT_EQ(CMBasicChecks(), c.line.empty() ? 1 : 0) << c.line;
        const std::vector<LogEntry> entries = testlog::entries();
        ASSERT_EQ(entries.size(), c.line.empty() ? 0u : 1u) << c.line;
        if (c.line.empty()) continue;
        EXPECT_EQ(entries[0].InfoText, c.line);
        EXPECT_EQ(std::vector<RTS_UI32>(
                      {entries[0].CmpId, entries[0].ClassId, entries[0].InfoId, entries[0].ErrorId}),
                  std::vector<RTS_UI32>({CMPID_CM, LOG_ERROR, c.infoId, c.errorId}));
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
    LogEarlyBufferClear();
    EXPECT_FALSE(cmchecks::check_types(rows));
    EXPECT_EQ(testlog::texts(),
              std::vector<std::string>(
                  {"<cmp>CMBasicChecks</cmp>: sizeof(RTS_RESULT) is <size>1</size> instead of 4 byte",
                   "<cmp>CMBasicChecks</cmp>: max(RTS_I32) is <max>4294967295</max> instead of 2147483647",
                   "<cmp>CMBasicChecks</cmp>: sizeof(RTS_I8) is <size>2</size> instead of 1 byte"}));
    std::vector<RTS_UI32> ids;
    for (const LogEntry& e : testlog::entries()) ids.insert(ids.end(), {e.InfoId, e.ErrorId});
    EXPECT_EQ(ids, std::vector<RTS_UI32>({59, RES_FAILED, 55, RES_FAILED, 73, RES_FAILED}));
}

} // namespace
