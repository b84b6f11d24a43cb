/* The online settings service: when a communication server and a tag codec are present, service
 * group 6 lets an online client read, write and remove single settings (commands 1 to 5), write
 * several at once (7) and list the settings other components describe (6). Every write passes
 * the change check first: the right for "SECURITY" keys, the change event a listener may refuse,
 * and the settings-changed hook, which comes before the value is written. */
#include <cstring>

#include "cm.h"
#include "cm/online_service.h"
#include "cm/rts_common.h"
#include "cm/optional_import.h"
#include "cmpsettings.h"
#include "settings/cmpsettings_internal.h"
#include "mempool.h"

namespace settings_online {

namespace {

rts::OnlineImports g_online{};
struct EventImports {
    decltype(&EventOpen) Open;
    decltype(&EventClose) Close;
    decltype(&EventPost2) Post2;
} g_events{};
RTS_HANDLE g_listingPool = RTS_INVALID_HANDLE;

constexpr RTS_UI32 kServiceGroup = 6;
constexpr const char* kOwner = "CmpSettings";
constexpr const char* kDeviceObject = "Device.Settings";
constexpr const char* kSecurityObject = "Device.Settings.SecuritySettings";
constexpr const char* kSecurityPrefix = "SECURITY";
constexpr RTS_UI32 kRead = 1, kWrite = 2;
constexpr RTS_RESULT kUnreadable = 0x0300; // the request's tags cannot be read
constexpr RTS_RESULT kUnknownCommand = 0x302;
constexpr RTS_UI32 kPlain = 4, kText = 0x20004;
constexpr RTS_SIZE kNameSize = 128;   // component and key names keep this much
constexpr RTS_SIZE kValueSize = 1024; // text values written keep this much
constexpr RTS_I32 kReadSize = 256;    // text values read
constexpr RTS_UI32 kListingBlock = 64;
constexpr RTS_SIZE kListingBlocks = 16;

enum : RTS_UI32 {
    kTagSetting = 129,
    kTagComponent = 16,
    kTagKey = 17,
    kTagInt = 18,
    kTagText = 19,
    kTagAnswer = 1,
    kTagStatus = 20,
    kTagItemResult = 21,
    kTagChangeText = 32,
    kTagItem = 134,
    kTagName = 135,
    kTagTextValue = 136,
    kTagValue = 138,
    kTagItemText = 35,
};

// A setting as a request names it, with the value it carries.
struct Setting {
    char component[kNameSize] = "";
    char key[kNameSize] = "";
    RTS_UI32 kind = 0; // 0: no value
    RTS_I32 number = 0;
    char text[kValueSize] = "";
    RTS_UI32 stated = 0, textLength = 0; // a text's content length and its length up to a zero
    bool checkLength = false;            // a text of tag 19 may not claim more than it holds
    char changeText[kNameSize] = "";
};

bool begins_with_security(const char* key) {
    return std::strncmp(key, kSecurityPrefix, std::strlen(kSecurityPrefix)) == 0;
}

bool security_refused(const rts::OnlineRequest& q, const char* key, RTS_UI32 right, RTS_RESULT& result) {
    if (!begins_with_security(key) || g_online.HasAccessRights == nullptr) return false;
    result = g_online.HasAccessRights(kSecurityObject, q.session(), right);
    return result != RES_OK;
}

// Posts one of the settings' events when the event service has it.
void post(RTS_UI32 eventClass, void* param) {
    if (g_events.Open == nullptr || g_events.Post2 == nullptr) return;
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE event = g_events.Open(eventClass, CMPID_CmpSettings, &r);
    if (r != RES_OK || event == RTS_INVALID_HANDLE) return;
    g_events.Post2(event, eventClass, 1, param);
    if (g_events.Close != nullptr) g_events.Close(event);
}

SettgChange change_of(const Setting& s) {
    return s.kind == SETTG_VALUE_INT ? SettgChange{s.component, s.key, s.kind, &s.number, sizeof s.number}
                                     : SettgChange{s.component, s.key, s.kind, s.text, s.textLength};
}

RTS_RESULT change_check(rts::OnlineRequest& q, const Setting& s) {
    RTS_RESULT result = RES_OK;
    if (security_refused(q, s.key, kWrite, result)) return result;
    const SettgChange change = change_of(s);
    SettgChangeEvent event{s.changeText[0] != '\0' ? s.changeText : nullptr, q.session(), &change, RES_OK};
    post(SETTG_EVENT_CHANGE, &event);
    CMCallHook(CH_SETTINGS_CHANGED, 0, nullptr, 0);
    return event.result;
}

// Checks the change and writes it; a change the check answers RES_ALREADY needs no write.
RTS_RESULT write(rts::OnlineRequest& q, const Setting& s) {
    const RTS_RESULT check = change_check(q, s);
    if (check == RES_ALREADY) return RES_OK;
    if (check != RES_OK) return check;
    if (s.kind == SETTG_VALUE_INT) return SettgSetIntValue(s.component, s.key, s.number, 10);
    return SettgSetStringValue(s.component, s.key, s.text, static_cast<RTS_I32>(s.textLength));
}

// ---- reading the request -------------------------------------------------------------------

void read_name(const BTagItem& item, char* buffer) {
    rts::read_text(item, buffer, kNameSize);
}

void read_value(const BTagItem& item, Setting& s) {
    if (item.tagId == kTagInt && rts::read_u32(item, reinterpret_cast<RTS_UI32&>(s.number)))
        s.kind = SETTG_VALUE_INT;
    if (item.tagId != kTagText && item.tagId != kTagItemText) return;
    rts::read_text(item, s.text, sizeof s.text);
    s.kind = SETTG_VALUE_TEXT;
    s.stated = item.size;
    s.checkLength = item.tagId == kTagText;
    s.textLength = static_cast<RTS_UI32>(std::strlen(s.text));
}

// Reads the tags of one container into the setting, descending into the containers of a
// setting's names and value (one level: a request never nests them deeper).
void read_setting(const BTagItem& container, Setting& s, bool inner = false) {
    BTagReader reader;
    g_online.ReaderInit(&reader, container.content, container.size);
    BTagItem item;
    while (rts::next_tag(g_online, reader, item)) {
        if (item.tagId == kTagComponent) read_name(item, s.component);
        if (item.tagId == kTagKey) read_name(item, s.key);
        if (item.tagId == kTagChangeText) read_name(item, s.changeText);
        if (item.tagId == kTagName || item.tagId == kTagTextValue || item.tagId == kTagValue)
            read_setting(item, s);
        read_value(item, s);
    }
}

bool named(const Setting& s) {
    return s.component[0] != '\0' && s.key[0] != '\0';
}

// ---- commands 1 to 5 -----------------------------------------------------------------------

void answer(rts::OnlineRequest& q, RTS_RESULT result, const void* value, RTS_UI32 size) {
    const BTagSavepoint point = q.save();
    if (q.status(kTagAnswer, result, value, size) == RES_OK) return;
    q.restore(point);
    q.status(kTagStatus, RES_BUFFERSIZE);
}

// The read event, unless the key is a security setting the session may not see.
RTS_RESULT read_event(rts::OnlineRequest& q, const Setting& s, const void* value, RTS_UI32 size,
                      RTS_RESULT r) {
    RTS_RESULT refusal = RES_OK;
    if (security_refused(q, s.key, kRead, refusal)) return r;
    SettgReadEvent event{{s.component, s.key, s.kind, value, size}, r};
    post(SETTG_EVENT_READ, &event);
    return event.result;
}

void read_int(rts::OnlineRequest& q, Setting& s) {
    RTS_I32 value = 0;
    s.kind = SETTG_VALUE_INT;
    RTS_RESULT r = SettgGetIntValue(s.component, s.key, &value, 0, 0);
    r = read_event(q, s, &value, sizeof value, r);
    if (r == RES_NOT_ALLOWED) value = 0;
    answer(q, r, &value, sizeof value);
}

void read_string(rts::OnlineRequest& q, Setting& s) {
    char value[kReadSize] = "";
    RTS_I32 length = kReadSize;
    s.kind = SETTG_VALUE_TEXT;
    RTS_RESULT r = SettgGetStringValue(s.component, s.key, value, &length, "", 0);
    if (length < 0 || length > kReadSize) length = 0;
    r = read_event(q, s, value, static_cast<RTS_UI32>(length), r);
    if (r == RES_NOT_ALLOWED) length = 0;
    answer(q, r, value, static_cast<RTS_UI32>(length));
}

// The value a command needs, or RES_PARAMETER.
RTS_RESULT single_command(rts::OnlineRequest& q, Setting& s) {
    const RTS_UI16 command = q.command();
    if (!named(s)) return RES_PARAMETER;
    if (command == 1) return read_int(q, s), RES_OK;
    if (command == 3) return read_string(q, s), RES_OK;
    if (command == 5) return SettgRemoveKey(s.component, s.key);
    if (s.kind != (command == 2 ? SETTG_VALUE_INT : SETTG_VALUE_TEXT)) return RES_PARAMETER;
    return write(q, s);
}

void single(rts::OnlineRequest& q) {
    BTagItem item{};
    bool found = false;
    while (!found && rts::next_tag(g_online, q.reader(), item)) found = item.tagId == kTagSetting;
    if (!found) return void(q.status(kTagStatus, kUnreadable));
    Setting s;
    read_setting(item, s);
    const RTS_RESULT r = single_command(q, s);
    if ((q.command() != 1 && q.command() != 3) || r != RES_OK) answer(q, r, nullptr, 0);
}

// ---- command 7 -----------------------------------------------------------------------------

RTS_RESULT write_one(rts::OnlineRequest& q, Setting& s) {
    if (!named(s) || s.kind == 0) return RES_PARAMETER;
    if (s.kind == SETTG_VALUE_TEXT && s.checkLength && s.stated > s.textLength) return RES_PARAMETER;
    return write(q, s);
}

void many(rts::OnlineRequest& q) {
    BTagItem item;
    while (rts::next_tag(g_online, q.reader(), item)) {
        if (item.tagId != kTagItem) continue;
        Setting s;
        read_setting(item, s);
        q.status(kTagItemResult, write_one(q, s));
    }
}

// ---- command 6 -----------------------------------------------------------------------------

// One listed setting: its names, then the tags its lister gave; false when it does not fit.
bool list_entry(rts::OnlineRequest& q, const SettgListingEntry& e) {
    const BTagSavepoint point = q.save();
    q.start(kTagItem, kPlain);
    q.start(kTagName, kPlain);
    q.text(kTagComponent, kText, e.component);
    q.text(kTagKey, kText, e.key);
    q.end(kTagName);
    if (e.tags != nullptr) q.append(e.tags, e.tagsSize);
    if (q.end(kTagItem) == RES_OK) return true;
    q.restore(point);
    return false;
}

void list(rts::OnlineRequest& q) {
    if (!rts::valid_handle(g_listingPool)) return;
    Setting after;
    BTagItem item;
    while (rts::next_tag(g_online, q.reader(), item)) {
        if (item.tagId == kTagChangeText) read_name(item, after.changeText);
        if (item.tagId == kTagItem) read_setting(item, after);
    }
    SettgListingEvent event{after.changeText, q.session(), g_listingPool};
    post(SETTG_EVENT_LISTING, &event);
    MemPoolLock(g_listingPool);
    bool writing = !named(after);
    for (void* b = MemPoolGetFirstBlock(g_listingPool, nullptr); b != nullptr;
         b = MemPoolGetNextBlock(g_listingPool, b, nullptr)) {
        const auto* e = static_cast<const SettgListingEntry*>(b);
        if (writing && !list_entry(q, *e)) break;
        writing = writing ||
                  (std::strcmp(e->component, after.component) == 0 && std::strcmp(e->key, after.key) == 0);
    }
    MemPoolUnlock(g_listingPool);
    MemPoolReleaseBlocks(g_listingPool, 0, nullptr);
}

RTS_RESULT handle_request(RTS_UI32 channel, ServerRequestHeader* header, ServerBuffer* request,
                          ServerBuffer* answerBuffer) {
    rts::OnlineRequest q;
    if (q.begin(&g_online, channel, header, request, answerBuffer) != RES_OK) return RES_PARAMETER;
    const RTS_UI16 c = q.command();
    if (c < 1 || c > 7) return kUnknownCommand;
    if (q.refused(kDeviceObject, c == 1 || c == 3 || c == 6 ? kRead : kWrite)) return RES_OK;
    if (c <= 5) single(q);
    if (c == 6) list(q);
    if (c == 7) many(q);
    return q.send();
}

} // namespace

// Finds the server at CH_INIT and serves group 6 from CH_INIT_COMM to CH_EXIT_COMM.
void hook(RTS_UI32 hookId) {
    if (hookId == CH_INIT) {
        g_online.import();
        rts::import_optional("EventOpen", g_events.Open);
        rts::import_optional("EventClose", g_events.Close);
        rts::import_optional("EventPost2", g_events.Post2);
    }
    if (!g_online.present()) return;
    if (hookId == CH_INIT_COMM) {
        g_listingPool = MemPoolCreateDynamic(kOwner, kListingBlocks, kListingBlock, nullptr);
        if (rts::valid_handle(g_listingPool)) MemPoolCreateSyncObject(g_listingPool); // the walk locks it
        g_online.Register(kServiceGroup, handle_request);
    }
    if (hookId == CH_EXIT_COMM) {
        g_online.Unregister(kServiceGroup, handle_request);
        if (rts::valid_handle(g_listingPool)) MemPoolDelete(g_listingPool, kOwner);
        g_listingPool = RTS_INVALID_HANDLE;
    }
}

} // namespace settings_online
