#include "cli/mine_options.h"

#include "common/command_line.h"
#include "mining/encoding.h"
#include "mining/region_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <limits>
#include <optional>
#include <string_view>

namespace morvane {
namespace {

constexpr std::string_view kHelpText =
    R"(Usage: morvane-mine [options] [SEEDFILE]

Mines long-tail keywords: for every line of SEEDFILE (standard input when it is absent or "-") asks the
recommendation service which words it recommends, and writes them in the order they come.

Options:
  --service URL      base address of the service: scheme, host, optional port
                     (default: @SERVICE@)
  --area ID|NAME     region: 0-30 or its name, e.g. 北京 (default: 0, 不限)
  --output FILE      create FILE empty, then append the words to it (default: standard output)
  --gbk              read seeds and write words as GBK with CR LF line ends, byte for byte the window's
                     output file (default: UTF-8 with LF)
  --pause MS         pause after each seed line, 0 to 86400000 milliseconds (default: 300)
  --timeout SECONDS  give up a request that has not been answered within SECONDS (up to 86400, with up
                     to three decimals), warn and go on with the next seed; 0: wait for ever (default: 60)
  --depth N          mine N levels: the words that level k writes are the seeds of level k+1 (default: 1)
  --unique           write each word once per run, and query each seed once
  --include WORD     keep only words that contain WORD; repeatable: any of them
  --exclude WORD     drop words that contain WORD; repeatable
  --format txt|csv   txt: one word a line (default); csv: a header row level,seed,word and a row per
                     word (UTF-8 with a byte-order mark, or GBK with --gbk)
  --quiet            no progress on standard error
  --help             show this help and exit
  --version          show the version and exit

Seed lines end at LF; a CR before the LF is dropped. Empty lines count for progress and are not queried.
In UTF-8 mode a line holding a character that GBK lacks is skipped with a warning.
--include and --exclude take WORD in the chosen encoding. They and --unique apply to the written words;
the next level's seeds are the words the level wrote, and with --unique a seed already queried in this
run is not queried again. Words are written byte for byte with --gbk and converted from GB18030 to UTF-8
otherwise. Progress goes to standard error, in UTF-8.

Seed lines whose request failed or brought something other than a recommendation (no reply, a time-out,
an error page, a reply that is not UTF-8 or not JSON) are named in a warning, the first of each kind, and
counted at the end; the run goes on. A reply over 32 MiB is refused.

Exit status: 0 when the job ran to its end, 1 when the output cannot be written (a full disk keeps whole
lines) or memory runs out, 2 for a usage error, 130 after SIGINT or SIGTERM (words already written stay, as
whole lines).
)";

enum class OptionKind {
    Service,
    Area,
    Output,
    Gbk,
    Pause,
    Timeout,
    Depth,
    Unique,
    Include,
    Exclude,
    Format,
    Quiet,
    Help,
    Version,
};

constexpr std::array<KnownOption, 14> kOptions{{
    {"--service", static_cast<int>(OptionKind::Service), true},
    {"--area", static_cast<int>(OptionKind::Area), true},
    {"--output", static_cast<int>(OptionKind::Output), true},
    {"--gbk", static_cast<int>(OptionKind::Gbk), false},
    {"--pause", static_cast<int>(OptionKind::Pause), true},
    {"--timeout", static_cast<int>(OptionKind::Timeout), true},
    {"--depth", static_cast<int>(OptionKind::Depth), true},
    {"--unique", static_cast<int>(OptionKind::Unique), false},
    {"--include", static_cast<int>(OptionKind::Include), true},
    {"--exclude", static_cast<int>(OptionKind::Exclude), true},
    {"--format", static_cast<int>(OptionKind::Format), true},
    {"--quiet", static_cast<int>(OptionKind::Quiet), false},
    {"--help", static_cast<int>(OptionKind::Help), false},
    {"--version", static_cast<int>(OptionKind::Version), false},
}};

// A decimal number of digits only (no sign, no blanks) that is at most max.
std::optional<long long> ParseCount(std::string_view text, long long max) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

// A number of seconds, digits with up to three decimals ("60", "0.5"), at most max; in milliseconds.
std::optional<std::chrono::milliseconds> ParseSeconds(std::string_view text, std::chrono::milliseconds max) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (point != std::string_view::npos && (fraction.empty() || fraction.size() > 3)) {
        return std::nullopt;
    }
    const std::optional<long long> seconds = ParseCount(whole, max.count() / 1000);
    std::string thousandths(fraction);
    thousandths.resize(3, '0');
    const std::optional<long long> part = ParseCount(thousandths, 999);
    if (!seconds || !part) {
        return std::nullopt;
    }
    const std::chrono::milliseconds value(*seconds * 1000 + *part);
    if (value > max) {
        return std::nullopt;
    }
    return value;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

// "http://host[:port]" or "https://...", host a name, an IPv4 address or a bracketed IPv6 address; one
// trailing slash is dropped because the request path is appended as is. Empty when url is no such address.
std::optional<std::string> NormaliseServiceBase(std::string_view url) {
    std::size_t pos = 0;
    if (StartsWithNoCase(url, "http://")) {
        pos = 7;
    } else if (StartsWithNoCase(url, "https://")) {
        pos = 8;
    } else {
        return std::nullopt;
    }
    std::string_view rest = url.substr(pos);
    if (!rest.empty() && rest.back() == '/') {
        rest.remove_suffix(1);
        url.remove_suffix(1);
    }
    std::size_t hostEnd = 0;
    if (!rest.empty() && rest.front() == '[') {
        hostEnd = rest.find(']');
        if (hostEnd == std::string_view::npos || hostEnd == 1 ||
            !std::all_of(rest.begin() + 1, rest.begin() + static_cast<std::ptrdiff_t>(hostEnd),
                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; })) {
            return std::nullopt;
        }
        ++hostEnd;
    } else {
        hostEnd = std::min(rest.find(':'), rest.size());
        if (hostEnd == 0 || !std::all_of(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(hostEnd), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
            })) {
            return std::nullopt;
        }
    }
    const std::string_view portPart = rest.substr(hostEnd);
    if (!portPart.empty()) {
        if (portPart.front() != ':') {
            return std::nullopt;
        }
        const std::optional<long long> port = ParseCount(portPart.substr(1), 65535);
        if (!port || *port == 0) {
            return std::nullopt;
        }
    }
    return std::string(url);
}

// The area id named by text: its number 0-30, or the region's name in UTF-8 or in GBK.
std::optional<int> ParseArea(std::string_view text) {
    if (const std::optional<long long> id = ParseCount(text, static_cast<long long>(RegionTable.size()) - 1)) {
        return static_cast<int>(*id);
    }
    for (std::size_t i = 0; i < RegionTable.size(); ++i) {
        if (text == RegionTable[i] || text == ConvertEncoding(RegionTable[i], "UTF-8", "GBK")) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

ParsedCommand UsageError(std::string message) {
    ParsedCommand command;
    command.action = CommandAction::UsageError;
    command.error = std::move(message);
    return command;
}

// Applies one option and its value to options; an error message, or empty when it is good.
std::string ApplyOption(OptionKind kind, std::string_view name, const std::string& value, MineOptions& options) {
    const std::string quoted = "'" + value + "'";
    switch (kind) {
    case OptionKind::Service:
        if (std::optional<std::string> base = NormaliseServiceBase(value)) {
            options.serviceBase = std::move(*base);
            return {};
        }
        return "bad service address " + quoted + " (expected http://host[:port])";
    case OptionKind::Area:
        if (const std::optional<int> area = ParseArea(value)) {
            options.areaId = *area;
            return {};
        }
        return "unknown area " + quoted + " (use 0-30 or a region name such as 北京)";
    case OptionKind::Output:
        if (value.empty()) {
            return "empty file name for --output";
        }
        options.outputFile = value;
        return {};
    case OptionKind::Pause:
        if (const std::optional<long long> pause = ParseCount(value, kMaxSeedPause.count())) {
            options.pause = std::chrono::milliseconds(*pause);
            return {};
        }
        return "bad pause " + quoted + " (expected 0 to 86400000 milliseconds)";
    case OptionKind::Timeout:
        if (const std::optional<std::chrono::milliseconds> timeout = ParseSeconds(value, kMaxRequestTimeout)) {
            options.timeout = *timeout;
            return {};
        }
        return "bad timeout " + quoted + " (expected 0 to 86400 seconds, such as 60 or 0.5)";
    case OptionKind::Depth:
        if (const std::optional<long long> depth = ParseCount(value, std::numeric_limits<int>::max());
            depth && *depth >= 1) {
            options.depth = static_cast<int>(*depth);
            return {};
        }
        return "bad depth " + quoted + " (expected a whole number of 1 or more)";
    case OptionKind::Include:
        options.includes.push_back(value);
        return {};
    case OptionKind::Exclude:
        options.excludes.push_back(value);
        return {};
    case OptionKind::Format:
        if (value == "txt") {
            options.format = WordFormat::Txt;
            return {};
        }
        if (value == "csv") {
            options.format = WordFormat::Csv;
            return {};
        }
        return "unknown format " + quoted + " (expected txt or csv)";
    case OptionKind::Gbk:
        options.gbk = true;
        return {};
    case OptionKind::Unique:
        options.unique = true;
        return {};
    case OptionKind::Quiet:
        options.quiet = true;
        return {};
    case OptionKind::Help:
    case OptionKind::Version:
        break;
    }
    return "option " + std::string(name) + " is not handled";
}

} // namespace

ParsedCommand ParseMineArguments(const std::vector<std::string>& args) {
    ParsedCommand command;
    MineOptions& options = command.options;
    bool seedFileGiven = false;
    CommandLineScanner scanner(std::vector<std::string_view>(args.begin(), args.end()), kOptions);
    while (const std::optional<CommandLineItem> item = scanner.Next()) {
        switch (item->kind) {
        case CommandLineItem::Kind::UnknownOption:
            return UsageError(item->error + " (try --help)");
        case CommandLineItem::Kind::BadOption:
            return UsageError(item->error);
        case CommandLineItem::Kind::Operand:
            if (seedFileGiven) {
                return UsageError("more than one seed file: '" + std::string(item->value) + "'");
            }
            options.seedFile = item->value;
            seedFileGiven = true;
            continue;
        case CommandLineItem::Kind::Option:
            break;
        }
        const auto kind = static_cast<OptionKind>(item->option->id);
        if (kind == OptionKind::Help || kind == OptionKind::Version) {
            command.action = kind == OptionKind::Help ? CommandAction::Help : CommandAction::Version;
            return command;
        }
        if (std::string error = ApplyOption(kind, item->option->name, std::string(item->value), options);
            !error.empty()) {
            return UsageError(std::move(error));
        }
    }
    if (!options.gbk) {
        for (const std::vector<std::string>* words : {&options.includes, &options.excludes}) {
            for (const std::string& word : *words) {
                if (!IsValidUtf8(word)) {
                    return UsageError("--include/--exclude word is not valid UTF-8 (with GBK text, try --gbk)");
                }
            }
        }
    }
    return command;
}

std::string MineUsageText() {
    std::string text(kHelpText);
    const std::string_view marker = "@SERVICE@";
    text.replace(text.find(marker), marker.size(), DefaultServiceBase());
    return text;
}

std::string MineVersionText() {
    return std::string("morvane-mine ") + MORVANE_VERSION + "\n";
}

} // namespace morvane
