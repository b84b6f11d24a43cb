// Lookups by name across the components' export tables and their matching rules, the component
// queries, and components added, loaded, initialised, exited and unloaded at run time.
#include <gtest/gtest.h>

#include "test_components.h"
#include "log_reader.h"

namespace {

using testcmp::slot;
using Strings = std::vector<std::string>;

// A function as an export table holds it.
template <typename F> RTS_VOID_FCTPTR fn(F function) {
    return reinterpret_cast<RTS_VOID_FCTPTR>(function);
}

// Calls a lower-case wrapper of the manager, found the way the control-language side finds it.
template <typename P> void call_wrapper(const char* name, P* params) {
    RTS_VOID_FCTPTR f = nullptr;
    ASSERT_EQ(CMGetAPI2(name, &f, CM_IMPORT_CASE_INSENSITIVE, 0, 0), RES_OK) << name;
    reinterpret_cast<void (*)(P*)>(f)(params);
}

RTS_RESULT (*const one)() = [] { return RTS_RESULT{1}; };
RTS_RESULT (*const two)() = [] { return RTS_RESULT{2}; };

constexpr RTS_UI32 kSig = 0x12345679u, kVer = 0x03050000u;
const CMExportEntry kFirst[] = {{fn(one), "TestShared", kSig, kVer}, {fn(one), "OnlyFirst", kSig, 0}, {}};
const CMExportEntry kSecond[] = {{fn(two), "TestShared", kSig, kVer}, {fn(two), "Thing_CEXT", 0, 0}, {}};

class CMApi : public testcmp::Test {};

TEST_F(CMApi, LookupMatchingRules) {
    slot(0).exports = kFirst;
    slot(0).caseInsensitive = 1;
    slot(1).exports = kSecond;
    CMApiToResolve seen{};
    slot(1).onExport = [&seen] { CMGetAPIToResolve(&seen); };
    start({0, 1});
    EXPECT_EQ(CMGetAPIToResolve(&seen), RES_NOTINITIALIZED); // no lookup runs
    EXPECT_EQ(CMGetAPIToResolve(nullptr), RES_PARAMETER);
    const std::string name63(63, 'a'), name64(64, 'a');
    constexpr RTS_UI32 kOpt = CM_IMPORT_OPTIONAL, kCi = CM_IMPORT_CASE_INSENSITIVE;
    struct Case {
        const char* name;
        RTS_UI32 options, signature, version;
        bool cmodule; // TestCmp1 is a loadable C module
        RTS_RESULT result;
        RTS_VOID_FCTPTR found;
        RTS_UI32 signatureOut = 0, versionOut = 0; // reported back on a mismatch
    };
    const Case cases[] = {
        {"x", kOpt, 0, 0, false, RES_FAILED, nullptr},
        {name63.c_str(), kOpt, 0, 0, false, RES_FAILED, nullptr},
        {name64.c_str(), 0, 0, 0, false, RES_BUFFERSIZE, nullptr},
        {nullptr, 0, 0, 0, false, RES_PARAMETER, nullptr},
        {"TestShared", 0, 0, 0, false, RES_OK, fn(two)}, // overloadable: the last in the list wins
        {"TestShared", kOpt, 0x12345678u, 0, false, RES_SIGNATUREMISMATCH, nullptr, 0x12345679u},
        {"TestShared", 0, 0, 0x03FF0000u, false, RES_OK, fn(two)},
        {"TestShared", kOpt, 0, 0x04050000u, false, RES_VERSIONMISMATCH, nullptr, 0, 0x03050000u},
        // Only the first table is registered case-insensitive.
        {"TESTSHARED", kCi, 0, 0, false, RES_OK, fn(one)},
        {"TESTSHARED", 0, 0, 0, false, RES_FAILED, nullptr},
        // A mismatch early in the list is not the result when a later component has no match.
        {"OnlyFirst", kOpt, 1, 0, false, RES_FAILED, nullptr, kSig},
        {"TestShared", 0, 0, 0, true, RES_OK, fn(one)},
        {"Thing_CEXT", kOpt, 0, 0, true, RES_FAILED, nullptr},
        {"Thing_CEXT", kOpt | kCi, 0, 0, true, RES_OK, fn(two)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name != nullptr ? c.name : "null");
        if (c.cmodule) testcmp::record(1)->flags |= CM_FLAG_CMODULE; // these rows come last
        testlog::clear();
        RTS_VOID_FCTPTR f = fn(one);
        RTS_UI32 signature = c.signature, version = c.version;
        EXPECT_EQ(CMGetAPI3(c.name, &f, static_cast<int>(c.options), &signature, &version), c.result);
        EXPECT_EQ(signature, c.signatureOut != 0 ? c.signatureOut : c.signature);
        EXPECT_EQ(version, c.versionOut != 0 ? c.versionOut : c.version);
        const bool logged = c.result == RES_FAILED && (c.options & kOpt) == 0;
        EXPECT_EQ(testlog::lines(22),
                  logged ? Strings{"Failed to resolve <name>" + std::string(c.name) + "</name>"} : Strings{});
        if (c.result == RES_PARAMETER || c.result == RES_BUFFERSIZE) continue; // refused before any search
        EXPECT_EQ(f, c.found);
        // While the lookup runs, the export functions can see what is asked.
        EXPECT_EQ(std::make_tuple(std::string(seen.name), seen.options, seen.signatureId, seen.version),
                  std::make_tuple(std::string(c.name), c.options, c.signature, c.version));
    }
    testcmp::set("ComponentManager", "OverloadableFunctions", "0"); // from now on the first export wins
    CMExit();
    start({0, 1});
    RTS_VOID_FCTPTR f = nullptr;
    EXPECT_EQ((std::pair{CMGetAPI("TestShared", &f, 0), f}), std::pair(RES_OK, fn(one)));
}

TEST_F(CMApi, QueriesOfNamesIdsListAndOptions) {
    start({});
    const std::tuple<RTS_UI32, RTS_SIZE, RTS_RESULT, const char*> cases[] = {
        {0x1000, 32, RES_OK, "IEC"},
        {0x1234, 32, RES_OK, "IEC=0x00001234"},
        {0x13, 4, RES_BUFFERSIZE, "Cmp"},
        {0x2222, 32, RES_FAILED, ""}};
    for (const auto& [id, size, result, text] : cases) {
        char buffer[32] = "";
        EXPECT_EQ(CMGetCmpName(id, buffer, size), result) << id;
        EXPECT_STREQ(buffer, text);
    }
    RTS_UI32 id = 0;
    EXPECT_EQ((std::pair{CMGetCmpId("SysFile", &id), id}), std::pair(RES_OK, RTS_UI32{CMPID_SysFile}));
    int n = 0;
    RTS_RESULT r;
    for (ComponentRecord* c = CMGetFirstComponent(&r); c != nullptr; c = CMGetNextComponent(c, &r))
        EXPECT_EQ(c, CMGetComponentByIndex(n++));
    EXPECT_EQ(r, RES_NO_OBJECT);
    EXPECT_TRUE(CMGetComponentByIndex(n) == nullptr && CMGetComponentByIndex(-1) == nullptr);
    // Without the optional services.
    EXPECT_EQ(CMIsOperationDisabled(1, 0, nullptr), RES_NOTSUPPORTED);
    EXPECT_EQ(CMIsOptionSupported(CM_INIT_COMM_CYCLE_TASK), RES_NOTSUPPORTED);
}

TEST_F(CMApi, RunTimeCallsRefuseBadHandlesAndStates) {
    start({0});
    ComponentRecord tmpl{.name = "Added", .state = CM_STATE_REGISTERED};
    RTS_RESULT r;
    auto* added = static_cast<ComponentRecord*>(CMAddComponent(&tmpl, &r));
    ASSERT_EQ(r, RES_OK);
    EXPECT_STREQ(added->name, "Added");
    EXPECT_NE(added->name, tmpl.name); // a copy the record owns
    EXPECT_EQ(added->flags, CM_FLAG_STARTUP_IMPORT);
    RTS_UI32 id;
    ComponentRecord* running = testcmp::record(0);
    RTS_HANDLE disabled = testcmp::add_record("Off", CM_STATE_DISABLED); // an entry that failed
    const std::pair<RTS_RESULT, RTS_RESULT> cases[] = {
        {(CMAddComponent(&tmpl, &r), r), RES_DUPLICATE},
        {CMInitComponent(added), RES_OK}, // without a hook function: nothing to deliver
        {CMExitComponent(added), RES_OK},
        {CMExitComponent(disabled), RES_OK},
        {CMRemoveComponent(added), RES_OK},
        {CMRemoveComponent(added), RES_PARAMETER},
        {CMRemoveComponent(RTS_INVALID_HANDLE), RES_PARAMETER},
        {CMInitComponent(running), RES_FAILED},
        {CMUnloadComponent(running), RES_FAILED},
        {(CMAddComponent(nullptr, &r), r), RES_PARAMETER},
        {(CMLoadComponent(nullptr, &r), r), RES_PARAMETER},
        {(CMLoadComponent("Missing", &r), r), RES_FAILED},
        {CMGetCmpId(nullptr, &id), RES_PARAMETER},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << "row " << i;
}

TEST_F(CMApi, ControlLanguageComponentsGetIdsAndRefuseDuplicates) {
    start({});
    RTS_RESULT r = RES_FAILED;
    RTS_UI32 id = 0, again = 0;
    CMAddComponent2Params add2{"IecA", 0x01020304u, &id, &r, nullptr}, dup2{"IecA", 0, &again, &r, nullptr};
    call_wrapper("cmaddcomponent2", &add2);
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(static_cast<ComponentRecord*>(add2.component)->id, id);
    EXPECT_EQ(testlog::count_starting("IEC|Dynamic: <cmp>IecA</cmp>, <id>0x000080"), 1); // ids from 0x8000
    call_wrapper("CMADDCOMPONENT2", &dup2);
    EXPECT_EQ(std::make_tuple(r, again, dup2.component), std::make_tuple(RES_DUPLICATE, id, add2.component));
    CMAddComponentParams add{"IecB", 0x4321, 0, &r, nullptr};
    call_wrapper("cmaddcomponent", &add);
    EXPECT_EQ(r, RES_OK);
    call_wrapper("cmaddcomponent", &add);
    EXPECT_EQ(std::make_tuple(r, add.component), std::make_tuple(RES_DUPLICATE, RTS_INVALID_HANDLE));
    CMComponentParams remove{add2.component, 99}, none{nullptr, 99};
    call_wrapper("cmremovecomponent", &remove);
    EXPECT_EQ(remove.result, RES_OK);
    EXPECT_EQ(testlog::count_starting("[UNLOADED] IEC|Dynamic: <cmp>IecA</cmp>"), 1);
    call_wrapper("cminitcomponent", &none);
    EXPECT_EQ(none.result, RES_PARAMETER);
}

TEST_F(CMApi, RegistriesGrowPastTheirStaticAreas) {
    start({0});
    const int before = CMGetNumOfComponents();
    for (int i = 0; i < 60; ++i)
        ASSERT_NE(testcmp::add_record(("Extra" + std::to_string(i)).c_str()), RTS_INVALID_HANDLE) << i;
    for (RTS_UI32 classId = 1; classId <= 25; ++classId)
        ASSERT_NE(CMRegisterClass(slot(0).id, classId), RTS_INVALID_HANDLE);
    EXPECT_EQ(CMCreateInstance(25), &slot(0));
    for (int i = 0; i < 60; ++i) EXPECT_EQ(CMRemoveComponent(CMGetComponentByIndex(before)), RES_OK) << i;
    EXPECT_EQ(CMGetNumOfComponents(), before);
}

TEST_F(CMApi, LoadInitExitUnloadAtRunTime) {
    // Classes follow the first listed component of their id, from loading to unloading.
    slot(0).onEntry = [](ComponentInitRecord* init) { init->registerClass(0x7000, 0x30); };
    slot(3).onEntry = [](ComponentInitRecord* init) { init->registerClass(0x7003, 0x33); };
    slot(4).id = 0x7000;
    start({0});
    CMSetHostLoader(testcmp::loader, nullptr);
    RTS_RESULT r;
    slot(5).entryResult = RES_NOMEMORY;
    EXPECT_EQ((std::pair{CMLoadComponent("TestCmp5", &r), r}), std::pair(RTS_INVALID_HANDLE, RES_NOMEMORY));
    EXPECT_EQ(testlog::lines(16), Strings{"Init function failed of <cmp>TestCmp5</cmp>"});
    RTS_HANDLE h = CMLoadComponent("TestCmp3", &r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(CMLoadComponent("TestCmp3", &r), h);
    EXPECT_EQ(CMCreateInstance(0x33), &slot(3));
    EXPECT_EQ(testcmp::slots_called(CH_ON_LOAD_COMPONENT), std::vector<int>{0});
    testcmp::clear_calls();
    EXPECT_EQ(CMInitComponent(h), RES_OK);
    EXPECT_EQ(static_cast<ComponentRecord*>(h)->state, CM_STATE_RUNNING);
    EXPECT_EQ(testcmp::hooks_of(3),
              (std::vector<RTS_UI32>{CH_INIT, CH_INIT2, CH_PRE_INIT3, CH_INIT3, CH_INIT_SYSTEM_TASKS,
                                     CH_INIT_TASKS, CH_INIT_COMM, CH_INIT_FINISHED}));
    testcmp::clear_calls();
    EXPECT_EQ(CMExitComponent(h), RES_OK);
    EXPECT_EQ(testcmp::hooks_of(3),
              std::vector<RTS_UI32>(testcmp::kWholeRun.begin() + 13, testcmp::kWholeRun.begin() + 19));
    EXPECT_EQ(CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0), RES_OK); // from now on the system is in its cycle
    testlog::clear();
    EXPECT_EQ(CMUnloadComponent(h), RES_OK);
    EXPECT_EQ(testlog::lines(10),
              Strings{"[UNLOADED] Dynamic: <cmp>TestCmp3</cmp>, <id>0x00007003</id> <ver>3.5.21.10</ver>"});
    EXPECT_EQ(testcmp::record(3), nullptr);
    EXPECT_EQ(CMCreateInstance(0x33), nullptr);
    EXPECT_EQ(CMInitComponent(CMLoadComponent("TestCmp4", &r)), RES_OK); // the id of TestCmp0
    EXPECT_EQ(CMCreateInstance(0x30), &slot(0));
}

} // namespace
