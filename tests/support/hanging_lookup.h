#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace morvane::test {

// A host name whose lookup hangs while hanging_lookup_preload is loaded: under .invalid, which no name server
// resolves, so that a test that runs without the shim still sends nothing off the machine.
inline constexpr const char* kHangingHost = "lookup-hangs.invalid";

// A base address that names kHangingHost.
inline constexpr const char* kHangingServiceBase = "http://lookup-hangs.invalid:1";

// The environment variable that names a FIFO to which the shim writes a byte whenever a lookup begins to hang, for
// a test that loads it into a process of its own.
inline constexpr const char* kHangingLookupNoticeVariable = "MORVANE_HANGING_LOOKUP_NOTICE";

// True when the shim is loaded into this process (with LD_PRELOAD, as the suites that need it are registered).
bool HangingLookupShimLoaded();

// Waits until a lookup of kHangingHost in this process has begun to hang (one notice for each); false when none
// does within timeout, a safety net for a broken test.
bool WaitForHangingLookup(std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Ends every hanging lookup in this process now and for good: they fail, and later ones fail at once.
void ReleaseHangingLookups();

// Guards a call that must not wait for a hanging lookup. Should the call still be running after timeout, the
// watchdog releases the lookups, so that the call returns and the test can report it instead of hanging; a call
// that does not wait for the lookup returns in milliseconds and never meets the timeout. Usage:
//
//     LookupWatchdog watchdog;
//     worker.EndMiningJob();
//     EXPECT_FALSE(watchdog.Fired());
class LookupWatchdog {
public:
    explicit LookupWatchdog(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    ~LookupWatchdog();
    LookupWatchdog(const LookupWatchdog&) = delete;
    LookupWatchdog& operator=(const LookupWatchdog&) = delete;
    LookupWatchdog(LookupWatchdog&&) = delete;
    LookupWatchdog& operator=(LookupWatchdog&&) = delete;

    // Ends the watch and tells whether the timeout had passed, that is whether the guarded call waited for the
    // lookup.
    bool Fired();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_ended = false;
    bool m_fired = false;
    std::thread m_thread; // last: it uses the members above
};

} // namespace morvane::test
