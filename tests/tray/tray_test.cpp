/* The tray against the scripted desktop: which mouse events open the menu, which items it greys,
 * what every command does and when Exit asks first, the poll that changes the icon and retries a
 * refused change, the icon record and its tooltip, the About dialog's place, strip and closing,
 * the re-added icon after the notification area was rebuilt, and the tray's start and end in the
 * program entry. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "edge_mode.h"
#include "fake_desktop.h"
#include "framework_fixture.h"
#include "log_reader.h"
#include "resources/strings.h"
#include "tray.h"

namespace {

using desktop::BoxAnswer;
using desktop::Message;
using Lines = std::vector<std::string>;
using testtray::FakeDesktop;

RTS_HANDLE const kInstance = reinterpret_cast<RTS_HANDLE>(0x1457);
constexpr RTS_UI32 kStopped = 1;
constexpr RTS_UI32 kStartPending = 2;
constexpr RTS_UI32 kRunning = 4;
constexpr RTS_INTPTR kHandlerResult = 77;
const std::string kTitle = STR_APP_TITLE;
const std::string kService = STR_SERVICE_NAME;
const std::string kQuery = "request 3 " + kService;
const std::string kExitBox = "box " + kTitle + " | " + STR_EXIT_CONFIRM + " | none ok-cancel";
const Lines kMenuShown = {"cursor",     "load_menu 102", "enable 40001 on", "enable 40002 greyed",
                          "foreground", "track",         "destroy_menu"};

FakeDesktop* g_fake = nullptr;

RTS_INTPTR recording_handler(RTS_UI32 command) {
    g_fake->calls.push_back("handler " + std::to_string(command));
    return kHandlerResult;
}

RTS_INTPTR other_handler(RTS_UI32 command) {
    return 0;
}

entry::ProgramStrings program_strings(const std::string& title) {
    entry::ProgramStrings strings{};
    std::snprintf(strings.title, sizeof strings.title, "%s", title.c_str());
    std::snprintf(strings.serviceName, sizeof strings.serviceName, "%s", STR_SERVICE_NAME);
    std::snprintf(strings.windowClass, sizeof strings.windowClass, "%s", STR_MAIN_WINDOW_CLASS);
    return strings;
}

/* A tray on the scripted desktop, its main window open. */
class Tray : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake = &fake;
        ASSERT_EQ(tray::open_main_window(kInstance, strings), tray::Start::Ready);
    }
    void TearDown() override {
        ClearFurtherCommandHandler(recording_handler);
        g_fake = nullptr;
    }

    /* One timer tick with the gateway in state. */
    void tick(RTS_UI32 state, RTS_UINTPTR timerId = tray::kTimerId) {
        fake.gatewayState = state;
        EXPECT_EQ(fake.send(desktop::kMessageTimer, timerId), 0);
    }
    RTS_INTPTR click(RTS_INTPTR mouse = desktop::kMessageLeftButtonUp) {
        return fake.send(tray::kCallbackMessage, tray::kIconId, mouse);
    }
    /* The calls of what runs after the menu closed. */
    Lines after_menu(RTS_SIZE first) {
        Lines calls = fake.since(first);
        const auto closed = std::find(calls.begin(), calls.end(), "destroy_menu");
        return closed == calls.end() ? Lines{"no menu"} : Lines(closed + 1, calls.end());
    }

    FakeDesktop fake;
    entry::ProgramStrings strings = program_strings(STR_APP_TITLE);
};

TEST_F(Tray, MenuOpensOnLeftReleaseAndRightPressOfItsIconOnly) {
    struct Case {
        const char* label;
        RTS_UINTPTR iconId;
        RTS_INTPTR mouse;
        bool opens;
    };
    const Case cases[] = {
        {"left release", tray::kIconId, desktop::kMessageLeftButtonUp, true},
        {"right press", tray::kIconId, desktop::kMessageRightButtonDown, true},
        {"left press", tray::kIconId, desktop::kMessageLeftButtonDown, false},
        {"right release", tray::kIconId, desktop::kMessageRightButtonUp, false},
        {"another icon's left release", tray::kIconId + 1, desktop::kMessageLeftButtonUp, false},
    };
    for (const Case& c : cases) {
        const RTS_SIZE first = fake.calls.size();
        EXPECT_EQ(fake.send(tray::kCallbackMessage, c.iconId, c.mouse), 0) << c.label;
        EXPECT_EQ(fake.since(first), c.opens ? kMenuShown : Lines{}) << c.label;
    }
}

TEST_F(Tray, MenuGreysStartWhileRunningAndStopOtherwise) {
    struct Case {
        RTS_UI32 state;
        const char* start;
        const char* stop;
    };
    const Case cases[] = {{kRunning, "enable 40001 greyed", "enable 40002 on"},
                          {kStopped, "enable 40001 on", "enable 40002 greyed"},
                          {kStartPending, "enable 40001 on", "enable 40002 greyed"},
                          {kRunning, "enable 40001 greyed", "enable 40002 on"}};
    for (const Case& c : cases) {
        tick(c.state);
        const RTS_SIZE first = fake.calls.size();
        click(desktop::kMessageRightButtonDown);
        const Lines expected = {"cursor",     "load_menu 102", c.start,       c.stop,
                                "foreground", "track",         "destroy_menu"};
        EXPECT_EQ(fake.since(first), expected) << c.state;
    }
}

TEST_F(Tray, EachMenuCommandDoesItsOwnThingAndExitAsksOnlyWhileRunning) {
    struct Case {
        const char* label;
        RTS_UI32 state;
        RTS_RESULT queryResult;
        RTS_UI32 choice;
        std::deque<BoxAnswer> answers;
        bool handler;
        RTS_INTPTR result;
        Lines after;
        bool closes;
    };
    const Case cases[] = {
        {"start", kStopped, RES_OK, IDM_START, {}, false, 0, {"request 1 " + kService}, false},
        {"stop", kRunning, RES_OK, IDM_STOP, {}, false, 0, {"request 2 " + kService}, false},
        {"about", kRunning, RES_OK, IDM_ABOUT, {}, false, 0, {"dialog 103"}, false},
        {"exit while stopped", kStopped, RES_OK, IDM_EXIT, {}, false, 0, {kQuery, "close"}, true},
        {"exit without an answer", kRunning, 1062, IDM_EXIT, {}, false, 0, {kQuery, "close"}, true},
        {"exit while running, OK",
         kRunning,
         RES_OK,
         IDM_EXIT,
         {BoxAnswer::Ok},
         false,
         0,
         {kQuery, "string 1", kExitBox, "close"},
         true},
        {"exit while running, Cancel",
         kRunning,
         RES_OK,
         IDM_EXIT,
         {BoxAnswer::Cancel},
         false,
         0,
         {kQuery, "string 1", kExitBox},
         false},
        {"edge mode", kRunning, RES_OK, IDM_EDGE, {}, true, kHandlerResult, {"handler 40007"}, false},
        {"dismissed", kRunning, RES_OK, 0, {}, true, kHandlerResult, {"handler 0"}, false},
        {"unknown command", kStopped, RES_OK, 12345, {}, true, kHandlerResult, {"handler 12345"}, false},
        {"edge mode without a handler", kRunning, RES_OK, IDM_EDGE, {}, false, 0, {}, false},
    };
    for (const Case& c : cases) {
        fake.closed = false;
        fake.queryResult = c.queryResult;
        tick(c.state);
        if (c.handler) SetFurtherCommandHandler(recording_handler);
        fake.menuChoices = {c.choice};
        fake.boxAnswers = c.answers;
        const RTS_SIZE first = fake.calls.size();
        EXPECT_EQ(click(), c.result) << c.label;
        EXPECT_EQ(after_menu(first), c.after) << c.label;
        EXPECT_EQ(fake.closed, c.closes) << c.label;
        ClearFurtherCommandHandler(recording_handler);
    }
}

TEST_F(Tray, PollChangesIconWhenStateDiffersAndRetriesRefusedChange) {
    struct Step {
        const char* label;
        RTS_UI32 state;
        RTS_RESULT queryResult;
        std::deque<bool> taken;
        Lines expected;
        RTS_UINTPTR timerId = tray::kTimerId;
    };
    const std::string running = "notify modify " + kTitle + "(running)";
    const std::string stopped = "notify modify " + kTitle + "(stopped)";
    const Step steps[] = {
        {"stopped as shown", kStopped, RES_OK, {}, {kQuery, "hook 20"}},
        {"running, change refused", kRunning, RES_OK, {false}, {kQuery, "icon 101", running, "hook 20"}, 7},
        {"running, change retried", kRunning, RES_OK, {}, {kQuery, "icon 101", running, "hook 20"}},
        {"running as shown", kRunning, RES_OK, {}, {kQuery, "hook 20"}},
        {"refused query shows stopped", kRunning, 1062, {}, {kQuery, "icon 105", stopped, "hook 20"}},
        {"start pending is not running", kStartPending, RES_OK, {}, {kQuery, "hook 20"}},
        {"running again", kRunning, RES_OK, {}, {kQuery, "icon 101", running, "hook 20"}},
    };
    for (const Step& s : steps) {
        fake.queryResult = s.queryResult;
        fake.notifyResults = s.taken;
        const RTS_SIZE first = fake.calls.size();
        tick(s.state, s.timerId); /* any timer polls */
        EXPECT_EQ(fake.since(first), s.expected) << s.label;
    }
}

TEST_F(Tray, IconRecordCarriesTitleAndStateCutToTheTipField) {
    struct Case {
        std::string title;
        RTS_UI32 state;
        std::string tip; /* the whole field when it is 128 characters long */
    };
    const Case cases[] = {
        {kTitle, kRunning, kTitle + "(running)"},
        {"", kStopped, "(stopped)"},
        {std::string(119, 'x'), kRunning, std::string(119, 'x') + "(running)"},
        {std::string(120, 'y'), kStopped, std::string(120, 'y') + "(stopped"},
        {std::string(258, 'z'), kRunning, std::string(128, 'z')},
    };
    for (const Case& c : cases) {
        std::snprintf(strings.title, sizeof strings.title, "%s", c.title.c_str());
        fake.gatewayState = c.state;
        PollGatewayState();
        ASSERT_EQ(UpdateTrayIcon(0), 1);
        const desktop::IconRecord& record = fake.records.back();
        EXPECT_EQ(std::string(record.tip, strnlen(record.tip, sizeof record.tip)), c.tip) << c.title;
        EXPECT_EQ(record.window, fake.window);
        EXPECT_EQ(record.id, tray::kIconId);
        EXPECT_EQ(record.callbackMessage, tray::kCallbackMessage);
        EXPECT_EQ(record.flags, desktop::kIconFlagMessage | desktop::kIconFlagIcon | desktop::kIconFlagTip);
        EXPECT_EQ(reinterpret_cast<RTS_UINTPTR>(record.icon),
                  c.state == kRunning ? IDI_RUNNING : IDI_STOPPED);
        EXPECT_EQ(fake.calls.back(), "notify add " + c.tip);
    }
}

TEST_F(Tray, RemovedIconCarriesOnlyTheCallbackFlag) {
    tick(kRunning);
    const RTS_SIZE first = fake.calls.size();
    tray::remove_icon();
    EXPECT_EQ(fake.since(first), Lines{"notify delete"});
    const desktop::IconRecord& record = fake.records.back();
    EXPECT_EQ(record.flags, desktop::kIconFlagMessage);
    EXPECT_EQ(record.icon, nullptr);
    EXPECT_EQ(record.id, tray::kIconId);
    EXPECT_EQ(record.window, fake.window);
}

TEST_F(Tray, RebuiltNotificationAreaGetsTheIconAgainWithTheLatestLook) {
    fake.notifyResults = {false}; /* the running look never reached the old notification area */
    tick(kRunning);
    const RTS_SIZE first = fake.calls.size();
    EXPECT_EQ(fake.send(FakeDesktop::kTaskbarCreated), 0);
    tick(kRunning);
    EXPECT_EQ(fake.since(first),
              (Lines{"icon 101", "notify add " + kTitle + "(running)", kQuery, "hook 20"}));
}

TEST_F(Tray, OtherMessagesGetTheDefaultHandling) {
    for (RTS_UI32 id : {desktop::kMessagePaint, desktop::kMessageCommand, FakeDesktop::kTaskbarCreated + 1}) {
        const RTS_SIZE first = fake.calls.size();
        fake.send(id, tray::kIconId, desktop::kMessageLeftButtonUp);
        EXPECT_EQ(fake.since(first), Lines{"default handling " + std::to_string(id)});
    }
}

TEST(FurtherCommandHandler, SlotTakesOneHandlerAndEmptiesOnlyForIt) {
    struct Step {
        const char* label;
        bool set;
        FurtherCommandHandler handler;
        int expected;
    };
    const Step steps[] = {
        {"set nothing", true, nullptr, 0},
        {"clear the empty slot", false, recording_handler, 0},
        {"set", true, recording_handler, 1},
        {"clear another", false, other_handler, 0},
        {"clear", false, recording_handler, 1},
        {"clear again", false, recording_handler, 0},
        {"set another", true, other_handler, 1},
        {"replace", true, recording_handler, 1},
        {"clear the replaced", false, other_handler, 0},
        {"clear the replacing", false, recording_handler, 1},
    };
    for (const Step& s : steps) {
        const int answer =
            s.set ? SetFurtherCommandHandler(s.handler) : ClearFurtherCommandHandler(s.handler);
        EXPECT_EQ(answer, s.expected) << s.label;
    }
}

/* The About dialog opened from the menu, with the scripted messages played to it. */
class AboutDialog : public Tray {
protected:
    Lines open_about(std::vector<Message> messages) {
        fake.dialogMessages = std::move(messages);
        fake.menuChoices = {IDM_ABOUT};
        const RTS_SIZE first = fake.calls.size();
        click();
        return after_menu(first);
    }
    const Message init = {desktop::kMessageInitDialog, 0, 0};
    const Message paint = {desktop::kMessagePaint, 0, 0};
};

TEST_F(AboutDialog, SitsInTheMiddleOfTheScreenWithTheStripBelowThePicture) {
    struct Case {
        desktop::Size picture;
        desktop::Size screen;
        const char* move;
    };
    const Case cases[] = {
        {{300, 340}, {1024, 768}, "move 362 214 300 360"},
        {{301, 341}, {1025, 769}, "move 362 214 301 361"},
        {{300, 340}, {201, 101}, "move -49 -119 300 360"}, /* halves rounded towards zero */
    };
    for (const Case& c : cases) {
        fake.picture = c.picture;
        fake.screen = c.screen;
        EXPECT_EQ(open_about({init}), (Lines{"dialog 103", "item_size 1000", "screen_size", c.move}))
            << c.move;
    }
}

TEST_F(AboutDialog, StripNamesTheGatewayWithThePlatformBeforeItsVersionCentredOverThePicture) {
    struct Case {
        std::string displayName;
        RTS_I32 width;
        RTS_I32 charWidth;
        std::string textOut;
    };
    const std::string longName = std::string(92, 'n') + "Version";
    const Case cases[] = {
        {"KELVARO Gateway V3", 300, 7, "text_out 87 340 KELVARO Gateway V3"},
        {"KELVARO Gateway Version 3.5", 300, 7, "text_out 35 340 KELVARO Gateway - x64 Version 3.5"},
        {"Version 3", 300, 7, "text_out 98 340 - x64 Version 3"},
        {"A Version B Version", 300, 7, "text_out 63 340 A - x64 Version B Version"},
        {"", 300, 7, "text_out 150 340 "},
        {"abc", 300, 7, "text_out 140 340 abc"}, /* 150 - 21/2: each half on its own */
        {"abc", 301, 7, "text_out 140 340 abc"}, /* 301/2 - 21/2 */
        {"KELVARO Gateway V3", 100, 7, "text_out -13 340 KELVARO Gateway V3"}, /* wider than the picture */
        {longName, 300, 1, "text_out 98 340 " + std::string(92, 'n') + "- x64 Version"},
    };
    for (const Case& c : cases) {
        fake.displayName = c.displayName;
        fake.picture = {c.width, 340};
        fake.charWidth = c.charWidth;
        const Lines expected = {"display_name " + kService + " 100", "begin_paint",
                                "rectangle 0 340 " + std::to_string(c.width) + " 360", c.textOut,
                                "end_paint"};
        const Lines calls = open_about({init, paint});
        EXPECT_EQ(Lines(calls.begin() + 4, calls.end()), expected) << c.displayName;
    }
}

TEST_F(AboutDialog, ClosesOnKeyOrButtonPressWithOneAndOnOkOrCancelWithItsId) {
    struct Case {
        const char* label;
        Message message;
        RTS_INTPTR result; /* -1: stays open */
    };
    const Case cases[] = {
        {"key press", {desktop::kMessageKeyDown, 'A', 0}, 1},
        {"left button press", {desktop::kMessageLeftButtonDown, 0, 0}, 1},
        {"right button press", {desktop::kMessageRightButtonDown, 0, 0}, 1},
        {"OK", {desktop::kMessageCommand, desktop::kCommandOk, 0}, 1},
        {"Cancel", {desktop::kMessageCommand, desktop::kCommandCancel, 0}, 2},
        {"Cancel with a notification code",
         {desktop::kMessageCommand, 0x10000u | desktop::kCommandCancel, 0},
         2},
        {"another command", {desktop::kMessageCommand, 3, 0}, -1},
        {"left button release", {desktop::kMessageLeftButtonUp, 0, 0}, -1},
    };
    for (const Case& c : cases) {
        const Lines calls = open_about({init, c.message});
        const Lines tail(calls.begin() + 4, calls.end());
        EXPECT_EQ(tail, c.result < 0 ? Lines{"dialog default handling " + std::to_string(c.message.id)}
                                     : Lines{"end_dialog " + std::to_string(c.result)})
            << c.label;
    }
}

/* The tray's start and end inside the program entry, the framework running for real. */
class TrayStart : public ::testing::Test {
protected:
    void SetUp() override { g_fake = &fake; }
    void TearDown() override { g_fake = nullptr; }

    int run_tray() { return entry::gateway_control_main(entry::CommandLine{}); }

    FakeDesktop fake;
};

TEST_F(TrayStart, SecondInstanceShowsTheWarningAndEndsWithZero) {
    struct Case {
        Message message;
        Lines tail;
    };
    const Case cases[] = {
        {{desktop::kMessageCommand, desktop::kCommandOk, 0}, {"end_dialog 1"}},
        {{desktop::kMessageCommand, desktop::kCommandCancel, 0}, {"end_dialog 2"}},
        {{desktop::kMessageInitDialog, 0, 0}, {"dialog default handling 272"}},
        {{desktop::kMessageKeyDown, 'A', 0}, {"dialog default handling 256"}},
    };
    fake.otherInstance = true;
    for (const Case& c : cases) {
        fake.calls.clear();
        fake.dialogMessages = {c.message};
        EXPECT_EQ(run_tray(), 0);
        Lines expected = {
            "string 7",  "string 9", "string 8", "string 10", "other_instance " STR_MAIN_WINDOW_CLASS,
            "dialog 107"};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(fake.calls, expected);
    }
}

TEST_F(TrayStart, MainWindowThatCannotBeCreatedIsReportedAndEndsWithOne) {
    fake.windowFails = true;
    EXPECT_EQ(run_tray(), 1);
    EXPECT_EQ(fake.since(5), (Lines{"create_window " STR_MAIN_WINDOW_CLASS,
                                    "box " + kTitle + " | Could not create the main window | error ok"}));
}

TEST_F(TrayStart, RunsWithTheEdgeHandlerFromStoppedIconToRemovedIcon) {
    fake.gatewayState = kRunning;
    fake.menuChoices = {IDM_EXIT};
    fake.loopMessages = {{desktop::kMessageTimer, tray::kTimerId, 0},
                         {tray::kCallbackMessage, tray::kIconId, desktop::kMessageLeftButtonUp},
                         {desktop::kMessageTimer, tray::kTimerId, 0}};
    bool edgeHandlerInLoop = false;
    fake.inLoop = [&] {
        edgeHandlerInLoop = ClearFurtherCommandHandler(EdgeModeCommandHandler) == 1;
        SetFurtherCommandHandler(EdgeModeCommandHandler);
    };
    EXPECT_EQ(run_tray(), 0);
    EXPECT_TRUE(edgeHandlerInLoop);
    EXPECT_EQ(ClearFurtherCommandHandler(EdgeModeCommandHandler), 0);
    const Lines expected = {"create_window " STR_MAIN_WINDOW_CLASS,
                            "register TaskbarCreated",
                            "icon 105",
                            "notify add " + kTitle + "(stopped)",
                            kQuery,
                            "icon 101",
                            "notify modify " + kTitle + "(running)",
                            "timer 101 100",
                            "loop",
                            kQuery,
                            "hook 20",
                            "cursor",
                            "load_menu 102",
                            "enable 40001 greyed",
                            "enable 40002 on",
                            "foreground",
                            "track",
                            "destroy_menu",
                            kQuery,
                            "string 1",
                            kExitBox,
                            "close",
                            "notify delete"};
    EXPECT_EQ(fake.since(5), expected);
}

/* The icon's failure to load is logged through the framework's standard logger. */
class TrayLog : public testfw::Framework {
protected:
    void SetUp() override {
        testfw::Framework::SetUp();
        ASSERT_EQ(tray::open_main_window(kInstance, strings), tray::Start::Ready);
    }
    FakeDesktop fake;
    entry::ProgramStrings strings = program_strings(STR_APP_TITLE);
};

TEST_F(TrayLog, IconThatCannotBeLoadedIsLoggedAndTheIconChangedWithoutOne) {
    fake.missingIcons = {IDI_STOPPED};
    const RTS_SIZE first = fake.calls.size();
    EXPECT_EQ(UpdateTrayIcon(1), 1);
    EXPECT_EQ(fake.since(first), (Lines{"icon 105", "notify modify " + kTitle + "(stopped)"}));
    EXPECT_EQ(fake.records.back().icon, nullptr);
    const std::vector<LogEntry> entries = testlog::entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].InfoText, "Unable to load icon-resource. LastError=1813");
    EXPECT_EQ(entries[0].ClassId, LOG_ERROR);
    EXPECT_EQ(entries[0].CmpId, 0xFFFFu);
}

} // namespace
