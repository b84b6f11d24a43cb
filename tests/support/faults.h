// Faults of the processor for the tests of exception handling: each really faults, and the
// sanitizers are kept from stepping in before the processor does.
#pragma once

namespace testfault {

// Reads through a null pointer.
int read_null();
// Divides an integer by zero.
int divide_by_zero();

} // namespace testfault
