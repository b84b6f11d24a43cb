/* The log line of a failed operating-system call, shared by every platform seam. */
#include "cm/rts_common.h"

#include "cmplog.h"

namespace rts {

OsError log_os_error(RTS_UI32 cmpId, const char* call, const char* object, OsError error) {
    if (object != nullptr)
        LogAdd(nullptr, cmpId, LOG_DEBUG, error, 0, "%s failed for <name>%s</name>: OS error %lu", call,
               object, static_cast<unsigned long>(error));
    else
        LogAdd(nullptr, cmpId, LOG_DEBUG, error, 0, "%s failed: OS error %lu", call,
               static_cast<unsigned long>(error));
    return error;
}

} // namespace rts
