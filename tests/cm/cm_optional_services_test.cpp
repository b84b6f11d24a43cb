// The manager with optional services present: a test component exports an event service, an
// output function and a target description, so the steps that need them run and are checked.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "test_components.h"

namespace {

using testcmp::slot;

struct EventLog {
    std::vector<RTS_UI32> created;
    std::vector<RTS_UI32> posted;
    int deleted = 0;
    int moreCycles = 0;
    std::string printed;
    bool answerDisable = false;
} g_events;

RTS_HANDLE event_create(RTS_UI32 eventId, RTS_UI32 cmpId, RTS_RESULT* pResult) {
    g_events.created.push_back(eventId);
    if (pResult != nullptr) *pResult = RES_OK;
    return reinterpret_cast<RTS_HANDLE>(static_cast<RTS_UINTPTR>(eventId));
}

RTS_RESULT event_post2(RTS_HANDLE hEvent, RTS_UI32 paramId, RTS_UI32 version, void* pParam) {
    const auto id = static_cast<RTS_UI32>(reinterpret_cast<RTS_UINTPTR>(hEvent));
    g_events.posted.push_back(id);
    if (id == 0x00010007u && g_events.moreCycles > 0) {
        --g_events.moreCycles;
        *static_cast<RTS_UI32*>(pParam) = 1;
    }
    if (id == 0x00010006u && g_events.answerDisable) {
        auto* query = static_cast<RTS_UI32*>(pParam); // operation, parameter, disabled, handled
        query[2] = query[0] == 7 ? 1 : 0;
        query[3] = 1;
    }
    return RES_OK;
}

RTS_RESULT event_delete(RTS_HANDLE) {
    ++g_events.deleted;
    return RES_OK;
}

RTS_RESULT out_printf(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_events.printed += text;
    return RES_OK;
}

RTS_RESULT device_name(RTS_WCHAR* buffer, RTS_SIZE* pLength) {
    const char16_t name[] = u"Test D\u00e9vice"; // converted to the single-byte code page
    for (size_t i = 0; i < sizeof name / sizeof name[0]; ++i) buffer[i] = name[i];
    return RES_OK;
}

RTS_RESULT os_id(RTS_UI32* id) {
    *id = 5;
    return RES_OK;
}

RTS_RESULT cpu_id(RTS_UI32* id) {
    *id = 2;
    return RES_OK;
}

RTS_RESULT resolved_function() {
    return 42;
}

// Answers lookups of "Resolved*" itself and refuses "Refused*"; everything else is left alone.
RTS_RESULT resolver(CMApiToResolve* info, RTS_VOID_FCTPTR* ppFunction) {
    std::string name(info->name);
    if (name.rfind("Resolved", 0) == 0) {
        *ppFunction = reinterpret_cast<RTS_VOID_FCTPTR>(resolved_function);
        return RES_OK;
    }
    return name.rfind("Refused", 0) == 0 ? RES_NOTSUPPORTED : RES_FAILED;
}

template <typename F> RTS_VOID_FCTPTR fn(F f) {
    return reinterpret_cast<RTS_VOID_FCTPTR>(f);
}

const CMExportEntry kServices[] = {
    {fn(event_create), "EventCreate", 0, 0},
    {fn(event_post2), "EventPost2", 0, 0},
    {fn(event_delete), "EventDelete", 0, 0},
    {fn(out_printf), "SysOutPrintf", 0, 0},
    {fn(device_name), "SysTargetGetDeviceName", 0, 0},
    {fn(os_id), "SysTargetGetOperatingSystemId", 0, 0},
    {fn(cpu_id), "SysTargetGetProcessorId", 0, 0},
    {fn(resolver), "SysTargetGetAPI", 0, 0},
    {fn(resolved_function), "RefusedButExported", 0, 0},
    {nullptr, nullptr, 0, 0},
};

class CMOptionalServices : public ::testing::Test {
protected:
    void SetUp() override {
        testcmp::reset();
        g_events = EventLog{};
        slot(0).exports = kServices;
        ASSERT_EQ(CMInit2(nullptr, list_, 1), RES_OK);
    }
    void TearDown() override {
        if (CMGetNumOfComponents() > 0) CMExit();
    }
    // A system component, so it is registered before the manager imports.
    const StaticComponent list_[3] = {
        {"TestServices", testcmp::entry(0), 1}, {"TestCmp1", testcmp::entry(1), 0}, {nullptr, nullptr, 0}};
};

TEST_F(CMOptionalServices, NineEventsAreCreatedAndDeleted) {
    std::vector<RTS_UI32> expected;
    for (RTS_UI32 id = 0x00010001u; id <= 0x00010009u; ++id) expected.push_back(id);
    EXPECT_EQ(g_events.created, expected);
    CMExit();
    EXPECT_EQ(g_events.deleted, 9);
}

TEST_F(CMOptionalServices, ExitPostsEventsAroundTheExitHooksAndDrainsCycles) {
    g_events.moreCycles = 2;
    testcmp::calls().clear();
    CMExit();
    std::vector<RTS_UI32> posted;
    for (RTS_UI32 id : g_events.posted)
        if (id != 0x00010007u) posted.push_back(id);
    EXPECT_EQ(posted,
              (std::vector<RTS_UI32>{0x00010001u, 0x00010002u, 0x00010003u, 0x00010004u, 0x00010005u}));
    const std::vector<RTS_UI32> hooks = testcmp::hooks_of(1);
    ASSERT_GE(hooks.size(), 3u);
    EXPECT_EQ(hooks[0], CH_COMM_CYCLE);
    EXPECT_EQ(hooks[1], CH_COMM_CYCLE);
    EXPECT_EQ(hooks[2], CH_EXIT_COMM);
}

TEST_F(CMOptionalServices, OperationDisablingAsksTheListeners) {
    RTS_UI32 disabled = 5;
    EXPECT_EQ(CMIsOperationDisabled(7, 0, &disabled), RES_FAILED);
    EXPECT_EQ(disabled, 0u);
    g_events.answerDisable = true;
    EXPECT_EQ(CMIsOperationDisabled(7, 0, &disabled), RES_OK);
    EXPECT_EQ(disabled, 1u);
    EXPECT_EQ(CMIsOperationDisabled(8, 0, &disabled), RES_OK);
    EXPECT_EQ(disabled, 0u);
}

TEST_F(CMOptionalServices, BannerUsesOutputAndTargetDescription) {
    EXPECT_NE(g_events.printed.find("_/"), std::string::npos);
    EXPECT_EQ(g_events.printed.front(), '\n');
    auto device = testlog::lines(4);
    ASSERT_EQ(device.size(), 2u);
    EXPECT_EQ(device[0], "Test D\xe9vice");
    EXPECT_EQ(device[1], "OS=Linux, CPU=ARM, Arch=64Bit, Coding=C");
}

TEST_F(CMOptionalServices, TargetResolverAnswersControlLanguageLookupsFirst) {
    RTS_VOID_FCTPTR f = nullptr;
    EXPECT_EQ(CMGetAPI2("ResolvedByTarget", &f, CM_IMPORT_CASE_INSENSITIVE | CM_IMPORT_OPTIONAL, 0, 0),
              RES_OK);
    EXPECT_EQ(f, reinterpret_cast<RTS_VOID_FCTPTR>(resolved_function));
    EXPECT_EQ(CMGetAPI2("RefusedButExported", &f, CM_IMPORT_CASE_INSENSITIVE | CM_IMPORT_OPTIONAL, 0, 0),
              RES_NOTSUPPORTED);
    EXPECT_EQ(f, nullptr);
    // Without the control-language option the ordinary search finds the export.
    EXPECT_EQ(CMGetAPI2("RefusedButExported", &f, CM_IMPORT_OPTIONAL, 0, 0), RES_OK);
    EXPECT_EQ(CMGetAPI2("ResolvedByTarget", &f, CM_IMPORT_OPTIONAL, 0, 0), RES_FAILED);
}

TEST(CMWithoutServices, OptionalFeaturesAreReportedUnsupported) {
    testcmp::reset();
    ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    RTS_UI32 disabled = 3;
    EXPECT_EQ(CMIsOperationDisabled(1, 0, &disabled), RES_NOTSUPPORTED);
    EXPECT_EQ(CMIsOptionSupported(CM_INIT_COMM_CYCLE_TASK), RES_NOTSUPPORTED);
    EXPECT_EQ(CMIsOptionSupported(CM_INIT_NO_CONFIG_REQUIRED), RES_OK);
    EXPECT_EQ(CMDebugOut("x"), RES_NOTSUPPORTED);
    // Optional imports never log a failed lookup.
    EXPECT_TRUE(testlog::lines(22).empty());
    CMExit();
}

} // namespace
