#pragma once

#include <cstddef>

namespace morvane::ui {

// The size of the last allocation that failed on the calling thread; 0 if none did.
std::size_t LastFailedAllocationSize();

// For tests: a function asked before every allocation of the program's operator new, which fails the allocation
// when it returns true. Null (the default) fails none. Must not allocate.
using AllocationFailureInjector = bool (*)(std::size_t bytes);
void SetAllocationFailureInjector(AllocationFailureInjector injector);

} // namespace morvane::ui
