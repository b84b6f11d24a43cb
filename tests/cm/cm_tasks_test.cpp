// The manager with a task service present: the communication cycle on its own task, stopped
// before any exit hook, and hook ranges delivered on the hooks task in the usual order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "test_components.h"
#include "test_task_service.h"

namespace {

using testcmp::slot;

struct Seen {
    std::mutex lock;
    std::vector<std::pair<RTS_UI32, std::thread::id>> hooks;
    std::atomic<int> cycles{0};
};

class CMTasks : public ::testing::Test {
protected:
    void SetUp() override {
        testcmp::reset();
        slot(0).exports = testtask::exports();
        slot(1).onHook = [this](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
            std::lock_guard<std::mutex> guard(seen_.lock);
            seen_.hooks.emplace_back(hook, std::this_thread::get_id());
            if (hook == CH_COMM_CYCLE) ++seen_.cycles;
            return RES_OK;
        };
    }
    void TearDown() override {
        if (CMGetNumOfComponents() > 0) CMExit();
        EXPECT_EQ(testtask::live_tasks(), 0);
    }
    std::vector<RTS_UI32> hooks_on(bool mainThread) {
        std::lock_guard<std::mutex> guard(seen_.lock);
        std::vector<RTS_UI32> out;
        for (auto& [hook, id] : seen_.hooks)
            if ((id == main_) == mainThread && hook != CH_ON_IMPORT_RELEASE) out.push_back(hook);
        return out;
    }
    Seen seen_;
    std::thread::id main_ = std::this_thread::get_id();
    // The service is a system component, so the manager finds it when it imports.
    const StaticComponent list_[3] = {
        {"TestTasks", testcmp::entry(0), 1}, {"TestCmp1", testcmp::entry(1), 0}, {nullptr, nullptr, 0}};
};

TEST_F(CMTasks, CommCycleRunsOnItsTaskAndStopsBeforeExitHooks) {
    ASSERT_EQ(CMInit3(nullptr, list_, CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_COMM_CYCLE_TASK), RES_OK);
    EXPECT_EQ(CMIsOptionSupported(CM_INIT_COMM_CYCLE_TASK), RES_OK);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen_.cycles.load() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(seen_.cycles.load(), 3);
    CMExit();
    std::vector<RTS_UI32> onTask = hooks_on(false);
    ASSERT_FALSE(onTask.empty());
    for (RTS_UI32 hook : onTask) EXPECT_EQ(hook, CH_COMM_CYCLE);
    std::vector<RTS_UI32> onMain = hooks_on(true);
    EXPECT_EQ(onMain.front(), CH_INIT_SYSTEM);
    for (RTS_UI32 hook : onMain) EXPECT_NE(hook, CH_COMM_CYCLE);
    EXPECT_EQ(onMain.back(), CH_EXIT_SYSTEM);
}

TEST_F(CMTasks, HookRangesRunOnTheHooksTaskInOrder) {
    ASSERT_EQ(
        CMInit3(nullptr, list_, CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_HOOKS_ON_TASK | CM_INIT_EXIT_ON_TASK),
        RES_OK);
    CMExit();
    EXPECT_EQ(hooks_on(true),
              (std::vector<RTS_UI32>{CH_INIT_SYSTEM, CH_INIT_SYSTEM2, CH_EXIT_SYSTEM2, CH_EXIT_SYSTEM}));
    EXPECT_EQ(hooks_on(false),
              (std::vector<RTS_UI32>{CH_INIT, CH_POST_INIT, CH_PRE_INIT2, CH_INIT2, CH_PRE_INIT3, CH_INIT3,
                                     CH_INIT_SYSTEM_TASKS, CH_INIT_TASKS, CH_INIT_COMM, CH_INIT_FINISHED,
                                     CH_EXIT_COMM, CH_EXIT_TASKS, CH_EXIT_SYSTEM_TASKS, CH_EXIT3, CH_EXIT2,
                                     CH_EXIT}));
}

TEST_F(CMTasks, TaskOptionsNeedTheService) {
    slot(0).exports = nullptr;
    ASSERT_EQ(
        CMInit3(nullptr, list_, CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_COMM_CYCLE_TASK | CM_INIT_HOOKS_ON_TASK),
        RES_OK);
    EXPECT_EQ(CMIsOptionSupported(CM_INIT_COMM_CYCLE_TASK), RES_NOTSUPPORTED);
    // Without the service every hook runs on the caller's thread and no cycle runs by itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(seen_.cycles.load(), 0);
    CMExit();
    EXPECT_TRUE(hooks_on(false).empty());
}

} // namespace
