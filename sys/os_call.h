/* One operating-system call of a platform seam as the portable core sees it: the function, and
 * the name the platform knows it by for the log line when it fails. A seam's table of such
 * calls comes from its platform file; tests put a table of fakes in its place. */
#ifndef SYS_OS_CALL_H
#define SYS_OS_CALL_H

#include <atomic>
#include <utility>

#include "cm/rts_common.h"

namespace sys_os {

template <typename Fn> struct OsCall {
    Fn fn;
    const char* name;
};

/* Makes the call and logs a failure once under the component's id; gives back the OS error
 * (rts::kOsOk on success). */
template <typename Fn, typename... Args>
rts::OsError os_call(RTS_UI32 cmpId, const OsCall<Fn>& call, Args&&... args) {
    const rts::OsError error = call.fn(std::forward<Args>(args)...);
    if (error != rts::kOsOk) rts::log_os_error(cmpId, call.name, nullptr, error);
    return error;
}

/* The table of calls a seam's core uses: the platform's own, unless a test put fakes in its
 * place (null puts the platform's back). */
template <typename Calls> class CallTable {
public:
    const Calls& get(const Calls& platform) const {
        const Calls* fake = fake_.load();
        return fake != nullptr ? *fake : platform;
    }
    void set(const Calls* fake) { fake_.store(fake); }

private:
    std::atomic<const Calls*> fake_{nullptr};
};

} // namespace sys_os

#endif
