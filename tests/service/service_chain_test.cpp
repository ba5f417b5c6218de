#include "mining/encoding.h"
#include "mining/recommendations.h"
#include "service/http_server.h"
#include "service/recommendation_api.h"
#include "service/word_index.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

// The mining core's own query against the service, in-process, over loopback HTTP: seed in GBK, words back in GBK.
class ServiceChainTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(m_server.Start(), "");
        m_service = std::make_unique<RecommendationService>("http://127.0.0.1:" + std::to_string(m_server.Port()));
    }

    static Text Gbk(std::string_view utf8) { return ConvertEncoding(utf8, "UTF-8", "GBK"); }

    WordList Expected(std::string_view utf8Seed) const {
        std::vector<std::string_view> found;
        m_index.Find(utf8Seed, kDefaultReplyLimit, found);
        WordList words;
        for (const std::string_view word : found) {
            words.push_back(Gbk(word));
        }
        return words;
    }

    WordIndex m_index{ParseCorpus(BundledCorpusText()).words};
    HttpServer m_server{HttpServerOptions{}, RecommendationHandler(m_index, kDefaultReplyLimit)};
    std::unique_ptr<RecommendationService> m_service;
};

TEST_F(ServiceChainTest, aGbkSeedComesBackAsTheRankedGbkWords) {
    const WordList words = m_service->FetchRecommendations(Gbk("手机"), "0");
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(words, Expected("手机"));
    EXPECT_EQ(words.front(), Gbk("手机壳"));
}

TEST_F(ServiceChainTest, mixedAsciiSeedWithSymbols) {
    EXPECT_EQ(m_service->FetchRecommendations("C", "30"), Expected("C"));
    EXPECT_EQ(m_service->FetchRecommendations("+", "30"), WordList{"C++"});
}

TEST_F(ServiceChainTest, unknownSeedAndRefusedAreaGiveNoWords) {
    EXPECT_TRUE(m_service->FetchRecommendations(Gbk("猫"), "0").empty());
    EXPECT_TRUE(m_service->FetchRecommendations(Gbk("手机"), "31").empty());
}

} // namespace
} // namespace morvane
