// The one place where an error that leaves an event handler becomes a message.
#include "windowops.h"

#include <new>
#include <string>
#include <system_error>

namespace knn {

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
