/* The desktop port: everything the program needs from the desktop it runs on, and nothing it
 * decides. The tray, the program entry and the edge mode reach the desktop only through the
 * Desktop interface; the platform gives one (the Windows desktop, or on POSIX the terminal
 * desktop that turns icon changes into lines on standard output and reads menu commands and
 * answers from standard input), and the tests put a scripted one in its place. Messages keep
 * the numbers the Windows desktop gives them, so it passes its own through unchanged. */
#ifndef DESKTOP_H
#define DESKTOP_H

#include "rts_types.h"

namespace desktop {

/* What a read of a string value from the local machine's registry found. */
enum class RegistryRead { Ok, NoKey, NoValue };
/* What a look-up of an environment variable found; TooLong leaves the buffer empty. */
enum class Lookup { Found, Missing, TooLong };

/* Messages the program's window and dialog procedures act on. */
constexpr RTS_UI32 kMessagePaint = 0x000F;
constexpr RTS_UI32 kMessageKeyDown = 0x0100;
constexpr RTS_UI32 kMessageInitDialog = 0x0110;
constexpr RTS_UI32 kMessageCommand = 0x0111;
constexpr RTS_UI32 kMessageTimer = 0x0113;
constexpr RTS_UI32 kMessageLeftButtonDown = 0x0201;
constexpr RTS_UI32 kMessageLeftButtonUp = 0x0202;
constexpr RTS_UI32 kMessageRightButtonDown = 0x0204;
constexpr RTS_UI32 kMessageRightButtonUp = 0x0205;

/* Command ids of a dialog's OK and Cancel. */
constexpr RTS_UI32 kCommandOk = 1;
constexpr RTS_UI32 kCommandCancel = 2;

struct Message {
    RTS_UI32 id;
    RTS_UINTPTR wParam;
    RTS_INTPTR lParam;
};

/* A window or dialog procedure: true when it handled the message (and set result), false when
 * the desktop's default handling is to take over. */
using Procedure = bool (*)(RTS_HANDLE window, const Message& message, RTS_INTPTR& result);

struct Point {
    RTS_I32 x;
    RTS_I32 y;
};
struct Size {
    RTS_I32 width;
    RTS_I32 height;
};
struct Rect {
    RTS_I32 left;
    RTS_I32 top;
    RTS_I32 right;
    RTS_I32 bottom;
};
/* Where a window goes on the screen: its top-left corner and its outer size. */
struct Placement {
    RTS_I32 left;
    RTS_I32 top;
    RTS_I32 width;
    RTS_I32 height;
};

/* The notification-area icon: what to do with it, and the record that describes it. */
enum class IconAction : RTS_UI32 { Add = 0, Modify = 1, Delete = 2 };
constexpr RTS_UI32 kIconFlagMessage = 0x1; /* callbackMessage is valid */
constexpr RTS_UI32 kIconFlagIcon = 0x2;    /* icon is valid */
constexpr RTS_UI32 kIconFlagTip = 0x4;     /* tip is valid */
constexpr RTS_SIZE kIconTipSize = 128;

struct IconRecord {
    RTS_HANDLE window = nullptr; /* receives callbackMessage */
    RTS_UI32 id = 0;             /* tells the program's icons apart */
    RTS_UI32 flags = 0;
    RTS_UI32 callbackMessage = 0; /* wParam: id, lParam: the mouse message */
    RTS_HANDLE icon = nullptr;
    char tip[kIconTipSize] = {}; /* terminated only when shorter than the field */
};

enum class BoxIcon { None, Error, Warning };
enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxAnswer { Ok, Cancel, Yes, No };

class Desktop {
public:
    virtual ~Desktop() = default;

    /* Resources of the program module instance. */
    /* Copies string-table entry id into buffer (at most size-1 characters, always terminated)
     * and returns the number of characters copied; 0 and an empty buffer when it is missing. */
    virtual int load_string(RTS_HANDLE instance, RTS_UI32 id, char* buffer, int size) = 0;
    /* The icon resource id at the notification area's size; null when it cannot be loaded,
     * with the platform's error code in *error. */
    virtual RTS_HANDLE load_icon(RTS_HANDLE instance, RTS_UI32 id, RTS_UI32* error) = 0;

    /* Adds, changes or removes the notification-area icon; true when the desktop took it. */
    virtual bool notify_icon(IconAction action, const IconRecord& record) = 0;

    /* A modal message box without owner; the answer is the button that closed it. */
    virtual BoxAnswer message_box(const char* text, const char* caption, BoxIcon icon,
                                  BoxButtons buttons) = 0;

    /* Dialog templateId shown modally without owner, driven by procedure; returns the result
     * given to end_dialog. */
    virtual RTS_INTPTR dialog_box(RTS_HANDLE instance, RTS_UI32 templateId, Procedure procedure) = 0;
    virtual void end_dialog(RTS_HANDLE dialog, RTS_INTPTR result) = 0;
    /* The client area of control itemId of a dialog. */
    virtual Size item_size(RTS_HANDLE dialog, RTS_UI32 itemId) = 0;
    virtual Size screen_size() = 0;
    /* Moves and sizes a window and repaints it. */
    virtual void move_window(RTS_HANDLE window, const Placement& placement) = 0;

    /* Painting of a window, between begin_paint and end_paint; the canvas is what begin_paint
     * returned. */
    virtual RTS_HANDLE begin_paint(RTS_HANDLE window) = 0;
    /* A rectangle outlined with the white pen and filled with the current brush. */
    virtual void white_rectangle(RTS_HANDLE canvas, const Rect& rect) = 0;
    virtual RTS_I32 text_width(RTS_HANDLE canvas, const char* text) = 0;
    virtual void text_out(RTS_HANDLE canvas, RTS_I32 x, RTS_I32 y, const char* text) = 0;
    virtual void end_paint(RTS_HANDLE window) = 0;

    /* The display name of a service as the service manager knows it, in at most size
     * characters with the terminator; empty when it is not known. */
    virtual void service_display_name(const char* serviceName, char* buffer, RTS_UI32 size) = 0;

    /* True when another instance of the program shows its main window of windowClass. */
    virtual bool other_instance_running(const char* windowClass) = 0;
    /* Registers windowClass with procedure and creates the hidden main window of that class;
     * null when it cannot be created. */
    virtual RTS_HANDLE create_main_window(RTS_HANDLE instance, const char* windowClass,
                                          Procedure procedure) = 0;
    /* The message number the desktop uses for a message known by name. */
    virtual RTS_UI32 register_message(const char* name) = 0;
    /* Sends timer message id to window every periodMs. */
    virtual bool set_timer(RTS_HANDLE window, RTS_UI32 id, RTS_UI32 periodMs) = 0;
    /* Delivers the messages of window to its procedure until the window is gone. */
    virtual void run_message_loop(RTS_HANDLE window) = 0;
    /* Asks window to close; its default handling destroys it, which ends the message loop. */
    virtual void post_close(RTS_HANDLE window) = 0;

    /* The pop-up menu: loaded from the first pop-up of menu resource id, its items enabled or
     * greyed, tracked at a point for window and destroyed again. */
    virtual Point cursor_position() = 0;
    virtual RTS_HANDLE load_menu(RTS_HANDLE instance, RTS_UI32 id) = 0;
    virtual void enable_menu_item(RTS_HANDLE menu, RTS_UI32 item, bool enabled) = 0;
    /* Makes window the foreground window, so that a menu it shows closes on a click elsewhere. */
    virtual void set_foreground(RTS_HANDLE window) = 0;
    /* Shows the menu until the user picks an item (either mouse button selects) and returns its
     * command id, 0 when the menu was dismissed; nothing is sent to window. */
    virtual RTS_UI32 track_popup_menu(RTS_HANDLE menu, Point at, RTS_HANDLE window) = 0;
    virtual void destroy_menu(RTS_HANDLE menu) = 0;

    /* The platform calls of the edge configuration mode. An error is the platform's code for
     * what went wrong, 0 when it reported none. */
    /* String value of key under the local machine's root into size bytes, terminated; a value
     * that does not fit counts as NoValue. */
    virtual RegistryRead machine_registry_string(const char* key, const char* value, char* buffer,
                                                 RTS_UI32 size) = 0;
    /* The value of key in [section] of a private-profile file, at most size-1 characters and
     * empty when file, section or key is missing; returns its length. */
    virtual RTS_UI32 profile_string(const char* file, const char* section, const char* key, char* buffer,
                                    RTS_UI32 size) = 0;
    /* Sets key=value in [section] of file, creating the file, the section or the key as needed;
     * 0 when written, else the error. */
    virtual RTS_UI32 write_profile_string(const RTS_WCHAR* file, const RTS_WCHAR* section,
                                          const RTS_WCHAR* key, const RTS_WCHAR* value) = 0;
    /* The value of environment variable name, at most size-1 characters. */
    virtual Lookup environment_variable(const char* name, char* buffer, RTS_UI32 size) = 0;
    /* text with each %NAME% of a set variable replaced by its value; false when that does not
     * fit into size characters with the terminator. */
    virtual bool expand_environment(const char* text, char* buffer, RTS_UI32 size) = 0;
    /* Whether this process runs as a 32-bit process on a 64-bit system; false when the platform
     * cannot tell. */
    virtual bool is_wow64_process(bool& emulated) = 0;
    /* The program's own file path; false, with the error, when it cannot be had or does not fit. */
    virtual bool module_file_name(char* buffer, RTS_UI32 size, RTS_UI32& error) = 0;
    /* The platform's message text for error (empty when it has none). */
    virtual void error_text(RTS_UI32 error, char* buffer, RTS_UI32 size) = 0;
    /* Opens file with parameters through the shell's verb, shown normally, in no particular
     * working directory. Returns the shell's answer, above 32 when started; otherwise error is
     * set. */
    virtual RTS_INTPTR shell_execute(const char* verb, const char* file, const char* parameters,
                                     RTS_UI32& error) = 0;
    /* Blocks the program's thread for ms milliseconds. */
    virtual void sleep(RTS_UI32 ms) = 0;
};

/* The desktop of this platform. */
Desktop& platform();
/* The desktop in use: the platform's, or the one put in place by use (null restores it). */
Desktop& current();
void use(Desktop* desktop);

/* Sends standard output to the console of the parent process; false when there is none
 * (the output is then lost). */
bool attach_parent_console();

/* Blocks the calling thread for ms milliseconds. */
void sleep_ms(RTS_UI32 ms);

/* Milliseconds of a monotonic clock as a 32-bit counter that wraps. */
RTS_UI32 tick_ms();

} // namespace desktop

#endif
