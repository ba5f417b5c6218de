#pragma once

#include "mining/mining_job.h"

#include <chrono>
#include <string>
#include <vector>

namespace morvane {

// How long one request may take before the run goes on with the next seed, unless --timeout says otherwise.
inline constexpr std::chrono::milliseconds kDefaultRequestTimeout{60'000};

// The longest --timeout accepted (one day).
inline constexpr std::chrono::milliseconds kMaxRequestTimeout{86'400'000};

// How morvane-mine lays out the words it writes.
enum class WordFormat {
    Txt, // one word a line
    Csv, // a header row level,seed,word and a row per word
};

// The settings of one morvane-mine run, as its command line gives them.
struct MineOptions {
    std::string seedFile;                           // empty or "-": standard input
    std::string serviceBase = DefaultServiceBase(); // scheme, host and optional port, no trailing slash
    int areaId = 0;
    std::string outputFile; // empty: standard output
    bool gbk = false;       // GBK with CR LF instead of UTF-8 with LF, for seeds and words
    std::chrono::milliseconds pause = kSeedPause;
    std::chrono::milliseconds timeout = kDefaultRequestTimeout; // per request; kNoTimeout for none
    int depth = 1;
    bool unique = false;
    std::vector<std::string> includes; // in the chosen encoding, as given
    std::vector<std::string> excludes;
    WordFormat format = WordFormat::Txt;
    bool quiet = false;

    bool operator==(const MineOptions&) const = default;
};

// What the command line asks for.
enum class CommandAction { Run, Help, Version, UsageError };

// The outcome of reading a command line: the action, the options of a run, or a one-line usage error.
struct ParsedCommand {
    CommandAction action = CommandAction::Run;
    MineOptions options;
    std::string error; // for UsageError: one line without the program name or line break
};

// Reads morvane-mine's arguments (without the program name). Options may be given as "--name value" or
// "--name=value"; "--" ends the options. --help and --version win over whatever follows them.
ParsedCommand ParseMineArguments(const std::vector<std::string>& args);

// The text that --help prints.
std::string MineUsageText();

// The text that --version prints.
std::string MineVersionText();

// The longest pause after a seed line that --pause accepts (one day).
inline constexpr std::chrono::milliseconds kMaxSeedPause{86'400'000};

} // namespace morvane
