/* Settings (CmpSettings): values addressed by component (section) and key, read with a
 * default, kept in the configuration file chosen at start-up and the files it references. */
#ifndef CMPSETTINGS_H
#define CMPSETTINGS_H

#include "rts_types.h"

RTS_BEGIN_C

/* Opens the master file (".cfg" added to a name without "."; a missing one is made as a copy of
 * "Master.cfg") and the files its FileReference.N keys name. RES_NO_OBJECT when neither exists. */
RTS_RESULT SettgSetDatabaseName(const char* fileName);
RTS_RESULT SettgGetDatabaseName(char* buffer, RTS_SIZE size);
/* Reads parse "0x" anywhere as base 16, else base 10, clamped to 32 bits; the default is stored
 * with RES_FAILED when the key is missing. reload 1 reads every file anew first. */
RTS_RESULT SettgGetIntValue(const char* component, const char* key, RTS_I32* pValue, RTS_I32 defaultValue,
                            int reload);
/* *pLength: in the buffer's size in characters, out the characters copied; without a buffer the
 * size the value needs with its terminator. */
RTS_RESULT SettgGetStringValue(const char* component, const char* key, char* buffer, RTS_I32* pLength,
                               const char* defaultValue, int reload);
/* Base 2, 10 or 16 (16 writes "0x" and upper-case digits); any other base writes base 10. */
RTS_RESULT SettgSetIntValue(const char* component, const char* key, RTS_I32 value, int base);
/* Values with control characters, "[" or "]" are refused with RES_NOTSUPPORTED. */
RTS_RESULT SettgSetStringValue(const char* component, const char* key, const char* value, RTS_I32 maxLength);
/* Wide values are stored as text: a printable code unit as itself followed by "\00", any other
 * as "\ll\hh" (low and high byte in hexadecimal). Lengths in wide characters. */
RTS_RESULT SettgGetWStringValue(const char* component, const char* key, RTS_WCHAR* buffer, RTS_I32* pLength,
                                const RTS_WCHAR* defaultValue, int reload);
RTS_RESULT SettgSetWStringValue(const char* component, const char* key, const RTS_WCHAR* value,
                                RTS_I32 maxLength);
RTS_RESULT SettgRemoveKey(const char* component, const char* key);
RTS_RESULT SettgClearComponent(const char* component);
/* Writes inside a bracket change the texts only; the last SettgEndUpdate writes every file
 * (RES_PENDING from an inner one, RES_NOTINITIALIZED without an open bracket). */
RTS_RESULT SettgBeginUpdate(void);
RTS_RESULT SettgEndUpdate(void);
/* The number of open update brackets. */
RTS_I32 SettgGetAccessCounter_(RTS_RESULT* pResult);

/* Parameter records of the lower-case entries: the arguments in order, then the result. */
typedef struct {
    const char* component;
    const char* key;
    RTS_I32* pValue;
    RTS_I32 defaultValue;
    RTS_I32 reload;
    RTS_RESULT result;
} settggetintvalue_struct;
typedef struct {
    const char* component;
    const char* key;
    RTS_I32 value;
    RTS_I32 base;
    RTS_RESULT result;
} settgsetintvalue_struct;
typedef struct {
    const char* component;
    const char* key;
    char* buffer;
    RTS_I32* pLength;
    const char* defaultValue;
    RTS_I32 reload;
    RTS_RESULT result;
} settggetstringvalue_struct;
typedef struct {
    const char* component;
    const char* key;
    const char* value;
    RTS_I32 maxLength;
    RTS_RESULT result;
} settgsetstringvalue_struct;
typedef struct {
    const char* component;
    const char* key;
    RTS_WCHAR* buffer;
    RTS_I32* pLength;
    const RTS_WCHAR* defaultValue;
    RTS_I32 reload;
    RTS_RESULT result;
} settggetwstringvalue_struct;
typedef struct {
    const char* component;
    const char* key;
    const RTS_WCHAR* value;
    RTS_I32 maxLength;
    RTS_RESULT result;
} settgsetwstringvalue_struct;
typedef struct {
    const char* component;
    const char* key;
    RTS_RESULT result;
} settgremovekey_struct;
typedef struct {
    RTS_RESULT result;
} settgupdate_struct; /* settgbeginupdate, settgendupdate */

void settggetintvalue(settggetintvalue_struct* p);
void settgsetintvalue(settgsetintvalue_struct* p);
void settggetstringvalue(settggetstringvalue_struct* p);
void settgsetstringvalue(settgsetstringvalue_struct* p);
void settggetwstringvalue(settggetwstringvalue_struct* p);
void settgsetwstringvalue(settgsetwstringvalue_struct* p);
void settgremovekey(settgremovekey_struct* p);
void settgbeginupdate(settgupdate_struct* p);
void settgendupdate(settgupdate_struct* p);

RTS_END_C

#endif
