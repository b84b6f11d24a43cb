// Helpers of the shared-memory and semaphore tests: component hook runs, unique names, thread
// ids and names, and starting, feeding, reading, killing and reaping the probe program on both
// platforms.
#include "ipc_support.h"

#include <atomic>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace ipctest {

ComponentRun::ComponentRun(PF_COMPONENT_ENTRY entry) {
    entry(&record_);
    hook(CH_INIT_SYSTEM);
    hook(CH_INIT);
}

ComponentRun::~ComponentRun() {
    hook(CH_EXIT);
    hook(CH_EXIT_SYSTEM);
}

namespace {

std::atomic<int> g_counter{0};

#ifdef _WIN32
unsigned long process_id() {
    return GetCurrentProcessId();
}

std::string probe_path() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1) + "ipcprobe.exe";
}

/* A pipe whose parent's end (read or write) is not inherited by the probe. */
bool make_pipe(HANDLE* pRead, HANDLE* pWrite, bool parentReads) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (!CreatePipe(pRead, pWrite, &sa, 0)) return false;
    SetHandleInformation(parentReads ? *pRead : *pWrite, HANDLE_FLAG_INHERIT, 0);
    return true;
}

void close_handle(void*& h) {
    if (h != nullptr) CloseHandle(h);
    h = nullptr;
}
#else
unsigned long process_id() {
    return static_cast<unsigned long>(getpid());
}

std::string probe_path() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string s(path, n > 0 ? static_cast<size_t>(n) : 0);
    return s.substr(0, s.find_last_of('/') + 1) + "ipcprobe";
}

int fd_of(void* p) {
    return static_cast<int>(reinterpret_cast<intptr_t>(p));
}

void* as_handle(int fd) {
    return reinterpret_cast<void*>(static_cast<intptr_t>(fd));
}

void close_handle(void*& h) {
    if (h != nullptr) close(fd_of(h));
    h = nullptr;
}
#endif

} // namespace

std::string unique_name(const char* prefix) {
    return std::string(prefix) + std::to_string(process_id()) + "_" + std::to_string(++g_counter);
}

#ifdef _WIN32

unsigned thread_id() {
    return GetCurrentThreadId();
}

bool name_thread(const char* name) {
    using PfSetThreadDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    auto set = reinterpret_cast<PfSetThreadDescription>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
    std::wstring wide(name, name + std::strlen(name));
    return set != nullptr && SUCCEEDED(set(GetCurrentThread(), wide.c_str()));
}

Probe::Probe(const std::vector<std::string>& args) {
    std::string command = "\"" + probe_path() + "\"";
    for (const auto& a : args) command += " \"" + a + "\"";
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
    if (!make_pipe(&inRead, &inWrite, false)) return;
    if (!make_pipe(&outRead, &outWrite, true)) {
        CloseHandle(inRead);
        CloseHandle(inWrite);
        return;
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inRead;
    si.hStdOutput = outWrite;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    started_ =
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi) != 0;
    CloseHandle(inRead);
    CloseHandle(outWrite);
    input_ = inWrite;
    output_ = outRead;
    if (!started_) return;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
}

std::string Probe::read_line() {
    std::string line;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(output_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
        if (c != '\r') line += c;
    }
    return line;
}

void Probe::kill() {
    if (started_ && !ended_) TerminateProcess(process_, 99);
}

int Probe::wait() {
    finish();
    if (started_ && !ended_) {
        WaitForSingleObject(process_, INFINITE);
        DWORD code = 0;
        exit_code_ = GetExitCodeProcess(process_, &code) ? static_cast<int>(code) : -1;
        ended_ = true;
    }
    return exit_code_;
}

Probe::~Probe() {
    wait();
    close_handle(process_);
    close_handle(output_);
}

#else

unsigned thread_id() {
    return static_cast<unsigned>(syscall(SYS_gettid));
}

bool name_thread(const char* name) {
    return pthread_setname_np(pthread_self(), name) == 0;
}

Probe::Probe(const std::vector<std::string>& args) {
    const std::string path = probe_path();
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid = 0;
    started_ = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input_ = as_handle(in[1]);
    output_ = as_handle(out[0]);
    process_ = as_handle(pid);
}

std::string Probe::read_line() {
    std::string line;
    char c = 0;
    while (read(fd_of(output_), &c, 1) == 1 && c != '\n') line += c;
    return line;
}

void Probe::kill() {
    if (started_ && !ended_) ::kill(static_cast<pid_t>(fd_of(process_)), SIGKILL);
}

int Probe::wait() {
    finish();
    if (started_ && !ended_) {
        int status = 0;
        const pid_t pid = static_cast<pid_t>(fd_of(process_));
        exit_code_ = waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ended_ = true;
    }
    return exit_code_;
}

Probe::~Probe() {
    wait();
    close_handle(output_);
}

#endif

std::vector<std::string> Probe::read_lines() {
    std::vector<std::string> lines;
    for (std::string line = read_line(); !line.empty(); line = read_line()) lines.push_back(line);
    return lines;
}

void Probe::finish() {
    close_handle(input_);
}

int run_probe(const std::vector<std::string>& args) {
    return Probe(args).wait();
}

} // namespace ipctest
