// The header block that heads a log file and the shared-memory log: the logger's name and
// options as comment lines, then the column names and class values. Written by the stores of
// the file and shared-memory backends, so it is kept in one place.
#pragma once

#include "cmplog.h"

namespace log_header {

// Receives one line of the header, with its "\r\n"; false stops the block.
using Emit = bool (*)(const char* line, RTS_SIZE length, void* context);

// Hands each line of the block for these options to `emit`, in order, until it answers false.
void write(const LogOptions& options, Emit emit, void* context);

} // namespace log_header
