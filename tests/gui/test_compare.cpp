// The compare window on the sample: a grid picked from the lists, run to the table with the winners
// highlighted, a row applied to the option panel and run from "OK", a run cancelled midway, and the
// charts of one run going when the next one draws.
#include "comparewindow.h"
#include "guitest.h"
#include "radiogroup.h"
#include "spinedit.h"

#include <QAbstractAxis>
#include <QAbstractItemModelTester>
#include <QChartView>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableView>

class CompareTest : public BenchTest {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        startBench();
        QTest::mouseClick(control<QPushButton>("BitBtn4"), Qt::LeftButton);
        QVERIFY(bench->compare->isVisible());
        bench->compare->Repetitions->setValue(1);
    }
    void cleanup() { stopBench(); }

    void pickedGridRunsToTheTableAndAppliesARow();
    void cancelStopsTheRun();
    void closingCancelsTheRun();
    void savingWaitsForRows();
    void aNewRunDeletesTheLastRunsAxes();

private:
    CompareWindow& window() { return *bench->compare; }
    /// Checks exactly the items of the list at the given rows.
    void check(QListWidget* list, const QList<int>& rows) {
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setCheckState(rows.contains(i) ? Qt::Checked : Qt::Unchecked);
    }
    QString cell(int row, int column) {
        return window().Table->model()->index(row, column).data().toString();
    }
};

void CompareTest::pickedGridRunsToTheTableAndAppliesARow() {
    CompareWindow& w = window();
    QAbstractItemModelTester tester(&w.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    w.DefaultGrid->setChecked(false);
    QVERIFY(w.SplitRules->isEnabled());
    check(w.Structures, {0, 1});
    check(w.SplitRules, {0, 3});
    check(w.BucketSizes, {0, 2});
    check(w.EpsValues, {0, 4});
    QTest::mouseClick(w.RunButton, Qt::LeftButton);

    // Brute force once, the kd-tree at two rules, two buckets and two error bounds.
    QCOMPARE(w.model().rowCount(), 9);
    QVERIFY(w.Status->text().startsWith(QStringLiteral("9 configurations measured.")));
    const int winner = w.model().columnCount() - 1;
    int highlighted = 0;
    for (int r = 0; r < w.model().rowCount(); ++r) {
        const QModelIndex index = w.model().index(r, winner);
        const bool won = !index.data().toString().isEmpty();
        QCOMPARE(index.data(Qt::BackgroundRole).isValid(), won);
        highlighted += won;
    }
    QVERIFY(highlighted >= 1 && highlighted <= 2);
    QVERIFY(w.model().result().rows[static_cast<std::size_t>(w.model().result().fastestExact)].exact());
    QCOMPARE(w.RecallChart->chart()->series().size(), 9 + 1); // a point per row and the front

    // The five time columns show one unit each, every time with four significant digits and no exponent.
    const QRegularExpression timeCaption(QStringLiteral("^(Build|Query|Mean query|Slowest query|Build \\+ "
                                                        "query) (s|ms|\u00b5s|ns)$"));
    const QRegularExpression fourDigits(QStringLiteral("^(0\\.0*)?[1-9]\\.?\\d\\.?\\d\\.?\\d$"));
    int timeColumns = 0;
    for (int c = 0; c < w.model().columnCount(); ++c) {
        if (!timeCaption.match(w.model().headerData(c, Qt::Horizontal).toString()).hasMatch()) continue;
        ++timeColumns;
        for (int r = 0; r < w.model().rowCount(); ++r)
            QVERIFY2(fourDigits.match(w.model().index(r, c).data().toString()).hasMatch(),
                     qPrintable(w.model().index(r, c).data().toString()));
    }
    QCOMPARE(timeColumns, 5);

    // Sorted by eps, the last row is an approximate kd-tree; its configuration goes to the panel.
    w.Table->sortByColumn(6, Qt::AscendingOrder);
    const int last = w.model().rowCount() - 1;
    QCOMPARE(cell(last, 6), QStringLiteral("2"));
    w.Table->selectRow(last);
    const QString split = cell(last, 3);
    const int bucket = cell(last, 5).toInt();
    QTest::mouseClick(w.UseConfiguration, Qt::LeftButton);
    QCOMPARE(form1().RadioGroup2->itemIndex(), 1);
    QCOMPARE(form1().RadioGroup4->itemIndex(), split == QStringLiteral("standard") ? 0 : 3);
    QCOMPARE(form1().SpinEdit5->value(), bucket);
    QCOMPARE(form1().Edit3->text(), QStringLiteral("2"));
    QVERIFY(!form1().CheckBox11->isChecked());

    QTest::mouseClick(form1().BitBtn1, Qt::LeftButton);
    const QStringList report = form2().Memo1->toPlainText().split(QLatin1Char('\n'));
    QVERIFY(report.contains(QStringLiteral("Error bound = 2")));
    QVERIFY(report.contains(QStringLiteral("Tree bucket size = %1").arg(bucket)));
    QVERIFY(report.contains(QStringLiteral("Splitting rule = %1").arg(form1().RadioGroup4->itemIndex())));
    QVERIFY(report.contains(QStringLiteral("Search mode = Unbalanced Tree")));
}

void CompareTest::cancelStopsTheRun() {
    CompareWindow& w = window();
    // The first progress of the compare run: it is a run of the main window, whose filter lets this
    // window's Cancel through.
    bool okBlocked = false;
    const auto once = connect(
        w.Progress, &QProgressBar::valueChanged, this,
        [&] {
            okBlocked = !form1().BitBtn1->isEnabled();
            QTest::mouseClick(w.CancelButton, Qt::LeftButton);
        },
        Qt::SingleShotConnection);
    QTest::mouseClick(w.RunButton, Qt::LeftButton);
    disconnect(once);
    QVERIFY(okBlocked);
    QVERIFY(w.model().result().cancelled);
    QVERIFY(w.model().rowCount() < 19);
    QVERIFY(w.Status->text().startsWith(QStringLiteral("Cancelled after")));
    QVERIFY(w.RunButton->isEnabled());
    QVERIFY(!w.CancelButton->isEnabled());
    QVERIFY(form1().BitBtn1->isEnabled());
}

void CompareTest::closingCancelsTheRun() {
    CompareWindow& w = window();
    const auto once = connect(
        w.Progress, &QProgressBar::valueChanged, this, [&] { w.close(); }, Qt::SingleShotConnection);
    QTest::mouseClick(w.RunButton, Qt::LeftButton);
    disconnect(once);
    QVERIFY(!w.isVisible());
    QVERIFY(w.model().result().cancelled);
    QVERIFY(form1().BitBtn1->isEnabled());
}

void CompareTest::savingWaitsForRows() {
    CompareWindow& w = window();
    QVERIFY(!w.SaveTable->isEnabled());
    QVERIFY(!w.SaveChart->isEnabled());
    QTest::mouseClick(w.RunButton, Qt::LeftButton);
    QVERIFY(w.SaveTable->isEnabled() && w.SaveChart->isEnabled());
    const QString table = files.filePath(QStringLiteral("table.csv"));
    Dialogs::setNextFileName(table);
    QTest::mouseClick(w.SaveTable, Qt::LeftButton);
    QFile saved(table);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll().count('\n'), w.model().rowCount() + 1);
    const QString chart = files.filePath(QStringLiteral("chart.png"));
    Dialogs::setNextFileName(chart);
    QTest::mouseClick(w.SaveChart, Qt::LeftButton);
    QVERIFY(!QImage(chart).isNull());
    // A file that cannot be written says so.
    Dialogs::setNextFileName(files.filePath(QStringLiteral("absent/table.csv")));
    QTest::mouseClick(w.SaveTable, Qt::LeftButton);
    QCOMPARE(Dialogs::takeShownMessages().size(), 1);
}

void CompareTest::aNewRunDeletesTheLastRunsAxes() {
    CompareWindow& w = window();
    QTest::mouseClick(w.RunButton, Qt::LeftButton);
    QList<QPointer<QAbstractAxis>> first;
    for (QChartView* view : {w.RecallChart, w.TimeChart})
        for (QAbstractAxis* axis : view->chart()->axes())
            first << axis;
    QCOMPARE(first.size(), 4);
    QTest::mouseClick(w.RunButton, Qt::LeftButton);
    for (const QPointer<QAbstractAxis>& axis : first)
        QVERIFY(axis.isNull());
}

QTEST_MAIN(CompareTest)
#include "test_compare.moc"
