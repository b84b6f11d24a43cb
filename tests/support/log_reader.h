// Readers of the log entries collected since the last clear(), shared by every test program
// that checks what the framework logged.
#pragma once

#include <string>
#include <vector>

#include "cm.h"
#include "cmplog.h"

namespace testlog {

// Every entry, oldest first.
std::vector<LogEntry> entries();
// The texts of every entry, oldest first.
std::vector<std::string> texts();
// The texts of the manager's entries with this info id.
std::vector<std::string> lines(RTS_UI32 infoId);
// How many entry texts begin with the prefix.
int count_starting(const std::string& prefix);
// Forgets every entry collected so far.
void clear();

} // namespace testlog
