// The tree dump: the exact text of small trees, the stream's format around a dump, round trips of every
// tree shape (the same text again and the same search results), trees without points, the shared empty
// leaf, nesting far deeper than a recursive reader or writer could take, and one row per rejected input,
// both as the process-ending report and through a throwing fatal handler that must leave nothing behind.
#include <gtest/gtest.h>

#include <pthread.h>

#include <cmath>
#include <functional>
#include <iomanip>
#include <locale>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "searchcheck.h"
#include "testdata.h"
#include "treeshape.h"
#include <qel/bdtree.h>

using namespace qel;
using searchcheck::SearchKind;
using searchcheck::Structure;

namespace {

/// What readDump returns, and the tree made from it; the points outlive the tree.
struct ReadTree {
    PointArray points = nullptr;
    std::unique_ptr<QELkd_tree> tree;

    ReadTree() = default;
    ReadTree(ReadTree&&) = default;
    ~ReadTree() {
        tree.reset();
        releasePointArray(points);
    }
};

ReadTree readTree(const std::string& text, TreeKind kind) {
    std::istringstream in(text);
    ReadTree result;
    IndexArray indices = nullptr;
    int dim = -1;
    int n = -1;
    int bucketSize = -1;
    Point lower = nullptr;
    Point upper = nullptr;
    QELkd_node* root = readDump(in, kind, result.points, indices, dim, n, bucketSize, lower, upper);
    if (kind == Bd)
        result.tree =
            std::make_unique<QELbd_tree>(result.points, indices, n, dim, bucketSize, lower, upper, root);
    else
        result.tree =
            std::make_unique<QELkd_tree>(result.points, indices, n, dim, bucketSize, lower, upper, root);
    return result;
}

[[noreturn]] void throwFatal(const char* message) {
    throw std::runtime_error(message);
}

std::string dumpOf(QELkd_tree& tree, bool withPoints = true) {
    std::ostringstream out;
    tree.dumpTree(withPoints, out);
    return out.str();
}

/// Points (0, 0), (1, 2), (3, 1); the root shrinks to x >= 0.5, and the inner cell splits at y = 1.5.
const char* const smallDump = "#QEL 1.1.1\n"
                              "points 2 3\n"
                              "0 0 0\n"
                              "1 1 2\n"
                              "2 3 1\n"
                              "tree 2 3 1\n"
                              "0 0\n"
                              "3 2\n"
                              "shrink 1\n"
                              "0 0.5 1\n"
                              "split 1 1.5 0 2\n"
                              "leaf 1 2\n"
                              "leaf 1 1\n"
                              "leaf 1 0\n";

TEST(Dump, SmallBdTreeReadsAndWritesTheSameText) {
    ReadTree read = readTree(smallDump, Bd);
    QELkd_tree& tree = *read.tree;
    EXPECT_EQ(tree.dimensionCount, 2);
    EXPECT_EQ(tree.dataCount, 3);
    EXPECT_EQ(tree.bucketSize, 1);
    EXPECT_EQ(tree.dataPoints[1][1], 2.0);
    EXPECT_EQ(tree.boxUpper[0], 3.0);
    EXPECT_EQ(std::vector<int>(tree.pointIndex, tree.pointIndex + 3), (std::vector<int>{2, 1, 0}));
    auto* shrink = dynamic_cast<QELbd_shrink*>(tree.rootNode);
    ASSERT_NE(shrink, nullptr);
    EXPECT_EQ(shrink->bounds[0].boundSide, 1);
    EXPECT_EQ(dynamic_cast<QELkd_leaf*>(shrink->outerChild)->bucketIndices, tree.pointIndex + 2);
    EXPECT_EQ(dumpOf(tree), smallDump);
}

// The loader hands over the points with a tree of the kind asked for that reads them; a dump of no
// points gives no point array. Under the sanitizers, a refused dump shows that it leaves nothing behind.
TEST(LoadTree, TreeOfTheKindAskedForWithItsPoints) {
    std::istringstream bdText(smallDump);
    const LoadedTree bd = loadTree(bdText, Bd);
    EXPECT_NE(dynamic_cast<QELbd_tree*>(bd.tree.get()), nullptr);
    EXPECT_EQ(bd.tree->dataPoints, bd.points.get());
    EXPECT_EQ(bd.points[2][0], 3.0);
    EXPECT_EQ(dumpOf(*bd.tree), smallDump);

    const testdata::PointSet set = testdata::uniformPoints(20, 3);
    QELkd_tree built(set.points(), 20, 3, 2, SplitRule::Fair);
    std::istringstream kdText(dumpOf(built));
    const LoadedTree kd = loadTree(kdText, Kd);
    EXPECT_EQ(dynamic_cast<QELbd_tree*>(kd.tree.get()), nullptr);
    EXPECT_EQ(dumpOf(*kd.tree), dumpOf(built));

    std::istringstream noPoints("#QEL 1.1.1\npoints 3 0\ntree 3 0 2\n0 0 0\n0 0 0\nnull\n");
    const LoadedTree none = loadTree(noPoints, Bd);
    EXPECT_EQ(none.points, nullptr);
    EXPECT_EQ(none.tree->dataPoints, nullptr);
    EXPECT_EQ(none.tree->dimensionCount, 3);

    const FatalHandler previous = setFatalHandler(throwFatal);
    std::istringstream shrinkInKd(smallDump);
    testing::internal::CaptureStderr();
    EXPECT_THROW(loadTree(shrinkInKd, Kd), std::runtime_error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "QEL: ERROR------->Shrinking node not allowed in kd-tree<-------------ERROR\n");
    setFatalHandler(previous);
}

// 15 significant digits in general notation where they read back exactly, more where they do not, whatever
// the stream's own format, precision and locale, which all come back after the dump.
TEST(Dump, NumbersHaveFifteenDigitsWhereTheySufficeAndTheStreamKeepsItsFormat) {
    struct CommaDecimals : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        char do_thousands_sep() const override { return '.'; }
        std::string do_grouping() const override { return "\3"; }
    };
    testdata::PointSet set(2, 1);
    set[0][0] = 0.1;
    set[1][0] = 1e-20;
    QELkd_tree tree(set.points(), 2, 1, 1000, SplitRule::Default);
    std::ostringstream out;
    const std::locale commas(std::locale::classic(), new CommaDecimals);
    out.imbue(commas);
    out << std::fixed << std::setprecision(3);
    tree.dumpTree(true, out);
    out << 1.0 / 3 << " " << 1234;
    EXPECT_EQ(out.str(), "#QEL 1.1.1\npoints 1 2\n0 0.1\n1 1e-20\ntree 1 2 1000\n1e-20\n0.1\nleaf 2 0 1\n"
                         "0,333 1.234");
    testdata::PointSet third(1, 1);
    third[0][0] = 1.0 / 3;
    QELkd_tree thirdTree(third.points(), 1, 1, 1, SplitRule::Default);
    EXPECT_NE(dumpOf(thirdTree).find("\n0.3333333333333333\n"), std::string::npos);
}

// A value that 15 digits cannot hold gets the fewest digits that read back to it: a cut at 1 + 2^-50
// read back as 1 would order tied neighbours differently.
TEST(Dump, NumbersThatNeedMoreDigitsReadBackExactly) {
    testdata::PointSet set(64, 2);
    for (int i = 0; i < 64; ++i)
        set[i][0] = set[i][1] = i < 32 ? 1.0 : 1.0 + 0x1p-49;
    QELkd_tree tree(set.points(), 64, 2, 1, SplitRule::Midpoint);
    const std::string text = dumpOf(tree);
    EXPECT_NE(text.find(" 1.0000000000000009 "), std::string::npos);
    ReadTree read = readTree(text, Kd);
    EXPECT_EQ(dumpOf(*read.tree), text);
    testdata::MetricGuard guard(2);
    const double query[] = {1.0 + 0x1p-50, 1.0 + 0x1p-50}; // on the cut: tied between the clusters
    const auto a = searchcheck::runSearch(tree, SearchKind::Priority, const_cast<double*>(query), 5, 0, 2, 0);
    const auto b =
        searchcheck::runSearch(*read.tree, SearchKind::Priority, const_cast<double*>(query), 5, 0, 2, 0);
    EXPECT_EQ(a.indices, b.indices);
    EXPECT_EQ(a.distances, b.distances);
}

TEST(Dump, TreeWithoutPointsWritesZeroBoxAndReadsBackWithoutRoot) {
    QELbd_tree tree(nullptr, 0, 3, 2, SplitRule::Default, ShrinkRule::Default);
    const std::string text = dumpOf(tree);
    EXPECT_EQ(text, "#QEL 1.1.1\npoints 3 0\ntree 3 0 2\n0 0 0\n0 0 0\nnull\n");
    ReadTree read = readTree(text, Bd);
    EXPECT_EQ(read.tree->rootNode, nullptr);
    EXPECT_EQ(read.tree->boxLower, nullptr);
    EXPECT_EQ(read.tree->boxUpper, nullptr);
    EXPECT_EQ(read.tree->dimensionCount, 3);
    EXPECT_EQ(dumpOf(*read.tree), text);
}

TEST(Dump, WithoutPointsIsRefused) {
    const testdata::PointSet set = testdata::uniformPoints(10, 2);
    QELkd_tree tree(set.points(), 10, 2, 2, SplitRule::Default);
    const std::string text = dumpOf(tree, false);
    EXPECT_EQ(text.rfind("#QEL 1.1.1\ntree 2 10 2\n", 0), 0u);
    EXPECT_EXIT(readTree(text, Kd), testing::ExitedWithCode(1),
                "QEL: ERROR------->Points must be supplied in the dump file<-------------ERROR");
}

TEST(Dump, EmptyLeafReadsBackAsTheSharedEmptyLeaf) {
    releaseSharedEmptyLeaf();
    const std::string text = "#QEL 1.1.1\npoints 1 2\n0 0.6\n1 0.7\ntree 1 2 1\n0\n1\n"
                             "split 0 0.5 0 1\nleaf 0\nsplit 0 0.75 0.5 1\nleaf 2 0 1\nleaf 0\n";
    ReadTree read = readTree(text, Kd);
    auto* root = dynamic_cast<QELkd_split*>(read.tree->rootNode);
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(isSharedEmptyLeaf(root->lowerChild));
    EXPECT_EQ(root->lowerChild, sharedEmptyLeaf);
    EXPECT_EQ(dumpOf(*read.tree), text);
}

// Found by fuzz_dump (finding F6 of fuzz/README.md): the priority search queued the empty root in a
// queue sized for no points and ended with "Priority queue overflow.".
TEST(Dump, EmptyLeafAsTheRootOfNoPointsIsSearched) {
    ReadTree read = readTree("#QEL 1.1.1\npoints 2 0\ntree 2 0 1\n0 0\n0 0\nleaf 0\n", Kd);
    ASSERT_TRUE(isSharedEmptyLeaf(read.tree->rootNode));
    testdata::MetricGuard guard(2);
    double q[] = {0.5, 0.5};
    for (SearchKind kind : searchcheck::allSearches) {
        const int k = kind == SearchKind::Standard ? 0 : 2;
        const searchcheck::Answer answer = searchcheck::runSearch(*read.tree, kind, q, k, 0.0, 2, 1.0);
        for (int i = 0; i < k; ++i)
            EXPECT_EQ(answer.indices[i], noIndex);
        EXPECT_EQ(answer.count, 0);
    }
}

// Blanks and line breaks do not matter to the reader, a number may carry a "+", a word of 499
// characters is still read whole (and here refused as a node type), and what follows the tree is left.
TEST(Dump, ReaderTakesAnyLayoutOfTheItems) {
    ReadTree read =
        readTree("#QEL   any version text\n  points\t1 +1 0 \n\n 5 tree 1 1 +1 5 5 \r\nleaf 1 +0", Kd);
    EXPECT_EQ(read.tree->dataPoints[0][0], 5.0);
    EXPECT_EQ(dumpOf(*read.tree), "#QEL 1.1.1\npoints 1 1\n0 5\ntree 1 1 1\n5\n5\nleaf 1 0\n");
}

/// Whole-number coordinates up to about 10^5, which survive 15 significant digits exactly, so that a
/// read tree searches the very points it was written with. Its cuts may still differ from the original's
/// beyond the 15th digit; the data have no distance ties that such a difference could reorder.
testdata::PointSet wholeNumbers(testdata::PointSet set) {
    for (int i = 0; i < set.size(); ++i)
        for (int d = 0; d < set.dim(); ++d)
            set[i][d] = std::round(set[i][d] * 1000);
    return set;
}

struct RoundTripRow {
    Structure structure;
    SplitRule split;
    ShrinkRule shrink;
};
void PrintTo(const RoundTripRow& row, std::ostream* out) {
    *out << (row.structure == Structure::Kd ? "kd" : "bd") << " split " << int(row.split) << " shrink "
         << int(row.shrink);
}

class RoundTrip : public testing::TestWithParam<RoundTripRow> {};

TEST_P(RoundTrip, SameTextAndSameSearchResults) {
    const RoundTripRow row = GetParam();
    const testdata::PointSet sets[] = {
        wholeNumbers(testdata::clusteredPoints(300, 3)), wholeNumbers(testdata::farClusterPoints(200, 3)),
        wholeNumbers(testdata::linePoints(200, 3)), testdata::clusteredPoints(300, 3)};
    const testdata::PointSet queries = wholeNumbers(testdata::uniformPoints(12, 3, 99));
    for (const testdata::PointSet& set : sets) {
        SCOPED_TRACE("set " + std::to_string(&set - sets));
        auto original = searchcheck::buildTree(row.structure, set, 3, row.split, row.shrink);
        const std::string text = dumpOf(*original);
        ReadTree read = readTree(text, row.structure == Structure::Bd ? Bd : Kd);
        EXPECT_EQ(dumpOf(*read.tree), text);
        EXPECT_EQ(std::vector<int>(read.tree->pointIndex, read.tree->pointIndex + set.size()),
                  std::vector<int>(original->pointIndex, original->pointIndex + set.size()));
        for (int i = 0; i < set.size(); ++i)
            for (int d = 0; d < set.dim(); ++d)
                ASSERT_EQ(read.tree->dataPoints[i][d], set[i][d]);
        testdata::MetricGuard guard(2);
        for (SearchKind kind : searchcheck::allSearches) {
            for (int j = 0; j < queries.size(); ++j) {
                for (double eps : {0.0, 0.5}) {
                    const auto a = searchcheck::runSearch(*original, kind, queries[j], 5, eps, 2, 4e4);
                    const auto b = searchcheck::runSearch(*read.tree, kind, queries[j], 5, eps, 2, 4e4);
                    EXPECT_EQ(a.indices, b.indices) << searchcheck::searchName(kind) << " query " << j;
                    EXPECT_EQ(a.distances, b.distances);
                    EXPECT_EQ(a.count, b.count);
                }
            }
        }
    }
}

/// Data the builder meets at its edges: small integers with many duplicates (points on cuts), sides
/// whose midpoints overflow, and NaN and infinite coordinates (the builder's non-finite cuts). Huge
/// coordinates along both sides make a build that does not end (F15 of fuzz/README.md).
std::vector<testdata::PointSet> awkwardSets() {
    std::vector<testdata::PointSet> sets;
    sets.push_back(testdata::duplicatedPoints(120, 2, 9));
    testdata::PointSet grid(150, 3);
    testdata::Random random(7);
    for (int i = 0; i < grid.size(); ++i)
        for (int d = 0; d < 3; ++d)
            grid[i][d] = std::floor(random.uniform() * 4);
    sets.push_back(std::move(grid));
    testdata::PointSet huge(40, 2);
    for (int i = 0; i < huge.size(); ++i) {
        huge[i][0] = (i % 2 == 0 ? 1.7e308 : -1.7e308) * (1 - i * 1e-3);
        huge[i][1] = i % 3;
    }
    sets.push_back(std::move(huge));
    for (const int first : {0, 1}) {
        testdata::PointSet mixed = testdata::clusteredPoints(90, 2);
        const double special[] = {NAN, INFINITY, -INFINITY};
        for (int i = first; i < mixed.size(); i += 7)
            mixed[i][i % 2] = special[i % 3];
        sets.push_back(std::move(mixed));
    }
    return sets;
}

// Every dump the writer makes reads back, whatever the rule and the data.
TEST_P(RoundTrip, AwkwardDataReadBack) {
    const RoundTripRow row = GetParam();
    const FatalHandler previous = setFatalHandler(throwFatal);
    const std::vector<testdata::PointSet> sets = awkwardSets();
    for (const testdata::PointSet& set : sets) {
        for (const int bucketSize : {1, 3}) {
            SCOPED_TRACE("set " + std::to_string(&set - sets.data()) + " bucket " +
                         std::to_string(bucketSize));
            auto original = searchcheck::buildTree(row.structure, set, bucketSize, row.split, row.shrink);
            const std::string text = dumpOf(*original);
            try {
                ReadTree read = readTree(text, row.structure == Structure::Bd ? Bd : Kd);
                EXPECT_EQ(dumpOf(*read.tree), text);
            } catch (const std::runtime_error& error) {
                ADD_FAILURE() << error.what();
            }
        }
    }
    setFatalHandler(previous);
}

std::vector<RoundTripRow> everyTreeRule() {
    std::vector<RoundTripRow> rows;
    for (int split = 0; split < 5; ++split) {
        rows.push_back({Structure::Kd, SplitRule(split), ShrinkRule::None});
        for (int shrink = 0; shrink < 4; ++shrink)
            rows.push_back({Structure::Bd, SplitRule(split), ShrinkRule(shrink)});
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(EveryRule, RoundTrip, testing::ValuesIn(everyTreeRule()),
                         [](const testing::TestParamInfo<RoundTripRow>& info) {
                             const RoundTripRow& row = info.param;
                             return std::string(row.structure == Structure::Kd ? "kd" : "bd") + "Split" +
                                    std::to_string(int(row.split)) + "Shrink" +
                                    std::to_string(int(row.shrink));
                         });

/// Runs body on a thread with a 256 KiB stack, far too small for one nested call per level of the trees
/// below.
void runOnSmallStack(const std::function<void()>& body) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    const auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

/// A dump of two points whose tree is a chain of depth splits at the cell's lower side, each with an
/// empty lower side.
std::string chainDump(int depth) {
    std::string text = "#QEL 1.1.1\npoints 1 2\n0 0\n1 1\ntree 1 2 1\n0\n1\n";
    for (int i = 0; i < depth; ++i)
        text += "split 0 0 0 1\nleaf 0\n";
    return text + "leaf 2 0 1\n";
}

/// Counts the characters written to it and keeps none.
class CountingBuffer : public std::streambuf {
public:
    long long count = 0;

protected:
    int_type overflow(int_type c) override {
        ++count;
        return c;
    }
    std::streamsize xsputn(const char*, std::streamsize n) override {
        count += n;
        return n;
    }
};

TEST(DeepTree, ReadDumpAndStatisticsOfAHundredThousandLevels) {
    const int depth = 100000;
    const std::string text = chainDump(depth);
    runOnSmallStack([&] {
        ReadTree read = readTree(text, Bd);
        EXPECT_EQ(dumpOf(*read.tree), text);
        TreeStats stats;
        read.tree->collectStats(stats);
        EXPECT_EQ(stats.treeDepth, depth);
        EXPECT_EQ(stats.splitNodeCount, depth);
        EXPECT_EQ(stats.emptyLeafCount, depth);
    });
}

// The print of a chain has a line per level, each longer than the last: twenty thousand levels make
// 400 million characters, counted, not kept.
TEST(DeepTree, PrintOfTwentyThousandLevels) {
    const int depth = 20000;
    ReadTree read = readTree(chainDump(depth), Kd);
    runOnSmallStack([&] {
        CountingBuffer buffer;
        std::ostream out(&buffer);
        read.tree->printTree(false, out);
        const auto lineLength = [](long long level, const std::string& text) {
            return 4 + 2 * level + static_cast<long long>(text.size());
        };
        long long expected = std::string("QEL Version 1.1.1\n").size();
        for (int level = 0; level < depth; ++level)
            expected += lineLength(level, "Split cd=0 cv=0 lbnd=0 hbnd=1\n") +
                        lineLength(level + 1, "Leaf (trivial)\n");
        expected += lineLength(depth, "Leaf n=2 <0,1>\n");
        EXPECT_EQ(buffer.count, expected);
    });
}

/// A malformed dump and the report that ends its reading.
struct BadDump {
    const char* name;
    std::string text;
    TreeKind kind;
    const char* message;
};
void PrintTo(const BadDump& row, std::ostream* out) {
    *out << row.name;
}

const std::string points = "#QEL 1.1.1\npoints 2 3\n0 0 0\n1 1 2\n2 3 1\n";
const std::string tree = points + "tree 2 3 1\n0 0\n3 2\n";

const BadDump badDumps[] = {
    {"WrongHeader", "#QAL 1.1.1\n" + points.substr(11), Kd, "Incorrect header for dump file"},
    {"EmptyInput", "", Kd, "Incorrect header for dump file"},
    {"HeaderLineTooLong", "#QEL " + std::string(500, 'v') + "\n" + points.substr(11), Kd,
     "Header line too long in dump file"},
    {"NoPointsSection", "#QEL 1.1.1\ntree 2 3 1\n0 0\n3 2\nleaf 3 0 1 2\n", Kd,
     "Points must be supplied in the dump file"},
    {"NegativeDimension", "#QEL 1.1.1\npoints -2 3\n", Kd, "Illegal dimension in dump file"},
    {"NegativePointCount", "#QEL 1.1.1\npoints 2 -3\n", Kd, "Illegal point count in dump file"},
    {"PointIndexAtCount", "#QEL 1.1.1\npoints 2 3\n3 0 0\n", Kd, "Point index is out of range"},
    {"NegativePointIndex", "#QEL 1.1.1\npoints 2 3\n-1 0 0\n", Kd, "Point index is out of range"},
    {"IntegerOverflow", "#QEL 1.1.1\npoints 2 99999999999\n", Kd, "Illegal number in dump file"},
    {"DoubleOverflow", tree + "split 0 1e999 0 3\n", Kd, "Illegal number in dump file"},
    {"FractionForCount", "#QEL 1.1.1\npoints 2.5 3\n", Kd, "Illegal number in dump file"},
    {"AbsurdPointCount", "#QEL 1.1.1\npoints 2 2000000000\n0 1 1\n", Kd, "Unexpected end of dump file"},
    {"AbsurdDimension", "#QEL 1.1.1\npoints 2000000000 0\ntree 2000000000 0 1\n1 2\n", Kd,
     "Unexpected end of dump file"},
    {"EndBeforeTree", points, Kd, "Illegal dump format.\tExpecting section heading"},
    {"OtherSectionHeading", points + "forest 2 3 1\n", Kd, "Illegal dump format.\tExpecting section heading"},
    {"TreeOfOtherDimension", points + "tree 3 3 1\n", Kd, "Tree section does not match points section"},
    {"TreeOfOtherCount", points + "tree 2 4 1\n", Kd, "Tree section does not match points section"},
    {"BucketSizeZero", points + "tree 2 3 0\n", Kd, "Illegal bucket size in dump file"},
    {"EndInsideSubtree", tree + "split 0 0.5 0 3\nleaf 1 0\n", Kd, "Unexpected end of dump file"},
    {"WordTooLong", tree + std::string(500, 'x') + "\n", Kd, "Word too long in dump file"},
    {"LongestWordReadWhole", tree + std::string(499, 'x') + "\n", Kd, "Illegal node type in dump file"},
    {"UnknownNodeType", tree + "branch 0 0.5 0 3\n", Kd, "Illegal node type in dump file"},
    {"ShrinkInKdTree", tree + "split 0 0.5 0 3\nleaf 1 0\nshrink 0\nleaf 1 1\nleaf 1 2\n", Kd,
     "Shrinking node not allowed in kd-tree"},
    {"CutDimensionAtDimension", tree + "split 2 0.5 0 3\n", Kd, "Cutting dimension is out of range"},
    {"NegativeCutDimension", tree + "split -1 0.5 0 3\n", Kd, "Cutting dimension is out of range"},
    {"NegativeBoundCount", tree + "shrink -1\n", Bd, "Illegal bound count in dump file"},
    {"AbsurdBoundCount", tree + "shrink 2000000000\n0 0.5 1\n", Bd, "Unexpected end of dump file"},
    {"BoundDimensionAtDimension", tree + "shrink 1\n2 0.5 1\n", Bd, "Bound dimension is out of range"},
    {"NegativeLeafSize", tree + "leaf -1\n", Kd, "Illegal leaf size in dump file"},
    {"LeavesTogetherLargerThanTree", tree + "split 0 1.5 0 3\nleaf 2 0 1\nleaf 2 2 0\n", Kd,
     "Too many point indices in dump file"},
    {"AbsurdLeafSize", tree + "leaf 2000000000 0\n", Kd, "Too many point indices in dump file"},
    {"LeafIndexAtCount", tree + "leaf 3 0 1 3\n", Kd, "Point index is out of range"},
    {"NegativeLeafIndex", tree + "leaf 1 -1\n", Kd, "Point index is out of range"},
    {"IndexInTwoLeaves", tree + "split 0 0.5 0 3\nleaf 1 0\nleaf 2 1 0\n", Kd,
     "Point index is repeated in dump file"},
    {"NullChild", tree + "split 0 0.5 0 3\nnull\nleaf 3 0 1 2\n", Kd, "Empty subtree in dump file"},
    {"SplitOfTwoEmptyLeaves", tree + "split 0 0.5 0 3\nsplit 1 1 0 2\nleaf 0\nleaf 0\nleaf 3 0 1 2\n", Kd,
     "Empty subtree in dump file"},
    {"ShrinkOfTwoEmptyLeaves", tree + "shrink 0\nleaf 0\nleaf 0\n", Bd, "Empty subtree in dump file"},
    // What the searches rely on: each row breaks one rule and is otherwise consistent.
    {"PointListedTwice", "#QEL 1.1.1\npoints 2 3\n0 0 0\n0 1 2\n2 3 1\n", Kd,
     "Point index is repeated in dump file"},
    {"PointInNoLeaf", points + "tree 2 3 1\n0 0\n3 2\nleaf 2 2 0\n", Kd,
     "Didn't see as many points as expected"},
    {"BoxCornersOutOfOrder", points + "tree 2 3 1\n3 0\n0 2\nleaf 3 0 1 2\n", Kd,
     "Box corners are out of order in dump file"},
    {"BoxCornerNotFinite", points + "tree 2 3 1\n-inf 0\n3 2\nleaf 3 0 1 2\n", Kd,
     "Box corner is not finite in dump file"},
    {"PointOutsideBox", points + "tree 2 3 1\n0 0\n3 1\nleaf 3 0 1 2\n", Kd,
     "Point lies outside its cell in dump file"},
    {"NaNCut", tree + "split 0 nan 0 3\nleaf 1 0\nleaf 2 1 2\n", Kd,
     "Cutting value is not finite in dump file"},
    {"PointBeyondCutOutsideCell", tree + "split 0 -1 0 3\nleaf 1 0\nleaf 2 1 2\n", Kd,
     "Point lies outside its cell in dump file"},
    {"CutOnTheOtherDimension", tree + "split 1 1.5 0 3\n", Kd,
     "Split bounds differ from its cell in dump file"},
    {"PointsExchangedAcrossCut", tree + "split 0 0.5 0 3\nleaf 1 1\nleaf 2 0 2\n", Kd,
     "Point lies outside its cell in dump file"},
    {"BoundSideZero", tree + "shrink 1\n0 0.5 0\n", Bd, "Illegal bound side in dump file"},
    {"BoundRepeated", tree + "shrink 2\n0 0.5 1\n0 0.7 1\n", Bd, "Shrink bound is repeated in dump file"},
    {"BoundNotFinite", tree + "shrink 1\n0 nan 1\n", Bd, "Shrink bound is not finite in dump file"},
    {"BoundOutsideCell", tree + "shrink 1\n1 5 -1\n", Bd, "Shrink bound is outside its cell in dump file"},
    {"ShrinkFlipped", tree + "shrink 2\n0 2 1\n0 1 -1\n", Bd,
     "Shrink bound is outside its cell in dump file"},
    {"InnerPointOutsideShrink", tree + "shrink 1\n0 0.5 1\nleaf 1 0\nleaf 2 1 2\n", Bd,
     "Point lies outside its cell in dump file"},
    {"DeepDumpEndsEarly", chainDump(100000).substr(0, chainDump(100000).size() - 11), Bd,
     "Unexpected end of dump file"},
};

std::string framedError(const std::string& message) {
    std::string pattern = "QEL: ERROR------->";
    for (char c : message) {
        if (std::string(".\\^$|()[]{}*+?").find(c) != std::string::npos) pattern += '\\';
        pattern += c;
    }
    return pattern + "<-------------ERROR";
}

class MalformedDump : public testing::TestWithParam<BadDump> {};

TEST_P(MalformedDump, EndsWithItsFatalReport) {
    const BadDump& row = GetParam();
    EXPECT_EXIT(readTree(row.text, row.kind), testing::ExitedWithCode(1), framedError(row.message));
}

INSTANTIATE_TEST_SUITE_P(Rows, MalformedDump, testing::ValuesIn(badDumps),
                         [](const testing::TestParamInfo<BadDump>& info) {
                             return std::string(info.param.name);
                         });

// Run under the sanitizers, this shows that a fatal report unwinding through the reader frees all it made.
TEST(MalformedDumpWithThrowingHandler, ReleasesEverythingAndLeavesTheOutputsAlone) {
    const FatalHandler previous = setFatalHandler(throwFatal);
    for (const BadDump& row : badDumps) {
        SCOPED_TRACE(row.name);
        std::istringstream in(row.text);
        PointArray points = nullptr;
        IndexArray indices = nullptr;
        Point lower = nullptr;
        Point upper = nullptr;
        int dim = -5;
        int n = -5;
        int bucketSize = -5;
        testing::internal::CaptureStderr();
        try {
            readDump(in, row.kind, points, indices, dim, n, bucketSize, lower, upper);
            ADD_FAILURE() << "no fatal report";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), row.message);
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "QEL: ERROR------->" + std::string(row.message) + "<-------------ERROR\n");
        EXPECT_EQ(points, nullptr);
        EXPECT_EQ(indices, nullptr);
        EXPECT_EQ(lower, nullptr);
        EXPECT_EQ(upper, nullptr);
        EXPECT_EQ(dim + n + bucketSize, -15);
    }
    setFatalHandler(previous);
}

} // namespace
