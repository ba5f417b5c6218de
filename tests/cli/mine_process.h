#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace morvane::test {

// How one of the standard descriptors of a MineProcess starts.
struct StandardStream {
    enum class Kind {
        DevNull, // /dev/null, read-only for 0, write-only for 1 and 2
        File,    // path, created or emptied for 1 and 2, read for 0
        Inherit, // a copy of fd, a descriptor of the test (a pipe end)
        Closed,  // closed
    };
    Kind kind = Kind::DevNull;
    std::filesystem::path path{};
    int fd = -1;

    static StandardStream Null() { return {}; }
    static StandardStream ToFile(std::filesystem::path file) { return {Kind::File, std::move(file)}; }
    static StandardStream Copy(int descriptor) { return {Kind::Inherit, {}, descriptor}; }
    static StandardStream Close() { return {Kind::Closed}; }
};

// How a MineProcess starts besides its arguments.
struct ProcessSetup {
    StandardStream in = StandardStream::Null();
    StandardStream out = StandardStream::Null();
    StandardStream err = StandardStream::Null();
    std::optional<std::size_t> fileSizeLimit{}; // RLIMIT_FSIZE in bytes, as `ulimit -f` sets it
    std::vector<std::string> environment{};     // NAME=value entries added to the test's own
};

// What Wait gives for a process that a signal ended: minus the signal's number.
constexpr int SignalledBy(int signal) {
    return -signal;
}
// What Wait gives for a process that had not ended by the deadline (it is then killed).
inline constexpr int kHung = -1000;

// The real morvane-mine binary, started as a shell would start it: no signal blocked or ignored, no descriptor
// open beyond the three standard ones. The destructor kills a process that is still running. Usage:
//
//     MineProcess process({"--quiet", "seeds.txt"}, {.out = StandardStream::ToFile(dir / "out")});
//     EXPECT_EQ(process.Wait(), kExitSuccess);
class MineProcess {
public:
    MineProcess(const std::vector<std::string>& args, const ProcessSetup& setup = {});
    ~MineProcess();
    MineProcess(const MineProcess&) = delete;
    MineProcess& operator=(const MineProcess&) = delete;
    MineProcess(MineProcess&&) = delete;
    MineProcess& operator=(MineProcess&&) = delete;

    bool Spawned() const { return m_pid > 0; }
    void Signal(int signal) const;

    // Waits for the process to end: its exit status, SignalledBy(signal) when a signal ended it, or kHung when
    // it had not ended within timeout (a safety net for a broken program; the process is then killed).
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // Waits until the process's main thread sleeps in a system call (blocked in open, read, poll...); false when
    // it does not within timeout.
    bool WaitUntilMainThreadSleeps(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

private:
    pid_t m_pid = -1;
    bool m_waited = false;
};

} // namespace morvane::test
