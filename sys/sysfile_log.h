/* The log file backend of SysFile (sysfile_log.cpp). */
#pragma once

#include "log/log_backend_object.h"
#include "sysfile.h"

static_assert(offsetof(LogBackendInstance, QueryInterface) == offsetof(SysFileObject, QueryInterface) &&
              offsetof(LogBackendInstance, references) == offsetof(SysFileObject, references));

namespace sysfile_log {

/* Open, close and write of the log file backend. */
extern const ILogBackend kOperations;
/* The path mapping was configured (or changed): open log files move with it at their next entry. */
void path_mapping_changed();

} // namespace sysfile_log
