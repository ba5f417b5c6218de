#include "service/recommendation_api.h"

#include "mining/encoding.h"
#include "mining/recommendations.h"

#include <algorithm>
#include <charconv>

namespace morvane {
namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

// The path of an origin-form or absolute-form target, without its query.
std::string_view TargetPath(std::string_view target, std::string_view& query) {
    const std::size_t hash = target.find('#');
    target = target.substr(0, hash);
    const std::size_t question = target.find('?');
    query = question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    std::string_view path = target.substr(0, question);
    const std::size_t scheme = path.find("://");
    if (!path.starts_with('/') && scheme != std::string_view::npos) {
        const std::size_t slash = path.find('/', scheme + 3);
        path = slash == std::string_view::npos ? std::string_view("/") : path.substr(slash);
    }
    return path;
}

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr std::string_view kHex = "0123456789abcdef";
    out += '"';
    std::size_t plainStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte != '"' && byte != '\\') {
            continue;
        }
        out.append(text.substr(plainStart, i - plainStart));
        plainStart = i + 1;
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\u00";
            out += kHex[byte >> 4U];
            out += kHex[byte & 0x0FU];
            break;
        }
    }
    out.append(text.substr(plainStart));
    out += '"';
}

HttpReply Failure(int status) {
    return HttpReply{status, std::string(kFailureBody), kJsonContentType};
}

} // namespace

std::optional<std::string> PercentDecode(std::string_view value) {
    std::string decoded;
    decoded.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            decoded += value[i];
            continue;
        }
        if (i + 2 >= value.size()) {
            return std::nullopt;
        }
        const int high = HexDigitValue(value[i + 1]);
        const int low = HexDigitValue(value[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return decoded;
}

ParsedRecommendationTarget ParseRecommendationTarget(std::string_view target) {
    ParsedRecommendationTarget parsed;
    std::string_view query;
    if (TargetPath(target, query) != kRecommendationPath) {
        parsed.status = 404;
        return parsed;
    }
    std::optional<std::string_view> areaText;
    std::optional<std::string_view> wordText;
    std::optional<std::string_view> encodingText;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t equals = pair.find('=');
        const std::string_view key = pair.substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
        std::optional<std::string_view>* slot = nullptr;
        if (key == "area_id") {
            slot = &areaText;
        } else if (key == "word") {
            slot = &wordText;
        } else if (key == "ie") {
            slot = &encodingText;
        } else {
            continue;
        }
        // Two values for one key leave no way to tell which one the client meant.
        if (slot->has_value()) {
            return parsed;
        }
        *slot = value;
    }
    if (!areaText || !wordText) {
        return parsed;
    }

    const std::optional<std::string> area = PercentDecode(*areaText);
    if (!area || area->empty() || area->size() > 9 ||
        !std::all_of(area->begin(), area->end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return parsed;
    }
    int areaId = 0;
    std::from_chars(area->data(), area->data() + area->size(), areaId);
    if (areaId > kMaxAreaId) {
        return parsed;
    }

    if (encodingText) {
        const std::optional<std::string> encoding = PercentDecode(*encodingText);
        if (!encoding ||
            (!EqualsIgnoringAsciiCase(*encoding, "utf-8") && !EqualsIgnoringAsciiCase(*encoding, "utf8"))) {
            return parsed;
        }
    }

    std::optional<std::string> word = PercentDecode(*wordText);
    if (!word || word->empty() || !IsValidUtf8(*word)) {
        return parsed;
    }
    parsed.status = 200;
    parsed.query.word = std::move(*word);
    parsed.query.areaId = areaId;
    return parsed;
}

std::string RecommendationJson(const std::vector<std::string_view>& words) {
    std::size_t size = 48;
    for (const std::string_view word : words) {
        size += word.size() + 14;
    }
    std::string json;
    json.reserve(size);
    json += R"({"success":"1","data":{"list":[)";
    for (std::size_t i = 0; i < words.size(); ++i) {
        json += i == 0 ? R"({"word":)" : R"(,{"word":)";
        AppendJsonString(json, words[i]);
        json += '}';
    }
    json += "]}}";
    return json;
}

RecommendationHandler::RecommendationHandler(const WordIndex& index, std::size_t limit)
    : m_index(&index), m_limit(limit) {
    auto entries = std::make_shared<Entries>();
    entries->starts.reserve(index.Size() + 1);
    for (std::size_t rank = 0; rank < index.Size(); ++rank) {
        entries->starts.push_back(static_cast<std::uint32_t>(entries->text.size()));
        entries->text += R"({"word":)";
        AppendJsonString(entries->text, index.Word(rank));
        entries->text += '}';
    }
    entries->starts.push_back(static_cast<std::uint32_t>(entries->text.size()));
    m_entries = std::move(entries);
}

HttpReply RecommendationHandler::Handle(std::string_view target) const {
    const ParsedRecommendationTarget parsed = ParseRecommendationTarget(target);
    if (parsed.status != 200) {
        return Failure(parsed.status);
    }
    thread_local std::vector<std::uint32_t> ranks;
    ranks.clear();
    m_index->FindRanks(parsed.query.word, m_limit, ranks);

    constexpr std::string_view kHead = R"({"success":"1","data":{"list":[)";
    constexpr std::string_view kTail = "]}}";
    const std::string& text = m_entries->text;
    const std::vector<std::uint32_t>& starts = m_entries->starts;
    std::size_t size = kHead.size() + kTail.size() + ranks.size();
    for (const std::uint32_t rank : ranks) {
        size += starts[rank + 1] - starts[rank];
    }
    HttpReply reply{200, std::string(), kJsonContentType};
    reply.body.reserve(size);
    reply.body += kHead;
    for (std::size_t i = 0; i < ranks.size(); ++i) {
        if (i > 0) {
            reply.body += ',';
        }
        reply.body.append(text, starts[ranks[i]], starts[ranks[i] + 1] - starts[ranks[i]]);
    }
    reply.body += kTail;
    return reply;
}

} // namespace morvane
