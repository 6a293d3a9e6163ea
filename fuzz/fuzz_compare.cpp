// Fuzz target: the compare run on tiny inputs. The input chooses the dimension (1 to 4), the metric and
// power, up to 12 points and 6 queries from a palette of magnitudes, k, the radius, up to four
// configurations (as a grid gives them), the thread count (1 to 3) and where a cancel comes. A run
// whose distances overflow ends with the fault's message. In any other, every row's figures are finite
// and in range; a row that searches exactly (eps 0, no visit limit that can stop a search before it
// has seen every point) has recall 1, error 0 and no empty slot where k points exist; the winners are
// the rows the figures say. The same run cancelled at one of its progress reports or builds ends at
// once and keeps a prefix of the rows with the same measurements.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compare.h"
#include "comparetable.h"
#include "fuzzsupport.h"
#include "session.h"

namespace {

/// Magnitudes of every kind: tiny and subnormal ones whose distances underflow into ties, and large
/// ones whose powered distances overflow, which must end the run with the fault's message.
constexpr double Scales[16] = {1.0,  0.125, 1e-5,  1e15,  1e-300, 4.9e-324, 1e-150, 3.0,
                               1e50, 1e100, 1e150, 1e200, 1e300,  2.0,      1e-100, 7.0};

/// The messages of the floating-point faults that end a run.
bool faultMessage(std::string_view text) {
    return text == "Floating point overflow" || text == "Floating point division by zero" ||
           text == "Invalid floating point operation";
}

bool exactSearch(const knn::CompareConfig& c, int n) {
    return c.eps == 0.0 && (c.visitLimit == 0 || c.visitLimit >= n);
}

void checkRow(const knn::CompareRow& row, int n, int m) {
    const auto finiteTime = [](double s) { return std::isfinite(s) && s >= 0.0; };
    FUZZ_CHECK(finiteTime(row.buildSeconds));
    FUZZ_CHECK(finiteTime(row.querySeconds));
    FUZZ_CHECK(finiteTime(row.meanQuerySeconds));
    FUZZ_CHECK(finiteTime(row.slowestQuerySeconds));
    FUZZ_CHECK(m > 0 || row.meanQuerySeconds == 0.0);
    const bool tree = row.config.mode != knn::SearchMode::BruteForce;
    FUZZ_CHECK(row.tree.has_value() == tree);
    FUZZ_CHECK(row.memoryBytes > 0);
    if (tree) {
        FUZZ_CHECK(row.meanVisited >= 0.0 && row.meanVisited <= row.mostVisited && row.mostVisited <= n);
    } else {
        FUZZ_CHECK(row.meanVisited == (m > 0 ? n : 0) && row.mostVisited == (m > 0 ? n : 0));
    }
    FUZZ_CHECK(row.recall >= 0.0 && row.recall <= 1.0);
    FUZZ_CHECK(row.largestError >= 0.0); // infinite where a true distance of 0 was missed
    // The mean of equal errors can round an ulp above them.
    FUZZ_CHECK(std::isnan(row.meanError) ||
               (row.meanError >= 0.0 && row.meanError <= row.largestError * (1.0 + 1e-12)));
    FUZZ_CHECK(row.emptySlotQueries >= 0 && row.emptySlotQueries <= m);
    if (!exactSearch(row.config, n)) return;
    FUZZ_CHECK(row.recall == 1.0);
    FUZZ_CHECK(row.largestError == 0.0);
    FUZZ_CHECK(std::isnan(row.meanError) || row.meanError == 0.0);
    if (row.config.range != knn::SearchRange::FixedRadius) FUZZ_CHECK(row.emptySlotQueries == 0);
}

void checkWinner(const knn::CompareResult& result, int winner, bool (*pass)(const knn::CompareRow&)) {
    const auto& rows = result.rows;
    FUZZ_CHECK(winner >= -1 && winner < static_cast<int>(rows.size()));
    FUZZ_CHECK((winner >= 0) == std::any_of(rows.begin(), rows.end(), pass));
    if (winner < 0) return;
    FUZZ_CHECK(pass(rows[static_cast<std::size_t>(winner)]));
    for (const knn::CompareRow& row : rows)
        FUZZ_CHECK(!pass(row) || row.querySeconds >= rows[static_cast<std::size_t>(winner)].querySeconds);
}

/// The figures of a row that do not depend on the clock.
bool sameMeasurements(const knn::CompareRow& a, const knn::CompareRow& b) {
    const auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
    return a.config == b.config && a.meanVisited == b.meanVisited && a.mostVisited == b.mostVisited &&
           a.memoryBytes == b.memoryBytes && a.recall == b.recall && same(a.meanError, b.meanError) &&
           a.largestError == b.largestError && a.emptySlotQueries == b.emptySlotQueries &&
           a.tree.has_value() == b.tree.has_value() &&
           (!a.tree || (a.tree->leafCount == b.tree->leafCount && a.tree->treeDepth == b.tree->treeDepth));
}

/// Progress and cancel of one run: a cancel is asked for at event number `cancelAt` (progress reports
/// and builds counted together; 0: before the run starts), a build at that event ends without a
/// structure, as one stopped by the window does.
struct Watch {
    std::optional<int> cancelAt;
    int events = 0;
    bool requested = false;
    std::int64_t done = 0;
    std::int64_t total = -1;
    bool workLeft = false; ///< work remained when the cancel was asked for

    void event(bool remaining) {
        if (cancelAt && events++ == *cancelAt) requested = true, workLeft = remaining;
    }
    knn::CompareObserver observer() {
        if (cancelAt && *cancelAt == 0) requested = true, workLeft = true;
        knn::CompareObserver o;
        o.progress = [this](std::int64_t d, std::int64_t t) {
            FUZZ_CHECK(!requested); // the run polls before every piece of work
            FUZZ_CHECK(total < 0 || t == total);
            FUZZ_CHECK(d > done && d <= t);
            done = d, total = t;
            event(d < t);
        };
        o.cancelled = [this] { return requested; };
        o.build = [this](const knn::StructureBuild& make) -> knn::BuiltStructure {
            FUZZ_CHECK(!requested);
            event(true);
            if (requested) return {};
            return make();
        };
        return o;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int dim = input.ConsumeIntegralInRange(1, 4);
    const int n = input.ConsumeIntegralInRange(1, 12);
    const int m = input.ConsumeIntegralInRange(0, 6);
    qel::metricKind = input.ConsumeIntegralInRange(qel::manhattanMetric, qel::chebyshevMetric);
    const int power = qel::metricKind == qel::euclideanMetric  ? 2
                      : qel::metricKind == qel::customLpMetric ? input.ConsumeIntegralInRange(1, 8)
                                                               : 1;
    fuzz::Palette palette;
    const std::uint8_t paletteByte = input.ConsumeIntegral<std::uint8_t>();
    palette.first = Scales[paletteByte & 15];
    palette.second = Scales[paletteByte >> 4];
    fuzz::Points points(n, dim);
    for (int i = 0; i < n; ++i)
        fuzz::fillPoint(input, palette, points.array[i], dim, points.array, i);
    fuzz::Points queries(m, dim);
    for (int q = 0; q < m; ++q)
        fuzz::fillPoint(input, palette, queries.array[q], dim, points.array, n);

    knn::CompareSettings settings;
    settings.k = input.ConsumeIntegralInRange(1, n);
    settings.power = power;
    settings.radius = std::fabs(palette.coordinate(input.ConsumeIntegral<std::uint8_t>()));
    settings.repetitions = 1;
    settings.threads = input.ConsumeIntegralInRange(1, 3);

    std::vector<knn::CompareConfig> configs;
    const int count = input.ConsumeIntegralInRange(1, 4);
    static constexpr double epsValues[6] = {0.0, 0.0, 0.0, 0.1, 0.5, 1.0};
    for (int i = 0; i < count; ++i) {
        knn::CompareConfig c{static_cast<knn::SearchMode>(input.ConsumeIntegralInRange(0, 2)),
                             static_cast<knn::SearchRange>(input.ConsumeIntegralInRange(0, 2)),
                             static_cast<qel::SplitRule>(input.ConsumeIntegralInRange(0, 5)),
                             static_cast<qel::ShrinkRule>(input.ConsumeIntegralInRange(0, 3)),
                             input.ConsumeIntegralInRange(1, 6),
                             epsValues[input.ConsumeIntegral<std::uint8_t>() % 6]};
        const std::uint8_t limitByte = input.ConsumeIntegral<std::uint8_t>();
        c.visitLimit = limitByte < 160 ? 0 : 1 + limitByte % 16;
        if (c.mode == knn::SearchMode::BruteForce && c.range == knn::SearchRange::Priority) continue;
        c = c.Normalized();
        if (std::find(configs.begin(), configs.end(), c) == configs.end()) configs.push_back(c);
    }
    if (configs.empty()) configs.push_back({knn::SearchMode::BruteForce, knn::SearchRange::Standard});
    const std::uint8_t cancelByte = input.ConsumeIntegral<std::uint8_t>();

    qel::setVisitLimit(0);
    Watch full;
    knn::CompareResult result;
    try {
        result = knn::RunCompare(points.array, n, queries.array, m, dim, configs, settings, full.observer());
    } catch (const knn::RunError& error) {
        if (!faultMessage(error.what()))
            fuzz::fail(std::string("unexpected error: ") + error.what(), __FILE__, __LINE__);
        FUZZ_CHECK(qel::maxPointsVisit == 0);
        qel::releaseSharedEmptyLeaf();
        return 0;
    }
    FUZZ_CHECK(!result.cancelled);
    FUZZ_CHECK(result.configCount == static_cast<int>(configs.size()));
    FUZZ_CHECK(result.rows.size() == configs.size());
    FUZZ_CHECK(m == 0 || full.done == full.total);
    FUZZ_CHECK(qel::maxPointsVisit == 0);
    for (std::size_t i = 0; i < configs.size(); ++i) {
        FUZZ_CHECK(result.rows[i].config == configs[i]);
        checkRow(result.rows[i], n, m);
    }
    checkWinner(result, result.fastestExact, [](const knn::CompareRow& r) { return r.exact(); });
    checkWinner(result, result.fastestAccurate,
                [](const knn::CompareRow& r) { return r.recall >= knn::AccurateRecall; });
    const knn::ResultTable table = knn::CompareTable(result);
    FUZZ_CHECK(table.rowCount() == static_cast<int>(result.rows.size()));

    if (cancelByte >= 128) {
        Watch cancelling;
        cancelling.cancelAt = cancelByte % 32;
        const knn::CompareResult cut =
            knn::RunCompare(points.array, n, queries.array, m, dim, configs, settings, cancelling.observer());
        FUZZ_CHECK(cut.cancelled == (cancelling.requested && cancelling.workLeft));
        FUZZ_CHECK(cut.configCount == result.configCount);
        FUZZ_CHECK(cut.cancelled ? cut.rows.size() < configs.size() : cut.rows.size() == configs.size());
        for (std::size_t i = 0; i < cut.rows.size(); ++i)
            FUZZ_CHECK(sameMeasurements(cut.rows[i], result.rows[i]));
        FUZZ_CHECK(qel::maxPointsVisit == 0);
    }
    qel::releaseSharedEmptyLeaf();
    return 0;
}
