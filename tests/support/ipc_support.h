// Helpers of the shared-memory and semaphore tests: driving one component through its start-up
// and shut-down hooks, names no other test run uses, thread ids and names, and the probe
// program (ipcprobe) that plays the other process in the cross-process tests.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "cm.h"

namespace ipctest {

// Takes one component through CH_INIT_SYSTEM and CH_INIT, and back through CH_EXIT and
// CH_EXIT_SYSTEM when it goes out of scope.
class ComponentRun {
public:
    explicit ComponentRun(PF_COMPONENT_ENTRY entry);
    ~ComponentRun();
    ComponentRun(const ComponentRun&) = delete;
    ComponentRun& operator=(const ComponentRun&) = delete;
    RTS_RESULT hook(RTS_UI32 hook) { return record_.hookFunction(hook, 0, 0); }
    const ComponentInitRecord& record() const { return record_; }

private:
    ComponentInitRecord record_{};
};

// A name unique to this process and call: prefix + process id + counter.
std::string unique_name(const char* prefix);

// What f gives when it runs on a thread of its own.
template <typename F> auto on_other_thread(F f) {
    decltype(f()) result{};
    std::thread([&] { result = f(); }).join();
    return result;
}

// The calling thread's id as the platform counts threads.
unsigned thread_id();
// Names the calling thread where the platform can; false when it cannot.
bool name_thread(const char* name);

// The probe program running as another process: its standard output read line by line, its
// standard input held open until finish() or wait().
class Probe {
public:
    explicit Probe(const std::vector<std::string>& args);
    ~Probe();
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
    // The next line the probe printed, without its end; empty at the end of its output.
    std::string read_line();
    // Every line still to come, up to the end of its output.
    std::vector<std::string> read_lines();
    // Closes the probe's standard input: a probe that holds something lets go and ends.
    void finish();
    // Ends the probe at once, as a crash would.
    void kill();
    // Finishes the probe, waits for its end and gives its exit code (-1 when it did not start).
    int wait();

private:
    bool started_ = false;
    bool ended_ = false;
    int exit_code_ = -1;
    void* process_ = nullptr;
    void* output_ = nullptr;
    void* input_ = nullptr;
};

// Runs the probe to its end and gives its exit code.
int run_probe(const std::vector<std::string>& args);

} // namespace ipctest
