// knnbench._core: the library's structures over numpy arrays, with queries shaped like
// those of scipy's cKDTree. Arguments are checked here, before the library sees them, so every mistake
// is a ValueError; a fatal library report that still happens becomes a RuntimeError with its text.
//
// Builds and searches run without the GIL. The metric and the visit limit are process-wide in the
// library, so each query call holds one lock while it sets and uses them; builds and dump reads hold
// another, as they mark the library's shared empty leaf.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "outputfile.h"
#include "searchcall.h"
#include "vocabulary.h"
#include <qel/bdtree.h>
#include <qel/kdtree.h>
#include <qel/treedump.h>

namespace py = pybind11;

namespace knnpy {

namespace {

/// What the library's fatal handler throws; pybind11 turns it into a RuntimeError with the text.
class LibraryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void throwLibraryError(const char* message) {
    throw LibraryError(message);
}

std::mutex metricLock;
std::mutex treeLock;

/// An OSError for path from errno (EIO when the stream left none).
[[noreturn]] void raiseOsError(const std::filesystem::path& path) {
    if (errno == 0) errno = EIO;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.string().c_str());
    throw py::error_already_set();
}

using Coordinates = py::array_t<double, py::array::c_style | py::array::forcecast>;

/// obj as a C-contiguous, aligned float64 array: obj itself when it already is one, else a copy.
Coordinates coordinatesOf(const py::handle& obj, const char* what) {
    Coordinates array = Coordinates::ensure(obj);
    if (!array) throw py::value_error(std::string(what) + " must be an array of numbers");
    if (!(array.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_)) array = Coordinates(array.request());
    return array;
}

/// NaN makes the library's comparisons fail both ways (a NaN point or query is kept by every bound), and
/// an infinity meeting another gives NaN; both are refused rather than answered wrongly.
void requireFinite(const Coordinates& array, const char* what) {
    const double* values = array.data();
    const py::ssize_t size = array.size();
    for (py::ssize_t i = 0; i < size; ++i) {
        if (!std::isfinite(values[i])) {
            const py::ssize_t width = array.ndim() == 2 ? array.shape(1) : size;
            throw py::value_error(std::string(what) + " must be finite: row " + std::to_string(i / width) +
                                  " holds " + py::repr(py::float_(values[i])).cast<std::string>());
        }
    }
}

/// The row addresses of a C-contiguous (rows, width) block. The library only reads points, through
/// non-const addresses, so read-only arrays are used in place too.
std::vector<qel::Point> rowsOf(const double* block, py::ssize_t rows, py::ssize_t width) {
    std::vector<qel::Point> result(static_cast<std::size_t>(rows));
    for (py::ssize_t i = 0; i < rows; ++i)
        result[static_cast<std::size_t>(i)] = const_cast<double*>(block) + i * width;
    return result;
}

int checkedInt(py::ssize_t value, const char* what) {
    if (value > std::numeric_limits<int>::max())
        throw py::value_error(std::string("too many ") + what + " (at most " +
                              std::to_string(std::numeric_limits<int>::max()) + ")");
    return static_cast<int>(value);
}

/// A rule given by one of its names or by its number.
int ruleOf(const py::handle& rule, std::span<const std::string_view> names, const char* what) {
    if (py::isinstance<py::str>(rule)) {
        const auto found = std::find(names.begin(), names.end(), rule.cast<std::string>());
        if (found != names.end()) return static_cast<int>(found - names.begin());
    } else if (py::isinstance<py::int_>(rule) && !py::isinstance<py::bool_>(rule)) {
        const long long number = rule.cast<long long>();
        if (number >= 0 && number < static_cast<long long>(names.size())) return static_cast<int>(number);
    }
    std::string known;
    for (const std::string_view name : names)
        known.append(known.empty() ? "'" : ", '").append(name) += "'";
    throw py::value_error(std::string(what) + " must be one of " + known + " or a number from 0 to " +
                          std::to_string(names.size() - 1) + ", not " + py::repr(rule).cast<std::string>());
}

using knn::Metric;

Metric metricOf(const std::string& name, double p) {
    const std::optional<int> item = knn::ParseItem(name, knn::MetricNames, false);
    if (!item)
        throw py::value_error("metric must be 'manhattan', 'euclidean', 'chebyshev' or 'custom', not '" +
                              name + "'");
    if (*item == knn::CustomMetricItem) {
        const knn::IntLimit limit = knn::PowerLimit;
        if (!(p >= limit.lowest && p <= limit.highest && p == std::floor(p)))
            throw py::value_error("metric 'custom' needs an integer p from " + std::to_string(limit.lowest) +
                                  " to " + std::to_string(limit.highest) + ", not " +
                                  py::repr(py::float_(p)).cast<std::string>());
        return knn::MetricOfItem(*item, static_cast<int>(p));
    }
    const Metric metric = knn::MetricOfItem(*item, 0);
    // p = 2 is the default and goes unread; any other p must be the metric's own, so that a p meant for
    // another metric is not silently ignored.
    if (p != 2.0 && p != knn::MinkowskiP(metric))
        throw py::value_error("p=" + py::repr(py::float_(p)).cast<std::string>() + " does not fit metric '" +
                              name + "'; use metric='custom' with an integer p, or the metric of that p");
    return metric;
}

/// The threads a call runs on: -1 means one per core.
int threadsOf(int threads) {
    if (threads == -1) return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (const auto why = knn::CheckInt(threads, knn::ThreadLimit))
        throw py::value_error("threads " + *why + ", or -1 for every core");
    return threads;
}

/// The query options every search checks the same way.
struct SearchOptions {
    double eps;
    Metric metric;
    int maxVisit;
    int threads;
};

SearchOptions searchOptionsOf(double eps, const std::string& metric, double p, int maxVisit, int threads) {
    if (const auto why = knn::CheckErrorBound(eps)) throw py::value_error("eps " + *why);
    if (const auto why = knn::CheckInt(maxVisit, knn::VisitLimit))
        throw py::value_error("max_visit " + *why + " (0: no limit)");
    return {eps, metricOf(metric, p), maxVisit, threadsOf(threads)};
}

/// Query points: x as (m, d) rows, and whether x was one point.
struct Queries {
    Coordinates array;
    std::vector<qel::Point> rows;
    int m;
    bool single;
};

/// A search's results before they become the caller's arrays.
struct RawResults {
    std::vector<int> indices;
    std::vector<double> dists;
    std::vector<int> counts;
};

class PointSet {
public:
    PointSet(py::array data, std::vector<qel::Point> rows, qel::PointArray points, int n, int d)
        : data(std::move(data)), rows(std::move(rows)), points(points), n(n), d(d) {}
    virtual ~PointSet() = default;
    virtual std::string repr() const = 0;

    /// The k nearest of each point of x.
    py::tuple query(const py::object& x, int k, double eps, const std::string& metric, double p,
                    const std::string& search, int maxVisit, int threads) {
        const std::optional<int> item = knn::ParseItem(search, knn::RangeNames, false);
        const auto range = static_cast<knn::SearchRange>(item.value_or(0));
        if (!item || range == knn::SearchRange::FixedRadius)
            throw py::value_error("search must be 'standard' or 'priority', not '" + search + "'");
        if (range == knn::SearchRange::Priority && tree == nullptr)
            throw py::value_error("search='priority' needs a tree (KdTree or BdTree)");
        if (const auto why = knn::CheckInt(k, knn::NeighbourLimit)) throw py::value_error("k " + *why);
        if (k > n)
            throw py::value_error("k=" + std::to_string(k) + " is more than the " + std::to_string(n) +
                                  " points");
        const SearchOptions options = searchOptionsOf(eps, metric, p, maxVisit, threads);
        Queries queries = queriesOf(x);
        RawResults raw = rawResults(queries.m, k, false);
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> lock(metricLock);
            useOptions(options);
            knn::SearchBatch(
                knn::SearcherOf(structure.get(), range, k, options.eps, options.metric.power, 0.0),
                queries.rows.data(), queries.m, raw.indices.data(), raw.dists.data(), options.threads);
        }
        auto [dists, indices] = resultArrays(queries, k, raw, options.metric);
        return py::make_tuple(dists, indices);
    }

    /// The points of x within r, counted, and the k nearest of them.
    py::tuple queryRadius(const py::object& x, double r, int k, double eps, const std::string& metric,
                          double p, int maxVisit, int threads) {
        if (!(r >= 0.0)) throw py::value_error("r must be a number of at least 0");
        if (k < 0) throw py::value_error("k must be at least 0");
        const SearchOptions options = searchOptionsOf(eps, metric, p, maxVisit, threads);
        Queries queries = queriesOf(x);
        RawResults raw = rawResults(queries.m, k, true);
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> lock(metricLock);
            useOptions(options);
            knn::SearchBatch(knn::SearcherOf(structure.get(), knn::SearchRange::FixedRadius, k, options.eps,
                                             options.metric.power, r),
                             queries.rows.data(), queries.m, raw.indices.data(), raw.dists.data(),
                             options.threads, raw.counts.data());
        }
        auto [dists, indices] = resultArrays(queries, k, raw, options.metric);
        if (queries.single) return py::make_tuple(raw.counts[0], dists, indices);
        py::array_t<std::int64_t> counts(queries.m);
        std::copy(raw.counts.begin(), raw.counts.end(), counts.mutable_data());
        return py::make_tuple(counts, dists, indices);
    }

    py::array data;               ///< the (n, d) points the structure reads; keeps them alive
    std::vector<qel::Point> rows; ///< row addresses into data, when the structure reads them from here
    qel::PointArray points;       ///< what the structure holds as its points
    int n;
    int d;
    // Declared after the points, so it goes before them.
    std::unique_ptr<qel::QELpointSet> structure;
    qel::QELkd_tree* tree = nullptr; ///< structure, when it is a tree

private:
    Queries queriesOf(const py::object& x) const {
        Coordinates array = coordinatesOf(x, "x");
        const py::ssize_t ndim = array.ndim();
        if (ndim != 1 && ndim != 2)
            throw py::value_error(
                "x must be one point of shape (d,) or points of shape (m, d), not an array of " +
                std::to_string(ndim) + " dimensions");
        const py::ssize_t width = array.shape(ndim - 1);
        if (width != d)
            throw py::value_error("x has " + std::to_string(width) +
                                  " coordinates per point; the points have " + std::to_string(d));
        requireFinite(array, "x");
        const py::ssize_t m = ndim == 1 ? 1 : array.shape(0);
        std::vector<qel::Point> queryRows = rowsOf(array.data(), m, width);
        return {std::move(array), std::move(queryRows), checkedInt(m, "query points"), ndim == 1};
    }

    static RawResults rawResults(int m, int k, bool counted) {
        const std::size_t cells = static_cast<std::size_t>(m) * static_cast<std::size_t>(k);
        return {std::vector<int>(cells), std::vector<double>(cells),
                std::vector<int>(counted ? static_cast<std::size_t>(m) : 0)};
    }

    static void useOptions(const SearchOptions& options) {
        qel::metricKind = options.metric.kind;
        qel::setVisitLimit(options.maxVisit);
    }

    /// Distances in the metric's units and int64 indices, (m, k) or (k,) for one point; an empty slot
    /// holds inf and index n, as in scipy.
    std::pair<py::array_t<double>, py::array_t<std::int64_t>>
    resultArrays(const Queries& queries, int k, const RawResults& raw, const Metric& metric) const {
        std::vector<py::ssize_t> shape{k};
        if (!queries.single) shape.insert(shape.begin(), queries.m);
        py::array_t<double> dists(shape);
        py::array_t<std::int64_t> indices(shape);
        double* distOut = dists.mutable_data();
        std::int64_t* indexOut = indices.mutable_data();
        for (std::size_t i = 0; i < raw.indices.size(); ++i) {
            const bool empty = raw.indices[i] == qel::noIndex;
            distOut[i] =
                empty ? std::numeric_limits<double>::infinity() : knn::RootedDistance(raw.dists[i], metric);
            indexOut[i] = empty ? n : raw.indices[i];
        }
        return {dists, indices};
    }
};

class BruteForce : public PointSet {
public:
    using PointSet::PointSet;
    std::string repr() const override {
        return "BruteForce(n=" + std::to_string(n) + ", d=" + std::to_string(d) + ")";
    }
};

class KdTree : public PointSet {
public:
    using PointSet::PointSet;
    std::string repr() const override { return describe("KdTree", ""); }

    py::dict stats() const {
        qel::TreeStats s;
        tree->collectStats(s);
        py::dict result;
        result["dimension_count"] = s.dimensionCount;
        result["data_count"] = s.dataCount;
        result["bucket_size"] = s.bucketSize;
        result["leaf_count"] = s.leafCount;
        result["empty_leaf_count"] = s.emptyLeafCount;
        result["split_node_count"] = s.splitNodeCount;
        result["shrink_node_count"] = s.shrinkNodeCount;
        result["tree_depth"] = s.treeDepth;
        result["aspect_sum"] = s.aspectSum;
        result["aspect_mean"] = s.aspectMean;
        return result;
    }

    void dump(const std::filesystem::path& path) const {
        bool written = false;
        {
            py::gil_scoped_release unlocked;
            written = knn::WriteFileAtomically(path.string(),
                                               [&](std::ostream& out) { tree->dumpTree(true, out); });
        }
        if (!written) raiseOsError(path);
    }

    std::optional<std::string> splitRule; ///< the rule's name as given; none for a loaded tree

protected:
    std::string describe(const char* kind, const std::string& more) const {
        std::string text = std::string(kind) + "(n=" + std::to_string(n) + ", d=" + std::to_string(d) +
                           ", bucket_size=" + std::to_string(tree->bucketSize);
        if (splitRule) text += ", split='" + *splitRule + "'";
        return text + more + ")";
    }
};

class BdTree : public KdTree {
public:
    using KdTree::KdTree;
    std::string repr() const override {
        return describe("BdTree", shrinkRule ? ", shrink='" + *shrinkRule + "'" : "");
    }

    std::optional<std::string> shrinkRule; ///< the rule's name as given; none for a loaded tree
};

/// The (n, d) points a structure is built over, used in place when they can be.
struct BuildPoints {
    Coordinates array;
    std::vector<qel::Point> rows;
    int n;
    int d;
};

BuildPoints buildPointsOf(const py::object& points) {
    Coordinates array = coordinatesOf(points, "points");
    if (array.ndim() != 2)
        throw py::value_error("points must be an array of shape (n, d), not of " +
                              std::to_string(array.ndim()) + " dimensions");
    const int n = checkedInt(array.shape(0), "points");
    const int d = checkedInt(array.shape(1), "coordinates");
    if (d < 1) throw py::value_error("points must have at least one coordinate");
    requireFinite(array, "points");
    std::vector<qel::Point> rows = rowsOf(array.data(), n, d);
    return {std::move(array), std::move(rows), n, d};
}

int bucketSizeOf(int bucketSize) {
    if (const auto why = knn::CheckInt(bucketSize, knn::BucketLimit))
        throw py::value_error("bucket_size " + *why);
    return bucketSize;
}

/// The rule's name as the caller gave it, or its number's name.
std::string ruleName(const py::handle& rule, int item, std::span<const std::string_view> names) {
    return py::isinstance<py::str>(rule) ? rule.cast<std::string>()
                                         : std::string(names[static_cast<std::size_t>(item)]);
}

template <class Structure, class Build> std::unique_ptr<Structure> built(BuildPoints points, Build build) {
    auto structure =
        std::make_unique<Structure>(points.array, std::move(points.rows), nullptr, points.n, points.d);
    structure->points = structure->rows.data();
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(treeLock);
        structure->structure = build(structure->points, points.n, points.d);
    }
    return structure;
}

std::unique_ptr<KdTree> newKdTree(const py::object& points, int bucketSize, const py::object& split,
                                  int threads) {
    const int bucket = bucketSizeOf(bucketSize);
    const int buildThreads = threadsOf(threads);
    const int rule = ruleOf(split, knn::SplitNames, "split");
    auto tree = built<KdTree>(buildPointsOf(points), [&](qel::PointArray pa, int n, int d) {
        return std::make_unique<qel::QELkd_tree>(pa, n, d, bucket, static_cast<qel::SplitRule>(rule),
                                                 buildThreads);
    });
    tree->tree = static_cast<qel::QELkd_tree*>(tree->structure.get());
    tree->splitRule = ruleName(split, rule, knn::SplitNames);
    return tree;
}

std::unique_ptr<BdTree> newBdTree(const py::object& points, int bucketSize, const py::object& split,
                                  const py::object& shrink, int threads) {
    const int bucket = bucketSizeOf(bucketSize);
    const int buildThreads = threadsOf(threads);
    const int splitRule = ruleOf(split, knn::SplitNames, "split");
    const int shrinkRule = ruleOf(shrink, knn::ShrinkNames, "shrink");
    auto tree = built<BdTree>(buildPointsOf(points), [&](qel::PointArray pa, int n, int d) {
        return std::make_unique<qel::QELbd_tree>(pa, n, d, bucket, static_cast<qel::SplitRule>(splitRule),
                                                 static_cast<qel::ShrinkRule>(shrinkRule), buildThreads);
    });
    tree->tree = static_cast<qel::QELkd_tree*>(tree->structure.get());
    tree->splitRule = ruleName(split, splitRule, knn::SplitNames);
    tree->shrinkRule = ruleName(shrink, shrinkRule, knn::ShrinkNames);
    return tree;
}

std::unique_ptr<BruteForce> newBruteForce(const py::object& points) {
    return built<BruteForce>(buildPointsOf(points), [](qel::PointArray pa, int n, int d) {
        return std::make_unique<qel::QELbruteForce>(pa, n, d);
    });
}

/// A tree read from a dump: a BdTree when it has shrinking nodes, else a KdTree.
py::object load(const std::filesystem::path& path) {
    errno = 0;
    std::ifstream in(path);
    if (!in) raiseOsError(path);
    // A bd-tree without shrinking nodes is searched exactly like the kd-tree it then is.
    qel::LoadedTree loaded;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(treeLock);
        loaded = qel::loadTree(in, qel::Bd);
    }
    const int n = loaded.tree->dataCount;
    const int d = loaded.tree->dimensionCount;
    const qel::PointArray pa = loaded.points.get();
    py::array data = py::array_t<double>(std::vector<py::ssize_t>{0, d});
    if (pa != nullptr) {
        // The array shows the points where the reader put them, and releases them when it goes.
        py::capsule owner(pa, [](void* points) {
            qel::PointArray released = static_cast<qel::PointArray>(points);
            qel::releasePointArray(released);
        });
        loaded.points.release();
        data = py::array_t<double>({n, d}, pa[0], owner);
    }
    qel::TreeStats shape;
    loaded.tree->collectStats(shape);
    auto wrapped = [&](auto result) {
        result->tree = loaded.tree.get();
        result->structure = std::move(loaded.tree);
        return py::cast(std::move(result));
    };
    if (shape.shrinkNodeCount > 0)
        return wrapped(std::make_unique<BdTree>(data, std::vector<qel::Point>(), pa, n, d));
    return wrapped(std::make_unique<KdTree>(data, std::vector<qel::Point>(), pa, n, d));
}

} // namespace

} // namespace knnpy

// The compiled part of the package knnbench, whose __init__ re-exports it.
PYBIND11_MODULE(_core, m) {
    using namespace knnpy;
    qel::setFatalHandler(throwLibraryError);
    // Each docstring starts with the call as a user writes it, instead of the typed C++ signature.
    py::options options;
    options.disable_function_signatures();
    m.doc() = R"(Exact and approximate k-nearest-neighbour search over numpy arrays.

Three structures over an (n, d) array of points: KdTree, BdTree (a kd-tree that may also shrink a cell
to the box of a cluster) and BruteForce. Their query() and query_radius() answer one point of shape
(d,) or many of shape (m, d); distances come in the metric's own units (rooted, as scipy's cKDTree gives
them), indices as int64, and a slot without a point holds distance inf and index n.

A C-contiguous float64 array of points is used in place, not copied: do not change it while a structure
over it exists. Any other array is converted once.

    >>> import numpy as np, knnbench
    >>> tree = knnbench.KdTree(np.random.default_rng(1).random((1000, 3)))
    >>> d, i = tree.query([[0.5, 0.5, 0.5]], k=3)
)";

    m.attr("__version__") = KNN_VERSION;
    // The custom metric's powers, for the Python layer's own checks.
    m.attr("POWER_LIMIT") = py::make_tuple(knn::PowerLimit.lowest, knn::PowerLimit.highest);

    const char* queryDoc =
        R"(query(x, k=1, eps=0.0, metric="euclidean", p=2, search="standard", max_visit=0, threads=1) -> (d, i)

The k nearest points of each point of x.

x: one point of shape (d,) or points of shape (m, d).
k: neighbours per point, from 1 to n.
eps: error bound; a reported k-th neighbour is at most (1 + eps) times farther than the true one.
metric: 'manhattan', 'euclidean', 'chebyshev' or 'custom' (the sum of |difference|**p, rooted).
p: the integer power of 'custom', from 1 to 100. With the other metrics it may stay 2 or be the
   metric's own (1, 2 or inf); any other p is an error rather than ignored.
search: 'standard' (depth first) or 'priority' (cells in increasing distance; trees only).
max_visit: stop a tree search after this many points have been examined; 0 means no limit.
threads: threads that answer the points; -1 means one per core. The answers do not depend on it.

Returns d (float64) and i (int64), of shape (m, k), or (k,) for one point: the distances in the
metric's units in increasing order and the points' row numbers. A slot without a point (a search cut
short by max_visit) holds inf and n.)";

    const char* radiusDoc =
        R"(query_radius(x, r, k, eps=0.0, metric="euclidean", p=2, max_visit=0, threads=1) -> (count, d, i)

The points within distance r of each point of x, counted, and the k nearest of them.

r: the radius in the metric's units (a point at distance r counts).
k: neighbours to report per point, at least 0 (0: counts only). The other arguments are those of query().

Returns count (int64, shape (m,), or an int for one point: every point within r, also beyond k), and d and
i as query() gives them; slots beyond the points found hold inf and n. With eps > 0 cells are pruned
earlier, so the count may be smaller, never larger.)";

    py::class_<PointSet>(m, "PointSet", "The base of KdTree, BdTree and BruteForce: queries and the points.")
        .def("query", &PointSet::query, queryDoc, py::arg("x"), py::arg("k") = 1, py::arg("eps") = 0.0,
             py::arg("metric") = "euclidean", py::arg("p") = 2.0, py::arg("search") = "standard",
             py::arg("max_visit") = 0, py::arg("threads") = 1)
        .def("query_radius", &PointSet::queryRadius, radiusDoc, py::arg("x"), py::arg("r"), py::arg("k"),
             py::arg("eps") = 0.0, py::arg("metric") = "euclidean", py::arg("p") = 2.0,
             py::arg("max_visit") = 0, py::arg("threads") = 1)
        .def(
            "__len__", [](const PointSet& s) { return s.n; }, "len(structure): the number of points.")
        .def("__repr__", &PointSet::repr, "The kind of structure, its size and its rules.")
        .def_readonly("n", &PointSet::n, "Number of points.")
        .def_readonly("d", &PointSet::d, "Coordinates per point.")
        .def_readonly("data", &PointSet::data, "The (n, d) points, as the structure reads them.");

    py::class_<KdTree, PointSet>(m, "KdTree", R"(KdTree(points, bucket_size=24, split="default", threads=1)

A kd-tree: cells cut by axis-parallel planes into leaves of at most bucket_size points.

points: array of shape (n, d); a C-contiguous float64 array is used in place and kept alive, anything
        else is converted once.
bucket_size: most points a leaf holds, at least 1.
split: the splitting rule, by name or number: 'standard' (0, median of the widest spread), 'midpoint' (1),
       'fair' (2), 'sliding-midpoint' (3), 'sliding-fair' (4) or 'default' (5, sliding midpoint).
threads: threads that build the tree; -1 means one per core. The tree is the same on any number.

Also stats(), dump(path) and knnbench.load(path).)")
        .def(py::init(&newKdTree),
             "KdTree(points, bucket_size=24, split=\"default\", threads=1): see the class.",
             py::arg("points"), py::arg("bucket_size") = 24, py::arg("split") = "default",
             py::arg("threads") = 1)
        .def("stats", &KdTree::stats, R"(stats() -> dict

The tree's shape: dimension_count, data_count, bucket_size, leaf_count, empty_leaf_count,
split_node_count, shrink_node_count, tree_depth (splitting and shrinking levels on the longest path),
aspect_sum and aspect_mean (the leaf cells' longest side over shortest, each capped at 1000).)")
        .def("dump", &KdTree::dump, R"(dump(path)

Writes the tree and its points as a text dump that knnbench.load(path) reads back. Every number is
written so that it reads back to the same double: the loaded tree holds the same points and cuts and
gives the same answers.)",
             py::arg("path"));

    py::class_<BdTree, KdTree>(m, "BdTree",
                               R"(BdTree(points, bucket_size=24, split="default", shrink="default", threads=1)

A bd-tree: a kd-tree whose cells may also shrink to an inner box around their points, which keeps
clustered data shallow.

points, bucket_size, split and threads: as for KdTree.
shrink: the shrinking rule, by name or number: 'none' (0, the kd-tree of the same split), 'simple' (1,
        the tight box of the cell's points where gaps are wide), 'centroid' (2, the box that repeated
        splits reach) or 'default' (3, simple).)")
        .def(py::init(&newBdTree),
             "BdTree(points, bucket_size=24, split=\"default\", shrink=\"default\", threads=1): "
             "see the class.",
             py::arg("points"), py::arg("bucket_size") = 24, py::arg("split") = "default",
             py::arg("shrink") = "default", py::arg("threads") = 1);

    py::class_<BruteForce, PointSet>(m, "BruteForce", R"(BruteForce(points)

Exact search by one pass over every point; eps and max_visit are accepted and have no effect, and
search='priority' is not available.

points: as for KdTree.)")
        .def(py::init(&newBruteForce), "BruteForce(points): see the class.", py::arg("points"));

    m.def("load", &load, R"(load(path) -> KdTree or BdTree

A tree and its points read from a dump that dump(path) wrote: a BdTree when it has shrinking nodes,
otherwise a KdTree. A malformed dump raises RuntimeError with the reader's message.)",
          py::arg("path"));
}
