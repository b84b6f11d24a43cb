/* The program entry: picks the mode from the command line, loads the program strings, opens the
 * tray's main window in tray mode, starts the framework and the service-control semaphore, runs
 * the mode and shuts everything down in reverse order. A maintenance run ends before any of that
 * starts. */
#include "entry.h"

#include <cstdio>

#include "cm.h"
#include "cmutils.h"
#include "console.h"
#include "desktop.h"
#include "edge_mode.h"
#include "resources/strings.h"
#include "service_control.h"
#include "syssem.h"
#include "tray.h"

namespace entry {

namespace {

constexpr char kSplitFailedText[] = "CommandLineToArgvW failed";
constexpr char kErrorCaption[] = "Error";
constexpr char kCmInitFailedText[] = "CMInit failed!";
constexpr char kCmInitFailedCaptionSuffix[] = " SysTray";
constexpr char kServiceControlMutex[] = "ServiceControlMutex";
constexpr char16_t kMaintenanceWord[] = u"maintenance";

/* Kept for the program's lifetime: the service-control channel refers to the company string. */
ProgramStrings g_strings;

void load_one(RTS_HANDLE instance, RTS_UI32 id, char (&buffer)[kStringSize]) {
    desktop::current().load_string(instance, id, buffer, kStringSize);
    remove_double_quotes(buffer);
}

void show_cm_init_failed() {
    char caption[kStringSize + sizeof kCmInitFailedCaptionSuffix];
    CMUtlsnprintf(caption, sizeof caption, "%s%s", g_strings.serviceName, kCmInitFailedCaptionSuffix);
    desktop::current().message_box(kCmInitFailedText, caption, desktop::BoxIcon::Error,
                                   desktop::BoxButtons::Ok);
}

int run_console_mode(const CommandLine& commandLine) {
    desktop::attach_parent_console();
    const console::ConsolePort port{
        SendServiceControlRequest,
        desktop::sleep_ms,
        desktop::tick_ms,
        [](const char* text) {
            std::fputs(text, stdout);
            std::fflush(stdout);
        },
    };
    return console::run_console(commandLine.words, g_strings.serviceName, port);
}

} // namespace

void remove_double_quotes(char* text) {
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        if (*in != '"') *out++ = *in;
    }
    *out = '\0';
}

void load_program_strings(RTS_HANDLE instance, ProgramStrings& strings) {
    load_one(instance, IDS_APP_TITLE, strings.title);
    load_one(instance, IDS_SERVICE_NAME, strings.serviceName);
    load_one(instance, IDS_COMPANY, strings.company);
    load_one(instance, IDS_MAIN_WINDOW_CLASS, strings.windowClass);
}

bool is_maintenance_run(const CommandLine& commandLine) {
    return commandLine.wideWords.size() == 3 && commandLine.wideWords[1] == kMaintenanceWord;
}

int gateway_control_main(const CommandLine& commandLine) {
    if (!commandLine.textEmpty) {
        if (commandLine.splitFailed) {
            desktop::current().message_box(kSplitFailedText, kErrorCaption, desktop::BoxIcon::Error,
                                           desktop::BoxButtons::Ok);
            return 0;
        }
        if (is_maintenance_run(commandLine)) {
            WriteGatewayMainenanceSetting(commandLine.wideWords[2].c_str());
            return 1;
        }
    }

    load_program_strings(commandLine.instance, g_strings);
    const bool trayMode = commandLine.textEmpty;
    if (trayMode) {
        const tray::Start start = tray::open_main_window(commandLine.instance, g_strings);
        if (start != tray::Start::Ready) return start == tray::Start::NoWindow ? 1 : 0;
    }
    if (CMInit2(nullptr, StaticComponentList, 1) != RES_OK) {
        show_cm_init_failed();
        if (trayMode) tray::remove_icon();
        return 0;
    }
    RTS_HANDLE hMutex = SysSemProcessCreate(kServiceControlMutex, nullptr);
    service_control::bind(g_strings.company, hMutex);

    int exitCode = 0;
    if (trayMode)
        tray::run();
    else
        exitCode = run_console_mode(commandLine);

    service_control::bind(g_strings.company, RTS_INVALID_HANDLE);
    SysSemProcessDelete(hMutex);
    CMExit();
    if (trayMode) tray::remove_icon();
    return exitCode;
}

} // namespace entry
