#include "tests/cli/mine_process.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace morvane::test {
namespace {

// The flags with which a path given for descriptor target is opened.
int OpenFlags(int target) {
    return target == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
}

// Puts stream on descriptor target, in the child between fork and exec: async-signal-safe calls only.
bool Arrange(int target, const StandardStream& stream, const char* path) {
    int source = -1;
    switch (stream.kind) {
    case StandardStream::Kind::DevNull:
        source = ::open("/dev/null", target == 0 ? O_RDONLY : O_WRONLY);
        break;
    case StandardStream::Kind::File:
        source = ::open(path, OpenFlags(target), 0644);
        break;
    case StandardStream::Kind::Inherit:
        return ::dup2(stream.fd, target) == target;
    case StandardStream::Kind::Closed:
        return true; // closed once every other stream is in place, so that no open lands on it
    }
    if (source < 0 || ::dup2(source, target) != target) {
        return false;
    }
    if (source != target) {
        ::close(source);
    }
    return true;
}

} // namespace

MineProcess::MineProcess(const std::vector<std::string>& args, const ProcessSetup& setup) {
    // Everything the child needs is built before fork: after it, only async-signal-safe calls are allowed.
    std::vector<std::string> argv{MORVANE_MINE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argPointers;
    argPointers.reserve(argv.size() + 1);
    for (std::string& arg : argv) {
        argPointers.push_back(arg.data());
    }
    argPointers.push_back(nullptr);
    // The test's environment, less the names that setup gives anew.
    std::vector<std::string> environment = setup.environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view inherited(*entry);
        const std::string_view name = inherited.substr(0, inherited.find('='));
        if (std::none_of(setup.environment.begin(), setup.environment.end(),
                         [&](const std::string& given) { return given.starts_with(std::string(name) + "="); })) {
            environment.emplace_back(inherited);
        }
    }
    std::vector<char*> envPointers;
    envPointers.reserve(environment.size() + 1);
    for (std::string& entry : environment) {
        envPointers.push_back(entry.data());
    }
    envPointers.push_back(nullptr);
    const std::array<const StandardStream*, 3> streams{&setup.in, &setup.out, &setup.err};
    const std::array<std::string, 3> paths{setup.in.path.string(), setup.out.path.string(), setup.err.path.string()};

    m_pid = ::fork();
    if (m_pid != 0) {
        return;
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr); // NOLINT(concurrency-mt-unsafe): the child has one thread
    for (const int signal : {SIGINT, SIGTERM, SIGPIPE, SIGXFSZ}) {
        ::signal(signal, SIG_DFL);
    }
    for (int target = 0; target < 3; ++target) {
        if (!Arrange(target, *streams[target], paths[target].c_str())) {
            ::_exit(127);
        }
    }
    for (int target = 0; target < 3; ++target) {
        if (streams[target]->kind == StandardStream::Kind::Closed) {
            ::close(target);
        }
    }
    ::close_range(3, ~0U, 0);
    if (setup.fileSizeLimit) {
        const rlimit limit{*setup.fileSizeLimit, *setup.fileSizeLimit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(127);
        }
    }
    ::execve(argPointers[0], argPointers.data(), envPointers.data());
    ::_exit(127);
}

MineProcess::~MineProcess() {
    if (Spawned() && !m_waited) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

void MineProcess::Signal(int signal) const {
    ::kill(m_pid, signal);
}

int MineProcess::Wait(std::chrono::milliseconds timeout) {
    // A pidfd becomes readable when the process ends, so the deadline is a poll on it, not a loop of sleeps.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    if (pidfd >= 0) {
        pollfd ended{pidfd, POLLIN, 0};
        int ready = 0;
        do {
            ready = ::poll(&ended, 1, static_cast<int>(timeout.count()));
        } while (ready < 0 && errno == EINTR);
        ::close(pidfd);
        if (ready == 0) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_waited = true;
            return kHung;
        }
    }
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_waited = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : SignalledBy(WTERMSIG(status));
}

bool MineProcess::WaitUntilMainThreadSleeps(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string statPath = "/proc/" + std::to_string(m_pid) + "/stat";
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream stat(statPath);
        std::string line;
        std::getline(stat, line);
        // The state follows the command name, which is in parentheses and may hold anything.
        const std::size_t close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S') {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

} // namespace morvane::test
