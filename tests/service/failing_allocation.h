#pragma once

namespace morvane::test {

// Makes the next allocation by operator new on the calling thread throw std::bad_alloc. Only in a test binary
// that links failing_allocation.cpp, which replaces the global operator new and delete.
void FailNextAllocationOfThisThread();

} // namespace morvane::test
