/* What every platform seam of the framework shares: the holder of a seam's table of calls (the
 * platform's own, or a test's table in its place), and the one way the portable core makes a
 * call through the table. Each call that can fail takes, last, where it names the platform call
 * that failed (one seam call may make several), and gives back the operating system's error;
 * the core logs a failure once with that name, the object it concerned and the error. */
#ifndef SYS_OS_SEAM_H
#define SYS_OS_SEAM_H

#include <atomic>
#include <cassert>
#include <utility>

#include "cm/rts_common.h"

namespace sys_os {

/* The table of calls a seam's core uses: the platform's own, unless a test put its table in
 * place (null puts the platform's back). */
template <typename Calls> class CallTable {
public:
    const Calls& get(const Calls& platform) const {
        const Calls* fake = fake_.load(std::memory_order_acquire);
        return fake != nullptr ? *fake : platform;
    }
    void set(const Calls* fake) { fake_.store(fake, std::memory_order_release); }

private:
    std::atomic<const Calls*> fake_{nullptr};
};

/* For the platform side: names the platform call that failed and hands its error on, e.g.
 * `return failed("shm_open", errno, pCall);`. */
inline rts::OsError failed(const char* call, rts::OsError error, const char** pCall) {
    *pCall = call;
    return error;
}

/* Makes one seam call with the arguments given; a failure is logged under the component's id
 * with the platform call that failed and the object (null when the call concerns none). Gives
 * back the OS error (rts::kOsOk on success). */
template <typename Fn, typename... Args>
rts::OsError call(RTS_UI32 cmpId, const char* object, Fn fn, Args&&... args) {
    const char* failed = nullptr;
    const rts::OsError error = fn(std::forward<Args>(args)..., &failed);
    if (error == rts::kOsOk) return error;
    assert(failed != nullptr && "a failing seam call names the platform call");
    return rts::log_os_error(cmpId, failed, object, error);
}

} // namespace sys_os

#endif
