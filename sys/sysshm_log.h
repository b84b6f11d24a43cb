/* The shared-memory log of SysShm (sysshm_log.cpp). */
#pragma once

#include "log/log_backend_object.h"
#include "sysshm.h"

static_assert(offsetof(LogBackendInstance, QueryInterface) == offsetof(SysShmObject, QueryInterface) &&
              offsetof(LogBackendInstance, references) == offsetof(SysShmObject, references));

namespace sysshm_log {

/* Open, close and write of the shared-memory log. */
extern const ILogBackend kOperations;

} // namespace sysshm_log
