// Assembly of the desktop program.
#include "desktopbench.h"

#include <algorithm>
#include <thread>

#include "comparewindow.h"
#include "mainwindow.h"
#include "resultswindow.h"
#include "rungate.h"
#include "session.h"

DesktopBench::DesktopBench() = default;

DesktopBench::~DesktopBench() = default;

void DesktopBench::build() {
    knn::runHandler(ops, [this] {
        form1 = std::make_unique<MainWindow>();
        form2 = new ResultsWindow(form1.get());
        ops.attach(*form1, *form2);
        auto newDriver = std::make_unique<knn::RunDriver>(ops);
        // Runs load, build and search on every core; their results are those of one thread.
        newDriver->setThreads(static_cast<int>(std::max(1U, std::thread::hardware_concurrency())));
        form1->setRunDriver(*newDriver);
        form2->setRunDriver(*newDriver);
        QObject::connect(&form1->runGate(), &RunGate::ended, form2, &ResultsWindow::runEnded);
        compare = new CompareWindow(*form1, *newDriver);
        QObject::connect(form1.get(), &MainWindow::compareRequested, compare, [this] {
            compare->show();
            compare->raise();
        });
        driver = std::move(newDriver);
    });
}
