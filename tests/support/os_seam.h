// Puts a table of fake operating-system calls in place of a platform seam's own for one scope,
// and restores the platform's table when the scope ends (also when an assertion fails).
#pragma once

namespace testseam {

template <typename Calls, void (*SetCalls)(const Calls*)> class Use {
public:
    explicit Use(const Calls& fake) { SetCalls(&fake); }
    explicit Use(const Calls&&) = delete; // the table must outlive the scope
    ~Use() { SetCalls(nullptr); }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
};

} // namespace testseam
