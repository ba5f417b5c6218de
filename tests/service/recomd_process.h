#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace morvane::test {

// How a test starts morvane-recomd.
struct RecomdSettings {
    std::vector<std::string> args;   // after the program name; "--listen 127.0.0.1:0" is added first
    std::size_t descriptorLimit = 0; // RLIMIT_NOFILE (soft and hard) of the process; 0 leaves it as inherited
};

// The real morvane-recomd binary, started as a shell would start it (no signal blocked or ignored), listening on
// a port of the system's choosing. Its standard error is a pipe that the test reads only up to the start-up line
// ("serving ... on http://127.0.0.1:PORT ..."), and after that only when asked: left unread, it fills up as a
// stalled terminal would. The destructor kills a process still running and reaps it. Every wait gives up after
// 30 s, a safety net for a broken test only.
class RecomdProcess {
public:
    explicit RecomdProcess(const RecomdSettings& settings);
    ~RecomdProcess();
    RecomdProcess(const RecomdProcess&) = delete;
    RecomdProcess& operator=(const RecomdProcess&) = delete;

    // True once the start-up line has come; false when the process failed to start or ended first.
    bool Serving() const { return m_port != 0; }
    std::uint16_t Port() const { return m_port; }
    pid_t Pid() const { return m_pid; }

    // What standard error said up to and including the start-up line (or until the process ended).
    const std::string& StartupText() const { return m_startup; }

    void Signal(int signal) const;

    // Waits for the process to end: its exit status, -1 when a signal ended it, -2 on the safety net's time-out.
    int Wait();

    // Reads what standard error holds now, after the start-up text, without waiting.
    std::string ReadStandardError();

    // Resident memory of the process (VmRSS) in bytes; 0 when it cannot be read.
    std::size_t ResidentBytes() const;

    // Descriptors the process has open now.
    std::size_t OpenDescriptors() const;

    // Polls OpenDescriptors() until it is at most count; false when the safety net runs out first.
    bool WaitForDescriptorsAtMost(std::size_t count) const;

    // Polls OpenDescriptors() until it is at least count; false when the safety net runs out first.
    bool WaitForDescriptorsAtLeast(std::size_t count) const;

private:
    bool ReadStartup();
    template <typename Condition> bool WaitForDescriptors(Condition condition) const;

    pid_t m_pid = -1;
    int m_pidFd = -1;
    int m_stderr = -1;
    bool m_reaped = false;
    std::uint16_t m_port = 0;
    std::string m_startup;
};

// The request path and query of a recommendation request for word (UTF-8) in area 0.
std::string RecommendationTarget(const std::string& word);

} // namespace morvane::test
