#pragma once

#include "mining/text.h"

#include <string>

namespace morvane {

class CancelToken;

// Path of the recommendation request on the service.
inline constexpr std::string_view kRecommendationPath = "/recomword/recomWordCache_findRecomWord.htm";

// Reads reply as JSON by the GBK reading rules and appends every non-empty word of data.list, in list order,
// when success is the string "1". Never removes from words; a reply of any other shape appends nothing.
void ExtractWords(std::string_view reply, WordList& words);

// The recommendation service at one base address ("http://host[:port]").
class RecommendationService {
public:
    explicit RecommendationService(std::string baseAddress) : m_baseAddress(std::move(baseAddress)) {}

    // The full request URL for seed (GBK) in the region whose area id is areaIdText.
    std::string RequestUrl(const Text& seed, const Text& areaIdText) const;

    // Asks the service which words it recommends for seed in the region areaIdText and returns them in the
    // service's order. Cannot fail: a failed request or unreadable reply gives an empty list. cancel, when
    // given, abandons a request in flight; answered, when given, tells whether the service replied at all.
    WordList FetchRecommendations(const Text& seed, const Text& areaIdText, CancelToken* cancel = nullptr,
                                  bool* answered = nullptr) const;

    const std::string& BaseAddress() const { return m_baseAddress; }

private:
    std::string m_baseAddress;
};

// The base address the build was configured with.
std::string DefaultServiceBase();

} // namespace morvane
