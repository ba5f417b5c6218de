#include "service/service_options.h"
#include "tests/support/case_name.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

using Action = ServiceCommandLine::Action;

struct CommandLineCase {
    const char* name;
    std::vector<std::string_view> args;
    Action action;
    ServiceOptions expected; // compared when action is Run
    std::string error;       // compared when action is UsageError
};

ServiceOptions With(void (*change)(ServiceOptions&)) {
    ServiceOptions options;
    change(options);
    return options;
}

class ServiceCommandLineTest : public testing::TestWithParam<CommandLineCase> {};

TEST_P(ServiceCommandLineTest, parses) {
    const CommandLineCase& c = GetParam();
    const ServiceCommandLine parsed = ParseServiceCommandLine(c.args);
    ASSERT_EQ(parsed.action, c.action) << parsed.error;
    if (c.action == Action::Run) {
        EXPECT_EQ(parsed.options.listenHost, c.expected.listenHost);
        EXPECT_EQ(parsed.options.listenPort, c.expected.listenPort);
        EXPECT_EQ(parsed.options.corpusPath, c.expected.corpusPath);
        EXPECT_EQ(parsed.options.limit, c.expected.limit);
        EXPECT_EQ(parsed.options.threads, c.expected.threads);
        EXPECT_EQ(parsed.options.quiet, c.expected.quiet);
        EXPECT_EQ(parsed.options.maxConnections, c.expected.maxConnections);
        EXPECT_EQ(parsed.options.headerTimeout, c.expected.headerTimeout);
        EXPECT_EQ(parsed.options.idleTimeout, c.expected.idleTimeout);
    }
    if (c.action == Action::UsageError) {
        EXPECT_EQ(parsed.error, c.error);
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceCommandLineTest,
    testing::Values(
        CommandLineCase{"defaults", {}, Action::Run, ServiceOptions{}, ""},
        CommandLineCase{"listen",
                        {"--listen", "0.0.0.0:9000"},
                        Action::Run,
                        With([](ServiceOptions& o) {
                            o.listenHost = "0.0.0.0";
                            o.listenPort = 9000;
                        }),
                        ""},
        CommandLineCase{"listenWithEquals",
                        {"--listen=127.0.0.2:0"},
                        Action::Run,
                        With([](ServiceOptions& o) {
                            o.listenHost = "127.0.0.2";
                            o.listenPort = 0;
                        }),
                        ""},
        CommandLineCase{"listenIpv6",
                        {"--listen", "[::1]:8080"},
                        Action::Run,
                        With([](ServiceOptions& o) {
                            o.listenHost = "::1";
                            o.listenPort = 8080;
                        }),
                        ""},
        CommandLineCase{"everyOption",
                        {"--corpus", "words.txt", "--limit", "5", "--threads=3", "--quiet"},
                        Action::Run,
                        With([](ServiceOptions& o) {
                            o.corpusPath = "words.txt";
                            o.limit = 5;
                            o.threads = 3;
                            o.quiet = true;
                        }),
                        ""},
        CommandLineCase{"connectionsAndTimeouts",
                        {"--max-connections", "1", "--header-timeout=250", "--idle-timeout", "86400000"},
                        Action::Run,
                        With([](ServiceOptions& o) {
                            o.maxConnections = 1;
                            o.headerTimeout = std::chrono::milliseconds(250);
                            o.idleTimeout = std::chrono::milliseconds(86'400'000);
                        }),
                        ""},
        CommandLineCase{"laterOverridesEarlier",
                        {"--limit", "5", "--limit", "7"},
                        Action::Run,
                        With([](ServiceOptions& o) { o.limit = 7; }),
                        ""},
        CommandLineCase{
            "limitBounds", {"--limit", "10000"}, Action::Run, With([](ServiceOptions& o) { o.limit = 10000; }), ""},
        CommandLineCase{"help", {"--limit", "5", "--help"}, Action::Help, {}, ""},
        CommandLineCase{"shortHelp", {"-h"}, Action::Help, {}, ""},
        CommandLineCase{"version", {"--version"}, Action::Version, {}, ""},
        CommandLineCase{"unknownOption", {"--port", "80"}, Action::UsageError, {}, "unknown option '--port'"},
        CommandLineCase{"unknownShortOption", {"-q"}, Action::UsageError, {}, "unknown option '-q'"},
        CommandLineCase{"positional", {"words.txt"}, Action::UsageError, {}, "unexpected argument 'words.txt'"},
        CommandLineCase{"operandAfterTheEndOfOptions",
                        {"--quiet", "--", "--limit"},
                        Action::UsageError,
                        {},
                        "unexpected argument '--limit'"},
        CommandLineCase{"missingValue", {"--corpus"}, Action::UsageError, {}, "option --corpus needs a value"},
        CommandLineCase{"emptyCorpus", {"--corpus="}, Action::UsageError, {}, "--corpus wants a file name"},
        CommandLineCase{"flagWithValue", {"--quiet=yes"}, Action::UsageError, {}, "option --quiet takes no value"},
        CommandLineCase{"errorBeforeHelpWins",
                        {"--limit", "0", "--help"},
                        Action::UsageError,
                        {},
                        "--limit wants a number from 1 to 10000, not '0'"},
        CommandLineCase{"limitTooLarge",
                        {"--limit", "10001"},
                        Action::UsageError,
                        {},
                        "--limit wants a number from 1 to 10000, not '10001'"},
        CommandLineCase{"limitNotANumber",
                        {"--limit", "ten"},
                        Action::UsageError,
                        {},
                        "--limit wants a number from 1 to 10000, not 'ten'"},
        CommandLineCase{"limitSigned",
                        {"--limit", "+5"},
                        Action::UsageError,
                        {},
                        "--limit wants a number from 1 to 10000, not '+5'"},
        CommandLineCase{"threadsZero",
                        {"--threads", "0"},
                        Action::UsageError,
                        {},
                        "--threads wants a number from 1 to 64, not '0'"},
        CommandLineCase{"noConnections",
                        {"--max-connections", "0"},
                        Action::UsageError,
                        {},
                        "--max-connections wants a number from 1 to 1000000, not '0'"},
        CommandLineCase{"tooManyConnections",
                        {"--max-connections=1000001"},
                        Action::UsageError,
                        {},
                        "--max-connections wants a number from 1 to 1000000, not '1000001'"},
        CommandLineCase{"headerTimeoutZero",
                        {"--header-timeout", "0"},
                        Action::UsageError,
                        {},
                        "--header-timeout wants milliseconds from 1 to 86400000, not '0'"},
        CommandLineCase{"idleTimeoutInSeconds",
                        {"--idle-timeout", "60s"},
                        Action::UsageError,
                        {},
                        "--idle-timeout wants milliseconds from 1 to 86400000, not '60s'"},
        CommandLineCase{"listenWithoutPort",
                        {"--listen", "127.0.0.1"},
                        Action::UsageError,
                        {},
                        "--listen wants ADDR:PORT with a numeric address (IPv6 in brackets) and a port from 0 to "
                        "65535, not '127.0.0.1'"},
        CommandLineCase{"listenPortTooLarge",
                        {"--listen", "127.0.0.1:65536"},
                        Action::UsageError,
                        {},
                        "--listen wants ADDR:PORT with a numeric address (IPv6 in brackets) and a port from 0 to "
                        "65535, not '127.0.0.1:65536'"},
        CommandLineCase{"listenHostName",
                        {"--listen", "localhost:80"},
                        Action::UsageError,
                        {},
                        "--listen wants ADDR:PORT with a numeric address (IPv6 in brackets) and a port from 0 to "
                        "65535, not 'localhost:80'"},
        CommandLineCase{"listenIpv6WithoutBrackets",
                        {"--listen", "::1:80"},
                        Action::UsageError,
                        {},
                        "--listen wants ADDR:PORT with a numeric address (IPv6 in brackets) and a port from 0 to "
                        "65535, not '::1:80'"},
        CommandLineCase{"listenIpv4InBrackets",
                        {"--listen", "[127.0.0.1]:80"},
                        Action::UsageError,
                        {},
                        "--listen wants ADDR:PORT with a numeric address (IPv6 in brackets) and a port from 0 to "
                        "65535, not '[127.0.0.1]:80'"}),
    test::CaseName());

TEST(ServiceUsageTest, namesEveryOption) {
    const std::string usage = ServiceUsage();
    for (const char* option : {"--listen", "--corpus", "--limit", "--threads", "--max-connections", "--header-timeout",
                               "--idle-timeout", "--quiet", "--help", "--version"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
    EXPECT_TRUE(ServiceVersion().starts_with("morvane-recomd "));
}

TEST(LoadServiceCorpusTest, takesTheNamedFileThenJiebaThenTheBundledCorpus) {
    const test::TempDir dir;
    test::WriteFileBytes(dir / "named.txt", "手机 3\n");
    test::WriteFileBytes(dir / "jieba.txt", "电脑 5 n\n");
    const std::string named = (dir / "named.txt").string();
    const std::string jieba = (dir / "jieba.txt").string();
    const std::string absent = (dir / "absent.txt").string();

    const ServiceCorpus fromNamed = LoadServiceCorpus(named, jieba);
    EXPECT_EQ(fromNamed.source, named);
    ASSERT_EQ(fromNamed.load.words.size(), 1U);
    EXPECT_EQ(fromNamed.load.words[0].word, "手机");
    EXPECT_EQ(fromNamed.notice, "");

    const ServiceCorpus fromJieba = LoadServiceCorpus("", jieba);
    EXPECT_EQ(fromJieba.source, jieba);
    ASSERT_EQ(fromJieba.load.words.size(), 1U);
    EXPECT_EQ(fromJieba.load.words[0].word, "电脑");

    const ServiceCorpus bundled = LoadServiceCorpus("", absent);
    EXPECT_EQ(bundled.load.error, "");
    EXPECT_EQ(bundled.source, "the bundled corpus");
    EXPECT_EQ(bundled.load.words.size(), ParseCorpus(BundledCorpusText()).words.size());
    EXPECT_NE(bundled.notice.find(absent), std::string::npos) << bundled.notice;
}

TEST(LoadServiceCorpusTest, aNamedCorpusThatFailsIsAnErrorNotAFallback) {
    const test::TempDir dir;
    test::WriteFileBytes(dir / "broken.txt", "手机\n");
    const std::string broken = (dir / "broken.txt").string();
    const std::string missing = (dir / "missing.txt").string();

    EXPECT_NE(LoadServiceCorpus(missing, "/nonexistent").load.error, "");
    EXPECT_NE(LoadServiceCorpus("", broken).load.error, "");
    EXPECT_EQ(LoadServiceCorpus("", broken).notice, "");
}

} // namespace
} // namespace morvane
