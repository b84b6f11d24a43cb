// Faults of the processor, behind values the compiler cannot see through.
#include "faults.h"

namespace testfault {

namespace {
volatile int* volatile g_null = nullptr;
volatile int g_zero = 0, g_seven = 7;
} // namespace

[[gnu::noinline]] __attribute__((no_sanitize("address", "undefined"))) int read_null() {
    return *g_null;
}

[[gnu::noinline]] __attribute__((no_sanitize("undefined"))) int divide_by_zero() {
    return g_seven / g_zero;
}

} // namespace testfault
