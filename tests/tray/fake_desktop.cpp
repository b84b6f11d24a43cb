/* The scripted desktop: each call appends one line to the transcript and answers from the
 * script. The line formats are the ones the tray tests compare with. */
#include "fake_desktop.h"

#include <cstdio>
#include <cstring>

#include "resources/strings.h"
#include "service_control_block.h"
#include "tray.h"

namespace testtray {

namespace {

RTS_HANDLE const kMainWindow = reinterpret_cast<RTS_HANDLE>(0x3A11);
RTS_HANDLE const kMenu = reinterpret_cast<RTS_HANDLE>(0x3E2E);
RTS_HANDLE const kCanvas = reinterpret_cast<RTS_HANDLE>(0xCA2A);

FakeDesktop* g_active = nullptr;

RTS_RESULT fake_request(RTS_UI32 command, const char* serviceName, RTS_UI32* pState) {
    g_active->calls.push_back("request " + std::to_string(command) + " " + serviceName);
    if (command != service_control::kCommandQuery) return RES_OK;
    if (g_active->queryResult == RES_OK && pState != nullptr) *pState = g_active->gatewayState;
    return g_active->queryResult;
}

RTS_RESULT fake_hook(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR* pCursor, int reverse) {
    const bool plain = param1 == 0 && pCursor == nullptr && reverse == 0;
    g_active->calls.push_back("hook " + std::to_string(hook) + (plain ? "" : " with arguments"));
    return RES_OK;
}

constexpr tray::Ops kFakeOps = {fake_request, fake_hook};

const char* action_name(desktop::IconAction action) {
    switch (action) {
        case desktop::IconAction::Add:
            return "add";
        case desktop::IconAction::Modify:
            return "modify";
        case desktop::IconAction::Delete:
            return "delete";
    }
    return "?";
}

/* The dialog handles are 1, 2, ... in the order the dialogs open. */
RTS_SIZE dialog_index(RTS_HANDLE dialog) {
    return reinterpret_cast<RTS_UINTPTR>(dialog) - 1;
}

} // namespace

FakeDesktop::FakeDesktop() {
    strings = {{IDS_EXIT_CONFIRM, STR_EXIT_CONFIRM},
               {IDS_APP_TITLE, STR_APP_TITLE},
               {IDS_COMPANY, STR_COMPANY},
               {IDS_SERVICE_NAME, STR_SERVICE_NAME},
               {IDS_MAIN_WINDOW_CLASS, STR_MAIN_WINDOW_CLASS}};
    g_active = this;
    desktop::use(this);
    tray::set_ops(&kFakeOps);
}

FakeDesktop::~FakeDesktop() {
    tray::set_ops(nullptr);
    desktop::use(nullptr);
    g_active = nullptr;
}

RTS_INTPTR FakeDesktop::send(RTS_UI32 id, RTS_UINTPTR wParam, RTS_INTPTR lParam) {
    RTS_INTPTR result = -1;
    if (windowProcedure == nullptr || !windowProcedure(window, {id, wParam, lParam}, result))
        note("default handling " + std::to_string(id));
    return result;
}

std::vector<std::string> FakeDesktop::since(RTS_SIZE first) const {
    return {calls.begin() + static_cast<std::ptrdiff_t>(std::min(first, calls.size())), calls.end()};
}

int FakeDesktop::load_string(RTS_HANDLE instance, RTS_UI32 id, char* buffer, int size) {
    note("string " + std::to_string(id));
    const auto found = strings.find(id);
    const std::string text = found != strings.end() ? found->second : "";
    std::snprintf(buffer, static_cast<RTS_SIZE>(size), "%s", text.c_str());
    return static_cast<int>(std::strlen(buffer));
}

RTS_HANDLE FakeDesktop::load_icon(RTS_HANDLE instance, RTS_UI32 id, RTS_UI32* error) {
    note("icon " + std::to_string(id));
    if (missingIcons.count(id) == 0) return reinterpret_cast<RTS_HANDLE>(static_cast<RTS_UINTPTR>(id));
    *error = kIconError;
    return nullptr;
}

bool FakeDesktop::notify_icon(desktop::IconAction action, const desktop::IconRecord& record) {
    records.push_back(record);
    const bool tip = (record.flags & desktop::kIconFlagTip) != 0;
    note(std::string("notify ") + action_name(action) +
         (tip ? " " + std::string(record.tip, strnlen(record.tip, sizeof record.tip)) : ""));
    if (notifyResults.empty()) return true;
    const bool taken = notifyResults.front();
    notifyResults.pop_front();
    return taken;
}

desktop::BoxAnswer FakeDesktop::message_box(const char* text, const char* caption, desktop::BoxIcon icon,
                                            desktop::BoxButtons buttons) {
    static const char* const kIcons[] = {"none", "error", "warning"};
    static const char* const kButtons[] = {"ok", "ok-cancel", "yes-no"};
    note(std::string("box ") + caption + " | " + text + " | " + kIcons[static_cast<int>(icon)] + " " +
         kButtons[static_cast<int>(buttons)]);
    const desktop::BoxAnswer fallback =
        buttons == desktop::BoxButtons::YesNo ? desktop::BoxAnswer::Yes : desktop::BoxAnswer::Ok;
    if (boxAnswers.empty()) return fallback;
    const desktop::BoxAnswer answer = boxAnswers.front();
    boxAnswers.pop_front();
    return answer;
}

RTS_INTPTR FakeDesktop::dialog_box(RTS_HANDLE instance, RTS_UI32 templateId, desktop::Procedure procedure) {
    note("dialog " + std::to_string(templateId));
    dialogEnded_.push_back(false);
    auto* dialog = reinterpret_cast<RTS_HANDLE>(static_cast<RTS_UINTPTR>(dialogEnded_.size()));
    dialogResults.push_back(0);
    for (const desktop::Message& message : dialogMessages) {
        if (dialogEnded_[dialog_index(dialog)]) break;
        RTS_INTPTR ignored = 0;
        if (!procedure(dialog, message, ignored))
            note("dialog default handling " + std::to_string(message.id));
    }
    return dialogResults[dialog_index(dialog)];
}

void FakeDesktop::end_dialog(RTS_HANDLE dialog, RTS_INTPTR result) {
    note("end_dialog " + std::to_string(result));
    dialogEnded_.at(dialog_index(dialog)) = true;
    dialogResults.at(dialog_index(dialog)) = result;
}

desktop::Size FakeDesktop::item_size(RTS_HANDLE dialog, RTS_UI32 itemId) {
    note("item_size " + std::to_string(itemId));
    return picture;
}

desktop::Size FakeDesktop::screen_size() {
    note("screen_size");
    return screen;
}

void FakeDesktop::move_window(RTS_HANDLE window, const desktop::Placement& p) {
    note("move " + std::to_string(p.left) + " " + std::to_string(p.top) + " " + std::to_string(p.width) +
         " " + std::to_string(p.height));
}

RTS_HANDLE FakeDesktop::begin_paint(RTS_HANDLE window) {
    note("begin_paint");
    return kCanvas;
}

void FakeDesktop::white_rectangle(RTS_HANDLE canvas, const desktop::Rect& r) {
    note("rectangle " + std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) +
         " " + std::to_string(r.bottom));
}

RTS_I32 FakeDesktop::text_width(RTS_HANDLE canvas, const char* text) {
    return charWidth * static_cast<RTS_I32>(std::strlen(text));
}

void FakeDesktop::text_out(RTS_HANDLE canvas, RTS_I32 x, RTS_I32 y, const char* text) {
    note("text_out " + std::to_string(x) + " " + std::to_string(y) + " " + text);
}

void FakeDesktop::end_paint(RTS_HANDLE window) {
    note("end_paint");
}

void FakeDesktop::service_display_name(const char* serviceName, char* buffer, RTS_UI32 size) {
    note(std::string("display_name ") + serviceName + " " + std::to_string(size));
    std::snprintf(buffer, size, "%s", displayName.c_str());
}

bool FakeDesktop::other_instance_running(const char* windowClass) {
    note(std::string("other_instance ") + windowClass);
    return otherInstance;
}

RTS_HANDLE FakeDesktop::create_main_window(RTS_HANDLE instance, const char* windowClass,
                                           desktop::Procedure procedure) {
    note(std::string("create_window ") + windowClass);
    windowProcedure = procedure;
    window = windowFails ? nullptr : kMainWindow;
    return window;
}

RTS_UI32 FakeDesktop::register_message(const char* name) {
    note(std::string("register ") + name);
    return kTaskbarCreated;
}

bool FakeDesktop::set_timer(RTS_HANDLE window, RTS_UI32 id, RTS_UI32 periodMs) {
    note("timer " + std::to_string(id) + " " + std::to_string(periodMs));
    return true;
}

void FakeDesktop::run_message_loop(RTS_HANDLE loopWindow) {
    note(loopWindow == window ? "loop" : "loop on another window");
    for (const desktop::Message& message : loopMessages) {
        if (closed) break;
        send(message.id, message.wParam, message.lParam);
    }
    if (inLoop) inLoop();
}

void FakeDesktop::post_close(RTS_HANDLE closing) {
    note(closing == window ? "close" : "close another window");
    closed = true;
}

desktop::Point FakeDesktop::cursor_position() {
    note("cursor");
    return {5, 7};
}

RTS_HANDLE FakeDesktop::load_menu(RTS_HANDLE instance, RTS_UI32 id) {
    note("load_menu " + std::to_string(id));
    return kMenu;
}

void FakeDesktop::enable_menu_item(RTS_HANDLE menu, RTS_UI32 item, bool enabled) {
    note("enable " + std::to_string(item) + (enabled ? " on" : " greyed") +
         (menu == kMenu ? "" : " elsewhere"));
}

void FakeDesktop::set_foreground(RTS_HANDLE foreground) {
    note(foreground == window ? "foreground" : "foreground another window");
}

RTS_UI32 FakeDesktop::track_popup_menu(RTS_HANDLE menu, desktop::Point at, RTS_HANDLE owner) {
    const bool expected = menu == kMenu && at.x == 5 && at.y == 7 && owner == window;
    note(expected ? "track" : "track elsewhere");
    if (menuChoices.empty()) return 0;
    const RTS_UI32 choice = menuChoices.front();
    menuChoices.pop_front();
    return choice;
}

void FakeDesktop::destroy_menu(RTS_HANDLE menu) {
    note(menu == kMenu ? "destroy_menu" : "destroy another menu");
}

} // namespace testtray
