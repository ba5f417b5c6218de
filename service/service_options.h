#pragma once

#include "service/http_server.h"
#include "service/recommendation_api.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// How morvane-recomd runs, as its command line sets it.
struct ServiceOptions {
    std::string listenHost = "127.0.0.1"; // numeric IPv4 or IPv6 address (without brackets)
    std::uint16_t listenPort = 8765;
    std::string corpusPath; // empty: jieba's dictionary when installed, otherwise the bundled corpus
    std::size_t limit = kDefaultReplyLimit;
    int threads = 2;
    std::size_t maxConnections = kDefaultMaxConnections;
    std::chrono::milliseconds headerTimeout{10'000};
    std::chrono::milliseconds idleTimeout{60'000};
    bool quiet = false; // no per-request log
};

inline constexpr std::size_t kMaxReplyLimit = 10'000;
inline constexpr int kMaxThreads = 64;
inline constexpr std::size_t kMaxMaxConnections = 1'000'000;
inline constexpr std::chrono::milliseconds kMaxTimeout{86'400'000};

// The outcome of reading the command line: run with options, show help or the version, or a usage error whose
// one-line message is in error.
struct ServiceCommandLine {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    ServiceOptions options;
    std::string error;
};

// Reads morvane-recomd's arguments (without the program name): --listen ADDR:PORT, --corpus FILE, --limit N,
// --threads N, --max-connections N, --header-timeout MS, --idle-timeout MS, --quiet, --help (-h), --version;
// values may also follow an '='. A later option overrides an earlier one.
ServiceCommandLine ParseServiceCommandLine(const std::vector<std::string_view>& args);

// The text --help prints.
std::string ServiceUsage();

// "morvane-recomd <version>", what --version prints.
std::string ServiceVersion();

// The corpus the service will serve and where it came from.
struct ServiceCorpus {
    CorpusLoad load;
    std::string source; // the file, or "the bundled corpus"
    std::string notice; // set when falling back to the bundled corpus: why
};

// Loads corpusPath when it is given; otherwise jiebaPath when that file exists; otherwise the bundled corpus.
// A corpus that is named or found but cannot be read is an error (in load.error), never a silent fallback.
ServiceCorpus LoadServiceCorpus(const std::string& corpusPath, const std::string& jiebaPath);

} // namespace morvane
