// Hook delivery: the resume cursor, pending and stopping answers, reverse and masked delivery,
// hooks that remove components while they are delivered, the extra communication cycle, exit
// rows, hook ranges, classes and instances, and the manager's locks.
#include <gtest/gtest.h>

#include <array>

#include "mempool.h"
#include "test_components.h"

namespace {

using testcmp::slot;

constexpr RTS_UI32 kTestHook = CH_SETTINGS_CHANGED;

class CMHooks : public testcmp::Test {
protected:
    void SetUp() override {
        testcmp::Test::SetUp();
        start({0, 1, 2});
    }
};

// The handle of a slot, or of the head of the list for -1.
RTS_UINTPTR at(int n) {
    return reinterpret_cast<RTS_UINTPTR>(n < 0 ? CMGetComponentByIndex(0) : testcmp::record(n));
}

// The ways a hook is walked over the list, and the hook each delivers: the start-up walks its
// own pass, and a broadcast goes out when a component is unloaded.
enum Walk { kForward, kReverse, kMasked, kStartUp, kBroadcast };
constexpr RTS_UI32 kHookOf[] = {kTestHook, kTestHook, kTestHook, CH_INIT_SYSTEM2, CH_ON_IMPORT_RELEASE};

RTS_RESULT deliver(Walk walk, RTS_UINTPTR* cursor) {
    if (walk == kMasked) return CMCallHook2(0, kTestHook, 0, 0);
    if (walk == kBroadcast) return CMUnloadComponent(testcmp::add_record("Unloaded"));
    return CMCallHook(kTestHook, 0, cursor, walk == kReverse);
}

TEST_F(CMHooks, DeliveryFollowsCursorPendingStopAndRemovalRules) {
    // Pending, and the three answers that stop a delivery.
    constexpr RTS_RESULT P = RES_PENDING, S75 = CM_HOOK_STOP, S81 = CM_HOOK_ACCESS_VIOLATION;
    struct Case {
        const char* label;
        Walk walk;
        int cursor, removed; // the slots the cursor names at the start and TestCmp1 removes; -1: none
        std::array<RTS_RESULT, 3> answers;
        RTS_RESULT result;
        std::vector<int> called;
    };
    const Case cases[] = {
        {"resume after the cursor", kForward, 1, -1, {}, RES_OK, {2}},
        {"pending is remembered", kForward, -1, -1, {P, RES_OK, P}, P, {0, 1, 2}},
        {"81 stops", kForward, -1, -1, {RES_OK, S81}, S81, {0, 1}},
        {"reverse never stops", kReverse, -1, -1, {RES_OK, S81}, RES_OK, {2, 1, 0}},
        {"reverse: the last one stops", kReverse, -1, -1, {RES_OK, RES_OK, S75}, S75, {2, 1, 0}},
        {"reverse resumes before the cursor", kReverse, 2, -1, {}, RES_OK, {1, 0}},
        {"masked: a stop is a failure", kMasked, -1, -1, {RES_OK, S75}, RES_FAILED, {0, 1, 2}},
        {"forward, removing itself", kForward, -1, 1, {}, RES_OK, {0, 1, 2}},
        {"forward, removing the next", kForward, -1, 2, {}, RES_OK, {0, 1}},
        {"reverse, removing itself", kReverse, -1, 1, {}, RES_OK, {2, 1, 0}},
        {"reverse, removing the next", kReverse, -1, 0, {}, RES_OK, {2, 1}},
        {"masked, removing itself", kMasked, -1, 1, {}, RES_OK, {0, 1, 2}},
        {"start-up pass, removing itself", kStartUp, -1, 1, {}, RES_OK, {0, 1, 2}},
        {"broadcast, removing itself", kBroadcast, -1, 1, {}, RES_OK, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CMExit();
        testcmp::reset();
        for (int s = 0; s < 3; ++s)
            slot(s).onHook = [at = kHookOf[c.walk], removed = s == 1 ? c.removed : -1,
                              answer = c.answers[s]](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
                if (hook == at && removed >= 0) CMRemoveComponent(testcmp::record(removed));
                return hook == at ? answer : RES_OK;
            };
        RTS_RESULT r = testcmp::init({0, 1, 2});
        RTS_UINTPTR cursor = c.cursor >= 0 ? at(c.cursor) : 0;
        if (c.walk != kStartUp) testcmp::clear_calls(), r = deliver(c.walk, &cursor);
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(testcmp::slots_called(kHookOf[c.walk]), c.called);
        // Forward the cursor names the last one called; reverse walks on to the head.
        EXPECT_TRUE(c.walk > kReverse || cursor == (c.walk == kReverse ? at(-1) : at(c.called.back())));
    }
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

TEST_F(CMHooks, ExitRowsRepeatWhilePending) {
    int rounds = 0;
    slot(1).onHook = [&](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        return hook == CH_EXIT2 && rounds++ < 2 ? RES_PENDING : RES_OK;
    };
    CMExit();
    EXPECT_EQ(rounds, 3);
}

TEST_F(CMHooks, HookTableRangesAndQueries) {
    for (auto [first, count] : {std::pair{-1, 1}, {-5, 3}, {34, 1}, {30, 10}}) {
        EXPECT_EQ(CMInitSequence(first, count), RES_PARAMETER) << first;
        EXPECT_EQ(CMExitSequence(first, count), RES_PARAMETER) << first;
    }
    EXPECT_EQ(CMInitSequence(-1, 0), RES_OK); // an empty range delivers nothing
    EXPECT_TRUE(testcmp::calls().empty());
    testcmp::answer(1, CH_INIT3, CM_HOOK_STOP); // a range answers its first failure
    EXPECT_EQ(CMInitSequence(7, 2), CM_HOOK_STOP);
    testcmp::answer(1, CH_EXIT3, CM_HOOK_STOP);
    EXPECT_EQ(CMExitSequence(16, 2), CM_HOOK_STOP);
    RTS_RESULT r = RES_OK;
    EXPECT_EQ((std::pair{CMGetHookName(9999, &r), r}),
              (std::pair<const char*, RTS_RESULT>(nullptr, RES_NO_OBJECT)));
    int count = 0;
    EXPECT_EQ((std::pair{CMGetHookEntries(CH_INIT_SYSTEM, CH_POST_INIT, &count)->hook, count}),
              std::pair(RTS_UI32{CH_INIT_SYSTEM}, 3));
    EXPECT_EQ((std::pair{CMGetHookEntries(CH_INIT, CH_INIT, &count)->hook, count}),
              std::pair(RTS_UI32{CH_INIT}, 1));
}

TEST_F(CMHooks, ClassesAndInstances) {
    RTS_HANDLE first = CMRegisterClass(slot(0).id, 0x55);
    EXPECT_EQ(CMRegisterClass(slot(1).id, 0x55), first); // one entry, owned by the last registrant
    EXPECT_EQ(CMCreateInstance(0x55), &slot(1));
    EXPECT_EQ(CMCreateInstance(0x66), nullptr);
    void* object[6] = {}; // an instance object that answers no interface
    ASSERT_EQ(CMRegisterInstance(0x55, 3, &object), RES_OK);
    EXPECT_EQ(testcmp::slots_called(CH_ON_REGISTER_INSTANCE), (std::vector<int>{0, 1, 2}));
    RTS_RESULT r = RES_FAILED;
    EXPECT_EQ((std::pair{CMGetInstance(0x55, 3, &r), r}), (std::pair<void*, RTS_RESULT>(&object, RES_OK)));
    EXPECT_EQ((std::pair{CMGetInstance(0x55, 4, &r), r}),
              (std::pair<void*, RTS_RESULT>(nullptr, RES_FAILED)));
    EXPECT_EQ(CMDeleteInstance(&object), RES_FAILED); // the owner deletes no instances
    EXPECT_EQ(CMDeleteInstance2(0x66, &object), RES_PARAMETER);
    EXPECT_EQ(CMUnregisterInstance(&object), RES_OK);
    EXPECT_EQ(testcmp::slots_called(CH_ON_UNREGISTER_INSTANCE), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(CMUnregisterInstance(&object), RES_FAILED);
    EXPECT_EQ(CMDeleteInstance(&object), RES_PARAMETER);
}

// An instance object whose fifth pointer-sized field is its class query: it supports one class.
struct FakeInstance {
    void* fields[4] = {};
    void* (*query)(void*, RTS_UI32, RTS_RESULT*) = [](void* self, RTS_UI32 classId, RTS_RESULT*) -> void* {
        auto* instance = static_cast<FakeInstance*>(self);
        return classId == instance->supported ? &instance->supported : nullptr;
    };
    RTS_UI32 supported;
};

TEST_F(CMHooks, InstanceListHoldsInterfacesOfSupportingInstancesAndExitEndsRegistriesAndLocks) {
    FakeInstance a{.supported = 0x77}, b{.supported = 0x88}, c{.supported = 0x77};
    for (FakeInstance* f : {&a, &b, &c}) ASSERT_EQ(CMRegisterInstance(0x55, 1, f), RES_OK);
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 1, sizeof(void*), nullptr);
    EXPECT_EQ(CMGetInstanceList(0x77, pool), RES_OK);
    std::vector<void*> found;
    for (void* block = MemPoolGetFirstBlock(pool, nullptr); block != nullptr;
         block = MemPoolGetNextBlock(pool, block, nullptr))
        found.push_back(*static_cast<void**>(block));
    EXPECT_EQ(found, (std::vector<void*>{&c.supported, &a.supported}));
    MemPoolDelete(pool, "Test");
    RTS_HANDLE lock = CMLockCreate(nullptr);
    EXPECT_EQ(CMLockEnter(lock), RES_OK);
    EXPECT_EQ(CMLockLeave(lock), RES_OK);
    EXPECT_EQ(CMLockEnter(RTS_INVALID_HANDLE), RES_NOTSUPPORTED);
    CMExit();
    EXPECT_EQ(testlog::count_starting("**** Pool leak: Cmp=CM,"), 0);
    EXPECT_EQ(CMLockEnter(lock), RES_NOTINITIALIZED); // locking ends with the manager
    CMLockDelete(lock);
    EXPECT_EQ(CMCallHook(kTestHook, 0, nullptr, 0), RES_FAILED);
}

} // namespace
