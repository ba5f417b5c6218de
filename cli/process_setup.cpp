#include "cli/process_setup.h"

#include "cli/stop_signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace morvane {

bool ReserveStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // The lowest free number is fd, since every lower one is open by now.
        const int opened = ::open("/dev/null", O_RDONLY);
        if (opened < 0) {
            return false;
        }
        if (opened != fd) {
            ::close(opened);
            return false;
        }
    }
    return true;
}

void PrepareProcess() {
    BlockStopSignals();
    ReserveStandardDescriptors();
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

} // namespace morvane
