/* The tray's decisions that the runs of the real program cannot see, or see only by timing,
 * against a scripted desktop: the tooltip cut to its field, the About strip's text and
 * centring, which mouse events open the menu, a refused icon change tried again on the next
 * poll, the icon added again after the notification area was rebuilt, further menu commands
 * handed on, the log line of an icon that cannot be loaded and the main window that cannot be
 * created. And the edge configuration mode: each way through its steps with its boxes, the
 * requests to the gateway with their pauses and the launch of the maintenance run; the working
 * directory as the gateway's configuration gives it; the maintenance write's failure box. Real
 * files, registry and elevation are the Wine run's. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "desktop.h"
#include "edge_mode.h"
#include "framework_fixture.h"
#include "log_reader.h"
#include "resources/strings.h"
#include "service_control.h"
#include "tray.h"

namespace {

using Lines = std::vector<std::string>;

RTS_HANDLE const kWindow = reinterpret_cast<RTS_HANDLE>(0x3A11);
constexpr RTS_UI32 kStopped = 1, kRunning = 4, kTaskbarCreated = 0xC0DE;
constexpr RTS_INTPTR kHandlerResult = 77;
const std::string kRunningLook = std::to_string(IDI_RUNNING) + " T(running)";

/* Answers from a short script and notes the calls that carry what the tray decided. */
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

    /* The edge mode's strings as marks that show where each went; "T" for every other one. */
    int load_string(RTS_HANDLE, RTS_UI32 id, char* buffer, int size) override {
        const std::map<RTS_UI32, const char*> marks = {
            {9, "Gw"}, {12, "12"}, {13, "13"}, {14, "14"}, {15, "15(%s)"}, {17, "17(%s)"}, {19, "19(%s,%s)"}};
        return std::snprintf(buffer, static_cast<RTS_SIZE>(size), "%s", marks.count(id) ? marks.at(id) : "T");
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

    /* The edge mode's platform: the service's image path, profile values by "file|section|key",
     * the environment (%SystemRoot% the only one expanded), answers and errors for the rest;
     * an error's text is "text of <code>". */
    desktop::BoxAnswer answer = desktop::BoxAnswer::Ok;
    desktop::RegistryRead registry = desktop::RegistryRead::Ok;
    std::string imagePath, modulePath = "C:\\GC\\GatewayControl.exe";
    std::map<std::string, std::string> profile, environment;
    int wow64 = 0; /* 1: a 32-bit process on a 64-bit system, -1: the question fails */
    RTS_UI32 moduleError = 0, writeError = 0, launchError = 0;
    RTS_INTPTR launchAnswer = 33;
    int stopsToStop = 1, startsToRun = 1; /* requests until the gateway changes; 0: never */

    static int put(char* buffer, RTS_UI32 size, const std::string& text) {
        return std::snprintf(buffer, size, "%s", text.c_str());
    }
    desktop::RegistryRead machine_registry_string(const char*, const char*, char* to, RTS_UI32 n) override {
        return put(to, n, imagePath), registry;
    }
    RTS_UI32 profile_string(const char* file, const char* section, const char* key, char* to,
                            RTS_UI32 n) override {
        return std::min<RTS_UI32>(put(to, n, profile[std::string(file) + "|" + section + "|" + key]), n - 1);
    }
    RTS_UI32 write_profile_string(const RTS_WCHAR*, const RTS_WCHAR*, const RTS_WCHAR*,
                                  const RTS_WCHAR*) override {
        return writeError;
    }
    desktop::Lookup environment_variable(const char* name, char* to, RTS_UI32 n) override {
        if (environment.count(name) == 0) return desktop::Lookup::Missing;
        return put(to, n, environment[name]), desktop::Lookup::Found;
    }
    bool expand_environment(const char* text, char* to, RTS_UI32 n) override {
        return put(to, n, environment["SystemRoot"] + (text + std::strlen("%SystemRoot%"))) <
               static_cast<int>(n);
    }
    bool is_wow64_process(bool& emulated) override { return emulated = wow64 == 1, wow64 >= 0; }
    bool module_file_name(char* to, RTS_UI32 n, RTS_UI32& error) override {
        return error = moduleError, put(to, n, modulePath) > 0;
    }
    void error_text(RTS_UI32 error, char* to, RTS_UI32 n) override {
        put(to, n, "text of " + std::to_string(error));
    }
    RTS_INTPTR shell_execute(const char* verb, const char* file, const char* parameters,
                             RTS_UI32& error) override {
        calls.push_back(std::string("shell ") + verb + " " + file + " " + parameters);
        return error = launchError, launchAnswer;
    }
    void sleep(RTS_UI32 ms) override { calls.push_back("sleep " + std::to_string(ms)); }
};

FakeDesktop* g_fake = nullptr;

/* The gateway behind the channel: a query answers its state; a start or stop is noted and
 * changes the state once the fake's count of such requests runs out. */
RTS_RESULT fake_request(RTS_UI32 command, const char* service, RTS_UI32* pState) {
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
RTS_RESULT fake_hook(RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR*, int) {
    g_fake->calls.push_back("hook " + std::to_string(hook));
    return RES_OK;
}
constexpr tray::Ops kFakeOps = {fake_request, fake_hook};

FakeDesktop::FakeDesktop() {
    g_fake = this;
    desktop::use(this);
    tray::set_ops(&kFakeOps);
    edge_mode::set_request(fake_request);
}
FakeDesktop::~FakeDesktop() {
    tray::set_ops(nullptr);
    edge_mode::set_request(nullptr);
    desktop::use(nullptr);
    EXPECT_EQ(menusOpen, 0); /* every menu shown was destroyed again */
}

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

/* The edge mode's calls as one text, a line each. */
std::string joined(const Lines& calls) {
    std::string text;
    for (const std::string& call : calls) text += call + "\n";
    return text;
}
std::string times(int count, const std::string& text) {
    return count == 0 ? "" : text + times(count - 1, text);
}
std::string fail(const std::string& text) {
    return "box Error in HandleEdgeConfigurationMode() | " + text + " | 1\n";
}
const std::string
    kGw = "C:\\Gw\\",
    kRoaming = "C:\\Users\\u\\AppData\\Roaming", kStop = "stop Gw\nsleep 500\n",
    kStart = "sleep 500\nstart Gw\n", kAsked = "box 12 | 13 | 2\n", kHalted = kAsked + kStop + kStop,
    kLaunch = "shell runas \"C:\\GC\\GatewayControl.exe\" maintenance \"C:\\Windows\\",
    kLaunched = kHalted + kLaunch + "system32\\config\\systemprofile\\AppData\\Roaming\\Gw\\Gateway.cfg\"\n",
    /* the manual instructions: pieces 17, 15 and 19 filled with service, service, key, service */
    kManual = "box 14 | 17(Gw)15(Gw)19(MaintenanceMode,Gw) | 2\n";

void working_directory(FakeDesktop& f, const std::string& value) {
    f.profile[kGw + "SysFileMap.cfg|SysFile|Windows.WorkingDirectory"] = value;
}
/* A running gateway that stops on the second request, its image path quoted, its file system's
 * settings in a file of their own, its working directory below the user's roaming data. */
void installed(FakeDesktop& f) {
    f.answer = desktop::BoxAnswer::Yes;
    f.gatewayState = kRunning;
    f.stopsToStop = 2;
    f.imagePath = "\"" + kGw + "GatewayStub.exe\" --service";
    f.profile[kGw + "Gateway.cfg|CmpSettings|FileReference.0"] = "SysFileMap.cfg,SysFile";
    f.environment = {{"APPDATA", kRoaming}, {"SystemRoot", "C:\\Windows"}, {"EMPTY", ""}};
    working_directory(f, "%APPDATA%\\Gw\\");
}

TEST(EdgeMode, EachWayThroughTheStepsShowsItsBoxesAndSendsItsRequests) {
    const std::string longName(200, 'x');
    struct Case {
        const char* name;
        std::function<void(FakeDesktop&)> change;
        std::string calls;
    };
    const Case cases[] = {
        {"launched and restarted", [](FakeDesktop&) {}, kLaunched + kStart},
        {"unquoted path, SysFile then more is no redirection, an empty variable, a slash at the end, "
         "32-bit emulation, gateway stopped",
         [](FakeDesktop& f) {
             f.imagePath = kGw + "GatewayStub.exe", f.wow64 = 1, f.gatewayState = kStopped;
             f.profile[kGw + "Gateway.cfg|CmpSettings|FileReference.0"] = "SysFileMap.cfg, SysFileX";
             f.profile[kGw + "Gateway.cfg|SysFile|Windows.WorkingDirectory"] = "%EMPTY%C:\\AppData\\Roaming/";
         },
         kAsked + kLaunch + "SysWOW64\\config\\systemprofile\\AppData\\Roaming/Gateway.cfg\"\n" + kStart},
        {"answered No", [](FakeDesktop& f) { f.answer = desktop::BoxAnswer::No; }, kAsked},
        {"no service key", [](FakeDesktop& f) { f.registry = desktop::RegistryRead::NoKey; },
         kAsked + fail("RegOpenKeyEx() failed") + kManual},
        {"no image path", [](FakeDesktop& f) { f.registry = desktop::RegistryRead::NoValue; },
         kAsked + fail("RegQueryValueEx() failed") + kManual},
        {"gateway does not stop", [](FakeDesktop& f) { f.stopsToStop = 0; },
         kAsked + times(11, kStop) + fail("Failed to stop the Gateway service.") + kManual},
        {"no working directory", [](FakeDesktop& f) { working_directory(f, ""); },
         kHalted + fail("GetWorkingDirectory() failed") + kManual},
        {"emulation unknown", [](FakeDesktop& f) { f.wow64 = -1; },
         kHalted + fail("IsWow64Process() failed") + kManual},
        {"outside roaming data", [](FakeDesktop& f) { working_directory(f, "D:\\Gw"); },
         kHalted + fail("Could not find \"\\AppData\\Roaming\"\r\nin \"D:\\Gw\\\".") + kManual},
        {"unset variable", [](FakeDesktop& f) { working_directory(f, "%UNSET%\\Gw"); },
         kHalted + fail("Could not find \"\\AppData\\Roaming\"\r\nin \"\\\".") + kManual},
        {"target too long", [&](FakeDesktop& f) { working_directory(f, "%APPDATA%\\" + longName); },
         kHalted +
             fail("The path \"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Roaming\\" + longName +
                  "\\Gateway.cfg\" does not fit into 260 characters.") +
             kManual},
        {"variable without its second %", [](FakeDesktop& f) { working_directory(f, "%APPDATA\\Gw/"); },
         kHalted + fail("Could not find \"\\AppData\\Roaming\"\r\nin \"\\\".") + kManual},
        {"working directory longer than a path",
         [](FakeDesktop& f) { working_directory(f, std::string(260, 'x')); },
         kHalted + fail("GetWorkingDirectory() failed") + kManual},
        {"own path with error", [](FakeDesktop& f) { f.modulePath = "", f.moduleError = 122; },
         kHalted + fail("GetModuleFileName() failed.\r\nError:\r\ntext of 122") + kManual},
        {"own path without error", [](FakeDesktop& f) { f.modulePath = ""; }, kHalted + kManual},
        {"launch failed without error", [](FakeDesktop& f) { f.launchAnswer = 32; },
         kLaunched + kStart + kManual},
        {"launch refused, gateway does not restart",
         [](FakeDesktop& f) { f.launchAnswer = 5, f.launchError = 1223, f.startsToRun = 0; },
         kLaunched + fail("ShellExecute() returned: 5\r\nError:\r\ntext of 1223") + times(11, kStart) +
             fail("Failed to restart the Gateway service.") + kManual},
    };
    for (const Case& c : cases) {
        FakeDesktop fake;
        installed(fake);
        c.change(fake);
        EXPECT_EQ(EdgeModeCommandHandler(IDM_EDGE), 0);
        EXPECT_EQ(joined(fake.calls), c.calls) << c.name;
    }
}

} // namespace
