#include "cli/run_mine.h"

#include "cli/mine_controls.h"
#include "cli/mine_options.h"
#include "cli/progress.h"
#include "cli/seed_input.h"
#include "cli/stoppable_input.h"
#include "cli/word_output.h"
#include "cli/word_writer.h"
#include "mining/cancel_token.h"
#include "mining/mining_job.h"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <istream>
#include <optional>
#include <ostream>
#include <system_error>
#include <unistd.h>
#include <unordered_set>

namespace morvane {
namespace {

constexpr std::string_view kProgramName = "morvane-mine: ";

// Appends everything in to bytes; false on a read error.
bool ReadAll(std::istream& in, std::string& bytes) {
    std::array<char, 65536> chunk{};
    for (;;) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        bytes.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
        if (!in) {
            break;
        }
    }
    return !in.bad();
}

// Reads the seed file, or in when there is none; an error message, or empty when it is read.
std::string ReadSeedBytes(const std::string& seedFile, std::istream& in, CancelToken* stop, std::string& bytes) {
    if (seedFile.empty() || seedFile == "-") {
        return ReadAll(in, bytes) ? std::string() : "cannot read standard input";
    }
    // Without blocking: a FIFO that has no writer yet would otherwise hold the open, where no stop reaches it;
    // the reading then waits for input in poll.
    const int fd = ::open(seedFile.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return "cannot read " + seedFile + ": " + std::error_code(errno, std::generic_category()).message();
    }
    std::string error;
    {
        StoppableInputBuffer buffer(fd, stop);
        std::istream file(&buffer);
        if (!ReadAll(file, bytes)) {
            error = "cannot read " + seedFile + ": " +
                    std::error_code(buffer.ReadError(), std::generic_category()).message();
        }
    }
    ::close(fd);
    return error;
}

// With --unique: empties every seed line already queried in this run, keeping its place for progress.
void EmptyQueriedSeeds(SeedLines& lines, std::unordered_set<Text>& queried) {
    for (Text& seed : lines.seeds) {
        if (!seed.empty() && !queried.insert(seed).second) {
            seed.clear();
        }
    }
}

// The seed lines of the next level: the lines of the words the last level wrote, as Import results puts them
// into the seed box; with --unique, lines already queried in this run are dropped.
SeedLines NextLevelSeeds(const Text& importText, const MineOptions& options, std::unordered_set<Text>& queried) {
    SeedLines lines;
    for (Text& line : SplitLines(importText)) {
        if (options.unique && !line.empty() && !queried.insert(line).second) {
            continue;
        }
        lines.shown.push_back(WordWriter::ShownWord(line, options.gbk));
        lines.seeds.push_back(std::move(line));
    }
    return lines;
}

bool HasSeeds(const SeedLines& lines) {
    return std::any_of(lines.seeds.begin(), lines.seeds.end(), [](const Text& seed) { return !seed.empty(); });
}

} // namespace

int RunMine(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
            const RunSettings& settings) {
    const ParsedCommand command = ParseMineArguments(args);
    switch (command.action) {
    case CommandAction::Help:
        out << MineUsageText() << std::flush;
        return kExitSuccess;
    case CommandAction::Version:
        out << MineVersionText() << std::flush;
        return kExitSuccess;
    case CommandAction::UsageError:
        err << kProgramName << command.error << std::endl;
        return kExitUsage;
    case CommandAction::Run:
        break;
    }
    const MineOptions& options = command.options;
    CancelToken noStop;
    CancelToken& stop = settings.stop != nullptr ? *settings.stop : noStop;

    std::string input;
    if (const std::string error = ReadSeedBytes(options.seedFile, in, &stop, input); !error.empty()) {
        err << kProgramName << error << std::endl;
        return kExitUsage;
    }
    if (stop.IsCancelled()) {
        return kExitInterrupted;
    }
    SeedInput seeds = DecodeSeedInput(input, options.gbk);
    input = {};
    if (!seeds.error.empty()) {
        err << kProgramName << seeds.error << std::endl;
        return kExitUsage;
    }

    StreamWordOutput streamOutput(out);
    std::optional<FdWordOutput> standardOutput;
    FileWordOutput fileOutput;
    WordOutput* output = &streamOutput;
    if (settings.outFd >= 0) {
        output = &standardOutput.emplace(settings.outFd, &stop);
    }
    const std::string outputName = options.outputFile.empty() ? "standard output" : options.outputFile;
    if (!options.outputFile.empty()) {
        if (!fileOutput.Open(options.outputFile, &stop)) {
            if (stop.IsCancelled()) {
                return kExitInterrupted;
            }
            err << kProgramName << "cannot create " << options.outputFile << ": " << fileOutput.Error() << std::endl;
            return kExitFailure;
        }
        output = &fileOutput;
    }

    ProgressReporter progress(err, settings.errIsTerminal, options.quiet);
    for (const SkippedLine& line : seeds.skipped) {
        progress.Warn(SkippedLineMessage(line));
    }
    WordWriter writer(*output, WriterSettings{.format = options.format,
                                              .gbk = options.gbk,
                                              .unique = options.unique,
                                              .filter = WordFilter(options.includes, options.excludes, options.gbk)});
    const auto outputFailed = [&] {
        if (stop.IsCancelled()) {
            // The output stalled until the stop: what went out is whole lines, and the stop is the news.
            progress.Finished(Text(kStatusStopped));
            return kExitInterrupted;
        }
        progress.Warn("cannot write to " + outputName + ": " + writer.OutputError());
        return kExitFailure;
    };
    if (!writer.WriteHeader()) {
        return outputFailed();
    }

    MineControls controls(writer, progress, options.areaId, options.timeout);
    // No output mode: the job emits its words nowhere, the controls take them with each seed line's progress.
    const OutputTarget target;
    MiningWorker worker(controls, target, RecommendationService(options.serviceBase, options.timeout), options.pause);
    // Declared after the worker so that it is gone before the worker is.
    const CancelToken::Subscription endJob = stop.Subscribe([&worker] { worker.RequestEnd(); });

    std::unordered_set<Text> queried;
    SeedLines levelSeeds = std::move(seeds.lines);
    if (options.unique) {
        EmptyQueriedSeeds(levelSeeds, queried);
    }
    for (int level = 1; level <= options.depth; ++level) {
        if (level > 1) {
            levelSeeds = NextLevelSeeds(writer.TakeImportText(), options, queried);
            if (!HasSeeds(levelSeeds)) {
                break; // the last level wrote nothing new to mine
            }
        }
        progress.LevelStarted(level, options.depth, levelSeeds.seeds.size());
        controls.BeginLevel(level, std::move(levelSeeds));
        levelSeeds = {};
        if (stop.IsCancelled()) {
            progress.Finished(Text(kStatusStopped));
            return kExitInterrupted;
        }
        if (!worker.Start()) {
            progress.Warn("cannot start the mining thread");
            return kExitFailure;
        }
        // A stop that came between the check above and the start found no job to end.
        if (stop.IsCancelled()) {
            worker.RequestEnd();
        }
        if (!worker.Wait()) {
            if (controls.OutOfMemory()) {
                progress.Warn("out of memory");
                return kExitFailure;
            }
            if (controls.OutputFailed() || !writer.FlushSeed()) {
                return outputFailed();
            }
            progress.Finished(Text(kStatusStopped));
            return kExitInterrupted;
        }
        progress.Finished(Text(kStatusFinished));
    }
    for (const std::string& line : controls.QuerySummary()) {
        progress.Warn(line);
    }
    if (writer.UnconvertibleWords() > 0) {
        progress.Warn(std::to_string(writer.UnconvertibleWords()) +
                      " words were not GB18030 text and could not be written as UTF-8; try --gbk");
    }
    return kExitSuccess;
}

} // namespace morvane
