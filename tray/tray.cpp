/* The tray's decisions: what the icon shows and when it changes, which menu items are greyed,
 * what each command does, when to ask before exiting, where the About dialog goes and what its
 * strip says. The state is program-wide and lives only on the thread that runs the message
 * loop; the desktop does the drawing and the waiting. */
#include "tray.h"

#include <cstring>

#include "cm.h"
#include "cmplog.h"
#include "cmutils.h"
#include "desktop.h"
#include "edge_mode.h"
#include "resources/strings.h"
#include "service_control.h"

namespace tray {

namespace {

using desktop::Message;

constexpr RTS_UI32 kTrayCmpId = 0xFFFF;
/* The tooltip is built in a buffer of this size before it is cut to the record's field. */
constexpr RTS_SIZE kTooltipBuildSize = 260;
constexpr char kRunningSuffix[] = "(running)";
constexpr char kStoppedSuffix[] = "(stopped)";
constexpr char kNoWindowText[] = "Could not create the main window";
constexpr char kTaskbarCreated[] = "TaskbarCreated";
/* The About dialog: the strip below the picture, the display name's buffer and the text
 * inserted before its first "Version". */
constexpr RTS_I32 kStripHeight = 20;
constexpr RTS_UI32 kDisplayNameSize = 100;
constexpr char kVersionWord[] = "Version";
constexpr char kPlatformMark[] = "- x64 ";

constexpr Ops kRealOps = {SendServiceControlRequest, CMCallHook};
const Ops* g_ops = &kRealOps;

const entry::ProgramStrings kNoStrings = {};

struct TrayState {
    RTS_HANDLE window = nullptr;
    RTS_HANDLE instance = nullptr;
    const entry::ProgramStrings* strings = &kNoStrings;
    RTS_UI32 running = 0; /* the last poll: 1 while the gateway runs */
    RTS_UI32 shown = 0;   /* what the icon shows */
    RTS_UI32 taskbarCreated = 0;
    desktop::Size picture = {}; /* the About picture, from the dialog's start to its painting */
};

TrayState g_tray;
FurtherCommandHandler g_further = nullptr;

desktop::Desktop& ui() {
    return desktop::current();
}

/* Ends a dialog on its OK or Cancel command, with the command as its result. */
bool end_on_ok_or_cancel(RTS_HANDLE dialog, const Message& message) {
    const auto command = static_cast<RTS_UI32>(message.wParam & 0xFFFFu);
    if (message.id != desktop::kMessageCommand ||
        (command != desktop::kCommandOk && command != desktop::kCommandCancel))
        return false;
    ui().end_dialog(dialog, command);
    return true;
}

bool second_instance_procedure(RTS_HANDLE dialog, const Message& message, RTS_INTPTR& result) {
    return end_on_ok_or_cancel(dialog, message);
}

/* Centres the dialog on the screen at the picture's width, with the strip below the picture. */
void place_about(RTS_HANDLE dialog) {
    g_tray.picture = ui().item_size(dialog, IDC_ABOUT_PICTURE);
    const desktop::Size screen = ui().screen_size();
    const desktop::Size& picture = g_tray.picture;
    ui().move_window(dialog, {(screen.width - picture.width) / 2, (screen.height - picture.height) / 2,
                              picture.width, picture.height + kStripHeight});
}

/* The service's display name with "- x64 " before its first "Version". */
void strip_text(char (&strip)[kDisplayNameSize + sizeof kPlatformMark]) {
    char name[kDisplayNameSize] = {};
    ui().service_display_name(g_tray.strings->serviceName, name, kDisplayNameSize);
    name[kDisplayNameSize - 1] = '\0';
    const char* version = std::strstr(name, kVersionWord);
    if (version == nullptr) {
        CMUtlsnprintf(strip, sizeof strip, "%s", name);
        return;
    }
    CMUtlsnprintf(strip, sizeof strip, "%.*s%s%s", static_cast<int>(version - name), name, kPlatformMark,
                  version);
}

void paint_about(RTS_HANDLE dialog) {
    char strip[kDisplayNameSize + sizeof kPlatformMark];
    strip_text(strip);
    const RTS_I32 width = g_tray.picture.width;
    const RTS_I32 top = g_tray.picture.height;
    RTS_HANDLE canvas = ui().begin_paint(dialog);
    ui().white_rectangle(canvas, {0, top, width, top + kStripHeight});
    const RTS_I32 textWidth = ui().text_width(canvas, strip);
    ui().text_out(canvas, width / 2 - textWidth / 2, top, strip);
    ui().end_paint(dialog);
}

bool about_procedure(RTS_HANDLE dialog, const Message& message, RTS_INTPTR& result) {
    switch (message.id) {
        case desktop::kMessageInitDialog:
            place_about(dialog);
            return true;
        case desktop::kMessagePaint:
            paint_about(dialog);
            return true;
        case desktop::kMessageKeyDown:
        case desktop::kMessageLeftButtonDown:
        case desktop::kMessageRightButtonDown:
            ui().end_dialog(dialog, 1);
            return true;
        default:
            return end_on_ok_or_cancel(dialog, message);
    }
}

/* Shows the menu at the cursor with the items that fit the last poll; the chosen command. */
RTS_UI32 choose_from_menu() {
    const desktop::Point at = ui().cursor_position();
    RTS_HANDLE menu = ui().load_menu(g_tray.instance, IDR_TRAY_MENU);
    const bool running = g_tray.running != 0;
    ui().enable_menu_item(menu, IDM_START, !running);
    ui().enable_menu_item(menu, IDM_STOP, running);
    ui().set_foreground(g_tray.window);
    const RTS_UI32 command = ui().track_popup_menu(menu, at, g_tray.window);
    ui().destroy_menu(menu);
    return command;
}

/* Closes the main window; while the gateway runs only after the user confirmed it. */
void exit_tray() {
    if (IsGatewayRunning()) {
        char text[entry::kStringSize];
        ui().load_string(g_tray.instance, IDS_EXIT_CONFIRM, text, sizeof text);
        if (ui().message_box(text, g_tray.strings->title, desktop::BoxIcon::None,
                             desktop::BoxButtons::OkCancel) != desktop::BoxAnswer::Ok)
            return;
    }
    ui().post_close(g_tray.window);
}

RTS_INTPTR run_command(RTS_UI32 command) {
    switch (command) {
        case IDM_START:
            g_ops->request(service_control::kCommandStart, g_tray.strings->serviceName, nullptr);
            return 0;
        case IDM_STOP:
            g_ops->request(service_control::kCommandStop, g_tray.strings->serviceName, nullptr);
            return 0;
        case IDM_ABOUT:
            ui().dialog_box(g_tray.instance, IDD_ABOUT, about_procedure);
            return 0;
        case IDM_EXIT:
            exit_tray();
            return 0;
        default:
            return g_further != nullptr ? g_further(command) : 0;
    }
}

/* A mouse event on the icon: a left-button release or a right-button press opens the menu. */
RTS_INTPTR on_icon_event(const Message& message) {
    if (message.wParam != kIconId || (message.lParam != desktop::kMessageLeftButtonUp &&
                                      message.lParam != desktop::kMessageRightButtonDown))
        return 0;
    return run_command(choose_from_menu());
}

bool window_procedure(RTS_HANDLE window, const Message& message, RTS_INTPTR& result) {
    result = 0;
    if (message.id == desktop::kMessageTimer) {
        PollGatewayState();
        g_ops->call_hook(CH_COMM_CYCLE, 0, nullptr, 0);
        return true;
    }
    if (message.id == kCallbackMessage) {
        result = on_icon_event(message);
        return true;
    }
    if (g_tray.taskbarCreated != 0 && message.id == g_tray.taskbarCreated) {
        /* The notification area was rebuilt without our icon: add it with the latest look. */
        if (UpdateTrayIcon(static_cast<RTS_UI32>(desktop::IconAction::Add))) g_tray.shown = g_tray.running;
        return true;
    }
    return false;
}

} // namespace

Start open_main_window(RTS_HANDLE instance, const entry::ProgramStrings& strings) {
    g_tray = TrayState{};
    g_tray.instance = instance;
    g_tray.strings = &strings;
    if (ui().other_instance_running(strings.windowClass)) {
        ui().dialog_box(instance, IDD_SECOND_INSTANCE, second_instance_procedure);
        return Start::SecondInstance;
    }
    g_tray.window = ui().create_main_window(instance, strings.windowClass, window_procedure);
    if (g_tray.window == nullptr) {
        ui().message_box(kNoWindowText, strings.title, desktop::BoxIcon::Error, desktop::BoxButtons::Ok);
        return Start::NoWindow;
    }
    g_tray.taskbarCreated = ui().register_message(kTaskbarCreated);
    return Start::Ready;
}

void run() {
    SetFurtherCommandHandler(EdgeModeCommandHandler);
    UpdateTrayIcon(static_cast<RTS_UI32>(desktop::IconAction::Add));
    PollGatewayState();
    ui().set_timer(g_tray.window, kTimerId, kTimerPeriodMs);
    ui().run_message_loop(g_tray.window);
    ClearFurtherCommandHandler(EdgeModeCommandHandler);
}

void remove_icon() {
    SetTrayIcon(static_cast<RTS_UI32>(desktop::IconAction::Delete), 0, 0, nullptr);
}

void set_ops(const Ops* ops) {
    g_ops = ops != nullptr ? ops : &kRealOps;
}

} // namespace tray

using tray::g_tray;

extern "C" int SetFurtherCommandHandler(FurtherCommandHandler handler) {
    if (handler == nullptr) return 0;
    tray::g_further = handler;
    return 1;
}

extern "C" int ClearFurtherCommandHandler(FurtherCommandHandler handler) {
    if (tray::g_further != handler) return 0;
    tray::g_further = nullptr;
    return 1;
}

extern "C" int UpdateTrayIcon(RTS_UI32 action) {
    char tooltip[tray::kTooltipBuildSize];
    CMUtlsnprintf(tooltip, sizeof tooltip, "%s%s", g_tray.strings->title,
                  g_tray.running != 0 ? tray::kRunningSuffix : tray::kStoppedSuffix);
    return SetTrayIcon(action, desktop::kIconFlagIcon | desktop::kIconFlagTip,
                       g_tray.running != 0 ? IDI_RUNNING : IDI_STOPPED, tooltip);
}

extern "C" int SetTrayIcon(RTS_UI32 action, RTS_UI32 flags, RTS_UI32 iconId, const char* tooltip) {
    desktop::IconRecord record;
    record.window = g_tray.window;
    record.id = tray::kIconId;
    record.flags = flags | desktop::kIconFlagMessage;
    record.callbackMessage = tray::kCallbackMessage;
    if ((flags & desktop::kIconFlagIcon) != 0) {
        RTS_UI32 error = 0;
        record.icon = tray::ui().load_icon(g_tray.instance, iconId, &error);
        if (record.icon == nullptr)
            LogAdd(0, tray::kTrayCmpId, LOG_ERROR, 0, 0, "Unable to load icon-resource. LastError=%ld",
                   static_cast<long>(error));
    }
    if ((flags & desktop::kIconFlagTip) != 0 && tooltip != nullptr)
        std::strncpy(record.tip, tooltip, sizeof record.tip); /* the field need not hold a terminator */
    return tray::ui().notify_icon(static_cast<desktop::IconAction>(action), record) ? 1 : 0;
}

extern "C" int IsGatewayRunning(void) {
    RTS_UI32 state = 0;
    const RTS_RESULT result =
        tray::g_ops->request(service_control::kCommandQuery, g_tray.strings->serviceName, &state);
    return result == RES_OK && state == service_control::kStateRunning ? 1 : 0;
}

extern "C" void PollGatewayState(void) {
    g_tray.running = static_cast<RTS_UI32>(IsGatewayRunning());
    if (g_tray.running != g_tray.shown && UpdateTrayIcon(static_cast<RTS_UI32>(desktop::IconAction::Modify)))
        g_tray.shown = g_tray.running;
}
