// The real morvane-recomd binary: its standard error left unread, a low descriptor limit, a corpus with words
// that GBK cannot hold.
#include "mining/encoding.h"
#include "mining/recommendations.h"
#include "service/corpus.h"
#include "tests/service/raw_http_client.h"
#include "tests/service/recomd_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <vector>

namespace morvane {
namespace {

using test::RawConnection;
using test::RawReply;
using test::RecomdProcess;
using test::RecomdSettings;

std::string Get(const std::string& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n";
}

// Arguments that serve the bundled corpus from a file in dir, quicker to load than jieba's dictionary.
std::vector<std::string> SmallCorpus(const test::TempDir& dir) {
    test::WriteFileBytes(dir / "corpus.txt", std::string(BundledCorpusText()));
    return {"--corpus", (dir / "corpus.txt").string()};
}

TEST(RecomdProcessTest, anUnreadStandardErrorHoldsUpNeitherServingNorStopping) {
    const test::TempDir dir;
    RecomdProcess service(RecomdSettings{.args = SmallCorpus(dir)});
    ASSERT_TRUE(service.Serving()) << service.StartupText();
    // Each request logs a line of about 100 bytes: 3,000 of them are far more than a pipe holds.
    RawConnection client(service.Port());
    const std::string request = Get(test::RecommendationTarget("手"));
    for (int i = 0; i < 3000; ++i) {
        ASSERT_TRUE(client.Send(request));
        ASSERT_EQ(client.ReadReply().status, 200) << "request " << i;
    }

    service.Signal(SIGTERM);

    EXPECT_EQ(service.Wait(), 0);
    const std::string log = service.ReadStandardError();
    EXPECT_GT(log.size(), std::size_t{32} * 1024);
    EXPECT_TRUE(log.ends_with('\n'));
    for (std::size_t start = 0; start < log.size();) {
        const std::size_t end = log.find('\n', start);
        const std::string line = log.substr(start, end - start);
        EXPECT_TRUE(line.ends_with("ms") || line.starts_with("morvane-recomd: ")) << line;
        start = end + 1;
    }
}

TEST(RecomdProcessTest, underALowDescriptorLimitAFloodOfIdleClientsShutsNobodyOut) {
    // 64 descriptors: 32 are kept for the process, two for each of the two workers' loops.
    const test::TempDir dir;
    std::vector<std::string> args = SmallCorpus(dir);
    args.insert(args.end(), {"--header-timeout", "300"});
    RecomdProcess service(RecomdSettings{.args = args, .descriptorLimit = 64});
    ASSERT_TRUE(service.Serving()) << service.StartupText();
    EXPECT_NE(service.StartupText().find("morvane-recomd: at most 28 connections at once, not 1024: the descriptor "
                                         "limit allows no more\n"),
              std::string::npos)
        << service.StartupText();

    std::vector<std::unique_ptr<RawConnection>> flood;
    for (int i = 0; i < 100; ++i) {
        flood.push_back(std::make_unique<RawConnection>(service.Port()));
        ASSERT_TRUE(flood.back()->Connected());
    }
    // Behind the whole flood in the listening queue: answered once the idle clients before it have been
    // dropped, never turned away for want of a descriptor.
    const RawReply reply = test::Exchange(service.Port(), Get(test::RecommendationTarget("手机")));
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find(R"({"word":"手机壳"})"), std::string::npos) << reply.body;
}

TEST(RecomdProcessTest, corpusWordsThatGbkCannotHoldAreLeftOutAndCounted) {
    const test::TempDir dir;
    test::WriteFileBytes(dir / "corpus.txt", "手机壳 50\n手机😀 40\n한국手机 30\n手机支架 20\n");
    RecomdProcess service(RecomdSettings{.args = {"--corpus", (dir / "corpus.txt").string()}});
    ASSERT_TRUE(service.Serving()) << service.StartupText();
    EXPECT_NE(service.StartupText().find("morvane-recomd: left out 2 words that GBK cannot hold, the first on line "
                                         "2 (no Morvane client could read a reply holding one)\n"),
              std::string::npos)
        << service.StartupText();
    EXPECT_NE(service.StartupText().find("serving 2 words from "), std::string::npos) << service.StartupText();

    // One such word in the reply would leave the client with no words at all for this seed.
    const RecommendationService client("http://127.0.0.1:" + std::to_string(service.Port()));
    const auto gbk = [](std::string_view utf8) { return ConvertEncoding(utf8, "UTF-8", "GBK"); };
    EXPECT_EQ(client.FetchRecommendations(gbk("手机"), "0"), (WordList{gbk("手机壳"), gbk("手机支架")}));
}

} // namespace
} // namespace morvane
