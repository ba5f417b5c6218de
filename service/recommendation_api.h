#pragma once

#include "service/http_server.h"
#include "service/word_index.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// Most words one reply lists unless told otherwise.
inline constexpr std::size_t kDefaultReplyLimit = 100;

// Highest area id a request may name; area ids run from 0 to this.
inline constexpr int kMaxAreaId = 30;

// The body of every refused recommendation request (400, 404).
inline constexpr std::string_view kFailureBody = R"({"success":"0"})";

// Decodes one query value: "%XX" with two hexadecimal digits of either case becomes that byte, every other byte
// stays as it is, '+' included (clients encode a space as %20). Empty when a '%' is not followed by two hex digits.
std::optional<std::string> PercentDecode(std::string_view value);

// What a recommendation request asks for.
struct RecommendationQuery {
    std::string word; // the seed, UTF-8, never empty
    int areaId = 0;   // 0 to kMaxAreaId
};

// A request target read as a recommendation request: status 200 with the query, 404 for another path, or 400
// when the query is unusable: word missing, empty, badly percent-encoded or not UTF-8; area_id missing, not a
// decimal number or outside 0 to kMaxAreaId; ie present but other than utf-8; any of the three given twice.
// Other query keys are ignored. An absolute-form target ("http://host/path?...") is read by its path.
struct ParsedRecommendationTarget {
    int status = 400;
    RecommendationQuery query;
};
ParsedRecommendationTarget ParseRecommendationTarget(std::string_view target);

// The success reply listing words: {"success":"1","data":{"list":[{"word":"..."},...]}}, the words escaped
// as JSON strings.
std::string RecommendationJson(const std::vector<std::string_view>& words);

// Answers recommendation requests from an index. Every word's JSON entry is written once, when the handler is
// made, so a reply is put together without escaping anything. Thread-safe: it only reads; copies share the
// entries.
class RecommendationHandler {
public:
    RecommendationHandler(const WordIndex& index, std::size_t limit);

    // The reply to one request target.
    HttpReply Handle(std::string_view target) const;

    // Adapter for HttpServer.
    HttpReply operator()(const HttpRequest& request) const { return Handle(request.target); }

private:
    struct Entries {
        std::string text;                  // {"word":"..."} for every word, in rank order, back to back
        std::vector<std::uint32_t> starts; // index.Size() + 1 offsets into text
    };

    const WordIndex* m_index;
    std::size_t m_limit;
    std::shared_ptr<const Entries> m_entries;
};

} // namespace morvane
