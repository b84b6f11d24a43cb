// Exception mapping: names and mapping at their edges, the growing handler table, frames that
// real processor faults and raised codes resume in each kind of context, what the high half of a
// code decides, stopping the raising task, a fault outside any frame (in a child process), and
// failures of the platform's fault handling.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

#include "faults.h"
#include "seam_fault.h"
#include "sys/sysexcept_internal.h"
#include "sys/sysexcept_os.h"
#include "sysexcept.h"
#include "systask.h"
#include "test_components.h"

namespace {

using Ids = std::vector<RTS_UI32>;
using Seen = std::vector<std::pair<int, RTS_UI32>>;

// Handlers that record the codes they see and answer as told.
std::mutex g_lock;
Seen g_seen;
RTS_RESULT g_answer = RES_OK;
template <int N> RTS_RESULT handler(RTS_HANDLE, RTS_UI32 code, RegContext*) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_seen.emplace_back(N, code);
    return N == 0 ? g_answer : RES_OK;
}
Seen seen() {
    std::lock_guard<std::mutex> guard(g_lock);
    return std::exchange(g_seen, {});
}
// A handler that takes itself out and grows the table under the raise that calls it.
RTS_RESULT churn(RTS_HANDLE, RTS_UI32, RegContext*) {
    SysExceptUnregisterInterface(churn);
    for (auto h : {handler<6>, handler<7>, handler<8>, handler<9>, handler<10>})
        SysExceptRegisterInterface(h);
    return RES_OK;
}

struct Raised {
    bool resumed;
    RTS_UI32 code;
};
// Raises inside a frame; whether the frame was resumed, and with which code.
Raised raise_in_frame(RTS_UI64 code) {
    SysExceptFrame frame{};
    if (SYSEXCEPT_TRY(&frame) == 0) SysExceptGenerateException(RTS_INVALID_HANDLE, code, nullptr);
    const bool resumed = SysExceptCatch(&frame) == 0;
    return {resumed, frame.code};
}

// The program's components with the test services (slot 0) and one test component (slot 1).
RTS_RESULT start_program() {
    return CMInit3(nullptr, testcmp::list({0, 1}, true).data(), CM_INIT_NO_CONFIG_REQUIRED);
}

class SysExcept : public testcmp::Test {
protected:
    void SetUp() override {
        testcmp::Test::SetUp();
        testcmp::provide(0);
        ASSERT_EQ(start_program(), RES_OK);
        ASSERT_EQ(SysExceptRegisterInterface(handler<0>), RES_OK);
        g_answer = RES_OK;
        testsvc::events.posted.clear();
        seen();
    }
};

TEST(SysExceptCodes, NamesAndMappingAtTheirEdges) {
    for (auto [code, size, name, result] : {std::tuple{258u, 64, "DivisionByZero", RES_OK},
                                            {8195u, 64, "VendorException 3", RES_OK},
                                            {1000u, 64, "UNKNOWN", RES_PARAMETER},
                                            {261u, 64, "ProcessorLoadWatchdog", RES_OK},
                                            {8192u, 64, "VendorException", RES_OK},
                                            {336u, 6, "FPU E", RES_BUFFERSIZE}}) {
        char text[64] = "";
        EXPECT_EQ(SysExceptConvertToString(code, text, size), result) << code;
        EXPECT_STREQ(text, name);
    }
    EXPECT_EQ(SysExceptConvertToString(0, nullptr, 8), RES_PARAMETER);
    EXPECT_EQ(Ids({SysExceptMapException(0xC0000094u), SysExceptMapException(0xC0000001u)}),
              Ids({258, 0xC0000001u}));
}

TEST_F(SysExcept, TheSixthHandlerGrowsTheTableAndHandlersMayChangeItWhileCalled) {
    for (auto h : {handler<1>, handler<2>, handler<3>, handler<4>, handler<5>})
        ASSERT_EQ(SysExceptRegisterInterface(h), RES_OK);
    g_answer = RES_EXCEPTION;
    EXPECT_EQ(SysExceptGenerateException(RTS_INVALID_HANDLE, RTSEXCPT_WATCHDOG, nullptr), RES_EXCEPTION);
    EXPECT_EQ(seen(), (Seen{{0, 16}, {1, 16}, {2, 16}, {3, 16}, {4, 16}, {5, 16}}));
    EXPECT_EQ(SysExceptUnregisterInterface(handler<6>), RES_FAILED);
    ASSERT_EQ(SysExceptRegisterInterface(churn), RES_OK);
    EXPECT_EQ(SysExceptGenerateException(RTS_INVALID_HANDLE, RTSEXCPT_WATCHDOG, nullptr), RES_EXCEPTION);
    EXPECT_EQ(SysExceptUnregisterInterface(churn), RES_FAILED);
    CMExit();
    EXPECT_EQ(SysExceptRegisterInterface(handler<1>), RES_NOTINITIALIZED);
    EXPECT_EQ(SysExceptGenerateException(RTS_INVALID_HANDLE, RTSEXCPT_WATCHDOG, nullptr), RES_NOTINITIALIZED);
}

TEST_F(SysExcept, ProcessorFaultsResumeTheInnermostFrameOfATaskEveryTime) {
    RTS_UI32 inner[4] = {}, outer = 0;
    RegContext context{};
    testsvc::on_task([&] {
        SysExceptFrame frame{};
        if (SYSEXCEPT_TRY(&frame) == 0) {
            using namespace testfault;
            int (*faults[4])() = {read_null, divide_by_zero, read_null, divide_by_zero};
            for (int i = 0; i < 4; ++i) {
                SysExceptFrame nested{};
                if (SYSEXCEPT_TRY(&nested) == 0) faults[i]();
                if (SysExceptCatch(&nested) == 0) inner[i] = nested.code;
                context = nested.context;
            }
            SysExceptGenerateException(RTS_INVALID_HANDLE, 0x2005, nullptr);
        }
        if (SysExceptCatch(&frame) == 0 && SysExceptCatch(&frame) != 0) outer = frame.code;
    });
    EXPECT_EQ(Ids(inner, inner + 4), (Ids{81, 258, 81, 258}));
    EXPECT_EQ(outer, 0x2005u);
    EXPECT_TRUE(context.PC != 0 && context.SP != 0);
    EXPECT_TRUE(seen().empty()); // a resumed frame leaves the handlers out
    EXPECT_EQ(testsvc::events.posted, Ids(5, SYSEXCEPT_EVENT_BEFORE));
}

TEST_F(SysExcept, RaisedCodesResumeFramesOfTheStartUpAndTheCycleOutsideTasks) {
    Raised inCycle{}, duringStartUp{};
    testcmp::slot(1).onHook = [&](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        if (hook == CH_COMM_CYCLE) inCycle = raise_in_frame(258);
        if (hook == CH_INIT) duringStartUp = raise_in_frame(0x1C0000005ull);
        return RES_OK;
    };
    CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0);
    CMExit();
    ASSERT_EQ(start_program(), RES_OK);
    EXPECT_TRUE(duringStartUp.resumed && inCycle.resumed);
    EXPECT_EQ((Ids{duringStartUp.code, inCycle.code}), (Ids{81, 258}));
}

// On a task: which codes resume its frame, which reach the handlers, which the listeners see.
TEST_F(SysExcept, TheHighHalfMarksPlatformCodesOrOnlyInformsTheFirstListeners) {
    testsvc::on_task([] {
        SysExceptFrame twice{}; // entered a second time without an exception: closed again
        EXPECT_EQ((std::vector<int>{SysExceptTry(&twice), SysExceptTry(&twice), SysExceptCatch(&twice)}),
                  (std::vector<int>{0, 1, 1}));
        for (RTS_UI32 high : {0u, 1u, 2u, 3u, 0xFFFFFFFFu}) {
            for (RTS_UI32 low : {0xC0000094u, 16u, 336u, 0x2345u}) {
                SCOPED_TRACE(testing::Message() << high << " " << low);
                testsvc::events.posted.clear();
                const Raised r = raise_in_frame((RTS_UI64{high} << 32) | low);
                const RTS_UI32 code = high != 0 ? SysExceptMapException(low) : low;
                const bool resumes = high != 0 ? high != 2 : low == 336u || low == 0x2345u;
                EXPECT_EQ(r.resumed, resumes);
                EXPECT_EQ(resumes ? r.code : code, code);
                const bool handled = !resumes && high != 2;
                EXPECT_EQ(testsvc::events.posted.size(), handled ? 2u : 1u);
                EXPECT_EQ(seen(), Seen(handled ? 1 : 0, {0, code}));
            }
        }
    });
}

TEST_F(SysExcept, AnExceptionStopsTheTaskOrTheTimerThatRunsItUnlessAHandlerTookIt) {
    struct Row {
        RTS_UI32 taskFlags, iec;
        RTS_RESULT answer, result;
        bool ownTask, timerRunsIt;
        int suspended, stopped;
    };
    const auto other = reinterpret_cast<RTS_HANDLE>(RTS_UINTPTR{0x1234}); // no task of the service
    for (const Row& r : {Row{0, 0, RES_OK, RES_EXCEPTION, true, false, 1, 0},
                         {SYS_TASK_FLAG_KEEP_ON_EXCEPTION, 0, RES_OK, RES_OK, true, false, 0, 0},
                         {0, 0, RES_EXCEPTION, RES_EXCEPTION, true, false, 0, 0},
                         {0, 1, RES_EXCEPTION, RES_EXCEPTION, true, false, 1, 0},
                         {0, 0, RES_OK, RES_EXCEPTION, false, true, 0, 1},
                         {0, 0, RES_OK, RES_NOTSUPPORTED, false, false, 0, 0}}) {
        testsvc::reset();
        g_answer = r.answer;
        testsvc::tasks.timerTask = r.timerRunsIt ? other : nullptr;
        RTS_RESULT result = -1;
        const RTS_HANDLE task = r.ownTask ? RTS_INVALID_HANDLE : other;
        testsvc::on_task([&] { result = SysExceptGenerateException2(task, 16, nullptr, r.iec); },
                         r.taskFlags);
        EXPECT_EQ(result, r.result);
        EXPECT_EQ((std::pair{testsvc::tasks.suspended.load(), testsvc::tasks.timersStopped.load()}),
                  (std::pair{r.suspended, r.stopped}));
    }
    EXPECT_EQ(SysExceptGenerateException2(RTS_INVALID_HANDLE, 0x200000010ull, nullptr, 0), RES_OK);
}

using SysExceptDeathTest = SysExcept;
TEST_F(SysExceptDeathTest, AFaultOutsideAnyFrameReachesTheHandlersAndEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto report = [](RTS_HANDLE, RTS_UI32 code, RegContext*) {
        return std::fprintf(stderr, "handler saw %u\n", unsigned(code)), std::fflush(stderr), RES_OK;
    };
    EXPECT_DEATH((SysExceptRegisterInterface(+report), testfault::read_null()), "handler saw 81");
}

TEST_F(SysExcept, FailedFaultHandlingIsLoggedWithTheSystemsError) {
    using Calls = sysexcept_os::Calls;
    CMExit();
    seamfault::Injector<Calls, &Calls::install_fault_handlers, &Calls::remove_fault_handlers> seam(
        sysexcept_os::platform_calls(), sysexcept_os::set_calls);
    seam.fail(0, {5});
    seam.fail(1, {6, seamfault::kEveryCall, true});
    ASSERT_EQ(start_program(), RES_OK);
    EXPECT_EQ(seamfault::injected_lines(CMPID_SysExcept), std::vector<std::string>{seamfault::line(5)});
    CMExit(); // the log read from now on may hold no more than the shut-down's lines
    EXPECT_EQ(seamfault::injected_lines(CMPID_SysExcept).back(), seamfault::line(6));
}

TEST(SysExceptUnwind, ProloguesGiveTheDocumentedUnwindInformation) {
    using Bytes = std::vector<RTS_UI8>;
    const Bytes frameOnly = {0x01, 0x04, 0x02, 0x05, 0x04, 0x03, 0x01, 0x50};
    for (const auto& [code, info] : std::vector<std::pair<Bytes, Bytes>>{
             {{0x55, 0x48, 0x8B, 0xEC}, frameOnly},
             {{0x55, 0x48, 0x8B, 0xEC, 0x53, 0x41, 0x54, 0x56, 0x90},
              {0x01, 0x08, 0x05, 0x05, 0x08, 0x60, 0x07, 0xC0, 0x05, 0x30, 0x04, 0x03, 0x01, 0x50, 0x00,
               0x00}},
             {{0x55, 0x48, 0x8B, 0xEC, 0x5B}, frameOnly}, // a pop ends the prologue
             {{0x55, 0x48, 0x8B, 0xEC, 0x41}, frameOnly}, // so does the end of the code
             {{0x55, 0x48, 0x8B, 0xEC, 0x41, 0x54},
              {0x01, 0x06, 0x03, 0x05, 0x06, 0xC0, 0x04, 0x03, 0x01, 0x50, 0, 0}},
             {{0x55, 0x48, 0x8B, 0xE5}, {}},
             {{0x55}, {}}}) {
        RTS_UI8 out[sysexcept_unwind::kInfoSize] = {};
        EXPECT_EQ(Bytes(out, out + sysexcept_unwind::build_info(code.data(), code.size(), out)), info);
    }
}

// What the platform's unwinder was given for the code areas, through a table of its own.
struct Unwinder {
    static inline sysexcept_os::FunctionLookup lookup = nullptr;
    static inline void* context = nullptr;
    static inline int added = 0, deleted = 0;
    static rts::OsError add(void*, RTS_UI32, sysexcept_os::FunctionLookup f, void* c, const char**) {
        return lookup = f, context = c, ++added, rts::kOsOk;
    }
    static rts::OsError remove(void*, const char**) { return ++deleted, rts::kOsOk; }
    static const void* find(const RTS_UI8* pc) { return lookup(reinterpret_cast<RTS_UINTPTR>(pc), context); }
};

TEST_F(SysExcept, CodeAreasHaveUnwindRecordsWhileLoaded) {
    static RTS_UI8 code[] = {0x55, 0x48, 0x8B, 0xEC, 0x53, 0xC3, 0x90, 0xC3}; // the loader's area
    const RTS_UI32 functions[] = {0, 6};
    SysExceptCodeArea area{1, code, sizeof code, functions, 2};
    RTS_VOID_FCTPTR post = nullptr;
    ASSERT_EQ(CMGetAPI2("EventPost2", &post, 0, 0, 0), RES_OK);
    auto post_area = [&](SysExceptCodeArea& posted, RTS_UI32 isLoaded) {
        posted.loaded = isLoaded;
        const auto event = reinterpret_cast<RTS_HANDLE>(RTS_UINTPTR{SYSEXCEPT_EVENT_CODE_AREA});
        reinterpret_cast<PF_EVENT_POST2>(post)(event, 1, 1, &posted);
    };
    auto loaded = [&](RTS_UI32 isLoaded) { post_area(area, isLoaded); };
    loaded(1); // the platform's own unwinder takes the area and gives it back without a complaint
#ifdef _WIN32
    { // and finds the record around a code address outside every module, where it asks the tables
        auto* copy = static_cast<RTS_UI8*>(VirtualAlloc(nullptr, sizeof code, MEM_COMMIT, PAGE_READWRITE));
        std::memcpy(copy, code, sizeof code);
        SysExceptCodeArea outside{1, copy, sizeof code, functions, 2};
        post_area(outside, 1);
        DWORD64 imageBase = 0;
        const RUNTIME_FUNCTION* found =
            RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(copy + 3), &imageBase, nullptr);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ((std::pair{imageBase + found->BeginAddress, imageBase + found->EndAddress}),
                  (std::pair{reinterpret_cast<DWORD64>(copy), reinterpret_cast<DWORD64>(copy) + 6}));
        post_area(outside, 0);
        VirtualFree(copy, 0, MEM_RELEASE);
    }
#endif
    loaded(0);
    for (const LogEntry& e : testlog::entries()) EXPECT_NE(e.CmpId, CMPID_SysExcept) << e.InfoText;
    sysexcept_os::Calls calls = sysexcept_os::platform_calls();
    calls.add_function_table = Unwinder::add;
    calls.delete_function_table = Unwinder::remove;
    sysexcept_os::set_calls(&calls);
    loaded(1);
    ASSERT_EQ(Unwinder::added, 1);
    const auto* record = static_cast<const sysexcept_unwind::Record*>(Unwinder::find(&code[5]));
    ASSERT_NE(record, nullptr);
    const RTS_UINTPTR tableBase = reinterpret_cast<RTS_UINTPTR>(record->unwind) - record->info;
    const RTS_UINTPTR area0 = reinterpret_cast<RTS_UINTPTR>(code);
    EXPECT_EQ((std::pair{tableBase + record->begin, tableBase + record->end}), (std::pair{area0, area0 + 6}));
    EXPECT_EQ(Unwinder::find(&code[7]), nullptr); // no prologue
    loaded(0);
    loaded(1);
    CMExit(); // drops the area still loaded
    sysexcept_os::set_calls(nullptr);
    // Every area went back, and nobody listens for code any more.
    EXPECT_EQ((std::tuple{Unwinder::added, Unwinder::deleted, testsvc::events.listeners.size()}),
              (std::tuple{2, 2, size_t{0}}));
}

} // namespace
