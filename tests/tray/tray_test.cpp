/* The tray's decisions that the runs of the real program cannot see, or see only by timing,
 * against a scripted desktop: the tooltip cut to its field, the About strip's text and
 * centring, which mouse events open the menu, a refused icon change tried again on the next
 * poll, the icon added again after the notification area was rebuilt, further menu commands
 * handed on, the log line of an icon that cannot be loaded and the main window that cannot be
 * created. */
#include "fake_desktop.h"
#include "framework_fixture.h"
#include "log_reader.h"

namespace {

using namespace testdesk;

constexpr RTS_INTPTR kHandlerResult = 77;
const std::string kRunningLook = std::to_string(IDI_RUNNING) + " T(running)";

RTS_INTPTR recording_handler(RTS_UI32 command) {
    g_fake->calls.push_back("handler " + std::to_string(command));
    return kHandlerResult;
}

/* A tray titled "T" on the scripted desktop, its main window open. */
class Tray : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(tray::open_main_window(nullptr, strings), tray::Start::Ready); }
    void TearDown() override { ClearFurtherCommandHandler(recording_handler); }

    /* What the calls since the last look noted. */
    Lines take() { return std::exchange(fake.calls, {}); }
    Lines tick(RTS_UI32 state) {
        fake.gatewayState = state;
        EXPECT_EQ(fake.send(desktop::kMessageTimer, tray::kTimerId), 0);
        return take();
    }
    RTS_INTPTR click(RTS_UI32 choice, RTS_INTPTR mouse = desktop::kMessageLeftButtonUp,
                     RTS_UINTPTR icon = tray::kIconId) {
        fake.menuChoice = choice;
        return fake.send(tray::kCallbackMessage, icon, mouse);
    }

    FakeDesktop fake;
    entry::ProgramStrings strings{"T"};
};

TEST_F(Tray, TooltipIsTitleAndStateCutToTheFieldOf128) {
    const std::pair<RTS_UI32, std::string> cases[] = {{kStopped, std::string(118, 'x') + "(stopped)"},
                                                      {kRunning, std::string(119, 'y') + "(running)"},
                                                      {kStopped, std::string(120, 'z') + "(stopped"}};
    for (const auto& [state, tip] : cases) {
        std::snprintf(strings.title, sizeof strings.title, "%s", tip.substr(0, tip.find('(')).c_str());
        fake.gatewayState = state;
        PollGatewayState();
        ASSERT_EQ(UpdateTrayIcon(0), 1);
        EXPECT_EQ(fake.calls.back(),
                  "add " + std::to_string(state == kRunning ? IDI_RUNNING : IDI_STOPPED) + " " + tip);
    }
}

TEST_F(Tray, PollTriesARefusedIconChangeAgainOnTheNextTick) {
    EXPECT_EQ(tick(kStopped), Lines{"hook 20"});
    fake.refuseNextChange = true;
    EXPECT_EQ(tick(kRunning), (Lines{"modify " + kRunningLook, "hook 20"}));
    EXPECT_EQ(tick(kRunning), (Lines{"modify " + kRunningLook, "hook 20"}));
    EXPECT_EQ(tick(kRunning), Lines{"hook 20"});
}

TEST_F(Tray, RebuiltNotificationAreaGetsTheIconAgainWithTheLatestLook) {
    fake.refuseNextChange = true; /* the running look never reached the old notification area */
    tick(kRunning);
    EXPECT_EQ(fake.send(kTaskbarCreated), 0);
    EXPECT_EQ(take(), Lines{"add " + kRunningLook});
    EXPECT_EQ(tick(kRunning), Lines{"hook 20"});
    RTS_INTPTR result = 0;
    EXPECT_FALSE(fake.procedure(kWindow, {kTaskbarCreated + 1, 0, 0}, result)); /* others: the default */
}

TEST_F(Tray, MenuOpensOnlyOnLeftReleaseAndRightPressOfItsOwnIcon) {
    EXPECT_EQ(click(0, desktop::kMessageLeftButtonUp), 0);
    EXPECT_EQ(click(0, desktop::kMessageRightButtonDown), 0);
    EXPECT_EQ(take(), (Lines{"menu", "menu"}));
    click(0, desktop::kMessageLeftButtonDown);
    click(0, desktop::kMessageRightButtonUp);
    click(0, desktop::kMessageLeftButtonUp, tray::kIconId + 1);
    EXPECT_EQ(take(), Lines{});
}

TEST_F(Tray, FurtherCommandsGoToTheOneHandlerInItsSlot) {
    EXPECT_EQ(SetFurtherCommandHandler(nullptr), 0);
    EXPECT_EQ(SetFurtherCommandHandler(recording_handler), 1);
    EXPECT_EQ(click(IDM_EDGE), kHandlerResult);
    EXPECT_EQ(ClearFurtherCommandHandler(EdgeModeCommandHandler), 0); /* not the one in the slot */
    EXPECT_EQ(click(0), kHandlerResult);                              /* the dismissed menu */
    EXPECT_EQ(take(), (Lines{"menu", "handler 40007", "menu", "handler 0"}));
    EXPECT_EQ(ClearFurtherCommandHandler(recording_handler), 1);
    EXPECT_EQ(click(IDM_EDGE), 0); /* an empty slot */
    tray::run();                   /* the edge mode's handler sits in the slot while the message loop runs */
    EXPECT_TRUE(fake.edgeInLoop);
    EXPECT_EQ(ClearFurtherCommandHandler(EdgeModeCommandHandler), 0);
}

TEST_F(Tray, AboutStripNamesTheGatewayWithThePlatformBeforeItsVersionCentredOverThePicture) {
    struct Case {
        std::string displayName;
        RTS_I32 width, charWidth;
        std::string move, textOut;
    };
    const Case cases[] = {
        {"A Version B Version", 300, 7, "362 214 300 360", "63 340 A - x64 Version B Version"},
        {"abc", 301, 7, "361 214 301 360", "140 340 abc"}, /* odd width: (1024 - 301) / 2 rounds down */
        {"KELVARO Gateway V3", 100, 7, "462 214 100 360", "-13 340 KELVARO Gateway V3"},
        {std::string(92, 'n') + "Version", 300, 1, "362 214 300 360",
         "98 340 " + std::string(92, 'n') + "- x64 Version"},
    };
    for (const Case& c : cases) {
        fake.displayName = c.displayName;
        fake.picture = {c.width, 340};
        fake.charWidth = c.charWidth;
        EXPECT_EQ(click(IDM_ABOUT), 0);
        EXPECT_EQ(take(),
                  (Lines{"menu", "move " + c.move, "rectangle 0 340 " + std::to_string(c.width) + " 360",
                         "text_out " + c.textOut}));
    }
}

TEST(TrayStart, MainWindowThatCannotBeCreatedIsReportedAndEndsWithOne) {
    FakeDesktop fake;
    fake.windowFails = true;
    EXPECT_EQ(entry::gateway_control_main(entry::CommandLine{}), 1);
    EXPECT_EQ(fake.calls, Lines{"box T | Could not create the main window | 1"});
}

/* The icon's failure to load is logged through the framework's standard logger. */
using TrayLog = testfw::Framework;

TEST_F(TrayLog, IconThatCannotBeLoadedIsLoggedAndTheIconChangedWithoutOne) {
    FakeDesktop fake;
    entry::ProgramStrings strings{"T"};
    ASSERT_EQ(tray::open_main_window(nullptr, strings), tray::Start::Ready);
    fake.missingIcon = IDI_STOPPED;
    EXPECT_EQ(UpdateTrayIcon(1), 1);
    EXPECT_EQ(fake.calls, Lines{"modify 0 T(stopped)"});
    const std::vector<LogEntry> entries = testlog::entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].InfoText, "Unable to load icon-resource. LastError=1813");
    EXPECT_EQ(entries[0].ClassId, LOG_ERROR);
    EXPECT_EQ(entries[0].CmpId, 0xFFFFu);
}

} // namespace
