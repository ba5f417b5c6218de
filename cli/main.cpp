// morvane-mine: mines long-tail keywords from the command line over the same mining job as the window.
#include "cli/run_mine.h"
#include "cli/stop_signals.h"
#include "cli/stoppable_input.h"
#include "mining/cancel_token.h"

#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    // Before any thread exists, so that SIGINT and SIGTERM reach only the watcher.
    morvane::BlockStopSignals();
    std::ios::sync_with_stdio(false);

    morvane::CancelToken stop;
    morvane::StopSignalWatcher watcher([&stop] { stop.Cancel(); });

    morvane::StoppableInputBuffer stdinBuffer(STDIN_FILENO, &stop);
    std::istream in(&stdinBuffer);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const morvane::RunSettings settings{.errIsTerminal = ::isatty(STDERR_FILENO) == 1, .stop = &stop};
    return morvane::RunMine(args, in, std::cout, std::cerr, settings);
}
