// The logger core: rings checked against a model of the last entries, the add paths and their
// filters, the relative-time tag on a fake clock, the loggers themselves, the early buffer and
// bad arguments.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "framework_fixture.h"
#include "log_reader.h"
#include "log_test_logger.h"
#include "sys/systimertc_os.h"

namespace {

using namespace testlogger;
using LogRing = testfw::Framework;

// After every add, each way of reading the ring gives the model's entries, oldest first.
TEST_F(LogRing, EveryReadGivesTheLastEntriesOfAModel) {
    for (int max : {1, 3, 7}) {
        RTS_HANDLE h = make(("Model" + std::to_string(max)).c_str(), LOG_TS_MS, max);
        std::deque<std::string> model;
        for (int n = 0; n < 3 * max + 2; ++n) {
            const std::string text = "entry " + std::to_string(n);
            ASSERT_EQ(LogAdd(h, 7, LOG_INFO, 0, 0, "%s", text.c_str()), RES_OK);
            model.push_back(text);
            if (static_cast<int>(model.size()) > max) model.pop_front();
            SCOPED_TRACE(text);
            EXPECT_EQ(texts(h), Texts(model.begin(), model.end()));
            LogEntry e;
            RTS_RESULT r = RES_OK;
            Texts stepped; // ring index by ring index
            for (int i = LogGetEntryByQueueIndex(h, -1, &e, &r); i >= 0;) {
                i = LogGetEntryByQueueIndex(h, i, &e, &r);
                if (r == RES_OK || r == RES_NOMOREENTRIES) stepped.emplace_back(e.InfoText);
            }
            EXPECT_EQ(stepped, Texts(model.begin(), model.end()));
            for (int k = 0; k <= static_cast<int>(model.size()); ++k) {
                LogGetEntryByIndex(h, k, &e, &r);
                EXPECT_EQ(r == RES_OK ? e.InfoText : "end",
                          k < static_cast<int>(model.size()) ? model[k] : "end");
            }
        }
    }
}

// What each add path stores (null: nothing) and answers, on a logger that takes infos and errors.
TEST_F(LogRing, AddPathsApplyTheirFiltersAndCutLongTexts) {
    RTS_HANDLE h = make("Filtered", LOG_TS_MS, 50, LOG_INFO | LOG_ERROR);
    RTS_HANDLE stale = make("Stale", LOG_TS_MS, 5);
    ASSERT_EQ(LogDelete(stale), RES_OK);
    const LogComponentFilter none{h, 7, 0, 0x7FFFFFFF}, masked{h, 7, LOG_INFO, 3};
    const std::string longText(200, 'x');
    const std::string cut = longText.substr(0, 127);
    // what each add answers and what it stores (null: nothing)
    const std::tuple<std::function<RTS_RESULT()>, RTS_RESULT, const char*> rows[] = {
        {[&] { return LogAdd(h, 7, LOG_DEBUG, 0, 0, "d"); }, RES_PARAMETER, nullptr},
        {[&] { return LogAdd(h, 7, LOG_DEBUG | LOG_USERNOTIFY, 0, 0, "n"); }, RES_OK, nullptr},
        {[&] { return LogAdd2(&none, LOG_ERROR, 0, 0, "e"); }, RES_OK, "e"},
        {[&] { return LogAdd2(&none, LOG_INFO, 0, 0, "i"); }, RES_OK, nullptr},
        {[&] { return LogAdd3(&masked, LOG_INFO, 4, 0, 0, "s"); }, RES_OK, nullptr},
        {[&] { return LogAdd3(&masked, LOG_INFO, 1, 0, 0, "m"); }, RES_OK, "m"},
        {[&] { return LogAdd(h, 7, LOG_INFO, 0, 0, "%s", longText.c_str()); }, RES_BUFFERSIZE, cut.c_str()},
        {[&] { return LogAdd(h, 7, LOG_INFO, 0, 0, "%s", cut.c_str()); }, RES_OK, cut.c_str()},
        {[&] { return LogAdd(h, 7, LOG_INFO, 0, 0, "%s", ""); }, RES_OK, ""},
        {[&] { return LogAdd(h, 7, LOG_INFO, 0, 0, nullptr); }, RES_PARAMETER, ""},
        {[&] { return LogAdd(RTS_INVALID_HANDLE, 7, LOG_INFO, 0, 0, "x"); }, RES_PARAMETER, nullptr},
        {[&] { return LogAdd(stale, 7, LOG_INFO, 0, 0, "x"); }, RES_PARAMETER, nullptr},
    };
    for (RTS_SIZE i = 0; i < std::size(rows); ++i) {
        const auto& [add, result, stored] = rows[i];
        SCOPED_TRACE(i);
        Texts expected = texts(h);
        if (stored != nullptr) expected.push_back(stored);
        EXPECT_EQ(add(), result);
        EXPECT_EQ(texts(h), expected);
    }
    // The rejected notification is handed out once, with its logger.
    LogEntry e;
    RTS_HANDLE from = nullptr;
    EXPECT_EQ(LogGetUserNotify2(&from, &e), RES_OK);
    EXPECT_EQ(std::pair(std::string(e.InfoText), from), std::pair(std::string("n"), h));
    EXPECT_EQ(LogGetUserNotify(&e), RES_NO_OBJECT);
    // A notification kept in the ring is dropped when its slot is written again.
    RTS_HANDLE tiny = make("Tiny", LOG_TS_MS, 2);
    LogAdd(tiny, 7, LOG_INFO | LOG_USERNOTIFY, 0, 0, "kept");
    for (const char* t : {"a", "b"}) LogAdd(tiny, 7, LOG_INFO, 0, 0, t);
    EXPECT_EQ(LogGetUserNotify(&e), RES_NO_OBJECT);
}

RTS_I64 g_clockMs = 0;

// The relative-time tag counts milliseconds since the entry before, on a fake clock.
TEST_F(LogRing, RelativeTimeIsTheDistanceToThePreviousEntry) {
    systimertc_os::Calls clock = systimertc_os::platform_calls();
    clock.read_clock = [](RTS_I64* ms, const char**) { return *ms = g_clockMs, rts::kOsOk; };
    systimertc_os::set_calls(&clock);
    RTS_HANDLE h = make("Relative", LOG_TS_RTC_HIGHRES, 4);
    g_clockMs = 1'700'000'000'000;
    LogAdd(h, 7, LOG_TIMEREL, 0, 0, "first");
    g_clockMs += 5;
    LogAdd(h, 7, LOG_TIMEREL, 0, 0, "then %d", 5);
    systimertc_os::set_calls(nullptr);
    EXPECT_EQ(texts(h), (Texts{"<TimeRel>0</TimeRel> first", "<TimeRel>5</TimeRel> then 5"}));
}

TEST_F(LogRing, LoggersAreFoundByNameWalkedInOrderAndGuarded) {
    RTS_HANDLE a = make("A", LOG_DEFAULT_TYPE, 5), b = make("B", LOG_TS_MS, 5);
    EXPECT_EQ(make("A", LOG_TS_MS, 9), a);
    LogOptions* standard = nullptr;
    ASSERT_EQ(LogGetOptions(nullptr, &standard), RES_OK);
    CMUtlSafeStrCpy(standard->Name, sizeof standard->Name, "StdLogger");
    EXPECT_EQ(LogOpen(LOG_STD_LOGGER_NAME, nullptr), LogOpen("", nullptr));
    EXPECT_EQ(LogOpen(LOG_STD_LOGGER_NAME, nullptr), LogOpen("StdLogger", nullptr));
    Texts names;
    RTS_RESULT r = RES_OK;
    for (RTS_HANDLE l = LogGetFirstLogger(&r); r == RES_OK; l = LogGetNextLogger(l, &r)) {
        char name[32];
        LogGetName(l, name, sizeof name);
        names.emplace_back(name);
    }
    EXPECT_EQ(std::pair(names, r), std::pair(Texts{"StdLogger", "A", "B"}, RES_NO_OBJECT));
    EXPECT_EQ(LogEnable(a), RES_FAILED);
    EXPECT_EQ(LogDisable(b), RES_OK);
    EXPECT_EQ(LogAdd(b, 7, LOG_INFO, 0, 0, "off"), RES_FAILED);
    // A component filter below the logger's makes the logger say how to get more.
    LogComponentFilter f;
    EXPECT_EQ(LogGetFilter2(&f, nullptr, CMPID_SysTimeRtc, &r)->Filter, LOG_DEFAULT_FILTER);
    EXPECT_EQ(
        testlog::texts().back(),
        "Component <SysTimeRtc> could log more info with additional setting SysTimeRtc.Filter=0xFFFFFFFF!");
}

// Before the loggers exist entries collect in the early buffer, which restarts after 500; the
// standard logger adopts it with the time of adoption; after shut-down it collects anew.
TEST(LogEarlyBuffer, HoldsEntriesUntilTheStandardLoggerAdoptsItAndAgainAfterExit) {
    testlog::clear();
    for (int i = 0; i < LOG_EARLY_BUFFER_SLOTS + 2; ++i) LogAdd(nullptr, 7, LOG_DEBUG, 0, 0, "e%d", i);
    EXPECT_EQ(testlog::texts(), (Texts{"e500", "e501"}));
    RTS_UI64 before = 0, after = 0;
    SysTimeRtcHighResGet(&before);
    ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    SysTimeRtcHighResGet(&after);
    const std::vector<LogEntry> adopted = testlog::entries();
    ASSERT_GE(adopted.size(), 2u);
    EXPECT_EQ((Texts{adopted[0].InfoText, adopted[1].InfoText}), (Texts{"e500", "e501"}));
    EXPECT_TRUE(adopted[0].Timestamp >= before && adopted[0].Timestamp <= after);
    EXPECT_EQ(adopted[1].Timestamp, adopted[0].Timestamp);
    CMExit();
    LogAdd(nullptr, 7, LOG_DEBUG, 0, 0, "late");
    EXPECT_EQ(testlog::texts().back(), "late");
    EXPECT_EQ(testlog::count_starting("e50"), 0);
}

TEST_F(LogRing, BadArgumentsGetResultCodes) {
    RTS_HANDLE h = make("Bad", LOG_TS_MS, 4);
    LogAdd(h, 7, LOG_INFO, 0, 0, "one");
    LogEntry e;
    RTS_RESULT r = RES_OK;
    const std::pair<RTS_RESULT, RTS_RESULT> rows[] = {
        {LogGetEntry(h, 4, &e), RES_PARAMETER},
        {(LogGetEntryByQueueIndex(h, 1000000, &e, &r), r), RES_PARAMETER},
        {(LogGetNextEntry(h, -5, &e, &r), r), RES_PARAMETER},
        {(LogGetEntryByIndex(h, 1, &e, &r), r), RES_NOMOREENTRIES},
        {(LogGetFirstEntry(h, nullptr, &r), r), RES_PARAMETER},
        {(LogCreate(nullptr, &r), r), RES_PARAMETER},
        {LogGetOptions(h, nullptr), RES_PARAMETER},
        {(LogGetFilter2(nullptr, h, 7, &r), r), RES_PARAMETER},
    };
    for (RTS_SIZE i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
}

} // namespace
