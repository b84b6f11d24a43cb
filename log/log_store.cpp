// What the log files and the shared-memory log write alike. The header block: a star line, the
// logger's name, its options (only the file limits with LOG_SHORT_FORMAT), the column names and
// class values, and the star line again; its words are those a service engineer's tools look
// for, kept byte for byte, including the filter line whose closing tag has no slash. And an
// entry's line, formatted again in a larger buffer when it does not fit the usual one.
#include <cstdarg>
#include <cstring>

#include "cmutils.h"
#include "log/log_store.h"
#include "sysmem.h"

namespace log_store {

namespace {

constexpr RTS_SIZE kLineSize = 600; // a Path may be long; a longer one is cut
constexpr const char* kStars = ";****************************************************************\r\n";

struct Word {
    RTS_UI32 bit;
    const char* line;
};

// The line of the first word whose bit is set, else the last word's line.
template <RTS_SIZE N> const char* choose(RTS_UI32 type, const Word (&words)[N]) {
    for (const Word& w : words)
        if ((type & w.bit) != 0) return w.line;
    return words[N - 1].line;
}

constexpr Word kTypes[] = {{LOG_TYPE_HIGHSPEED, ";\t<type>highspeed</type>\r\n"},
                           {LOG_TYPE_SAFE, ";\t<type>safe</type>\r\n"},
                           {0, ";\t<type>normal</type>\r\n"}};
constexpr Word kStamps[] = {{LOG_TS_RTC_HIGHRES, ";\t<timestamp>rtc high resolution</timestamp>\r\n"},
                            {LOG_TS_MS, ";\t<timestamp>milliseconds</timestamp>\r\n"},
                            {LOG_TS_US, ";\t<timestamp>microseconds</timestamp>\r\n"},
                            {LOG_TS_NS, ";\t<timestamp>nanoseconds</timestamp>\r\n"},
                            {0, ";\t<timestamp>rtc</timestamp>\r\n"}};
constexpr Word kDeactivatable[] = {{LOG_NOT_DISABLEABLE, ";\t<deactivatable>0</deactivatable>\r\n"},
                                   {0, ";\t<deactivatable>1</deactivatable>\r\n"}};
constexpr Word kDumps[] = {{LOG_DUMP_ON_CLOSE, ";\t<dump>on close</dump>\r\n"},
                           {LOG_DUMP_ON_REQUEST, ";\t<dump>on request</dump>\r\n"},
                           {0, ";\t<dump>always</dump>\r\n"}};
constexpr const char* kEntries[] = {
    ";<entries>\r\n",
    ";Timestamp, CmpId, ClassId, ErrorId, InfoId, InfoText\r\n",
};
constexpr Word kClasses[] = {
    {LOG_INFO, ";ClassId: LOG_INFO\t\t=%d\r\n"},   {LOG_WARNING, ";ClassId: LOG_WARNING\t=%d\r\n"},
    {LOG_ERROR, ";ClassId: LOG_ERROR\t\t=%d\r\n"}, {LOG_EXCEPTION, ";ClassId: LOG_EXCEPTION\t=%d\r\n"},
    {LOG_DEBUG, ";ClassId: LOG_DEBUG\t\t=%d\r\n"}, {LOG_PRINTF, ";ClassId: LOG_PRINTF\t=%d\r\n"},
    {LOG_COM, ";ClassId: LOG_COM\t\t=%d\r\n"},
};

// Formats and emits lines until the receiver stops; `open` is false from then on.
class Lines {
public:
    Lines(Emit emit, void* context) : emit_(emit), context_(context) {}
    void put(const char* format, ...) {
        if (!open_) return;
        char line[kLineSize];
        va_list args;
        va_start(args, format);
        CMUtlvsnprintf(line, sizeof line, format, &args);
        va_end(args);
        open_ = emit_(line, CMUtlStrLen(line), context_);
    }

private:
    Emit emit_;
    void* context_;
    bool open_ = true;
};

void put_options(Lines& out, const LogOptions& o) {
    out.put(";\t<enable>%d</enable>\r\n", static_cast<int>(o.Enable));
    if (o.Path != nullptr) out.put(";\t<path>%s</path>\r\n", o.Path);
    out.put("%s", choose(o.Type, kTypes));
    out.put("%s", choose(o.Type, kStamps));
    out.put("%s", choose(o.Type, kDeactivatable));
    out.put("%s", choose(o.Type, kDumps));
    out.put(";\t<filter>0x%08x<filter>\r\n", o.Filter);
    out.put(";\t<maxentries>%d</maxentries>\r\n", static_cast<int>(o.MaxEntries));
}

} // namespace

void write_header(const LogOptions& options, Emit emit, void* context) {
    const bool full = (options.Type & LOG_SHORT_FORMAT) == 0;
    Lines out(emit, context);
    out.put("%s", kStars);
    char name[sizeof options.Name + 1] = {}; // a caller's record may fill the name to the end
    CMUtlSafeStrNCpy(name, sizeof name, options.Name, sizeof options.Name);
    out.put(";<loggername>%s</loggername>\r\n", name);
    out.put(";<logoptions>\r\n");
    if (full) put_options(out, options);
    out.put(";\t<maxfiles>%d</maxfiles>\r\n", static_cast<int>(options.MaxFiles));
    out.put(";\t<maxfilesize>%d</maxfilesize>\r\n", static_cast<int>(options.MaxFileSize));
    out.put(";</logoptions>\r\n");
    if (full) {
        for (const char* line : kEntries) out.put("%s", line);
        for (const Word& c : kClasses) out.put(c.line, static_cast<int>(c.bit));
        out.put(";</entries>\r\n");
    }
    out.put("%s", kStars);
}

constexpr char kLineEnd[] = "\r\n";

EntryLine::EntryLine(const LogOptions& options, const LogEntry& entry, const char* owner, RTS_SIZE room)
    : owner_(owner) {
    const RTS_SIZE end = sizeof kLineEnd - 1;
    result_ = LogFormatCsvMessage(&options, &entry, fixed_, sizeof fixed_ - end);
    if (result_ == RES_BUFFERSIZE) {
        const RTS_SIZE size = strnlen(entry.InfoText, sizeof entry.InfoText) + room;
        text_ = static_cast<char*>(SysMemAllocData(owner_, size, &result_));
        if (text_ == nullptr) return;
        result_ = LogFormatCsvMessage(&options, &entry, text_, size - end);
    }
    if (result_ != RES_OK) return;
    length_ = std::strlen(text_);
    std::memcpy(text_ + length_, kLineEnd, sizeof kLineEnd);
    length_ += end;
}

EntryLine::~EntryLine() {
    if (text_ != nullptr && text_ != fixed_) SysMemFreeData(owner_, text_);
}

} // namespace log_store
