// knnbench-cli end to end: the report, the result tables of every mode and search range, the messages
// of a failed load and the usage errors, each checked with its exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

struct CliRun {
    int exitCode = -1;
    std::string out; ///< standard output
    std::string err; ///< standard error
};

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class CliTest : public testing::Test {
protected:
    CliTest() {
        static int counter = 0;
        folder = std::filesystem::temp_directory_path() /
                 ("knncli-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(folder);
    }
    ~CliTest() override { std::filesystem::remove_all(folder); }

    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(folder / name, std::ios::binary) << text;
        return (folder / name).string();
    }
    std::string pathOf(const std::string& name) const { return (folder / name).string(); }

    /// Runs the program with standard output into out.txt, or into stdoutPath when one is given.
    CliRun run(const std::vector<std::string>& args, const std::string& stdoutPath = "") const {
        std::string command = shellQuoted(KNN_CLI_PATH);
        for (const auto& arg : args)
            command.append(" ").append(shellQuoted(arg));
        command.append(" >").append(shellQuoted(stdoutPath.empty() ? pathOf("out.txt") : stdoutPath));
        command.append(" 2>").append(shellQuoted(pathOf("err.txt"))).append(" </dev/null");
        const int status = std::system(command.c_str());
        CliRun result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = readFile(folder / "out.txt");
        result.err = readFile(folder / "err.txt");
        return result;
    }
    /// A run on data.pts and query.pts of the folder with extra flags.
    CliRun runOn(const std::vector<std::string>& flags) const {
        std::vector<std::string> args{"--data", pathOf("data.pts"), "--query", pathOf("query.pts")};
        args.insert(args.end(), flags.begin(), flags.end());
        return run(args);
    }
    /// The query table of a complete run.
    std::string results(std::vector<std::string> flags) const {
        flags.insert(flags.end(), {"--no-stats", "--results", pathOf("results.tsv")});
        const CliRun cli = runOn(flags);
        EXPECT_EQ(cli.exitCode, 0) << cli.err;
        return readFile(folder / "results.tsv");
    }

    std::filesystem::path folder;
};

const std::string Rule(50, '=');

} // namespace

TEST_F(CliTest, ReportOfADefaultRun) {
    write("data.pts", "1 10\n2 20\n3 30\n4 40\n");
    write("query.pts", "0 0\n");
    const CliRun cli = runOn({"-k", "2"});
    EXPECT_EQ(cli.exitCode, 0);
    EXPECT_EQ(cli.err, "");
    std::string expected = Rule + "\nDATA STATISTICS\n" + Rule + "\n";
    const char* const columns[][12] = {
        {"4", "10", "30", "1", "4", "2.5", "2.5", "5", "1.6667", "1.291", "0", "-1.2"},
        {"4", "100", "3000", "10", "40", "25", "25", "500", "166.6667", "12.9099", "0", "-1.2"}};
    const char* const names[] = {"No. of valid cases", "Sum",           "Sum of squares", "Min value",
                                 "Max value",          "Mean",          "Median",         "Total variance",
                                 "Unbiased variance",  "St. deviation", "Skewness",       "Kurtosis"};
    for (int c = 0; c < 2; ++c) {
        expected += std::string(30, '-') + "\nStats for Column " + std::to_string(c + 1) + "\n" +
                    std::string(30, '-') + "\n";
        for (int i = 0; i < 12; ++i)
            expected += std::string(names[i]) + "\t" + columns[c][i] + "\n";
        expected += "\n\n";
    }
    expected += Rule + "\nSEARCH OPTIONS\n" + Rule +
                "\nData & query dimension = 2\nNo. of data points = 4\nNo. of query points = 1\n"
                "No. of K neighbors = 2\nError bound = 0\nDistance metric = Euclidean (2)\n"
                "Max points to visit = 0\nTree bucket size = 1\nSplitting rule = 5\nShrinking rule = 3\n"
                "Search mode = Unbalanced Tree\nSearch range = Standard\n";
    EXPECT_EQ(cli.out, expected);
}

TEST_F(CliTest, EveryOptionIsEchoed) {
    write("data.pts", "0 0\n1 1\n2 2\n");
    write("query.pts", "0 0\n");
    const CliRun cli = runOn({"--no-stats",
                              "--neighbours",
                              "5",
                              "--eps",
                              "0,25",
                              "--metric",
                              "custom",
                              "--power",
                              "3",
                              "--mode",
                              "bd",
                              "--search",
                              "radius",
                              "--radius",
                              "1.5",
                              "--bucket",
                              "4",
                              "--split",
                              "sliding-fair",
                              "--shrink",
                              "1",
                              "--max-visit",
                              "7",
                              "--dim",
                              "1"});
    EXPECT_EQ(cli.exitCode, 0) << cli.err;
    EXPECT_EQ(cli.out,
              Rule + "\nSEARCH OPTIONS\n" + Rule +
                  "\nData & query dimension = 1\nNo. of data points = 3\nNo. of query points = 1\n"
                  "No. of K neighbors = 2\nError bound = 0.25\nDistance metric = LP (3)\n"
                  "Max points to visit = 2\nTree bucket size = 4\nSplitting rule = 4\nShrinking rule = 1\n"
                  "Search mode = Balanced Tree\nSearch range = Fixed radius\n");
}

struct ModeRange {
    const char* mode;
    const char* search;
};
void PrintTo(const ModeRange& row, std::ostream* out) {
    *out << row.mode << " " << row.search;
}

class CliModes : public CliTest, public testing::WithParamInterface<ModeRange> {};

TEST_P(CliModes, ResultTableOfEachModeAndRange) {
    write("data.pts", "0 0\n1 0\n0 2\n3 3\n10 10\n");
    write("query.pts", "0.1 0\n2.9 3\n");
    const std::string search = GetParam().search;
    std::vector<std::string> flags{"--mode", GetParam().mode, "--search", search, "-k", "3"};
    if (search == "radius") flags.insert(flags.end(), {"--radius", "1.5"});
    const std::string expected = search == "radius"
                                     ? "#\tQ1\tQ2\tIndex1\tIndex2\tIndex3\tDist1\tDist2\tDist3\n"
                                       "1\t0.1\t0\t1\t2\t0\t0.1\t0.9\t1.34078079299426E154\n"
                                       "2\t2.9\t3\t4\t0\t0\t0.1\t1.34078079299426E154\t1.34078079299426E154\n"
                                     : "#\tQ1\tQ2\tIndex1\tIndex2\tIndex3\tDist1\tDist2\tDist3\n"
                                       "1\t0.1\t0\t1\t2\t3\t0.1\t0.9\t2.00249843945008\n"
                                       "2\t2.9\t3\t4\t3\t2\t0.1\t3.06757233003559\t3.55105618091294\n";
    EXPECT_EQ(results(flags), expected);
}

INSTANTIATE_TEST_SUITE_P(Structures, CliModes,
                         testing::Values(ModeRange{"brute", "standard"}, ModeRange{"brute", "radius"},
                                         ModeRange{"kd", "standard"}, ModeRange{"kd", "radius"},
                                         ModeRange{"kd", "priority"}, ModeRange{"bd", "standard"},
                                         ModeRange{"bd", "radius"}, ModeRange{"bd", "priority"}));

struct OracleCase {
    const char* metric;
    const char* mode;
    const char* search;
    const char* split;
};
void PrintTo(const OracleCase& row, std::ostream* out) {
    *out << row.metric << " " << row.mode << " " << row.search << " " << row.split;
}

class CliTreesMatchBruteForce : public CliTest, public testing::WithParamInterface<OracleCase> {};

TEST_P(CliTreesMatchBruteForce, WithZeroErrorBound) {
    std::mt19937 generator(20240611);
    std::uniform_real_distribution<double> coordinate(-50.0, 50.0);
    auto points = [&](int count) {
        std::string text;
        char number[32];
        for (int i = 0; i < count * 3; ++i) {
            text.append(number, std::to_chars(number, number + sizeof number, coordinate(generator)).ptr);
            text += i % 3 == 2 ? '\n' : ' ';
        }
        return text;
    };
    write("data.pts", points(400));
    write("query.pts", points(40));
    const OracleCase& c = GetParam();
    const std::vector<std::string> common{"--metric", c.metric, "--power", "3", "-k", "6", "--radius", "12"};
    std::vector<std::string> brute = common;
    brute.insert(brute.end(),
                 {"--mode", "brute", "--search", std::string(c.search) == "radius" ? "radius" : "standard"});
    std::vector<std::string> tree = common;
    tree.insert(tree.end(), {"--mode", c.mode, "--search", c.search, "--split", c.split, "--bucket", "3"});
    EXPECT_EQ(results(tree), results(brute));
}

INSTANTIATE_TEST_SUITE_P(Options, CliTreesMatchBruteForce,
                         testing::Values(OracleCase{"euclidean", "kd", "standard", "default"},
                                         OracleCase{"manhattan", "kd", "priority", "fair"},
                                         OracleCase{"chebyshev", "kd", "radius", "midpoint"},
                                         OracleCase{"custom", "kd", "standard", "standard"},
                                         OracleCase{"euclidean", "bd", "priority", "sliding-midpoint"},
                                         OracleCase{"manhattan", "bd", "radius", "sliding-fair"},
                                         OracleCase{"chebyshev", "bd", "standard", "default"},
                                         OracleCase{"custom", "bd", "radius", "fair"}));

struct ThreadCase {
    const char* name;
    std::vector<std::string> flags;
    int badQueryLine; ///< 0-based line of the query file that does not convert; -1 for none
};
void PrintTo(const ThreadCase& row, std::ostream* out) {
    *out << row.name;
}

class CliThreads : public CliTest, public testing::WithParamInterface<ThreadCase> {};

// Several threads share the queries in blocks; the report, the results and the message and exit status
// of a run that ends at an unreadable query must be those of one thread.
TEST_P(CliThreads, AnswerAsOneThreadDoes) {
    std::mt19937 generator(20240612);
    std::uniform_int_distribution<int> coordinate(0, 40); // a coarse grid makes many equal distances
    auto points = [&](int count, int badLine) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += std::to_string(coordinate(generator)) + " " + std::to_string(coordinate(generator));
            text += i == badLine ? " x\n" : " 7\n";
        }
        return text;
    };
    write("data.pts", points(500, -1));
    write("query.pts", points(700, GetParam().badQueryLine));
    const auto runWith = [&](const std::string& threads) {
        std::vector<std::string> flags = GetParam().flags;
        flags.insert(flags.end(), {"-k", "5", "--radius", "6", "--threads", threads, "--results",
                                   pathOf("results-" + threads + ".tsv")});
        CliRun cli = runOn(flags);
        cli.out += readFile(folder / ("results-" + threads + ".tsv"));
        return cli;
    };
    const CliRun one = runWith("1");
    const CliRun four = runWith("4");
    EXPECT_EQ(four.exitCode, one.exitCode);
    EXPECT_EQ(four.err, one.err);
    EXPECT_EQ(four.out, one.out);
    EXPECT_EQ(one.exitCode, GetParam().badQueryLine < 0 ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    ModesAndSearches, CliThreads,
    testing::Values(ThreadCase{"BruteStandard", {"--mode", "brute"}, -1},
                    ThreadCase{"BruteRadius", {"--mode", "brute", "--search", "radius"}, -1},
                    ThreadCase{"KdStandard", {"--mode", "kd", "--bucket", "3"}, -1},
                    ThreadCase{"KdPriorityManhattan", {"--search", "priority", "--metric", "manhattan"}, -1},
                    ThreadCase{"KdRadiusVisitLimit", {"--search", "radius", "--max-visit", "40"}, -1},
                    ThreadCase{
                        "BdStandardEps", {"--mode", "bd", "--eps", "0.5", "--metric", "chebyshev"}, -1},
                    ThreadCase{"BdPriorityCustom",
                               {"--mode", "bd", "--search", "priority", "--metric", "custom", "--power", "3"},
                               -1},
                    ThreadCase{"BadFirstQuery", {"--mode", "kd"}, 0},
                    ThreadCase{"BadQueryInALaterBlock", {"--mode", "bd"}, 451}),
    [](const testing::TestParamInfo<ThreadCase>& info) { return info.param.name; });

TEST_F(CliTest, DecimalSeparatorFlagReadsAndWritesCommas) {
    write("data.pts", "0,5 1\n2 2\n");
    write("query.pts", "0 1\n");
    EXPECT_EQ(results({"--decimal-separator", ",", "--mode", "brute"}),
              "#\tQ1\tQ2\tIndex1\tDist1\n1\t0\t1\t1\t0,5\n");
}

TEST_F(CliTest, TablesGoToStandardOutputAfterTheReport) {
    write("data.pts", "1,5 2\n");
    write("query.pts", "1 2\n");
    const CliRun cli = runOn({"--no-stats", "--data-table", "-", "--results", "-"});
    EXPECT_EQ(cli.exitCode, 0);
    const std::string tables = "#\tData1\tData2\n1\t1.5\t2\n#\tQ1\tQ2\tIndex1\tDist1\n1\t1\t2\t1\t0.5\n";
    ASSERT_GE(cli.out.size(), tables.size());
    EXPECT_EQ(cli.out.substr(cli.out.size() - tables.size()), tables);
    EXPECT_NE(cli.out.find("Search range = Standard\n#\tData1"), std::string::npos);
}

TEST_F(CliTest, TimingGoesToStandardError) {
    std::string points;
    for (int i = 0; i < 3000; ++i)
        points += std::to_string(i % 97) + " " + std::to_string(i % 89) + "\n";
    write("data.pts", points);
    write("query.pts", points);
    const CliRun cli = runOn({"--no-stats", "--timing"});
    EXPECT_EQ(cli.exitCode, 0);
    EXPECT_EQ(cli.out.find("Queries: "), std::string::npos);
    // The mean and the slowest query come from the same chunks of the search.
    const std::size_t line = cli.err.find("Queries: ");
    ASSERT_NE(line, std::string::npos);
    double mean = 0, slowest = 0;
    ASSERT_EQ(std::sscanf(cli.err.c_str() + line, "Queries: %*f s (%*d queries, mean %lf s, slowest %lf s)",
                          &mean, &slowest),
              2);
    EXPECT_GT(mean, 0.0);
    EXPECT_GE(slowest, mean);
}

TEST_F(CliTest, TreeStatsAndDumpDescribeTheAnsweringTree) {
    write("data.pts", "0 0\n1 0\n0 1\n1 1\n");
    write("query.pts", "0.2 0.2\n");
    const CliRun cli =
        runOn({"--no-stats", "--mode", "bd", "--bucket", "4", "--tree-stats", "--dump", pathOf("tree.dump")});
    EXPECT_EQ(cli.exitCode, 0) << cli.err;
    // Four points in one bucket: a single leaf whose cell is the unit square.
    EXPECT_EQ(cli.err, "Dimension = 2\nPoints = 4\nBucket size = 4\nLeaves = 1\nEmpty leaves = 0\n"
                       "Split nodes = 0\nShrink nodes = 0\nDepth = 0\nMean leaf aspect ratio = 1\n");
    EXPECT_EQ(readFile(folder / "tree.dump"), "#QEL 1.1.1\npoints 2 4\n0 0 0\n1 1 0\n2 0 1\n3 1 1\n"
                                              "tree 2 4 4\n0 0\n1 1\nleaf 4 0 1 2 3\n");
}

TEST_F(CliTest, VersionIsPrinted) {
    const CliRun cli = run({"--version"});
    EXPECT_EQ(cli.exitCode, 0);
    EXPECT_EQ(cli.out, "knnbench-cli " KNN_VERSION "\n");
}

struct FailedLoad {
    const char* name;
    const char* data;  ///< null: no file
    const char* query; ///< null: no file
    const char* messages;
};
void PrintTo(const FailedLoad& row, std::ostream* out) {
    *out << row.name;
}

class CliFailedLoads : public CliTest, public testing::WithParamInterface<FailedLoad> {};

TEST_P(CliFailedLoads, PrintTheirMessagesAndExitWithOne) {
    const FailedLoad& c = GetParam();
    if (c.data) write("data.pts", c.data);
    if (c.query) write("query.pts", c.query);
    const CliRun cli = runOn({"--no-stats", "--results", pathOf("results.tsv")});
    std::string messages = c.messages;
    if (const auto at = messages.find("FILE"); at != std::string::npos)
        messages.replace(at, 4, pathOf(c.data && *c.data ? "query.pts" : "data.pts"));
    EXPECT_EQ(cli.exitCode, 1);
    EXPECT_EQ(cli.err, messages);
    EXPECT_FALSE(std::filesystem::exists(folder / "results.tsv"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, CliFailedLoads,
    testing::Values(
        FailedLoad{"NoDataFile", nullptr, "1 2\n", "File FILE doesn't exist.\n"},
        FailedLoad{"NoQueryFile", "1 2\n", nullptr, "File FILE doesn't exist.\n"},
        FailedLoad{"DimensionsDiffer", "1 2 3\n", "1 2\n",
                   "The data & query dimensions do not coincide!\nPlease check input file structure.\n"},
        FailedLoad{"EmptyDataFile", "", "1 2\n",
                   "List index out of bounds (0)\nFile FILE is empty: it holds no line.\n"},
        FailedLoad{"DataFieldDoesNotConvert", "1 2\n3 x\n", "1 2\n",
                   "Could not load data!\nPlease check input file structure.\n"},
        FailedLoad{"QueryFieldDoesNotConvert", "1 2\n", "1 2\n3 x\n",
                   "ReadPt:\nSome error occured while processing index 1\nCan't read query point 2\n"}),
    [](const testing::TestParamInfo<FailedLoad>& info) { return info.param.name; });

struct UsageCase {
    const char* name;
    std::vector<std::string> flags;
    const char* error;
};
void PrintTo(const UsageCase& row, std::ostream* out) {
    *out << row.name;
}

class CliUsageErrors : public CliTest, public testing::WithParamInterface<UsageCase> {};

TEST_P(CliUsageErrors, ExitWithTwoAndTheUsage) {
    write("data.pts", "1 2\n");
    write("query.pts", "1 2\n");
    const CliRun cli = runOn(GetParam().flags);
    EXPECT_EQ(cli.exitCode, 2);
    EXPECT_EQ(cli.out, "");
    EXPECT_EQ(cli.err.rfind(std::string("knnbench-cli: ") + GetParam().error + "\n\nUsage: ", 0), 0u)
        << cli.err;
}

INSTANTIATE_TEST_SUITE_P(
    Flags, CliUsageErrors,
    testing::Values(
        UsageCase{"ZeroNeighbours", {"-k", "0"}, "bad value \"0\" for -k: must be at least 1"},
        UsageCase{"NeighboursNotANumber",
                  {"--neighbours", "3x"},
                  "bad value \"3x\" for --neighbours: not an integer"},
        UsageCase{"ZeroBucket", {"--bucket", "0"}, "bad value \"0\" for --bucket: must be at least 1"},
        UsageCase{"ZeroPower", {"--power=0"}, "bad value \"0\" for --power: must be at least 1"},
        UsageCase{"SplitOutOfRange",
                  {"--split", "6"},
                  "bad value \"6\" for --split: splitting rule out of range (0..5 or a rule name)"},
        UsageCase{"ShrinkOutOfRange",
                  {"--shrink", "-1"},
                  "bad value \"-1\" for --shrink: shrinking rule out of range (0..3 or a rule name)"},
        UsageCase{
            "UnknownMetric",
            {"--metric", "cosine"},
            "bad value \"cosine\" for --metric: unknown metric (manhattan, euclidean, chebyshev or custom)"},
        UsageCase{"BruteForcePriority",
                  {"--mode", "brute", "--search", "priority"},
                  "priority search needs a tree: use --mode kd or --mode bd"},
        UsageCase{"BruteForceDump",
                  {"--mode", "brute", "--dump", "tree.dump"},
                  "--dump needs a tree: use --mode kd or --mode bd"},
        UsageCase{"NegativeVisitLimit",
                  {"--max-visit", "-1"},
                  "bad value \"-1\" for --max-visit: must be at least 0"},
        UsageCase{"LongSeparator",
                  {"--decimal-separator", ".."},
                  "bad value \"..\" for --decimal-separator: must be one character"},
        UsageCase{"ZeroThreads", {"--threads", "0"}, "bad value \"0\" for --threads: must be at least 1"},
        UsageCase{"ThreadsBeyondTheLimit",
                  {"--threads", "2147483647"},
                  "bad value \"2147483647\" for --threads: must be at most 1024"},
        UsageCase{"NegativeRadius",
                  {"--radius", "-0.5"},
                  "bad value \"-0.5\" for --radius: must be a finite number of at least 0"},
        UsageCase{
            "ErrorBoundBeyondTheDoubles", {"--eps", "1e309"}, "bad value \"1e309\" for --eps: not a number"},
        UsageCase{"DigitSeparator",
                  {"--decimal-separator", "1"},
                  "bad value \"1\" for --decimal-separator: must be no digit, sign, exponent mark or blank"},
        UsageCase{"MissingValue", {"--eps"}, "--eps needs a value"},
        UsageCase{"UnknownFlag", {"--colour", "red"}, "unknown flag --colour"},
        UsageCase{"GridUnknownKey",
                  {"--compare", "mode=kd leaf=4"},
                  "--compare: bad word \"leaf=4\": unknown key (mode, search, split, shrink, bucket, eps or "
                  "max-visit)"},
        UsageCase{"GridWordWithoutValues",
                  {"--compare", "bucket"},
                  "--compare: bad word \"bucket\": not KEY=VALUES"},
        UsageCase{"GridUnknownMode",
                  {"--compare", "mode=kd,quad"},
                  "--compare: bad word \"mode=kd,quad\": unknown mode \"quad\""},
        UsageCase{"GridBadRange",
                  {"--compare", "bucket=4..1"},
                  "--compare: bad word \"bucket=4..1\": \"4..1\" is no range A..B"},
        UsageCase{"GridNegativeEps",
                  {"--compare", "eps=0,-1"},
                  "--compare: bad word \"eps=0,-1\": \"-1\" is no error bound of at least 0"},
        UsageCase{"GridKeyTwice",
                  {"--compare", "split=1 split=2"},
                  "--compare: bad word \"split=2\": key given twice"},
        UsageCase{"GridWithoutConfiguration",
                  {"--compare", "mode=brute search=priority"},
                  "--compare: the grid holds no configuration (brute force has no priority search)"},
        UsageCase{
            "GridRangeBeyondTheLimit",
            {"--compare", "bucket=1..2000000000"},
            "--compare: bad word \"bucket=1..2000000000\": \"1..2000000000\" holds more than 10000 values"},
        UsageCase{
            "GridCombinationsBeyondTheLimit",
            {"--compare", "split=0..4 bucket=1..100 max-visit=0..100"},
            "--compare: bad word \"max-visit=0..100\": the grid would hold more than 10000 combinations"},
        UsageCase{"ZeroRepetitions", {"--repeat", "0"}, "bad value \"0\" for --repeat: must be at least 1"},
        UsageCase{"CompareWithResults",
                  {"--compare", "default", "--results", "-"},
                  "--results does not go with --compare"},
        UsageCase{"RepeatWithoutCompare", {"--repeat", "2"}, "--repeat needs --compare"}),
    [](const testing::TestParamInfo<UsageCase>& info) { return info.param.name; });

TEST_F(CliTest, CompareTableFollowsTheStatisticsAndNamesTheWinners) {
    write("data.pts", "0 0\n1 0\n0 1\n1 1\n2 2\n3 1\n");
    write("query.pts", "0.1 0.1\n2.5 1.5\n");
    const CliRun cli =
        runOn({"-k", "2", "--repeat", "1", "--compare", "mode=brute,kd split=0,fair bucket=1..2"});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    EXPECT_EQ(cli.err, "");
    std::vector<std::string> lines;
    for (std::istringstream in(cli.out); std::getline(in, lines.emplace_back());) {
    }
    lines.pop_back();
    const auto header =
        std::find(lines.begin(), lines.end(),
                  "#\tStructure\tSearch\tSplit\tShrink\tBucket\tEps\tMax visit\tBuild s\tQuery s\t"
                  "Mean query s\tSlowest query s\tBuild + query s\tMean visited\tMost visited\t"
                  "Leaves\tEmpty leaves\tSplit nodes\tShrink nodes\tDepth\tAspect ratio\t"
                  "Memory bytes\tRecall\tMean error\tLargest error\tEmpty slots\tWinner");
    ASSERT_NE(header, lines.end()) << cli.out;
    EXPECT_EQ(lines.front(), Rule); // the statistics block comes first
    EXPECT_EQ(*(header - 2), "No. of K neighbors = 2");
    // Brute force once (its rules and bucket do not apply), then the kd-tree's two rules at two buckets.
    const std::vector<std::string> rows(header + 1, lines.end());
    ASSERT_EQ(rows.size(), 5u);
    const char* const options[] = {
        "1\tbrute\tstandard\t-\t-\t-\t-\t-\t", "2\tkd\tstandard\tstandard\t-\t1\t0\tnone\t",
        "3\tkd\tstandard\tstandard\t-\t2\t0\tnone\t", "4\tkd\tstandard\tfair\t-\t1\t0\tnone\t",
        "5\tkd\tstandard\tfair\t-\t2\t0\tnone\t"};
    int winners = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r].rfind(options[r], 0), 0u) << rows[r];
        EXPECT_EQ(std::count(rows[r].begin(), rows[r].end(), '\t'), 26) << rows[r];
        // Every configuration is exact, so the fastest is both winners; recall 1, errors 0, no empty slot.
        const auto winner = rows[r].substr(rows[r].rfind('\t') + 1);
        if (!winner.empty()) {
            ++winners;
            EXPECT_EQ(winner, "fastest exact, fastest recall >= 0.95");
        }
        EXPECT_NE(rows[r].find("\t1\t0\t0\t0\t"), std::string::npos) << rows[r];
    }
    EXPECT_EQ(winners, 1);
    EXPECT_NE(rows[0].find("\t6\t6\t-\t-\t-\t-\t-\t-\t"), std::string::npos)
        << rows[0]; // visits all, no tree
}

TEST_F(CliTest, OutputThatCannotBeWrittenExitsWithOne) {
    write("data.pts", "1 10\n2 20\n");
    write("query.pts", "0 0\n");
    for (const std::vector<std::string>& flags : {std::vector<std::string>{},
                                                  {"--no-stats", "--results", "-"},
                                                  {"--results", "/dev/full"},
                                                  {"--no-stats", "--dump", "-"},
                                                  {"--dump", "/dev/full"}}) {
        std::vector<std::string> args{"--data", pathOf("data.pts"), "--query", pathOf("query.pts")};
        args.insert(args.end(), flags.begin(), flags.end());
        const CliRun cli = run(args, flags.empty() || flags.back() == "-" ? "/dev/full" : "");
        EXPECT_EQ(cli.exitCode, 1) << testing::PrintToString(flags);
        EXPECT_NE(cli.err.find(flags.empty() || flags.back() == "-" ? "Cannot write standard output."
                                                                    : "Cannot write file \"/dev/full\"."),
                  std::string::npos)
            << cli.err;
    }
}

TEST_F(CliTest, OutputsNeverOverwriteAnInputOrEachOther) {
    const std::string data = write("data.pts", "1 10\n2 20\n");
    write("query.pts", "0 0\n");
    std::filesystem::create_symlink(data, pathOf("link.pts"));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--results", data}, "--results names the same file as --data"},
        {{"--dump", pathOf("query.pts")}, "--dump names the same file as --query"},
        {{"--results", pathOf("link.pts")}, "--results names the same file as --data"},
        {{"--results", pathOf("x.tsv"), "--data-table", pathOf("x.tsv")},
         "--data-table names the same file as --results"}};
    for (const auto& [flags, error] : cases) {
        const CliRun cli = runOn(flags);
        EXPECT_EQ(cli.exitCode, 2) << error;
        EXPECT_EQ(cli.err.rfind("knnbench-cli: " + error + "\n", 0), 0u) << cli.err;
    }
    EXPECT_EQ(readFile(data), "1 10\n2 20\n");
}

TEST_F(CliTest, AFailedWriteLeavesTheEarlierFileWhole) {
    std::string queries;
    for (int q = 0; q < 200; ++q)
        queries += std::to_string(q) + " 0\n";
    write("data.pts", "1 10\n2 20\n");
    write("query.pts", queries);
    const std::string earlier = write("results.tsv", "earlier results\n");
    // Files beyond 512 bytes cannot grow; the write fails with EFBIG instead of ending the process.
    const std::string command = "ulimit -f 1; trap '' XFSZ; exec " + shellQuoted(KNN_CLI_PATH) + " --data " +
                                shellQuoted(pathOf("data.pts")) + " --query " +
                                shellQuoted(pathOf("query.pts")) + " --no-stats --results " +
                                shellQuoted(earlier) + " 2>" + shellQuoted(pathOf("err.txt")) + " >/dev/null";
    const int status = std::system(("sh -c " + shellQuoted(command)).c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
    EXPECT_NE(readFile(folder / "err.txt").find("Cannot write file"), std::string::npos);
    EXPECT_EQ(readFile(earlier), "earlier results\n");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++files;
    EXPECT_EQ(files, 4) << "a temporary file was left behind";
}

TEST_F(CliTest, BlankLinesThatTakeMuchMemoryAreNamed) {
    std::string ones;
    for (int i = 0; i < 2000; ++i)
        ones += "1 ";
    write("data.pts", ones + "\n" + std::string(17000, '\n'));
    write("query.pts", ones + "\n");
    const CliRun cli = runOn({"--no-stats", "--mode", "brute"});
    EXPECT_EQ(cli.exitCode, 0);
    EXPECT_EQ(cli.err,
              "File " + pathOf("data.pts") +
                  " holds 17000 blank lines, each loaded as a point with 2000 coordinates of 0: they "
                  "take 259 MB.\n");
}

TEST_F(CliTest, DataAndQueryAreRequired) {
    const CliRun cli = run({"--query", "q.pts"});
    EXPECT_EQ(cli.exitCode, 2);
    EXPECT_EQ(cli.err.rfind("knnbench-cli: --data is required\n", 0), 0u);
}

TEST_F(CliTest, HelpPrintsTheUsage) {
    const CliRun cli = run({"--help"});
    EXPECT_EQ(cli.exitCode, 0);
    EXPECT_EQ(cli.out.rfind("Usage: knnbench-cli --data FILE --query FILE [options]\n", 0), 0u);
}
