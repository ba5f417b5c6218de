#include "tests/cli/mine_test_support.h"

#include "mining/encoding.h"

namespace morvane::test {
namespace {

// The value of key= in a request target, up to the next '&'.
std::string QueryValue(const std::string& target, const std::string& key) {
    const std::size_t begin = target.find(key + "=");
    if (begin == std::string::npos) {
        return {};
    }
    const std::size_t valueBegin = begin + key.size() + 1;
    return target.substr(valueBegin, target.find('&', valueBegin) - valueBegin);
}

} // namespace

std::string RequestedSeed(const RecordedRequest& request) {
    const std::string encoded = QueryValue(request.target, "word");
    std::string decoded;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size()) {
            decoded += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += encoded[i];
        }
    }
    return decoded;
}

std::string RequestedAreaId(const RecordedRequest& request) {
    return QueryValue(request.target, "area_id");
}

std::vector<std::string> RequestedSeeds(const ScriptedServer& server) {
    std::vector<std::string> seeds;
    for (const RecordedRequest& request : server.Requests()) {
        seeds.push_back(RequestedSeed(request));
    }
    return seeds;
}

ScriptedServer::Handler DictionaryHandler(std::map<std::string, std::vector<std::string>> dictionary) {
    return [dictionary = std::move(dictionary)](const RecordedRequest& request) {
        const auto found = dictionary.find(RequestedSeed(request));
        return WordsReply(found == dictionary.end() ? std::vector<std::string>{} : found->second);
    };
}

std::string Gbk(const std::string& text) {
    return ConvertEncoding(text, "UTF-8", "GBK");
}

} // namespace morvane::test
