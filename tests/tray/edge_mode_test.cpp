/* The edge configuration mode against the scripted desktop: each way through its steps with the
 * exact boxes, the requests to the gateway with their pauses and the launch of the maintenance
 * run; the working directory as the gateway's configuration gives it; the maintenance write's
 * failure box. Real files, registry and elevation are the Wine run's. */
#include <functional>

#include "fake_desktop.h"

namespace {

using namespace testdesk;

const std::string kGw = "C:\\Gw\\", kService = STR_SERVICE_NAME,
                  kProfile = "C:\\Windows\\system32\\config\\systemprofile";
const std::string kRoaming = "C:\\Users\\u\\AppData\\Roaming";

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Lines repeat(int times, const Lines& lines) {
    return times == 0 ? Lines{} : lines + repeat(times - 1, lines);
}
Lines fail(const std::string& text) {
    return {"box Error in HandleEdgeConfigurationMode() | " + text + " | 1"};
}
Lines manual() {
    char text[4000];
    std::snprintf(text, sizeof text, STR_EDGE_MANUAL_FIRST STR_EDGE_MANUAL_MIDDLE STR_EDGE_MANUAL_LAST,
                  kService.c_str(), kService.c_str(), "MaintenanceMode", kService.c_str());
    return {"box " STR_EDGE_MANUAL_CAPTION " | " + std::string(text) + " | 2"};
}
const Lines kAsked = {"box " STR_EDGE_CONFIRM_CAPTION " | " STR_EDGE_CONFIRM_TEXT " | 2",
                      "registry SYSTEM\\CurrentControlSet\\Services\\KELVARO Gateway V3 ImagePath"};
const Lines kStop = {"stop " + kService, "sleep 500"}, kStart = {"sleep 500", "start " + kService};
Lines launch(const std::string& target) {
    return {"shell runas \"C:\\GC\\GatewayControl.exe\" maintenance \"" + target + "\""};
}
const Lines kStopped2 = kAsked + repeat(2, kStop);
const Lines kLaunched = kStopped2 + launch(kProfile + "\\AppData\\Roaming\\Gateway\\Gateway.cfg");

/* A running gateway that stops on the second request, its image path quoted, its file system's
 * settings in a file of their own, its working directory below the user's roaming data. */
void installed(FakeDesktop& f) {
    f.answer = desktop::BoxAnswer::Yes;
    f.gatewayState = kRunning;
    f.stopsToStop = 2;
    f.imagePath = "\"" + kGw + "GatewayStub.exe\" --service";
    f.profile[kGw + "Gateway.cfg|CmpSettings|FileReference.0"] = "SysFileMap.cfg, SysFile";
    f.profile[kGw + "SysFileMap.cfg|SysFile|Windows.WorkingDirectory"] = "%APPDATA%\\Gateway";
    f.environment = {{"APPDATA", kRoaming}, {"SystemRoot", "C:\\Windows"}};
}
void working_directory(FakeDesktop& f, const std::string& value) {
    f.profile[kGw + "SysFileMap.cfg|SysFile|Windows.WorkingDirectory"] = value;
}

TEST(EdgeMode, EachWayThroughTheStepsShowsItsBoxesAndSendsItsRequests) {
    const std::string longName(200, 'x');
    struct Case {
        const char* name;
        std::function<void(FakeDesktop&)> change;
        Lines calls;
    };
    const Case cases[] = {
        {"launched and restarted", [](FakeDesktop&) {}, kLaunched + kStart},
        {"unquoted path, SysFile then more is no redirection, 32-bit emulation, gateway stopped",
         [](FakeDesktop& f) {
             f.imagePath = kGw + "GatewayStub.exe", f.wow64 = 1, f.gatewayState = kStopped;
             f.profile[kGw + "Gateway.cfg|CmpSettings|FileReference.0"] = "SysFileMap.cfg, SysFileX";
             f.profile[kGw + "Gateway.cfg|SysFile|Windows.WorkingDirectory"] = "%APPDATA%\\";
         },
         kAsked + launch("C:\\Windows\\SysWOW64\\config\\systemprofile\\AppData\\Roaming\\Gateway.cfg") +
             kStart},
        {"answered No", [](FakeDesktop& f) { f.answer = desktop::BoxAnswer::No; }, {kAsked[0]}},
        {"no service key", [](FakeDesktop& f) { f.registry = desktop::RegistryRead::NoKey; },
         kAsked + fail("RegOpenKeyEx() failed") + manual()},
        {"no image path", [](FakeDesktop& f) { f.registry = desktop::RegistryRead::NoValue; },
         kAsked + fail("RegQueryValueEx() failed") + manual()},
        {"gateway does not stop", [](FakeDesktop& f) { f.stopsToStop = 0; },
         kAsked + repeat(11, kStop) + fail("Failed to stop the Gateway service.") + manual()},
        {"no working directory", [](FakeDesktop& f) { working_directory(f, ""); },
         kStopped2 + fail("GetWorkingDirectory() failed") + manual()},
        {"emulation unknown", [](FakeDesktop& f) { f.wow64 = -1; },
         kStopped2 + fail("IsWow64Process() failed") + manual()},
        {"working directory outside roaming data", [](FakeDesktop& f) { working_directory(f, "D:\\Gw"); },
         kStopped2 + fail("Could not find \"\\AppData\\Roaming\"\r\nin \"D:\\Gw\\\".") + manual()},
        {"target too long", [&](FakeDesktop& f) { working_directory(f, "%APPDATA%\\" + longName); },
         kStopped2 +
             fail("The path \"" + kProfile + "\\AppData\\Roaming\\" + longName +
                  "\\Gateway.cfg\" does not fit into 260 characters.") +
             manual()},
        {"own path with error", [](FakeDesktop& f) { f.modulePath = "", f.moduleError = 122; },
         kStopped2 + fail("GetModuleFileName() failed.\r\nError:\r\ntext of 122") + manual()},
        {"own path without error", [](FakeDesktop& f) { f.modulePath = ""; }, kStopped2 + manual()},
        {"launch refused", [](FakeDesktop& f) { f.launchAnswer = 5, f.launchError = 1223; },
         kLaunched + fail("ShellExecute() returned: 5\r\nError:\r\ntext of 1223") + kStart + manual()},
        {"launch failed without error", [](FakeDesktop& f) { f.launchAnswer = 32; },
         kLaunched + kStart + manual()},
        {"gateway does not restart", [](FakeDesktop& f) { f.startsToRun = 0; },
         kLaunched + repeat(11, kStart) + fail("Failed to restart the Gateway service.") + manual()},
    };
    for (const Case& c : cases) {
        FakeDesktop fake;
        installed(fake);
        c.change(fake);
        EXPECT_EQ(EdgeModeCommandHandler(IDM_EDGE), 0);
        EXPECT_EQ(fake.calls, c.calls) << c.name;
    }
}

TEST(EdgeMode, WorkingDirectoryResolvesItsVariableAndEndsInASeparatorOrIsRefused) {
    const std::pair<std::string, std::string> cases[] = {
        {"%APPDATA%\\Gw", kRoaming + "\\Gw\\"},
        {"%UNSET%\\Gw", "\\"},
        {"%APPDATA", "\\"},
        {"%EMPTY%D:\\Gw", "D:\\Gw\\"},
        {"D:\\Gw/", "D:\\Gw/"},
        {std::string(260, 'x'), ""},
        {"%APPDATA%\\" + std::string(232, 'x'), ""}, /* the variable's value makes it too long */
    };
    for (const auto& [value, directory] : cases) {
        FakeDesktop fake;
        installed(fake);
        fake.environment["EMPTY"] = "";
        working_directory(fake, value);
        char buffer[260];
        EXPECT_EQ(GetWorkingDirectory((kGw + "Gateway.cfg").c_str(), buffer, sizeof buffer),
                  directory.size());
        EXPECT_EQ(buffer, directory) << value;
    }
}

TEST(EdgeMode, MaintenanceWriteShowsThePlatformsMessageWhenItFails) {
    FakeDesktop fake;
    EXPECT_EQ(WriteGatewayMainenanceSetting(nullptr), RES_PARAMETER);
    for (RTS_UI32 error : {0u, 5u}) {
        fake.writeError = error;
        EXPECT_EQ(WriteGatewayMainenanceSetting(u"C:\\Gw\\Gateway.cfg"), error);
    }
    EXPECT_EQ(
        fake.calls,
        (Lines{"write C:\\Gw\\Gateway.cfg [CmpEdgeGateway] MaintenanceMode=1",
               "write C:\\Gw\\Gateway.cfg [CmpEdgeGateway] MaintenanceMode=1",
               "box Error | WriteGatewayMainenanceSetting(pcszGatewayCfgFile=\r\n\"C:\\Gw\\Gateway.cfg\")"
               "\r\nError:\r\ntext of 5 | 1"}));
}

} // namespace
