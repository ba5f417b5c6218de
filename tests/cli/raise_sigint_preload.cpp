// Loaded with LD_PRELOAD into morvane-mine: sends the process SIGINT while the shared libraries are initialised,
// before main runs, standing for a signal that arrives in the first moments of a run.
#include <csignal>
#include <unistd.h>

namespace {

[[gnu::constructor, gnu::used]] void RaiseInterrupt() {
    ::kill(::getpid(), SIGINT);
}

} // namespace
