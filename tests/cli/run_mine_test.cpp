#include "cli/run_mine.h"
#include "cli/stoppable_input.h"
#include "mining/cancel_token.h"
#include "tests/cli/mine_test_support.h"
#include "tests/support/case_name.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <new>
#include <sstream>
#include <streambuf>
#include <thread>
#include <unistd.h>

namespace morvane {
namespace {

using test::DictionaryHandler;
using test::Gbk;
using test::RecordedRequest;
using test::RequestedSeeds;
using test::ScriptedReply;
using test::ScriptedServer;
using test::TempDir;

// What the scripted service recommends for each seed.
const std::map<std::string, std::vector<std::string>> kDictionary = {
    {"手机", {"手机壳", "手机支架"}},
    {"旅游", {"旅游攻略", "手机旅游"}},
    {"手机壳", {"手机壳定制", "手机支架"}},
    {"手机支架", {"手机支架"}},
    {"咖啡", {"咖啡,拿铁", R"(\"猫屎\"咖啡)"}},
    // 鞍、 holds the bytes of 啊 in GBK across its two characters.
    {"鞍", {"鞍、", "啊、"}},
};

constexpr std::string_view kBom = "\xEF\xBB\xBF";

struct MineResult {
    int status = -1;
    std::string out;
    std::string err;
};

class RunMineTest : public testing::Test {
protected:
    RunMineTest() { server.SetHandler(DictionaryHandler(kDictionary)); }

    // Runs morvane-mine in-process against the scripted service, without pauses.
    MineResult Mine(std::vector<std::string> args, const std::string& input, const RunSettings& settings = {}) {
        args.insert(args.begin(), {"--service", server.BaseUrl(), "--pause", "0"});
        std::istringstream in(input);
        std::ostringstream out;
        std::ostringstream err;
        MineResult result;
        result.status = RunMine(args, in, out, err, settings);
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    ScriptedServer server;
    TempDir dir;
};

struct EndToEndCase {
    std::string name;
    std::vector<std::string> args;
    std::string input;
    std::string out;
    std::vector<std::string> requests; // the seeds queried, in order (UTF-8)

    friend void PrintTo(const EndToEndCase& param, std::ostream* stream) { *stream << param.name; }
};

class EndToEndTest : public RunMineTest, public testing::WithParamInterface<EndToEndCase> {};

TEST_P(EndToEndTest, writesTheExpectedBytesAfterTheExpectedRequests) {
    const EndToEndCase& c = GetParam();
    std::vector<std::string> args = c.args;
    args.emplace_back("--quiet");

    const MineResult result = Mine(args, c.input);

    EXPECT_EQ(result.status, kExitSuccess);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(RequestedSeeds(server), c.requests);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, EndToEndTest,
    testing::Values(
        EndToEndCase{"txtUtf8", {}, "手机\n旅游\n", "手机壳\n手机支架\n旅游攻略\n手机旅游\n", {"手机", "旅游"}},
        EndToEndCase{"txtGbkByteForByte",
                     {"--gbk"},
                     Gbk("手机\r\n旅游\r\n"),
                     Gbk("手机壳\r\n手机支架\r\n旅游攻略\r\n手机旅游\r\n"),
                     {"手机", "旅游"}},
        EndToEndCase{"csvUtf8WithByteOrderMarkAndQuoting",
                     {"--format", "csv"},
                     "手机\n咖啡\n",
                     std::string(kBom) + "level,seed,word\n1,手机,手机壳\n1,手机,手机支架\n1,咖啡,\"咖啡,拿铁\"\n"
                                         "1,咖啡,\"\"\"猫屎\"\"咖啡\"\n",
                     {"手机", "咖啡"}},
        EndToEndCase{"csvGbk",
                     {"--format", "csv", "--gbk"},
                     Gbk("手机\r\n咖啡\r\n"),
                     Gbk("level,seed,word\r\n1,手机,手机壳\r\n1,手机,手机支架\r\n1,咖啡,\"咖啡,拿铁\"\r\n"
                         "1,咖啡,\"\"\"猫屎\"\"咖啡\"\r\n"),
                     {"手机", "咖啡"}},
        EndToEndCase{"depthTwoQueriesEveryWordAgain",
                     {"--depth", "2"},
                     "手机\n手机壳\n",
                     "手机壳\n手机支架\n手机壳定制\n手机支架\n手机壳定制\n手机支架\n手机支架\n手机支架\n",
                     {"手机", "手机壳", "手机壳", "手机支架", "手机壳定制", "手机支架"}},
        EndToEndCase{"depthTwoUniqueWritesAndQueriesOnce",
                     {"--depth", "2", "--unique"},
                     "手机\n手机壳\n",
                     "手机壳\n手机支架\n手机壳定制\n",
                     {"手机", "手机壳", "手机支架", "手机壳定制"}},
        EndToEndCase{"uniqueQueriesARepeatedSeedOnce",
                     {"--unique"},
                     "手机\n手机\n旅游\n",
                     "手机壳\n手机支架\n旅游攻略\n手机旅游\n",
                     {"手机", "旅游"}},
        EndToEndCase{"csvNamesLevelAndSeed",
                     {"--depth", "2", "--unique", "--format", "csv"},
                     "手机\n",
                     std::string(kBom) + "level,seed,word\n1,手机,手机壳\n1,手机,手机支架\n2,手机壳,手机壳定制\n",
                     {"手机", "手机壳", "手机支架"}},
        EndToEndCase{
            "depthEndsWhenNothingNewIsLeft", {"--depth", "5", "--unique"}, "手机支架\n", "手机支架\n", {"手机支架"}},
        EndToEndCase{"includeKeepsAnyOfThem",
                     {"--include", "支架", "--include", "攻略"},
                     "手机\n旅游\n",
                     "手机支架\n旅游攻略\n",
                     {"手机", "旅游"}},
        EndToEndCase{"excludeDrops", {"--exclude", "手机"}, "手机\n旅游\n", "旅游攻略\n", {"手机", "旅游"}},
        EndToEndCase{"nextLevelSeedsAreTheWrittenWords",
                     {"--depth", "2", "--include", "壳"},
                     "手机\n",
                     "手机壳\n手机壳定制\n",
                     {"手机", "手机壳"}},
        EndToEndCase{"gbkIncludeMatchesWholeCharacters",
                     {"--gbk", "--include", Gbk("啊")},
                     Gbk("鞍\r\n"),
                     Gbk("啊、\r\n"),
                     {"鞍"}},
        EndToEndCase{"utf8IncludeMatchesWholeCharacters", {"--include", "啊"}, "鞍\n", "啊、\n", {"鞍"}},
        EndToEndCase{"emptyLinesAreNotQueried",
                     {},
                     "手机\r\n\r\n旅游",
                     "手机壳\n手机支架\n旅游攻略\n手机旅游\n",
                     {"手机", "旅游"}},
        EndToEndCase{"noSeedsNoRequest", {}, "", "", {}}),
    test::CaseName());

TEST_F(RunMineTest, progressShowsTheStatusOfEverySeedLineThenTheEnd) {
    const MineResult result = Mine({}, "手机\n\n旅游\n");
    EXPECT_EQ(result.status, kExitSuccess);
    EXPECT_EQ(result.err, "正在挖(33.33333333333%)...\n正在挖(66.66666666667%)...\n正在挖(100%)...\n停止挖！\n");
}

TEST_F(RunMineTest, progressNamesEachLevel) {
    const MineResult result = Mine({"--depth", "2"}, "手机\n");
    EXPECT_EQ(result.err, "level 1/2: 1 seed line\n正在挖(100%)...\n停止挖！\n"
                          "level 2/2: 2 seed lines\n正在挖(50%)...\n正在挖(100%)...\n停止挖！\n");
}

TEST_F(RunMineTest, progressOnATerminalIsOneLiveLine) {
    const MineResult result = Mine({}, "手机\n旅游\n", RunSettings{.errIsTerminal = true});
    EXPECT_EQ(result.err, "\r\x1b[K[------------------------------]   0%  0 words"
                          "\r\x1b[K[###############---------------]  50%  2 words"
                          "\r\x1b[K[##############################] 100%  4 words\n"
                          "停止挖！\n");
}

TEST_F(RunMineTest, areaGoesIntoEveryRequest) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "0"}, {{"--area", "北京"}, "1"}, {{"--area", "30"}, "30"}};
    for (const auto& [args, areaId] : cases) {
        ScriptedServer fresh;
        std::vector<std::string> all{"--service", fresh.BaseUrl(), "--pause", "0", "--quiet"};
        all.insert(all.end(), args.begin(), args.end());
        std::istringstream in("手机\n旅游\n");
        std::ostringstream out;
        std::ostringstream err;
        ASSERT_EQ(RunMine(all, in, out, err), kExitSuccess);
        ASSERT_EQ(fresh.Requests().size(), 2U);
        for (const RecordedRequest& request : fresh.Requests()) {
            EXPECT_EQ(test::RequestedAreaId(request), areaId) << request.target;
        }
    }
}

TEST_F(RunMineTest, outputFileIsEmptiedFirstAndHoldsTheWindowsFormat) {
    const std::filesystem::path file = dir / "words.txt";
    test::WriteFileBytes(file, "old line\r\n");

    const MineResult result = Mine({"--gbk", "--quiet", "--output", file.string()}, Gbk("手机\r\n"));

    EXPECT_EQ(result.status, kExitSuccess);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(test::ReadFileBytes(file), "\xca\xd6\xbb\xfa\xbf\xc7\r\n\xca\xd6\xbb\xfa\xd6\xa7\xbc\xdc\r\n");
}

TEST_F(RunMineTest, outputThatCannotBeWrittenEndsTheRun) {
    const MineResult result = Mine({"--quiet", "--output", "/dev/full"}, "手机\n旅游\n");
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_EQ(result.err, "morvane-mine: cannot write to /dev/full: No space left on device\n");
    EXPECT_EQ(RequestedSeeds(server), std::vector<std::string>{"手机"});
}

TEST_F(RunMineTest, standardOutputThatFailsEndsTheRun) {
    std::istringstream in("手机\n旅游\n");
    std::ostringstream out;
    std::ostringstream err;
    out.setstate(std::ios::badbit);
    EXPECT_EQ(RunMine({"--service", server.BaseUrl(), "--pause", "0", "--quiet"}, in, out, err), kExitFailure);
    EXPECT_EQ(err.str(), "morvane-mine: cannot write to standard output: write error\n");
}

// A stream buffer whose first write throws std::bad_alloc: memory that runs out inside the job, on its thread.
class OutOfMemoryOnce : public std::streambuf {
protected:
    std::streamsize xsputn(const char* /*data*/, std::streamsize count) override {
        ThrowOnce();
        return count;
    }
    int_type overflow(int_type c) override {
        ThrowOnce();
        return traits_type::not_eof(c);
    }

private:
    void ThrowOnce() {
        if (!m_thrown) {
            m_thrown = true;
            throw std::bad_alloc();
        }
    }

    bool m_thrown = false;
};

TEST_F(RunMineTest, jobThatRunsOutOfMemorySaysSoAndFails) {
    OutOfMemoryOnce buffer;
    std::ostream out(&buffer);
    out.exceptions(std::ios::badbit); // the stream lets the buffer's exception through
    std::istringstream in("手机\n旅游\n");
    std::ostringstream err;

    EXPECT_EQ(RunMine({"--service", server.BaseUrl(), "--pause", "0", "--quiet"}, in, out, err), kExitFailure);
    EXPECT_EQ(err.str(), "morvane-mine: out of memory\n");
    EXPECT_EQ(RequestedSeeds(server), std::vector<std::string>{"手机"});
}

TEST_F(RunMineTest, invalidUtf8SeedsAreAUsageErrorWithAHintAndNoRequest) {
    const MineResult result = Mine({}, "手机\n" + Gbk("旅游") + "\n");
    EXPECT_EQ(result.status, kExitUsage);
    EXPECT_EQ(result.err, "morvane-mine: seed text is not valid UTF-8 (line 2); if it is GBK, try --gbk\n");
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(RunMineTest, lineWithACharacterGbkLacksIsSkippedWithAWarningButCounted) {
    const MineResult result = Mine({}, "手机\n😀咖啡\n旅游\n");
    EXPECT_EQ(result.status, kExitSuccess);
    EXPECT_EQ(result.err, "morvane-mine: line 2 holds a character that GBK lacks; skipped\n"
                          "正在挖(33.33333333333%)...\n正在挖(66.66666666667%)...\n正在挖(100%)...\n停止挖！\n");
    EXPECT_EQ(RequestedSeeds(server), (std::vector<std::string>{"手机", "旅游"}));
    EXPECT_EQ(result.out, "手机壳\n手机支架\n旅游攻略\n手机旅游\n");
}

TEST_F(RunMineTest, serviceThatDoesNotReplyIsNamedOnceThenCounted) {
    std::string closedBase;
    {
        const ScriptedServer closed;
        closedBase = closed.BaseUrl();
    }
    const MineResult result = Mine({"--quiet", "--service", closedBase}, "手机\n\n旅游\n咖啡\n");
    EXPECT_EQ(result.status, kExitSuccess);
    EXPECT_EQ(result.err, "morvane-mine: no reply from the recommendation service for line 1; is it running at the "
                          "address --service names?\n"
                          "morvane-mine: 3 seed lines got no reply from the service\n");
    EXPECT_EQ(result.out, "");
}

TEST_F(RunMineTest, requestThatTimesOutIsNamedAndTheRunGoesOn) {
    server.SetHandler([](const RecordedRequest& request) {
        return test::RequestedSeed(request) == "手机" ? test::WordsReply({"手机壳"})
                                                      : ScriptedReply{.kind = ScriptedReply::Kind::Silent};
    });
    const MineResult result = Mine({"--quiet", "--timeout", "0.1"}, "旅游\n手机\n咖啡\n");
    EXPECT_EQ(result.status, kExitSuccess);
    EXPECT_EQ(result.out, "手机壳\n");
    EXPECT_EQ(result.err, "morvane-mine: no reply from the recommendation service for line 1 within 0.1 s (--timeout); "
                          "going on with the next seed\n"
                          "morvane-mine: 2 seed lines got no reply within 0.1 s\n");
    EXPECT_EQ(RequestedSeeds(server), (std::vector<std::string>{"旅游", "手机", "咖啡"}));
}

// Each kind of reply that is no recommendation is named once, with the first seed line that got it, and counted
// at the end when it came again; the run goes on and its status stays 0.
TEST_F(RunMineTest, repliesThatAreNoRecommendationAreNamedOncePerKindThenCounted) {
    const std::map<std::string, ScriptedReply> replies = {
        {"a", ScriptedReply{.status = 404, .body = "<html><body>Not Found</body></html>"}},
        {"b", ScriptedReply{.status = 500, .body = "failure"}},
        {"c", ScriptedReply{.body = "<!DOCTYPE html>\n<html></html>"}},
        {"d", ScriptedReply{.body = Gbk(R"({"success":"1","data":{"list":[{"word":"手机"}]}})")}},
        {"e", test::WordsReply({"😀"})},
        {"f", ScriptedReply{.body = "words: none"}},
        {"g", ScriptedReply{.body = R"(["手机"])"}},
    };
    server.SetHandler([&](const RecordedRequest& request) {
        const auto found = replies.find(test::RequestedSeed(request));
        return found != replies.end() ? found->second : test::WordsReply({"手机壳"});
    });

    const MineResult result = Mine({"--quiet"}, "手机\na\nb\nc\nd\ne\nf\ng\na\nf\n");

    EXPECT_EQ(result.status, kExitSuccess);
    EXPECT_EQ(result.out, "手机壳\n");
    EXPECT_EQ(result.err,
              "morvane-mine: the recommendation service answered line 2 with status 404, not a recommendation; is "
              "--service the right address?\n"
              "morvane-mine: the recommendation service answered line 4 with an HTML page, not a recommendation; is "
              "--service the right address?\n"
              "morvane-mine: the reply of the recommendation service for line 5 is not UTF-8 text; no words from it\n"
              "morvane-mine: the reply of the recommendation service for line 6 holds a character that GBK lacks, "
              "which leaves the whole reply unreadable; no words from it\n"
              "morvane-mine: the reply of the recommendation service for line 7 is not JSON; no words from it\n"
              "morvane-mine: the reply of the recommendation service for line 8 is JSON but not a recommendation; "
              "no words from it\n"
              "morvane-mine: 3 seed lines got an error status from the service\n"
              "morvane-mine: 2 seed lines got a reply that is not JSON\n");
}

TEST_F(RunMineTest, seedTooLongToSendIsNamedAndNotSent) {
    std::string longSeed;
    for (int i = 0; i < 220; ++i) {
        longSeed += "中";
    }
    const MineResult result = Mine({"--quiet"}, "手机\n" + longSeed + "\n旅游\n" + longSeed + "\n");
    EXPECT_EQ(result.status, kExitSuccess);
    EXPECT_EQ(result.err, "morvane-mine: line 2 is too long to ask the service: its request would pass 2047 "
                          "characters; not sent\n"
                          "morvane-mine: line 4 is too long to ask the service: its request would pass 2047 "
                          "characters; not sent\n");
    EXPECT_EQ(RequestedSeeds(server), (std::vector<std::string>{"手机", "旅游"}));
    EXPECT_EQ(result.out, "手机壳\n手机支架\n旅游攻略\n手机旅游\n");
}

TEST_F(RunMineTest, wordsOutsideGbkAreWrittenAsUtf8) {
    // \u escapes of characters that GBK lacks come through as four-byte GB18030 forms.
    server.AnswerAll(test::WordsReply({R"(\ud83d\ude00\u20ac\u00e9)"}));
    const MineResult result = Mine({"--quiet"}, "手机\n");
    EXPECT_EQ(result.out, "😀€é\n");
}

TEST_F(RunMineTest, stopWhileTheServiceIsSilentKeepsWholeLinesAndEndsAtOnce) {
    server.SetHandler([](const RecordedRequest& request) {
        return test::RequestedSeed(request) == "手机" ? test::WordsReply({"手机壳", "手机支架"})
                                                      : ScriptedReply{.kind = ScriptedReply::Kind::Silent};
    });
    CancelToken stop;
    MineResult result;
    std::thread run([&] { result = Mine({}, "手机\n旅游\n咖啡\n", RunSettings{.stop = &stop}); });
    ASSERT_TRUE(server.WaitForRequests(2));
    stop.Cancel();
    run.join();

    EXPECT_EQ(result.status, kExitInterrupted);
    EXPECT_EQ(result.out, "手机壳\n手机支架\n");
    EXPECT_EQ(result.err, "正在挖(33.33333333333%)...\n强制停止！\n");
    EXPECT_EQ(server.Requests().size(), 2U);
}

TEST_F(RunMineTest, stopWhileWaitingForSeedsEndsTheRead) {
    std::array<int, 2> pipe{};
    ASSERT_EQ(::pipe2(pipe.data(), O_CLOEXEC), 0);
    CancelToken stop;
    int status = -1;
    std::ostringstream out;
    std::ostringstream err;
    std::thread run([&] {
        StoppableInputBuffer buffer(pipe[0], &stop);
        std::istream in(&buffer);
        status = RunMine({"--service", server.BaseUrl()}, in, out, err, RunSettings{.stop = &stop});
    });
    // Nothing is ever written: the read ends only through the stop, whether it began before it or not.
    stop.Cancel();
    run.join();
    ::close(pipe[0]);
    ::close(pipe[1]);

    EXPECT_EQ(status, kExitInterrupted);
    EXPECT_EQ(out.str(), "");
    EXPECT_TRUE(server.Requests().empty());
}

} // namespace
} // namespace morvane
