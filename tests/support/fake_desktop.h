/* The scripted desktop of the tray and edge-mode tests: it answers from a few fields and notes,
 * as lines of text, the calls that carry what the program decided (icon changes, boxes, menus,
 * painting, channel requests, sleeps, profile writes, launches). While one exists it is the
 * desktop in use, its gateway answers the channel, and its window procedure is the tray's. */
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "desktop.h"
#include "edge_mode.h"
#include "resources/strings.h"
#include "service_control.h"
#include "tray.h"

namespace testdesk {

using Lines = std::vector<std::string>;

inline RTS_HANDLE const kWindow = reinterpret_cast<RTS_HANDLE>(0x3A11);
constexpr RTS_UI32 kStopped = 1, kRunning = 4, kTaskbarCreated = 0xC0DE;

/* Answers from a short script and notes the calls that carry what the tray and the edge mode
 * decided. */
struct FakeDesktop final : desktop::Desktop {
    FakeDesktop();
    ~FakeDesktop() override;
    RTS_INTPTR send(RTS_UI32 id, RTS_UINTPTR wParam = 0, RTS_INTPTR lParam = 0) {
        RTS_INTPTR result = -1;
        EXPECT_TRUE(procedure(kWindow, {id, wParam, lParam}, result)) << id;
        return result;
    }

    RTS_UI32 menuChoice = 0, missingIcon = 0, gatewayState = kStopped;
    bool refuseNextChange = false, windowFails = false, edgeInLoop = false;
    desktop::Size picture = {300, 340};
    RTS_I32 charWidth = 7, menusOpen = 0;
    std::string displayName;
    Lines calls;
    desktop::Procedure procedure = nullptr;

    /* The edge mode's texts as the program has them; "T" for every other string. */
    int load_string(RTS_HANDLE, RTS_UI32 id, char* buffer, int size) override {
        const std::map<RTS_UI32, const char*> texts = {{IDS_SERVICE_NAME, STR_SERVICE_NAME},
                                                       {IDS_EDGE_CONFIRM_CAPTION, STR_EDGE_CONFIRM_CAPTION},
                                                       {IDS_EDGE_CONFIRM_TEXT, STR_EDGE_CONFIRM_TEXT},
                                                       {IDS_EDGE_MANUAL_CAPTION, STR_EDGE_MANUAL_CAPTION},
                                                       {IDS_EDGE_MANUAL_MIDDLE, STR_EDGE_MANUAL_MIDDLE},
                                                       {IDS_EDGE_MANUAL_FIRST, STR_EDGE_MANUAL_FIRST},
                                                       {IDS_EDGE_MANUAL_LAST, STR_EDGE_MANUAL_LAST}};
        const auto text = texts.find(id);
        return std::snprintf(buffer, static_cast<RTS_SIZE>(size), "%s",
                             text != texts.end() ? text->second : "T");
    }
    RTS_HANDLE load_icon(RTS_HANDLE, RTS_UI32 id, RTS_UI32* error) override {
        *error = id == missingIcon ? 1813 : 0;
        return *error ? nullptr : reinterpret_cast<RTS_HANDLE>(static_cast<RTS_UINTPTR>(id));
    }
    bool notify_icon(desktop::IconAction action, const desktop::IconRecord& record) override {
        static const char* const kActions[] = {"add ", "modify ", "delete "};
        calls.push_back(kActions[static_cast<int>(action)] +
                        std::to_string(reinterpret_cast<RTS_UINTPTR>(record.icon)) + " " +
                        std::string(record.tip, strnlen(record.tip, sizeof record.tip)));
        return !std::exchange(refuseNextChange, false);
    }
    desktop::BoxAnswer message_box(const char* text, const char* caption, desktop::BoxIcon icon,
                                   desktop::BoxButtons) override {
        calls.push_back(std::string("box ") + caption + " | " + text + " | " +
                        std::to_string(static_cast<int>(icon)));
        return answer;
    }
    RTS_INTPTR dialog_box(RTS_HANDLE, RTS_UI32, desktop::Procedure dialog) override {
        RTS_INTPTR result = 0; /* the dialog starts, paints and is cancelled */
        for (RTS_UI32 id : {desktop::kMessageInitDialog, desktop::kMessagePaint, desktop::kMessageCommand})
            EXPECT_TRUE(dialog(kWindow, {id, desktop::kCommandCancel, 0}, result)) << id;
        return result;
    }
    void end_dialog(RTS_HANDLE, RTS_INTPTR) override {}
    desktop::Size item_size(RTS_HANDLE, RTS_UI32) override { return picture; }
    desktop::Size screen_size() override { return {1024, 768}; }
    void move_window(RTS_HANDLE, const desktop::Placement& p) override {
        calls.push_back("move " + std::to_string(p.left) + " " + std::to_string(p.top) + " " +
                        std::to_string(p.width) + " " + std::to_string(p.height));
    }
    RTS_HANDLE begin_paint(RTS_HANDLE) override { return nullptr; }
    void white_rectangle(RTS_HANDLE, const desktop::Rect& r) override {
        calls.push_back("rectangle " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                        std::to_string(r.right) + " " + std::to_string(r.bottom));
    }
    RTS_I32 text_width(RTS_HANDLE, const char* text) override {
        return charWidth * static_cast<RTS_I32>(std::strlen(text));
    }
    void text_out(RTS_HANDLE, RTS_I32 x, RTS_I32 y, const char* text) override {
        calls.push_back("text_out " + std::to_string(x) + " " + std::to_string(y) + " " + text);
    }
    void end_paint(RTS_HANDLE) override {}
    void service_display_name(const char*, char* buffer, RTS_UI32 size) override {
        std::snprintf(buffer, size, "%s", displayName.c_str());
    }
    bool other_instance_running(const char*) override { return false; }
    RTS_HANDLE create_main_window(RTS_HANDLE, const char*, desktop::Procedure window) override {
        procedure = window;
        return windowFails ? nullptr : kWindow;
    }
    RTS_UI32 register_message(const char*) override { return kTaskbarCreated; }
    bool set_timer(RTS_HANDLE, RTS_UI32, RTS_UI32) override { return true; }
    void run_message_loop(RTS_HANDLE) override {
        edgeInLoop = ClearFurtherCommandHandler(EdgeModeCommandHandler) == 1;
        SetFurtherCommandHandler(EdgeModeCommandHandler);
    }
    void post_close(RTS_HANDLE) override {}
    desktop::Point cursor_position() override { return {}; }
    RTS_HANDLE load_menu(RTS_HANDLE, RTS_UI32) override { return ++menusOpen, nullptr; }
    void enable_menu_item(RTS_HANDLE, RTS_UI32, bool) override {}
    void set_foreground(RTS_HANDLE) override {}
    RTS_UI32 track_popup_menu(RTS_HANDLE, desktop::Point, RTS_HANDLE) override {
        calls.push_back("menu");
        return menuChoice;
    }
    void destroy_menu(RTS_HANDLE) override { --menusOpen; }

    /* The edge mode's platform: the service entry, profile values by "file|section|key", the
     * environment, and the answers of the rest. Errors show as "text of <code>". */
    desktop::BoxAnswer answer = desktop::BoxAnswer::Ok;
    desktop::RegistryRead registry = desktop::RegistryRead::Ok;
    std::string imagePath, modulePath = "C:\\GC\\GatewayControl.exe";
    std::map<std::string, std::string> profile, environment;
    int wow64 = 0; /* 1: a 32-bit process on a 64-bit system, -1: the question fails */
    RTS_UI32 moduleError = 0, writeError = 0, launchError = 0;
    RTS_INTPTR launchAnswer = 42;
    int stopsToStop = 1, startsToRun = 1; /* requests until the gateway changes; 0: never */

    desktop::RegistryRead machine_registry_string(const char* key, const char* value, char* buffer,
                                                  RTS_UI32 size) override {
        calls.push_back(std::string("registry ") + key + " " + value);
        std::snprintf(buffer, size, "%s", imagePath.c_str());
        return registry;
    }
    RTS_UI32 profile_string(const char* file, const char* section, const char* key, char* buffer,
                            RTS_UI32 size) override {
        const std::string value = profile[std::string(file) + "|" + section + "|" + key];
        std::snprintf(buffer, size, "%s", value.c_str());
        return static_cast<RTS_UI32>(std::min<RTS_SIZE>(value.size(), size - 1));
    }
    RTS_UI32 write_profile_string(const RTS_WCHAR* file, const RTS_WCHAR* section, const RTS_WCHAR* key,
                                  const RTS_WCHAR* value) override {
        calls.push_back("write " + narrow(file) + " [" + narrow(section) + "] " + narrow(key) + "=" +
                        narrow(value));
        return writeError;
    }
    desktop::Lookup environment_variable(const char* name, char* buffer, RTS_UI32 size) override {
        const auto found = environment.find(name);
        if (found == environment.end()) return desktop::Lookup::Missing;
        return std::snprintf(buffer, size, "%s", found->second.c_str()) < static_cast<int>(size)
                   ? desktop::Lookup::Found
                   : (buffer[0] = '\0', desktop::Lookup::TooLong);
    }
    bool expand_environment(const char* text, char* buffer, RTS_UI32 size) override {
        const std::string root = "%SystemRoot%", folder = environment["SystemRoot"] + (text + root.size());
        return std::snprintf(buffer, size, "%s", folder.c_str()) < static_cast<int>(size);
    }
    bool is_wow64_process(bool& emulated) override { return emulated = wow64 == 1, wow64 >= 0; }
    bool module_file_name(char* buffer, RTS_UI32 size, RTS_UI32& error) override {
        error = moduleError;
        return std::snprintf(buffer, size, "%s", modulePath.c_str()), !modulePath.empty();
    }
    void error_text(RTS_UI32 error, char* buffer, RTS_UI32 size) override {
        std::snprintf(buffer, size, "text of %u", error);
    }
    RTS_INTPTR shell_execute(const char* verb, const char* file, const char* parameters,
                             RTS_UI32& error) override {
        calls.push_back(std::string("shell ") + verb + " " + file + " " + parameters);
        error = launchError;
        return launchAnswer;
    }
    void sleep(RTS_UI32 ms) override { calls.push_back("sleep " + std::to_string(ms)); }

    static std::string narrow(const RTS_WCHAR* text) {
        std::string out;
        while (*text != 0) out.push_back(static_cast<char>(*text++));
        return out;
    }
};

inline FakeDesktop* g_fake = nullptr;

/* The gateway behind the channel: a query answers its state; a start or stop is noted and
 * changes the state once the fake's count of such requests runs out. */
inline RTS_RESULT fake_request(RTS_UI32 command, const char* service, RTS_UI32* pState) {
    if (command == service_control::kCommandQuery) {
        *pState = g_fake->gatewayState;
        return RES_OK;
    }
    const bool start = command == service_control::kCommandStart;
    g_fake->calls.push_back((start ? "start " : "stop ") + std::string(service));
    int& left = start ? g_fake->startsToRun : g_fake->stopsToStop;
    if (left > 0 && --left == 0) g_fake->gatewayState = start ? kRunning : kStopped;
    return RES_OK;
}
inline RTS_RESULT fake_hook(RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR*, int) {
    g_fake->calls.push_back("hook " + std::to_string(hook));
    return RES_OK;
}
constexpr tray::Ops kFakeOps = {fake_request, fake_hook};

inline FakeDesktop::FakeDesktop() {
    g_fake = this;
    desktop::use(this);
    tray::set_ops(&kFakeOps);
    edge_mode::set_request(fake_request);
}
inline FakeDesktop::~FakeDesktop() {
    tray::set_ops(nullptr);
    edge_mode::set_request(nullptr);
    desktop::use(nullptr);
    EXPECT_EQ(menusOpen, 0); /* every menu shown was destroyed again */
}

} // namespace testdesk
