/* A scripted desktop for the tray's tests: it answers boxes, menus, icon changes and dialogs
 * from a script, plays scripted messages to the main window and the dialogs, stands in for the
 * gateway behind the service-control channel, and writes every call into one transcript. While
 * it exists it is the desktop in use and the tray's channel and hook calls come to it. */
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "desktop.h"

namespace testtray {

class FakeDesktop final : public desktop::Desktop {
public:
    FakeDesktop();
    ~FakeDesktop() override;
    FakeDesktop(const FakeDesktop&) = delete;
    FakeDesktop& operator=(const FakeDesktop&) = delete;

    /* Script. */
    std::map<RTS_UI32, std::string> strings;   /* the program's string table */
    std::set<RTS_UI32> missingIcons;           /* load_icon fails for these with kIconError */
    std::deque<bool> notifyResults;            /* then true */
    std::deque<desktop::BoxAnswer> boxAnswers; /* then Ok (Yes for a Yes/No box) */
    std::deque<RTS_UI32> menuChoices;          /* then 0, the dismissed menu */
    bool otherInstance = false;
    bool windowFails = false;
    desktop::Size picture = {300, 340};
    desktop::Size screen = {1024, 768};
    RTS_I32 charWidth = 7; /* text_width: this many units per character */
    std::string displayName = "KELVARO Gateway V3";
    std::vector<desktop::Message> dialogMessages; /* played to every dialog that opens */
    std::vector<desktop::Message> loopMessages;   /* played by the message loop until closed */
    std::function<void()> inLoop;                 /* runs once the loop has played its messages */
    /* The gateway: what a query answers. */
    RTS_RESULT queryResult = RES_OK;
    RTS_UI32 gatewayState = 1;

    /* Record. */
    std::vector<std::string> calls;
    std::vector<desktop::IconRecord> records; /* every record handed to notify_icon */
    std::vector<RTS_INTPTR> dialogResults;
    desktop::Procedure windowProcedure = nullptr;
    RTS_HANDLE window = nullptr;
    bool closed = false;

    static constexpr RTS_UI32 kIconError = 1813;
    static constexpr RTS_UI32 kTaskbarCreated = 0xC0DE;

    /* Sends a message to the main window's procedure; its result. */
    RTS_INTPTR send(RTS_UI32 id, RTS_UINTPTR wParam = 0, RTS_INTPTR lParam = 0);
    /* The calls recorded from index first on. */
    std::vector<std::string> since(RTS_SIZE first) const;

    int load_string(RTS_HANDLE instance, RTS_UI32 id, char* buffer, int size) override;
    RTS_HANDLE load_icon(RTS_HANDLE instance, RTS_UI32 id, RTS_UI32* error) override;
    bool notify_icon(desktop::IconAction action, const desktop::IconRecord& record) override;
    desktop::BoxAnswer message_box(const char* text, const char* caption, desktop::BoxIcon icon,
                                   desktop::BoxButtons buttons) override;
    RTS_INTPTR dialog_box(RTS_HANDLE instance, RTS_UI32 templateId, desktop::Procedure procedure) override;
    void end_dialog(RTS_HANDLE dialog, RTS_INTPTR result) override;
    desktop::Size item_size(RTS_HANDLE dialog, RTS_UI32 itemId) override;
    desktop::Size screen_size() override;
    void move_window(RTS_HANDLE window, const desktop::Placement& placement) override;
    RTS_HANDLE begin_paint(RTS_HANDLE window) override;
    void white_rectangle(RTS_HANDLE canvas, const desktop::Rect& rect) override;
    RTS_I32 text_width(RTS_HANDLE canvas, const char* text) override;
    void text_out(RTS_HANDLE canvas, RTS_I32 x, RTS_I32 y, const char* text) override;
    void end_paint(RTS_HANDLE window) override;
    void service_display_name(const char* serviceName, char* buffer, RTS_UI32 size) override;
    bool other_instance_running(const char* windowClass) override;
    RTS_HANDLE create_main_window(RTS_HANDLE instance, const char* windowClass,
                                  desktop::Procedure procedure) override;
    RTS_UI32 register_message(const char* name) override;
    bool set_timer(RTS_HANDLE window, RTS_UI32 id, RTS_UI32 periodMs) override;
    void run_message_loop(RTS_HANDLE window) override;
    void post_close(RTS_HANDLE window) override;
    desktop::Point cursor_position() override;
    RTS_HANDLE load_menu(RTS_HANDLE instance, RTS_UI32 id) override;
    void enable_menu_item(RTS_HANDLE menu, RTS_UI32 item, bool enabled) override;
    void set_foreground(RTS_HANDLE window) override;
    RTS_UI32 track_popup_menu(RTS_HANDLE menu, desktop::Point at, RTS_HANDLE window) override;
    void destroy_menu(RTS_HANDLE menu) override;

private:
    void note(const std::string& call) { calls.push_back(call); }
    std::vector<bool> dialogEnded_;
};

} // namespace testtray
