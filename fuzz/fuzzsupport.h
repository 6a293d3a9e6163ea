// Shared by the fuzz targets: a library fatal report turned into an exception the target catches, and a
// check that stops the fuzzer with a message when a property of the system does not hold.
#pragma once

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

} // namespace fuzz

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) fuzz::fail(#condition, __FILE__, __LINE__);                                        \
    } while (false)
