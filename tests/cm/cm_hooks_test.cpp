// Hook delivery: the resume cursor, pending and stopping answers, reverse order, masked
// delivery, the extra communication cycle, exit rows, classes and instances, and locks.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "mempool.h"
#include "test_components.h"

namespace {

using testcmp::slot;
using Strings = std::vector<std::string>;

constexpr RTS_UI32 kTestHook = CH_SETTINGS_CHANGED;

class CMHooks : public testcmp::Test {
protected:
    void SetUp() override {
        testcmp::Test::SetUp();
        start({0, 1, 2});
    }
    static RTS_UINTPTR at(int n) { return reinterpret_cast<RTS_UINTPTR>(testcmp::record(n)); }
};

TEST_F(CMHooks, DeliveryFollowsCursorPendingAndStopRules) {
    struct Case {
        const char* label;
        int reverse;
        int cursor; // the slot the cursor names at the start, -1: none
        std::array<RTS_RESULT, 3> answers;
        RTS_RESULT result;
        std::vector<int> called;
    };
    const Case cases[] = {
        {"resume after the cursor", 0, 1, {}, RES_OK, {2}},
        {"pending is remembered", 0, -1, {RES_PENDING, RES_OK, RES_PENDING}, RES_PENDING, {0, 1, 2}},
        {"75 stops", 0, -1, {RES_OK, CM_HOOK_STOP}, CM_HOOK_STOP, {0, 1}},
        {"80 stops", 0, -1, {RES_OK, CM_HOOK_ILLEGAL_INSTRUCTION}, CM_HOOK_ILLEGAL_INSTRUCTION, {0, 1}},
        {"81 stops", 0, -1, {RES_OK, CM_HOOK_ACCESS_VIOLATION}, CM_HOOK_ACCESS_VIOLATION, {0, 1}},
        {"reverse never stops early", 1, -1, {RES_OK, CM_HOOK_ACCESS_VIOLATION}, RES_OK, {2, 1, 0}},
        {"reverse: the last one's stop", 1, -1, {RES_OK, RES_OK, CM_HOOK_STOP}, CM_HOOK_STOP, {2, 1, 0}},
        {"reverse pending", 1, -1, {RES_PENDING}, RES_PENDING, {2, 1, 0}},
        {"reverse resumes before the cursor", 1, 2, {}, RES_OK, {1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        for (int s = 0; s < 3; ++s)
            slot(s).onHook = [r = c.answers[s]](RTS_UI32, RTS_UINTPTR, RTS_UINTPTR) { return r; };
        testcmp::calls().clear();
        RTS_UINTPTR cursor = c.cursor >= 0 ? at(c.cursor) : 0;
        EXPECT_EQ(CMCallHook(kTestHook, 0, &cursor, c.reverse), c.result);
        EXPECT_EQ(testcmp::slots_called(), c.called);
        // Forward the cursor names the last one called; reverse walks on to the head.
        EXPECT_EQ(cursor,
                  c.reverse ? reinterpret_cast<RTS_UINTPTR>(CMGetComponentByIndex(0)) : at(c.called.back()));
    }
}

TEST_F(CMHooks, HookThatRemovesComponentsKeepsTheWalkOnTheList) {
    using Deliver = void (*)();
    struct Case {
        const char* label;
        Deliver deliver; // null: the start-up delivers the hook
        RTS_UI32 hook;
        int removed; // the slot TestCmp1 removes when it gets the hook
        std::vector<int> called;
    };
    const Case cases[] = {
        {"forward, itself", [] { CMCallHook(kTestHook, 0, nullptr, 0); }, kTestHook, 1, {0, 1, 2}},
        {"forward, the next", [] { CMCallHook(kTestHook, 0, nullptr, 0); }, kTestHook, 2, {0, 1}},
        {"reverse, itself", [] { CMCallHook(kTestHook, 0, nullptr, 1); }, kTestHook, 1, {2, 1, 0}},
        {"reverse, the next", [] { CMCallHook(kTestHook, 0, nullptr, 1); }, kTestHook, 0, {2, 1}},
        {"masked, itself", [] { CMCallHook2(0, kTestHook, 0, 0); }, kTestHook, 1, {0, 1, 2}},
        {"start-up pass, itself", nullptr, CH_INIT_SYSTEM2, 1, {0, 1, 2}},
        {"broadcast, itself",
         [] {
             ComponentRecord victim{.name = "Victim", .state = CM_STATE_REGISTERED};
             CMUnloadComponent(CMAddComponent(&victim, nullptr));
         },
         CH_ON_IMPORT_RELEASE,
         1,
         {0, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CMExit();
        testcmp::reset();
        slot(1).onHook = [&c](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
            if (hook == c.hook) CMRemoveComponent(testcmp::record(c.removed));
            return RES_OK;
        };
        auto list = testcmp::list({0, 1, 2});
        CMInit2(nullptr, list.data(), 1);
        if (c.deliver != nullptr) testcmp::calls().clear(), c.deliver();
        std::vector<int> called;
        for (const testcmp::Call& call : testcmp::calls())
            if (call.hook == c.hook) called.push_back(call.slot);
        EXPECT_EQ(called, c.called);
    }
}

TEST_F(CMHooks, FailedInitHookIsCountedLoggedAndSwitchesSafeMode) {
    slot(1).onHook = [](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        return hook == CH_INIT3 ? RES_FAILED : RES_OK;
    };
    EXPECT_EQ(CMCallHook(CH_INIT3, 0, nullptr, 0), RES_OK);
    EXPECT_EQ(testlog::lines(78), Strings{"Error: Component <cmp>TestCmp1</cmp> init (4) failed"});
    EXPECT_EQ(testlog::lines(69).size(), 1u);
    EXPECT_EQ(testcmp::hooks_of(0).back(), CH_SAFEMODE);
}

TEST_F(CMHooks, MaskedDeliveryReachesOnlyMatchingComponents) {
    testcmp::record(1)->flags |= CM_FLAG_DYNAMIC;
    EXPECT_EQ(CMCallHook2(CM_FLAG_DYNAMIC, kTestHook, 0, 0), RES_OK);
    EXPECT_EQ(testcmp::slots_called(), std::vector<int>{1});
    slot(1).onHook = [](RTS_UI32, RTS_UINTPTR, RTS_UINTPTR) { return CM_HOOK_STOP; };
    EXPECT_EQ(CMCallHook2(CM_FLAG_DYNAMIC, kTestHook, 0, 0), RES_FAILED);
    EXPECT_EQ(CMGetCurrentHook(), CH_INIT_FINISHED);
}

TEST_F(CMHooks, ExtraCommCycleHonoursTheMinimalInterval) {
    EXPECT_EQ(CMCallExtraCommCycleHook(0, nullptr), RES_FAILED); // not within a communication cycle
    const std::pair<const char*, std::vector<int>> cases[] = {
        {"250", {0, 1, 2}}, {"0", {0, 0, 1, 2, 1, 2}}, {"-1", {0, 0, 1, 2, 1, 2}}};
    for (const auto& [interval, called] : cases) {
        CMExit();
        testcmp::reset();
        testcmp::set("ComponentManager", "MinimalCommCycleHookInterval", interval);
        start({0, 1, 2});
        RTS_RESULT nested = RES_FAILED;
        slot(0).onHook = [&nested](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
            if (hook == CH_COMM_CYCLE && nested == RES_FAILED) nested = CMCallExtraCommCycleHook(0, nullptr);
            return RES_OK;
        };
        CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0);
        EXPECT_EQ(nested, RES_OK);
        EXPECT_EQ(testcmp::slots_called(), called) << interval;
    }
}

TEST_F(CMHooks, ExitRowsRepeatWhilePendingWithPausesBetween) {
    // Pending for 25 ms: delivered again after pauses, not thousands of times in a spin.
    std::chrono::steady_clock::time_point first;
    int rounds = 0;
    slot(1).onHook = [&](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        if (hook != CH_EXIT2) return RES_OK;
        if (rounds++ == 0) first = std::chrono::steady_clock::now();
        return std::chrono::steady_clock::now() - first < std::chrono::milliseconds(25) ? RES_PENDING
                                                                                        : RES_OK;
    };
    CMExit();
    EXPECT_GE(rounds, 2);
    EXPECT_LE(rounds, 6);
}

TEST_F(CMHooks, SequencesRefuseRangesOutsideTheHookTable) {
    for (auto [first, count] : {std::pair{-1, 1}, {-5, 3}, {34, 1}, {30, 10}}) {
        EXPECT_EQ(CMInitSequence(first, count), RES_PARAMETER) << first;
        EXPECT_EQ(CMExitSequence(first, count), RES_PARAMETER) << first;
    }
    EXPECT_EQ(CMInitSequence(-1, 0), RES_OK); // an empty range delivers nothing
    EXPECT_TRUE(testcmp::calls().empty());
}

TEST_F(CMHooks, HookQueries) {
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(CMGetHookName(9999, &r), nullptr);
    EXPECT_EQ(r, RES_NO_OBJECT);
    int count = 0;
    EXPECT_EQ(CMGetHookEntries(CH_POST_INIT, CH_INIT_SYSTEM_TASKS, &count)->hook, CH_POST_INIT);
    EXPECT_EQ(count, 5);
    CMGetHookEntries(CH_INIT, CH_INIT, &count);
    EXPECT_EQ(count, 1);
}

TEST_F(CMHooks, LocksWorkOnlyWhileManagerRuns) {
    RTS_HANDLE lock = CMLockCreate(nullptr);
    EXPECT_EQ(CMLockEnter(lock), RES_OK);
    EXPECT_EQ(CMLockLeave(lock), RES_OK);
    EXPECT_EQ(CMLockEnter(RTS_INVALID_HANDLE), RES_NOTSUPPORTED);
    CMExit();
    EXPECT_EQ(CMLockEnter(lock), RES_NOTINITIALIZED);
    EXPECT_EQ(CMLockDelete(lock), RES_OK);
    EXPECT_EQ(CMCallHook(kTestHook, 0, nullptr, 0), RES_FAILED);
}

TEST_F(CMHooks, ClassesAndInstances) {
    RTS_HANDLE first = CMRegisterClass(slot(0).id, 0x55);
    EXPECT_EQ(CMRegisterClass(slot(1).id, 0x55), first); // one entry, owned by the last registrant
    EXPECT_EQ(CMCreateInstance(0x55), testcmp::instance_of(1));
    EXPECT_EQ(CMCreateInstance(0x66), nullptr);
    int object = 0;
    ASSERT_EQ(CMRegisterInstance(0x55, 3, &object), RES_OK);
    EXPECT_EQ(testcmp::hooks_of(2, true), std::vector<RTS_UI32>{CH_ON_REGISTER_INSTANCE});
    RTS_RESULT r = RES_FAILED;
    EXPECT_EQ(CMGetInstance(0x55, 3, &r), &object);
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(CMGetInstance(0x55, 4, &r), nullptr);
    EXPECT_EQ(r, RES_FAILED);
    EXPECT_EQ(CMDeleteInstance(&object), RES_FAILED); // the owner deletes no instances
    EXPECT_EQ(CMDeleteInstance2(0x66, &object), RES_PARAMETER);
    EXPECT_EQ(CMUnregisterInstance(&object), RES_OK);
    EXPECT_EQ(CMUnregisterInstance(&object), RES_FAILED);
    EXPECT_EQ(CMDeleteInstance(&object), RES_PARAMETER);
}

// An instance object whose fifth pointer-sized field is its class query.
struct FakeInstance {
    void* fields[4];
    void* (*query)(void* instance, RTS_UI32 classId, RTS_RESULT* pResult);
    RTS_UI32 supported;
};

void* fake_query(void* instance, RTS_UI32 classId, RTS_RESULT*) {
    auto* self = static_cast<FakeInstance*>(instance);
    return classId == self->supported ? &self->supported : nullptr;
}

TEST_F(CMHooks, InstanceListHoldsTheInterfacesOfSupportingInstancesAndExitFreesTheRegistry) {
    FakeInstance a{{}, fake_query, 0x77}, b{{}, fake_query, 0x88}, c{{}, fake_query, 0x77};
    for (FakeInstance* f : {&a, &b, &c}) ASSERT_EQ(CMRegisterInstance(0x55, 1, f), RES_OK);
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 1, sizeof(void*), &r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(CMGetInstanceList(0x77, pool), RES_OK);
    std::vector<void*> found;
    while (void* block = MemPoolGetFirstBlock(pool, &r)) {
        found.push_back(*static_cast<void**>(block));
        MemPoolRemoveUsedBlock(block);
        MemPoolPutBlock(block);
    }
    EXPECT_EQ(found, (std::vector<void*>{&c.supported, &a.supported}));
    MemPoolDelete(pool, "Test");
    CMExit();
    EXPECT_EQ(testlog::count_starting("**** Pool leak"), 0);
}

} // namespace
