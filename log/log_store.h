// What the stores of log lines (the log files and the shared-memory log) write alike: the header
// block that heads them, with the logger's name and options as comment lines, the column names
// and the class values; and an entry's line ending in "\r\n".
#pragma once

#include "cmplog.h"

namespace log_store {

// Receives one line of the header, with its "\r\n"; false stops the block.
using Emit = bool (*)(const char* line, RTS_SIZE length, void* context);

// Hands each line of the block for these options to `emit`, in order, until it answers false.
void write_header(const LogOptions& options, Emit emit, void* context);

// An entry's CSV line followed by "\r\n": in a buffer of its own, or when longer in one from
// the heap under `owner`, of the text's length plus `room` bytes. result() is the formatting's
// result (or the allocation's); the text is valid only when it is RES_OK.
class EntryLine {
public:
    EntryLine(const LogOptions& options, const LogEntry& entry, const char* owner, RTS_SIZE room);
    ~EntryLine();
    EntryLine(const EntryLine&) = delete;
    EntryLine& operator=(const EntryLine&) = delete;
    RTS_RESULT result() const { return result_; }
    const char* text() const { return text_; }
    RTS_SIZE length() const { return length_; }

private:
    static constexpr RTS_SIZE kFixedSize = 256;
    char fixed_[kFixedSize];
    char* text_ = fixed_;
    const char* owner_;
    RTS_SIZE length_ = 0;
    RTS_RESULT result_;
};

} // namespace log_store
