// Fault injection at a platform seam (a *_os.h table of calls that each return the OS error and
// name the failed platform call through their last parameter). An Injector puts a table in
// place whose routed entries forward to a base table (the platform's own, or a test's fake),
// except where a test injects a fault: such an entry reports the chosen OS error as the call
// "injected", either instead of the base call or after it (a release that reports an error but
// happened). Every routed entry counts its calls and the calls that succeeded, so a test can
// see that whatever was opened was given back again. The table goes when the Injector does.
#pragma once

#include <array>
#include <atomic>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "cm/rts_common.h"
#include "log_reader.h"

namespace seamfault {

constexpr int kMaxEntries = 24;
constexpr int kEveryCall = -1;

// What an entry does wrong: the error (0: nothing), for how many calls (kEveryCall: all), and
// whether the base call runs first. Set while no other thread uses the seam.
struct Fault {
    rts::OsError error = 0;
    int times = kEveryCall;
    bool after = false;
};

template <typename Calls> struct State {
    static inline const Calls* base = nullptr;
    static inline std::array<Fault, kMaxEntries> faults{};
    static inline std::array<std::atomic<int>, kMaxEntries> calls{};
    static inline std::array<std::atomic<int>, kMaxEntries> succeeded{};
};

template <auto Member, int Index> struct Forward;
template <typename Calls, typename... Args, rts::OsError (*Calls::*Member)(Args...), int Index>
struct Forward<Member, Index> {
    static_assert(Index < kMaxEntries);
    static rts::OsError call(Args... args) {
        using S = State<Calls>;
        ++S::calls[Index];
        Fault& fault = S::faults[Index];
        const bool failing = fault.error != rts::kOsOk && fault.times != 0;
        if (failing && fault.times > 0) --fault.times;
        rts::OsError error = failing && !fault.after ? rts::kOsOk : (S::base->*Member)(args...);
        if (error == rts::kOsOk && !failing) ++S::succeeded[Index];
        if (failing) {
            *std::get<sizeof...(Args) - 1>(std::tie(args...)) = "injected";
            error = fault.error;
        }
        return error;
    }
};

// One row of a seam's fault table: the entry that fails and how, what the test does then, the
// result it expects and the lines it expects in the log; `also` makes further entries fail.
template <typename Act> struct Row {
    int entry;
    Fault fault;
    Act act;
    RTS_RESULT result;
    std::vector<std::string> lines;
    std::vector<std::pair<int, Fault>> also = {};
};

// The log lines of injected faults that the component logged at LOG_DEBUG, oldest first.
inline std::vector<std::string> injected_lines(RTS_UI32 cmpId) {
    std::vector<std::string> out;
    for (const LogEntry& e : testlog::entries()) {
        if (e.CmpId == cmpId && e.ClassId == LOG_DEBUG && std::string(e.InfoText).rfind("injected", 0) == 0)
            out.emplace_back(e.InfoText);
    }
    return out;
}

// The line of an injected fault with the error, about the object named (empty: none).
inline std::string line(rts::OsError error, const std::string& object = {}) {
    return "injected failed" + (object.empty() ? "" : " for <name>" + object + "</name>") + ": OS error " +
           std::to_string(error);
}

// Puts a copy of the base table in place whose Members are routed through the injector, each
// counted under its place in the list; no entry fails until fail() says which. set is the
// seam's set_calls.
template <typename Calls, auto... Members> class Injector {
public:
    Injector(const Calls& base, void (*set)(const Calls*)) : set_(set), fake_(base) {
        route(std::make_index_sequence<sizeof...(Members)>{});
        State<Calls>::base = &base;
        State<Calls>::faults = {};
        for (int i = 0; i < kMaxEntries; ++i) State<Calls>::calls[i] = State<Calls>::succeeded[i] = 0;
        set_(&fake_);
    }
    ~Injector() { set_(nullptr); }
    Injector(const Injector&) = delete;
    Injector& operator=(const Injector&) = delete;

    void fail(int index, Fault fault) { State<Calls>::faults[index] = fault; }
    template <typename Act> void fail(const Row<Act>& row) {
        for (const auto& [index, fault] : row.also) fail(index, fault);
        fail(row.entry, row.fault);
    }
    void heal() { State<Calls>::faults = {}; }
    int calls(int index) const { return State<Calls>::calls[index]; }
    int succeeded(int index) const { return State<Calls>::succeeded[index]; }

private:
    template <size_t... Index> void route(std::index_sequence<Index...>) {
        ((fake_.*Members = &Forward<Members, static_cast<int>(Index)>::call), ...);
    }

    void (*set_)(const Calls*);
    Calls fake_;
};

} // namespace seamfault
