#include "service/service_options.h"

#include <arpa/inet.h>
#include <charconv>
#include <filesystem>
#include <netinet/in.h>
#include <optional>

namespace morvane {
namespace {

constexpr std::string_view kProgram = "morvane-recomd";

template <typename Number> std::optional<Number> ParseNumber(std::string_view text, Number low, Number high) {
    Number value{};
    if (text.empty() || text.front() == '+' || text.front() == '-') {
        return std::nullopt;
    }
    const auto [rest, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || rest != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

bool IsNumericAddress(const std::string& host) {
    in6_addr scratch{};
    return inet_pton(AF_INET, host.c_str(), &scratch) == 1 || inet_pton(AF_INET6, host.c_str(), &scratch) == 1;
}

// Reads "ADDR:PORT" or "[IPV6]:PORT" into options; false when it is neither.
bool ParseListen(std::string_view text, ServiceOptions& options) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    std::string_view host = text.substr(0, colon);
    const std::optional<std::uint16_t> port = ParseNumber<std::uint16_t>(text.substr(colon + 1), 0, 65535);
    if (host.starts_with('[') && host.ends_with(']')) {
        host = host.substr(1, host.size() - 2);
        if (host.find(':') == std::string_view::npos) {
            return false;
        }
    } else if (host.find(':') != std::string_view::npos) {
        return false; // an IPv6 address needs its brackets
    }
    if (!port || !IsNumericAddress(std::string(host))) {
        return false;
    }
    options.listenHost = std::string(host);
    options.listenPort = *port;
    return true;
}

ServiceCommandLine UsageError(std::string message) {
    ServiceCommandLine result;
    result.action = ServiceCommandLine::Action::UsageError;
    result.error = std::move(message);
    return result;
}

} // namespace

ServiceCommandLine ParseServiceCommandLine(const std::vector<std::string_view>& args) {
    ServiceCommandLine result;
    ServiceOptions& options = result.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> inlineValue;
        if (name.starts_with("--")) {
            if (const std::size_t equals = name.find('='); equals != std::string_view::npos) {
                inlineValue = name.substr(equals + 1);
                name = name.substr(0, equals);
            }
        }
        const bool takesValue = name == "--listen" || name == "--corpus" || name == "--limit" || name == "--threads" ||
                                name == "--max-connections" || name == "--header-timeout" || name == "--idle-timeout";
        const bool isFlag = name == "--quiet" || name == "--help" || name == "-h" || name == "--version";
        if (!takesValue && !isFlag) {
            if (name.starts_with('-')) {
                return UsageError("unknown option " + std::string(name));
            }
            return UsageError("unexpected argument " + std::string(name));
        }
        if (isFlag && inlineValue) {
            return UsageError("option " + std::string(name) + " takes no value");
        }
        std::string_view value;
        if (takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return UsageError("option " + std::string(name) + " needs a value");
            }
        }

        if (name == "--help" || name == "-h") {
            result.action = ServiceCommandLine::Action::Help;
            return result;
        }
        if (name == "--version") {
            result.action = ServiceCommandLine::Action::Version;
            return result;
        }
        if (name == "--quiet") {
            options.quiet = true;
        } else if (name == "--listen") {
            if (!ParseListen(value, options)) {
                return UsageError("--listen wants ADDR:PORT with a numeric address (IPv6 in brackets) and a port "
                                  "from 0 to 65535, not '" +
                                  std::string(value) + "'");
            }
        } else if (name == "--corpus") {
            if (value.empty()) {
                return UsageError("--corpus wants a file name");
            }
            options.corpusPath = std::string(value);
        } else if (name == "--limit") {
            const auto limit = ParseNumber<std::size_t>(value, 1, kMaxReplyLimit);
            if (!limit) {
                return UsageError("--limit wants a number from 1 to " + std::to_string(kMaxReplyLimit) + ", not '" +
                                  std::string(value) + "'");
            }
            options.limit = *limit;
        } else if (name == "--threads") {
            const auto threads = ParseNumber<int>(value, 1, kMaxThreads);
            if (!threads) {
                return UsageError("--threads wants a number from 1 to " + std::to_string(kMaxThreads) + ", not '" +
                                  std::string(value) + "'");
            }
            options.threads = *threads;
        } else if (name == "--max-connections") {
            const auto most = ParseNumber<std::size_t>(value, 1, kMaxMaxConnections);
            if (!most) {
                return UsageError("--max-connections wants a number from 1 to " + std::to_string(kMaxMaxConnections) +
                                  ", not '" + std::string(value) + "'");
            }
            options.maxConnections = *most;
        } else {
            const auto milliseconds = ParseNumber<std::int64_t>(value, 1, kMaxTimeout.count());
            if (!milliseconds) {
                return UsageError(std::string(name) + " wants milliseconds from 1 to " +
                                  std::to_string(kMaxTimeout.count()) + ", not '" + std::string(value) + "'");
            }
            (name == "--header-timeout" ? options.headerTimeout : options.idleTimeout) =
                std::chrono::milliseconds(*milliseconds);
        }
    }
    return result;
}

std::string ServiceUsage() {
    std::string usage = "Usage: ";
    usage += kProgram;
    usage += R"( [options]

Answers keyword-recommendation requests over HTTP:
  GET /recomword/recomWordCache_findRecomWord.htm?area_id=N&word=W&ie=utf-8
lists the corpus words that contain W (UTF-8, percent-encoded), those that start with it first, then by
frequency, as {"success":"1","data":{"list":[{"word":"..."},...]}}. area_id must be 0 to 30.

Options:
  --listen ADDR:PORT  address to listen on (default 127.0.0.1:8765; IPv6 as [::1]:8765; port 0 picks one)
  --corpus FILE       word list, one "word frequency [tag]" a line, UTF-8 (default: jieba's dictionary at
                      )";
    usage += kJiebaDictionaryPath;
    usage += R"( when installed, otherwise the bundled corpus)
  --limit N           most words a reply lists (default 100, at most 10000)
  --threads N         worker threads (default 2)
  --max-connections N connections served at once, at most 1000000 (default 1024, fewer when the descriptor
                      limit is lower); more clients wait in the listening queue until one closes
  --header-timeout MS a request's header must arrive in full this long after its first byte, an empty line
                      ahead of it included (default 10000)
  --idle-timeout MS   a keep-alive connection is closed this long after its last reply (default 60000)
  --quiet             no per-request log on stderr
  --help, -h          this text
  --version           the version

Corpus words that GBK cannot hold are left out, since no Morvane client could read a reply holding one; the
start-up says how many. The per-request log never holds up the serving: when stderr does not take it, lines
are dropped and counted.

SIGINT or SIGTERM stops the service (exit 0). A usage error exits 2; a corpus or socket failure, or a server
that cannot go on, 1.
)";
    return usage;
}

std::string ServiceVersion() {
    return std::string(kProgram) + " " + MORVANE_VERSION;
}

ServiceCorpus LoadServiceCorpus(const std::string& corpusPath, const std::string& jiebaPath) {
    ServiceCorpus corpus;
    if (!corpusPath.empty()) {
        corpus.source = corpusPath;
        corpus.load = LoadCorpusFile(corpusPath);
        return corpus;
    }
    std::error_code ignored;
    if (std::filesystem::exists(jiebaPath, ignored)) {
        corpus.source = jiebaPath;
        corpus.load = LoadCorpusFile(jiebaPath);
        return corpus;
    }
    corpus.source = "the bundled corpus";
    corpus.load = ParseCorpus(BundledCorpusText());
    corpus.notice = "jieba's dictionary is not installed at " + jiebaPath +
                    " (Debian package python3-jieba); serving " + "the bundled corpus of " +
                    std::to_string(corpus.load.words.size()) + " words";
    return corpus;
}

} // namespace morvane
