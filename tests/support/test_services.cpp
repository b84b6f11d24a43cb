// The fake optional services, each under the name it is exported by: an event's handle is its
// id; a task is a thread started by SysTaskResume and joined by SysTaskExit; an event object is
// an auto-reset flag with a condition variable.
#include "test_components.h"

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

#include "cm/rts_common.h"
#include "systask.h"

namespace testsvc {

namespace {

// A flag with a condition variable: a task's request to end, or an event object.
struct Signal {
    std::mutex lock;
    std::condition_variable wake;
    bool set = false;
    // Waits up to the milliseconds for the flag; when it came, an event object clears it again.
    bool wait(RTS_UI32 ms, bool clear) {
        std::unique_lock<std::mutex> guard(lock);
        if (!wake.wait_for(guard, std::chrono::milliseconds(ms), [this] { return set; })) return false;
        return set = !clear, true;
    }
};

struct Task {
    SysTaskInfo info;
    PF_SYS_TASK_FUNCTION function;
    Signal exit;
    std::thread thread;
};
thread_local Task* t_current = nullptr; // the task a thread runs

// The one timer: it runs tasks.timerTask, when set.
SysTimerInfo g_timer{};

// Each fake carries the name it is exported under.
struct Fake {
    static RTS_RESULT EventDelete(RTS_HANDLE) { return ++events.deleted, RES_OK; }
    static RTS_RESULT SysOutPrintf(const char* format, ...) { return events.printed = format, RES_OK; }
    static RTS_RESULT SysTargetGetOperatingSystemId(RTS_UI32* id) { return *id = 5, RES_OK; }
    static RTS_RESULT SysTargetGetProcessorId(RTS_UI32* id) { return *id = 16, RES_OK; }
    static RTS_RESULT RefusedButExported() { return 42; }
    static RTS_RESULT SysTaskEnter(RTS_HANDLE) { return RES_OK; }
    static RTS_RESULT SysTaskEnd(RTS_HANDLE, RTS_UINTPTR) { return RES_OK; }
    static RTS_HANDLE SysEventCreate(const char*, RTS_RESULT* pResult) {
        return rts::report<RTS_HANDLE>(pResult, RES_OK, new Signal);
    }
    static RTS_RESULT SysEventDelete(RTS_HANDLE h) { return delete static_cast<Signal*>(h), RES_OK; }

    static RTS_HANDLE EventCreate(RTS_UI32 eventId, RTS_UI32, RTS_RESULT* pResult) {
        events.created.push_back(eventId);
        return rts::report(pResult, events.createResult, reinterpret_cast<RTS_HANDLE>(RTS_UINTPTR{eventId}));
    }
    static RTS_HANDLE EventOpen(RTS_UI32 eventId, RTS_UI32, RTS_RESULT* pResult) {
        return rts::report(pResult, RES_OK, reinterpret_cast<RTS_HANDLE>(RTS_UINTPTR{eventId}));
    }
    static RTS_RESULT EventRegisterCallbackFunction(RTS_HANDLE event, PF_EVENT_CALLBACK callback,
                                                    void* user) {
        return events.listeners.push_back({id_of(event), callback, user}), RES_OK;
    }
    static RTS_RESULT EventUnregisterCallbackFunction(RTS_HANDLE event, PF_EVENT_CALLBACK callback,
                                                      void* user) {
        return std::erase(events.listeners, Listener{id_of(event), callback, user}), RES_OK;
    }
    static RTS_UI32 id_of(RTS_HANDLE e) { return static_cast<RTS_UI32>(reinterpret_cast<RTS_UINTPTR>(e)); }
    static RTS_RESULT EventPost2(RTS_HANDLE event, RTS_UI32 paramId, RTS_UI32 version, void* pParam) {
        auto* fields = static_cast<RTS_UI32*>(pParam);
        const RTS_UI32 id = id_of(event);
        events.posted.push_back(id);
        EventParam param{id, paramId, version, pParam};
        for (const Listener& l : std::vector<Listener>(events.listeners))
            if (l.eventId == id) l.callback(&param, l.user);
        if (id == 0x00010007u && events.moreCycles > 0) fields[0] = events.moreCycles--;
        if (id == 0x00010006u && events.disables) { // operation, parameter, disabled, handled
            fields[2] = fields[0] == 7 ? 1 : 0;
            fields[3] = 1;
        }
        return RES_OK;
    }
    static RTS_RESULT SysOutVPrintf(const char* format, va_list args) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        return events.printed = text, RES_OK;
    }
    static RTS_RESULT SysTargetGetDeviceName(RTS_WCHAR* buffer, RTS_SIZE*) {
        const char16_t name[] = u"Test D\u00e9vice";
        std::copy(std::begin(name), std::end(name), buffer);
        return RES_OK;
    }
    static RTS_RESULT SysTargetGetAPI(CMApiToResolve* info, RTS_VOID_FCTPTR* ppFunction) {
        const std::string_view name(info->name);
        if (name.starts_with("Refused")) return RES_NOTSUPPORTED;
        return name.starts_with("Resolved") ? (*ppFunction = resolved(), RES_OK) : RES_FAILED;
    }

    static RTS_HANDLE SysTaskCreate(const char*, PF_SYS_TASK_FUNCTION function, void* param, RTS_UI32,
                                    RTS_RESULT* pResult) {
        auto* t = new Task{{nullptr, param, 0}, function};
        t->info.hTask = t;
        ++tasks.live;
        return rts::report<RTS_HANDLE>(pResult, RES_OK, t);
    }
    static RTS_RESULT SysTaskResume(RTS_HANDLE h) {
        auto* t = static_cast<Task*>(h);
        t->thread = std::thread([t] {
            t_current = t;
            t->function(&t->info);
        });
        return RES_OK;
    }
    static RTS_HANDLE SysTaskGetCurrent(RTS_RESULT* pResult) {
        return rts::report<RTS_HANDLE>(pResult, RES_OK, t_current);
    }
    static RTS_RESULT SysTaskGetInfo(RTS_HANDLE h, SysTaskInfo** ppInfo) { // only a task's own
        return h == t_current && h != nullptr ? (*ppInfo = &t_current->info, RES_OK) : RES_NO_OBJECT;
    }
    static RTS_RESULT SysTaskSuspend(RTS_HANDLE) { return ++tasks.suspended, RES_OK; }
    static RTS_HANDLE SysTimerGetFirst(RTS_RESULT*) { return tasks.timerTask ? &g_timer : nullptr; }
    static RTS_HANDLE SysTimerGetNext(RTS_HANDLE, RTS_RESULT*) { return nullptr; }
    static RTS_RESULT SysTimerGetInfo(RTS_HANDLE, SysTimerInfo** ppInfo) {
        return g_timer.hTask = tasks.timerTask, *ppInfo = &g_timer, RES_OK;
    }
    static RTS_RESULT SysTimerStop(RTS_HANDLE) { return ++tasks.timersStopped, RES_OK; }
    static RTS_RESULT SysTaskWaitSleep(RTS_HANDLE h, RTS_UI32 ms) {
        tasks.lastSleepMs = ms;
        return static_cast<Task*>(h)->exit.wait(ms, false), RES_OK;
    }
    static RTS_RESULT SysTaskSetExit(RTS_HANDLE h) {
        auto* t = static_cast<Task*>(h);
        std::atomic_ref<RTS_UI32>(t->info.exitRequested).store(1, std::memory_order_release);
        return SysEventSet(&t->exit);
    }
    static RTS_RESULT SysTaskExit(RTS_HANDLE h, RTS_UI32) {
        auto* t = static_cast<Task*>(h);
        SysTaskSetExit(h);
        t->thread.join();
        delete t;
        --tasks.live;
        return RES_OK;
    }
    static RTS_RESULT SysEventSet(RTS_HANDLE h) {
        auto* e = static_cast<Signal*>(h);
        std::lock_guard<std::mutex> guard(e->lock);
        e->set = true;
        e->wake.notify_all();
        return RES_OK;
    }
    static RTS_RESULT SysEventWait(RTS_HANDLE h, RTS_UI32 ms) {
        const RTS_UI32 limit = tasks.waitLimitMs;
        return static_cast<Signal*>(h)->wait(limit != 0 ? std::min(limit, ms) : ms, true) ? RES_OK
                                                                                          : RES_TIMEOUT;
    }

    // Each fake under its own name (looked up in this class first).
    static inline const CMExportEntry kServices[] = {
        CM_EXPORT(EventCreate),
        CM_EXPORT(EventPost2),
        CM_EXPORT(EventDelete),
        CM_EXPORT(EventOpen),
        CM_EXPORT(EventRegisterCallbackFunction),
        CM_EXPORT(EventUnregisterCallbackFunction),
        CM_EXPORT(SysOutPrintf),
        CM_EXPORT(SysOutVPrintf),
        CM_EXPORT(SysTargetGetDeviceName),
        CM_EXPORT(SysTargetGetOperatingSystemId),
        CM_EXPORT(SysTargetGetProcessorId),
        CM_EXPORT(SysTargetGetAPI),
        CM_EXPORT(RefusedButExported),
        CM_EXPORT(SysTaskCreate),
        CM_EXPORT(SysTaskResume),
        CM_EXPORT(SysTaskGetCurrent),
        CM_EXPORT(SysTaskGetInfo),
        CM_EXPORT(SysTaskSuspend),
        CM_EXPORT(SysTimerGetFirst),
        CM_EXPORT(SysTimerGetNext),
        CM_EXPORT(SysTimerGetInfo),
        CM_EXPORT(SysTimerStop),
        CM_EXPORT(SysTaskEnter),
        {reinterpret_cast<RTS_VOID_FCTPTR>(SysTaskEnter), "SysTaskLeave", 0, 0},
        CM_EXPORT(SysTaskEnd),
        CM_EXPORT(SysTaskWaitSleep),
        CM_EXPORT(SysTaskSetExit),
        CM_EXPORT(SysTaskExit),
        CM_EXPORT(SysEventCreate),
        CM_EXPORT(SysEventSet),
        CM_EXPORT(SysEventWait),
        CM_EXPORT(SysEventDelete),
        {nullptr, nullptr, 0, 0},
    };
};

} // namespace

void reset() {
    events = Events{};
    tasks.lastSleepMs = 0;
    tasks.waitLimitMs = 0;
    tasks.suspended = tasks.timersStopped = 0;
    tasks.timerTask = nullptr;
}

void on_task(const std::function<void()>& body, RTS_UI32 flags) {
    auto run = [](SysTaskInfo* info) { (*static_cast<const std::function<void()>*>(info->param))(); };
    auto* param = const_cast<std::function<void()>*>(&body);
    RTS_HANDLE task = Fake::SysTaskCreate("TestTask", run, param, 0, nullptr);
    static_cast<Task*>(task)->info.flags = flags;
    Fake::SysTaskResume(task);
    Fake::SysTaskExit(task, 0);
}
const CMExportEntry* exports() {
    return Fake::kServices;
}
RTS_VOID_FCTPTR resolved() {
    return reinterpret_cast<RTS_VOID_FCTPTR>(Fake::RefusedButExported);
}

} // namespace testsvc
