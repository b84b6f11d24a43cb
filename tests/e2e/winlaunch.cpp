/* winlaunch.exe: starts one command line exactly as written, for the process-level tests under
 * Wine (whose loader would quote the words again), and waits for the child to end.
 *
 *   winlaunch.exe [--fail DLL!FUNCTION] "COMMAND LINE"
 *
 * The child writes to this console. Each message box it shows is printed as
 * "box <caption>: <text>" and closed with OK; the last line is "exit <code>". With --fail the
 * child runs under this debugger and, once the loader has mapped its imports, the named
 * function's first bytes become "xor eax, eax; ret": it fails from its first call on. */
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kUsage = 64;
constexpr int kNotStarted = 65;
constexpr int kNotPatched = 66;
constexpr DWORD kLookMs = 50;
constexpr int kMessageBoxTextId = 0xFFFF; /* the static text control of a message box */
constexpr unsigned char kReturnZero[] = {0x31, 0xC0, 0xC3};

DWORD g_child = 0;

BOOL CALLBACK find_box(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char kind[16] = {};
    GetClassNameA(window, kind, sizeof kind);
    if (process != g_child || std::strcmp(kind, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void close_box() {
    HWND box = nullptr;
    EnumWindows(find_box, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr) return;
    char caption[512] = {}, text[512] = {};
    GetWindowTextA(box, caption, sizeof caption);
    GetDlgItemTextA(box, kMessageBoxTextId, text, sizeof text);
    std::printf("box %s: %s\n", caption, text);
    std::fflush(stdout);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(box, WM_COMMAND, IDOK, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

/* The function's address in the child: the same offset from the base of the module that
 * holds it (after forwarding) as in this process. */
char* address_in_child(HANDLE child, const char* dll, const char* function) {
    HMODULE module = LoadLibraryA(dll);
    auto* own = module != nullptr ? reinterpret_cast<char*>(GetProcAddress(module, function)) : nullptr;
    HMODULE owner = nullptr;
    char ownerName[MAX_PATH] = {};
    if (own == nullptr ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            own, &owner) ||
        GetModuleBaseNameA(GetCurrentProcess(), owner, ownerName, sizeof ownerName) == 0)
        return nullptr;
    HMODULE modules[512];
    DWORD bytes = 0;
    if (!EnumProcessModules(child, modules, sizeof modules, &bytes)) return nullptr;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i) {
        char name[MAX_PATH] = {};
        if (GetModuleBaseNameA(child, modules[i], name, sizeof name) != 0 && lstrcmpiA(name, ownerName) == 0)
            return reinterpret_cast<char*>(modules[i]) + (own - reinterpret_cast<char*>(owner));
    }
    return nullptr;
}

bool make_fail(HANDLE child, const std::string& target) {
    const size_t bang = target.find('!');
    if (bang == std::string::npos) return false;
    char* address = address_in_child(child, target.substr(0, bang).c_str(), target.c_str() + bang + 1);
    DWORD old = 0;
    if (address == nullptr ||
        !VirtualProtectEx(child, address, sizeof kReturnZero, PAGE_EXECUTE_READWRITE, &old))
        return false;
    const bool written = WriteProcessMemory(child, address, kReturnZero, sizeof kReturnZero, nullptr);
    FlushInstructionCache(child, address, sizeof kReturnZero);
    return written;
}

/* Runs the child's debug events to its end; the loader's breakpoint comes once the imports
 * are mapped and before the program's own code runs. */
DWORD debug_until_exit(const PROCESS_INFORMATION& child, const std::string& target) {
    bool patched = false;
    for (;;) {
        DEBUG_EVENT event{};
        if (!WaitForDebugEvent(&event, kLookMs)) {
            close_box();
            continue;
        }
        DWORD status = DBG_CONTINUE;
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT)
            CloseHandle(event.u.CreateProcessInfo.hFile);
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) CloseHandle(event.u.LoadDll.hFile);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
            return event.u.ExitProcess.dwExitCode;
        }
        if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            if (!patched && event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT) {
                patched = make_fail(child.hProcess, target);
                if (!patched) TerminateProcess(child.hProcess, kNotPatched);
            } else {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::string target;
    if (argc == 4 && std::wcscmp(argv[1], L"--fail") == 0) {
        char text[MAX_PATH] = {};
        WideCharToMultiByte(CP_ACP, 0, argv[2], -1, text, sizeof text, nullptr, nullptr);
        target = text;
    } else if (argc != 2) {
        return kUsage;
    }
    std::wstring line = argv[argc - 1];
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    const DWORD flags = target.empty() ? 0 : DEBUG_ONLY_THIS_PROCESS;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &child))
        return kNotStarted;
    g_child = child.dwProcessId;
    DWORD code = 0;
    if (!target.empty()) {
        code = debug_until_exit(child, target);
    } else {
        while (WaitForSingleObject(child.hProcess, kLookMs) == WAIT_TIMEOUT) close_box();
        GetExitCodeProcess(child.hProcess, &code);
    }
    std::printf("exit %lu\n", code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return 0;
}
