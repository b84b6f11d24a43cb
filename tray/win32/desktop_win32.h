/* The Windows desktop's notification-icon record, built from the tray's icon record; its own
 * header so that the tests check the record the shell gets. */
#ifndef DESKTOP_WIN32_H
#define DESKTOP_WIN32_H

#include <windows.h>

#include <shellapi.h>

#include "desktop.h"

namespace desktop {

/* The shell's full record for this platform: cbSize tells the shell which fields exist. */
static_assert(sizeof(void*) != 8 || sizeof(NOTIFYICONDATAA) == 528, "the 64-bit shell expects 528 bytes");

/* The record for Shell_NotifyIconA: every field of record, the rest zero. */
NOTIFYICONDATAA notify_record(const IconRecord& record);

} // namespace desktop

#endif
