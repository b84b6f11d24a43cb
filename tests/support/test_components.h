// Configurable components for manager tests: each slot is a component "TestCmp<n>" with its own
// entry, export, import, hook and create-instance functions, whose behaviour a test sets and
// whose calls it records; a fixture that starts the manager with them and cleans up after.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "cm.h"
#include "cmplog.h"
#include "log_reader.h"

namespace testcmp {

constexpr int kSlots = 8;

struct Config {
    RTS_UI32 id = 0;
    bool system = false; // listed with a nonzero flag
    RTS_RESULT entryResult = RES_OK;
    bool hasImport = false;
    RTS_RESULT importResult = RES_OK;
    const CMExportEntry* exports = nullptr;
    int caseInsensitive = 0;
    std::function<void(ComponentInitRecord*)> onEntry; // runs inside a successful entry
    std::function<void()> onExport;                    // runs inside every lookup that reaches it
    std::function<RTS_RESULT(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2)> onHook;
    int entryCalls = 0;
};

// One delivered hook: which slot got it, and the hook.
struct Call {
    int slot;
    RTS_UI32 hook;
    bool operator==(const Call&) const = default;
};

Config& slot(int n);
const char* name(int n);
PF_COMPONENT_ENTRY entry(int n);
// The slot's createInstance answers the address of its Config.
void* instance_of(int n);
// Every hook delivered to any slot, in order.
std::vector<Call>& calls();
// Hooks delivered to one slot, in order, leaving out the broadcasts a test does not ask for.
std::vector<RTS_UI32> hooks_of(int n, bool withBroadcasts = false);
// The slots called, in order.
std::vector<int> slots_called();
// A component list: the program's own list first when asked, then the slots.
std::vector<StaticComponent> list(std::initializer_list<int> slots, bool program = false);
// The record of a listed slot, or null.
ComponentRecord* record(int n);
// A host loader that knows "TestCmp<n>" and, after them, the program's own components.
RTS_RESULT loader(const char* name, RTS_UINTPTR reserved, RTS_HANDLE* pModule, PF_COMPONENT_ENTRY* pEntry);
// A setting of the run; reset() removes it again.
void set(const char* section, const char* key, const char* value);
// Slots, calls, log, settings and the host loader back to their defaults.
void reset();

// Resets before each test and shuts a manager that is still running down after it.
class Test : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override;
    // Starts the manager with the slots, then empties the call record and the log.
    void start(std::initializer_list<int> slots, RTS_UI32 flags = CM_INIT_NO_CONFIG_REQUIRED);
};

} // namespace testcmp
