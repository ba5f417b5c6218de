// Loaded with LD_PRELOAD: a name lookup of the reserved host name in hanging_lookup.h hangs, as a lookup does when
// the name server never answers, until the process ends, the test releases it, or ten minutes pass (it then fails
// with EAI_AGAIN). Every other lookup goes to the C library unchanged. Nothing ever leaves the machine.
//
// The test finds out that a lookup hangs through morvane_wait_for_hanging_lookup (in the same process) or, for a
// process it starts, through a FIFO named by MORVANE_HANGING_LOOKUP_NOTICE, to which every hanging lookup writes a
// byte. Built without sanitizers, so that it needs no runtime of theirs ahead of it.
#include "tests/support/hanging_lookup.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <strings.h>
#include <unistd.h>

namespace {

constexpr int kLongWhileMs = 10 * 60 * 1000;

using GetAddrInfoFunction = int (*)(const char*, const char*, const addrinfo*, addrinfo**);

// Two pipes: a byte in the notice pipe for every lookup that began to hang; the release pipe becomes readable, for
// good, when the test releases the lookups. Made when the shim is loaded, before any thread of the process exists;
// trivially destructible, so that the end of the process never waits for a lookup that still hangs.
struct Pipes {
    std::array<int, 2> notice{-1, -1};
    std::array<int, 2> release{-1, -1};
};

Pipes thePipes;

[[gnu::constructor, gnu::used]] void MakePipes() {
    (void)::pipe2(thePipes.notice.data(), O_CLOEXEC | O_NONBLOCK);
    (void)::pipe2(thePipes.release.data(), O_CLOEXEC | O_NONBLOCK);
}

const Pipes& ThePipes() {
    return thePipes;
}

void TellThatALookupHangs() {
    const char byte = 'h';
    (void)!::write(ThePipes().notice[1], &byte, 1);
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in the processes this is loaded into changes the environment
    if (const char* fifo = std::getenv(morvane::test::kHangingLookupNoticeVariable)) {
        const int fd = ::open(fifo, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            (void)!::write(fd, &byte, 1);
            ::close(fd);
        }
    }
}

// Waits until the lookups are released or the long while has passed.
void Hang() {
    pollfd released{ThePipes().release[0], POLLIN, 0};
    while (::poll(&released, 1, kLongWhileMs) < 0 && errno == EINTR) {
    }
}

} // namespace

extern "C" {

[[gnu::visibility("default")]] int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                                               addrinfo** result) {
    if (node == nullptr || ::strcasecmp(node, morvane::test::kHangingHost) != 0) {
        static const auto real = reinterpret_cast<GetAddrInfoFunction>(::dlsym(RTLD_NEXT, "getaddrinfo"));
        return real != nullptr ? real(node, service, hints, result) : EAI_SYSTEM;
    }
    TellThatALookupHangs();
    Hang();
    return EAI_AGAIN;
}

[[gnu::visibility("default")]] int morvane_wait_for_hanging_lookup(int timeoutMs) {
    pollfd notice{ThePipes().notice[0], POLLIN, 0};
    int ready = 0;
    while ((ready = ::poll(&notice, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    char byte = 0;
    return ready > 0 && ::read(ThePipes().notice[0], &byte, 1) == 1 ? 1 : 0;
}

[[gnu::visibility("default")]] void morvane_release_hanging_lookups() {
    const char byte = 'r';
    (void)!::write(ThePipes().release[1], &byte, 1);
}

} // extern "C"
