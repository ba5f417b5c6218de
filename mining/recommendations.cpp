#include "mining/recommendations.h"

#include "mining/encoding.h"
#include "mining/http_get.h"
#include "mining/seed_encoding.h"

#include <cstring>
#include <new>

namespace morvane {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// Whether body, past a byte-order mark and white space, starts with '<' as a markup page does.
bool LooksLikeHtml(std::string_view body) {
    if (body.starts_with(kUtf8ByteOrderMark)) {
        body.remove_prefix(kUtf8ByteOrderMark.size());
    }
    const std::size_t first = body.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && body[first] == '<';
}

// What a request that brought no body to read came to.
QueryOutcome FailedRequestOutcome(HttpOutcome outcome) {
    switch (outcome) {
    case HttpOutcome::TargetTooLong:
        return QueryOutcome::SeedTooLong;
    case HttpOutcome::TooLarge:
        return QueryOutcome::TooLarge;
    case HttpOutcome::OutOfMemory:
        return QueryOutcome::OutOfMemory;
    case HttpOutcome::Cancelled:
        return QueryOutcome::Cancelled;
    default:
        return QueryOutcome::NoReply;
    }
}

// What the body of a reply was, when it was no recommendation.
struct BodyTraits {
    bool empty = true;
    bool html = false;
    bool utf8 = false;
};

// Why a reply that was read gave no recommendation: how the request ended first, then the status, then the body
// from its look to its encoding to its syntax.
QueryOutcome UnreadableReplyOutcome(const HttpGetResult& reply, const BodyTraits& body, bool converted,
                                    ReplyReading reading) {
    if (reply.outcome == HttpOutcome::TimedOut) {
        return QueryOutcome::TimedOut;
    }
    if (reply.outcome == HttpOutcome::BrokenOff) {
        return QueryOutcome::BrokenOff;
    }
    if (reply.status < 200 || reply.status > 299) {
        return QueryOutcome::ErrorStatus;
    }
    if (reading == ReplyReading::TooLarge) {
        return QueryOutcome::TooLarge;
    }
    if (body.html) {
        return QueryOutcome::HtmlPage;
    }
    if (!body.utf8) {
        return QueryOutcome::NotUtf8;
    }
    if (!body.empty && !converted) {
        return QueryOutcome::NotGbk;
    }
    return reading == ReplyReading::NotJson ? QueryOutcome::NotJson : QueryOutcome::OtherJson;
}

} // namespace

std::string RecommendationService::RequestUrl(const Text& seed, const Text& areaIdText) const {
    std::string url = m_baseAddress;
    url += kRecommendationPath;
    url += "?area_id=";
    url += areaIdText;
    url += "&word=";
    url += EncodeSeedWord(seed, true, true);
    url += "&ie=utf-8";
    return url;
}

WordList RecommendationService::FetchRecommendations(const Text& seed, const Text& areaIdText, CancelToken* cancel,
                                                     QueryReport* report) const {
    QueryReport unused;
    QueryReport& result = report != nullptr ? *report : unused;
    result = {};
    WordList words;
    try {
        HttpGetResult reply = HttpGet(RequestUrl(seed, areaIdText), {.cancel = cancel, .timeout = m_timeout});
        result.httpStatus = reply.status;
        const bool bodyArrived = reply.outcome == HttpOutcome::Complete || reply.outcome == HttpOutcome::TimedOut ||
                                 reply.outcome == HttpOutcome::BrokenOff;
        if (!bodyArrived) {
            result.outcome = FailedRequestOutcome(reply.outcome);
            return {};
        }
        const BodyTraits traits{
            .empty = reply.body.empty(), .html = LooksLikeHtml(reply.body), .utf8 = IsValidUtf8(reply.body)};
        const std::string converted = ConvertEncoding(reply.body, "UTF-8", "GBK");
        // The body is not needed any more; releasing it before the parse keeps the peak of reading low.
        std::string().swap(reply.body);
        // The reply text ends at its first NUL byte, as a C string would.
        const std::string_view text(converted.c_str(), std::strlen(converted.c_str()));
        const ReplyReading reading = ExtractWords(text, words);
        result.outcome = reading == ReplyReading::Recommendation
                             ? QueryOutcome::Recommendation
                             : UnreadableReplyOutcome(reply, traits, !converted.empty(), reading);
    } catch (const std::bad_alloc&) {
        result.outcome = QueryOutcome::OutOfMemory;
        return {};
    }
    return words;
}

std::string DefaultServiceBase() {
    return MORVANE_SERVICE_BASE;
}

} // namespace morvane
