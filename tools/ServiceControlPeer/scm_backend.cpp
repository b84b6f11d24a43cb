/* The service control manager backend: each request opens the named service with just the
 * access it needs, so a peer running as LocalSystem can serve every service and a peer run
 * by a plain user still answers queries. */
#include "scm_backend.h"

namespace {

/* Opens the service and runs action on it; the manager's error code when either fails. */
template <typename Action>
RTS_UI32 with_service(SC_HANDLE manager, const char* name, DWORD access, Action action) {
    if (manager == nullptr) return GetLastError();
    win_service::ScHandle service(OpenServiceA(manager, name, access));
    if (!service) return GetLastError();
    return action(service.get()) ? 0 : GetLastError();
}

} // namespace

SC_HANDLE ScmBackend::manager() {
    if (!manager_) manager_.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    return manager_.get();
}

RTS_UI32 ScmBackend::start(const char* name) {
    return with_service(manager(), name, SERVICE_START,
                        [](SC_HANDLE s) { return StartServiceA(s, 0, nullptr) != 0; });
}

RTS_UI32 ScmBackend::stop(const char* name) {
    return with_service(manager(), name, SERVICE_STOP, [](SC_HANDLE s) {
        SERVICE_STATUS status{};
        return ControlService(s, SERVICE_CONTROL_STOP, &status) != 0;
    });
}

RTS_UI32 ScmBackend::query(const char* name, RTS_UI32* pState) {
    return with_service(manager(), name, SERVICE_QUERY_STATUS, [pState](SC_HANDLE s) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(s, &status)) return false;
        *pState = status.dwCurrentState;
        return true;
    });
}
