// Lookups by name across the components' export tables: failures and their log line, name
// length, overloading, signature and version checks, case rules, queries and run-time loading.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cmpsettings.h"
#include "cmutils.h"
#include "test_components.h"

namespace {

using testcmp::slot;

RTS_RESULT one() {
    return 1;
}
RTS_RESULT two() {
    return 2;
}
RTS_RESULT three() {
    return 3;
}

const CMExportEntry kFirst[] = {
    {reinterpret_cast<RTS_VOID_FCTPTR>(one), "TestShared", 0x12345679u, 0x03050000u},
    {reinterpret_cast<RTS_VOID_FCTPTR>(three), "testlower", 0, 0},
    {nullptr, nullptr, 0, 0}};
const CMExportEntry kSecond[] = {
    {reinterpret_cast<RTS_VOID_FCTPTR>(two), "TestShared", 0x12345679u, 0x03050000u},
    {reinterpret_cast<RTS_VOID_FCTPTR>(two), "Thing_CEXT", 0, 0},
    {nullptr, nullptr, 0, 0}};

class CMApi : public ::testing::Test {
protected:
    void SetUp() override {
        testcmp::reset();
        slot(0).exports = kFirst;
        slot(0).caseInsensitive = 1;
        slot(1).exports = kSecond;
    }
    void start() {
        ASSERT_EQ(CMInit2(nullptr, list_, 1), RES_OK);
        LogEarlyBufferClear();
    }
    void TearDown() override {
        CMExit();
        SettgRemoveKey("ComponentManager", "OverloadableFunctions");
    }
    const StaticComponent list_[3] = {
        {"TestCmp0", testcmp::entry(0), 0}, {"TestCmp1", testcmp::entry(1), 0}, {nullptr, nullptr, 0}};
};

RTS_RESULT call(RTS_VOID_FCTPTR f) {
    return reinterpret_cast<RTS_RESULT (*)()>(f)();
}

TEST_F(CMApi, MissingNameFailsAndLogsUnlessOptional) {
    start();
    RTS_VOID_FCTPTR f = reinterpret_cast<RTS_VOID_FCTPTR>(one);
    EXPECT_EQ(CMGetAPI("x", &f, 0), RES_FAILED);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(testlog::lines(22), std::vector<std::string>{"Failed to resolve <name>x</name>"});
    EXPECT_EQ(CMGetAPI2("x", &f, CM_IMPORT_OPTIONAL, 0, 0), RES_FAILED);
    EXPECT_EQ(testlog::lines(22).size(), 1u);
}

TEST_F(CMApi, NamesOfSixtyFourCharactersAreRefusedWithoutLog) {
    start();
    RTS_VOID_FCTPTR f;
    EXPECT_EQ(CMGetAPI(std::string(63, 'a').c_str(), &f, 0), RES_FAILED);
    EXPECT_EQ(CMGetAPI(std::string(64, 'a').c_str(), &f, 0), RES_BUFFERSIZE);
    EXPECT_EQ(testlog::lines(22).size(), 1u);
    EXPECT_EQ(CMGetAPI(nullptr, &f, 0), RES_PARAMETER);
}

TEST_F(CMApi, LaterComponentWinsWhenOverloadableElseFirst) {
    for (int setting : {1, 0}) {
        SettgSetIntValue("ComponentManager", "OverloadableFunctions", setting, 10);
        start();
        RTS_VOID_FCTPTR f = nullptr;
        ASSERT_EQ(CMGetAPI("TestShared", &f, 0), RES_OK);
        EXPECT_EQ(call(f), setting == 1 ? 2u : 1u);
        CMExit();
    }
    start();
}

TEST_F(CMApi, LoadableCModulesExportOnlyExtensionNamesToControlLanguageLookups) {
    start();
    RTS_RESULT r;
    static_cast<ComponentRecord*>(CMGetComponentByName("TestCmp1", &r))->flags |= CM_FLAG_CMODULE;
    RTS_VOID_FCTPTR f = nullptr;
    ASSERT_EQ(CMGetAPI("TestShared", &f, 0), RES_OK);
    EXPECT_EQ(call(f), 1u);
    EXPECT_EQ(CMGetAPI2("Thing_CEXT", &f, CM_IMPORT_OPTIONAL, 0, 0), RES_FAILED);
    ASSERT_EQ(CMGetAPI2("Thing_CEXT", &f, CM_IMPORT_OPTIONAL | CM_IMPORT_CASE_INSENSITIVE, 0, 0), RES_OK);
    EXPECT_EQ(call(f), 2u);
}

TEST_F(CMApi, SignatureAndVersionRules) {
    start();
    struct Case {
        RTS_UI32 signature, version;
        RTS_RESULT expected;
    };
    const Case cases[] = {
        {0, 0, RES_OK},
        {0x12345679u, 0, RES_OK},
        {0x12345678u, 0, RES_SIGNATUREMISMATCH},
        {0, 0x03FF0000u, RES_OK},
        {0, 0x04050000u, RES_VERSIONMISMATCH},
    };
    for (const Case& c : cases) {
        RTS_UI32 sig = c.signature, ver = c.version;
        RTS_VOID_FCTPTR f = nullptr;
        EXPECT_EQ(CMGetAPI3("TestShared", &f, CM_IMPORT_OPTIONAL, &sig, &ver), c.expected) << std::hex << sig;
        if (c.expected == RES_SIGNATUREMISMATCH) {
            EXPECT_EQ(sig, 0x12345679u);
        }
        if (c.expected == RES_VERSIONMISMATCH) {
            EXPECT_EQ(ver, 0x03050000u);
        }
        EXPECT_EQ(f != nullptr, c.expected == RES_OK);
    }
}

TEST_F(CMApi, CaseInsensitiveOnlyWithOptionAndFlaggedTable) {
    start();
    RTS_VOID_FCTPTR f = nullptr;
    EXPECT_EQ(CMGetAPI2("TESTLOWER", &f, CM_IMPORT_CASE_INSENSITIVE, 0, 0), RES_OK);
    EXPECT_EQ(call(f), 3u);
    EXPECT_EQ(CMGetAPI2("TESTLOWER", &f, 0, 0, 0), RES_FAILED);
    EXPECT_EQ(CMGetAPI2("CMUTLSTRICMP", &f, CM_IMPORT_CASE_INSENSITIVE, 0, 0), RES_OK);
    EXPECT_EQ(f, reinterpret_cast<RTS_VOID_FCTPTR>(cmutlstricmp));
    EXPECT_EQ(CMGetAPI2("CMUTLSTRICMP", &f, CM_IMPORT_OPTIONAL, 0, 0), RES_FAILED);
    EXPECT_EQ(CMGetAPI2("CMSHUTDOWN", &f, CM_IMPORT_CASE_INSENSITIVE, 0, 0), RES_OK);
    EXPECT_EQ(CMGetAPI2("CMSHUTDOWN", &f, 0, 0, 0), RES_FAILED);
}

TEST_F(CMApi, ManagerExportsItsFunctionsAndWrappers) {
    start();
    RTS_VOID_FCTPTR f = nullptr;
    ASSERT_EQ(CMGetAPI2("CMGetCoreVersion", &f, 0, 0, 0), RES_OK);
    EXPECT_EQ(f, reinterpret_cast<RTS_VOID_FCTPTR>(CMGetCoreVersion));
    RTS_UI32 sig = 0x83B57980u, ver = 0x03051100u;
    ASSERT_EQ(CMGetAPI3("cmgetcoreversion", &f, 0, &sig, &ver), RES_OK);
    CMGetCoreVersionParams params{&ver, 99};
    auto wrapper = reinterpret_cast<void (*)(CMGetCoreVersionParams*)>(f);
    wrapper(&params);
    EXPECT_EQ(params.result, RES_OK);
    EXPECT_EQ(ver, CM_CORE_VERSION);
    params.pVersion = nullptr;
    wrapper(&params);
    EXPECT_EQ(params.result, RES_PARAMETER);
    // The mismatch is reported through the signature; the components after the manager export
    // no such name, so the last noted failure is that nothing was found.
    sig = 1;
    EXPECT_EQ(CMGetAPI3("cmshutdown", &f, CM_IMPORT_OPTIONAL, &sig, nullptr), RES_FAILED);
    EXPECT_EQ(sig, 0x28C83A52u);
}

TEST_F(CMApi, ResolveInfoOnlyDuringLookup) {
    CMApiToResolve seen{};
    RTS_RESULT seenResult = RES_FAILED;
    slot(1).onExport = [&] { seenResult = CMGetAPIToResolve(&seen); };
    start();
    CMApiToResolve info{};
    EXPECT_EQ(CMGetAPIToResolve(&info), RES_NOTINITIALIZED);
    EXPECT_EQ(CMGetAPIToResolve(nullptr), RES_PARAMETER);
    RTS_VOID_FCTPTR f;
    CMGetAPI2("WhatIsAsked", &f, CM_IMPORT_OPTIONAL, 7, 0x01000000u);
    EXPECT_EQ(seenResult, RES_OK);
    EXPECT_STREQ(seen.name, "WhatIsAsked");
    EXPECT_EQ(seen.options, CM_IMPORT_OPTIONAL);
    EXPECT_EQ(seen.signatureId, 7u);
    EXPECT_EQ(seen.version, 0x01000000u);
}

TEST_F(CMApi, NameQueries) {
    start();
    char buf[32];
    EXPECT_EQ(CMGetCmpName(0x1000, buf, sizeof buf), RES_OK);
    EXPECT_STREQ(buf, "IEC");
    EXPECT_EQ(CMGetCmpName(0x1234, buf, sizeof buf), RES_OK);
    EXPECT_STREQ(buf, "IEC=0x00001234");
    EXPECT_EQ(CMGetCmpName(0, buf, sizeof buf), RES_OK);
    EXPECT_STREQ(buf, "CM");
    EXPECT_EQ(CMGetCmpName(0x13, buf, 4), RES_BUFFERSIZE);
    EXPECT_STREQ(buf, "Cmp");
    EXPECT_EQ(CMGetCmpName(0x2222, buf, sizeof buf), RES_FAILED);
    RTS_UI32 id = 0;
    EXPECT_EQ(CMGetCmpId("SysFile", &id), RES_OK);
    EXPECT_EQ(id, CMPID_SysFile);
    EXPECT_EQ(CMGetCmpId("Nope", &id), RES_FAILED);
    EXPECT_EQ(CMGetCmpId(nullptr, &id), RES_PARAMETER);
    int n = 0;
    RTS_RESULT r;
    for (ComponentRecord* c = CMGetFirstComponent(&r); c != nullptr; c = CMGetNextComponent(c, &r)) ++n;
    EXPECT_EQ(r, RES_NO_OBJECT);
    EXPECT_EQ(n, CMGetNumOfComponents());
    EXPECT_EQ(CMGetComponentByIndex(n), nullptr);
}

TEST_F(CMApi, AddRemoveAndRunTimeComponents) {
    start();
    ComponentRecord tmpl{};
    tmpl.name = "Added";
    tmpl.state = CM_STATE_REGISTERED;
    RTS_RESULT r;
    RTS_HANDLE h = CMAddComponent(&tmpl, &r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_STREQ(static_cast<ComponentRecord*>(h)->name, "Added");
    EXPECT_NE(static_cast<ComponentRecord*>(h)->name, tmpl.name);
    EXPECT_EQ(static_cast<ComponentRecord*>(h)->flags & CM_FLAG_STARTUP_IMPORT, CM_FLAG_STARTUP_IMPORT);
    EXPECT_EQ(CMAddComponent(&tmpl, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_DUPLICATE);
    EXPECT_EQ(CMRemoveComponent(h), RES_OK);
    EXPECT_EQ(CMRemoveComponent(h), RES_PARAMETER);
    EXPECT_EQ(CMRemoveComponent(RTS_INVALID_HANDLE), RES_PARAMETER);
    EXPECT_EQ(CMInitComponent(RTS_INVALID_HANDLE), RES_PARAMETER);
    EXPECT_EQ(CMExitComponent(RTS_INVALID_HANDLE), RES_PARAMETER);
    EXPECT_EQ(CMUnloadComponent(RTS_INVALID_HANDLE), RES_PARAMETER);
    RTS_HANDLE running = CMGetComponentByName("TestCmp0", &r);
    EXPECT_EQ(CMInitComponent(running), RES_FAILED);
    EXPECT_EQ(CMUnloadComponent(running), RES_FAILED);
}

template <typename P> void call_wrapper(const char* name, P* params) {
    RTS_VOID_FCTPTR f = nullptr;
    ASSERT_EQ(CMGetAPI2(name, &f, CM_IMPORT_CASE_INSENSITIVE, 0, 0), RES_OK) << name;
    reinterpret_cast<void (*)(P*)>(f)(params);
}

TEST_F(CMApi, ControlLanguageComponentsGetIdsAndRefuseDuplicates) {
    start();
    RTS_RESULT r = RES_FAILED;
    RTS_UI32 id = 0;
    CMAddComponent2Params add2{"IecA", 0x01020304u, &id, &r, nullptr};
    call_wrapper("cmaddcomponent2", &add2);
    ASSERT_EQ(r, RES_OK);
    EXPECT_GE(id, 0x8000u);
    EXPECT_LT(id, 0x9000u);
    auto* rec = static_cast<ComponentRecord*>(add2.component);
    EXPECT_EQ(rec->id, id);
    EXPECT_EQ(rec->flags & 0xFF, CM_FLAG_IEC | CM_FLAG_DYNAMIC);
    char listing[96];
    std::snprintf(listing, sizeof listing, "IEC|Dynamic: <cmp>IecA</cmp>, <id>0x%08x</id> <ver>1.2.3.4</ver>",
                  static_cast<unsigned>(id));
    EXPECT_EQ(testlog::lines(10).back(), listing);
    RTS_UI32 again = 0;
    CMAddComponent2Params dup2{"IecA", 0, &again, &r, nullptr};
    call_wrapper("CMADDCOMPONENT2", &dup2);
    EXPECT_EQ(r, RES_DUPLICATE);
    EXPECT_EQ(again, id);
    EXPECT_EQ(dup2.component, add2.component);

    CMAddComponentParams add{"IecB", 0x4321, 0, &r, nullptr};
    call_wrapper("cmaddcomponent", &add);
    EXPECT_EQ(r, RES_OK);
    call_wrapper("cmaddcomponent", &add);
    EXPECT_EQ(r, RES_DUPLICATE);
    EXPECT_EQ(add.component, RTS_INVALID_HANDLE);

    CMComponentParams remove{add2.component, 99};
    call_wrapper("cmremovecomponent", &remove);
    EXPECT_EQ(remove.result, RES_OK);
    EXPECT_EQ(testlog::lines(10).back().rfind("[UNLOADED] IEC|Dynamic: <cmp>IecA</cmp>", 0), 0u);
    CMComponentParams none{nullptr, 99};
    call_wrapper("cminitcomponent", &none);
    EXPECT_EQ(none.result, RES_PARAMETER);

    CMShutdownParams shutdown{99};
    EXPECT_EQ(CMGetExit(), 0u);
    call_wrapper("cmshutdown", &shutdown);
    EXPECT_EQ(shutdown.result, RES_OK);
    EXPECT_EQ(CMGetExit(), 1u);
}

TEST_F(CMApi, RegistriesGrowPastTheirStaticAreas) {
    start();
    const int before = CMGetNumOfComponents();
    std::vector<RTS_HANDLE> added;
    for (int i = 0; i < 60; ++i) {
        ComponentRecord tmpl{};
        std::string name = "Extra" + std::to_string(i);
        tmpl.name = name.c_str();
        tmpl.state = CM_STATE_REGISTERED;
        RTS_RESULT r = RES_FAILED;
        added.push_back(CMAddComponent(&tmpl, &r));
        ASSERT_EQ(r, RES_OK) << i;
    }
    EXPECT_EQ(CMGetNumOfComponents(), before + 60);
    EXPECT_STREQ(CMGetComponentByIndex(before + 59)->name, "Extra59");
    for (RTS_UI32 classId = 1; classId <= 25; ++classId)
        ASSERT_NE(CMRegisterClass(slot(0).id, classId), RTS_INVALID_HANDLE);
    for (RTS_HANDLE h : added) EXPECT_EQ(CMRemoveComponent(h), RES_OK);
    EXPECT_EQ(CMGetNumOfComponents(), before);
}

RTS_RESULT slot_loader(const char* name, RTS_UINTPTR, RTS_HANDLE*, PF_COMPONENT_ENTRY* entry) {
    if (std::string(name) != "Loadable") return RES_NO_OBJECT;
    *entry = testcmp::entry(3);
    return RES_OK;
}

TEST_F(CMApi, LoadInitExitUnloadAtRunTime) {
    start();
    CMSetHostLoader(slot_loader, nullptr);
    RTS_RESULT r;
    EXPECT_EQ(CMLoadComponent("Missing", &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_NO_OBJECT);
    RTS_HANDLE h = CMLoadComponent("Loadable", &r);
    ASSERT_EQ(r, RES_OK);
    auto* rec = static_cast<ComponentRecord*>(h);
    EXPECT_EQ(rec->flags & CM_FLAG_DYNAMIC, CM_FLAG_DYNAMIC);
    EXPECT_EQ(CMLoadComponent("Loadable", &r), h);
    testcmp::calls().clear();
    EXPECT_EQ(CMInitComponent(h), RES_OK);
    EXPECT_EQ(rec->state, CM_STATE_RUNNING);
    EXPECT_EQ(testcmp::hooks_of(3),
              (std::vector<RTS_UI32>{CH_INIT, CH_INIT2, CH_PRE_INIT3, CH_INIT3, CH_INIT_SYSTEM_TASKS,
                                     CH_INIT_TASKS, CH_INIT_COMM, CH_INIT_FINISHED}));
    testcmp::calls().clear();
    EXPECT_EQ(CMExitComponent(h), RES_OK);
    EXPECT_EQ(testcmp::hooks_of(3), (std::vector<RTS_UI32>{CH_EXIT_COMM, CH_EXIT_TASKS, CH_EXIT_SYSTEM_TASKS,
                                                           CH_EXIT3, CH_EXIT2, CH_EXIT}));
    EXPECT_EQ(CMUnloadComponent(h), RES_OK);
    EXPECT_EQ(CMGetComponentByName("Loadable", &r), RTS_INVALID_HANDLE);
    CMSetHostLoader(nullptr, nullptr);
}

} // namespace
