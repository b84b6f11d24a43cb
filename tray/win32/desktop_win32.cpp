/* The desktop port on Windows: the string table of the executable's resources, message boxes,
 * the parent's console, Sleep and GetTickCount. */
#include <windows.h>

#include <cstdio>

#include "desktop.h"

namespace desktop {

int load_string(RTS_HANDLE instance, RTS_UI32 id, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    return LoadStringA(static_cast<HINSTANCE>(instance), id, buffer, size);
}

void message_box(const char* text, const char* caption, BoxKind kind) {
    const UINT icon = kind == BoxKind::Error ? MB_ICONERROR : 0;
    MessageBoxA(nullptr, text, caption, MB_OK | icon);
}

bool attach_parent_console() {
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
    return std::freopen("CON", "w", stdout) != nullptr;
}

void sleep_ms(RTS_UI32 ms) {
    Sleep(ms);
}

RTS_UI32 tick_ms() {
    return GetTickCount();
}

} // namespace desktop
