/* The Windows desktop: the tray's icon in the notification area, its hidden main window with the
 * timer and the message loop, the pop-up menu, message boxes, the dialogs and their painting,
 * the resources of the executable, the service manager's display name, the registry,
 * private-profile files, environment, module path and elevated launch of the edge mode; and the
 * process services (the parent's console, Sleep, GetTickCount). Messages reach the tray's procedures
 * unchanged; what they do not handle gets the default handling. */
#include "desktop_win32.h"

#include <cstdio>
#include <cstring>

namespace desktop {

static_assert(kMessagePaint == WM_PAINT && kMessageKeyDown == WM_KEYDOWN &&
              kMessageInitDialog == WM_INITDIALOG && kMessageCommand == WM_COMMAND &&
              kMessageTimer == WM_TIMER);
static_assert(kMessageLeftButtonDown == WM_LBUTTONDOWN && kMessageLeftButtonUp == WM_LBUTTONUP &&
              kMessageRightButtonDown == WM_RBUTTONDOWN && kMessageRightButtonUp == WM_RBUTTONUP);
static_assert(kCommandOk == IDOK && kCommandCancel == IDCANCEL);
static_assert(kIconFlagMessage == NIF_MESSAGE && kIconFlagIcon == NIF_ICON && kIconFlagTip == NIF_TIP);
static_assert(static_cast<DWORD>(IconAction::Add) == NIM_ADD &&
              static_cast<DWORD>(IconAction::Modify) == NIM_MODIFY &&
              static_cast<DWORD>(IconAction::Delete) == NIM_DELETE);
static_assert(sizeof(NOTIFYICONDATAA{}.szTip) == kIconTipSize);

namespace {

/* The main window's procedure; one main window per process. */
Procedure g_windowProcedure = nullptr;

LRESULT CALLBACK main_window_procedure(HWND window, UINT id, WPARAM wParam, LPARAM lParam) {
    RTS_INTPTR result = 0;
    if (g_windowProcedure != nullptr && g_windowProcedure(window, Message{id, wParam, lParam}, result))
        return result;
    return DefWindowProcA(window, id, wParam, lParam);
}

/* A dialog keeps its procedure in its user data, handed over with WM_INITDIALOG. */
INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT id, WPARAM wParam, LPARAM lParam) {
    if (id == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        lParam = 0;
    }
    auto procedure = reinterpret_cast<Procedure>(GetWindowLongPtrA(dialog, DWLP_USER));
    RTS_INTPTR ignored = 0;
    return procedure != nullptr && procedure(dialog, Message{id, wParam, lParam}, ignored) ? TRUE : FALSE;
}

LPCWSTR wide(const RTS_WCHAR* text) {
    return reinterpret_cast<LPCWSTR>(text);
}

HINSTANCE module(RTS_HANDLE instance) {
    return static_cast<HINSTANCE>(instance);
}

class Win32Desktop final : public Desktop {
public:
    int load_string(RTS_HANDLE instance, RTS_UI32 id, char* buffer, int size) override {
        if (buffer == nullptr || size <= 0) return 0;
        buffer[0] = '\0';
        return LoadStringA(module(instance), id, buffer, size);
    }

    RTS_HANDLE load_icon(RTS_HANDLE instance, RTS_UI32 id, RTS_UI32* error) override {
        /* The notification area shows small icons; a shared one needs no clean-up. */
        HANDLE icon = LoadImageA(module(instance), MAKEINTRESOURCEA(id), IMAGE_ICON,
                                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED);
        if (icon == nullptr && error != nullptr) *error = GetLastError();
        return icon;
    }

    bool notify_icon(IconAction action, const IconRecord& record) override {
        NOTIFYICONDATAA data = notify_record(record);
        return Shell_NotifyIconA(static_cast<DWORD>(action), &data) != FALSE;
    }

    BoxAnswer message_box(const char* text, const char* caption, BoxIcon icon, BoxButtons buttons) override {
        const UINT style = (icon == BoxIcon::Error     ? MB_ICONERROR
                            : icon == BoxIcon::Warning ? MB_ICONWARNING
                                                       : 0) |
                           (buttons == BoxButtons::OkCancel ? MB_OKCANCEL
                            : buttons == BoxButtons::YesNo  ? MB_YESNO
                                                            : MB_OK);
        switch (MessageBoxA(nullptr, text, caption, style)) {
            case IDOK:
                return BoxAnswer::Ok;
            case IDYES:
                return BoxAnswer::Yes;
            case IDNO:
                return BoxAnswer::No;
            default:
                return BoxAnswer::Cancel;
        }
    }

    RTS_INTPTR dialog_box(RTS_HANDLE instance, RTS_UI32 templateId, Procedure procedure) override {
        return DialogBoxParamA(module(instance), MAKEINTRESOURCEA(templateId), nullptr, dialog_procedure,
                               reinterpret_cast<LPARAM>(procedure));
    }

    void end_dialog(RTS_HANDLE dialog, RTS_INTPTR result) override {
        EndDialog(static_cast<HWND>(dialog), result);
    }

    Size item_size(RTS_HANDLE dialog, RTS_UI32 itemId) override {
        RECT client{};
        GetClientRect(GetDlgItem(static_cast<HWND>(dialog), static_cast<int>(itemId)), &client);
        return {client.right - client.left, client.bottom - client.top};
    }

    Size screen_size() override { return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

    void move_window(RTS_HANDLE window, const Placement& placement) override {
        MoveWindow(static_cast<HWND>(window), placement.left, placement.top, placement.width,
                   placement.height, TRUE);
    }

    RTS_HANDLE begin_paint(RTS_HANDLE window) override {
        return BeginPaint(static_cast<HWND>(window), &paint_);
    }

    void white_rectangle(RTS_HANDLE canvas, const Rect& rect) override {
        auto dc = static_cast<HDC>(canvas);
        SelectObject(dc, GetStockObject(WHITE_PEN));
        Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
    }

    RTS_I32 text_width(RTS_HANDLE canvas, const char* text) override {
        SIZE extent{};
        GetTextExtentPoint32A(static_cast<HDC>(canvas), text, static_cast<int>(std::strlen(text)), &extent);
        return extent.cx;
    }

    void text_out(RTS_HANDLE canvas, RTS_I32 x, RTS_I32 y, const char* text) override {
        TextOutA(static_cast<HDC>(canvas), x, y, text, static_cast<int>(std::strlen(text)));
    }

    void end_paint(RTS_HANDLE window) override { EndPaint(static_cast<HWND>(window), &paint_); }

    void service_display_name(const char* serviceName, char* buffer, RTS_UI32 size) override {
        if (size == 0) return;
        buffer[0] = '\0';
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        DWORD length = size;
        if (manager != nullptr && !GetServiceDisplayNameA(manager, serviceName, buffer, &length))
            buffer[0] = '\0';
        if (manager != nullptr) CloseServiceHandle(manager);
    }

    bool other_instance_running(const char* windowClass) override {
        return FindWindowA(windowClass, nullptr) != nullptr;
    }

    RTS_HANDLE create_main_window(RTS_HANDLE instance, const char* windowClass,
                                  Procedure procedure) override {
        g_windowProcedure = procedure;
        WNDCLASSA windowClassRecord{};
        windowClassRecord.lpfnWndProc = main_window_procedure;
        windowClassRecord.hInstance = module(instance);
        windowClassRecord.lpszClassName = windowClass;
        RegisterClassA(&windowClassRecord);
        HWND window =
            CreateWindowExA(0, windowClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, module(instance), nullptr);
        if (window != nullptr) ShowWindow(window, SW_HIDE);
        return window;
    }

    RTS_UI32 register_message(const char* name) override { return RegisterWindowMessageA(name); }

    bool set_timer(RTS_HANDLE window, RTS_UI32 id, RTS_UI32 periodMs) override {
        return SetTimer(static_cast<HWND>(window), id, periodMs, nullptr) != 0;
    }

    /* Ends when getting fails, which it does once the window is destroyed. */
    void run_message_loop(RTS_HANDLE window) override {
        MSG message{};
        while (GetMessageA(&message, static_cast<HWND>(window), 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }

    void post_close(RTS_HANDLE window) override { PostMessageA(static_cast<HWND>(window), WM_CLOSE, 0, 0); }

    Point cursor_position() override {
        POINT cursor{};
        GetCursorPos(&cursor);
        return {cursor.x, cursor.y};
    }

    RTS_HANDLE load_menu(RTS_HANDLE instance, RTS_UI32 id) override {
        return LoadMenuA(module(instance), MAKEINTRESOURCEA(id));
    }

    void enable_menu_item(RTS_HANDLE menu, RTS_UI32 item, bool enabled) override {
        EnableMenuItem(GetSubMenu(static_cast<HMENU>(menu), 0), item,
                       MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }

    void set_foreground(RTS_HANDLE window) override { SetForegroundWindow(static_cast<HWND>(window)); }

    RTS_UI32 track_popup_menu(RTS_HANDLE menu, Point at, RTS_HANDLE window) override {
        return static_cast<RTS_UI32>(TrackPopupMenu(GetSubMenu(static_cast<HMENU>(menu), 0),
                                                    TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, at.x,
                                                    at.y, 0, static_cast<HWND>(window), nullptr));
    }

    void destroy_menu(RTS_HANDLE menu) override { DestroyMenu(static_cast<HMENU>(menu)); }

    /* One byte is kept back for the terminator the registry does not promise. */
    RegistryRead machine_registry_string(const char* key, const char* value, char* buffer,
                                         RTS_UI32 size) override {
        HKEY opened = nullptr;
        if (size == 0 || RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
            return RegistryRead::NoKey;
        DWORD bytes = size - 1;
        const LSTATUS status =
            RegQueryValueExA(opened, value, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes);
        RegCloseKey(opened);
        if (status != ERROR_SUCCESS) return RegistryRead::NoValue;
        buffer[bytes] = '\0';
        return RegistryRead::Ok;
    }

    RTS_UI32 profile_string(const char* file, const char* section, const char* key, char* buffer,
                            RTS_UI32 size) override {
        return GetPrivateProfileStringA(section, key, "", buffer, size, file);
    }

    RTS_UI32 write_profile_string(const RTS_WCHAR* file, const RTS_WCHAR* section, const RTS_WCHAR* key,
                                  const RTS_WCHAR* value) override {
        SetLastError(ERROR_SUCCESS);
        return WritePrivateProfileStringW(wide(section), wide(key), wide(value), wide(file)) ? 0
                                                                                             : GetLastError();
    }

    Lookup environment_variable(const char* name, char* buffer, RTS_UI32 size) override {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableA(name, buffer, size);
        if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return Lookup::Missing;
        if (length < size) return Lookup::Found;
        if (size > 0) buffer[0] = '\0';
        return Lookup::TooLong;
    }

    bool expand_environment(const char* text, char* buffer, RTS_UI32 size) override {
        const DWORD needed = ExpandEnvironmentStringsA(text, buffer, size);
        return needed != 0 && needed <= size;
    }

    bool is_wow64_process(bool& emulated) override {
        BOOL wow64 = FALSE;
        if (!IsWow64Process(GetCurrentProcess(), &wow64)) return false;
        emulated = wow64 != FALSE;
        return true;
    }

    /* A path cut to the buffer counts as a failure, whatever error the platform gives with it. */
    bool module_file_name(char* buffer, RTS_UI32 size, RTS_UI32& error) override {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetModuleFileNameA(nullptr, buffer, size);
        error = GetLastError();
        return length != 0 && length < size;
    }

    void error_text(RTS_UI32 error, char* buffer, RTS_UI32 size) override {
        if (size == 0) return;
        buffer[0] = '\0';
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buffer,
                       size, nullptr);
    }

    RTS_INTPTR shell_execute(const char* verb, const char* file, const char* parameters,
                             RTS_UI32& error) override {
        SetLastError(ERROR_SUCCESS);
        const auto answer = reinterpret_cast<RTS_INTPTR>(
            ShellExecuteA(nullptr, verb, file, parameters, nullptr, SW_SHOWNORMAL));
        error = GetLastError();
        return answer;
    }

    void sleep(RTS_UI32 ms) override { Sleep(ms); }

private:
    PAINTSTRUCT paint_{}; /* of the one paint in progress on the program's thread */
};

} // namespace

NOTIFYICONDATAA notify_record(const IconRecord& record) {
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = static_cast<HWND>(record.window);
    data.uID = record.id;
    data.uFlags = record.flags;
    data.uCallbackMessage = record.callbackMessage;
    data.hIcon = static_cast<HICON>(record.icon);
    std::memcpy(data.szTip, record.tip, sizeof data.szTip);
    return data;
}

Desktop& platform() {
    static Win32Desktop windows;
    return windows;
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
