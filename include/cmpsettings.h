/* Settings (CmpSettings): values addressed by component (section) and key, read with a
 * default. */
#ifndef CMPSETTINGS_H
#define CMPSETTINGS_H

#include "rts_types.h"

RTS_BEGIN_C

RTS_RESULT SettgSetDatabaseName(const char* fileName);
RTS_RESULT SettgGetIntValue(const char* component, const char* key, RTS_I32* pValue, RTS_I32 defaultValue,
                            int reload);
RTS_RESULT SettgGetStringValue(const char* component, const char* key, char* buffer, RTS_I32* pLength,
                               const char* defaultValue, int reload);
RTS_RESULT SettgSetIntValue(const char* component, const char* key, RTS_I32 value, int base);
RTS_RESULT SettgSetStringValue(const char* component, const char* key, const char* value, RTS_I32 maxLength);
RTS_RESULT SettgRemoveKey(const char* component, const char* key);

RTS_END_C

#endif
