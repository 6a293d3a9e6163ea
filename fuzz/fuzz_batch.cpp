// Fuzz target: the batch searches against a loop of one-query searches. The input chooses the structure
// (brute force, kd-tree, bd-tree), the rules, the bucket size, whether the searches run on the compact
// image and with a copy of the points, the metric and power, eps, a visit limit, the thread count (1 to
// 3), then small point sets and queries (the palette of magnitudes, with NaN and infinite coordinates),
// k and a radius bound. For each search (standard, priority on trees, fixed radius) every row of the
// batch must equal what the one-query search writes for that query, bit for bit: indices, distances,
// counts, nothing written past the rows, the same fatal report and the same floating-point flags.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

#include "fuzzsupport.h"
#include <qel/bdtree.h>
#include <qel/kdbatch.h>
#include <qel/kdtree.h>

namespace {

enum class Search { Standard, Priority, FixedRadius };

/// Writes past the rows are caught by guard entries that keep these values.
constexpr int untouchedIndex = -7;
constexpr double untouchedDistance = -7.0;
constexpr int guard = 4;

/// What a loop of one-query searches or a batch wrote: m rows of k entries (and guard entries past them).
struct Rows {
    Rows(int m, int k)
        : indices(static_cast<std::size_t>(m) * static_cast<std::size_t>(k) + guard, untouchedIndex),
          distances(indices.size(), untouchedDistance), counts(static_cast<std::size_t>(m) + guard, -1) {}
    std::vector<int> indices;
    std::vector<double> distances;
    std::vector<int> counts;
    bool fatal = false;
    int flags = 0;
};

/// Distances compare by their bits: NaN rows must match too, and -0 is not 0.
bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void checkSame(const Rows& single, const Rows& batch, bool withIndices, bool withDistances, bool withCounts) {
    FUZZ_CHECK(single.fatal == batch.fatal);
    FUZZ_CHECK(single.flags == batch.flags);
    const auto touched = [](const std::vector<int>& v, std::size_t from) {
        return std::any_of(v.begin() + static_cast<std::ptrdiff_t>(from), v.end(),
                           [](int i) { return i != untouchedIndex; });
    };
    if (single.fatal) {
        // The batch reports before any search.
        FUZZ_CHECK(!touched(batch.indices, 0));
        return;
    }
    const std::size_t entries = single.indices.size() - guard;
    for (std::size_t i = 0; i < single.indices.size(); ++i) {
        const bool inRow = i < entries;
        FUZZ_CHECK(batch.indices[i] == (inRow && withIndices ? single.indices[i] : untouchedIndex));
        FUZZ_CHECK(
            sameBits(batch.distances[i], inRow && withDistances ? single.distances[i] : untouchedDistance));
    }
    const std::size_t rows = single.counts.size() - guard;
    for (std::size_t q = 0; q < single.counts.size(); ++q)
        FUZZ_CHECK(batch.counts[q] == (q < rows && withCounts ? single.counts[q] : -1));
}

/// Sets some coordinates to NaN or an infinity: the batch's order key and its threads must answer such
/// points as the one-query search does.
void addSpecialValues(FuzzedDataProvider& input, qel::PointArray points, int n, int dim) {
    static constexpr double specials[3] = {NAN, INFINITY, -INFINITY};
    const std::uint8_t count = input.ConsumeIntegral<std::uint8_t>();
    if (n == 0 || count < 224) return;
    for (int i = 0; i < count % 4; ++i) {
        const std::uint8_t where = input.ConsumeIntegral<std::uint8_t>();
        points[where % n][where / n % dim] = specials[where % 3];
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::throwOnFatal();
    FuzzedDataProvider input(data, size);
    const int structure = input.ConsumeIntegralInRange(0, 2);
    const auto split = static_cast<qel::SplitRule>(input.ConsumeIntegralInRange(0, 5));
    const auto shrink = static_cast<qel::ShrinkRule>(input.ConsumeIntegralInRange(0, 3));
    const int bucket = input.ConsumeIntegralInRange(1, 6);
    const std::uint8_t imageByte = input.ConsumeIntegral<std::uint8_t>();
    const int dim = input.ConsumeIntegralInRange(1, 5);
    const int n = input.ConsumeIntegralInRange(0, 40);
    qel::metricKind = input.ConsumeIntegralInRange(qel::manhattanMetric, qel::chebyshevMetric);
    const int power = qel::metricKind == qel::euclideanMetric  ? 2
                      : qel::metricKind == qel::customLpMetric ? input.ConsumeIntegralInRange(1, 7)
                                                               : 1;
    static constexpr double epsValues[8] = {0.0, 0.0, 0.0, 0.0, 0.1, 0.5, 1.0, -0.5};
    const double eps = epsValues[input.ConsumeIntegral<std::uint8_t>() % 8];
    const std::uint8_t limitByte = input.ConsumeIntegral<std::uint8_t>();
    qel::setVisitLimit(limitByte < 192 ? 0 : 1 + limitByte % 16);
    const int threads = input.ConsumeIntegralInRange(1, 3);

    fuzz::Palette palette;
    const std::uint8_t paletteByte = input.ConsumeIntegral<std::uint8_t>();
    palette.first = fuzz::Palette::scales[paletteByte & 7];
    palette.second = fuzz::Palette::scales[(paletteByte >> 3) & 7];
    fuzz::Points points(n, dim);
    for (int i = 0; i < n; ++i)
        fuzz::fillPoint(input, palette, points.array[i], dim, points.array, i);
    addSpecialValues(input, points.array, n, dim);

    std::unique_ptr<qel::QELpointSet> set;
    qel::QELkd_tree* tree = nullptr;
    if (structure == 0) {
        set = std::make_unique<qel::QELbruteForce>(points.array, n, dim);
    } else {
        set = structure == 1 ? std::make_unique<qel::QELkd_tree>(points.array, n, dim, bucket, split)
                             : std::make_unique<qel::QELbd_tree>(points.array, n, dim, bucket, split, shrink);
        tree = static_cast<qel::QELkd_tree*>(set.get());
        // The copy's setting first: it turns the image on.
        tree->copyPointsInLeafOrder((imageByte & 2) != 0);
        tree->useSearchImage((imageByte & 1) == 0);
        // Made now, so that neither side's flags include the making.
        (void)tree->madeSearchImage();
    }

    const int m = input.ConsumeIntegralInRange(0, 24);
    fuzz::Points queries(m, dim);
    for (int q = 0; q < m; ++q)
        fuzz::fillPoint(input, palette, queries.array[q], dim, points.array, n);
    addSpecialValues(input, queries.array, m, dim);

    std::vector<int> order(static_cast<std::size_t>(m) + guard, untouchedIndex);
    qel::batchOrder(*set, queries.array, m, order.data());
    std::vector<int> sorted(order.begin(), order.begin() + m);
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> positions(static_cast<std::size_t>(m));
    std::iota(positions.begin(), positions.end(), 0);
    FUZZ_CHECK(sorted == positions);
    FUZZ_CHECK(std::all_of(order.begin() + m, order.end(), [](int i) { return i == untouchedIndex; }));

    const int k = input.ConsumeIntegralInRange(1, n + 2);
    const int radiusK = input.ConsumeIntegralInRange(0, n + 2);
    const std::uint8_t radiusByte = input.ConsumeIntegral<std::uint8_t>();
    const double radius = radiusByte == 255 ? INFINITY : std::fabs(palette.coordinate(radiusByte));
    const std::uint8_t nullByte = input.ConsumeIntegral<std::uint8_t>();
    const bool withIndices = (nullByte & 1) == 0, withDistances = (nullByte & 2) == 0,
               withCounts = (nullByte & 4) == 0;

    for (const Search search : {Search::Standard, Search::Priority, Search::FixedRadius}) {
        if (search == Search::Priority && tree == nullptr) continue;
        const int width = search == Search::FixedRadius ? radiusK : k;
        Rows single(m, width), batch(m, width);
        std::feclearexcept(FE_ALL_EXCEPT);
        try {
            for (int q = 0; q < m; ++q) {
                int* idx = single.indices.data() + static_cast<std::ptrdiff_t>(q) * width;
                double* dst = single.distances.data() + static_cast<std::ptrdiff_t>(q) * width;
                if (search == Search::Standard)
                    set->searchNearest(queries.array[q], k, idx, dst, eps, power);
                else if (search == Search::Priority)
                    tree->searchPriority(queries.array[q], k, idx, dst, eps, power);
                else
                    single.counts[static_cast<std::size_t>(q)] =
                        set->searchFixedRadius(queries.array[q], radius, width, idx, dst, eps, power);
            }
        } catch (const fuzz::FatalReport&) {
            single.fatal = true;
        }
        single.flags = std::fetestexcept(FE_ALL_EXCEPT);

        std::feclearexcept(FE_ALL_EXCEPT);
        try {
            if (search == Search::Standard)
                qel::searchNearestBatch(*set, queries.array, m, k, batch.indices.data(),
                                        batch.distances.data(), eps, power, threads);
            else if (search == Search::Priority)
                qel::searchPriorityBatch(*tree, queries.array, m, k, batch.indices.data(),
                                         batch.distances.data(), eps, power, threads);
            else
                qel::searchFixedRadiusBatch(*set, queries.array, m, radius, width,
                                            withIndices ? batch.indices.data() : nullptr,
                                            withDistances ? batch.distances.data() : nullptr,
                                            withCounts ? batch.counts.data() : nullptr, eps, power, threads);
        } catch (const fuzz::FatalReport&) {
            batch.fatal = true;
        }
        batch.flags = std::fetestexcept(FE_ALL_EXCEPT);
        const bool radiusSearch = search == Search::FixedRadius;
        checkSame(single, batch, !radiusSearch || withIndices, !radiusSearch || withDistances,
                  radiusSearch && withCounts);
    }
    std::feclearexcept(FE_ALL_EXCEPT);
    qel::setVisitLimit(0);
    qel::releaseSharedEmptyLeaf();
    return 0;
}
