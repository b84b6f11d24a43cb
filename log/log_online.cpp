/* The online log service: when a communication server and a tag codec are present, service
 * group 5 lets an online client read a logger's entries in portions (command 1), translate
 * component ids into names (2) and list the loggers (3). Every answer to command 1 ends with
 * status 21; the client continues after the last ring index it received. */
#include <cstring>

#include "cm.h"
#include "cm/online_service.h"
#include "cm/optional_import.h"
#include "log/cmplog_internal.h"

namespace cmplog {

namespace {

rts::OnlineImports g_online{};
decltype(&SrvGetUserNotificationService) g_userNotifications = nullptr;

constexpr RTS_UI32 kServiceGroup = 5;
constexpr const char* kDeviceObject = "Device.Logger";
constexpr RTS_UI32 kViewRight = 1;
constexpr RTS_UI32 kPlain = 4;       // start flags of containers, numbers and logger names
constexpr RTS_UI32 kText = 0x20004;  // start flags of entry texts and component names
constexpr RTS_UI32 kEntryRoom = 184; // room one entry's container needs at most
constexpr RTS_UI32 kNameReserve = 6; // room kept free behind a component name

enum : RTS_UI32 { kTagEntry = 130, kTagIndex = 1, kTagIds = 3, kTagInfo = 4, kTagCmpName = 5 };
enum : RTS_UI32 { kChangedMeanwhile = 14, kAnswerFull = 27 };

// What command 1 asks for.
struct ReadRequest {
    char logger[sizeof(LogOptions::Name)] = "";
    bool hasIndex = false;
    RTS_UI32 index = 0, timestamp = 0;
    RTS_UI32 maxCount = 0xFFFFFFFFu;
};

ReadRequest read_request(BTagReader& reader) {
    ReadRequest r;
    BTagItem item;
    while (rts::next_tag(g_online, reader, item)) {
        if (item.tagId == 1) rts::read_text(item, r.logger, sizeof r.logger);
        if (item.tagId == 2) r.hasIndex = rts::read_u32(item, r.index);
        if (item.tagId == 3) rts::read_u32(item, r.timestamp);
        if (item.tagId == 4) rts::read_u32(item, r.maxCount);
    }
    return r;
}

// The entry's timestamp tag by the logger's kind, with the bytes it keeps (0: none).
void timestamp_tag(RTS_UI32 type, RTS_UI32& tag, RTS_UI32& size) {
    tag = 0, size = 4;
    if ((type & LOG_TS_RTC) != 0)
        tag = 2;
    else if ((type & LOG_TS_RTC_HIGHRES) != 0)
        tag = 9, size = 8;
    else if ((type & LOG_TS_MS) != 0)
        tag = 6;
    else if ((type & LOG_TS_US) != 0)
        tag = 7;
    else if ((type & LOG_TS_NS) != 0)
        tag = 8;
}

void write_entry(rts::OnlineRequest& q, const LogOptions& options, int index, const LogEntry& e) {
    const RTS_UI64 ringIndex = static_cast<RTS_UI64>(index);
    const RTS_UI32 ids[4] = {e.CmpId, e.ClassId, e.ErrorId, e.InfoId};
    RTS_UI32 tag = 0, size = 0;
    timestamp_tag(options.Type, tag, size);
    q.start(kTagEntry, kPlain);
    q.tag(kTagIndex, kPlain, &ringIndex, sizeof ringIndex);
    if (tag != 0) q.tag(tag, kPlain, &e.Timestamp, size); // the low bytes come first
    q.tag(kTagIds, kPlain, ids, sizeof ids);
    char text[sizeof e.InfoText + 1] = {};
    std::memcpy(text, e.InfoText, sizeof e.InfoText);
    q.text(kTagInfo, kText, text);
    q.end(kTagEntry);
}

// Entries of the classes an online client shows; printf and communication entries are not.
bool shown(RTS_UI32 classId) {
    switch (classId & 0xFFFFu) {
        case LOG_INFO:
        case LOG_WARNING:
        case LOG_ERROR:
        case LOG_EXCEPTION:
        case LOG_DEBUG:
        case LOG_TIMEREL:
            return true;
        default:
            return false;
    }
}

void read_entries(rts::OnlineRequest& q) {
    const ReadRequest r = read_request(q.reader());
    RTS_RESULT result = RES_OK;
    RTS_HANDLE logger = LogOpen(r.logger, &result);
    LogOptions* options = nullptr;
    if (result != RES_OK) return void(q.status(1, result));
    if (LogGetOptions(logger, &options) != RES_OK) return void(q.status(1, RES_NO_OBJECT));
    LogEntry entry{};
    int index = -1;
    if (!r.hasIndex) {
        index = LogGetFirstEntry(logger, &entry, &result);
    } else {
        index = static_cast<int>(r.index);
        LogGetEntry(logger, index, &entry);
        if (r.timestamp != 0 && r.timestamp != static_cast<RTS_UI32>(entry.Timestamp))
            q.status(1, kChangedMeanwhile);
        index = LogGetNextEntry(logger, index, &entry, &result);
    }
    for (RTS_UI32 sent = 0; result == RES_OK && q.room() >= kEntryRoom && sent < r.maxCount;
         index = LogGetNextEntry(logger, index, &entry, &result)) {
        if (!shown(entry.ClassId)) continue;
        write_entry(q, *options, index, entry);
        ++sent;
    }
    q.status(1, RES_NOMOREENTRIES);
    if (g_userNotifications != nullptr) g_userNotifications(q.writer());
}

void component_names(rts::OnlineRequest& q) {
    BTagItem item;
    RTS_UI32 id = 0;
    while (rts::next_tag(g_online, q.reader(), item)) {
        if (item.tagId != kTagCmpName || !rts::read_u32(item, id)) continue;
        const BTagSavepoint point = q.save();
        q.start(kTagCmpName, kText);
        RTS_UI8* name = nullptr;
        const RTS_UI32 room = q.room(&name);
        const RTS_RESULT r = room > kNameReserve
                                 ? CMGetCmpName(id, reinterpret_cast<char*>(name), room - kNameReserve)
                                 : RES_BUFFERSIZE;
        if (r == RES_OK &&
            q.append(name, static_cast<RTS_UI32>(std::strlen(reinterpret_cast<char*>(name)) + 1)) == RES_OK &&
            q.end(kTagCmpName) == RES_OK)
            continue;
        q.restore(point);
        q.status(1, r == RES_FAILED ? RES_NO_OBJECT : kAnswerFull);
        if (r != RES_FAILED) return; // the answer is full
    }
}

// The logger the client wants to continue with: only a logger that exists is taken.
RTS_HANDLE first_requested_logger(BTagReader& reader) {
    BTagItem item;
    RTS_UI64 wanted = 0;
    bool given = false;
    while (rts::next_tag(g_online, reader, item))
        if (item.tagId == 2 && item.size >= sizeof wanted)
            given = true, std::memcpy(&wanted, item.content, sizeof wanted);
    RTS_HANDLE logger = LogGetFirstLogger(nullptr);
    while (given && logger != RTS_INVALID_HANDLE && reinterpret_cast<RTS_UINTPTR>(logger) != wanted)
        logger = LogGetNextLogger(logger, nullptr);
    return logger;
}

void logger_names(rts::OnlineRequest& q) {
    RTS_HANDLE logger = first_requested_logger(q.reader());
    if (logger == RTS_INVALID_HANDLE) return void(q.status(1, RES_NO_OBJECT));
    for (; logger != RTS_INVALID_HANDLE; logger = LogGetNextLogger(logger, nullptr)) {
        const BTagSavepoint point = q.save();
        q.start(1, kPlain);
        RTS_UI8* name = nullptr;
        const RTS_UI32 room = q.room(&name);
        if (room != 0 && LogGetName(logger, reinterpret_cast<char*>(name), room) == RES_OK &&
            q.append(name, static_cast<RTS_UI32>(std::strlen(reinterpret_cast<char*>(name)) + 1)) == RES_OK &&
            q.end(1) == RES_OK)
            continue;
        q.restore(point);
        const RTS_UI64 handle = reinterpret_cast<RTS_UINTPTR>(logger);
        q.status(1, kAnswerFull, &handle, sizeof handle);
        return;
    }
}

RTS_RESULT handle_request(RTS_UI32 channel, ServerRequestHeader* header, ServerBuffer* request,
                          ServerBuffer* answer) {
    rts::OnlineRequest q;
    if (q.begin(&g_online, channel, header, request, answer) != RES_OK) return RES_PARAMETER;
    void (*command)(rts::OnlineRequest&) = q.command() == 1   ? read_entries
                                           : q.command() == 2 ? component_names
                                           : q.command() == 3 ? logger_names
                                                              : nullptr;
    if (command == nullptr || q.refused(kDeviceObject, kViewRight)) return RES_OK;
    command(q);
    return q.send();
}

} // namespace

// Finds the server at CH_INIT, serves group 5 from CH_INIT_COMM to CH_EXIT_COMM.
void online_hook(RTS_UI32 hook) {
    if (hook == CH_INIT) {
        g_online.import();
        rts::import_optional("SrvGetUserNotificationService", g_userNotifications);
    }
    if (!g_online.present()) return;
    if (hook == CH_INIT_COMM) g_online.Register(kServiceGroup, handle_request);
    if (hook == CH_EXIT_COMM) g_online.Unregister(kServiceGroup, handle_request);
}

} // namespace cmplog
