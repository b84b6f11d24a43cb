// The configuration of the loggers from the logging component's settings (log_config.cpp).
#pragma once

#include "log/cmplog_internal.h"

namespace cmplog {

// Names, creates and sets up the loggers the settings list, at start-up.
void configure_loggers();
// Reads the logger's settings again: RES_NOCHANGE when they equal its options, RES_FAILED when
// no Logger.N.Name is its name. Only the Filter with `filterOnly`.
RTS_RESULT read_logger_settings(Logger* logger, bool filterOnly);
// Registers the class of a new instance that is a log backend on every logger that lists it.
void match_backends(RTS_UI32 classId, void* instance);
// The standard logger's filter follows the settings.
void settings_changed();

} // namespace cmplog
