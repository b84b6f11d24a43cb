// Configurable test components: a slot's functions are instantiated per slot number so the
// manager sees distinct components with plain C function pointers.
#include "test_components.h"

#include <array>
#include <cstring>
#include <utility>

#include "cmpsettings.h"

namespace testcmp {

namespace {

std::array<Config, kSlots> g_slots;
std::vector<Call> g_calls;
std::vector<std::pair<std::string, std::string>> g_settings;
const char* const kNames[kSlots] = {"TestCmp0", "TestCmp1", "TestCmp2", "TestCmp3",
                                    "TestCmp4", "TestCmp5", "TestCmp6", "TestCmp7"};

template <int N> RTS_RESULT export_fn() {
    const Config& c = g_slots[N];
    if (c.onExport) c.onExport();
    if (c.exports == nullptr) return RES_OK;
    return CMRegisterAPI(c.exports, 0, c.caseInsensitive, c.id);
}

template <int N> RTS_RESULT import_fn() {
    return g_slots[N].importResult;
}

template <int N> RTS_RESULT hook_fn(RTS_UI32 hook, RTS_UINTPTR p1, RTS_UINTPTR p2) {
    g_calls.push_back({N, hook});
    return g_slots[N].onHook ? g_slots[N].onHook(hook, p1, p2) : RES_OK;
}

template <int N> void* create_fn(RTS_UI32) {
    return &g_slots[N];
}

template <int N> RTS_RESULT entry_fn(ComponentInitRecord* init) {
    Config& c = g_slots[N];
    ++c.entryCalls;
    if (c.entryResult != RES_OK) return c.entryResult;
    init->cmpId = c.id;
    init->exportFunctions = export_fn<N>;
    init->importFunctions = c.hasImport ? import_fn<N> : nullptr;
    init->hookFunction = hook_fn<N>;
    init->createInstance = create_fn<N>;
    init->getVersion = CMComponentVersion;
    if (c.onEntry) c.onEntry(init);
    return RES_OK;
}

template <int... N>
constexpr std::array<PF_COMPONENT_ENTRY, kSlots> entries(std::integer_sequence<int, N...>) {
    return {entry_fn<N>...};
}

constexpr auto kEntries = entries(std::make_integer_sequence<int, kSlots>{});

bool is_broadcast(RTS_UI32 hook) {
    return hook >= CH_ON_IMPORT && hook <= CH_ON_UNREGISTER_INSTANCE;
}

} // namespace

Config& slot(int n) {
    return g_slots[static_cast<size_t>(n)];
}
const char* name(int n) {
    return kNames[n];
}
PF_COMPONENT_ENTRY entry(int n) {
    return kEntries[static_cast<size_t>(n)];
}
void* instance_of(int n) {
    return &slot(n);
}
std::vector<Call>& calls() {
    return g_calls;
}

std::vector<RTS_UI32> hooks_of(int n, bool withBroadcasts) {
    std::vector<RTS_UI32> out;
    for (const Call& c : g_calls)
        if (c.slot == n && (withBroadcasts || !is_broadcast(c.hook))) out.push_back(c.hook);
    return out;
}

std::vector<int> slots_called() {
    std::vector<int> out;
    for (const Call& c : g_calls) out.push_back(c.slot);
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

ComponentRecord* record(int n) {
    RTS_RESULT r;
    RTS_HANDLE h = CMGetComponentByName(kNames[n], &r);
    return r == RES_OK ? static_cast<ComponentRecord*>(h) : nullptr;
}

RTS_RESULT loader(const char* name, RTS_UINTPTR reserved, RTS_HANDLE* pModule, PF_COMPONENT_ENTRY* pEntry) {
    for (int n = 0; n < kSlots; ++n) {
        if (std::strcmp(name, kNames[n]) != 0) continue;
        *pEntry = entry(n);
        return RES_OK;
    }
    return CMHostLoadComponent(name, reserved, pModule, pEntry);
}

void set(const char* section, const char* key, const char* value) {
    SettgSetStringValue(section, key, value, 0);
    g_settings.emplace_back(section, key);
}

void reset() {
    for (int i = 0; i < kSlots; ++i) {
        slot(i) = Config{};
        slot(i).id = 0x7000u + static_cast<RTS_UI32>(i);
    }
    g_calls.clear();
    for (const auto& [section, key] : g_settings) SettgRemoveKey(section.c_str(), key.c_str());
    g_settings.clear();
    CMSetHostLoader(nullptr, nullptr);
    LogEarlyBufferClear();
}

void Test::TearDown() {
    if (CMGetNumOfComponents() > 0) CMExit();
    reset();
}

void Test::start(std::initializer_list<int> slots, RTS_UI32 flags) {
    auto components = list(slots);
    ASSERT_EQ(CMInit3(nullptr, components.data(), flags), RES_OK);
    g_calls.clear();
    LogEarlyBufferClear();
}

} // namespace testcmp
