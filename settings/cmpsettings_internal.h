/* What the parts of the settings component share: the key search across the databases and the
 * master database. Every function here expects the settings lock to be held. */
#pragma once

#include "settings/cmpinifile_internal.h"

namespace settg {

constexpr RTS_UI32 kCmpId = 0x1A;
constexpr const char* kSection = "CmpSettings";

/* Where a key was found: its database, its section's header and its value. */
struct Found {
    IniDatabase* db = nullptr;
    RTS_SIZE header = ini::kNoPosition;
    RTS_SIZE value = ini::kNoPosition;
};

/* The first database in list order whose filter admits the component, whose first header of
 * the component's section holds the key. Only 32 characters of the component name count. */
Found find(const char* component, const char* key);
/* The checks every string read makes first: a buffer needs a length above 0; without a buffer
 * the length starts at 0. *pSize receives the length given. */
RTS_RESULT read_arguments(const char* component, const char* key, const void* buffer, RTS_I32* pLength,
                          RTS_I32* pSize);
/* Every database read anew from its file, unless an update bracket is open. */
RTS_RESULT reload_all();

IniDatabase* master();

} // namespace settg

/* The online settings service and the device-backup listener follow the settings' hooks. */
namespace settings_online {
void hook(RTS_UI32 hookId);
}
namespace settings_backup {
void hook(RTS_UI32 hookId);
}
