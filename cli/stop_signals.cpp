#include "cli/stop_signals.h"

#include <csignal>
#include <pthread.h>

namespace morvane {
namespace {

sigset_t StopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

bool BlockStopSignals() {
    const sigset_t set = StopSignalSet();
    return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

StopSignalWatcher::StopSignalWatcher(std::function<void()> onStop) : m_onStop(std::move(onStop)) {
    // The watcher must start with the signals blocked, or the signal that releases it would end the process.
    BlockStopSignals();
    m_thread = std::thread([this] {
        const sigset_t set = StopSignalSet();
        int signal = 0;
        while (sigwait(&set, &signal) != 0) {
        }
        // The destructor wakes the watcher with a signal of the same set; after that nothing is to be stopped.
        if (m_released.load()) {
            return;
        }
        m_caught.store(true);
        m_onStop();
    });
}

StopSignalWatcher::~StopSignalWatcher() {
    m_released.store(true);
    if (!m_caught.load()) {
        // Sent to the watcher thread only; a watcher that has just caught a real signal has not been joined yet,
        // so its id is still valid and the extra signal stays pending unseen.
        pthread_kill(m_thread.native_handle(), SIGINT);
    }
    m_thread.join();
}

} // namespace morvane
