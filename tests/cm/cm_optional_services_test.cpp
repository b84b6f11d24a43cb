// The manager with optional services present: test components export an event service, an
// output function, a target description and a task service, so the steps that need them run:
// the nine events, the banner, the target resolver, the communication cycle on its own task and
// hook ranges on the hooks task.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework_fixture.h"
#include "test_components.h"
#include "test_task_service.h"

namespace {

using testcmp::slot;
using Ids = std::vector<RTS_UI32>;

struct EventLog {
    Ids created, posted;
    int deleted = 0;
    int moreCycles = 0;   // how often listeners of 0x00010007 ask for one more cycle
    bool answers = false; // listeners of 0x00010006 disable operation 7
    RTS_RESULT createResult = RES_OK;
    std::string banner;
} g_events;

RTS_UI32 id_of(RTS_HANDLE event) {
    return static_cast<RTS_UI32>(reinterpret_cast<RTS_UINTPTR>(event));
}

// The fakes carry the names they are exported under; an event's handle is its id.
struct Fake {
    static RTS_RESULT EventDelete(RTS_HANDLE) { return ++g_events.deleted, RES_OK; }
    static RTS_RESULT SysOutPrintf(const char* format, ...) { return g_events.banner = format, RES_OK; }
    static RTS_RESULT SysTargetGetOperatingSystemId(RTS_UI32* id) { return *id = 5, RES_OK; }
    static RTS_RESULT SysTargetGetProcessorId(RTS_UI32* id) { return *id = 2, RES_OK; }
    static RTS_RESULT RefusedButExported() { return 42; }

    static RTS_HANDLE EventCreate(RTS_UI32 eventId, RTS_UI32 cmpId, RTS_RESULT* pResult) {
        g_events.created.push_back(eventId);
        if (pResult != nullptr) *pResult = g_events.createResult;
        return reinterpret_cast<RTS_HANDLE>(static_cast<RTS_UINTPTR>(eventId));
    }
    static RTS_RESULT EventPost2(RTS_HANDLE event, RTS_UI32 paramId, RTS_UI32 version, void* pParam) {
        auto* fields = static_cast<RTS_UI32*>(pParam);
        g_events.posted.push_back(id_of(event));
        if (id_of(event) == 0x00010007u && g_events.moreCycles > 0) fields[0] = g_events.moreCycles--;
        if (id_of(event) == 0x00010006u && g_events.answers) { // operation, parameter, disabled, handled
            fields[2] = fields[0] == 7 ? 1 : 0;
            fields[3] = 1;
        }
        return RES_OK;
    }
    static RTS_RESULT SysTargetGetDeviceName(RTS_WCHAR* buffer, RTS_SIZE* pLength) {
        const char16_t name[] = u"Test D\u00e9vice"; // converted to the single-byte code page
        std::copy(std::begin(name), std::end(name), buffer);
        return RES_OK;
    }
    // Answers lookups of "Resolved*" itself and refuses "Refused*"; leaves the others alone.
    static RTS_RESULT SysTargetGetAPI(CMApiToResolve* info, RTS_VOID_FCTPTR* ppFunction) {
        std::string name(info->name);
        if (name.rfind("Refused", 0) == 0) return RES_NOTSUPPORTED;
        if (name.rfind("Resolved", 0) != 0) return RES_FAILED;
        *ppFunction = reinterpret_cast<RTS_VOID_FCTPTR>(RefusedButExported);
        return RES_OK;
    }
};

template <typename F> CMExportEntry service(F function, const char* name) {
    return {reinterpret_cast<RTS_VOID_FCTPTR>(function), name, 0, 0};
}

const CMExportEntry kServices[] = {
    service(Fake::EventCreate, "EventCreate"),
    service(Fake::EventPost2, "EventPost2"),
    service(Fake::EventDelete, "EventDelete"),
    service(Fake::SysOutPrintf, "SysOutPrintf"),
    service(Fake::SysTargetGetDeviceName, "SysTargetGetDeviceName"),
    service(Fake::SysTargetGetOperatingSystemId, "SysTargetGetOperatingSystemId"),
    service(Fake::SysTargetGetProcessorId, "SysTargetGetProcessorId"),
    service(Fake::SysTargetGetAPI, "SysTargetGetAPI"),
    service(Fake::RefusedButExported, "RefusedButExported"),
    {nullptr, nullptr, 0, 0},
};

class CMOptionalServices : public testcmp::Test {
protected:
    void SetUp() override {
        testcmp::Test::SetUp();
        g_events = EventLog{};
        slot(0).exports = kServices;
        slot(0).system = true; // registered before the manager imports
        auto list = testcmp::list({0, 1});
        ASSERT_EQ(CMInit2(nullptr, list.data(), 1), RES_OK);
    }
};

TEST_F(CMOptionalServices, NineEventsAreCreatedPostedAroundTheExitHooksAndDeleted) {
    EXPECT_EQ(g_events.created, (Ids{0x00010001u, 0x00010002u, 0x00010003u, 0x00010004u, 0x00010005u,
                                     0x00010006u, 0x00010007u, 0x00010008u, 0x00010009u}));
    g_events.moreCycles = 2;
    testcmp::calls().clear();
    CMExit();
    EXPECT_EQ(g_events.deleted, 9);
    EXPECT_EQ(g_events.posted, (Ids{0x00010001u, 0x00010002u, 0x00010007u, 0x00010007u, 0x00010007u,
                                    0x00010003u, 0x00010004u, 0x00010005u}));
    const Ids hooks = testcmp::hooks_of(1);
    EXPECT_EQ(Ids(hooks.begin(), hooks.begin() + 3), (Ids{CH_COMM_CYCLE, CH_COMM_CYCLE, CH_EXIT_COMM}));
}

TEST_F(CMOptionalServices, FailingEventCreationIsTheStartUpResult) {
    CMExit();
    g_events.createResult = RES_NOMEMORY;
    auto list = testcmp::list({0, 1});
    EXPECT_EQ(CMInit2(nullptr, list.data(), 1), RES_NOMEMORY);
}

TEST_F(CMOptionalServices, OperationDisablingAsksTheListeners) {
    RTS_UI32 disabled = 5;
    EXPECT_EQ(CMIsOperationDisabled(7, 0, &disabled), RES_FAILED);
    EXPECT_EQ(disabled, 0u);
    g_events.answers = true;
    EXPECT_EQ(CMIsOperationDisabled(7, 0, &disabled), RES_OK);
    EXPECT_EQ(disabled, 1u);
    EXPECT_EQ(CMIsOperationDisabled(8, 0, &disabled), RES_OK);
    EXPECT_EQ(disabled, 0u);
}

TEST_F(CMOptionalServices, BannerUsesOutputAndTargetDescription) {
    EXPECT_EQ(g_events.banner.rfind("\n  _/", 0), 0u);
    EXPECT_EQ(testlog::lines(4),
              (std::vector<std::string>{"Test D\xe9vice", "OS=Linux, CPU=ARM, Arch=64Bit, Coding=C"}));
}

TEST_F(CMOptionalServices, TargetResolverAnswersControlLanguageLookupsFirst) {
    constexpr int kControlLanguage = CM_IMPORT_CASE_INSENSITIVE | CM_IMPORT_OPTIONAL;
    RTS_VOID_FCTPTR f = nullptr;
    EXPECT_EQ(CMGetAPI2("ResolvedByTarget", &f, kControlLanguage, 0, 0), RES_OK);
    EXPECT_EQ(f, reinterpret_cast<RTS_VOID_FCTPTR>(Fake::RefusedButExported));
    EXPECT_EQ(CMGetAPI2("RefusedButExported", &f, kControlLanguage, 0, 0), RES_NOTSUPPORTED);
    EXPECT_EQ(f, nullptr);
    // Without the control-language option the ordinary search runs.
    EXPECT_EQ(CMGetAPI2("RefusedButExported", &f, CM_IMPORT_OPTIONAL, 0, 0), RES_OK);
    EXPECT_EQ(CMGetAPI2("ResolvedByTarget", &f, CM_IMPORT_OPTIONAL, 0, 0), RES_FAILED);
}

using CMWithoutServices = testfw::Framework;

TEST_F(CMWithoutServices, OptionalFeaturesAreReportedUnsupported) {
    RTS_UI32 disabled = 3;
    EXPECT_EQ(CMIsOperationDisabled(1, 0, &disabled), RES_NOTSUPPORTED);
    EXPECT_EQ(CMIsOptionSupported(CM_INIT_COMM_CYCLE_TASK), RES_NOTSUPPORTED);
    EXPECT_EQ(CMIsOptionSupported(CM_INIT_NO_CONFIG_REQUIRED), RES_OK);
    EXPECT_EQ(CMDebugOut("x"), RES_NOTSUPPORTED);
}

class CMTasks : public testcmp::Test {
protected:
    void SetUp() override {
        testcmp::Test::SetUp();
        testtask::reset();
        slot(0).exports = testtask::exports();
        slot(0).system = true; // registered before the manager imports
        slot(1).onHook = [this](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
            std::lock_guard<std::mutex> guard(lock_);
            seen_.emplace_back(hook, std::this_thread::get_id());
            cycles_ += hook == CH_COMM_CYCLE ? 1 : 0;
            return RES_OK;
        };
    }
    void TearDown() override {
        testcmp::Test::TearDown();
        EXPECT_EQ(testtask::live_tasks(), 0);
    }
    Ids hooks_on(bool mainThread) {
        std::lock_guard<std::mutex> guard(lock_);
        Ids out;
        for (auto& [hook, id] : seen_)
            if ((id == main_) == mainThread && hook != CH_ON_IMPORT_RELEASE) out.push_back(hook);
        return out;
    }
    std::mutex lock_;
    std::vector<std::pair<RTS_UI32, std::thread::id>> seen_;
    std::atomic<int> cycles_{0};
    const std::thread::id main_ = std::this_thread::get_id();
};

TEST_F(CMTasks, CommCycleRunsOnItsTaskAndStopsBeforeExitHooks) {
    start({0, 1}, CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_COMM_CYCLE_TASK);
    EXPECT_EQ(CMIsOptionSupported(CM_INIT_COMM_CYCLE_TASK), RES_OK);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (cycles_.load() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(cycles_.load(), 3);
    CMExit();
    Ids onTask = hooks_on(false);
    EXPECT_EQ(onTask, Ids(onTask.size(), CH_COMM_CYCLE));
    Ids onMain = hooks_on(true);
    EXPECT_EQ(std::count(onMain.begin(), onMain.end(), CH_COMM_CYCLE), 0);
    EXPECT_EQ(onMain.back(), CH_EXIT_SYSTEM);
}

TEST_F(CMTasks, CommCycleSleepsBetweenOneAndTenThousandMs) {
    for (auto [setting, slept] : {std::pair{"0", 1u}, {"-5", 1u}, {"20000", 10000u}, {"7", 7u}}) {
        testcmp::set("CM", "CommCycleInterval", setting);
        start({0, 1}, CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_COMM_CYCLE_TASK);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (testtask::last_sleep_ms() == testtask::kNoSleep && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(testtask::last_sleep_ms(), slept) << setting;
        CMExit();
        testtask::reset();
    }
}

TEST_F(CMTasks, HookRangesRunOnTheHooksTaskInOrder) {
    auto list = testcmp::list({0, 1});
    ASSERT_EQ(CMInit3(nullptr, list.data(),
                      CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_HOOKS_ON_TASK | CM_INIT_EXIT_ON_TASK),
              RES_OK);
    CMExit();
    EXPECT_EQ(hooks_on(true), (Ids{CH_INIT_SYSTEM, CH_INIT_SYSTEM2, CH_EXIT_SYSTEM2, CH_EXIT_SYSTEM}));
    EXPECT_EQ(hooks_on(false),
              (Ids{CH_INIT, CH_POST_INIT, CH_PRE_INIT2, CH_INIT2, CH_PRE_INIT3, CH_INIT3,
                   CH_INIT_SYSTEM_TASKS, CH_INIT_TASKS, CH_INIT_COMM, CH_INIT_FINISHED, CH_EXIT_COMM,
                   CH_EXIT_TASKS, CH_EXIT_SYSTEM_TASKS, CH_EXIT3, CH_EXIT2, CH_EXIT}));
}

TEST_F(CMTasks, RangeThatTimesOutHoldsBackTheNextUntilItEnds) {
    start({0, 1}, CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_HOOKS_ON_TASK);
    std::atomic<bool> release{false};
    slot(1).onHook = [&release](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        while (hook == CH_INIT2 && !release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return RES_OK;
    };
    constexpr int kInit2Row = 5, kInit3Row = 7;
    testtask::set_wait_limit_ms(20);
    EXPECT_EQ(CMInitSequence(kInit2Row, 1), RES_TIMEOUT);
    EXPECT_EQ(CMInitSequence(kInit3Row, 1), RES_BUSY); // nothing posted while CH_INIT2 runs
    release = true;
    testtask::set_wait_limit_ms(0);
    EXPECT_EQ(CMInitSequence(kInit3Row, 1), RES_OK);
    EXPECT_EQ(testcmp::hooks_of(1), (Ids{CH_INIT2, CH_INIT3}));
}

TEST_F(CMTasks, TaskOptionsNeedTheService) {
    slot(0).exports = nullptr;
    start({0, 1}, CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_COMM_CYCLE_TASK | CM_INIT_HOOKS_ON_TASK);
    EXPECT_EQ(CMIsOptionSupported(CM_INIT_COMM_CYCLE_TASK), RES_NOTSUPPORTED);
    CMExit();
    EXPECT_TRUE(hooks_on(false).empty());
}

} // namespace
