// Work split into parts that run side by side: the calling thread takes part 0, every other part a
// thread of its own. The core's windows hear only from the calling thread.
#pragma once

#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace knn {

/// Runs work(part) for every part from 0 to parts - 1 and returns when all have ended; an error that
/// leaves a part is raised again on the calling thread (the lowest part's, when several fail).
template <class Work> void runInParallel(std::size_t parts, Work work) {
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

} // namespace knn
