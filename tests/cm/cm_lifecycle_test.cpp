// Start-up and shut-down of the manager with the program's own list: the order of the hooks,
// the components unloaded last, the listing and banner in the log, and the start-up edge cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cm/cmchecks_internal.h"
#include "cmpsettings.h"
#include "test_components.h"

namespace {

using testcmp::slot;

// The program's list followed by the given test slots.
std::vector<StaticComponent> program_list_with(std::initializer_list<int> slots) {
    std::vector<StaticComponent> list;
    for (const StaticComponent* e = StaticComponentList; e->name != nullptr; ++e) list.push_back(*e);
    static const char* const names[] = {"TestCmp0", "TestCmp1", "TestCmp2", "TestCmp3",
                                        "TestCmp4", "TestCmp5", "TestCmp6", "TestCmp7"};
    for (int s : slots) list.push_back({names[s], testcmp::entry(s), 0});
    list.push_back({nullptr, nullptr, 0});
    return list;
}

class CMLifecycle : public ::testing::Test {
protected:
    void SetUp() override { testcmp::reset(); }
    void TearDown() override {
        if (CMGetNumOfComponents() > 0) CMExit();
        CMSetHostLoader(nullptr, nullptr);
        for (const char* key : {"Component.0", "Component.1", "Component.2", "Component.3"})
            SettgRemoveKey("ComponentManager", key);
    }
};

const std::vector<RTS_UI32> kWholeRun = {CH_INIT_SYSTEM,
                                         CH_INIT_SYSTEM2,
                                         CH_INIT,
                                         CH_POST_INIT,
                                         CH_PRE_INIT2,
                                         CH_INIT2,
                                         CH_PRE_INIT3,
                                         CH_INIT3,
                                         CH_INIT_SYSTEM_TASKS,
                                         CH_INIT_TASKS,
                                         CH_INIT_COMM,
                                         CH_INIT_FINISHED,
                                         CH_COMM_CYCLE,
                                         CH_EXIT_COMM,
                                         CH_EXIT_TASKS,
                                         CH_EXIT_SYSTEM_TASKS,
                                         CH_EXIT3,
                                         CH_EXIT2,
                                         CH_EXIT,
                                         CH_EXIT_SYSTEM2,
                                         CH_EXIT_SYSTEM,
                                         CH_EXIT_GARBAGEMEMORY};

TEST_F(CMLifecycle, WholeRunDeliversEveryHookInOrder) {
    // An id the manager keeps to the end, so the recorder also sees CH_EXIT_GARBAGEMEMORY.
    slot(0).id = 0x10B;
    auto list = program_list_with({0});
    ASSERT_EQ(CMInit2(nullptr, list.data(), 1), RES_OK);
    EXPECT_EQ(CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0), RES_OK);
    EXPECT_EQ(CMExit(), RES_OK);
    EXPECT_EQ(testcmp::hooks_of(0), kWholeRun);
    EXPECT_EQ(CMGetNumOfComponents(), 0);
}

TEST_F(CMLifecycle, ManagerLoggingAndPoolsAreUnloadedLastAfterGarbageMemory) {
    std::vector<std::pair<RTS_UI32, std::string>> seen;
    auto record = [](RTS_UI32 hook, RTS_UINTPTR p1, RTS_UINTPTR, RTS_UINTPTR user) -> RTS_RESULT {
        auto* out = reinterpret_cast<std::vector<std::pair<RTS_UI32, std::string>>*>(user);
        out->emplace_back(hook, hook == CH_ON_IMPORT_RELEASE ? reinterpret_cast<const char*>(p1) : "");
        return RES_OK;
    };
    ASSERT_EQ(CMInit4(nullptr, StaticComponentList, 1, record, reinterpret_cast<RTS_UINTPTR>(&seen)), RES_OK);
    seen.clear();
    CMExit();
    auto garbage =
        std::find_if(seen.begin(), seen.end(), [](auto& s) { return s.first == CH_EXIT_GARBAGEMEMORY; });
    ASSERT_NE(garbage, seen.end());
    std::vector<std::string> before, after;
    for (auto it = seen.begin(); it != seen.end(); ++it)
        if (it->first == CH_ON_IMPORT_RELEASE) (it < garbage ? before : after).push_back(it->second);
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, (std::vector<std::string>{"CM", "CmpLog", "CmpMemPool", "SysCpuHandling", "SysMem"}));
    EXPECT_EQ(before.size(), 10u);
    EXPECT_EQ(CMGetNumOfComponents(), 0);
}

TEST_F(CMLifecycle, LogHoldsListingInFourGroupsAndBanner) {
    auto list = program_list_with({0});
    ASSERT_EQ(CMInit2(nullptr, list.data(), 1), RES_OK);
    auto listing = testlog::lines(10);
    ASSERT_EQ(listing.size(), 16u);
    // Core and system components first (static|system), then the static non-system ones.
    EXPECT_EQ(listing[0], "System: <cmp>CM</cmp>, <id>0x00000001</id> <ver>3.5.21.10</ver>");
    EXPECT_EQ(listing[1], "System: <cmp>CmpMemPool</cmp>, <id>0x0000001e</id> <ver>3.5.21.10</ver>");
    EXPECT_EQ(listing[13], "<cmp>CmpChecksum</cmp>, <id>0x0000000b</id> <ver>3.5.21.10</ver>");
    EXPECT_EQ(listing[15], "<cmp>TestCmp0</cmp>, <id>0x00007000</id> <ver>3.5.21.10</ver>");
    for (size_t i = 0; i < 11; ++i) EXPECT_EQ(listing[i].rfind("System: ", 0), 0u) << listing[i];
    auto rules = testlog::lines(0);
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[0], std::string(73, '='));
    auto device = testlog::lines(4);
    ASSERT_EQ(device.size(), 2u);
    EXPECT_EQ(device[0], "KELVARO Control V3");
    EXPECT_EQ(device[1], "OS=---, CPU=---, Arch=64Bit, Coding=C");
    EXPECT_EQ(testlog::lines(6),
              std::vector<std::string>{"<version>3.5.21.10</version> <builddate>May 20 2025</builddate>"});
    EXPECT_EQ(testlog::lines(34), std::vector<std::string>{"KELVARO Control ready"});
    CMExit();
    EXPECT_EQ(testlog::lines(35), std::vector<std::string>{"KELVARO Control shutdown..."});
    EXPECT_EQ(testlog::lines(36), std::vector<std::string>{"KELVARO Control shutdown done"});
}

TEST_F(CMLifecycle, ListsWithoutComponentsRegisterOnlyTheCore) {
    const StaticComponent empty[] = {
        {"", testcmp::entry(0), 0}, {"TestCmp1", testcmp::entry(1), 0}, {nullptr, nullptr, 0}};
    for (const StaticComponent* list : {static_cast<const StaticComponent*>(nullptr), empty}) {
        testcmp::reset();
        ASSERT_EQ(CMInit2(nullptr, list, 1), RES_OK);
        EXPECT_EQ(CMGetNumOfComponents(), 5);
        EXPECT_EQ(slot(1).entryCalls, 0);
        CMExit();
    }
}

TEST_F(CMLifecycle, EmbeddedVariantStandsInForCoreComponentOnce) {
    const StaticComponent list[] = {{"CmpLogEmbedded", testcmp::entry(0), 0}, {nullptr, nullptr, 0}};
    ASSERT_EQ(CMInit2(nullptr, list, 1), RES_OK);
    EXPECT_EQ(slot(0).entryCalls, 1);
    int logs = 0;
    for (int i = 0; i < CMGetNumOfComponents(); ++i) {
        const char* name = CMGetComponentByIndex(i)->name;
        logs += std::strncmp(name, "CmpLog", 6) == 0;
    }
    EXPECT_EQ(logs, 1);
    RTS_UI32 id = 0;
    EXPECT_EQ(CMGetCmpId("CmpLog", &id), RES_OK);
    EXPECT_EQ(id, slot(0).id);
}

TEST_F(CMLifecycle, UnknownNameWithoutEntryIsSkipped) {
    const StaticComponent list[] = {
        {"NoSuchComponent", nullptr, 0}, {"TestCmp0", testcmp::entry(0), 0}, {nullptr, nullptr, 0}};
    EXPECT_EQ(CMInit2(nullptr, list, 1), RES_OK);
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(CMGetComponentByName("NoSuchComponent", &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_FAILED);
    EXPECT_EQ(testcmp::hooks_of(0).front(), CH_INIT_SYSTEM);
}

TEST_F(CMLifecycle, FailedEntryDisablesWithoutCountingAsFailedInit) {
    slot(0).entryResult = RES_FAILED;
    const StaticComponent list[] = {{"TestCmp0", testcmp::entry(0), 0}, {nullptr, nullptr, 0}};
    EXPECT_EQ(CMInit2(nullptr, list, 1), RES_FAILED);
    EXPECT_TRUE(testcmp::hooks_of(0).empty());
    EXPECT_TRUE(testlog::lines(78).empty());
    EXPECT_TRUE(testlog::lines(69).empty());
    EXPECT_EQ(CMGetComponentByIndex(CMGetNumOfComponents() - 1)->state, CM_STATE_DISABLED);
}

TEST_F(CMLifecycle, FailedImportDisablesLogsEveryInitHookAndSwitchesSafeModeOnce) {
    // A system component imports right after its entry and is disabled before any hook; an
    // ordinary one imports with the last pass, after CH_INIT_SYSTEM2.
    struct Case {
        RTS_UI32 listFlags;
        std::vector<RTS_UI32> hooksSeen;
        std::vector<long> failedHooks;
        bool listedDisabled;
    };
    const Case cases[] = {
        {1, {}, {1, 8, 2, 3, 7, 4, 500, 5, 6}, true},
        {0, {CH_INIT_SYSTEM, CH_INIT_SYSTEM2}, {2, 3, 7, 4, 500, 5, 6}, false},
    };
    for (const Case& c : cases) {
        testcmp::reset();
        slot(0).hasImport = true;
        slot(0).importResult = RES_FAILED;
        const StaticComponent list[] = {{"TestCmp0", testcmp::entry(0), c.listFlags}, {nullptr, nullptr, 0}};
        CMInit2(nullptr, list, 1);
        EXPECT_EQ(testcmp::hooks_of(0), c.hooksSeen);
        std::vector<std::string> expected;
        for (long hook : c.failedHooks)
            expected.push_back("Error: Component <cmp>TestCmp0</cmp> init (" + std::to_string(hook) +
                               ") failed");
        EXPECT_EQ(testlog::lines(78), expected);
        EXPECT_EQ(testlog::lines(69).size(), 1u);
        EXPECT_EQ(testlog::lines(22).front(), "Import function(s) failed of <name>TestCmp0</name>");
        bool listedDisabled = false;
        for (const std::string& line : testlog::lines(10))
            listedDisabled |=
                line == "[DISABLED] System: <cmp>TestCmp0</cmp>, <id>0x00007000</id> <ver>3.5.21.10</ver>";
        EXPECT_EQ(listedDisabled, c.listedDisabled);
        EXPECT_EQ(CMSetSafeMode(1, 5), RES_ALREADY);
        EXPECT_EQ(testlog::lines(69).size(), 1u);
        CMExit();
    }
}

RTS_RESULT settings_loader(const char* name, RTS_UINTPTR, RTS_HANDLE*, PF_COMPONENT_ENTRY* entry) {
    static const char* const names[] = {"FromSettings1", "FromSettings2", "FromSettings3"};
    for (int i = 0; i < 3; ++i)
        if (std::strcmp(name, names[i]) == 0) {
            *entry = testcmp::entry(i + 1);
            return RES_OK;
        }
    return CMHostLoadComponent(name, 0, nullptr, entry);
}

TEST_F(CMLifecycle, ComponentsFromSettingsSkipFirstTwoGapsAndStopAtLaterGap) {
    CMSetHostLoader(settings_loader, nullptr);
    SettgSetStringValue("ComponentManager", "Component.1", "FromSettings1", 0);
    SettgSetStringValue("ComponentManager", "Component.3", "FromSettings3", 0);
    ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    EXPECT_EQ(slot(1).entryCalls, 1);
    EXPECT_EQ(slot(3).entryCalls, 0);
    // Added from the settings: CH_INIT_SYSTEM through the masked delivery, then the rest.
    EXPECT_EQ(testcmp::hooks_of(1).front(), CH_INIT_SYSTEM);
    EXPECT_EQ(testcmp::hooks_of(1).size(), 12u);
    RTS_RESULT r;
    auto* rec = static_cast<ComponentRecord*>(CMGetComponentByName("FromSettings1", &r));
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(rec->flags & (CM_FLAG_DYNAMIC | CM_FLAG_STATIC), CM_FLAG_DYNAMIC);
}

TEST_F(CMLifecycle, UnknownComponentFromSettingsIsLoggedAndOthersStart) {
    SettgSetStringValue("ComponentManager", "Component.0", "Nowhere", 0);
    EXPECT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    EXPECT_EQ(testlog::lines(12),
              std::vector<std::string>{"*** Error: Component <cmp>Nowhere</cmp> NOT loaded"});
    EXPECT_EQ(CMGetNumOfComponents(), 15);
}

TEST_F(CMLifecycle, HaltFlagDuringInitStopsBeforeRunningSystem) {
    slot(0).id = 0x10B; // kept to the end, so it also sees CH_EXIT_GARBAGEMEMORY
    slot(0).onHook = [](RTS_UI32 hook, RTS_UINTPTR p1, RTS_UINTPTR) {
        if (hook == CH_INIT) *reinterpret_cast<RTS_UI32*>(p1) = 1;
        return RES_OK;
    };
    auto list = program_list_with({0});
    EXPECT_EQ(CMInit2(nullptr, list.data(), 1), RES_OK);
    for (int i = 0; i < CMGetNumOfComponents(); ++i)
        EXPECT_EQ(CMGetComponentByIndex(i)->state, CM_STATE_INITIALIZED) << CMGetComponentByIndex(i)->name;
    EXPECT_EQ(CMGetExit(), 0u);
    testcmp::calls().clear();
    CMExit();
    EXPECT_EQ(testcmp::hooks_of(0), (std::vector<RTS_UI32>{CH_EXIT3, CH_EXIT2, CH_EXIT, CH_EXIT_SYSTEM2,
                                                           CH_EXIT_SYSTEM, CH_EXIT_GARBAGEMEMORY}));
}

TEST_F(CMLifecycle, SecondInitEndIsRefusedAndDeliversNothing) {
    auto list = program_list_with({0});
    ASSERT_EQ(CMInit2(nullptr, list.data(), 1), RES_OK);
    testcmp::calls().clear();
    EXPECT_EQ(CMInitEnd(), RES_DUPLICATE);
    EXPECT_TRUE(testcmp::calls().empty());
}

TEST_F(CMLifecycle, StopBeforeInitEndLetsCallerFinish) {
    auto list = program_list_with({0});
    ASSERT_EQ(CMInit3(nullptr, list.data(), CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_STOP_BEFORE_INIT_END),
              RES_OK);
    EXPECT_EQ(testcmp::hooks_of(0).back(), CH_INIT);
    EXPECT_EQ(CMInitEnd(), RES_OK);
    EXPECT_EQ(testcmp::hooks_of(0).back(), CH_INIT_FINISHED);
    EXPECT_EQ(CMGetComponentByIndex(0)->state, CM_STATE_RUNNING);
}

TEST_F(CMLifecycle, MissingConfigurationFailsUnlessOptional) {
    EXPECT_EQ(CMInit2(nullptr, StaticComponentList, 0), RES_FAILED);
    EXPECT_EQ(testlog::lines(3),
              std::vector<std::string>{"Cannot find configuration <file>KELVAROControl</file>"});
    CMExit();
    testcmp::reset();
    EXPECT_EQ(CMInit2("Other.cfg", StaticComponentList, 1), RES_OK);
    EXPECT_TRUE(testlog::lines(3).empty());
    CMExit();
    EXPECT_EQ(CMInit2("GWClient.cfg", StaticComponentList, 0), RES_NO_OBJECT);
    EXPECT_TRUE(testlog::lines(3).empty());
}

TEST_F(CMLifecycle, PendingHookMakesStartupPending) {
    slot(0).onHook = [](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        return hook == CH_INIT_SYSTEM2 ? RES_PENDING : RES_OK;
    };
    auto list = program_list_with({0});
    EXPECT_EQ(CMInit2(nullptr, list.data(), 1), RES_PENDING);
}

} // namespace

namespace {

RTS_I32 add_returning_old(RTS_I32* pValue, RTS_I32 nSum, RTS_RESULT* pResult) {
    RTS_I32 old = *pValue;
    *pValue += nSum;
    if (pResult != nullptr) *pResult = RES_OK;
    return old;
}

TEST_F(CMLifecycle, FailingSelfCheckStopsStartUp) {
    cmchecks::set_atomic_add(add_returning_old);
    auto list = program_list_with({0});
    EXPECT_EQ(CMInit2(nullptr, list.data(), 1), RES_FAILED);
    cmchecks::set_atomic_add(nullptr);
    EXPECT_EQ(testlog::lines(2),
              std::vector<std::string>{"RtsBasicChecks failed. Cannot start the runtime system"});
    EXPECT_EQ(testlog::lines(84),
              std::vector<std::string>{"<cmp>CMBasicChecks</cmp>: SysCpuAtomicAdd failed (0)"});
    // Nothing started: the ordinary component was never registered, no hook was delivered.
    EXPECT_EQ(slot(0).entryCalls, 0);
    EXPECT_TRUE(testcmp::calls().empty());
    RTS_RESULT r;
    EXPECT_EQ(CMGetComponentByName("TestCmp0", &r), RTS_INVALID_HANDLE);
}

} // namespace
