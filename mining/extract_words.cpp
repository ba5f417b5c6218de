#include "mining/gbk_json.h"
#include "mining/recommendations.h"

#include <cstddef>

namespace morvane {

// Replies of other shapes than the service's add nothing and never fail the call: a root that is not an object,
// or a success that is missing or not a string, gives no words; an element of list that is not an object, or
// whose word is missing or not a string, is passed over and the other elements still count. A string's text ends
// at its first NUL byte (a \u0000 escape), as every Text does; a word left empty by that is skipped. A reply that
// does not parse (see ParseGbkJson, which also covers json-c's nesting limit and the size of its tree) gives no
// words.
ReplyReading ExtractWords(std::string_view reply, WordList& words) {
    JsonFailure failure = JsonFailure::None;
    const JsonDocument document = ParseGbkJson(reply, &failure);
    if (failure != JsonFailure::None) {
        return failure == JsonFailure::TooLarge ? ReplyReading::TooLarge : ReplyReading::NotJson;
    }
    const std::optional<std::string_view> success = StringText(FindMember(document.Root(), "success"));
    if (!success) {
        return ReplyReading::OtherJson;
    }
    if (success != "1") {
        return ReplyReading::Recommendation;
    }
    json_object* list = FindMember(FindMember(document.Root(), "data"), "list");
    const std::size_t count = ArrayLength(list);
    for (std::size_t index = 0; index < count; ++index) {
        const std::optional<std::string_view> word = StringText(FindMember(ArrayElement(list, index), "word"));
        if (word && !word->empty()) {
            words.emplace_back(*word);
        }
    }
    return ReplyReading::Recommendation;
}

} // namespace morvane
