/* The program entry: picks the mode from the command line, loads the program strings, starts
 * the framework and the service-control semaphore, runs the mode and shuts everything down
 * in reverse order. A maintenance run ends before any of that starts. */
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
    desktop::load_string(instance, id, buffer, kStringSize);
    remove_double_quotes(buffer);
}

void show_cm_init_failed() {
    char caption[kStringSize + sizeof kCmInitFailedCaptionSuffix];
    CMUtlsnprintf(caption, sizeof caption, "%s%s", g_strings.serviceName, kCmInitFailedCaptionSuffix);
    desktop::message_box(kCmInitFailedText, caption, desktop::BoxKind::Error);
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
            desktop::message_box(kSplitFailedText, kErrorCaption, desktop::BoxKind::Error);
            return 0;
        }
        if (is_maintenance_run(commandLine)) {
            WriteGatewayMainenanceSetting(commandLine.wideWords[2].c_str());
            return 1;
        }
    }

    load_program_strings(commandLine.instance, g_strings);
    if (CMInit2(nullptr, StaticComponentList, 1) != RES_OK) {
        show_cm_init_failed();
        return 0;
    }
    RTS_HANDLE hMutex = SysSemProcessCreate(kServiceControlMutex, nullptr);
    service_control::bind(g_strings.company, hMutex);

    /* Tray mode (an empty command line) has no icon or message loop yet: it only starts the
     * framework and shuts it down again, ending with 0. */
    const int exitCode = commandLine.textEmpty ? 0 : run_console_mode(commandLine);

    service_control::bind(g_strings.company, RTS_INVALID_HANDLE);
    SysSemProcessDelete(hMutex);
    CMExit();
    return exitCode;
}

} // namespace entry
