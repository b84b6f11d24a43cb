// Configurable components for manager tests: each slot is a component with its own entry,
// export, import and hook functions, whose behaviour a test sets and whose calls it records.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cm.h"
#include "cmplog.h"
#include "log_reader.h"

namespace testcmp {

constexpr int kSlots = 8;

struct Config {
    RTS_UI32 id = 0;
    RTS_RESULT entryResult = RES_OK;
    bool hasImport = false;
    RTS_RESULT importResult = RES_OK;
    const CMExportEntry* exports = nullptr;
    int caseInsensitive = 0;
    std::function<void()> onExport; // runs inside every lookup that reaches this component
    std::function<RTS_RESULT(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2)> onHook;
    int entryCalls = 0;
    int importCalls = 0;
};

// One delivered hook: which slot got it, and the hook.
struct Call {
    int slot;
    RTS_UI32 hook;
    bool operator==(const Call&) const = default;
};

Config& slot(int n);
PF_COMPONENT_ENTRY entry(int n);
// Every hook delivered to any slot, in order.
std::vector<Call>& calls();
// Hooks delivered to one slot, in order, leaving out the broadcasts a test does not ask for.
std::vector<RTS_UI32> hooks_of(int n, bool withBroadcasts = false);
void reset();

} // namespace testcmp
