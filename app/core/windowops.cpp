// The one place where an error that leaves an event handler becomes a message.
#include "windowops.h"

#include <new>

namespace knn {

bool runHandler(WindowOps& window, const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const RunError& error) {
        window.showMessage(error.what());
    } catch (const std::bad_alloc&) {
        window.showMessage("Out of memory");
    } catch (...) {
        window.showMessage("");
    }
    return false;
}

} // namespace knn
