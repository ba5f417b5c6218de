// morvane-mine: mines long-tail keywords from the command line over the same mining job as the window.
#include "cli/process_setup.h"
#include "cli/run_mine.h"
#include "cli/stop_signals.h"
#include "cli/stoppable_input.h"
#include "cli/stoppable_output.h"
#include "mining/cancel_token.h"

#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#if defined(__ELF__)
namespace {
// Runs before the constructors of every shared library, the earliest code of ours in the process: a stop signal
// from then on waits for the watcher instead of ending the process by its default action.
void PrepareEarly(int /*argc*/, char** /*argv*/, char** /*envp*/) {
    morvane::PrepareProcess();
}
[[gnu::used, gnu::section(".preinit_array")]] void (*const kPrepareEarly)(int, char**, char**) = &PrepareEarly;
} // namespace
#endif

int main(int argc, char** argv) {
    // Before any thread exists, so that SIGINT and SIGTERM reach only the watcher; before any descriptor is
    // opened, so that none takes the number of a closed standard stream.
    morvane::PrepareProcess();

    morvane::CancelToken stop;
    morvane::StopSignalWatcher watcher([&stop] { stop.Cancel(); });

    morvane::StoppableInputBuffer stdinBuffer(STDIN_FILENO, &stop);
    morvane::StoppableOutputBuffer stdoutBuffer(STDOUT_FILENO, &stop);
    morvane::StoppableOutputBuffer stderrBuffer(STDERR_FILENO, &stop);
    std::istream in(&stdinBuffer);
    std::ostream out(&stdoutBuffer);
    std::ostream err(&stderrBuffer);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const morvane::RunSettings settings{
        .errIsTerminal = ::isatty(STDERR_FILENO) == 1, .stop = &stop, .outFd = STDOUT_FILENO};
    return morvane::RunMine(args, in, out, err, settings);
}
