/* The tray against a scripted desktop that answers from a script and writes every call into one
 * transcript: which mouse events open the menu and what it greys, what every command does and
 * when Exit asks first, the poll that retries a refused change, the tooltip's cut, the About
 * strip's text and centring, the icon re-added after the notification area was rebuilt, and the
 * tray's start and end in the program entry. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "desktop.h"
#include "edge_mode.h"
#include "framework_fixture.h"
#include "log_reader.h"
#include "resources/strings.h"
#include "service_control_block.h"
#include "tray.h"

namespace {

using desktop::BoxAnswer;
using desktop::Message;
using Lines = std::vector<std::string>;

RTS_HANDLE const kInstance = reinterpret_cast<RTS_HANDLE>(0x1457);
RTS_HANDLE const kWindow = reinterpret_cast<RTS_HANDLE>(0x3A11);
RTS_HANDLE const kMenu = reinterpret_cast<RTS_HANDLE>(0x3E2E);
RTS_HANDLE const kDialog = reinterpret_cast<RTS_HANDLE>(0xD1A1);
constexpr RTS_UI32 kStopped = 1, kStartPending = 2, kRunning = 4;
constexpr RTS_UI32 kTaskbarCreated = 0xC0DE;
constexpr RTS_INTPTR kHandlerResult = 77;
const std::string kTitle = STR_APP_TITLE, kService = STR_SERVICE_NAME;
const std::string kQuery = "request 3 " + kService;
const std::string kExitBox = "box " + kTitle + " | " + STR_EXIT_CONFIRM + " | none ok-cancel";

template <typename T> T next(std::deque<T>& script, T otherwise) {
    if (script.empty()) return otherwise;
    const T value = script.front();
    script.pop_front();
    return value;
}

class FakeDesktop;
FakeDesktop* g_fake = nullptr;

class FakeDesktop final : public desktop::Desktop {
public:
    FakeDesktop();
    ~FakeDesktop() override;

    /* Script: what the desktop and the gateway answer. */
    std::set<RTS_UI32> missingIcons;  /* load_icon fails for these with error 1813 */
    std::deque<bool> notifyResults;   /* then true */
    std::deque<BoxAnswer> boxAnswers; /* then Ok */
    std::deque<RTS_UI32> menuChoices; /* then 0, the dismissed menu */
    bool otherInstance = false, windowFails = false;
    desktop::Size picture = {300, 340}, screen = {1024, 768};
    RTS_I32 charWidth = 7; /* text_width: this many units per character */
    std::string displayName = "KELVARO Gateway V3";
    std::vector<Message> dialogMessages; /* played to each dialog */
    std::function<void()> inLoop;        /* what happens in the message loop */
    RTS_RESULT queryResult = RES_OK;
    RTS_UI32 gatewayState = kStopped;

    /* Record. */
    Lines calls;
    std::vector<desktop::IconRecord> records;
    desktop::Procedure procedure = nullptr;
    bool closed = false;

    template <typename... T> void note(const T&... parts) {
        std::ostringstream line;
        ((line << parts << ' '), ...);
        std::string text = line.str();
        calls.push_back(text.erase(text.find_last_not_of(' ') + 1));
    }
    Lines since(RTS_SIZE first) const { return Lines(calls.begin() + static_cast<long>(first), calls.end()); }
    RTS_INTPTR send(RTS_UI32 id, RTS_UINTPTR wParam = 0, RTS_INTPTR lParam = 0) {
        RTS_INTPTR result = -1;
        if (!procedure(kWindow, {id, wParam, lParam}, result)) note("default handling", id);
        return result;
    }

    int load_string(RTS_HANDLE, RTS_UI32 id, char* buffer, int size) override {
        static const std::map<RTS_UI32, const char*> table = {{IDS_EXIT_CONFIRM, STR_EXIT_CONFIRM},
                                                              {IDS_APP_TITLE, STR_APP_TITLE},
                                                              {IDS_COMPANY, STR_COMPANY},
                                                              {IDS_SERVICE_NAME, STR_SERVICE_NAME},
                                                              {IDS_MAIN_WINDOW_CLASS, STR_MAIN_WINDOW_CLASS}};
        note("string", id);
        return std::snprintf(buffer, static_cast<RTS_SIZE>(size), "%s", table.count(id) ? table.at(id) : "");
    }
    RTS_HANDLE load_icon(RTS_HANDLE, RTS_UI32 id, RTS_UI32* error) override {
        note("icon", id);
        *error = missingIcons.count(id) ? 1813 : 0;
        return *error ? nullptr : reinterpret_cast<RTS_HANDLE>(static_cast<RTS_UINTPTR>(id));
    }
    bool notify_icon(desktop::IconAction action, const desktop::IconRecord& record) override {
        static const char* const kActions[] = {"add", "modify", "delete"};
        records.push_back(record);
        const bool tip = (record.flags & desktop::kIconFlagTip) != 0;
        note("notify", kActions[static_cast<int>(action)],
             tip ? std::string(record.tip, strnlen(record.tip, sizeof record.tip)) : "");
        return next(notifyResults, true);
    }
    BoxAnswer message_box(const char* text, const char* caption, desktop::BoxIcon icon,
                          desktop::BoxButtons buttons) override {
        static const char* const kIcons[] = {"none", "error", "warning"};
        static const char* const kButtons[] = {"ok", "ok-cancel", "yes-no"};
        note("box", caption, "|", text, "|", kIcons[static_cast<int>(icon)],
             kButtons[static_cast<int>(buttons)]);
        return next(boxAnswers, BoxAnswer::Ok);
    }
    RTS_INTPTR dialog_box(RTS_HANDLE, RTS_UI32 templateId, desktop::Procedure dialog) override {
        note("dialog", templateId);
        dialogEnded_ = false;
        dialogResult_ = 0;
        for (const Message& m : dialogMessages) {
            RTS_INTPTR ignored = 0;
            if (!dialogEnded_ && !dialog(kDialog, m, ignored)) note("dialog default handling", m.id);
        }
        return dialogResult_;
    }
    void end_dialog(RTS_HANDLE dialog, RTS_INTPTR result) override {
        note(dialog == kDialog ? "end_dialog" : "end another dialog", result);
        dialogEnded_ = true;
        dialogResult_ = result;
    }
    desktop::Size item_size(RTS_HANDLE, RTS_UI32 itemId) override {
        return note("item_size", itemId), picture;
    }
    desktop::Size screen_size() override { return note("screen_size"), screen; }
    void move_window(RTS_HANDLE, const desktop::Placement& p) override {
        note("move", p.left, p.top, p.width, p.height);
    }
    RTS_HANDLE begin_paint(RTS_HANDLE) override { return note("begin_paint"), kDialog; }
    void white_rectangle(RTS_HANDLE, const desktop::Rect& r) override {
        note("rectangle", r.left, r.top, r.right, r.bottom);
    }
    RTS_I32 text_width(RTS_HANDLE, const char* text) override {
        return charWidth * static_cast<RTS_I32>(std::strlen(text));
    }
    void text_out(RTS_HANDLE, RTS_I32 x, RTS_I32 y, const char* text) override {
        note("text_out", x, y, text);
    }
    void end_paint(RTS_HANDLE) override { note("end_paint"); }
    void service_display_name(const char* serviceName, char* buffer, RTS_UI32 size) override {
        note("display_name", serviceName, size);
        std::snprintf(buffer, size, "%s", displayName.c_str());
    }
    bool other_instance_running(const char* windowClass) override {
        return note("other_instance", windowClass), otherInstance;
    }
    RTS_HANDLE create_main_window(RTS_HANDLE, const char* windowClass, desktop::Procedure window) override {
        note("create_window", windowClass);
        procedure = window;
        return windowFails ? nullptr : kWindow;
    }
    RTS_UI32 register_message(const char* name) override { return note("register", name), kTaskbarCreated; }
    bool set_timer(RTS_HANDLE, RTS_UI32 id, RTS_UI32 periodMs) override {
        return note("timer", id, periodMs), true;
    }
    void run_message_loop(RTS_HANDLE window) override {
        note(window == kWindow ? "loop" : "loop on another window");
        if (inLoop) inLoop();
    }
    void post_close(RTS_HANDLE window) override {
        note(window == kWindow ? "close" : "close another window");
        closed = true;
    }
    desktop::Point cursor_position() override { return note("cursor"), desktop::Point{5, 7}; }
    RTS_HANDLE load_menu(RTS_HANDLE, RTS_UI32 id) override { return note("load_menu", id), kMenu; }
    void enable_menu_item(RTS_HANDLE menu, RTS_UI32 item, bool enabled) override {
        note("enable", item, enabled ? "on" : "greyed", menu == kMenu ? "" : "elsewhere");
    }
    void set_foreground(RTS_HANDLE window) override {
        note(window == kWindow ? "foreground" : "foreground elsewhere");
    }
    RTS_UI32 track_popup_menu(RTS_HANDLE menu, desktop::Point at, RTS_HANDLE owner) override {
        note(menu == kMenu && at.x == 5 && at.y == 7 && owner == kWindow ? "track" : "track elsewhere");
        return next(menuChoices, 0u);
    }
    void destroy_menu(RTS_HANDLE menu) override {
        note(menu == kMenu ? "destroy_menu" : "destroy another menu");
    }

private:
    bool dialogEnded_ = false;
    RTS_INTPTR dialogResult_ = 0;
};

RTS_RESULT fake_request(RTS_UI32 command, const char* serviceName, RTS_UI32* pState) {
    g_fake->note("request", command, serviceName);
    if (command != service_control::kCommandQuery) return RES_OK;
    if (g_fake->queryResult == RES_OK) *pState = g_fake->gatewayState;
    return g_fake->queryResult;
}
RTS_RESULT fake_hook(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR* pCursor, int reverse) {
    g_fake->note("hook", hook, param1 == 0 && pCursor == nullptr && reverse == 0 ? "" : "with arguments");
    return RES_OK;
}
constexpr tray::Ops kFakeOps = {fake_request, fake_hook};

FakeDesktop::FakeDesktop() {
    g_fake = this;
    desktop::use(this);
    tray::set_ops(&kFakeOps);
}
FakeDesktop::~FakeDesktop() {
    tray::set_ops(nullptr);
    desktop::use(nullptr);
    g_fake = nullptr;
}

RTS_INTPTR recording_handler(RTS_UI32 command) {
    return g_fake->note("handler", command), kHandlerResult;
}
RTS_INTPTR other_handler(RTS_UI32) {
    return 0;
}

/* A tray on the scripted desktop, its main window open. */
class Tray : public ::testing::Test {
protected:
    void SetUp() override {
        std::snprintf(strings.title, sizeof strings.title, "%s", STR_APP_TITLE);
        std::snprintf(strings.serviceName, sizeof strings.serviceName, "%s", STR_SERVICE_NAME);
        ASSERT_EQ(tray::open_main_window(kInstance, strings), tray::Start::Ready);
    }
    void TearDown() override { ClearFurtherCommandHandler(recording_handler); }

    void tick(RTS_UI32 state, RTS_UINTPTR timerId = tray::kTimerId) {
        fake.gatewayState = state;
        EXPECT_EQ(fake.send(desktop::kMessageTimer, timerId), 0);
    }
    /* A click on the icon: the calls of what ran after the menu closed, and the result. */
    Lines choose(RTS_UI32 choice, RTS_INTPTR* result = nullptr) {
        fake.menuChoices = {choice};
        const RTS_SIZE first = fake.calls.size();
        const RTS_INTPTR r = fake.send(tray::kCallbackMessage, tray::kIconId, desktop::kMessageLeftButtonUp);
        if (result != nullptr) *result = r;
        const Lines calls = fake.since(first);
        const auto closed = std::find(calls.begin(), calls.end(), "destroy_menu");
        return closed == calls.end() ? Lines{"no menu"} : Lines(closed + 1, calls.end());
    }

    FakeDesktop fake;
    entry::ProgramStrings strings{};
};

TEST_F(Tray, MenuOpensOnLeftReleaseAndRightPressOfItsIconAndGreysByState) {
    struct Case {
        RTS_UI32 state;
        RTS_INTPTR mouse;
        const char* start; /* null: no menu */
        const char* stop;
    };
    const Case cases[] = {
        {kRunning, desktop::kMessageLeftButtonUp, "greyed", "on"},
        {kStartPending, desktop::kMessageRightButtonDown, "on", "greyed"},
        {kRunning, desktop::kMessageLeftButtonDown, nullptr, nullptr},
        {kRunning, desktop::kMessageRightButtonUp, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        tick(c.state);
        const RTS_SIZE first = fake.calls.size();
        EXPECT_EQ(fake.send(tray::kCallbackMessage, tray::kIconId, c.mouse), 0);
        const Lines menu = {"cursor",
                            "load_menu 102",
                            std::string("enable 40001 ") + (c.start ? c.start : ""),
                            std::string("enable 40002 ") + (c.stop ? c.stop : ""),
                            "foreground",
                            "track",
                            "destroy_menu"};
        EXPECT_EQ(fake.since(first), c.start ? menu : Lines{}) << c.state << " " << c.mouse;
    }
}

TEST_F(Tray, EachMenuCommandDoesItsOwnThingAndExitAsksOnlyWhileRunning) {
    struct Case {
        RTS_UI32 state;
        RTS_UI32 choice;
        Lines after;
        RTS_INTPTR result = 0;
        BoxAnswer answer = BoxAnswer::Ok;
        RTS_RESULT queryResult = RES_OK;
    };
    const Case cases[] = {
        {kStopped, IDM_START, {"request 1 " + kService}},
        {kRunning, IDM_STOP, {"request 2 " + kService}},
        {kRunning, IDM_ABOUT, {"dialog 103"}},
        {kStopped, IDM_EXIT, {kQuery, "close"}},
        {kRunning, IDM_EXIT, {kQuery, "close"}, 0, BoxAnswer::Ok, 1062}, /* no answer: not running */
        {kRunning, IDM_EXIT, {kQuery, "string 1", kExitBox, "close"}},
        {kRunning, IDM_EXIT, {kQuery, "string 1", kExitBox}, 0, BoxAnswer::Cancel},
        {kRunning, 0, {"handler 0"}, kHandlerResult},
    };
    SetFurtherCommandHandler(recording_handler);
    for (const Case& c : cases) {
        fake.closed = false;
        fake.queryResult = c.queryResult;
        tick(c.state);
        fake.boxAnswers = {c.answer};
        RTS_INTPTR result = -1;
        EXPECT_EQ(choose(c.choice, &result), c.after) << c.choice;
        EXPECT_EQ(result, c.result) << c.choice;
        EXPECT_EQ(fake.closed, c.after.back() == "close") << c.choice;
    }
    ClearFurtherCommandHandler(recording_handler);
    EXPECT_EQ(choose(IDM_EDGE), Lines{});
}

TEST_F(Tray, PollChangesIconWhenStateDiffersAndRetriesRefusedChange) {
    struct Step {
        RTS_UI32 state;
        bool taken;
        Lines expected;
        RTS_RESULT queryResult = RES_OK;
        RTS_UINTPTR timerId = tray::kTimerId;
    };
    const std::string running = "notify modify " + kTitle + "(running)";
    const Step steps[] = {
        {kStopped, true, {kQuery, "hook 20"}},
        {kRunning, false, {kQuery, "icon 101", running, "hook 20"}, RES_OK, 7}, /* any timer polls */
        {kRunning, true, {kQuery, "icon 101", running, "hook 20"}},
        {kRunning, true, {kQuery, "icon 105", "notify modify " + kTitle + "(stopped)", "hook 20"}, 1062},
        {kStartPending, true, {kQuery, "hook 20"}},
    };
    for (const Step& s : steps) {
        fake.queryResult = s.queryResult;
        fake.notifyResults = {s.taken};
        const RTS_SIZE first = fake.calls.size();
        tick(s.state, s.timerId);
        EXPECT_EQ(fake.since(first), s.expected) << s.state;
    }
}

TEST_F(Tray, IconRecordCarriesTitleAndStateCutToTheTipField) {
    const std::pair<RTS_UI32, std::string> cases[] = {{kStopped, std::string(118, 'x') + "(stopped)"},
                                                      {kRunning, std::string(119, 'y') + "(running)"},
                                                      {kStopped, std::string(120, 'z') + "(stopped"}};
    for (const auto& [state, tip] : cases) {
        std::snprintf(strings.title, sizeof strings.title, "%s", tip.substr(0, tip.find('(')).c_str());
        fake.gatewayState = state;
        PollGatewayState();
        ASSERT_EQ(UpdateTrayIcon(0), 1);
        EXPECT_EQ(fake.calls.back(), "notify add " + tip);
        EXPECT_EQ(fake.records.back().flags,
                  desktop::kIconFlagMessage | desktop::kIconFlagIcon | desktop::kIconFlagTip);
        EXPECT_EQ(reinterpret_cast<RTS_UINTPTR>(fake.records.back().icon),
                  state == kRunning ? IDI_RUNNING : IDI_STOPPED);
    }
}

TEST_F(Tray, RebuiltNotificationAreaGetsTheLatestLookAndOtherMessagesTheDefault) {
    fake.notifyResults = {false}; /* the running look never reached the old notification area */
    tick(kRunning);
    const RTS_SIZE first = fake.calls.size();
    EXPECT_EQ(fake.send(kTaskbarCreated), 0);
    for (RTS_UI32 id : {desktop::kMessagePaint, desktop::kMessageCommand, kTaskbarCreated + 1})
        fake.send(id, tray::kIconId, desktop::kMessageLeftButtonUp);
    fake.send(tray::kCallbackMessage, tray::kIconId + 1, desktop::kMessageLeftButtonUp); /* not our icon */
    EXPECT_EQ(fake.since(first),
              (Lines{"icon 101", "notify add " + kTitle + "(running)", "default handling 15",
                     "default handling 273", "default handling 49375"}));
}

TEST(FurtherCommandHandler, SlotTakesOneHandlerAndEmptiesOnlyForIt) {
    struct Step {
        bool set;
        FurtherCommandHandler handler;
        int expected;
    };
    const Step steps[] = {
        {true, nullptr, 0},       {false, recording_handler, 0}, {true, recording_handler, 1},
        {true, other_handler, 1}, {false, recording_handler, 0}, {false, other_handler, 1}};
    for (const Step& s : steps)
        EXPECT_EQ(s.set ? SetFurtherCommandHandler(s.handler) : ClearFurtherCommandHandler(s.handler),
                  s.expected);
}

TEST_F(Tray, AboutStripNamesTheGatewayWithThePlatformBeforeItsVersionCentredOverThePicture) {
    struct Case {
        std::string displayName;
        RTS_I32 width, charWidth;
        std::string textOut;
    };
    const Case cases[] = {
        {"KELVARO Gateway V3", 300, 7, "87 340 KELVARO Gateway V3"},
        {"A Version B Version", 300, 7, "63 340 A - x64 Version B Version"},
        {"abc", 301, 7, "140 340 abc"},                               /* 301/2 - 21/2: each half on its own */
        {"KELVARO Gateway V3", 100, 7, "-13 340 KELVARO Gateway V3"}, /* wider than the picture */
        {std::string(92, 'n') + "Version", 300, 1, "98 340 " + std::string(92, 'n') + "- x64 Version"},
    };
    fake.dialogMessages = {{desktop::kMessageInitDialog, 0, 0}, {desktop::kMessagePaint, 0, 0}};
    for (const Case& c : cases) {
        fake.displayName = c.displayName;
        fake.picture = {c.width, 340};
        fake.charWidth = c.charWidth;
        const Lines calls = choose(IDM_ABOUT);
        EXPECT_EQ(Lines(calls.begin() + 4, calls.end()),
                  (Lines{"display_name " + kService + " 100", "begin_paint",
                         "rectangle 0 340 " + std::to_string(c.width) + " 360", "text_out " + c.textOut,
                         "end_paint"}));
    }
}

/* The tray's start and end inside the program entry, the framework running for real. */
class TrayStart : public ::testing::Test {
protected:
    int run_tray() { return entry::gateway_control_main(entry::CommandLine{}); }
    FakeDesktop fake;
};

TEST_F(TrayStart, SecondInstanceShowsTheWarningAndEndsWithZero) {
    fake.otherInstance = true;
    fake.dialogMessages = {{desktop::kMessageCommand, desktop::kCommandCancel, 0}};
    EXPECT_EQ(run_tray(), 0);
    EXPECT_EQ(fake.since(4), (Lines{"other_instance " STR_MAIN_WINDOW_CLASS, "dialog 107", "end_dialog 2"}));
}

TEST_F(TrayStart, MainWindowThatCannotBeCreatedIsReportedAndEndsWithOne) {
    fake.windowFails = true;
    EXPECT_EQ(run_tray(), 1);
    EXPECT_EQ(fake.since(5), (Lines{"create_window " STR_MAIN_WINDOW_CLASS,
                                    "box " + kTitle + " | Could not create the main window | error ok"}));
}

TEST_F(TrayStart, RunsWithTheEdgeHandlerFromStoppedIconToRemovedIcon) {
    fake.gatewayState = kRunning;
    bool edgeHandlerInLoop = false;
    fake.inLoop = [&] {
        edgeHandlerInLoop = ClearFurtherCommandHandler(EdgeModeCommandHandler) == 1;
        SetFurtherCommandHandler(EdgeModeCommandHandler);
    };
    EXPECT_EQ(run_tray(), 0);
    EXPECT_TRUE(edgeHandlerInLoop);
    EXPECT_EQ(ClearFurtherCommandHandler(EdgeModeCommandHandler), 0);
    EXPECT_EQ(fake.since(5),
              (Lines{"create_window " STR_MAIN_WINDOW_CLASS, "register TaskbarCreated", "icon 105",
                     "notify add " + kTitle + "(stopped)", kQuery, "icon 101",
                     "notify modify " + kTitle + "(running)", "timer 101 100", "loop", "notify delete"}));
    EXPECT_EQ(fake.records.back().flags, desktop::kIconFlagMessage); /* the removal carries nothing else */
    EXPECT_EQ(fake.records.back().icon, nullptr);
}

/* The icon's failure to load is logged through the framework's standard logger. */
class TrayLog : public testfw::Framework {
protected:
    FakeDesktop fake;
    entry::ProgramStrings strings{"T"};
};

TEST_F(TrayLog, IconThatCannotBeLoadedIsLoggedAndTheIconChangedWithoutOne) {
    ASSERT_EQ(tray::open_main_window(kInstance, strings), tray::Start::Ready);
    fake.missingIcons = {IDI_STOPPED};
    EXPECT_EQ(UpdateTrayIcon(1), 1);
    EXPECT_EQ(fake.records.back().icon, nullptr);
    const std::vector<LogEntry> entries = testlog::entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].InfoText, "Unable to load icon-resource. LastError=1813");
    EXPECT_EQ(entries[0].ClassId, LOG_ERROR);
    EXPECT_EQ(entries[0].CmpId, 0xFFFFu);
}

} // namespace
