// The one way tests read and empty the standard logger: its ring while the logger exists, the
// early buffer before it is created and after the framework stopped.
#pragma once

#include <string>
#include <vector>

#include "cm.h"
#include "cmplog.h"

namespace testlog {

// Every entry of the standard logger, oldest first.
std::vector<LogEntry> entries();
// Every entry of another logger, oldest first.
std::vector<LogEntry> entries(RTS_HANDLE logger);
// The texts of every entry, oldest first.
std::vector<std::string> texts();
// The texts of the manager's entries with this info id.
std::vector<std::string> lines(RTS_UI32 infoId);
// How many entry texts begin with the prefix.
int count_starting(const std::string& prefix);
// Forgets every entry collected so far and lets every class into the standard logger from now
// on, so that tests see what components log at LOG_DEBUG too.
void clear();

} // namespace testlog
