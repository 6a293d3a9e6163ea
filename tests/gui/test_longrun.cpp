// Runs long enough to interact with, on a million generated points: Cancel and Esc in every phase,
// closing the window during a run, controls that must not act while a run is in progress, and what
// the windows show after a complete run of that size.
#include "guitest.h"
#include "radiogroup.h"
#include "resultschart.h"
#include "spinedit.h"
#include "tablemodel.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <functional>
#include <random>

class LongRunTest : public BenchTest {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init() { startBench(); }
    void cleanup() { stopBench(); }

    void cancelEndsEveryPhaseQuickly_data();
    void cancelEndsEveryPhaseQuickly();
    void closingDuringRunCancelsAndCloses();
    void noControlButCancelActsDuringRun();
    void millionPointRunShowsEverythingWhole();

private:
    static constexpr int dataCount = 1000000;
    static constexpr int queryCount = 10000;
    static constexpr qint64 cancelBoundMs = 200;

    /// Writes count points, always the same ones, one per line.
    QString writePoints(const QString& name, int count, unsigned seed) {
        std::mt19937 random(seed);
        std::normal_distribution<double> spread(0.0, 1.0);
        QByteArray text;
        for (int i = 0; i < count; ++i)
            text += QByteArray::number(spread(random), 'f', 6) + ' ' +
                    QByteArray::number(spread(random), 'f', 6) + '\n';
        return writeFile(name, text);
    }
    void useBigFiles(int mode) {
        form1().Edit1->setText(bigData);
        form1().Edit2->setText(bigQueries);
        if (form1().CheckBox6->isChecked())
            QTest::mouseClick(form1().CheckBox6, Qt::LeftButton, {},
                              QPoint(8, form1().CheckBox6->height() / 2));
        form1().RadioGroup2->setItemIndex(mode);
    }
    QString phaseShown() { return control<QProgressBar>("RunProgress")->format(); }
    /// Presses OK; act runs at every event processing of the run until it returns true. Returns the
    /// milliseconds from that moment to the end of the run.
    qint64 runActingOnce(const std::function<bool()>& act) {
        QElapsedTimer sinceAct;
        QTimer poll;
        poll.setInterval(0);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!sinceAct.isValid() && act()) sinceAct.start();
        });
        poll.start();
        QTest::mouseClick(form1().BitBtn1, Qt::LeftButton);
        poll.stop();
        return sinceAct.isValid() ? sinceAct.elapsed() : -1;
    }

    QString bigData;
    QString bigQueries;
};

void LongRunTest::initTestCase() {
    bigData = writePoints(QStringLiteral("million.pts"), dataCount, 1);
    bigQueries = writePoints(QStringLiteral("queries.pts"), queryCount, 2);
}

void LongRunTest::cancelEndsEveryPhaseQuickly_data() {
    QTest::addColumn<QString>("phase");
    QTest::addColumn<int>("mode");
    QTest::addRow("load") << "Loading" << 1;
    QTest::addRow("statistics") << "Statistics" << 1;
    QTest::addRow("build") << "Building" << 1;
    QTest::addRow("data table") << "Data table" << 1;
    QTest::addRow("queries") << "Searching" << 0;
    QTest::addRow("chart") << "Chart" << 1;
}

void LongRunTest::cancelEndsEveryPhaseQuickly() {
    QFETCH(QString, phase);
    QFETCH(int, mode);
    useBigFiles(mode);
    QString caption;
    const qint64 stoppedAfter = runActingOnce([&] {
        if (!phaseShown().startsWith(phase)) return false;
        caption = control<QProgressBar>("RunProgress")->text();
        QTest::keyClick(&form1(), Qt::Key_Escape);
        return true;
    });
    QVERIFY2(stoppedAfter >= 0, "the phase never showed");
    QVERIFY2(stoppedAfter <= cancelBoundMs, qPrintable(QStringLiteral("%1 ms").arg(stoppedAfter)));
    QVERIFY2(caption.startsWith(phase), qPrintable(caption)); // the build's busy bar too
    QCOMPARE(form1().statusText(2), QStringLiteral("Run cancelled"));
    QVERIFY(!form2().isVisible());
    QVERIFY(Dialogs::takeShownMessages().isEmpty());

    // The next run starts afresh and completes.
    form1().Edit1->setText(QStringLiteral(KNN_SOURCE_DIR "/data/data.pts"));
    form1().Edit2->setText(QStringLiteral(KNN_SOURCE_DIR "/data/query.pts"));
    QTest::mouseClick(form1().BitBtn1, Qt::LeftButton);
    QVERIFY(form2().isVisible());
    QCOMPARE(form1().statusText(2), QStringLiteral("Ready"));
    QCOMPARE(form2().queryModel->columnCount(), 5);
}

void LongRunTest::closingDuringRunCancelsAndCloses() {
    useBigFiles(1);
    const qint64 closedAfter = runActingOnce([&] {
        if (!phaseShown().startsWith(QLatin1String("Building"))) return false;
        form1().close();
        return true;
    });
    QVERIFY(closedAfter >= 0 && closedAfter <= cancelBoundMs);
    QCOMPARE(form1().statusText(2), QStringLiteral("Run cancelled"));
    QTRY_VERIFY(!form1().isVisible());
}

void LongRunTest::noControlButCancelActsDuringRun() {
    Dialogs::setNextFileName(files.filePath(QStringLiteral("never.txt")));
    useBigFiles(0);
    QCheckBox* autoBox = form1().CheckBox2;
    const int widthBefore = form1().width();
    int widthDuring = 0;
    runActingOnce([&] {
        if (!phaseShown().startsWith(QLatin1String("Searching")) || !form1().CancelButton->isVisible())
            return false;
        QCoreApplication::processEvents(); // the layout settles
        widthDuring = form1().width();
        QTest::mouseClick(form2().saveResultsButton, Qt::LeftButton);
        QTest::mouseClick(autoBox, Qt::LeftButton, {}, QPoint(8, autoBox->height() / 2));
        QTest::keyClick(&form1(), Qt::Key_F1);
        QTest::mouseClick(control<QPushButton>("CancelButton"), Qt::LeftButton);
        return true;
    });
    QCOMPARE(form1().statusText(2), QStringLiteral("Run cancelled"));
    QCOMPARE(widthDuring, widthBefore);
    // The focus is back where the run started, and the path stays unselected.
    QCOMPARE(QApplication::focusWidget(), form1().BitBtn1);
    QVERIFY(!form1().Edit1->hasSelectedText());
    QVERIFY(autoBox->isChecked());
    QVERIFY(!form1().findChild<QWidget*>(QStringLiteral("AboutWindow")));
    // The chooser's answer is still queued: no chooser opened.
    QCOMPARE(Dialogs::chooseFile(nullptr, {}),
             std::optional<QString>(files.filePath(QStringLiteral("never.txt"))));
    QVERIFY(!QFile::exists(files.filePath(QStringLiteral("never.txt"))));
}

void LongRunTest::millionPointRunShowsEverythingWhole() {
    useBigFiles(1);
    QTest::mouseClick(form1().BitBtn1, Qt::LeftButton);
    QVERIFY(form2().isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(&form2()));

    // "Max data:" shows the whole line count.
    auto* maxData = form1().SpinEdit3->findChild<QLineEdit*>();
    QCOMPARE(maxData->text(), QString::number(dataCount));
    QVERIFY(maxData->fontMetrics().horizontalAdvance(maxData->text()) + 4 <= maxData->contentsRect().width());

    // The "#" column holds the largest row number whole.
    const ListView& data = *form2().ListView1;
    const int cellMargins = 2 * (data.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &data) + 1);
    QVERIFY(data.columnWidth(0) >=
            data.fontMetrics().horizontalAdvance(QString::number(dataCount)) + cellMargins);

    // The chart shows the data as a density, and a drawing stays quick.
    ResultsChart& chart = *form2().Chart1;
    QVERIFY(chart.layerDrawnAsDensity(0));
    QElapsedTimer drawing;
    drawing.start();
    chart.repaint();
    QVERIFY2(drawing.elapsed() < 100, qPrintable(QStringLiteral("%1 ms").arg(drawing.elapsed())));
}

QTEST_MAIN(LongRunTest)
#include "test_longrun.moc"
