// The fake optional services, each under the name it is exported by: an event's handle is its
// id; a task is a thread started by SysTaskResume and joined by SysTaskExit; an event object is
// an auto-reset flag with a condition variable.
#include "test_services.h"

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
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
};

struct Task {
    SysTaskInfo info;
    PF_SYS_TASK_FUNCTION function;
    Signal exit;
    std::thread thread;
};

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
    static RTS_RESULT EventPost2(RTS_HANDLE event, RTS_UI32, RTS_UI32, void* pParam) {
        auto* fields = static_cast<RTS_UI32*>(pParam);
        const auto id = static_cast<RTS_UI32>(reinterpret_cast<RTS_UINTPTR>(event));
        events.posted.push_back(id);
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
        std::string name(info->name);
        if (name.rfind("Refused", 0) == 0) return RES_NOTSUPPORTED;
        if (name.rfind("Resolved", 0) != 0) return RES_FAILED;
        *ppFunction = resolved();
        return RES_OK;
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
        t->thread = std::thread(t->function, &t->info);
        return RES_OK;
    }
    static RTS_RESULT SysTaskWaitSleep(RTS_HANDLE h, RTS_UI32 ms) {
        Signal& exit = static_cast<Task*>(h)->exit;
        tasks.lastSleepMs = ms;
        std::unique_lock<std::mutex> guard(exit.lock);
        exit.wake.wait_for(guard, std::chrono::milliseconds(ms), [&exit] { return exit.set; });
        return RES_OK;
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
        auto* e = static_cast<Signal*>(h);
        const RTS_UI32 limit = tasks.waitLimitMs;
        std::unique_lock<std::mutex> guard(e->lock);
        if (!e->wake.wait_for(guard, std::chrono::milliseconds(limit != 0 ? std::min(limit, ms) : ms),
                              [e] { return e->set; }))
            return RES_TIMEOUT;
        e->set = false;
        return RES_OK;
    }
};

// An entry under the fake's own name.
#define TEST_SERVICE(name)                                                                                   \
    { reinterpret_cast<RTS_VOID_FCTPTR>(Fake::name), #name, 0, 0 }
const CMExportEntry kServices[] = {
    TEST_SERVICE(EventCreate),
    TEST_SERVICE(EventPost2),
    TEST_SERVICE(EventDelete),
    TEST_SERVICE(SysOutPrintf),
    TEST_SERVICE(SysOutVPrintf),
    TEST_SERVICE(SysTargetGetDeviceName),
    TEST_SERVICE(SysTargetGetOperatingSystemId),
    TEST_SERVICE(SysTargetGetProcessorId),
    TEST_SERVICE(SysTargetGetAPI),
    TEST_SERVICE(RefusedButExported),
    TEST_SERVICE(SysTaskCreate),
    TEST_SERVICE(SysTaskResume),
    TEST_SERVICE(SysTaskEnter),
    {reinterpret_cast<RTS_VOID_FCTPTR>(Fake::SysTaskEnter), "SysTaskLeave", 0, 0},
    TEST_SERVICE(SysTaskEnd),
    TEST_SERVICE(SysTaskWaitSleep),
    TEST_SERVICE(SysTaskSetExit),
    TEST_SERVICE(SysTaskExit),
    TEST_SERVICE(SysEventCreate),
    TEST_SERVICE(SysEventSet),
    TEST_SERVICE(SysEventWait),
    TEST_SERVICE(SysEventDelete),
    {nullptr, nullptr, 0, 0},
};
#undef TEST_SERVICE

} // namespace

void reset() {
    events = Events{};
    tasks.lastSleepMs = 0;
    tasks.waitLimitMs = 0;
}
const CMExportEntry* exports() {
    return kServices;
}
RTS_VOID_FCTPTR resolved() {
    return reinterpret_cast<RTS_VOID_FCTPTR>(Fake::RefusedButExported);
}

} // namespace testsvc
