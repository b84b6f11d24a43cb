/* Hosting a program as a Windows service, shared by the Windows peer and the stub gateway
 * service: installing and removing the service entry for the running executable, and
 * running a body on the service thread while reporting its states to the service control
 * manager. */
#ifndef WIN_SERVICE_H
#define WIN_SERVICE_H

#include <windows.h>

#include <atomic>
#include <string>

namespace win_service {

/* A service control manager handle that closes itself. */
class ScHandle {
public:
    explicit ScHandle(SC_HANDLE h = nullptr) : h_(h) {}
    ~ScHandle() {
        if (h_ != nullptr) CloseServiceHandle(h_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    void reset(SC_HANDLE h) {
        if (h_ != nullptr) CloseServiceHandle(h_);
        h_ = h;
    }
    SC_HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    SC_HANDLE h_;
};

/* What the body of a running service sees: the stop request of the manager, and the calls to
 * report its state (SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING). */
class Control {
public:
    std::atomic<bool> stop{false};
    /* Reports a state; pending states carry a growing check point and the wait hint. */
    void report(DWORD state, DWORD waitHintMs = 0);

private:
    friend void WINAPI service_main(DWORD, LPSTR*);
    SERVICE_STATUS_HANDLE status_ = nullptr;
    DWORD checkPoint_ = 0;
    DWORD exitCode_ = 0;
};

/* Runs until the service has stopped; its return value becomes the service's exit code. */
using Body = int (*)(Control& control, void* context);

struct Installation {
    const char* name;        /* key name of the service */
    const char* displayName; /* shown by the manager's tools */
    std::string arguments;   /* appended to the quoted path of this executable */
    bool autoStart;          /* started with the system, else on demand */
    bool startNow;           /* started right after it was installed */
};

/* Installs this executable as an own-process service running as LocalSystem. Returns 0 or
 * the Windows error code of the step that failed. */
DWORD install(const Installation& installation);

/* Stops the service (waiting up to 20 s for it) and deletes it; 0 or the error code. */
DWORD uninstall(const char* name);

/* Hands the process to the service control manager and runs body on the service thread;
 * returns when the service has stopped. 0 or the dispatcher's error code (for instance when
 * the program was not started by the manager). */
DWORD run_as_service(const char* name, Body body, void* context);

} // namespace win_service

#endif
