#include "service/service_options.h"

#include "common/command_line.h"

#include <arpa/inet.h>
#include <array>
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

enum class OptionKind {
    Listen,
    Corpus,
    Limit,
    Threads,
    MaxConnections,
    HeaderTimeout,
    IdleTimeout,
    Quiet,
    Help,
    Version,
};

constexpr std::array<KnownOption, 11> kOptions{{
    {"--listen", static_cast<int>(OptionKind::Listen), true},
    {"--corpus", static_cast<int>(OptionKind::Corpus), true},
    {"--limit", static_cast<int>(OptionKind::Limit), true},
    {"--threads", static_cast<int>(OptionKind::Threads), true},
    {"--max-connections", static_cast<int>(OptionKind::MaxConnections), true},
    {"--header-timeout", static_cast<int>(OptionKind::HeaderTimeout), true},
    {"--idle-timeout", static_cast<int>(OptionKind::IdleTimeout), true},
    {"--quiet", static_cast<int>(OptionKind::Quiet), false},
    {"--help", static_cast<int>(OptionKind::Help), false},
    {"-h", static_cast<int>(OptionKind::Help), false},
    {"--version", static_cast<int>(OptionKind::Version), false},
}};

// "--name wants ... from low to high, not 'value'".
std::string NumberError(std::string_view name, std::string_view what, long long low, long long high,
                        std::string_view value) {
    return std::string(name) + " wants " + std::string(what) + " from " + std::to_string(low) + " to " +
           std::to_string(high) + ", not '" + std::string(value) + "'";
}

// Applies one option and its value to result (its action for --help and --version); an error message, or empty
// when it is good.
std::string ApplyOption(OptionKind kind, std::string_view value, ServiceCommandLine& result) {
    ServiceOptions& options = result.options;
    switch (kind) {
    case OptionKind::Help:
        result.action = ServiceCommandLine::Action::Help;
        return {};
    case OptionKind::Version:
        result.action = ServiceCommandLine::Action::Version;
        return {};
    case OptionKind::Quiet:
        options.quiet = true;
        return {};
    case OptionKind::Listen:
        if (ParseListen(value, options)) {
            return {};
        }
        return "--listen wants ADDR:PORT with a numeric address (IPv6 in brackets) and a port from 0 to 65535, not '" +
               std::string(value) + "'";
    case OptionKind::Corpus:
        if (value.empty()) {
            return "--corpus wants a file name";
        }
        options.corpusPath = std::string(value);
        return {};
    case OptionKind::Limit:
        if (const auto limit = ParseNumber<std::size_t>(value, 1, kMaxReplyLimit)) {
            options.limit = *limit;
            return {};
        }
        return NumberError("--limit", "a number", 1, kMaxReplyLimit, value);
    case OptionKind::Threads:
        if (const auto threads = ParseNumber<int>(value, 1, kMaxThreads)) {
            options.threads = *threads;
            return {};
        }
        return NumberError("--threads", "a number", 1, kMaxThreads, value);
    case OptionKind::MaxConnections:
        if (const auto most = ParseNumber<std::size_t>(value, 1, kMaxMaxConnections)) {
            options.maxConnections = *most;
            return {};
        }
        return NumberError("--max-connections", "a number", 1, kMaxMaxConnections, value);
    case OptionKind::HeaderTimeout:
    case OptionKind::IdleTimeout: {
        const std::string_view name = kind == OptionKind::HeaderTimeout ? "--header-timeout" : "--idle-timeout";
        if (const auto milliseconds = ParseNumber<std::int64_t>(value, 1, kMaxTimeout.count())) {
            (kind == OptionKind::HeaderTimeout ? options.headerTimeout : options.idleTimeout) =
                std::chrono::milliseconds(*milliseconds);
            return {};
        }
        return NumberError(name, "milliseconds", 1, kMaxTimeout.count(), value);
    }
    }
    return "option is not handled";
}

} // namespace

ServiceCommandLine ParseServiceCommandLine(const std::vector<std::string_view>& args) {
    ServiceCommandLine result;
    CommandLineScanner scanner(args, kOptions);
    while (const std::optional<CommandLineItem> item = scanner.Next()) {
        switch (item->kind) {
        case CommandLineItem::Kind::UnknownOption:
        case CommandLineItem::Kind::BadOption:
            return UsageError(item->error);
        case CommandLineItem::Kind::Operand:
            return UsageError("unexpected argument '" + std::string(item->value) + "'");
        case CommandLineItem::Kind::Option:
            break;
        }
        if (std::string error = ApplyOption(static_cast<OptionKind>(item->option->id), item->value, result);
            !error.empty()) {
            return UsageError(std::move(error));
        }
        if (result.action != ServiceCommandLine::Action::Run) {
            return result; // --help and --version win over whatever follows them
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
