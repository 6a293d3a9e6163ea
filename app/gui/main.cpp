// Program entry of the desktop test bench: the application object, the main window and the hidden
// results window, then the message loop until the main window closes. An error that escapes any event
// handler is shown in a message box and the program goes on with the next event; the exit code is 0.
#include "desktopbench.h"
#include "mainwindow.h"

#include <QApplication>

namespace {

/// Delivers every event under the error display of the window operations.
class BenchApplication : public QApplication {
public:
    using QApplication::QApplication;

    void setErrorDisplay(knn::WindowOps* display) { errorDisplay = display; }

    bool notify(QObject* receiver, QEvent* event) override {
        if (!errorDisplay) return QApplication::notify(receiver, event);
        bool handled = false;
        knn::runHandler(*errorDisplay, [&] { handled = QApplication::notify(receiver, event); });
        return handled;
    }

private:
    knn::WindowOps* errorDisplay = nullptr; ///< where escaping errors are shown
};

} // namespace

int main(int argc, char** argv) {
    BenchApplication app(argc, argv);
    BenchApplication::setApplicationName(QStringLiteral("knnbench"));
    DesktopBench bench;
    app.setErrorDisplay(&bench.ops);
    bench.build();
    if (bench.built()) {
        bench.form1->show();
        BenchApplication::exec();
    }
    app.setErrorDisplay(nullptr);
    return 0;
}
