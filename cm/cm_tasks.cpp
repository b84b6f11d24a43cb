/* The manager's own tasks, run only when an optional task service is present: the
 * communication cycle task "CMCommCycleTask" and the hooks task "CMHooksTask" that delivers
 * hook ranges for the thread that asked and signals it when done. Both deliver inside an
 * exception frame: a component that faults in its hook ends the cycle (the next one runs as
 * usual) or is passed over in its range, and the fault is logged. */
#include <atomic>

#include "cm/cm_internal.h"
#include "cmplog.h"
#include "sysexcept.h"
#include "systime.h"

namespace cm {

namespace {

constexpr RTS_UI32 kTaskPriority = 128;
constexpr RTS_UI32 kRangeWaitMs = 300000;
constexpr RTS_UI32 kTaskEndTimeoutMs = 1000;
/* Exception lines of the communication cycle: the first two of one component in a row. */
constexpr RTS_UI32 kLoggedCycleExceptions = 2;
constexpr RTS_UI32 kExceptionInfoId = 3;
constexpr int kExceptionNameSize = 33;

/* The range fields belong to the caller until it posts a range and to the task until the task
 * has finished it: a caller whose wait timed out must not post the next range over a range the
 * task is still delivering. Ranges are numbered; the task reports the number it finished. */
struct HooksTask {
    RTS_HANDLE task = nullptr;
    RTS_HANDLE work = nullptr; /* set by the caller when a range is posted */
    RTS_HANDLE done = nullptr; /* set by the task when the range is delivered */
    int firstRow = 0;
    int count = 0;
    bool exitDirection = false;
    RTS_RESULT result = RES_OK;
    RTS_UI32 exceptions = 0;
    std::atomic<RTS_UI32> posted{0};
    std::atomic<RTS_UI32> finished{0};
};

HooksTask g_hooks;
RTS_HANDLE g_commCycleTask = nullptr;

bool exit_requested(SysTaskInfo* info) {
    return std::atomic_ref<RTS_UI32>(info->exitRequested).load(std::memory_order_acquire) != 0;
}

/* Logs an exception that a component raised in its hook, under the component's id. */
void log_exception(const ComponentRecord* rec, RTS_UI32 code, const char* format, const char* where) {
    char name[kExceptionNameSize];
    SysExceptConvertToString(code, name, sizeof name);
    LogAdd(nullptr, rec != nullptr ? rec->id : CMPID_CM, LOG_EXCEPTION, static_cast<RTS_RESULT>(code),
           kExceptionInfoId, format, name, where);
}

/* Delivers the posted range; a component that raises an exception in its hook counts as failed
 * and the range goes on after it. */
RTS_RESULT deliver_posted_range() {
    RangeProgress progress{g_hooks.firstRow, g_hooks.firstRow + g_hooks.count, 0, g_hooks.exitDirection,
                           true};
    for (;;) {
        SysExceptFrame frame{};
        if (SYSEXCEPT_TRY(&frame) == 0) deliver_rows(progress);
        if (SysExceptCatch(&frame) != 0) return progress.result;
        ++g_hooks.exceptions;
        const RTS_UI32 hook = hook_at_row(progress.row);
        auto* rec = reinterpret_cast<ComponentRecord*>(progress.cursor);
        log_exception(rec, frame.code, "*HANDLED EXCPT* <excpt>%s</excpt> in %s",
                      CMGetHookName(hook, nullptr));
        if (rec != nullptr)
            count_failed_init(*rec, hook);
        else
            ++progress.row; // raised before any component: the row is given up
    }
}

void hooks_task(SysTaskInfo* info) {
    imports.SysTaskEnter(info->hTask);
    while (!exit_requested(info)) {
        if (imports.SysEventWait(g_hooks.work, kRangeWaitMs) != RES_OK || exit_requested(info)) continue;
        const RTS_UI32 range = g_hooks.posted.load(std::memory_order_acquire);
        if (range == g_hooks.finished.load(std::memory_order_relaxed)) continue;
        g_hooks.result = deliver_posted_range();
        g_hooks.finished.store(range, std::memory_order_release);
        imports.SysEventSet(g_hooks.done);
    }
    imports.SysTaskLeave(info->hTask);
    imports.SysTaskEnd(info->hTask, 0);
}

bool create_hooks_task() {
    g_hooks.posted = 0;
    g_hooks.finished = 0;
    g_hooks.work = imports.SysEventCreate(nullptr, nullptr);
    g_hooks.done = imports.SysEventCreate(nullptr, nullptr);
    if (g_hooks.work != RTS_INVALID_HANDLE && g_hooks.done != RTS_INVALID_HANDLE) {
        g_hooks.task = imports.SysTaskCreate("CMHooksTask", hooks_task, nullptr, kTaskPriority, nullptr);
        if (g_hooks.task != RTS_INVALID_HANDLE && g_hooks.task != nullptr) {
            imports.SysTaskResume(g_hooks.task);
            return true;
        }
    }
    g_hooks.task = nullptr;
    stop_hooks_task();
    return false;
}

/* The component that raised the last exception in the communication cycle, and how many it
 * raised in a row. */
struct CycleExceptions {
    const ComponentRecord* raiser = nullptr;
    RTS_UI32 count = 0;
};

void count_cycle_exception(CycleExceptions& seen, const ComponentRecord* rec, RTS_UI32 code) {
    if (rec != seen.raiser) seen = {rec, 0};
    ++seen.count;
    if (seen.count <= kLoggedCycleExceptions)
        log_exception(rec, code, "*HANDLED EXCPT* <excpt>%s</excpt> in %s", "CH_COMM_CYCLE");
    else if (seen.count == kLoggedCycleExceptions + 1)
        LogAdd(nullptr, rec != nullptr ? rec->id : CMPID_CM, LOG_EXCEPTION, static_cast<RTS_RESULT>(code),
               kExceptionInfoId, "More than %ld exceptions in CH_COMM_CYCLE: Stop logging",
               static_cast<long>(kLoggedCycleExceptions));
}

/* One pass of CH_COMM_CYCLE over the running components, as the task delivers it; an exception
 * in a hook ends the pass. */
void comm_cycle_step(CycleExceptions& seen) {
    RTS_UINTPTR cursor = 0;
    SysExceptFrame frame{};
    if (SYSEXCEPT_TRY(&frame) == 0) {
        g.lastCommCycle = SysTimeGetMs();
        call_host(CH_COMM_CYCLE, 0, reinterpret_cast<RTS_UINTPTR>(&cursor));
        g.currentHook = CH_COMM_CYCLE;
        ListWalk walk(first_node(), next_of);
        while (ComponentNode* n = walk.next()) {
            if (!eligible(n->rec, CH_COMM_CYCLE)) continue;
            cursor = reinterpret_cast<RTS_UINTPTR>(&n->rec);
            if (is_stop_result(n->rec.hookFunction(CH_COMM_CYCLE, 0, reinterpret_cast<RTS_UINTPTR>(&cursor))))
                break;
        }
    }
    if (SysExceptCatch(&frame) == 0)
        count_cycle_exception(seen, reinterpret_cast<const ComponentRecord*>(cursor), frame.code);
    g.lastHook = CH_COMM_CYCLE;
}

void comm_cycle_task(SysTaskInfo* info) {
    CycleExceptions seen;
    imports.SysTaskEnter(info->hTask);
    while (!exit_requested(info)) {
        comm_cycle_step(seen);
        imports.SysTaskWaitSleep(info->hTask, static_cast<RTS_UI32>(g.commCycleInterval));
    }
    imports.SysTaskLeave(info->hTask);
    imports.SysTaskEnd(info->hTask, 0);
}

/* Waits until the task has finished the numbered range; false when a wait times out. A signal
 * left over from a range whose caller gave up is passed over. */
bool wait_for_range(RTS_UI32 range) {
    while (g_hooks.finished.load(std::memory_order_acquire) != range)
        if (imports.SysEventWait(g_hooks.done, kRangeWaitMs) != RES_OK) return false;
    return true;
}

void delete_event(RTS_HANDLE& event) {
    if (event != nullptr && event != RTS_INVALID_HANDLE) imports.SysEventDelete(event);
    event = nullptr;
}

} // namespace

RTS_RESULT run_range_on_hooks_task(int firstRow, int count, bool exitDirection) {
    if (g_hooks.task == nullptr && !create_hooks_task())
        return exitDirection ? deliver_exit_rows(firstRow, count) : deliver_init_rows(firstRow, count);
    if (!wait_for_range(g_hooks.posted.load(std::memory_order_relaxed))) return RES_BUSY;
    g_hooks.firstRow = firstRow;
    g_hooks.count = count;
    g_hooks.exitDirection = exitDirection;
    const RTS_UI32 range = g_hooks.posted.load(std::memory_order_relaxed) + 1;
    g_hooks.posted.store(range, std::memory_order_release);
    imports.SysEventSet(g_hooks.work);
    return wait_for_range(range) ? g_hooks.result : RES_TIMEOUT;
}

void stop_hooks_task() {
    bool ended = true;
    if (g_hooks.task != nullptr) {
        imports.SysTaskSetExit(g_hooks.task);
        imports.SysEventSet(g_hooks.work);
        ended = imports.SysTaskExit(g_hooks.task, kTaskEndTimeoutMs) == RES_OK;
        g_hooks.task = nullptr;
    }
    if (!ended) return; // a task still in a range keeps its events rather than signal freed ones
    delete_event(g_hooks.work);
    delete_event(g_hooks.done);
}

void start_comm_cycle_task() {
    if (g_commCycleTask != nullptr) return;
    RTS_HANDLE task =
        imports.SysTaskCreate("CMCommCycleTask", comm_cycle_task, nullptr, kTaskPriority, nullptr);
    if (task == nullptr || task == RTS_INVALID_HANDLE) return;
    g_commCycleTask = task;
    imports.SysTaskResume(task);
}

void stop_comm_cycle_task() {
    if (g_commCycleTask == nullptr) return;
    imports.SysTaskSetExit(g_commCycleTask);
    imports.SysTaskExit(g_commCycleTask, kTaskEndTimeoutMs);
    g_commCycleTask = nullptr;
}

} // namespace cm
