// The global allocation functions of a test binary, replaced so that a test can make one allocation fail.
#include "tests/service/failing_allocation.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool t_failNextAllocation = false;

} // namespace

namespace morvane::test {

void FailNextAllocationOfThisThread() {
    t_failNextAllocation = true;
}

} // namespace morvane::test

void* operator new(std::size_t size) {
    if (t_failNextAllocation) {
        t_failNextAllocation = false;
        throw std::bad_alloc();
    }
    void* memory = std::malloc(size == 0 ? 1 : size); // NOLINT(cppcoreguidelines-no-malloc)
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void operator delete(void* memory) noexcept {
    std::free(memory); // NOLINT(cppcoreguidelines-no-malloc)
}

void operator delete(void* memory, std::size_t /*size*/) noexcept {
    std::free(memory); // NOLINT(cppcoreguidelines-no-malloc)
}
