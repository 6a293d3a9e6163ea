// The dump of kd- and bd-trees: the writer, the reader, and the loader that makes a tree of what the
// reader returns. Writer and reader walk the nodes without recursion, so trees and dumps of any depth
// can be handled.
#include <qel/treedump.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <ios>
#include <limits>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <qel/bdtree.h>

namespace qel {

namespace {

/// A dump's double: the text of 15 significant digits in general notation when it reads back to the
/// same value, as dumps have always been written; otherwise the fewest further digits that do.
struct DumpNumber {
    double value;
};

std::ostream& operator<<(std::ostream& out, DumpNumber number) {
    char text[32];
    for (int digits = 15;; ++digits) {
        const auto written =
            std::to_chars(text, text + sizeof text, number.value, std::chars_format::general, digits);
        double back = 0.0;
        std::from_chars(text, written.ptr, back);
        // NaN never equals itself, and 17 digits always suffice.
        if (back == number.value || digits == 17 || std::isnan(number.value))
            return out.write(text, written.ptr - text);
    }
}

/// A dump's integer: plain decimal whatever the stream's locale and flags. Writing it as characters
/// leaves the stream's locale alone: changing it on a stream whose buffer cannot be flushed (a full
/// disk) leaves the buffer without a converter, and the next write throws.
struct DumpInt {
    long long value;
};

std::ostream& operator<<(std::ostream& out, DumpInt number) {
    char text[24];
    const auto written = std::to_chars(text, text + sizeof text, number.value);
    return out.write(text, written.ptr - text);
}

/// A point or box line of a dump.
void writeDumpPoint(const double* p, int dim, std::ostream& out) {
    for (int i = 0; i < dim; ++i) {
        if (i > 0) out << ' ';
        out << DumpNumber{p[i]};
    }
}

/// Writes the records of the subtree at node in preorder, without recursion.
void dumpSubtree(QELkd_node* node, std::ostream& out) {
    std::vector<QELkd_node*> pending{node};
    while (!pending.empty()) {
        QELkd_node* next = pending.back();
        pending.pop_back();
        if (auto* split = dynamic_cast<QELkd_split*>(next)) {
            out << "split " << DumpInt{split->splitDimension} << " " << DumpNumber{split->splitValue} << " "
                << DumpNumber{split->cellLower} << " " << DumpNumber{split->cellUpper} << "\n";
            pending.push_back(split->upperChild);
            pending.push_back(split->lowerChild);
        } else if (auto* shrink = dynamic_cast<QELbd_shrink*>(next)) {
            out << "shrink " << DumpInt{shrink->boundCount} << "\n";
            for (int i = 0; i < shrink->boundCount; ++i) {
                const HalfSpace& h = shrink->bounds[i];
                out << DumpInt{h.boundDimension} << " " << DumpNumber{h.boundValue} << " "
                    << DumpInt{h.boundSide} << "\n";
            }
            pending.push_back(shrink->outerChild);
            pending.push_back(shrink->innerChild);
        } else if (auto* leaf = dynamic_cast<QELkd_leaf*>(next)) {
            // The shared empty leaf comes out as "leaf 0".
            out << "leaf " << DumpInt{leaf->bucketCount};
            for (int i = 0; i < leaf->bucketCount; ++i)
                out << " " << DumpInt{leaf->bucketIndices[i]};
            out << "\n";
        } else {
            out << "null\n";
        }
    }
}

/// A box corner line; a tree without points has no box and writes zeros.
void writeCorner(Point corner, int dim, std::ostream& out) {
    if (corner != nullptr) {
        writeDumpPoint(corner, dim, out);
    } else {
        std::vector<double> zeros(static_cast<std::size_t>(std::max(dim, 0)), 0.0);
        writeDumpPoint(zeros.data(), dim, out);
    }
    out << "\n";
}

} // namespace

void QELkd_leaf::dumpNode(std::ostream& out) {
    dumpSubtree(this, out);
}

void QELkd_split::dumpNode(std::ostream& out) {
    dumpSubtree(this, out);
}

void QELbd_shrink::dumpNode(std::ostream& out) {
    dumpSubtree(this, out);
}

void QELkd_tree::dumpTree(bool withPoints, std::ostream& out) {
    out << "#QEL 1.1.1\n";
    if (withPoints) {
        out << "points " << DumpInt{dimensionCount} << " " << DumpInt{dataCount} << "\n";
        for (int i = 0; i < dataCount; ++i) {
            out << DumpInt{i} << " ";
            writeDumpPoint(dataPoints[i], dimensionCount, out);
            out << "\n";
        }
    }
    out << "tree " << DumpInt{dimensionCount} << " " << DumpInt{dataCount} << " " << DumpInt{bucketSize}
        << "\n";
    writeCorner(boxLower, dimensionCount, out);
    writeCorner(boxUpper, dimensionCount, out);
    if (rootNode != nullptr)
        rootNode->dumpNode(out);
    else
        out << "null\n";
}

namespace {

/// The largest coordinate of a tame point: the builder's sums and midpoints of such coordinates cannot
/// overflow.
constexpr double tameLimit = std::numeric_limits<double>::max() / 4;

/// Longest word the reader accepts, and the longest rest of the header line.
constexpr std::size_t longestWord = 499;

/// The blank-separated items of a dump, read straight from the stream's buffer so that several
/// scanners can take turns on one stream. Every fault of the input is a fatal report.
class DumpScanner {
public:
    explicit DumpScanner(std::istream& in) : source(in.rdbuf()) {}

    /// The next word; empty at the end of the input.
    std::string_view wordOrEnd() {
        int c = peek();
        while (isBlank(c)) {
            source->sbumpc();
            c = peek();
        }
        std::size_t length = 0;
        while (c != endOfInput && !isBlank(c)) {
            if (length == longestWord) reportError("Word too long in dump file", Fatal);
            buffer[length++] = static_cast<char>(c);
            source->sbumpc();
            c = peek();
        }
        return {buffer, length};
    }

    std::string_view word() {
        const std::string_view text = wordOrEnd();
        if (text.empty()) reportError("Unexpected end of dump file", Fatal);
        return text;
    }

    int integer() {
        int value = 0;
        parse(word(), value);
        return value;
    }

    double real() {
        double value = 0.0;
        parse(word(), value);
        return value;
    }

    /// Skips the rest of the current line and its line end.
    void skipLine() {
        std::size_t length = 0;
        for (int c = peek(); c != endOfInput; c = peek()) {
            source->sbumpc();
            if (c == '\n') return;
            if (++length > longestWord) reportError("Header line too long in dump file", Fatal);
        }
    }

private:
    static constexpr int endOfInput = std::char_traits<char>::eof();

    static bool isBlank(int c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    int peek() { return source == nullptr ? endOfInput : source->sgetc(); }

    /// The whole word must be the number; a leading "+" is accepted, as formatted extraction does.
    template <class Number> static void parse(std::string_view text, Number& value) {
        if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
        const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (fault != std::errc{} || end != text.data() + text.size())
            reportError("Illegal number in dump file", Fatal);
    }

    std::streambuf* source;
    char buffer[longestWord];
};

/// Owns a node read so far and its subtree (never the shared empty leaf).
struct SubtreeDeleter {
    void operator()(QELkd_node* node) const { destroySubtree(node); }
};
using SubtreePtr = std::unique_ptr<QELkd_node, SubtreeDeleter>;

/// A split or shrink record whose children are being read.
struct OpenRecord {
    bool shrinking;                  ///< shrink record (else split)
    int cutDim = 0;                  ///< split: the dimension cut
    double cutValue = 0.0;           ///< split: the cutting coordinate
    double lowBound = 0.0;           ///< split: the cell's lower bound along cutDim
    double highBound = 0.0;          ///< split: the cell's upper bound along cutDim
    std::vector<HalfSpace> bounds{}; ///< shrink: the bound lines
    std::vector<double> sides{};     ///< the checked sides the record replaces (see CellCheck)
    int firstIndex = 0;              ///< index entries filled before the record
    SubtreePtr firstChild{};         ///< the lower or inner child, once read
    bool firstRead = false;          ///< the second child is being read

    /// The node of the record; takes both children.
    SubtreePtr make(SubtreePtr secondChild) {
        if (!shrinking) {
            SubtreePtr node(
                new QELkd_split(cutDim, cutValue, lowBound, highBound, firstChild.get(), secondChild.get()));
            firstChild.release();
            secondChild.release();
            return node;
        }
        const int count = static_cast<int>(bounds.size());
        std::unique_ptr<HalfSpace[]> array(count > 0 ? new HalfSpace[bounds.size()] : nullptr);
        std::copy(bounds.begin(), bounds.end(), array.get());
        SubtreePtr node(new QELbd_shrink(count, array.get(), firstChild.get(), secondChild.get()));
        array.release();
        firstChild.release();
        secondChild.release();
        return node;
    }
};

/// The cell of the record being read and the points, with which readDump checks what the searches rely
/// on: a split's far distance replaces the query's gap to the recorded cell bounds by its gap to the cut,
/// and a shrink's inner distance counts each violated bound once, so the recorded bounds must be the
/// cell's, each bound must lie in the cell it narrows, and every leaf point must lie in the region its
/// ancestors' cuts and bounds leave. A point exactly on a cut may lie on either side (the builder
/// balances ties across it). The fair rules may cut beyond the cell, sending every point to one side:
/// the builder then records that child's cell widened to the cut, while its points stay in the region.
/// A point of the outer child of a shrink needs only the shrink's own region: the searches give that
/// child the shrink's cell distance.
struct CellCheck {
    PointArray points;
    std::vector<double> lower; ///< the cell as the builder records it
    std::vector<double> upper;
    std::vector<double> lowest; ///< the region the points must lie in
    std::vector<double> highest;

    void enterBox() const {
        for (std::size_t d = 0; d < lower.size(); ++d) {
            if (!(std::isfinite(lower[d]) && std::isfinite(upper[d])))
                reportError("Box corner is not finite in dump file", Fatal);
            if (lower[d] > upper[d]) reportError("Box corners are out of order in dump file", Fatal);
        }
    }

    void enterSplit(OpenRecord& split) {
        const std::size_t d = static_cast<std::size_t>(split.cutDim);
        if (!std::isfinite(split.cutValue)) reportError("Cutting value is not finite in dump file", Fatal);
        if (split.lowBound != lower[d] || split.highBound != upper[d])
            reportError("Split bounds differ from its cell in dump file", Fatal);
        split.sides = {lowest[d], highest[d]};
        upper[d] = split.cutValue;
        highest[d] = std::min(highest[d], split.cutValue);
    }

    /// Narrows the cell to the inner box, keeping the sides replaced for the outer child.
    void enterShrink(OpenRecord& shrink) {
        for (const HalfSpace& h : shrink.bounds) {
            const std::size_t d = static_cast<std::size_t>(h.boundDimension);
            if (!std::isfinite(h.boundValue)) reportError("Shrink bound is not finite in dump file", Fatal);
            // Checked against the cell as narrowed by the bounds before it, which catches a flipped box.
            if (h.boundValue < lower[d] || h.boundValue > upper[d])
                reportError("Shrink bound is outside its cell in dump file", Fatal);
            const bool low = h.boundSide > 0;
            double& side = low ? lower[d] : upper[d];
            double& region = low ? lowest[d] : highest[d];
            shrink.sides.push_back(side);
            shrink.sides.push_back(region);
            side = h.boundValue;
            region = low ? std::max(region, side) : std::min(region, side);
        }
    }

    /// From the first child's cell to the second's.
    void enterSecond(const OpenRecord& record) {
        if (!record.shrinking) {
            const std::size_t d = static_cast<std::size_t>(record.cutDim);
            upper[d] = record.highBound;
            lower[d] = record.cutValue;
            highest[d] = record.sides[1];
            lowest[d] = std::max(record.sides[0], record.cutValue);
            return;
        }
        for (std::size_t i = record.bounds.size(); i-- > 0;) {
            const HalfSpace& h = record.bounds[i];
            const std::size_t d = static_cast<std::size_t>(h.boundDimension);
            (h.boundSide > 0 ? lower : upper)[d] = record.sides[2 * i];
            (h.boundSide > 0 ? lowest : highest)[d] = record.sides[2 * i + 1];
        }
    }

    void leave(const OpenRecord& record) {
        if (record.shrinking) return;
        lower[static_cast<std::size_t>(record.cutDim)] = record.lowBound;
        lowest[static_cast<std::size_t>(record.cutDim)] = record.sides[0];
    }

    void checkPoint(int index) const {
        const Point p = points[index];
        for (std::size_t d = 0; d < lower.size(); ++d)
            if (!(p[d] >= lowest[d] && p[d] <= highest[d]))
                reportError("Point lies outside its cell in dump file", Fatal);
    }
};

SubtreePtr readLeaf(DumpScanner& scan, int n, IndexArray indices, int& next, std::vector<bool>& seen,
                    const CellCheck* cell) {
    const int count = scan.integer();
    if (count < 0) reportError("Illegal leaf size in dump file", Fatal);
    if (count == 0) return SubtreePtr(markSharedEmptyLeaf());
    if (count > n - next) reportError("Too many point indices in dump file", Fatal);
    const int start = next;
    for (int i = 0; i < count; ++i) {
        const int index = scan.integer();
        if (index < 0 || index >= n) reportError("Point index is out of range", Fatal);
        if (seen[index]) reportError("Point index is repeated in dump file", Fatal);
        seen[index] = true;
        if (cell != nullptr) cell->checkPoint(index);
        indices[next++] = index;
    }
    return SubtreePtr(new QELkd_leaf(count, indices + start));
}

OpenRecord readSplit(DumpScanner& scan, int dim, int next) {
    OpenRecord record{false};
    record.cutDim = scan.integer();
    if (record.cutDim < 0 || record.cutDim >= dim) reportError("Cutting dimension is out of range", Fatal);
    record.cutValue = scan.real();
    record.lowBound = scan.real();
    record.highBound = scan.real();
    record.firstIndex = next;
    return record;
}

OpenRecord readShrink(DumpScanner& scan, int dim, int next) {
    OpenRecord record{true};
    const int count = scan.integer();
    if (count < 0) reportError("Illegal bound count in dump file", Fatal);
    // Bounds are collected as they are read, so memory follows the input, never the claimed count.
    for (int i = 0; i < count; ++i) {
        HalfSpace h;
        h.boundDimension = scan.integer();
        if (h.boundDimension < 0 || h.boundDimension >= dim)
            reportError("Bound dimension is out of range", Fatal);
        h.boundValue = scan.real();
        h.boundSide = scan.integer();
        if (h.boundSide != 1 && h.boundSide != -1) reportError("Illegal bound side in dump file", Fatal);
        record.bounds.push_back(h);
    }
    // A side bounded twice would count the query's gap to it twice in the inner distance.
    std::vector<std::pair<int, int>> sides;
    for (const HalfSpace& h : record.bounds)
        sides.emplace_back(h.boundDimension, h.boundSide);
    std::sort(sides.begin(), sides.end());
    if (std::adjacent_find(sides.begin(), sides.end()) != sides.end())
        reportError("Shrink bound is repeated in dump file", Fatal);
    record.firstIndex = next;
    return record;
}

/// dim coordinates, collected before the corner is made so that memory follows the input.
std::unique_ptr<double[]> readCorner(DumpScanner& scan, int dim) {
    std::vector<double> coordinates;
    for (int d = 0; d < dim; ++d)
        coordinates.push_back(scan.real());
    std::unique_ptr<double[]> corner(newPoint(dim, 0.0));
    std::copy(coordinates.begin(), coordinates.end(), corner.get());
    return corner;
}

/// The records of a tree, checked against cell when it is given.
QELkd_node* readNodes(std::istream& in, TreeKind kind, int dim, int n, IndexArray indices, int& next,
                      CellCheck* cell) {
    DumpScanner scan(in);
    std::vector<bool> seen(static_cast<std::size_t>(std::max(n, 0)), false);
    // The records whose children are being read, innermost last: reading needs no recursion, so a
    // deeply nested dump cannot overflow the stack.
    std::vector<OpenRecord> open;
    for (;;) {
        SubtreePtr node;
        const std::string_view word = scan.word();
        if (word == "split") {
            open.push_back(readSplit(scan, dim, next));
            if (cell != nullptr) cell->enterSplit(open.back());
            continue;
        }
        if (word == "shrink") {
            if (kind != Bd) reportError("Shrinking node not allowed in kd-tree", Fatal);
            open.push_back(readShrink(scan, dim, next));
            if (cell != nullptr) cell->enterShrink(open.back());
            continue;
        }
        if (word == "leaf")
            node = readLeaf(scan, n, indices, next, seen, cell);
        else if (word != "null")
            reportError("Illegal node type in dump file", Fatal);
        else if (!open.empty()) // "null" stands only for a whole tree without points
            reportError("Empty subtree in dump file", Fatal);
        // Hand the finished node up until a record is still waiting for its second child.
        for (;;) {
            if (open.empty()) return node.release();
            OpenRecord& parent = open.back();
            if (!parent.firstRead) {
                parent.firstChild = std::move(node);
                parent.firstRead = true;
                if (cell != nullptr) cell->enterSecond(parent);
                break;
            }
            // The builder makes a split or shrink only for a cell holding points.
            if (next == parent.firstIndex) reportError("Empty subtree in dump file", Fatal);
            if (cell != nullptr) cell->leave(parent);
            node = parent.make(std::move(node));
            open.pop_back();
        }
    }
}

} // namespace

QELkd_node* readDumpNode(std::istream& in, TreeKind kind, int dim, int n, IndexArray indices, int& next) {
    return readNodes(in, kind, dim, n, indices, next, nullptr);
}

QELkd_node* readDump(std::istream& in, TreeKind kind, PointArray& points, IndexArray& indices, int& dim,
                     int& n, int& bucketSize, Point& lower, Point& upper) {
    DumpScanner scan(in);
    if (scan.wordOrEnd() != "#QEL") reportError("Incorrect header for dump file", Fatal);
    scan.skipLine();
    if (scan.wordOrEnd() != "points") reportError("Points must be supplied in the dump file", Fatal);
    const int pointDim = scan.integer();
    if (pointDim < 0) reportError("Illegal dimension in dump file", Fatal);
    const int pointCount = scan.integer();
    if (pointCount < 0) reportError("Illegal point count in dump file", Fatal);
    // Coordinates are kept in the order read and placed at the end, so that memory follows the input
    // actually present, never a count it merely claims.
    std::vector<int> listed;
    std::vector<double> coordinates;
    bool tame = true;
    for (int line = 0; line < pointCount; ++line) {
        const int index = scan.integer();
        if (index < 0 || index >= pointCount) reportError("Point index is out of range", Fatal);
        listed.push_back(index);
        for (int d = 0; d < pointDim; ++d) {
            coordinates.push_back(scan.real());
            tame = tame && std::fabs(coordinates.back()) <= tameLimit;
        }
    }
    // A point listed twice leaves another unlisted, at zero coordinates.
    std::vector<bool> given(listed.size(), false);
    for (const int index : listed) {
        if (given[static_cast<std::size_t>(index)])
            reportError("Point index is repeated in dump file", Fatal);
        given[static_cast<std::size_t>(index)] = true;
    }
    OwnedPoints pointArray(newPointArray(pointCount, pointDim));
    for (std::size_t line = 0; line < listed.size(); ++line)
        std::copy_n(coordinates.begin() + static_cast<std::ptrdiff_t>(line * pointDim), pointDim,
                    pointArray[listed[line]]);

    if (scan.wordOrEnd() != "tree") reportError("Illegal dump format.\tExpecting section heading", Fatal);
    const int treeDim = scan.integer();
    const int treeCount = scan.integer();
    if (treeDim != pointDim || treeCount != pointCount)
        reportError("Tree section does not match points section", Fatal);
    const int bucket = scan.integer();
    if (bucket < 1) reportError("Illegal bucket size in dump file", Fatal);
    std::unique_ptr<double[]> lowerCorner = readCorner(scan, pointDim);
    std::unique_ptr<double[]> upperCorner = readCorner(scan, pointDim);

    // Only tame points make a tree whose every cut and bound is finite: with larger ones the builder's
    // midpoints and sums overflow (an overflowed cut can leave points on its wrong side, F14 of
    // fuzz/README.md), and NaN coordinates give NaN cuts and boxes. Such dumps are read unchecked.
    const std::vector<double> lowerSides(lowerCorner.get(), lowerCorner.get() + pointDim);
    const std::vector<double> upperSides(upperCorner.get(), upperCorner.get() + pointDim);
    CellCheck cell{pointArray.get(), lowerSides, upperSides, lowerSides, upperSides};
    if (tame) cell.enterBox();
    std::unique_ptr<int[]> index(new int[static_cast<std::size_t>(pointCount)]());
    int next = 0;
    SubtreePtr root(readNodes(in, kind, pointDim, pointCount, index.get(), next, tame ? &cell : nullptr));
    // The searches would never find a point that no leaf holds, and the writer leaves none out.
    if (next != pointCount) reportError("Didn't see as many points as expected", Fatal);

    points = pointArray.release();
    indices = index.release();
    dim = pointDim;
    n = pointCount;
    bucketSize = bucket;
    // A tree without a root has no box, like a built tree without points.
    lower = root != nullptr ? lowerCorner.release() : nullptr;
    upper = root != nullptr ? upperCorner.release() : nullptr;
    return root.release();
}

LoadedTree loadTree(std::istream& in, TreeKind kind) {
    PointArray points = nullptr;
    IndexArray indices = nullptr;
    int dim = 0;
    int n = 0;
    int bucketSize = 0;
    Point lower = nullptr;
    Point upper = nullptr;
    SubtreePtr root(readDump(in, kind, points, indices, dim, n, bucketSize, lower, upper));
    // Held until the tree has taken them: making it may throw.
    LoadedTree loaded{OwnedPoints(points), nullptr};
    std::unique_ptr<int[]> index(indices);
    std::unique_ptr<double[]> lowerCorner(lower);
    std::unique_ptr<double[]> upperCorner(upper);
    // A dump without points leaves nothing to own: the tree gets no point array.
    if (n == 0) loaded.points.reset();
    if (kind == Bd)
        loaded.tree.reset(
            new QELbd_tree(loaded.points.get(), index.get(), n, dim, bucketSize, lower, upper, root.get()));
    else
        loaded.tree.reset(
            new QELkd_tree(loaded.points.get(), index.get(), n, dim, bucketSize, lower, upper, root.get()));
    index.release();
    lowerCorner.release();
    upperCorner.release();
    root.release();
    return loaded;
}

} // namespace qel
