/* Start-up self checks: they pass on this build, and each kind of broken building block (a
 * type of the wrong size, a GUID parser or formatter that strays, an atomic add with the wrong
 * result) makes them fail with its own log line while the other checks still run. */
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "cm.h"
#include "cm/cmchecks_internal.h"
#include "cmplog.h"
#include "cmutils_guid.h"

namespace {

std::vector<LogEntry> log_entries() {
    std::vector<LogEntry> entries;
    for (int i = 0; i < LogEarlyBufferCount(); ++i) {
        LogEntry e{};
        if (LogEarlyBufferGet(i, &e) == RES_OK) entries.push_back(e);
    }
    return entries;
}

/* Restores the real operations however a test ends. */
class CMBasicChecksTest : public ::testing::Test {
protected:
    void SetUp() override { LogEarlyBufferClear(); }
    void TearDown() override {
        cmchecks::set_atomic_add(nullptr);
        cmchecks::set_guid_functions(nullptr, nullptr);
        LogEarlyBufferClear();
    }
};

RTS_I32 add_returning_old_value(RTS_I32* pValue, RTS_I32 nSum, RTS_RESULT* pResult) {
    const RTS_I32 old = *pValue;
    *pValue += nSum;
    *pResult = RES_OK;
    return old;
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

TEST_F(CMBasicChecksTest, PassesOnThisBuildWithoutLogging) {
    EXPECT_EQ(CMBasicChecks(), 1);
    EXPECT_EQ(LogEarlyBufferCount(), 0);
}

TEST_F(CMBasicChecksTest, AddReturningOldValueFailsTheAddCheckOnly) {
    cmchecks::set_atomic_add(add_returning_old_value);
    EXPECT_EQ(CMBasicChecks(), 0);
    const auto entries = log_entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].InfoText, "<cmp>CMBasicChecks</cmp>: SysCpuAtomicAdd failed (0)");
    EXPECT_EQ(entries[0].CmpId, CMPID_CM);
    EXPECT_EQ(entries[0].ClassId, LOG_ERROR);
    EXPECT_EQ(entries[0].InfoId, 84u);

    cmchecks::set_atomic_add(nullptr);
    EXPECT_EQ(CMBasicChecks(), 1);
}

TEST_F(CMBasicChecksTest, StrayGuidConversionsFailTheGuidCheck) {
    struct Case {
        cmchecks::StringToGuidFn to_guid;
        cmchecks::GuidToStringFn to_string;
    };
    for (const Case& c :
         {Case{parser_accepting_cut_text, nullptr}, Case{nullptr, formatter_writing_upper_case}}) {
        LogEarlyBufferClear();
        cmchecks::set_guid_functions(c.to_guid, c.to_string);
        EXPECT_EQ(CMBasicChecks(), 0);
        const auto entries = log_entries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_STREQ(entries[0].InfoText,
                     "<cmp>CMBasicChecks</cmp>: CMUtlStringToGUID()/CMUtlGUIDToString() check failed");
        EXPECT_EQ(entries[0].InfoId, 81u);
        EXPECT_EQ(entries[0].ErrorId, RES_FAILED);
    }
}

TEST_F(CMBasicChecksTest, TypeRowsReportSizeAndMaximumDeviations) {
    const cmchecks::TypeRow rows[] = {
        {59, "RTS_RESULT", 4, 1, 0, 0, true}, /* smaller than allowed */
        {59, "RTS_RESULT", 4, 8, 0, 0, true}, /* larger is fine */
        {55, "RTS_I32", 4, 4, 0x7FFFFFFF, 0xFFFFFFFF, false},
        {73, "RTS_I8", 1, 2, 0x7F, 0x7F, false},
        {89, "RTS_CSTRING", 1, 1, 0, 0, false},
    };
    EXPECT_FALSE(cmchecks::check_types(rows));
    const auto entries = log_entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_STREQ(entries[0].InfoText,
                 "<cmp>CMBasicChecks</cmp>: sizeof(RTS_RESULT) is <size>1</size> instead of 4 byte");
    EXPECT_EQ(entries[0].InfoId, 59u);
    EXPECT_STREQ(entries[1].InfoText,
                 "<cmp>CMBasicChecks</cmp>: max(RTS_I32) is <max>4294967295</max> instead of 2147483647");
    EXPECT_EQ(entries[1].InfoId, 55u);
    EXPECT_STREQ(entries[2].InfoText,
                 "<cmp>CMBasicChecks</cmp>: sizeof(RTS_I8) is <size>2</size> instead of 1 byte");
    for (const LogEntry& e : entries) EXPECT_EQ(e.ErrorId, RES_FAILED);

    LogEarlyBufferClear();
    EXPECT_TRUE(cmchecks::check_types(std::span(rows + 1, 1)));
    EXPECT_EQ(LogEarlyBufferCount(), 0);
}

} // namespace
