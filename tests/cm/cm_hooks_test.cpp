// Hook delivery: the resume cursor, pending and stopping answers, reverse order, masked
// delivery, the extra communication cycle, hook queries, classes and instances, and locks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmpsettings.h"
#include "mempool.h"
#include "test_components.h"

namespace {

using testcmp::Call;
using testcmp::slot;

constexpr RTS_UI32 kTestHook = CH_SETTINGS_CHANGED;

class CMHooks : public ::testing::Test {
protected:
    void SetUp() override {
        testcmp::reset();
        ASSERT_EQ(CMInit2(nullptr, list_, 1), RES_OK);
        testcmp::calls().clear();
        LogEarlyBufferClear();
    }
    void TearDown() override {
        CMExit();
        SettgRemoveKey("ComponentManager", "MinimalCommCycleHookInterval");
    }
    std::vector<int> slots_called() {
        std::vector<int> out;
        for (const Call& c : testcmp::calls()) out.push_back(c.slot);
        return out;
    }
    RTS_HANDLE handle(const char* name) {
        RTS_RESULT r;
        return CMGetComponentByName(name, &r);
    }
    const StaticComponent list_[4] = {{"TestCmp0", testcmp::entry(0), 0},
                                      {"TestCmp1", testcmp::entry(1), 0},
                                      {"TestCmp2", testcmp::entry(2), 0},
                                      {nullptr, nullptr, 0}};
};

TEST_F(CMHooks, CursorResumesAfterTheNamedComponent) {
    RTS_UINTPTR cursor = reinterpret_cast<RTS_UINTPTR>(handle("TestCmp1"));
    EXPECT_EQ(CMCallHook(kTestHook, 0, &cursor, 0), RES_OK);
    EXPECT_EQ(slots_called(), std::vector<int>{2});
    EXPECT_EQ(cursor, reinterpret_cast<RTS_UINTPTR>(handle("TestCmp2")));
}

TEST_F(CMHooks, PendingIsRememberedAndEveryoneIsCalled) {
    auto pending = [](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        return hook == kTestHook ? RES_PENDING : RES_OK;
    };
    slot(0).onHook = pending;
    slot(2).onHook = pending;
    EXPECT_EQ(CMCallHook(kTestHook, 0, nullptr, 0), RES_PENDING);
    EXPECT_EQ(slots_called(), (std::vector<int>{0, 1, 2}));
}

TEST_F(CMHooks, StoppingAnswersEndTheDelivery) {
    for (RTS_RESULT stop : {CM_HOOK_STOP, CM_HOOK_ILLEGAL_INSTRUCTION, CM_HOOK_ACCESS_VIOLATION}) {
        testcmp::calls().clear();
        slot(1).onHook = [stop](RTS_UI32, RTS_UINTPTR, RTS_UINTPTR) { return stop; };
        EXPECT_EQ(CMCallHook(kTestHook, 0, nullptr, 0), stop);
        EXPECT_EQ(slots_called(), (std::vector<int>{0, 1}));
    }
}

TEST_F(CMHooks, ReverseDeliveryWalksBackAndNeverStopsEarly) {
    slot(1).onHook = [](RTS_UI32, RTS_UINTPTR, RTS_UINTPTR) { return CM_HOOK_ACCESS_VIOLATION; };
    EXPECT_EQ(CMCallHook(kTestHook, 0, nullptr, 1), RES_OK);
    EXPECT_EQ(slots_called(), (std::vector<int>{2, 1, 0}));
    testcmp::calls().clear();
    slot(2).onHook = [](RTS_UI32, RTS_UINTPTR, RTS_UINTPTR) { return CM_HOOK_STOP; };
    EXPECT_EQ(CMCallHook(kTestHook, 0, nullptr, 1), CM_HOOK_STOP);
    EXPECT_EQ(slots_called(), (std::vector<int>{2, 1, 0}));
    testcmp::calls().clear();
    RTS_UINTPTR cursor = reinterpret_cast<RTS_UINTPTR>(handle("TestCmp2"));
    CMCallHook(kTestHook, 0, &cursor, 1);
    EXPECT_EQ(slots_called(), (std::vector<int>{1, 0}));
}

TEST_F(CMHooks, FailedInitHookIsCountedLoggedAndSwitchesSafeMode) {
    slot(1).onHook = [](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        return hook == CH_INIT3 ? RES_FAILED : RES_OK;
    };
    EXPECT_EQ(CMCallHook(CH_INIT3, 0, nullptr, 0), RES_OK);
    EXPECT_EQ(testlog::lines(78),
              std::vector<std::string>{"Error: Component <cmp>TestCmp1</cmp> init (4) failed"});
    ASSERT_EQ(testlog::lines(69).size(), 1u);
    EXPECT_EQ(testlog::lines(69)[0],
              "Switch to safe mode! Initiator: <cmp>CM</cmp>, <id>0x00000001</id>");
    // Every component saw CH_SAFEMODE with the hook that was current.
    EXPECT_EQ(testcmp::hooks_of(0).back(), CH_SAFEMODE);
    EXPECT_EQ(CMSetSafeMode(1, 1), RES_ALREADY);
}

TEST_F(CMHooks, MaskedDeliveryReachesOnlyMatchingComponents) {
    ComponentRecord* rec = static_cast<ComponentRecord*>(handle("TestCmp1"));
    rec->flags |= CM_FLAG_DYNAMIC;
    EXPECT_EQ(CMCallHook2(CM_FLAG_DYNAMIC, kTestHook, 0, 0), RES_OK);
    EXPECT_EQ(slots_called(), std::vector<int>{1});
    slot(1).onHook = [](RTS_UI32, RTS_UINTPTR, RTS_UINTPTR) { return CM_HOOK_STOP; };
    EXPECT_EQ(CMCallHook2(CM_FLAG_DYNAMIC, kTestHook, 0, 0), RES_FAILED);
    EXPECT_EQ(CMGetCurrentHook(), CH_INIT_FINISHED);
}

TEST_F(CMHooks, ExtraCommCycleHonoursTheMinimalInterval) {
    EXPECT_EQ(CMCallExtraCommCycleHook(0, nullptr), RES_FAILED);
    std::vector<RTS_RESULT> extra;
    slot(0).onHook = [&extra](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        if (hook == CH_COMM_CYCLE && extra.size() < 1) extra.push_back(CMCallExtraCommCycleHook(0, nullptr));
        return RES_OK;
    };
    CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0);
    ASSERT_EQ(extra.size(), 1u);
    EXPECT_EQ(extra[0], RES_OK);
    EXPECT_EQ(slots_called(), (std::vector<int>{0, 1, 2}));
}

TEST_F(CMHooks, ExtraCommCycleDeliversWhenIntervalPassed) {
    CMExit();
    SettgSetIntValue("ComponentManager", "MinimalCommCycleHookInterval", 0, 10);
    testcmp::reset();
    ASSERT_EQ(CMInit2(nullptr, list_, 1), RES_OK);
    testcmp::calls().clear();
    RTS_RESULT nested = RES_FAILED;
    int depth = 0;
    slot(0).onHook = [&](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        if (hook == CH_COMM_CYCLE && depth++ == 0) nested = CMCallExtraCommCycleHook(0, nullptr);
        return RES_OK;
    };
    CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0);
    EXPECT_EQ(nested, RES_OK);
    // The extra cycle runs inside slot 0's hook: 0, then 0, 1, 2 of the extra, then 1, 2.
    EXPECT_EQ(slots_called(), (std::vector<int>{0, 0, 1, 2, 1, 2}));
}

TEST_F(CMHooks, ExitRowsRepeatWhilePending) {
    int rounds = 0;
    slot(1).onHook = [&rounds](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        return hook == CH_EXIT2 && ++rounds < 3 ? RES_PENDING : RES_OK;
    };
    CMExit();
    EXPECT_EQ(rounds, 3);
    testcmp::reset();
    ASSERT_EQ(CMInit2(nullptr, list_, 1), RES_OK);
}

TEST_F(CMHooks, HookNamesAndEntries) {
    RTS_RESULT r = RES_FAILED;
    EXPECT_STREQ(CMGetHookName(CH_SAFEMODE, &r), "CH_SAFEMODE");
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(CMGetHookName(9999, &r), nullptr);
    EXPECT_EQ(r, RES_NO_OBJECT);
    int count = 0;
    const CMHookEntry* e = CMGetHookEntries(CH_POST_INIT, CH_INIT_SYSTEM_TASKS, &count);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->hook, CH_POST_INIT);
    EXPECT_EQ(count, 5);
    CMGetHookEntries(CH_INIT, CH_INIT, &count);
    EXPECT_EQ(count, 1);
}

TEST_F(CMHooks, LocksWorkOnlyWhileManagerRuns) {
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE lock = CMLockCreate(&r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(CMLockEnter(lock), RES_OK);
    EXPECT_EQ(CMLockEnter(lock), RES_OK);
    EXPECT_EQ(CMLockLeave(lock), RES_OK);
    EXPECT_EQ(CMLockLeave(lock), RES_OK);
    EXPECT_EQ(CMLockEnter(RTS_INVALID_HANDLE), RES_NOTSUPPORTED);
    EXPECT_EQ(CMLockDelete(lock), RES_OK);
    EXPECT_EQ(CMLockDelete(RTS_INVALID_HANDLE), RES_OK);
    CMExit();
    EXPECT_EQ(CMLockEnter(lock), RES_NOTINITIALIZED);
    EXPECT_EQ(CMCallHook(kTestHook, 0, nullptr, 0), RES_FAILED);
    testcmp::reset();
    ASSERT_EQ(CMInit2(nullptr, list_, 1), RES_OK);
}

void* create_instance(RTS_UI32 classId) {
    return reinterpret_cast<void*>(static_cast<RTS_UINTPTR>(classId));
}

TEST_F(CMHooks, ClassesAndInstances) {
    RTS_HANDLE first = CMRegisterClass(slot(0).id, 0x55);
    RTS_HANDLE again = CMRegisterClass(slot(1).id, 0x55);
    EXPECT_EQ(first, again);
    EXPECT_EQ(static_cast<ComponentRecord*>(handle("TestCmp1"))->id, slot(1).id);
    EXPECT_EQ(CMCreateInstance(0x55), nullptr);
    static_cast<ComponentRecord*>(handle("TestCmp1"))->createInstance = create_instance;
    EXPECT_EQ(CMCreateInstance(0x55), reinterpret_cast<void*>(0x55));
    int object = 0;
    ASSERT_EQ(CMRegisterInstance(0x55, 3, &object), RES_OK);
    EXPECT_EQ(testcmp::hooks_of(2, true), std::vector<RTS_UI32>{CH_ON_REGISTER_INSTANCE});
    RTS_RESULT r = RES_FAILED;
    EXPECT_EQ(CMGetInstance(0x55, 3, &r), &object);
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(CMGetInstance(0x55, 4, &r), nullptr);
    EXPECT_EQ(r, RES_FAILED);
    EXPECT_EQ(CMDeleteInstance(&object), RES_FAILED);
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

TEST_F(CMHooks, InstanceListHoldsTheInterfacesOfSupportingInstances) {
    FakeInstance a{{}, fake_query, 0x77}, b{{}, fake_query, 0x88}, c{{}, fake_query, 0x77};
    for (FakeInstance* f : {&a, &b, &c}) ASSERT_EQ(CMRegisterInstance(0x55, 1, f), RES_OK);
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 1, sizeof(void*), &r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(CMGetInstanceList(0x77, pool), RES_OK);
    std::vector<void*> found;
    for (void* blk = MemPoolGetFirstBlock(pool, &r); blk != nullptr; blk = MemPoolGetNextBlock(pool, blk, &r))
        found.push_back(*static_cast<void**>(blk));
    EXPECT_EQ(found, (std::vector<void*>{&c.supported, &a.supported}));
    for (void* blk = MemPoolGetFirstBlock(pool, &r); blk != nullptr; blk = MemPoolGetFirstBlock(pool, &r)) {
        MemPoolRemoveUsedBlock(blk);
        MemPoolPutBlock(blk);
    }
    MemPoolDelete(pool, "Test");
    for (FakeInstance* f : {&a, &b, &c}) EXPECT_EQ(CMUnregisterInstance(f), RES_OK);
}

TEST_F(CMHooks, ShutDownLeavesNoPoolLeak) {
    CMRegisterClass(slot(0).id, 0x99);
    int object = 0;
    ASSERT_EQ(CMRegisterInstance(0x99, 1, &object), RES_OK);
    CMExit();
    for (const LogEntry& e : testlog::entries())
        EXPECT_EQ(std::string(e.InfoText).find("Pool leak"), std::string::npos) << e.InfoText;
    testcmp::reset();
    ASSERT_EQ(CMInit2(nullptr, list_, 1), RES_OK);
}

} // namespace
