#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace morvane {

// Blocks SIGINT and SIGTERM in the calling thread. Threads started afterwards inherit the mask, so called first
// in main it leaves the signals to a StopSignalWatcher alone. False when the mask cannot be set.
bool BlockStopSignals();

// A thread that waits for SIGINT or SIGTERM (blocked by BlockStopSignals) and then calls onStop once, on its
// own thread. The destructor releases a watcher that caught nothing and joins it. Usage:
//
//     BlockStopSignals();
//     StopSignalWatcher watcher([&] { stop.Cancel(); });
//     ... run; a signal now cancels stop instead of ending the process ...
class StopSignalWatcher {
public:
    explicit StopSignalWatcher(std::function<void()> onStop);
    ~StopSignalWatcher();
    StopSignalWatcher(const StopSignalWatcher&) = delete;
    StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

    // True once a signal has been caught.
    bool Caught() const { return m_caught.load(); }

private:
    std::function<void()> m_onStop;
    std::atomic<bool> m_released{false};
    std::atomic<bool> m_caught{false};
    std::thread m_thread;
};

} // namespace morvane
