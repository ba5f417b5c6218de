#include "tests/support/hanging_lookup.h"

#include <dlfcn.h>

namespace morvane::test {
namespace {

// The shim's own functions, found in the process when it is loaded.
template <typename Function> Function* ShimFunction(const char* name) {
    return reinterpret_cast<Function*>(::dlsym(RTLD_DEFAULT, name));
}

} // namespace

bool HangingLookupShimLoaded() {
    return ShimFunction<void()>("morvane_release_hanging_lookups") != nullptr;
}

bool WaitForHangingLookup(std::chrono::milliseconds timeout) {
    auto* wait = ShimFunction<int(int)>("morvane_wait_for_hanging_lookup");
    return wait != nullptr && wait(static_cast<int>(timeout.count())) == 1;
}

void ReleaseHangingLookups() {
    if (auto* release = ShimFunction<void()>("morvane_release_hanging_lookups")) {
        release();
    }
}

LookupWatchdog::LookupWatchdog(std::chrono::milliseconds timeout)
    : m_thread([this, timeout] {
          std::unique_lock lock(m_mutex);
          if (!m_changed.wait_for(lock, timeout, [this] { return m_ended; })) {
              m_fired = true;
              ReleaseHangingLookups();
          }
      }) {}

LookupWatchdog::~LookupWatchdog() {
    (void)Fired();
}

bool LookupWatchdog::Fired() {
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_fired;
}

} // namespace morvane::test
