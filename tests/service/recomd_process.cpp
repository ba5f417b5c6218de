#include "tests/service/recomd_process.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace morvane::test {
namespace {

constexpr std::chrono::seconds kSafetyNet{30};

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

} // namespace

RecomdProcess::RecomdProcess(const RecomdSettings& settings) {
    std::vector<std::string> argv{MORVANE_RECOMD_PATH, "--listen", "127.0.0.1:0"};
    argv.insert(argv.end(), settings.args.begin(), settings.args.end());
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (std::string& arg : argv) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    std::array<int, 2> errPipe{};
    if (pipe2(errPipe.data(), O_CLOEXEC) != 0) {
        return;
    }
    const rlimit limit{settings.descriptorLimit, settings.descriptorLimit};

    m_pid = fork();
    if (m_pid == 0) {
        // Only async-signal-safe calls from here to exec: the test process has threads.
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        if (devNull > STDERR_FILENO) {
            close(devNull);
        }
        if (settings.descriptorLimit != 0 && setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            _exit(127);
        }
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (const int signal : {SIGINT, SIGTERM, SIGPIPE}) {
            sigaction(signal, &byDefault, nullptr);
        }
        sigset_t none;
        sigemptyset(&none);
        // In the child of fork there is one thread: sigprocmask is the async-signal-safe call here.
        sigprocmask(SIG_SETMASK, &none, nullptr); // NOLINT(concurrency-mt-unsafe)
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(errPipe[1]);
    m_stderr = errPipe[0];
    if (m_pid < 0) {
        return;
    }
    // Through syscall(): the <sys/pidfd.h> of glibc 2.36 declares pidfd_open without C linkage.
    m_pidFd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    ReadStartup();
}

RecomdProcess::~RecomdProcess() {
    if (m_pid > 0 && !m_reaped) {
        kill(m_pid, SIGKILL);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    for (const int fd : {m_pidFd, m_stderr}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool RecomdProcess::ReadStartup() {
    const auto deadline = std::chrono::steady_clock::now() + kSafetyNet;
    std::array<char, 4096> chunk{};
    for (;;) {
        const std::size_t at = m_startup.find(" on http://127.0.0.1:");
        const std::size_t end = at == std::string::npos ? at : m_startup.find('\n', at);
        if (end != std::string::npos) {
            m_port = static_cast<std::uint16_t>(std::atoi(m_startup.c_str() + at + 21));
            return m_port != 0;
        }
        pollfd ready{m_stderr, POLLIN, 0};
        if (poll(&ready, 1, MillisecondsLeft(deadline)) <= 0) {
            return false;
        }
        const ssize_t got = read(m_stderr, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        m_startup.append(chunk.data(), static_cast<std::size_t>(got));
    }
}

void RecomdProcess::Signal(int signal) const {
    kill(m_pid, signal);
}

int RecomdProcess::Wait() {
    if (m_reaped) {
        return -2;
    }
    pollfd ended{m_pidFd, POLLIN, 0};
    if (m_pidFd >= 0 && poll(&ended, 1, static_cast<int>(std::chrono::milliseconds(kSafetyNet).count())) == 0) {
        return -2;
    }
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string RecomdProcess::ReadStandardError() {
    std::string text;
    std::array<char, 65536> chunk{};
    for (;;) {
        pollfd ready{m_stderr, POLLIN, 0};
        if (poll(&ready, 1, 0) <= 0) {
            return text;
        }
        const ssize_t got = read(m_stderr, chunk.data(), chunk.size());
        if (got <= 0) {
            return text;
        }
        text.append(chunk.data(), static_cast<std::size_t>(got));
    }
}

std::size_t RecomdProcess::ResidentBytes() const {
    std::FILE* status = std::fopen(("/proc/" + std::to_string(m_pid) + "/status").c_str(), "r");
    if (status == nullptr) {
        return 0;
    }
    std::array<char, 256> line{};
    std::size_t kibibytes = 0;
    while (std::fgets(line.data(), line.size(), status) != nullptr) {
        if (std::sscanf(line.data(), "VmRSS: %zu kB", &kibibytes) == 1) {
            break;
        }
    }
    std::fclose(status);
    return kibibytes * 1024;
}

std::size_t RecomdProcess::OpenDescriptors() const {
    DIR* folder = opendir(("/proc/" + std::to_string(m_pid) + "/fd").c_str());
    if (folder == nullptr) {
        return 0;
    }
    std::size_t count = 0;
    // readdir is safe on a stream of one's own, which this is.
    while (const dirent* entry = readdir(folder)) { // NOLINT(concurrency-mt-unsafe)
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    closedir(folder);
    return count;
}

template <typename Condition> bool RecomdProcess::WaitForDescriptors(Condition condition) const {
    const auto deadline = std::chrono::steady_clock::now() + kSafetyNet;
    while (!condition(OpenDescriptors())) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        // Nothing to wait on from outside the process: look again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool RecomdProcess::WaitForDescriptorsAtMost(std::size_t count) const {
    return WaitForDescriptors([count](std::size_t open) { return open <= count; });
}

bool RecomdProcess::WaitForDescriptorsAtLeast(std::size_t count) const {
    return WaitForDescriptors([count](std::size_t open) { return open >= count; });
}

std::string RecommendationTarget(const std::string& word) {
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string target = "/recomword/recomWordCache_findRecomWord.htm?area_id=0&word=";
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        target += '%';
        target += kHex[byte >> 4U];
        target += kHex[byte & 0x0FU];
    }
    return target + "&ie=utf-8";
}

} // namespace morvane::test
