// The one place where an error that leaves an event handler becomes a message.
#include "windowops.h"

#include <new>
#include <string>
#include <system_error>

namespace knn {

std::string RunEndLine(const RunTimings& timings) {
    if (timings.end == RunEnd::Complete) return {};
    std::string line = timings.end == RunEnd::Cancelled ? "Cancelled" : "Failed";
    switch (timings.reached) {
    case TimedPhase::None:
        return line;
    case TimedPhase::Load:
        return line + " during the load";
    case TimedPhase::Build:
        return line + " during the build";
    case TimedPhase::Queries:
        line += " during the queries";
        break;
    case TimedPhase::Output:
        line += " while showing the results";
        break;
    }
    return line + ": " + std::to_string(timings.queriesAnswered) + " of " +
           std::to_string(timings.queryCount) + " queries answered";
}

bool runHandler(WindowOps& window, const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const RunError& error) {
        window.showMessage(error.what());
    } catch (const std::bad_alloc&) {
        window.showMessage("Out of memory");
    } catch (const std::system_error& error) {
        // The system refused a resource, most often a thread: the cause is the message.
        window.showMessage(std::string("System error: ") + error.what());
    } catch (...) {
        window.showMessage("");
    }
    return false;
}

} // namespace knn
