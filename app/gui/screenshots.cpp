// Renders the two windows after a run on the bundled sample and the compare window after a compare run on
// it into PNG files, for reviewing the look without a display (run it with QT_QPA_PLATFORM=offscreen),
// then the results of a run on a million generated points, whole and zoomed in.
// Usage: knnbench-screenshots OUTPUT_DIR
#include "comparewindow.h"
#include "desktopbench.h"
#include "dialogs.h"
#include "mainwindow.h"
#include "resultschart.h"
#include "resultswindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <random>

namespace {

bool save(QWidget& window, const QDir& dir, const QString& name) {
    // A nested layout that changes posts a request to its parent's: two rounds settle them all.
    QApplication::processEvents();
    QApplication::processEvents();
    const QString path = dir.filePath(name);
    if (!window.grab().save(path, "PNG")) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

/// Writes count points of a few elongated clusters, always the same ones, one per line.
bool writeClusters(const QString& path, int count, unsigned seed) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    std::mt19937 random(seed);
    std::normal_distribution<double> spread(0.0, 1.0);
    const double centres[][4] = {{0, 0, 1.6, 0.5}, {6, 4, 0.6, 1.8}, {-5, 5, 1.0, 1.0}, {3, -5, 2.5, 0.4}};
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        const double* c = centres[random() % std::size(centres)];
        text += QByteArray::number(c[0] + c[2] * spread(random), 'f', 5) + ' ' +
                QByteArray::number(c[1] + c[3] * spread(random), 'f', 5) + '\n';
    }
    return file.write(text) == text.size();
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

    const QTemporaryDir big;
    const QString dataPath = big.filePath(QStringLiteral("million.pts"));
    const QString queryPath = big.filePath(QStringLiteral("queries.pts"));
    if (!big.isValid() || !writeClusters(dataPath, 1000000, 1) || !writeClusters(queryPath, 10000, 2)) {
        std::fprintf(stderr, "could not write the generated points\n");
        return 1;
    }
    bench.form1->Edit1->setText(dataPath);
    bench.form1->Edit2->setText(queryPath);
    bench.form1->BitBtn1->click();
    written = written && save(*bench.form2, dir, QStringLiteral("results-window-million.png"));
    // A small part of one cluster, where single markers show again.
    ResultsChart& chart = *bench.form2->Chart1;
    chart.showRange({-0.1, 0.1, -0.06, 0.06});
    written = written && save(chart, dir, QStringLiteral("chart-million-zoomed.png"));
    return written ? 0 : 1;
}
