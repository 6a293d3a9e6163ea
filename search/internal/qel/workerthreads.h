// Work split into parts that run side by side: the calling thread takes part 0, every other part a
// thread of its own. The library's batch searches and builds use it, and so does the test bench.
#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace qel {

/// The thread count a call asks for, as used: below 1 means one per core.
inline int threadsFor(int requested) {
    return requested >= 1 ? requested : static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
}

/// Runs work(part) for every part from 0 to parts - 1 and returns when all have ended; an error that
/// leaves a part is thrown again on the calling thread (the lowest part's, when several fail).
template <class Work> void runOnThreads(std::size_t parts, Work work) {
    std::vector<std::exception_ptr> errors(parts);
    auto runPart = [&](std::size_t part) {
        try {
            work(part);
        } catch (...) {
            errors[part] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (std::size_t part = 1; part < parts; ++part)
            helpers.emplace_back(runPart, part);
        runPart(0);
    }
    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
}

} // namespace qel
