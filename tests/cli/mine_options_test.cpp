#include "cli/mine_options.h"
#include "cli/run_mine.h"
#include "tests/cli/mine_test_support.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>

namespace morvane {
namespace {

using test::Gbk;
using test::ScriptedServer;

struct GoodCase {
    std::string name;
    std::vector<std::string> args;
    std::function<void(MineOptions&)> expect; // turns the defaults into the expected options

    friend void PrintTo(const GoodCase& param, std::ostream* out) { *out << param.name; }
};

class GoodOptionsTest : public testing::TestWithParam<GoodCase> {};

TEST_P(GoodOptionsTest, parsesToTheExpectedOptions) {
    const GoodCase& c = GetParam();
    const ParsedCommand command = ParseMineArguments(c.args);
    EXPECT_EQ(command.action, CommandAction::Run) << command.error;
    MineOptions expected;
    c.expect(expected);
    EXPECT_EQ(command.options, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Options, GoodOptionsTest,
    testing::Values(
        GoodCase{"defaults", {}, [](MineOptions&) {}},
        GoodCase{"areaByName", {"--area", "北京"}, [](MineOptions& o) { o.areaId = 1; }},
        GoodCase{"areaByGbkName", {"--area", Gbk("台湾")}, [](MineOptions& o) { o.areaId = 30; }},
        GoodCase{"areaByNumberWithEquals", {"--area=30"}, [](MineOptions& o) { o.areaId = 30; }},
        GoodCase{"areaWithLeadingZero", {"--area", "07"}, [](MineOptions& o) { o.areaId = 7; }},
        GoodCase{"pauseZero", {"--pause", "0"}, [](MineOptions& o) { o.pause = std::chrono::milliseconds(0); }},
        GoodCase{"pauseLongest", {"--pause=86400000"}, [](MineOptions& o) { o.pause = kMaxSeedPause; }},
        GoodCase{"timeoutZeroIsNone", {"--timeout", "0"}, [](MineOptions& o) { o.timeout = kNoTimeout; }},
        GoodCase{"timeoutWithDecimals",
                 {"--timeout=0.25"},
                 [](MineOptions& o) { o.timeout = std::chrono::milliseconds(250); }},
        GoodCase{"timeoutLongest", {"--timeout", "86400.000"}, [](MineOptions& o) { o.timeout = kMaxRequestTimeout; }},
        GoodCase{"serviceTrailingSlashDropped",
                 {"--service", "http://127.0.0.1:8080/"},
                 [](MineOptions& o) { o.serviceBase = "http://127.0.0.1:8080"; }},
        GoodCase{"serviceIpv6AndHttps",
                 {"--service", "https://[::1]:8765"},
                 [](MineOptions& o) { o.serviceBase = "https://[::1]:8765"; }},
        GoodCase{"serviceHostName",
                 {"--service", "http://example.test"},
                 [](MineOptions& o) { o.serviceBase = "http://example.test"; }},
        GoodCase{"seedFile", {"seeds.txt"}, [](MineOptions& o) { o.seedFile = "seeds.txt"; }},
        GoodCase{"dashIsStandardInput", {"-"}, [](MineOptions& o) { o.seedFile = "-"; }},
        GoodCase{"doubleDashEndsOptions", {"--", "--odd-name"}, [](MineOptions& o) { o.seedFile = "--odd-name"; }},
        GoodCase{"everyFlag",
                 {"--gbk", "--unique", "--quiet", "--format", "csv", "--depth", "3", "--output", "out.txt"},
                 [](MineOptions& o) {
                     o.gbk = o.unique = o.quiet = true;
                     o.format = WordFormat::Csv;
                     o.depth = 3;
                     o.outputFile = "out.txt";
                 }},
        GoodCase{"filtersRepeat",
                 {"--include", "壳", "--include=支架", "--exclude", "旅游"},
                 [](MineOptions& o) {
                     o.includes = {"壳", "支架"};
                     o.excludes = {"旅游"};
                 }},
        GoodCase{"gbkFilterWordsTakenAsBytes",
                 {"--include", Gbk("壳"), "--gbk"},
                 [](MineOptions& o) {
                     o.includes = {Gbk("壳")};
                     o.gbk = true;
                 }},
        GoodCase{"lastRepeatWins", {"--area", "1", "--area", "2"}, [](MineOptions& o) { o.areaId = 2; }}),
    test::CaseName());

TEST(CommandActionTest, helpAndVersionWinOverWhatFollowsThem) {
    EXPECT_EQ(ParseMineArguments({"--help", "--bogus"}).action, CommandAction::Help);
    EXPECT_EQ(ParseMineArguments({"--area", "1", "--version", "--depth", "0"}).action, CommandAction::Version);
    EXPECT_EQ(ParseMineArguments({"--bogus", "--help"}).action, CommandAction::UsageError);
}

TEST(CommandActionTest, helpAndVersionPrintToStandardOutputAndSucceed) {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunMine({"--help"}, in, out, err), kExitSuccess);
    EXPECT_TRUE(out.str().starts_with("Usage: morvane-mine [options] [SEEDFILE]\n")) << out.str();
    EXPECT_NE(out.str().find(DefaultServiceBase()), std::string::npos);
    EXPECT_EQ(err.str(), "");

    out.str("");
    EXPECT_EQ(RunMine({"--version"}, in, out, err), kExitSuccess);
    EXPECT_TRUE(std::regex_match(out.str(), std::regex("morvane-mine [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << out.str();
}

struct BadCase {
    std::string name;
    std::vector<std::string> args;
    int status;
    std::string message; // the whole of standard error

    friend void PrintTo(const BadCase& param, std::ostream* out) { *out << param.name; }
};

class BadOptionsTest : public testing::TestWithParam<BadCase> {
protected:
    ScriptedServer server;
};

TEST_P(BadOptionsTest, failsWithOneLineAndMakesNoRequest) {
    const BadCase& c = GetParam();
    std::vector<std::string> args{"--service", server.BaseUrl(), "--pause", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::istringstream in("手机\n");
    std::ostringstream out;
    std::ostringstream err;

    EXPECT_EQ(RunMine(args, in, out, err), c.status);

    EXPECT_EQ(err.str(), c.message);
    EXPECT_EQ(out.str(), "");
    EXPECT_TRUE(server.Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, BadOptionsTest,
    testing::Values(
        BadCase{"unknownOption", {"--bogus"}, 2, "morvane-mine: unknown option '--bogus' (try --help)\n"},
        BadCase{"shortOption", {"-x"}, 2, "morvane-mine: unknown option '-x' (try --help)\n"},
        BadCase{"missingValue", {"--area"}, 2, "morvane-mine: option --area needs a value\n"},
        BadCase{"flagWithValue", {"--quiet=yes"}, 2, "morvane-mine: option --quiet takes no value\n"},
        BadCase{"areaOutOfRange",
                {"--area", "31"},
                2,
                "morvane-mine: unknown area '31' (use 0-30 or a region name such as 北京)\n"},
        BadCase{"areaNegative",
                {"--area", "-1"},
                2,
                "morvane-mine: unknown area '-1' (use 0-30 or a region name such as 北京)\n"},
        BadCase{"areaUnknownName",
                {"--area", "火星"},
                2,
                "morvane-mine: unknown area '火星' (use 0-30 or a region name such as 北京)\n"},
        BadCase{"pauseNegative",
                {"--pause", "-5"},
                2,
                "morvane-mine: bad pause '-5' (expected 0 to 86400000 milliseconds)\n"},
        BadCase{"pauseNotANumber",
                {"--pause", "fast"},
                2,
                "morvane-mine: bad pause 'fast' (expected 0 to 86400000 milliseconds)\n"},
        BadCase{"pauseTooLong",
                {"--pause", "86400001"},
                2,
                "morvane-mine: bad pause '86400001' (expected 0 to 86400000 milliseconds)\n"},
        BadCase{"pauseOverflows",
                {"--pause", "99999999999999999999999"},
                2,
                "morvane-mine: bad pause '99999999999999999999999' (expected 0 to 86400000 milliseconds)\n"},
        BadCase{"timeoutNegative",
                {"--timeout", "-1"},
                2,
                "morvane-mine: bad timeout '-1' (expected 0 to 86400 seconds, such as 60 or 0.5)\n"},
        BadCase{"timeoutTooLong",
                {"--timeout", "86400.001"},
                2,
                "morvane-mine: bad timeout '86400.001' (expected 0 to 86400 seconds, such as 60 or 0.5)\n"},
        BadCase{"timeoutFourDecimals",
                {"--timeout", "0.0001"},
                2,
                "morvane-mine: bad timeout '0.0001' (expected 0 to 86400 seconds, such as 60 or 0.5)\n"},
        BadCase{"timeoutWithUnit",
                {"--timeout", "5s"},
                2,
                "morvane-mine: bad timeout '5s' (expected 0 to 86400 seconds, such as 60 or 0.5)\n"},
        BadCase{
            "depthZero", {"--depth", "0"}, 2, "morvane-mine: bad depth '0' (expected a whole number of 1 or more)\n"},
        BadCase{"depthFraction",
                {"--depth", "1.5"},
                2,
                "morvane-mine: bad depth '1.5' (expected a whole number of 1 or more)\n"},
        BadCase{"formatUnknown", {"--format", "xml"}, 2, "morvane-mine: unknown format 'xml' (expected txt or csv)\n"},
        BadCase{"serviceNotHttp",
                {"--service", "ftp://127.0.0.1"},
                2,
                "morvane-mine: bad service address 'ftp://127.0.0.1' (expected http://host[:port])\n"},
        BadCase{"serviceWithPath",
                {"--service", "http://127.0.0.1:8765/api"},
                2,
                "morvane-mine: bad service address 'http://127.0.0.1:8765/api' (expected http://host[:port])\n"},
        BadCase{"servicePortTooBig",
                {"--service", "http://127.0.0.1:65536"},
                2,
                "morvane-mine: bad service address 'http://127.0.0.1:65536' (expected http://host[:port])\n"},
        BadCase{"serviceNoHost",
                {"--service", "http://:80"},
                2,
                "morvane-mine: bad service address 'http://:80' (expected http://host[:port])\n"},
        BadCase{"twoSeedFiles", {"a.txt", "b.txt"}, 2, "morvane-mine: more than one seed file: 'b.txt'\n"},
        BadCase{"emptyOutputName", {"--output="}, 2, "morvane-mine: empty file name for --output\n"},
        BadCase{"filterWordNotUtf8",
                {"--include", "\xB0\xA1"},
                2,
                "morvane-mine: --include/--exclude word is not valid UTF-8 (with GBK text, try --gbk)\n"},
        BadCase{"missingSeedFile",
                {"/nonexistent/seeds.txt"},
                2,
                "morvane-mine: cannot read /nonexistent/seeds.txt: No such file or directory\n"},
        BadCase{"seedFileIsAFolder", {"/"}, 2, "morvane-mine: cannot read /: Is a directory\n"},
        BadCase{"outputCannotBeCreated",
                {"--output", "/nonexistent/out.txt"},
                1,
                "morvane-mine: cannot create /nonexistent/out.txt: No such file or directory\n"}),
    test::CaseName());

} // namespace
} // namespace morvane
