// The desktop program's parts, built in this order: the main window "KNN", the results window (hidden,
// owned by the main window so only the main window counts as the application's window), the window
// operations over both, the run driver behind "OK" and "Reload data", and the compare window.
#pragma once

#include "desktopops.h"

#include <memory>

namespace knn {
class RunDriver;
}

class CompareWindow;
class MainWindow;
class ResultsWindow;

class DesktopBench {
public:
    DesktopBench();
    ~DesktopBench();
    DesktopBench(const DesktopBench&) = delete;
    DesktopBench& operator=(const DesktopBench&) = delete;

    /// Builds the windows and the driver; an error that escapes is shown and leaves `built()` false.
    void build();
    bool built() const { return driver != nullptr; }

    // Destroyed in reverse order: the windows go before the driver, whose tables their views show.
    DesktopWindowOps ops;                   ///< shows errors even before the windows exist
    std::unique_ptr<knn::RunDriver> driver; ///< the run state behind "OK" and "Reload data"
    std::unique_ptr<MainWindow> form1;      ///< the main window
    ResultsWindow* form2 = nullptr;         ///< the results window, owned by form1
    CompareWindow* compare = nullptr;       ///< the compare window, owned by form1
};
