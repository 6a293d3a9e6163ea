// Shared by the fuzz targets: a library fatal report turned into an exception the target catches, a
// check that stops the fuzzer with a message when a property of the system does not hold, and the
// decoding of point sets from the input.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include <qel/qelinclude.h>

namespace fuzz {

/// Thrown by the fatal handler: a fatal library report is an expected outcome of hostile input.
class FatalReport : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The message of the last fatal report, for a target whose caller swallows the exception.
inline std::string lastFatal;

/// Installs, once per process, the handler that throws `FatalReport`.
inline void throwOnFatal() {
    static const bool installed = [] {
        qel::setFatalHandler([](const char* message) {
            lastFatal = message;
            throw FatalReport(message);
        });
        return true;
    }();
    (void)installed;
}

/// A broken property: what the system did, so the crash report says more than the stack.
[[noreturn]] inline void fail(const std::string& what, const char* file, int line) {
    std::fprintf(stderr, "\nFUZZ CHECK FAILED %s:%d: %s\n", file, line, what.c_str());
    std::abort();
}

/// Owns the points a structure searches.
struct Points {
    Points(int n, int dim) : array(qel::newPointArray(n, dim)) {}
    ~Points() { qel::releasePointArray(array); }
    Points(const Points&) = delete;
    Points& operator=(const Points&) = delete;
    qel::PointArray array;
};

/// Magnitudes that stress rounding, overflow and underflow. A point set draws its coordinates from two
/// of them (so that most sets build quickly and some mix 1e-300 with 1e300), each times a small integer,
/// so equal bytes give equal coordinates.
struct Palette {
    static constexpr double scales[8] = {1.0, 0.125, 1e-300, 1e300, 1e-5, 1e15, 4.9e-324, 1e150};
    double first = 1.0;
    double second = 1.0;

    double coordinate(std::uint8_t byte) const {
        return ((byte & 128) != 0 ? second : first) * static_cast<double>((byte & 31) - 16);
    }
};

/// Fills p from the input: new coordinates, or a copy of one of the earlier points (duplicates and, with
/// one coordinate changed, nearly coincident ones).
inline void fillPoint(FuzzedDataProvider& input, const Palette& palette, qel::Point p, int dim,
                      const qel::PointArray earlier, int earlierCount) {
    const std::uint8_t how = input.ConsumeIntegral<std::uint8_t>();
    if (earlierCount > 0 && how < 96) {
        std::copy_n(earlier[how % earlierCount], dim, p);
        if (how >= 64) p[how % dim] = palette.coordinate(input.ConsumeIntegral<std::uint8_t>());
        return;
    }
    for (int d = 0; d < dim; ++d)
        p[d] = palette.coordinate(input.ConsumeIntegral<std::uint8_t>());
}

} // namespace fuzz

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) fuzz::fail(#condition, __FILE__, __LINE__);                                        \
    } while (false)
