/* Edge configuration mode. The tray program runs as the logged-on user, while the gateway's
 * configuration file lies in the gateway's working directory under the system account's
 * profile; so the mode finds that file through the service's registry entry and the gateway's
 * own configuration, stops the gateway, lets an elevated second instance of the program write
 * the one setting (the maintenance run), and starts the gateway again. Whenever the automatic
 * way does not reach its end, the user is told how to do the same by hand. A path that does not
 * fit its 260 characters is refused the same way, never cut. Every platform call goes through
 * the desktop port; no state survives a call. */
#include "edge_mode.h"

#include <cstring>
#include <string>

#include "cmutils.h"
#include "desktop.h"
#include "resources/strings.h"
#include "service_control.h"
#include "tray.h"

namespace {

constexpr RTS_UI32 kCaptionSize = 100;
constexpr RTS_UI32 kTextSize = 500;
constexpr RTS_UI32 kServiceNameSize = 50;
constexpr RTS_UI32 kPathSize = 260;
constexpr RTS_UI32 kMessageSize = 4000;
/* Stopping and restarting the gateway: this many requests, this far apart. */
constexpr int kAttempts = 11;
constexpr RTS_UI32 kAttemptPauseMs = 500;

constexpr char kErrorCaption[] = "Error in HandleEdgeConfigurationMode()";
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\KELVARO Gateway V3";
constexpr char kImagePath[] = "ImagePath";
constexpr char kGatewayCfg[] = "Gateway.cfg";
constexpr char kNativeProfile[] = "%SystemRoot%\\system32\\config\\systemprofile\\AppData\\Roaming";
constexpr char kEmulatedProfile[] = "%SystemRoot%\\SysWOW64\\config\\systemprofile\\AppData\\Roaming";
constexpr char kRoamingMarker[] = "\\AppData\\Roaming";
constexpr char kMaintenanceKey[] = "MaintenanceMode";
constexpr RTS_WCHAR kMaintenanceKeyW[] = u"MaintenanceMode";
constexpr RTS_WCHAR kMaintenanceSectionW[] = u"CmpEdgeGateway";
constexpr RTS_WCHAR kMaintenanceValueW[] = u"1";
/* The gateway's own configuration: where the file system's settings are, and its working directory. */
constexpr char kSettingsSection[] = "CmpSettings";
constexpr char kFileReference[] = "FileReference.0";
constexpr char kSysFile[] = "SysFile";
constexpr char kWorkingDirectoryKey[] = "Windows.WorkingDirectory";

constexpr char kRegOpenFailed[] = "RegOpenKeyEx() failed";
constexpr char kRegQueryFailed[] = "RegQueryValueEx() failed";
constexpr char kStopFailed[] = "Failed to stop the Gateway service.";
constexpr char kRestartFailed[] = "Failed to restart the Gateway service.";
constexpr char kWorkingDirectoryFailed[] = "GetWorkingDirectory() failed";
constexpr char kWow64Failed[] = "IsWow64Process() failed";
constexpr char kCouldNotFind[] = "Could not find \"%s\"\r\nin \"%s\".";
constexpr char kModuleFailed[] = "GetModuleFileName() failed.\r\nError:\r\n%s";
constexpr char kLaunchFailed[] = "ShellExecute() returned: %lld\r\nError:\r\n%s";
constexpr char kPathTooLong[] = "The path \"%s\" does not fit into 260 characters.";
constexpr char kWriteFailedCaption[] = "Error";
constexpr char kWriteFailed[] =
    "WriteGatewayMainenanceSetting(pcszGatewayCfgFile=\r\n\"%s\")\r\nError:\r\n%s";
constexpr char kRunAs[] = "runas";
constexpr char kLaunchFile[] = "\"%s\"";
constexpr char kLaunchParameters[] = "maintenance \"%s\"";

edge_mode::Request g_request = SendServiceControlRequest;

desktop::Desktop& ui() {
    return desktop::current();
}

using Path = char[kPathSize];

/* A failure box of the mode; false, so that a step can end with it. */
bool fail(const char* text) {
    ui().message_box(text, kErrorCaption, desktop::BoxIcon::Error, desktop::BoxButtons::Ok);
    return false;
}

/* The refusal of a path that does not fit its 260 characters. */
bool refuse_long_path(const std::string& path) {
    char text[kMessageSize];
    CMUtlsnprintf(text, sizeof text, kPathTooLong, path.c_str());
    return fail(text);
}

/* A box with the platform's message for error after the format's other pieces. */
template <typename... Pieces>
void show_with_error_text(const char* caption, const char* format, RTS_UI32 error, Pieces... pieces) {
    char errorText[kTextSize], text[kMessageSize];
    ui().error_text(error, errorText, sizeof errorText);
    CMUtlsnprintf(text, sizeof text, format, pieces..., errorText);
    ui().message_box(text, caption, desktop::BoxIcon::Error, desktop::BoxButtons::Ok);
}

/* The text of string-table entry id, at most size-1 characters. */
template <RTS_SIZE N> const char* load(RTS_UI32 id, char (&buffer)[N]) {
    ui().load_string(nullptr, id, buffer, static_cast<int>(N));
    return buffer;
}

void show_manual_instructions(const char* service) {
    char first[kTextSize], last[kTextSize], caption[kCaptionSize], middle[kTextSize];
    load(IDS_EDGE_MANUAL_FIRST, first);
    load(IDS_EDGE_MANUAL_LAST, last);
    load(IDS_EDGE_MANUAL_CAPTION, caption);
    load(IDS_EDGE_MANUAL_MIDDLE, middle);
    char format[kMessageSize], text[kMessageSize];
    CMUtlsnprintf(format, sizeof format, "%s%s%s", first, middle, last);
    CMUtlsnprintf(text, sizeof text, format, service, service, kMaintenanceKey, service);
    ui().message_box(text, caption, desktop::BoxIcon::Warning, desktop::BoxButtons::Ok);
}

bool confirmed() {
    char caption[kCaptionSize], text[kTextSize];
    return ui().message_box(load(IDS_EDGE_CONFIRM_TEXT, text), load(IDS_EDGE_CONFIRM_CAPTION, caption),
                            desktop::BoxIcon::Warning, desktop::BoxButtons::YesNo) == desktop::BoxAnswer::Yes;
}

/* The folder of path: up to and including its last backslash. */
std::string folder_of(const char* path) {
    const char* slash = std::strrchr(path, '\\');
    return std::string(path, slash != nullptr ? slash + 1 - path : 0);
}

/* name in the folder of path; false when that does not fit. */
bool in_folder_of(const char* path, const char* name, Path& out) {
    return CMUtlsnprintf(out, kPathSize, "%s%s", folder_of(path).c_str(), name) == RES_OK;
}

/* A value of the gateway's configuration; false when it is longer than a path may be. */
bool read_setting(const char* file, const char* section, const char* key, Path& value) {
    char longer[kPathSize + 1];
    if (ui().profile_string(file, section, key, longer, sizeof longer) >= kPathSize) return false;
    std::memcpy(value, longer, kPathSize);
    return true;
}

/* The file that holds the file system's settings: a separate one when the file reference's
 * component part ends at its first "SysFile", else the configuration file itself. */
bool settings_file_of(const char* gatewayCfg, Path& file) {
    Path reference;
    if (!read_setting(gatewayCfg, kSettingsSection, kFileReference, reference)) return false;
    char* comma = std::strchr(reference, ',');
    const char* component = comma != nullptr ? std::strstr(comma + 1, kSysFile) : nullptr;
    if (component == nullptr || component[sizeof kSysFile - 1] != '\0')
        return CMUtlSafeStrCpy(file, kPathSize, gatewayCfg) == RES_OK;
    *comma = '\0';
    return in_folder_of(gatewayCfg, reference, file);
}

/* The working directory's value resolved: "%NAME%rest" becomes the variable's value and rest,
 * or nothing when it is not set or the second "%" is missing; any other value stays. False
 * when the result does not fit. */
bool resolve(const char* value, Path& result) {
    result[0] = '\0';
    if (value[0] != '%') return CMUtlSafeStrCpy(result, kPathSize, value) == RES_OK;
    const char* close = std::strchr(value + 1, '%');
    if (close == nullptr) return true;
    Path name, variable;
    CMUtlsnprintf(name, sizeof name, "%.*s", static_cast<int>(close - value - 1), value + 1);
    switch (ui().environment_variable(name, variable, kPathSize)) {
        case desktop::Lookup::Found:
            return CMUtlsnprintf(result, kPathSize, "%s%s", variable, close + 1) == RES_OK;
        case desktop::Lookup::Missing:
            return true;
        default:
            return false;
    }
}

/* ImagePath of the gateway service. */
bool read_image_path(Path& imagePath) {
    switch (ui().machine_registry_string(kServiceKey, kImagePath, imagePath, kPathSize)) {
        case desktop::RegistryRead::NoKey:
            return fail(kRegOpenFailed);
        case desktop::RegistryRead::NoValue:
            return fail(kRegQueryFailed);
        default:
            return true;
    }
}

/* Sends command until the gateway runs (or, for a stop, no longer runs), at most kAttempts
 * times: a stop before each pause, a start after it. True once the gateway is where wanted. */
bool repeat_until(RTS_UI32 command, const char* service) {
    const bool wantRunning = command == service_control::kCommandStart;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!wantRunning) g_request(command, service, nullptr);
        ui().sleep(kAttemptPauseMs);
        if (wantRunning) g_request(command, service, nullptr);
        if ((IsGatewayRunning() != 0) == wantRunning) return true;
    }
    return false;
}

bool stop_gateway(const char* service) {
    return IsGatewayRunning() == 0 || repeat_until(service_control::kCommandStop, service) ||
           fail(kStopFailed);
}

bool restart_gateway(const char* service) {
    return IsGatewayRunning() != 0 || repeat_until(service_control::kCommandStart, service) ||
           fail(kRestartFailed);
}

/* The gateway's configuration file under the system account's profile: the working directory
 * of the installed configuration, from its "\AppData\Roaming" on, moved into the profile. */
bool target_file(const char* imagePath, Path& target) {
    Path gatewayCfg, workingDirectory, profile;
    const char* program = imagePath[0] == '"' ? imagePath + 1 : imagePath;
    if (!in_folder_of(program, kGatewayCfg, gatewayCfg))
        return refuse_long_path(folder_of(program) + kGatewayCfg);
    if (GetWorkingDirectory(gatewayCfg, workingDirectory, kPathSize) == 0)
        return fail(kWorkingDirectoryFailed);
    bool emulated = false;
    if (!ui().is_wow64_process(emulated)) return fail(kWow64Failed);
    const char* folder = emulated ? kEmulatedProfile : kNativeProfile;
    if (!ui().expand_environment(folder, profile, kPathSize)) return refuse_long_path(folder);
    const char* marker = std::strstr(workingDirectory, kRoamingMarker);
    if (marker == nullptr) {
        char text[kMessageSize];
        CMUtlsnprintf(text, sizeof text, kCouldNotFind, kRoamingMarker, workingDirectory);
        return fail(text);
    }
    const char* rest = marker + sizeof kRoamingMarker - 1;
    if (CMUtlsnprintf(target, kPathSize, "%s%s%s", profile, rest, kGatewayCfg) != RES_OK)
        return refuse_long_path(std::string(profile) + rest + kGatewayCfg);
    return true;
}

/* The program's own path; a failure the platform explains is shown with its text. */
bool own_path(Path& path) {
    RTS_UI32 error = 0;
    if (ui().module_file_name(path, kPathSize, error)) return true;
    if (error != 0) show_with_error_text(kErrorCaption, kModuleFailed, error);
    return false;
}

/* Starts the elevated maintenance run for target; true when the shell started it. */
bool launch(const char* ownPath, const char* target) {
    char file[kPathSize + 2], parameters[kPathSize + sizeof kLaunchParameters];
    CMUtlsnprintf(file, sizeof file, kLaunchFile, ownPath);
    CMUtlsnprintf(parameters, sizeof parameters, kLaunchParameters, target);
    RTS_UI32 error = 0;
    const RTS_INTPTR answer = ui().shell_execute(kRunAs, file, parameters, error);
    if (answer > 32) return true;
    if (error != 0) show_with_error_text(kErrorCaption, kLaunchFailed, error, static_cast<long long>(answer));
    return false;
}

/* The steps after the confirmation; true when the setting is on its way and the gateway runs. */
bool run_steps(const char* service) {
    Path imagePath, target, ownPath;
    if (!read_image_path(imagePath) || !stop_gateway(service) || !target_file(imagePath, target) ||
        !own_path(ownPath))
        return false;
    const bool launched = launch(ownPath, target);
    return restart_gateway(service) && launched;
}

} // namespace

namespace edge_mode {

void set_request(Request request) {
    g_request = request != nullptr ? request : SendServiceControlRequest;
}

} // namespace edge_mode

extern "C" RTS_INTPTR EdgeModeCommandHandler(RTS_UI32 command) {
    if (command == IDM_EDGE) HandleEdgeConfigurationMode();
    return 0;
}

extern "C" void HandleEdgeConfigurationMode(void) {
    if (!confirmed()) return;
    char service[kServiceNameSize];
    load(IDS_SERVICE_NAME, service);
    if (!run_steps(service)) show_manual_instructions(service);
}

extern "C" RTS_UI32 GetWorkingDirectory(const char* pszGatewayCfgFile, char* pszWorkingDirectory,
                                        RTS_UI32 ulSize) {
    if (pszGatewayCfgFile == nullptr || pszWorkingDirectory == nullptr || ulSize == 0) return 0;
    Path file, value, result;
    if (!settings_file_of(pszGatewayCfgFile, file) ||
        !read_setting(file, kSysFile, kWorkingDirectoryKey, value) || value[0] == '\0' ||
        !resolve(value, result))
        return 0;
    const RTS_SIZE length = std::strlen(result);
    const bool separated = length > 0 && (result[length - 1] == '\\' || result[length - 1] == '/');
    if (CMUtlsnprintf(pszWorkingDirectory, ulSize, "%s%s", result, separated ? "" : "\\") != RES_OK) return 0;
    return static_cast<RTS_UI32>(std::strlen(pszWorkingDirectory));
}

extern "C" RTS_RESULT WriteGatewayMainenanceSetting(const RTS_WCHAR* pcszGatewayCfgFile) {
    if (pcszGatewayCfgFile == nullptr) return RES_PARAMETER;
    const RTS_UI32 error = ui().write_profile_string(pcszGatewayCfgFile, kMaintenanceSectionW,
                                                     kMaintenanceKeyW, kMaintenanceValueW);
    if (error != 0) {
        char file[kMessageSize];
        CMUtlWToStr(pcszGatewayCfgFile, file, sizeof file);
        show_with_error_text(kWriteFailedCaption, kWriteFailed, error, static_cast<const char*>(file));
    }
    return error;
}
