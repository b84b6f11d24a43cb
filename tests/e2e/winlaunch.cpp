/* winlaunch.exe [--fail DLL!FUNCTION] "COMMAND LINE": starts the command line exactly as
 * written (Wine's loader would quote the words again) under this debugger and waits for its end.
 * The child writes to this console; each message box it shows is printed as "box <caption>:
 * <text>" and closed with OK; the last line is "exit <code>". With --fail, the function's first
 * bytes become "xor eax, eax; ret" at the loader's breakpoint, before the program's own code. */
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr unsigned char kReturnZero[] = {0x31, 0xC0, 0xC3};
constexpr int kMessageBoxTextId = 0xFFFF; /* the static text control of a message box */
DWORD g_child = 0;

BOOL CALLBACK find_box(HWND window, LPARAM found) {
    DWORD process = 0;
    char kind[16] = {};
    GetWindowThreadProcessId(window, &process);
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

/* The function's address in the child: the same offset from the base of the module that holds
 * it (after forwarding: shell32's CommandLineToArgvW may live in another module) as here. */
char* address_in_child(HANDLE child, const std::string& target) {
    const size_t bang = target.find('!');
    HMODULE module = bang != std::string::npos ? LoadLibraryA(target.substr(0, bang).c_str()) : nullptr;
    auto* own = module != nullptr ? reinterpret_cast<char*>(GetProcAddress(module, target.c_str() + bang + 1))
                                  : nullptr;
    HMODULE owner = nullptr, modules[512];
    char ownerName[MAX_PATH] = {}, name[MAX_PATH] = {};
    DWORD bytes = 0;
    if (own == nullptr || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, own, &owner) ||
        !GetModuleBaseNameA(GetCurrentProcess(), owner, ownerName, sizeof ownerName) ||
        !EnumProcessModules(child, modules, sizeof modules, &bytes))
        return nullptr;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i) {
        if (GetModuleBaseNameA(child, modules[i], name, sizeof name) && lstrcmpiA(name, ownerName) == 0)
            return reinterpret_cast<char*>(modules[i]) + (own - reinterpret_cast<char*>(owner));
    }
    return nullptr;
}

bool make_fail(HANDLE child, const std::string& target) {
    char* address = address_in_child(child, target);
    DWORD old = 0;
    return address != nullptr &&
           VirtualProtectEx(child, address, sizeof kReturnZero, PAGE_EXECUTE_READWRITE, &old) &&
           WriteProcessMemory(child, address, kReturnZero, sizeof kReturnZero, nullptr) &&
           FlushInstructionCache(child, address, sizeof kReturnZero);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const bool fail = argc == 4 && std::wcscmp(argv[1], L"--fail") == 0;
    if (argc != (fail ? 4 : 2)) return 64;
    char target[MAX_PATH] = {};
    if (fail) WideCharToMultiByte(CP_ACP, 0, argv[2], -1, target, sizeof target, nullptr, nullptr);
    std::wstring line = argv[argc - 1];
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr,
                        nullptr, &startup, &child))
        return 65;
    g_child = child.dwProcessId;
    bool atLoaderBreakpoint = true;
    for (DEBUG_EVENT event{};;) {
        if (!WaitForDebugEvent(&event, 50)) {
            close_box();
            continue;
        }
        DWORD status = DBG_CONTINUE;
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT)
            CloseHandle(event.u.CreateProcessInfo.hFile);
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) CloseHandle(event.u.LoadDll.hFile);
        if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            if (atLoaderBreakpoint &&
                event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT) {
                atLoaderBreakpoint = false;
                if (fail && !make_fail(child.hProcess, target)) TerminateProcess(child.hProcess, 66);
            } else {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            std::printf("exit %lu\n", event.u.ExitProcess.dwExitCode);
            return 0;
        }
    }
}
