// knnbench-cli over the catalogue of bad inputs in tests/data/bad: every row runs the program under a
// time limit and checks that it ended by itself (no signal, no hang), with exit status 0, 1 or 2 as
// the row expects, the row's exact message on standard error and no sanitizer report, and the report
// or table lines that show how the input was read.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path Catalogue = fs::path(__FILE__).parent_path().parent_path() / "data" / "bad";

/// Long enough for a sanitizer build on a loaded machine; a run on these small files takes milliseconds.
constexpr auto TimeLimit = std::chrono::seconds(60);

struct Outcome {
    bool timedOut = false;
    int signal = 0;    ///< the signal that ended the program, 0 when it exited
    int exitCode = -1; ///< its exit status when it exited
    std::string out;
    std::string err;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// Runs the program with args, standard output and error into files of folder, killed at the limit.
Outcome runCli(const std::vector<std::string>& args, const fs::path& folder) {
    const fs::path outPath = folder / "stdout.txt";
    const fs::path errPath = folder / "stderr.txt";
    std::vector<char*> argv{const_cast<char*>(KNN_CLI_PATH)};
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(KNN_CLI_PATH, argv.data());
        ::_exit(127);
    }
    Outcome outcome;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + TimeLimit;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            outcome.timedOut = true;
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    outcome.out = readFile(outPath);
    outcome.err = readFile(errPath);
    return outcome;
}

/// Placeholders in a row's texts: the row's data and query paths as passed to the program.
constexpr const char* DataPath = "$DATA";
constexpr const char* QueryPath = "$QUERY";

struct BadInput {
    const char* name;
    std::string data;               ///< file in the catalogue, or an absolute path
    std::string query;              ///< likewise
    std::vector<std::string> flags; ///< after --data and --query
    int exitCode;
    std::string err;                ///< exact standard error ("" for none); for exit 2 its first line
    std::vector<std::string> lines; ///< lines standard output must hold, in this order
    bool noReport = false;          ///< standard output must be empty
};

std::ostream& operator<<(std::ostream& out, const BadInput& row) {
    return out << row.name;
}

const std::string Missing = "/nonexistent/knnbench/missing.pts";
const std::string LoadFailed = "Could not load data!\nPlease check input file structure.\n";
const std::string Mismatch =
    "The data & query dimensions do not coincide!\nPlease check input file structure.\n";
const std::vector<std::string> NoStats{"--no-stats"};

std::string NotText(const std::string& file) {
    return "Cannot read file \"" + file +
           "\". It holds NUL characters: it is not a text file (UTF-16 needs a byte-order mark)\n";
}
const std::vector<std::string> Results{"--no-stats", "--results", "-"};

// clang-format off
const BadInput Rows[] = {
    // Files that are not there.
    {"MissingDataFile", Missing, "query.pts", {}, 1, "File $DATA doesn't exist.\n", {}, true},
    {"MissingQueryFile", "points.pts", Missing, {}, 1, "File $QUERY doesn't exist.\n", {}, true},
    {"DirectoryInsteadOfAFile", "", "query.pts", {}, 1, "File $DATA doesn't exist.\nIt is a folder, not a file.\n", {}, true},
    // Files without lines or without fields.
    {"EmptyDataFile", "empty.pts", "query.pts", {}, 1, "List index out of bounds (0)\nFile $DATA is empty: it holds no line.\n", {}, true},
    {"EmptyQueryFile", "points.pts", "empty.pts", {}, 1, "List index out of bounds (0)\nFile $QUERY is empty: it holds no line.\n", {}, true},
    {"BlankLinesAgainstTwoColumns", "blank-lines.pts", "query.pts", {}, 1, Mismatch, {}, true},
    // Both first lines without fields: no coordinates, every blank line a point.
    {"BlankLinesOnBothSides", "blank-lines.pts", "blank-lines.pts", NoStats, 0, "",
     {"Data & query dimension = 0", "No. of data points = 3", "No. of query points = 3"}},
    // Bytes that are not text: a NUL (binary garbage, UTF-16 without a byte-order mark) refuses the
    // file; the bytes of a file without NUL are 8-bit text.
    {"BinaryGarbage", "binary-garbage.bin", "query.pts", {}, 1, NotText("$DATA"), {}, true},
    {"NulBytes", "nul-bytes.pts", "query.pts", {}, 1, NotText("$DATA"), {}, true},
    {"NulBytesInQuery", "points.pts", "nul-bytes.pts", {}, 1, NotText("$QUERY"), {}, true},
    {"Utf16WithoutMark", "utf16le-no-bom.pts", "utf16le-no-bom.pts", {}, 1, NotText("$DATA"), {}, true},
    {"Latin1Bytes", "latin1.pts", "query.pts", {}, 1, LoadFailed,
     {"DATA STATISTICS", "SEARCH OPTIONS", "No. of data points = 2"}},
    // Encodings: a byte-order mark decides.
    {"Utf16LittleEndianWithMark", "utf16le-bom.pts", "query.pts", {"--no-stats", "--data-table", "-"}, 0, "",
     {"1\t1.5\t2", "2\t3\t4", "3\t5\t6"}},
    {"Utf16BigEndianWithMark", "utf16be-bom.pts", "query.pts", {"--no-stats", "--data-table", "-"}, 0, "",
     {"1\t1.5\t2", "2\t3\t4", "3\t5\t6"}},
    {"MixedLineEnds", "mixed-line-ends.pts", "query.pts", {"--no-stats", "--data-table", "-"}, 0, "",
     {"No. of data points = 5", "1\t1\t2", "2\t3\t4", "3\t5\t6", "4\t\t", "5\t7\t8"}},
    // Fields that are not numbers of this system.
    {"NumberBeyondDoubleRange", "huge-number.pts", "query.pts", {}, 1, LoadFailed,
     {"DATA STATISTICS", "SEARCH OPTIONS", "No. of data points = 3"}},
    {"NumberBeyondDoubleRangeInQuery", "points.pts", "huge-number.pts", NoStats, 1,
     "ReadPt:\nSome error occured while processing index 1\nCan't read query point 2\n",
     {"No. of query points = 3"}},
    {"NotANumber", "nan.pts", "query.pts", NoStats, 1, LoadFailed, {"SEARCH OPTIONS"}},
    {"Infinity", "inf.pts", "query.pts", NoStats, 1, LoadFailed, {"SEARCH OPTIONS"}},
    // 1,2,3 is one field; its first comma becomes the decimal point and 1.2,3 is no number.
    {"CommaSeparatedFields", "comma-fields.pts", "query-one-column.pts", NoStats, 1, LoadFailed,
     {"Data & query dimension = 1"}},
    {"HeaderLineOfWords", "header-words.pts", "query.pts", {}, 1, LoadFailed,
     {"DATA STATISTICS", "SEARCH OPTIONS", "No. of data points = 3"}},
    // Short rows: their missing coordinates are 0, for data and queries alike (query 2 is (7, 0, 0)).
    {"RaggedRows", "ragged-rows.pts", "ragged-query.pts", Results, 0, "",
     {"Data & query dimension = 3", "#\tQ1\tQ2\tQ3\tIndex1\tDist1", "1\t5\t5\t5\t2\t5.09901951359278",
      "2\t7\t\t\t3\t1"}},
    {"MismatchedDimensions", "ragged-rows.pts", "query.pts", {}, 1, Mismatch, {}, true},
    // Neighbour counts the data cannot give.
    {"OnePointAndTwoNeighbours", "one-point.pts", "query.pts", {"-k", "2", "--no-stats", "--results", "-"},
     0, "", {"No. of K neighbors = 1", "K raised from 0 to 1: a search needs a neighbour",
             "1\t0\t0\t1\t1.4142135623731"}},
    {"MoreNeighboursThanPoints", "points.pts", "query.pts", {"-k", "5", "--no-stats", "--results", "-"},
     0, "", {"No. of K neighbors = 2", "1\t0\t0\t1\t2\t2.23606797749979\t5"}},
    // Option texts that are not numbers, or out of sense: taken as they convert, no message.
    {"RadiusOfText", "points.pts", "query.pts", {"--search", "radius", "--radius", "abc"}, 2,
     "knnbench-cli: bad value \"abc\" for --radius: not a number", {}, true},
    // Flag values the library cannot take: usage errors.
    {"ZeroNeighbours", "points.pts", "query.pts", {"-k", "0"}, 2,
     "knnbench-cli: bad value \"0\" for -k: must be at least 1", {}, true},
    {"ZeroBucketSize", "points.pts", "query.pts", {"--bucket", "0"}, 2,
     "knnbench-cli: bad value \"0\" for --bucket: must be at least 1", {}, true},
    {"NegativeErrorBound", "points.pts", "query.pts", {"--eps", "-1"}, 2,
     "knnbench-cli: bad value \"-1\" for --eps: must be a finite number of at least 0", {}, true},
    {"ZeroPower", "points.pts", "query.pts", {"--metric", "custom", "--power", "0"}, 2,
     "knnbench-cli: bad value \"0\" for --power: must be at least 1", {}, true},
    {"SplittingRuleOutOfRange", "points.pts", "query.pts", {"--split", "6"}, 2,
     "knnbench-cli: bad value \"6\" for --split: splitting rule out of range (0..5 or a rule name)",
     {}, true},
    {"ShrinkingRuleOutOfRange", "points.pts", "query.pts", {"--shrink", "-1"}, 2,
     "knnbench-cli: bad value \"-1\" for --shrink: shrinking rule out of range (0..3 or a rule name)",
     {}, true},
    {"UnknownMetric", "points.pts", "query.pts", {"--metric", "cosine"}, 2,
     "knnbench-cli: bad value \"cosine\" for --metric: "
     "unknown metric (manhattan, euclidean, chebyshev or custom)",
     {}, true},
    {"BruteForcePriority", "points.pts", "query.pts", {"--mode", "brute", "--search", "priority"}, 2,
     "knnbench-cli: priority search needs a tree: use --mode kd or --mode bd", {}, true},
};
// clang-format on

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

/// A temporary folder for the program's output and the files a test makes.
class BadInputFixture : public testing::Test {
protected:
    BadInputFixture() {
        static int counter = 0;
        folder = fs::temp_directory_path() /
                 ("knnbad-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(folder);
    }
    ~BadInputFixture() override {
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(folder);
    }

    /// A catalogue file, an absolute path as it is, or (for "") a folder.
    std::string pathOf(const std::string& name) const {
        if (name.empty()) return folder.string();
        return fs::path(name).is_absolute() ? name : (Catalogue / name).string();
    }

    /// Runs the program and checks what every run must show: it ended by itself, in time, with 0, 1
    /// or 2, without a sanitizer report.
    Outcome run(const std::string& data, const std::string& query,
                const std::vector<std::string>& flags) const {
        std::vector<std::string> args{"--data", data, "--query", query};
        args.insert(args.end(), flags.begin(), flags.end());
        const Outcome outcome = runCli(args, folder);
        EXPECT_FALSE(outcome.timedOut) << "no answer within the time limit";
        EXPECT_EQ(outcome.signal, 0) << "ended by a signal";
        EXPECT_TRUE(outcome.exitCode >= 0 && outcome.exitCode <= 2) << "exit status " << outcome.exitCode;
        EXPECT_EQ(outcome.err.find("Sanitizer"), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.err.find("runtime error:"), std::string::npos) << outcome.err;
        return outcome;
    }

    fs::path folder;
};

class BadInputTest : public BadInputFixture, public testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, EndsWithItsMessage) {
    const BadInput& row = GetParam();
    const std::string data = pathOf(row.data);
    const std::string query = pathOf(row.query);
    const Outcome outcome = run(data, query, row.flags);
    EXPECT_EQ(outcome.exitCode, row.exitCode) << outcome.err;
    const std::string err = replaceAll(replaceAll(row.err, DataPath, data), QueryPath, query);
    if (row.exitCode == 2) {
        EXPECT_EQ(outcome.err.substr(0, outcome.err.find('\n')), err); // the usage text follows
    } else {
        EXPECT_EQ(outcome.err, err);
    }
    if (row.noReport) {
        EXPECT_EQ(outcome.out, "");
    }
    std::istringstream out(outcome.out);
    std::string line;
    for (const auto& wanted : row.lines) {
        bool found = false;
        while (!found && std::getline(out, line))
            found = line == wanted;
        EXPECT_TRUE(found) << "missing line, or out of order: \"" << wanted << "\"\n" << outcome.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, BadInputTest, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<BadInput>& info) { return info.param.name; });

// A file without read permission. Root reads it all the same; the run then simply completes.
TEST_F(BadInputFixture, UnreadableFile) {
    const fs::path file = folder / "unreadable.pts";
    std::ofstream(file) << "1 2\n3 4\n";
    fs::permissions(file, fs::perms::none);
    const bool readable = ::access(file.c_str(), R_OK) == 0;
    const Outcome outcome = run(file.string(), pathOf("query.pts"), NoStats);
    if (readable) {
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    } else {
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_EQ(outcome.err, "Cannot open file \"" + file.string() + "\". Permission denied\n");
        EXPECT_EQ(outcome.out, "");
    }
}

} // namespace
