// Configurable components for manager tests: each slot is a component "TestCmp<n>" with its own
// entry, export, import, hook and create-instance functions, whose behaviour a test sets and
// whose calls it records; a fixture that starts the manager with them and cleans up after; and
// small versions of the optional services the manager imports by name, in one export table for
// a test component: an event service that records what is created, posted and deleted and
// answers the manager's queries, the output functions, a target description with a resolver,
// and a task service with event objects on std::thread.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "cm.h"
#include "cmplog.h"
#include "events.h"
#include "log_reader.h"

namespace testcmp {

constexpr int kSlots = 8;

struct Config {
    RTS_UI32 id = 0;
    bool system = false; // listed with a nonzero flag
    RTS_RESULT entryResult = RES_OK;
    RTS_RESULT importResult = RES_OK; // anything else: an import function answers it
    const CMExportEntry* exports = nullptr;
    int caseInsensitive = 0;
    std::function<void(ComponentInitRecord*)> onEntry; // runs inside a successful entry
    std::function<void()> onExport;                    // runs inside every lookup that reaches it
    std::function<RTS_RESULT(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2)> onHook;
    int entryCalls = 0;
};

// One delivered hook: which slot got it, the hook, and whether a thread other than the test's
// delivered it; the threads a test asks about.
struct Call {
    int slot;
    RTS_UI32 hook;
    bool onTask;
};
enum class On { AnyThread, TestThread, Task };

Config& slot(int n);
PF_COMPONENT_ENTRY entry(int n);
// Every hook delivered to any slot so far, in order; safe while tasks deliver.
std::vector<Call> calls();
void clear_calls();
// Hooks delivered to one slot, in order, leaving out the broadcasts.
std::vector<RTS_UI32> hooks_of(int n, On on = On::AnyThread);
// The slots called, in order: with every hook, or with the one given.
std::vector<int> slots_called(RTS_UI32 hook = 0);
// Adds a record that has nothing but a name and a state, as a caller of CMAddComponent may.
RTS_HANDLE add_record(const char* name, RTS_UI16 state = CM_STATE_REGISTERED);

// The hooks a component gets over a whole run, in order.
extern const std::vector<RTS_UI32> kWholeRun;

// A component list: the program's own list first when asked, then the slots.
std::vector<StaticComponent> list(std::initializer_list<int> slots, bool program = false);
// Makes a slot answer one hook with the result (and every other hook with RES_OK).
void answer(int n, RTS_UI32 hook, RTS_RESULT result);
// Makes a slot a system component exporting the test services: listed with a nonzero flag, it
// is registered before the manager imports its optional services.
void provide(int n);
// Starts the manager with the slots listed (and the test's configuration file, once set).
RTS_RESULT init(std::initializer_list<int> slots, RTS_UI32 flags = CM_INIT_NO_CONFIG_REQUIRED);
// The record of a listed slot, or null.
ComponentRecord* record(int n);
// A host loader that knows "TestCmp<n>" and, after them, the program's own components.
RTS_RESULT loader(const char* name, RTS_UINTPTR reserved, RTS_HANDLE* pModule, PF_COMPONENT_ENTRY* pEntry);
// A setting of the test, kept in a configuration file of its own that init() hands to the
// manager from then on; reset() removes the file.
void set(const char* section, const char* key, const char* value);
// Slots, calls, log, settings, the host loader and the test services back to their defaults.
void reset();

// Resets before each test; after it, shuts a manager that still runs down and checks that no
// task is left.
class Test : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override;
    // Starts the manager with the slots, then empties the call record and the log.
    void start(std::initializer_list<int> slots, RTS_UI32 flags = CM_INIT_NO_CONFIG_REQUIRED);
};

} // namespace testcmp

namespace testsvc {

// A callback registered for an event.
struct Listener {
    RTS_UI32 eventId;
    PF_EVENT_CALLBACK callback;
    void* user;
    bool operator==(const Listener&) const = default;
};
// What the event, output and target services saw, and how they answer.
struct Events {
    std::vector<Listener> listeners;       // called, in order, by every post of their event
    std::vector<RTS_UI32> created, posted; // event ids
    int deleted = 0;
    int moreCycles = 0;               // listeners of 0x00010007 ask for this many more cycles
    bool disables = false;            // listeners of 0x00010006 answer: operation 7 is disabled
    RTS_RESULT createResult = RES_OK; // what EventCreate reports
    std::string printed;              // what SysOutPrintf or SysOutVPrintf printed last
};
// The task service: tasks created and not yet ended, the milliseconds of the last
// SysTaskWaitSleep (0: none yet), and a limit on event waits (0: none), which then give up as
// if they had waited.
// It also counts the suspensions and the timers stopped; its one timer runs timerTask (none
// when null).
struct Tasks {
    std::atomic<int> live{0};
    std::atomic<RTS_UI32> lastSleepMs{0}, waitLimitMs{0};
    std::atomic<int> suspended{0}, timersStopped{0};
    RTS_HANDLE timerTask = nullptr;
};
inline Events events;
inline Tasks tasks;
// Both back to their defaults (the live tasks stay counted).
void reset();
// Runs the body on a task of the service with the task flags given, and waits for its end.
void on_task(const std::function<void()>& body, RTS_UI32 flags = 0);

// EventCreate, EventOpen, EventPost2, EventDelete, Event(Un)RegisterCallbackFunction,
// SysOutPrintf, SysOutVPrintf, SysTargetGetDeviceName ("Test Dévice"),
// SysTargetGetOperatingSystemId (5), SysTargetGetProcessorId (16, a processor without a name),
// SysTargetGetAPI, SysTask*, SysTimer* and SysEvent*, and "RefusedButExported". The resolver
// answers names beginning with "Resolved" with resolved() and refuses names beginning with
// "Refused".
const CMExportEntry* exports();
RTS_VOID_FCTPTR resolved();

} // namespace testsvc
