#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace morvane {

class CancelToken;

// Exit statuses of morvane-mine.
inline constexpr int kExitSuccess = 0;       // the job ran to its end
inline constexpr int kExitFailure = 1;       // the output failed, memory ran out, or the job did not start
inline constexpr int kExitUsage = 2;         // bad options or unusable seeds; no request was made
inline constexpr int kExitInterrupted = 130; // ended by SIGINT or SIGTERM (through RunSettings::stop)

// What a run takes from its process besides its streams.
struct RunSettings {
    // Standard error is a terminal: progress is one live line instead of one line per status.
    bool errIsTerminal = false;
    // Cancelled from another thread (the signal watcher) to end the run at once; exit status 130.
    CancelToken* stop = nullptr;
    // When not -1, the descriptor of standard output: words that go there are written to it directly rather than
    // through out, so that a full disk can be cut back to whole lines and a stalled reader cannot hold a stop.
    int outFd = -1;
};

// Runs morvane-mine with args (without the program name): reads the seeds from the seed file or from in, mines
// them level by level through the mining job on a worker thread, writes the words to out (or the output file)
// and progress and messages to err. Returns the exit status. Usage:
//
//     std::istringstream in("手机\n"); std::ostringstream out, err;
//     int status = RunMine({"--pause", "0"}, in, out, err);
int RunMine(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
            const RunSettings& settings = {});

} // namespace morvane
