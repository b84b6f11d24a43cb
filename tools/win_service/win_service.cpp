/* Service hosting for the Windows tools: the dispatcher entry, the control handler that turns
 * a stop or shut-down request into Control::stop, the status reports, and install/uninstall
 * of the service entry. One service per process, so the state of the running one is kept in
 * this unit's statics. */
#include "win_service.h"

namespace win_service {

namespace {

constexpr DWORD kUninstallWaitMs = 20000;
constexpr DWORD kUninstallPollMs = 100;
/* Time the manager may wait for the body's first report of its own. */
constexpr DWORD kStartHintMs = 3000;

const char* g_name = "";
Body g_body = nullptr;
void* g_context = nullptr;
/* The control handler runs on the dispatcher's thread and only sets the atomic stop flag; the
 * service thread owns the rest. A static object, so the handler never sees it come or go. */
Control g_control;

DWORD WINAPI on_control(DWORD code, DWORD, void*, void*) {
    switch (code) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            g_control.stop.store(true);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

bool wait_until_stopped(SC_HANDLE service) {
    for (DWORD waited = 0; waited < kUninstallWaitMs; waited += kUninstallPollMs) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) return true;
        Sleep(kUninstallPollMs);
    }
    return false;
}

} // namespace

void Control::report(DWORD state, DWORD waitHintMs) {
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode_ == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = exitCode_;
    status.dwCheckPoint = pending ? ++checkPoint_ : 0;
    status.dwWaitHint = waitHintMs;
    SetServiceStatus(status_, &status);
}

void WINAPI service_main(DWORD, LPSTR*) {
    g_control.status_ = RegisterServiceCtrlHandlerExA(g_name, on_control, nullptr);
    if (g_control.status_ == nullptr) return;
    g_control.report(SERVICE_START_PENDING, kStartHintMs);
    g_control.exitCode_ = static_cast<DWORD>(g_body(g_control, g_context));
    g_control.report(SERVICE_STOPPED);
}

DWORD run_as_service(const char* name, Body body, void* context) {
    g_name = name;
    g_body = body;
    g_context = context;
    static char serviceName[256];
    lstrcpynA(serviceName, name, sizeof serviceName);
    const SERVICE_TABLE_ENTRYA table[] = {{serviceName, service_main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : GetLastError();
}

DWORD install(const Installation& installation) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ERROR_BAD_PATHNAME;
    const std::string command = std::string("\"") + path + "\" " + installation.arguments;

    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return GetLastError();
    ScHandle service(CreateServiceA(manager.get(), installation.name, installation.displayName,
                                    SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                    installation.autoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
                                    SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                    nullptr /* LocalSystem */, nullptr));
    if (!service) return GetLastError();
    if (installation.startNow && !StartServiceA(service.get(), 0, nullptr)) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_ALREADY_RUNNING) return error;
    }
    return 0;
}

DWORD uninstall(const char* name) {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return GetLastError();
    ScHandle service(OpenServiceA(manager.get(), name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) return GetLastError();
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status) && !wait_until_stopped(service.get()))
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    return DeleteService(service.get()) ? 0 : GetLastError();
}

} // namespace win_service
