#include "mining/recommendations.h"

#include "mining/encoding.h"
#include "mining/http_get.h"
#include "mining/seed_encoding.h"

#include <cstring>

namespace morvane {

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
                                                     bool* answered) const {
    const std::string body = HttpGet(RequestUrl(seed, areaIdText), cancel, answered);
    const std::string converted = ConvertEncoding(body, "UTF-8", "GBK");
    // The reply text ends at its first NUL byte, as a C string would.
    const std::string_view reply(converted.c_str(), std::strlen(converted.c_str()));
    WordList words;
    ExtractWords(reply, words);
    return words;
}

std::string DefaultServiceBase() {
    return MORVANE_SERVICE_BASE;
}

} // namespace morvane
