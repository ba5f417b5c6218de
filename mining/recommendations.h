#pragma once

#include "mining/http_get.h"
#include "mining/query_outcome.h"
#include "mining/text.h"

#include <chrono>
#include <string>

namespace morvane {

class CancelToken;

// Path of the recommendation request on the service.
inline constexpr std::string_view kRecommendationPath = "/recomword/recomWordCache_findRecomWord.htm";

// How ExtractWords found a reply text.
enum class ReplyReading {
    Recommendation, // a root object with a string success: the service's shape, whatever success says
    NotJson,        // no JSON value by the GBK reading rules (an empty text included)
    OtherJson,      // JSON, but not a root object with a string success
    TooLarge,       // JSON whose parsed form would take more than kMaxJsonTreeBytes
};

// Reads reply as JSON by the GBK reading rules and appends every non-empty word of data.list, in list order,
// when success is the string "1". Never removes from words; a reply of any other shape appends nothing.
ReplyReading ExtractWords(std::string_view reply, WordList& words);

// The recommendation service at one base address ("http://host[:port]").
class RecommendationService {
public:
    // timeout bounds each request (kNoTimeout: none, as the window has it: a person can stop a job).
    explicit RecommendationService(std::string baseAddress, std::chrono::milliseconds timeout = kNoTimeout)
        : m_baseAddress(std::move(baseAddress)), m_timeout(timeout) {}

    // The full request URL for seed (GBK) in the region whose area id is areaIdText.
    std::string RequestUrl(const Text& seed, const Text& areaIdText) const;

    // Asks the service which words it recommends for seed in the region areaIdText and returns them in the
    // service's order. Cannot fail: a failed request or unreadable reply gives an empty list. cancel, when
    // given, abandons a request in flight; report, when given, tells what became of the request.
    WordList FetchRecommendations(const Text& seed, const Text& areaIdText, CancelToken* cancel = nullptr,
                                  QueryReport* report = nullptr) const;

    const std::string& BaseAddress() const { return m_baseAddress; }

private:
    std::string m_baseAddress;
    std::chrono::milliseconds m_timeout;
};

// The base address the build was configured with.
std::string DefaultServiceBase();

} // namespace morvane
