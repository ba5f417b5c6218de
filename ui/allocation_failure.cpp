// The program's operator new: when memory for any of its data cannot be had, the GUI thread reports it with the
// fatal-error box at once; another thread notes the size and throws std::bad_alloc, so that the job it runs is
// unwound and handed to the window, which then shows the same box.
#include "ui/allocation_failure.h"

#include "ui/fatal_error.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace morvane::ui {
namespace {

thread_local std::size_t t_lastFailedSize = 0;
std::atomic<AllocationFailureInjector> g_injector{nullptr};

void* Allocate(std::size_t bytes) {
    const std::size_t size = bytes == 0 ? 1 : bytes;
    for (;;) {
        const AllocationFailureInjector injector = g_injector.load(std::memory_order_relaxed);
        if (injector == nullptr || !injector(bytes)) {
            if (void* memory = std::malloc(size); memory != nullptr) {
                return memory;
            }
        }
        if (const std::new_handler handler = std::get_new_handler(); handler != nullptr) {
            handler();
            continue;
        }
        t_lastFailedSize = bytes;
        if (OnGuiThread()) {
            ReportFatalError(AllocationFailureMessage(bytes), 0);
        }
        throw std::bad_alloc();
    }
}

} // namespace

std::size_t LastFailedAllocationSize() {
    return t_lastFailedSize;
}

void SetAllocationFailureInjector(AllocationFailureInjector injector) {
    g_injector.store(injector);
}

} // namespace morvane::ui

void* operator new(std::size_t bytes) {
    return morvane::ui::Allocate(bytes);
}

void* operator new[](std::size_t bytes) {
    return morvane::ui::Allocate(bytes);
}

void* operator new(std::size_t bytes, const std::nothrow_t& /*unused*/) noexcept {
    try {
        return morvane::ui::Allocate(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t bytes, const std::nothrow_t& /*unused*/) noexcept {
    try {
        return morvane::ui::Allocate(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete[](void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t /*bytes*/) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, std::size_t /*bytes*/) noexcept {
    std::free(memory);
}

void operator delete(void* memory, const std::nothrow_t& /*unused*/) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, const std::nothrow_t& /*unused*/) noexcept {
    std::free(memory);
}
