// Test task service: each task is a thread that starts on SysTaskResume and is joined by
// SysTaskExit; events are auto-reset flags with a condition variable.
#include "test_task_service.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "systask.h"

namespace testtask {

namespace {

struct Task {
    SysTaskInfo info{};
    PF_SYS_TASK_FUNCTION function = nullptr;
    std::string name;
    std::mutex lock;
    std::condition_variable wake;
    bool resumed = false;
    std::thread thread;
};

struct Event {
    std::mutex lock;
    std::condition_variable wake;
    bool set = false;
};

std::atomic<int> g_live{0};
std::atomic<RTS_UI32> g_lastSleep{kNoSleep};
std::atomic<RTS_UI32> g_waitLimit{0};

Task* task_of(RTS_HANDLE h) {
    return static_cast<Task*>(h);
}
Event* event_of(RTS_HANDLE h) {
    return static_cast<Event*>(h);
}

RTS_HANDLE task_create(const char* name, PF_SYS_TASK_FUNCTION function, void* param, RTS_UI32,
                       RTS_RESULT* pResult) {
    auto* t = new Task;
    t->info.hTask = t;
    t->info.param = param;
    t->function = function;
    t->name = name != nullptr ? name : "";
    t->thread = std::thread([t] {
        {
            std::unique_lock<std::mutex> guard(t->lock);
            t->wake.wait(guard, [t] { return t->resumed; });
        }
        t->function(&t->info);
    });
    ++g_live;
    if (pResult != nullptr) *pResult = RES_OK;
    return t;
}

RTS_RESULT task_resume(RTS_HANDLE h) {
    Task* t = task_of(h);
    std::lock_guard<std::mutex> guard(t->lock);
    t->resumed = true;
    t->wake.notify_all();
    return RES_OK;
}

RTS_RESULT task_nothing(RTS_HANDLE) {
    return RES_OK;
}
RTS_RESULT task_end(RTS_HANDLE, RTS_UINTPTR) {
    return RES_OK;
}

RTS_RESULT task_wait_sleep(RTS_HANDLE h, RTS_UI32 ms) {
    g_lastSleep = ms;
    Task* t = task_of(h);
    std::unique_lock<std::mutex> guard(t->lock);
    t->wake.wait_for(guard, std::chrono::milliseconds(ms),
                     [t] { return std::atomic_ref<RTS_UI32>(t->info.exitRequested).load() != 0; });
    return RES_OK;
}

RTS_RESULT task_set_exit(RTS_HANDLE h) {
    Task* t = task_of(h);
    std::lock_guard<std::mutex> guard(t->lock);
    std::atomic_ref<RTS_UI32>(t->info.exitRequested).store(1, std::memory_order_release);
    t->wake.notify_all();
    return RES_OK;
}

RTS_RESULT task_exit(RTS_HANDLE h, RTS_UI32) {
    Task* t = task_of(h);
    task_set_exit(h);
    task_resume(h);
    t->thread.join();
    delete t;
    --g_live;
    return RES_OK;
}

RTS_HANDLE event_create(const char*, RTS_RESULT* pResult) {
    if (pResult != nullptr) *pResult = RES_OK;
    return new Event;
}

RTS_RESULT event_set(RTS_HANDLE h) {
    Event* e = event_of(h);
    std::lock_guard<std::mutex> guard(e->lock);
    e->set = true;
    e->wake.notify_all();
    return RES_OK;
}

RTS_RESULT event_wait(RTS_HANDLE h, RTS_UI32 ms) {
    Event* e = event_of(h);
    std::unique_lock<std::mutex> guard(e->lock);
    const RTS_UI32 limit = g_waitLimit.load();
    if (limit != 0 && limit < ms) ms = limit;
    if (!e->wake.wait_for(guard, std::chrono::milliseconds(ms), [e] { return e->set; })) return RES_TIMEOUT;
    e->set = false;
    return RES_OK;
}

RTS_RESULT event_delete(RTS_HANDLE h) {
    delete event_of(h);
    return RES_OK;
}

template <typename F> RTS_VOID_FCTPTR fn(F f) {
    return reinterpret_cast<RTS_VOID_FCTPTR>(f);
}

const CMExportEntry kExports[] = {
    {fn(task_create), "SysTaskCreate", 0, 0},
    {fn(task_nothing), "SysTaskEnter", 0, 0},
    {fn(task_nothing), "SysTaskLeave", 0, 0},
    {fn(task_end), "SysTaskEnd", 0, 0},
    {fn(task_wait_sleep), "SysTaskWaitSleep", 0, 0},
    {fn(task_set_exit), "SysTaskSetExit", 0, 0},
    {fn(task_exit), "SysTaskExit", 0, 0},
    {fn(task_resume), "SysTaskResume", 0, 0},
    {fn(event_create), "SysEventCreate", 0, 0},
    {fn(event_set), "SysEventSet", 0, 0},
    {fn(event_wait), "SysEventWait", 0, 0},
    {fn(event_delete), "SysEventDelete", 0, 0},
    {nullptr, nullptr, 0, 0},
};

} // namespace

const CMExportEntry* exports() {
    return kExports;
}
int live_tasks() {
    return g_live.load();
}
RTS_UI32 last_sleep_ms() {
    return g_lastSleep.load();
}
void set_wait_limit_ms(RTS_UI32 ms) {
    g_waitLimit = ms;
}
void reset() {
    g_lastSleep = kNoSleep;
    g_waitLimit = 0;
}

} // namespace testtask
