// Fault injection at a platform seam (a sys/*_os.h table of calls that each return the OS error
// and name the failed call through their last parameter). An Injector puts a table in place
// whose entries forward to the platform's own table, except the one a test makes fail: that one
// reports the chosen OS error as the call "injected" without touching the platform. Every entry
// counts its calls and the calls that succeeded, so a test can see that whatever was opened was
// given back again.
#pragma once

#include <array>
#include <atomic>
#include <tuple>

#include "cm/rts_common.h"

namespace seamfault {

constexpr int kMaxEntries = 24;

template <typename Calls> struct State {
    static inline const Calls* real = nullptr;
    static inline std::atomic<int> failing{-1};
    static inline std::atomic<rts::OsError> error{0};
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
        if (S::failing == Index) {
            *std::get<sizeof...(Args) - 1>(std::tie(args...)) = "injected";
            return S::error;
        }
        const rts::OsError error = (S::real->*Member)(args...);
        if (error == rts::kOsOk) ++S::succeeded[Index];
        return error;
    }
};

// The forwarding entry for a member of a seam table, counted under Index.
template <auto Member, int Index> constexpr auto forward = &Forward<Member, Index>::call;

// Puts the table in place for its lifetime (set is the seam's set_calls); no entry fails until
// fail() says which.
template <typename Calls> class Injector {
public:
    Injector(const Calls& real, const Calls& fake, void (*set)(const Calls*)) : set_(set), fake_(fake) {
        State<Calls>::real = &real;
        State<Calls>::failing = -1;
        for (int i = 0; i < kMaxEntries; ++i) State<Calls>::calls[i] = State<Calls>::succeeded[i] = 0;
        set_(&fake_);
    }
    ~Injector() { set_(nullptr); }
    Injector(const Injector&) = delete;
    Injector& operator=(const Injector&) = delete;

    void fail(int index, rts::OsError error) {
        State<Calls>::failing = index;
        State<Calls>::error = error;
    }
    int calls(int index) const { return State<Calls>::calls[index]; }
    int succeeded(int index) const { return State<Calls>::succeeded[index]; }

private:
    void (*set_)(const Calls*);
    Calls fake_;
};

} // namespace seamfault
