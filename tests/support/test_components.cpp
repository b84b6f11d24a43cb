// Configurable test components: a slot's functions are instantiated per slot number so the
// manager sees distinct components with plain C function pointers.
#include "test_components.h"

#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "cmpsettings.h"
#include "log_reader.h"
#include "scratch_settings.h"

namespace testcmp {

namespace {

std::array<Config, kSlots> g_slots;
std::mutex g_callsLock;
std::vector<Call> g_calls;
std::thread::id g_testThread;
PF_CM_REGISTER_API g_registerApi = nullptr; // as the manager hands it to every entry
std::vector<std::pair<std::string, std::string>> g_settings;
std::unique_ptr<testfw::ScratchSettings> g_scratch; // the test's configuration file, once it sets one
const char* const kNames[kSlots] = {"TestCmp0", "TestCmp1", "TestCmp2", "TestCmp3",
                                    "TestCmp4", "TestCmp5", "TestCmp6", "TestCmp7"};

// The functions of slot N, as its entry hands them to the manager.
template <int N> struct Functions {
    static RTS_RESULT import() { return g_slots[N].importResult; }
    static void* create(RTS_UI32) { return &g_slots[N]; }
    static RTS_RESULT exports() {
        const Config& c = g_slots[N];
        if (c.onExport) c.onExport();
        return c.exports != nullptr ? g_registerApi(c.exports, 0, c.caseInsensitive, c.id) : RES_OK;
    }
    static RTS_RESULT hook(RTS_UI32 hook, RTS_UINTPTR p1, RTS_UINTPTR p2) {
        {
            std::lock_guard<std::mutex> guard(g_callsLock);
            g_calls.push_back({N, hook, std::this_thread::get_id() != g_testThread});
        }
        return g_slots[N].onHook ? g_slots[N].onHook(hook, p1, p2) : RES_OK;
    }
    static RTS_RESULT entry(ComponentInitRecord* init) {
        Config& c = g_slots[N];
        ++c.entryCalls;
        g_registerApi = init->registerApi;
        if (c.entryResult != RES_OK) return c.entryResult;
        init->cmpId = c.id;
        init->exportFunctions = exports;
        init->importFunctions = c.importResult != RES_OK ? import : nullptr;
        init->hookFunction = hook;
        init->createInstance = create;
        init->getVersion = CMComponentVersion;
        if (c.onEntry) c.onEntry(init);
        return RES_OK;
    }
};

constexpr auto kEntries = []<int... N>(std::integer_sequence<int, N...>) {
    return std::array<PF_COMPONENT_ENTRY, kSlots>{Functions<N>::entry...};
}
(std::make_integer_sequence<int, kSlots>{});

} // namespace

// CMInit3 delivers the first three, CMInitEnd the next nine, the host's timer the cycle and
// CMExit the rest.
// clang-format off
const std::vector<RTS_UI32> kWholeRun = {
    CH_INIT_SYSTEM, CH_INIT_SYSTEM2, CH_INIT, CH_POST_INIT, CH_PRE_INIT2, CH_INIT2, CH_PRE_INIT3, CH_INIT3,
    CH_INIT_SYSTEM_TASKS, CH_INIT_TASKS, CH_INIT_COMM, CH_INIT_FINISHED, CH_COMM_CYCLE, CH_EXIT_COMM,
    CH_EXIT_TASKS, CH_EXIT_SYSTEM_TASKS, CH_EXIT3, CH_EXIT2, CH_EXIT, CH_EXIT_SYSTEM2, CH_EXIT_SYSTEM,
    CH_EXIT_GARBAGEMEMORY};
// clang-format on

Config& slot(int n) {
    return g_slots[static_cast<size_t>(n)];
}
PF_COMPONENT_ENTRY entry(int n) {
    return kEntries[static_cast<size_t>(n)];
}
std::vector<Call> calls() {
    std::lock_guard<std::mutex> guard(g_callsLock);
    return g_calls;
}
void clear_calls() {
    std::lock_guard<std::mutex> guard(g_callsLock);
    g_calls.clear();
}

std::vector<RTS_UI32> hooks_of(int n, On on) {
    std::vector<RTS_UI32> out;
    for (const Call& c : calls())
        if (c.slot == n && (c.hook < CH_ON_IMPORT || c.hook > CH_ON_UNREGISTER_INSTANCE) &&
            (on == On::AnyThread || c.onTask == (on == On::Task)))
            out.push_back(c.hook);
    return out;
}

std::vector<int> slots_called(RTS_UI32 hook) {
    std::vector<int> out;
    for (const Call& c : calls())
        if (hook == 0 || c.hook == hook) out.push_back(c.slot);
    return out;
}

std::vector<StaticComponent> list(std::initializer_list<int> slots, bool program) {
    std::vector<StaticComponent> out;
    for (const StaticComponent* e = StaticComponentList; program && e->name != nullptr; ++e)
        out.push_back(*e);
    for (int s : slots) out.push_back({kNames[s], entry(s), slot(s).system ? 1u : 0u});
    out.push_back({nullptr, nullptr, 0});
    return out;
}

RTS_HANDLE add_record(const char* name, RTS_UI16 state) {
    ComponentRecord tmpl{.name = name, .state = state};
    return CMAddComponent(&tmpl, nullptr);
}

void answer(int n, RTS_UI32 hook, RTS_RESULT result) {
    slot(n).onHook = [hook, result](RTS_UI32 h, RTS_UINTPTR, RTS_UINTPTR) {
        return h == hook ? result : RES_OK;
    };
}

void provide(int n) {
    slot(n).exports = testsvc::exports();
    slot(n).system = true;
}

RTS_RESULT init(std::initializer_list<int> slots, RTS_UI32 flags) {
    return CMInit3(g_scratch ? g_scratch->path().c_str() : nullptr, list(slots).data(), flags);
}

ComponentRecord* record(int n) {
    RTS_RESULT r;
    RTS_HANDLE h = CMGetComponentByName(kNames[n], &r);
    return r == RES_OK ? static_cast<ComponentRecord*>(h) : nullptr;
}

RTS_RESULT loader(const char* name, RTS_UINTPTR reserved, RTS_HANDLE* pModule, PF_COMPONENT_ENTRY* pEntry) {
    for (int n = 0; n < kSlots; ++n)
        if (std::strcmp(name, kNames[n]) == 0) return *pEntry = entry(n), RES_OK;
    return CMHostLoadComponent(name, reserved, pModule, pEntry);
}

bool settings_open() {
    char name[512];
    return SettgGetDatabaseName(name, sizeof name) != RES_NOTINITIALIZED;
}

void set(const char* section, const char* key, const char* value) {
    if (!g_scratch)
        g_scratch = std::make_unique<testfw::ScratchSettings>();
    else if (!settings_open())
        SettgSetDatabaseName(g_scratch->path().c_str());
    SettgSetStringValue(section, key, value, 0);
    g_settings.emplace_back(section, key);
}

void reset() {
    for (int i = 0; i < kSlots; ++i) {
        slot(i) = Config{};
        slot(i).id = 0x7000u + static_cast<RTS_UI32>(i);
    }
    clear_calls();
    g_testThread = std::this_thread::get_id();
    for (const auto& [section, key] : g_settings) SettgRemoveKey(section.c_str(), key.c_str());
    g_settings.clear();
    g_scratch.reset();
    CMSetHostLoader(nullptr, nullptr);
    testlog::clear();
    testsvc::reset();
}

void Test::TearDown() {
    for (Config& c : g_slots) c.onHook = nullptr; // they may refer to the test's own variables
    if (CMGetNumOfComponents() > 0) CMExit();
    EXPECT_EQ(testsvc::tasks.live, 0);
    reset();
}

void Test::start(std::initializer_list<int> slots, RTS_UI32 flags) {
    ASSERT_EQ(init(slots, flags), RES_OK);
    clear_calls();
    testlog::clear();
}

} // namespace testcmp
