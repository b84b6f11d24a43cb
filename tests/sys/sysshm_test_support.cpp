/* Helpers of the shared-memory and process-semaphore tests: component hook runs, unique
 * names, and starting, reading, killing and reaping the probe program on both platforms. */
#include "sysshm_test_support.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace shmtest {

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
#endif

} // namespace

std::string unique_name(const char* prefix) {
    return std::string(prefix) + std::to_string(process_id()) + "_" + std::to_string(++g_counter);
}

#ifdef _WIN32

Probe::Probe(const std::vector<std::string>& args) {
    std::string command = "\"" + probe_path() + "\"";
    for (const auto& a : args) command += " \"" + a + "\"";
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    started_ =
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi) != 0;
    CloseHandle(writeEnd);
    output_ = readEnd;
    if (!started_) return;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
}

Probe::~Probe() {
    if (started_ && !ended_) kill();
    if (started_) wait();
    if (process_ != nullptr) CloseHandle(process_);
    if (output_ != nullptr) CloseHandle(output_);
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
    if (!started_) return -1;
    if (!ended_) {
        WaitForSingleObject(process_, INFINITE);
        DWORD code = 0;
        exit_code_ = GetExitCodeProcess(process_, &code) ? static_cast<int>(code) : -1;
        ended_ = true;
    }
    return exit_code_;
}

#else

Probe::Probe(const std::vector<std::string>& args) {
    const std::string path = probe_path();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    pid_t pid = 0;
    started_ = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    output_ = reinterpret_cast<void*>(static_cast<intptr_t>(fds[0]));
    process_ = reinterpret_cast<void*>(static_cast<intptr_t>(pid));
}

Probe::~Probe() {
    if (started_ && !ended_) kill();
    if (started_) wait();
    close(static_cast<int>(reinterpret_cast<intptr_t>(output_)));
}

std::string Probe::read_line() {
    std::string line;
    char c = 0;
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(output_));
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

void Probe::kill() {
    if (started_ && !ended_) ::kill(static_cast<pid_t>(reinterpret_cast<intptr_t>(process_)), SIGKILL);
}

int Probe::wait() {
    if (!started_) return -1;
    if (!ended_) {
        int status = 0;
        pid_t pid = static_cast<pid_t>(reinterpret_cast<intptr_t>(process_));
        exit_code_ = waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ended_ = true;
    }
    return exit_code_;
}

#endif

int run_probe(const std::vector<std::string>& args) {
    Probe probe(args);
    return probe.started() ? probe.wait() : -1;
}

} // namespace shmtest
