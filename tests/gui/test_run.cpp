// Runs from "OK" on the real windows: the report, the two tables, the chart, failed loads answered by
// the dialog script, the table models under QAbstractItemModelTester, column widths and their
// mirroring, the timing line, copying rows, the tree statistics and the results window's save buttons.
#include "guitest.h"
#include "numbers.h"
#include "radiogroup.h"
#include "resultschart.h"
#include "rungate.h"
#include "session.h"
#include "spinedit.h"
#include "tablemodel.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTextBlock>
#include <QTextBrowser>
#include <cmath>

class RunTest : public BenchTest {
    Q_OBJECT
private Q_SLOTS:
    void init() { startBench(); }
    void cleanup() { stopBench(); }

    void defaultRunOnSample();
    void runShapesColumnsByModeAndK_data();
    void runShapesColumnsByModeAndK();
    void failedLoadShowsItsMessage_data();
    void failedLoadShowsItsMessage();
    void noChartWithoutShowGraph();
    void modelsStayConsistentOverRuns();
    void columnWidthsMirrorOnlyOnTriggers();
    void pointTipNamesThePointUnderTheMouse();
    void saveResultsWritesQueryTable_data();
    void saveResultsWritesQueryTable();
    void savingNeverReplacesAnInput();
    void failedRunLeavesNoRowsToSave();
    void saveChartWritesImage();
    void columnsFitTheirTexts();
    void timingLineShowsOnlyThisRun();
    void runShowsAtOnceThatItStarted();
    void copyPutsSelectedRowsOnClipboard();
    void treeStatsMatchTheAnsweringTree();
    void f1OpensAbout();

private:
    void runFromOk() {
        QTest::mouseClick(form1().BitBtn1, Qt::LeftButton);
        QVERIFY(form1().BitBtn1->isEnabled());
    }
    QStringList reportLines() { return form2().Memo1->toPlainText().split(QLatin1Char('\n')); }
    QStringList captions(const QAbstractItemModel& model) {
        QStringList all;
        for (int c = 0; c < model.columnCount(); ++c)
            all.append(model.headerData(c, Qt::Horizontal).toString());
        return all;
    }
    double cellValue(const QAbstractItemModel& model, int row, int column) {
        std::optional<double> v =
            knn::ConvertNumber(model.index(row, column).data().toString().toStdString());
        if (!v) qFatal("cell %d,%d is not a number", row, column);
        return *v;
    }
    QString sampleFile(const char* name) {
        return QStringLiteral(KNN_SOURCE_DIR "/data/") + QLatin1String(name);
    }
    int lineCount(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(path));
        return static_cast<int>(file.readAll().count('\n'));
    }
    void setManual(QCheckBox* autoBox) {
        if (autoBox->isChecked())
            QTest::mouseClick(autoBox, Qt::LeftButton, {}, QPoint(8, autoBox->height() / 2));
    }
};

void RunTest::defaultRunOnSample() {
    const int dataCount = lineCount(sampleFile("data.pts"));
    const int queryCount = lineCount(sampleFile("query.pts"));
    runFromOk();
    QVERIFY(form2().isVisible());
    QCOMPARE(form1().statusText(0), QStringLiteral("Input loaded"));
    QCOMPARE(form1().statusText(1), QStringLiteral("Query loaded"));
    QCOMPARE(form1().statusText(2), QStringLiteral("Ready"));
    QCOMPARE(form1().Edit3->text(), QStringLiteral("0"));

    const QStringList report = reportLines();
    QCOMPARE(report.first(), QString(50, QLatin1Char('=')));
    QCOMPARE(report.at(1), QStringLiteral("DATA STATISTICS"));
    const qsizetype options = report.indexOf(QStringLiteral("SEARCH OPTIONS"));
    QVERIFY(options > 0);
    const QStringList expectedTail = {
        QStringLiteral("Data & query dimension = 2"),
        QStringLiteral("No. of data points = %1").arg(dataCount),
        QStringLiteral("No. of query points = %1").arg(queryCount),
        QStringLiteral("No. of K neighbors = 1"),
        QStringLiteral("Error bound = 0"),
        QStringLiteral("Distance metric = Euclidean (2)"),
        QStringLiteral("Max points to visit = 0"),
        QStringLiteral("Tree bucket size = 1"),
        QStringLiteral("Splitting rule = 5"),
        QStringLiteral("Shrinking rule = 3"),
        QStringLiteral("Search mode = Unbalanced Tree"),
        QStringLiteral("Search range = Standard"),
    };
    QCOMPARE(report.mid(options + 2), expectedTail);

    const TableModel& data = *form2().dataModel;
    const TableModel& queries = *form2().queryModel;
    QCOMPARE(captions(data), (QStringList{"#", "Data1", "Data2"}));
    QCOMPARE(captions(queries), (QStringList{"#", "Q1", "Q2", "Index1", "Dist1"}));
    QCOMPARE(data.rowCount(), dataCount);
    QCOMPARE(queries.rowCount(), queryCount);
    QCOMPARE(data.index(dataCount - 1, 0).data().toString(), QString::number(dataCount));

    // Each query's line ends at the data point its Index names, and Dist is the Euclidean length.
    const ResultsChart& chart = *form2().Chart1;
    QCOMPARE(chart.titleText(), QStringLiteral("KNN Search Results: Unbalanced Tree Search"));
    QCOMPARE(chart.subTitleText(),
             QStringLiteral("KNN Search: k = 1, no. of data points = %1, no. of query points = %2")
                 .arg(dataCount)
                 .arg(queryCount));
    const QList<PlotLayer>& layers = chart.layers();
    QCOMPARE(layers.size(), 3);
    QCOMPARE(layers[0].kind, PlotLayer::Markers);
    QCOMPARE(layers[0].points.size(), dataCount);
    QCOMPARE(layers[0].colour, QColor(0, 0, 255));
    QCOMPARE(layers[1].kind, PlotLayer::Markers);
    QCOMPARE(layers[1].points.size(), queryCount);
    QCOMPARE(layers[1].colour, QColor(255, 0, 0));
    QCOMPARE(layers[2].kind, PlotLayer::Lines);
    QCOMPARE(layers[2].pen.color(), QColor(0, 0, 0));
    QCOMPARE(layers[2].pen.style(), Qt::DotLine);
    QCOMPARE(layers[2].pen.width(), 1);
    const QList<QPointF>& ends = layers[2].points;
    QCOMPARE(ends.size(), 2 * queryCount);
    for (int q = 0; q < queryCount; ++q) {
        const QPointF query(cellValue(queries, q, 1), cellValue(queries, q, 2));
        const int neighbourRow = static_cast<int>(cellValue(queries, q, 3)) - 1;
        const QPointF neighbour(cellValue(data, neighbourRow, 1), cellValue(data, neighbourRow, 2));
        QCOMPARE(layers[1].points[q], query);
        QCOMPARE(ends[2 * q], query);
        QCOMPARE(ends[2 * q + 1], neighbour);
        QVERIFY(std::fabs(cellValue(queries, q, 4) - QLineF(query, neighbour).length()) < 1e-9);
    }
    QVERIFY(form2().timingsLabel->text().contains(QStringLiteral("(%1 queries)").arg(queryCount)));
}

void RunTest::runShapesColumnsByModeAndK_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("k");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("queryColumns");
    QTest::addRow("brute force, k 3")
        << 0 << 3 << "KNN Search Results: Brute Force Search"
        << QStringList{"#", "Q1", "Q2", "Index1", "Index2", "Index3", "Dist1", "Dist2", "Dist3"};
    QTest::addRow("bd-tree, k 2") << 2 << 2 << "KNN Search Results: Balanced Tree Search"
                                  << QStringList{"#", "Q1", "Q2", "Index1", "Index2", "Dist1", "Dist2"};
}

void RunTest::runShapesColumnsByModeAndK() {
    QFETCH(int, mode);
    QFETCH(int, k);
    QFETCH(QString, title);
    QFETCH(QStringList, queryColumns);
    setManual(form1().CheckBox6);
    setManual(form1().CheckBox2);
    QTest::mouseClick(form1().RadioGroup2->item(mode), Qt::LeftButton, {}, QPoint(8, 8));
    form1().SpinEdit1->setValue(k);
    runFromOk();
    QCOMPARE(captions(*form2().queryModel), queryColumns);
    QCOMPARE(form2().Chart1->titleText(), title);
    QVERIFY(reportLines().contains(QStringLiteral("No. of K neighbors = %1").arg(k)));
    // Neighbours come in ascending distance.
    const TableModel& queries = *form2().queryModel;
    for (int q = 0; q < queries.rowCount(); ++q)
        for (int j = 1; j < k; ++j)
            QVERIFY(cellValue(queries, q, 3 + k + j - 1) <= cellValue(queries, q, 3 + k + j));
}

void RunTest::failedLoadShowsItsMessage_data() {
    QTest::addColumn<QByteArray>("dataText");
    QTest::addColumn<QByteArray>("queryText");
    QTest::addColumn<QString>("message");
    QTest::addRow("missing input file") << QByteArray() << QByteArray("1 2\n") << "File %1 doesn't exist.";
    QTest::addRow("dimensions differ")
        << QByteArray("1 2 3\n4 5 6\n") << QByteArray("1 2\n")
        << "The data & query dimensions do not coincide!\nPlease check input file structure.";
    QTest::addRow("bad number") << QByteArray("1 2\n3 x\n") << QByteArray("1 2\n")
                                << "Could not load data!\nPlease check input file structure.";
    QTest::addRow("empty input file") << QByteArray("") << QByteArray("1 2\n")
                                      << "List index out of bounds (0)\nFile %1 is empty: it holds no line.";
}

void RunTest::failedLoadShowsItsMessage() {
    QFETCH(QByteArray, dataText);
    QFETCH(QByteArray, queryText);
    QFETCH(QString, message);
    const QString dataPath = dataText.isNull() ? files.filePath(QStringLiteral("absent.pts"))
                                               : writeFile(QStringLiteral("data.pts"), dataText);
    form1().Edit1->setText(dataPath);
    form1().Edit2->setText(writeFile(QStringLiteral("query.pts"), queryText));
    runFromOk();
    const QStringList shown = Dialogs::takeShownMessages();
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown.last(), message.contains(QLatin1String("%1")) ? message.arg(dataPath) : message);
    QVERIFY(!form2().isVisible());
    QVERIFY(form1().BitBtn3->isEnabled());
}

void RunTest::noChartWithoutShowGraph() {
    QTest::mouseClick(form1().CheckBox13, Qt::LeftButton, {}, QPoint(8, form1().CheckBox13->height() / 2));
    runFromOk();
    QVERIFY(form2().isVisible());
    QVERIFY(form2().Chart1->layers().isEmpty());
    QCOMPARE(form2().Chart1->titleText(), QStringLiteral("KNN Search Results"));
}

void RunTest::modelsStayConsistentOverRuns() {
    QAbstractItemModelTester dataTester(form2().dataModel,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester queryTester(form2().queryModel,
                                         QAbstractItemModelTester::FailureReportingMode::QtTest);
    runFromOk();
    setManual(form1().CheckBox2);
    form1().SpinEdit1->setValue(4);
    runFromOk();
    QCOMPARE(form2().queryModel->columnCount(), 1 + 2 + 2 * 4);
    QTest::mouseClick(form1().BitBtn3, Qt::LeftButton);
    QCOMPARE(form2().queryModel->columnCount(), 1 + 2 + 2 * 4);
}

void RunTest::columnWidthsMirrorOnlyOnTriggers() {
    runFromOk();
    QVERIFY(QTest::qWaitForWindowExposed(&form2()));
    ListView& data = *form2().ListView1;
    ListView& queries = *form2().ListView2;
    const int dataWidth = data.columnWidth(1);
    const int indexWidth = queries.columnWidth(3);

    queries.setColumnWidth(1, dataWidth + 50);
    QCOMPARE(data.columnWidth(1), dataWidth);
    QHeaderView* header = queries.horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(2) + 5, header->height() / 2));
    QCOMPARE(data.columnWidth(1), dataWidth + 50);

    data.setColumnWidth(2, dataWidth + 30);
    data.setColumnWidth(1, dataWidth);
    QCOMPARE(queries.columnWidth(2), dataWidth);
    data.resize(data.width() - 10, data.height());
    QCOMPARE(queries.columnWidth(1), dataWidth);
    QCOMPARE(queries.columnWidth(2), dataWidth + 30);
    QCOMPARE(queries.columnWidth(3), indexWidth);
}

void RunTest::pointTipNamesThePointUnderTheMouse() {
    runFromOk();
    QVERIFY(QTest::qWaitForWindowExposed(&form2()));
    ResultsChart& chart = *form2().Chart1;
    const QPointF value = chart.layers().first().points.first();
    const std::optional<QPointF> at = chart.widgetPositionOf(value);
    QVERIFY(at.has_value());
    QVERIFY(chart.rect().contains(at->toPoint()));
    const QString expected = QStringLiteral("X = %1\nY = %2")
                                 .arg(QString::fromStdString(knn::FormatDouble(value.x())),
                                      QString::fromStdString(knn::FormatDouble(value.y())));
    QCOMPARE(chart.pointTipAt(at->toPoint()), std::optional<QString>(expected));
    QVERIFY(!chart.pointTipAt(QPoint(1, 1)).has_value());
}

void RunTest::saveResultsWritesQueryTable_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("header");
    QTest::addRow("tab-separated") << "results.txt"
                                   << "#\tQ1\tQ2\tIndex1\tDist1";
    QTest::addRow("comma-separated") << "results.csv"
                                     << "#,Q1,Q2,Index1,Dist1";
}

void RunTest::saveResultsWritesQueryTable() {
    QFETCH(QString, fileName);
    QFETCH(QString, header);
    runFromOk();
    const QString path = files.filePath(fileName);
    Dialogs::setNextFileName(path);
    QTest::mouseClick(form2().saveResultsButton, Qt::LeftButton);
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(saved.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.first(), header);
    QCOMPARE(lines.size(), 1 + form2().queryModel->rowCount());
}

void RunTest::savingNeverReplacesAnInput() {
    const QString dataPath = writeFile(QStringLiteral("data.pts"), "1 2\n3 4\n");
    form1().Edit1->setText(dataPath);
    form1().Edit2->setText(writeFile(QStringLiteral("query.pts"), "1 2\n"));
    runFromOk();
    Dialogs::takeShownMessages();
    Dialogs::setNextFileName(dataPath);
    QTest::mouseClick(form2().saveTreeButton, Qt::LeftButton);
    QCOMPARE(
        Dialogs::takeShownMessages(),
        QStringList{QStringLiteral("Could not write %1: it is the data file of the run.").arg(dataPath)});
    QFile data(dataPath);
    QVERIFY(data.open(QIODevice::ReadOnly));
    QCOMPARE(data.readAll(), QByteArray("1 2\n3 4\n"));
}

void RunTest::failedRunLeavesNoRowsToSave() {
    QVERIFY(!form2().saveResultsButton->isEnabled());
    runFromOk();
    QVERIFY(form2().saveResultsButton->isEnabled());
    // A bad query line ends the run with the tables holding its points but no results ...
    form1().Edit2->setText(writeFile(QStringLiteral("q.pts"), "1 2\nx y\n"));
    runFromOk();
    Dialogs::takeShownMessages();
    QCOMPARE(captions(*form2().queryModel), (QStringList{"#", "Q1", "Q2"}));
    QVERIFY(!form2().saveResultsButton->isEnabled());
    // ... and a missing file before any row was read.
    form1().Edit1->setText(files.filePath(QStringLiteral("absent.pts")));
    runFromOk();
    Dialogs::takeShownMessages();
    QCOMPARE(form2().dataModel->rowCount(), 0);
    QCOMPARE(form2().queryModel->rowCount(), 0);
    QVERIFY(!form2().saveResultsButton->isEnabled());
}

void RunTest::saveChartWritesImage() {
    runFromOk();
    const QString path = files.filePath(QStringLiteral("chart.png"));
    Dialogs::setNextFileName(path);
    QTest::mouseClick(form2().saveChartButton, Qt::LeftButton);
    QVERIFY(!QImage(path).isNull());
    Dialogs::setNextFileName(std::nullopt);
    QTest::mouseClick(form2().saveChartButton, Qt::LeftButton);
}

void RunTest::columnsFitTheirTexts() {
    // One data point under a query table of wider numbers, in a window already shown.
    form1().Edit1->setText(writeFile(QStringLiteral("one.pts"), "1 2\n"));
    form1().Edit2->setText(writeFile(QStringLiteral("q.pts"), "1.23456789 2.3456789\n3.456789 4.56789\n"));
    runFromOk();
    QVERIFY(QTest::qWaitForWindowExposed(&form2()));
    runFromOk();
    for (ListView* view : {form2().ListView1, form2().ListView2}) {
        const QAbstractItemModel& model = *view->model();
        const int cellMargins =
            2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
        const int headerMargins = 2 * view->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, view);
        for (int c = 0; c < model.columnCount(); ++c) {
            const QString caption = model.headerData(c, Qt::Horizontal).toString();
            QVERIFY2(view->columnWidth(c) >=
                         view->horizontalHeader()->fontMetrics().horizontalAdvance(caption) + headerMargins,
                     qPrintable(caption));
            for (int r = 0; r < model.rowCount(); ++r) {
                const QString text = model.index(r, c).data().toString();
                QVERIFY2(view->columnWidth(c) >= view->fontMetrics().horizontalAdvance(text) + cellMargins,
                         qPrintable(text));
            }
        }
    }
}

void RunTest::timingLineShowsOnlyThisRun() {
    runFromOk();
    QVERIFY(form2().timingsLabel->text().contains(QStringLiteral("(40 queries)")));
    form1().Edit2->setText(writeFile(QStringLiteral("one.pts"), "1 2\n"));
    runFromOk();
    QVERIFY(form2().timingsLabel->text().endsWith(QLatin1String("(1 query)")));
    // The second query line cannot be read: every line is read before any search, so none was answered.
    form1().Edit2->setText(writeFile(QStringLiteral("q.pts"), "1 2\nx y\n"));
    runFromOk();
    QCOMPARE(Dialogs::takeShownMessages().last(), QStringLiteral("Can't read query point 2"));
    const QStringList lines = form2().timingsLabel->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith(QLatin1String("Load: ")));
    QVERIFY(lines[1].startsWith(QLatin1String("Build: ")));
    QVERIFY(lines[2].endsWith(QLatin1String("(0 queries)")));
    QCOMPARE(lines[3], QStringLiteral("Failed during the queries: 0 of 2 queries answered"));
    // A file that is missing ends the run in its load.
    form1().Edit1->setText(files.filePath(QStringLiteral("absent.pts")));
    runFromOk();
    Dialogs::takeShownMessages();
    QVERIFY(form2().timingsLabel->text().startsWith(QLatin1String("Load: ")));
    QVERIFY(form2().timingsLabel->text().endsWith(QLatin1String("\nFailed during the load")));
}

void RunTest::runShowsAtOnceThatItStarted() {
    // What the status panel looks like when first painted in the run, before any progress report.
    struct PaintWatch : QObject {
        MainWindow* main;
        QString text;
        bool okEnabled = true;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint && main->runGate().running() && text.isEmpty() &&
                main->findChild<QProgressBar*>(QStringLiteral("RunProgress"))->format() ==
                    QLatin1String("%p%")) {
                text = static_cast<QLabel*>(watched)->text();
                okEnabled = main->BitBtn1->isEnabled();
            }
            return false;
        }
    } watch;
    watch.main = &form1();
    form1().findChild<QLabel*>(QStringLiteral("StatusPanel2"))->installEventFilter(&watch);
    runFromOk();
    QCOMPARE(watch.text, QStringLiteral("Loading data..."));
    QVERIFY(!watch.okEnabled);
}

void RunTest::copyPutsSelectedRowsOnClipboard() {
    runFromOk();
    ListView& queries = *form2().ListView2;
    const QAbstractItemModel& model = *queries.model();
    queries.selectionModel()->select(model.index(2, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    queries.selectionModel()->select(model.index(0, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(&queries, Qt::Key_C, Qt::ControlModifier);
    const auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c)
            cells.append(model.index(r, c).data().toString());
        return cells.join(QLatin1Char('\t'));
    };
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QStringLiteral("#\tQ1\tQ2\tIndex1\tDist1\n") + row(0) + '\n' + row(2) + '\n');
    QTest::keyClick(&queries, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(queries.selectionModel()->selectedRows().size(), model.rowCount());
    QStringList menu;
    for (const QAction* action : queries.actions())
        menu.append(action->text());
    QCOMPARE(menu, (QStringList{"Copy", "Select all"}));
    QCOMPARE(queries.contextMenuPolicy(), Qt::ActionsContextMenu);
}

void RunTest::treeStatsMatchTheAnsweringTree() {
    setManual(form1().CheckBox6);
    QTest::mouseClick(form1().RadioGroup2->item(2), Qt::LeftButton, {}, QPoint(8, 8));
    runFromOk();
    qel::QELkd_tree* tree = bench->driver->answeringTree();
    QVERIFY(tree);
    qel::TreeStats stats;
    tree->collectStats(stats);
    const QStringList expected = {
        QStringLiteral("Dimension = %1").arg(stats.dimensionCount),
        QStringLiteral("Points = %1").arg(stats.dataCount),
        QStringLiteral("Bucket size = %1").arg(stats.bucketSize),
        QStringLiteral("Leaves = %1").arg(stats.leafCount),
        QStringLiteral("Empty leaves = %1").arg(stats.emptyLeafCount),
        QStringLiteral("Split nodes = %1").arg(stats.splitNodeCount),
        QStringLiteral("Shrink nodes = %1").arg(stats.shrinkNodeCount),
        QStringLiteral("Depth = %1").arg(stats.treeDepth),
    };
    QStringList shown;
    for (int i = 0; i <= expected.size(); ++i)
        shown.append(form2().treeStatsPanel->findChild<QLabel*>(QStringLiteral("TreeStat%1").arg(i))->text());
    const QString aspect = shown.takeLast();
    QCOMPARE(shown, expected);
    const QString aspectCaption = QStringLiteral("Mean leaf aspect ratio = ");
    QVERIFY(aspect.startsWith(aspectCaption));
    const double aspectShown =
        knn::ConvertNumber(aspect.mid(aspectCaption.size()).toStdString()).value_or(-1);
    QVERIFY(std::fabs(aspectShown - stats.aspectMean) <= 0.00005);
    QVERIFY(stats.shrinkNodeCount > 0);

    const QString path = files.filePath(QStringLiteral("tree.dump"));
    Dialogs::setNextFileName(path);
    QTest::mouseClick(form2().saveTreeButton, Qt::LeftButton);
    QFile dump(path);
    QVERIFY(dump.open(QIODevice::ReadOnly));
    QCOMPARE(dump.readLine(), QByteArray("#QEL 1.1.1\n"));
    QCOMPARE(dump.readLine(), QByteArray("points 2 %1\n").replace("%1", QByteArray::number(stats.dataCount)));

    // A load alone keeps the tree and the points it reads; brute force answers without a tree.
    QTest::mouseClick(form1().BitBtn3, Qt::LeftButton);
    QVERIFY(form2().saveTreeButton->isEnabled());
    QVERIFY(form2().treeStatsPanel->isVisible());
    QTest::mouseClick(form1().RadioGroup2->item(0), Qt::LeftButton, {}, QPoint(8, 8));
    runFromOk();
    QVERIFY(!form2().treeStatsPanel->isVisible());
    QVERIFY(!form2().saveTreeButton->isEnabled());
}

void RunTest::f1OpensAbout() {
    QTest::keyClick(&form1(), Qt::Key_F1);
    auto* about = form1().findChild<QWidget*>(QStringLiteral("AboutWindow"));
    QVERIFY(about && about->isVisible());
    QVERIFY(
        about->findChild<QTextBrowser*>()->toPlainText().contains(QStringLiteral("knnbench " KNN_VERSION)));
}

QTEST_MAIN(RunTest)
#include "test_run.moc"
