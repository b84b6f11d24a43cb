// Configurable test components: a slot's functions are instantiated per slot number so the
// manager sees distinct components with plain C function pointers.
#include "test_components.h"

#include <array>
#include <utility>

namespace testcmp {

namespace {

std::array<Config, kSlots> g_slots;
std::vector<Call> g_calls;

template <int N> RTS_RESULT export_fn() {
    const Config& c = g_slots[N];
    if (c.onExport) c.onExport();
    if (c.exports == nullptr) return RES_OK;
    return CMRegisterAPI(c.exports, 0, c.caseInsensitive, c.id);
}

template <int N> RTS_RESULT import_fn() {
    ++g_slots[N].importCalls;
    return g_slots[N].importResult;
}

template <int N> RTS_RESULT hook_fn(RTS_UI32 hook, RTS_UINTPTR p1, RTS_UINTPTR p2) {
    g_calls.push_back({N, hook});
    return g_slots[N].onHook ? g_slots[N].onHook(hook, p1, p2) : RES_OK;
}

template <int N> RTS_RESULT entry_fn(ComponentInitRecord* init) {
    Config& c = g_slots[N];
    ++c.entryCalls;
    if (c.entryResult != RES_OK) return c.entryResult;
    init->cmpId = c.id;
    init->exportFunctions = export_fn<N>;
    init->importFunctions = c.hasImport ? import_fn<N> : nullptr;
    init->hookFunction = hook_fn<N>;
    init->getVersion = CMComponentVersion;
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
PF_COMPONENT_ENTRY entry(int n) {
    return kEntries[static_cast<size_t>(n)];
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

void reset() {
    for (int i = 0; i < kSlots; ++i) {
        g_slots[static_cast<size_t>(i)] = Config{};
        g_slots[static_cast<size_t>(i)].id = 0x7000u + static_cast<RTS_UI32>(i);
    }
    g_calls.clear();
    LogEarlyBufferClear();
}

} // namespace testcmp
