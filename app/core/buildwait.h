// A build on a thread of its own, waited for by the run's thread, which meanwhile keeps reporting the
// build's progress and looking for a cancel: a cancel need not wait for the build to end.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#include "windowops.h"

namespace knn {

class BuildWait {
public:
    explicit BuildWait(WindowOps& window) : window(window) {}
    ~BuildWait() { finishAbandoned(); }
    BuildWait(const BuildWait&) = delete;
    BuildWait& operator=(const BuildWait&) = delete;

    /// make()'s result, or empty, the build given up, when the window asks to cancel. A build given up
    /// goes on reading what it was given, so `inputs` (moved from) then stays with it until it ends.
    template <class Make, class Inputs>
    std::optional<std::invoke_result_t<Make>> run(Make make, Inputs& inputs) {
        auto build = std::async(std::launch::async, std::move(make));
        while (build.wait_for(PollInterval) != std::future_status::ready) {
            window.progress(RunPhase::Building, 0, 0);
            if (!window.cancelRequested()) continue;
            abandoned = [job = std::make_shared<decltype(build)>(std::move(build)),
                         kept = std::make_shared<Inputs>(std::move(inputs))] {
                try {
                    job->get(); // the structure it built goes at once, before what it read
                } catch (...) {
                    // What went wrong in a build nobody waits for concerns no run.
                }
            };
            return std::nullopt;
        }
        return build.get();
    }

    /// Waits for a build given up by a cancelled run and releases what it built and read.
    void finishAbandoned() {
        if (!abandoned) return;
        abandoned();
        abandoned = nullptr;
    }

private:
    /// How often the waiting thread reports progress and looks for a cancel.
    static constexpr auto PollInterval = std::chrono::milliseconds(20);

    WindowOps& window;
    std::function<void()> abandoned; ///< waits for a given-up build, then frees it and its inputs
};

} // namespace knn
