// Renders the windows after a run and a compare run on the bundled sample into PNG files, for reviewing the
// look without a display (run it with QT_QPA_PLATFORM=offscreen). Usage: knnbench-screenshots OUTPUT_DIR
#include "comparewindow.h"
#include "desktopbench.h"
#include "dialogs.h"
#include "mainwindow.h"
#include "resultswindow.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <cstdio>

namespace {

bool save(QWidget& window, const QDir& dir, const QString& name) {
    QApplication::processEvents();
    const QString path = dir.filePath(name);
    if (!window.grab().save(path, "PNG")) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: knnbench-screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "could not create %s\n", argv[1]);
        return 1;
    }
    Dialogs::setScripted(true);
    DesktopBench bench;
    bench.build();
    if (!bench.built()) return 1;
    bench.form1->show();
    bench.form1->BitBtn1->click();
    for (const QString& message : Dialogs::takeShownMessages())
        std::fprintf(stderr, "message: %s\n", qPrintable(message));
    bool written = save(*bench.form1, dir, QStringLiteral("main-window.png")) &&
                   save(*bench.form2, dir, QStringLiteral("results-window.png"));
    bench.form1->BitBtn4->click();
    bench.compare->RunButton->click();
    written = written && save(*bench.compare, dir, QStringLiteral("compare-window.png"));
    bench.form1->BitBtn2->click();
    written = written && save(*bench.form1, dir, QStringLiteral("main-window-all-options.png"));
    return written ? 0 : 1;
}
