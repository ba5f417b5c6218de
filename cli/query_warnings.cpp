#include "cli/query_warnings.h"

#include "mining/http_get.h"

namespace morvane {
namespace {

// "60", "0.5", "1.25": whole milliseconds as seconds, without trailing zeros.
std::string Seconds(std::chrono::milliseconds duration) {
    const auto ms = duration.count();
    std::string text = std::to_string(ms / 1000);
    if (const auto fraction = ms % 1000; fraction != 0) {
        std::string digits = std::to_string(1000 + fraction).substr(1);
        digits.erase(digits.find_last_not_of('0') + 1);
        text += "." + digits;
    }
    return text;
}

constexpr std::string_view kReplyFor = "the reply of the recommendation service for ";
constexpr std::string_view kNoWords = "; no words from it";
constexpr std::string_view kWrongService = ", not a recommendation; is --service the right address?";

} // namespace

std::string QueryWarnings::Take(const QueryReport& report, const std::string& lineName) {
    const QueryOutcome outcome = report.outcome;
    if (outcome == QueryOutcome::Recommendation || outcome == QueryOutcome::Cancelled) {
        return {};
    }
    if (outcome == QueryOutcome::SeedTooLong) {
        return lineName + " is too long to ask the service: its request would pass " +
               std::to_string(kMaxRequestTargetLength) + " characters; not sent";
    }
    if (m_counts[static_cast<std::size_t>(outcome)]++ > 0) {
        return {};
    }
    const std::string replyFor = std::string(kReplyFor) + lineName;
    switch (outcome) {
    case QueryOutcome::NoReply:
        return "no reply from the recommendation service for " + lineName +
               "; is it running at the address --service names?";
    case QueryOutcome::TimedOut:
        return "no reply from the recommendation service for " + lineName + " within " + Seconds(m_timeout) +
               " s (--timeout); going on with the next seed";
    case QueryOutcome::BrokenOff:
        return replyFor + " broke off before its end" + std::string(kNoWords);
    case QueryOutcome::ErrorStatus:
        return "the recommendation service answered " + lineName + " with status " + std::to_string(report.httpStatus) +
               std::string(kWrongService);
    case QueryOutcome::HtmlPage:
        return "the recommendation service answered " + lineName + " with an HTML page" + std::string(kWrongService);
    case QueryOutcome::NotUtf8:
        return replyFor + " is not UTF-8 text" + std::string(kNoWords);
    case QueryOutcome::NotGbk:
        return replyFor + " holds a character that GBK lacks, which leaves the whole reply unreadable" +
               std::string(kNoWords);
    case QueryOutcome::NotJson:
        return replyFor + " is not JSON" + std::string(kNoWords);
    case QueryOutcome::OtherJson:
        return replyFor + " is JSON but not a recommendation" + std::string(kNoWords);
    case QueryOutcome::TooLarge:
        return replyFor + " is too large to read (over " + std::to_string(kMaxReplyBytes >> 20U) +
               " MiB, or too many values)" + std::string(kNoWords);
    case QueryOutcome::OutOfMemory:
        return "memory ran out while reading " + replyFor + std::string(kNoWords);
    default:
        return {};
    }
}

std::vector<std::string> QueryWarnings::Summary() const {
    std::vector<std::string> lines;
    for (std::size_t kind = 0; kind < kKinds; ++kind) {
        const std::size_t count = m_counts[kind];
        if (count < 2) {
            continue;
        }
        std::string what;
        switch (static_cast<QueryOutcome>(kind)) {
        case QueryOutcome::NoReply:
            what = "got no reply from the service";
            break;
        case QueryOutcome::TimedOut:
            what = "got no reply within " + Seconds(m_timeout) + " s";
            break;
        case QueryOutcome::BrokenOff:
            what = "got a reply that broke off";
            break;
        case QueryOutcome::ErrorStatus:
            what = "got an error status from the service";
            break;
        case QueryOutcome::HtmlPage:
            what = "got an HTML page from the service";
            break;
        case QueryOutcome::NotUtf8:
            what = "got a reply that is not UTF-8";
            break;
        case QueryOutcome::NotGbk:
            what = "got a reply holding a character that GBK lacks";
            break;
        case QueryOutcome::NotJson:
            what = "got a reply that is not JSON";
            break;
        case QueryOutcome::OtherJson:
            what = "got JSON that is not a recommendation";
            break;
        case QueryOutcome::TooLarge:
            what = "got a reply too large to read";
            break;
        case QueryOutcome::OutOfMemory:
            what = "ran out of memory reading the reply";
            break;
        default:
            continue;
        }
        lines.push_back(std::to_string(count) + " seed lines " + what);
    }
    return lines;
}

} // namespace morvane
