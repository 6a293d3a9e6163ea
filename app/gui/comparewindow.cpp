// Compare window: the picker, the run with its progress and cancel, the table, the two charts and the
// way back to the option panel.
#include "comparewindow.h"
#include "comparetable.h"

#include "captiontexts.h"
#include "dialogs.h"
#include "imagefile.h"
#include "mainwindow.h"
#include "numbers.h"
#include "outputfile.h"
#include "rungate.h"
#include "session.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChartView>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QLogValueAxis>
#include <QProgressBar>
#include <QPushButton>
#include <QScatterSeries>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedBarSeries>
#include <QTableView>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

const QColor exactColour(170, 230, 170);    ///< the fastest exact configuration
const QColor accurateColour(255, 230, 140); ///< the fastest one with recall >= 0.95
const QColor bothColour(150, 210, 240);     ///< one configuration is both

QListWidget* checkableList(const QString& name, const QStringList& items, const QList<int>& checked,
                           QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    for (int i = 0; i < items.size(); ++i) {
        auto* item = new QListWidgetItem(items[i], list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(checked.contains(i) ? Qt::Checked : Qt::Unchecked);
    }
    list->setMaximumHeight(list->sizeHintForRow(0) * static_cast<int>(items.size()) + 2 * list->frameWidth());
    return list;
}

/// The values of the checked items, read by `value` from each item's text.
template <class T, class Value> std::vector<T> checkedValues(const QListWidget* list, Value value) {
    std::vector<T> values;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->checkState() == Qt::Checked) values.push_back(value(i, list->item(i)->text()));
    return values;
}

template <class Enum> auto itemIndex() {
    return [](int i, const QString&) { return static_cast<Enum>(i); };
}

/// Digits a time of the table shows.
constexpr int timeDigits = 4;

/// v with `digits` significant digits and no exponent, in the test bench's number format.
QString significant(double v, int digits) {
    if (v == 0.0 || !std::isfinite(v)) return QString::number(v);
    // The magnitude after rounding, so 999.96 shows as 1000, not 1000.0.
    const QString rounded = QString::number(v, 'e', digits - 1);
    const int magnitude = rounded.mid(rounded.indexOf(QLatin1Char('e')) + 1).toInt();
    return QString::number(rounded.toDouble(), 'f', std::max(0, digits - 1 - magnitude))
        .replace(QLatin1Char('.'), QLatin1Char(knn::decimalSeparator()));
}

QString seconds(double v) {
    return QString::number(v, 'g', 3) + QStringLiteral(" s");
}

/// Removes and deletes the series and axes of the last drawing; removeAxis alone hands an axis back to
/// the caller, so each run would leave its axes behind.
void clearChart(QChart* chart) {
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
}

} // namespace

int CompareModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : texts.rowCount();
}

int CompareModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : texts.columnCount();
}

QVariant CompareModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole:
        // Times read alike down a column: one unit, the same number of significant digits.
        if (const TimeUnit& unit = units.at(index.column()); unit.scale > 0.0)
            return significant(
                knn::CompareSortKey(compared.rows[static_cast<std::size_t>(row)], row + 1, index.column()) /
                    unit.scale,
                timeDigits);
        return QString::fromStdString(std::string(texts.cell(row, index.column())));
    case Qt::UserRole:
        return knn::CompareSortKey(compared.rows[static_cast<std::size_t>(row)], row + 1, index.column());
    case Qt::BackgroundRole:
        if (row == compared.fastestExact && row == compared.fastestAccurate) return bothColour;
        if (row == compared.fastestExact) return exactColour;
        if (row == compared.fastestAccurate) return accurateColour;
        return {};
    default:
        return {};
    }
}

QVariant CompareModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    const QString caption = QString::fromStdString(std::string(texts.columnCaption(section)));
    const TimeUnit& unit = units.at(section);
    return unit.scale > 0.0 ? caption.chopped(1) + unit.name : caption;
}

void CompareModel::setResult(knn::CompareResult newResult) {
    beginResetModel();
    compared = std::move(newResult);
    texts = knn::CompareTable(compared);
    // Each time column takes the largest unit its largest time is at least one of.
    units.clear();
    for (int c = 0; c < texts.columnCount(); ++c) {
        TimeUnit unit;
        if (knn::CompareColumnIsSeconds(c)) {
            double largest = 0.0;
            for (std::size_t r = 0; r < compared.rows.size(); ++r)
                largest =
                    std::max(largest, knn::CompareSortKey(compared.rows[r], static_cast<int>(r) + 1, c));
            const std::pair<double, QString> scales[] = {{1.0, QStringLiteral("s")},
                                                         {1e-3, QStringLiteral("ms")},
                                                         {1e-6, QStringLiteral("\u00b5s")},
                                                         {1e-9, QStringLiteral("ns")}};
            unit = {scales[3].first, scales[3].second};
            for (const auto& [scale, name] : scales) {
                if (largest >= scale) {
                    unit = {scale, name};
                    break;
                }
            }
        }
        units.append(unit);
    }
    endResetModel();
}

CompareWindow::CompareWindow(MainWindow& mainWindow, knn::RunDriver& runDriver)
    : QWidget(&mainWindow, Qt::Window), main(mainWindow), driver(runDriver) {
    setObjectName(QStringLiteral("CompareWindow"));
    setWindowTitle(QStringLiteral("Compare configurations"));
    resize(1280, 820);

    rows = new CompareModel(this);
    sorted = new QSortFilterProxyModel(this);
    sorted->setSourceModel(rows);
    sorted->setSortRole(Qt::UserRole);
    Table = new QTableView(this);
    Table->setObjectName(QStringLiteral("CompareTable"));
    Table->setModel(sorted);
    Table->setSortingEnabled(true);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->verticalHeader()->hide();

    charts = new QWidget(this);
    auto* chartRow = new QHBoxLayout(charts);
    chartRow->setContentsMargins(0, 0, 0, 0);
    RecallChart = new QChartView(charts);
    RecallChart->setObjectName(QStringLiteral("RecallChart"));
    TimeChart = new QChartView(charts);
    TimeChart->setObjectName(QStringLiteral("TimeChart"));
    for (QChartView* view : {RecallChart, TimeChart}) {
        view->setRenderHint(QPainter::Antialiasing);
        view->chart()->legend()->hide();
        chartRow->addWidget(view);
    }
    RecallChart->chart()->setTitle(QStringLiteral("Query time against recall"));
    TimeChart->chart()->setTitle(QStringLiteral("Build + query time"));

    auto* results = new QSplitter(Qt::Vertical, this);
    results->addWidget(Table);
    results->addWidget(charts);
    results->setSizes({380, 420});

    UseConfiguration = new QPushButton(QStringLiteral("Use this configuration"), this);
    UseConfiguration->setObjectName(QStringLiteral("UseConfiguration"));
    UseConfiguration->setToolTip(QStringLiteral("Set the main window's options to the selected row"));
    SaveTable = new QPushButton(QStringLiteral("Save table..."), this);
    SaveTable->setObjectName(QStringLiteral("SaveTable"));
    SaveChart = new QPushButton(QStringLiteral("Save chart..."), this);
    SaveChart->setObjectName(QStringLiteral("SaveChart"));
    // Nothing to save before a run produced rows.
    SaveTable->setEnabled(false);
    SaveChart->setEnabled(false);
    connect(UseConfiguration, &QPushButton::clicked, this, &CompareWindow::useConfiguration);
    connect(SaveTable, &QPushButton::clicked, this, &CompareWindow::saveTable);
    connect(SaveChart, &QPushButton::clicked, this, &CompareWindow::saveChart);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(UseConfiguration);
    buttons->addStretch();
    buttons->addWidget(SaveTable);
    buttons->addWidget(SaveChart);

    auto* right = new QVBoxLayout;
    right->addWidget(results, 1);
    right->addLayout(buttons);
    auto* columns = new QHBoxLayout(this);
    columns->addWidget(buildPicker());
    columns->addLayout(right, 1);
}

QWidget* CompareWindow::buildPicker() {
    auto* picker = new QGroupBox(QStringLiteral("Configurations"), this);
    picker->setObjectName(QStringLiteral("Picker"));
    auto* column = new QVBoxLayout(picker);
    DefaultGrid = new QCheckBox(QStringLiteral("Default grid"), picker);
    DefaultGrid->setObjectName(QStringLiteral("DefaultGrid"));
    DefaultGrid->setToolTip(QStringLiteral("Brute force; kd-tree with five splitting rules at buckets 1, 4 "
                                           "and 16; bd-tree with three shrinking rules at bucket 4; eps 0"));
    DefaultGrid->setChecked(true);
    column->addWidget(DefaultGrid);

    Structures =
        checkableList(QStringLiteral("Structures"), plainCaptionTexts(knn::ModeCaptions), {0, 1, 2}, picker);
    Searches = checkableList(QStringLiteral("Searches"), plainCaptionTexts(knn::RangeCaptions), {0}, picker);
    // The rules' last item, Default, names one of the others: the lists offer the rules themselves.
    SplitRules = checkableList(QStringLiteral("SplitRules"),
                               plainCaptionTexts(knn::SplitCaptions, knn::SplitCaptions.size() - 1),
                               {0, 1, 2, 3, 4}, picker);
    ShrinkRules = checkableList(QStringLiteral("ShrinkRules"),
                                plainCaptionTexts(knn::ShrinkCaptions, knn::ShrinkCaptions.size() - 1),
                                {0, 1, 2}, picker);
    BucketSizes = checkableList(QStringLiteral("BucketSizes"),
                                {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4"),
                                 QStringLiteral("8"), QStringLiteral("16"), QStringLiteral("32")},
                                {0, 2, 4}, picker);
    EpsValues = checkableList(QStringLiteral("EpsValues"),
                              {QStringLiteral("0"), QStringLiteral("0.1"), QStringLiteral("0.5"),
                               QStringLiteral("1"), QStringLiteral("2")},
                              {0}, picker);
    VisitLimits = checkableList(
        QStringLiteral("VisitLimits"),
        {QStringLiteral("No limit"), QStringLiteral("10"), QStringLiteral("100"), QStringLiteral("1000")},
        {0}, picker);
    const std::pair<QString, QListWidget*> lists[] = {
        {QStringLiteral("Structures"), Structures},      {QStringLiteral("Searches"), Searches},
        {QStringLiteral("Splitting rules"), SplitRules}, {QStringLiteral("Shrinking rules"), ShrinkRules},
        {QStringLiteral("Bucket sizes"), BucketSizes},   {QStringLiteral("Eps values"), EpsValues},
        {QStringLiteral("Visit limits"), VisitLimits}};
    auto* grid = new QGridLayout;
    int at = 0;
    for (const auto& [caption, list] : lists) {
        grid->addWidget(new QLabel(caption, picker), 2 * (at / 2), at % 2);
        grid->addWidget(list, 2 * (at / 2) + 1, at % 2);
        list->setEnabled(false);
        connect(DefaultGrid, &QCheckBox::toggled, list, &QWidget::setDisabled);
        ++at;
    }
    column->addLayout(grid);

    auto* repeat = new QHBoxLayout;
    Repetitions = new QSpinBox(picker);
    Repetitions->setObjectName(QStringLiteral("Repetitions"));
    Repetitions->setRange(1, 20);
    Repetitions->setValue(3);
    Repetitions->setToolTip(QStringLiteral("Builds and query passes per configuration; the best is shown"));
    repeat->addWidget(new QLabel(QStringLiteral("Repetitions:"), picker));
    repeat->addWidget(Repetitions);
    repeat->addStretch();
    column->addLayout(repeat);

    RunButton = new QPushButton(QStringLiteral("Run"), picker);
    RunButton->setObjectName(QStringLiteral("RunButton"));
    RunButton->setToolTip(QStringLiteral("Measure every configuration on the main window's files, k, "
                                         "metric and R"));
    CancelButton = new QPushButton(QStringLiteral("Cancel"), picker);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setEnabled(false);
    connect(RunButton, &QPushButton::clicked, this, &CompareWindow::runCompare);
    connect(CancelButton, &QPushButton::clicked, this, &CompareWindow::cancelCompare);
    auto* runRow = new QHBoxLayout;
    runRow->addWidget(RunButton);
    runRow->addWidget(CancelButton);
    column->addLayout(runRow);
    Progress = new QProgressBar(picker);
    Progress->setObjectName(QStringLiteral("CompareProgress"));
    Progress->setRange(0, 1000);
    Progress->setValue(0);
    column->addWidget(Progress);
    Status = new QLabel(picker);
    Status->setObjectName(QStringLiteral("CompareStatus"));
    Status->setWordWrap(true);
    column->addWidget(Status);
    column->addStretch();
    picker->setFixedWidth(300);
    return picker;
}

std::vector<knn::CompareConfig> CompareWindow::pickedConfigs() const {
    if (DefaultGrid->isChecked()) return knn::DefaultCompareConfigs();
    const auto number = [](int, const QString& text) { return text.toInt(); };
    knn::CompareGrid grid{
        checkedValues<knn::SearchMode>(Structures, itemIndex<knn::SearchMode>()),
        checkedValues<knn::SearchRange>(Searches, itemIndex<knn::SearchRange>()),
        checkedValues<qel::SplitRule>(SplitRules, itemIndex<qel::SplitRule>()),
        checkedValues<qel::ShrinkRule>(ShrinkRules, itemIndex<qel::ShrinkRule>()),
        checkedValues<int>(BucketSizes, number),
        checkedValues<double>(EpsValues, [](int, const QString& text) { return text.toDouble(); }),
        checkedValues<int>(VisitLimits, number)};
    return knn::ExpandGrid(grid);
}

void CompareWindow::runCompare() {
    const std::vector<knn::CompareConfig> configs = pickedConfigs();
    if (configs.empty()) {
        Dialogs::showMessage(this, QStringLiteral("Check at least one value in every list."));
        return;
    }
    RunButton->setEnabled(false);
    CancelButton->setEnabled(true);
    Progress->setValue(0);
    Status->setText(QStringLiteral("Measuring %1 configurations...").arg(configs.size()));
    std::optional<knn::CompareResult> result;
    // A compare run is a run of the main window: its Cancel, Esc and closing stop it too.
    comparing = true;
    main.runGate().run(
        [&] {
            result = driver.CompareConfigurations(
                configs, Repetitions->value(), [this](std::int64_t done, std::int64_t total) {
                    Progress->setValue(total > 0 ? static_cast<int>(done * Progress->maximum() / total) : 0);
                });
        },
        CancelButton);
    comparing = false;
    RunButton->setEnabled(true);
    CancelButton->setEnabled(false);
    if (!result) {
        Status->setText(QStringLiteral("The compare run ended early."));
        return;
    }
    showResult(std::move(*result));
}

void CompareWindow::cancelCompare() {
    main.runGate().requestCancel();
}

void CompareWindow::closeEvent(QCloseEvent* event) {
    // Its run would go on unseen, holding the main window's OK disabled.
    if (comparing) cancelCompare();
    QWidget::closeEvent(event);
}

void CompareWindow::showResult(knn::CompareResult result) {
    const int measured = static_cast<int>(result.rows.size());
    const int asked = result.configCount;
    QString text = result.cancelled
                       ? QStringLiteral("Cancelled after %1 of %2 configurations.").arg(measured).arg(asked)
                       : QStringLiteral("%1 configurations measured.").arg(measured);
    const auto describe = [&](int row, const QString& what) {
        if (row < 0) return QStringLiteral("\nNo %1 configuration.").arg(what);
        const knn::CompareRow& r = result.rows[static_cast<std::size_t>(row)];
        return QStringLiteral("\nFastest %1: row %2, %3 (%4 for the queries)")
            .arg(what)
            .arg(row + 1)
            .arg(QString::fromStdString(knn::CompareLabel(r.config)), seconds(r.querySeconds));
    };
    text += describe(result.fastestExact, QStringLiteral("exact"));
    text += describe(result.fastestAccurate, QStringLiteral("with recall >= 0.95"));
    Status->setText(text);
    Table->sortByColumn(-1, Qt::AscendingOrder);
    rows->setResult(std::move(result));
    SaveTable->setEnabled(rows->rowCount() > 0);
    SaveChart->setEnabled(rows->rowCount() > 0);
    Table->resizeColumnsToContents();
    drawCharts();
}

void CompareWindow::drawCharts() {
    const knn::CompareResult& result = rows->result();
    QChart* recall = RecallChart->chart();
    clearChart(recall);
    auto* recallAxis = new QValueAxis;
    recallAxis->setTitleText(QStringLiteral("Recall"));
    auto* timeAxis = new QLogValueAxis;
    timeAxis->setTitleText(QStringLiteral("Query time (s)"));
    timeAxis->setLabelFormat(QStringLiteral("%.3g"));
    recall->addAxis(recallAxis, Qt::AlignBottom);
    recall->addAxis(timeAxis, Qt::AlignLeft);
    // A logarithmic axis takes no zero: the fastest times are kept above a nanosecond.
    const auto time = [](const knn::CompareRow& row) { return std::max(row.querySeconds, 1e-9); };
    // The Pareto front: from the fastest on, each configuration that recalls more than every faster one.
    std::vector<int> order(result.rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return result.rows[static_cast<std::size_t>(a)].querySeconds <
               result.rows[static_cast<std::size_t>(b)].querySeconds;
    });
    auto* front = new QLineSeries;
    front->setName(QStringLiteral("Pareto front"));
    std::vector<bool> onFront(result.rows.size(), false);
    double bestRecall = -1.0;
    for (const int r : order) {
        const knn::CompareRow& row = result.rows[static_cast<std::size_t>(r)];
        if (row.recall <= bestRecall) continue;
        bestRecall = row.recall;
        onFront[static_cast<std::size_t>(r)] = true;
        front->append(row.recall, time(row));
    }
    double lowestRecall = 1.0;
    for (int r = 0; r < static_cast<int>(result.rows.size()); ++r) {
        const knn::CompareRow& row = result.rows[static_cast<std::size_t>(r)];
        lowestRecall = std::min(lowestRecall, row.recall);
        const bool winner = r == result.fastestExact || r == result.fastestAccurate;
        auto* point = new QScatterSeries;
        point->append(row.recall, time(row));
        point->setMarkerSize(winner ? 14 : 9);
        if (winner)
            point->setColor(r == result.fastestExact ? exactColour.darker(140) : accurateColour.darker(140));
        // Configurations often share a recall (all exact ones 1): only the front and the winners carry
        // their whole label, the others their row number, so the labels stay readable. A format without
        // placeholders shows as it is.
        QString label = QString::number(r + 1);
        if (winner || onFront[static_cast<std::size_t>(r)])
            label += QStringLiteral(" ") + QString::fromStdString(knn::CompareLabel(row.config));
        point->setPointLabelsFormat(label);
        point->setPointLabelsVisible(true);
        point->setPointLabelsClipping(false);
        recall->addSeries(point);
        point->attachAxis(recallAxis);
        point->attachAxis(timeAxis);
    }
    recall->addSeries(front);
    front->attachAxis(recallAxis);
    front->attachAxis(timeAxis);
    recallAxis->setRange(std::max(0.0, lowestRecall - 0.05), 1.02);
    if (!result.rows.empty()) {
        const auto [fastest, slowest] = std::minmax_element(
            result.rows.begin(), result.rows.end(),
            [&](const knn::CompareRow& a, const knn::CompareRow& b) { return time(a) < time(b); });
        timeAxis->setRange(time(*fastest) / 1.5, time(*slowest) * 1.5);
    }

    QChart* bars = TimeChart->chart();
    clearChart(bars);
    auto* build = new QBarSet(QStringLiteral("Build"));
    auto* query = new QBarSet(QStringLiteral("Query"));
    QStringList numbers;
    for (std::size_t r = 0; r < result.rows.size(); ++r) {
        *build << result.rows[r].buildSeconds;
        *query << result.rows[r].querySeconds;
        numbers << QString::number(r + 1);
    }
    auto* stacked = new QStackedBarSeries;
    stacked->append({build, query});
    bars->addSeries(stacked);
    auto* rowAxis = new QBarCategoryAxis;
    rowAxis->append(numbers);
    rowAxis->setTitleText(QStringLiteral("Row"));
    // Two-digit row numbers are a little wider than a default grid's bars; cut, they would read "...".
    rowAxis->setTruncateLabels(false);
    auto* secondsAxis = new QValueAxis;
    secondsAxis->setTitleText(QStringLiteral("Seconds (build, then queries)"));
    secondsAxis->setLabelFormat(QStringLiteral("%.3g"));
    bars->addAxis(rowAxis, Qt::AlignBottom);
    bars->addAxis(secondsAxis, Qt::AlignLeft);
    stacked->attachAxis(rowAxis);
    stacked->attachAxis(secondsAxis);
    bars->legend()->setVisible(true);
    bars->legend()->setAlignment(Qt::AlignBottom);
}

void CompareWindow::useConfiguration() {
    const QModelIndexList selected = Table->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        Dialogs::showMessage(this, QStringLiteral("Select a row first."));
        return;
    }
    const int row = sorted->mapToSource(selected.front()).row();
    main.applyConfiguration(rows->result().rows[static_cast<std::size_t>(row)].config);
}

void CompareWindow::saveTable() {
    const Dialogs::FileRequest request{
        QStringLiteral("Save table"),
        {QStringLiteral("Tab-separated text (*.tsv *.txt)"), QStringLiteral("Comma-separated text (*.csv)")},
        QStringLiteral("tsv"),
        true,
        {}};
    const std::optional<QString> path = Dialogs::chooseFile(this, request);
    if (!path) return;
    const char separator =
        QFileInfo(*path).suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0 ? ',' : '\t';
    if (!knn::WriteFileAtomically(QFile::encodeName(*path).toStdString(),
                                  [&](std::ostream& out) { knn::WriteTable(rows->table(), out, separator); }))
        Dialogs::showMessage(this, QStringLiteral("Could not write %1.").arg(*path));
}

void CompareWindow::saveChart() {
    const Dialogs::FileRequest request{QStringLiteral("Save chart"),
                                       {QStringLiteral("PNG images (*.png)")},
                                       QStringLiteral("png"),
                                       true,
                                       {}};
    const std::optional<QString> path = Dialogs::chooseFile(this, request);
    if (path && !SaveImageAtomically(charts->grab(), *path))
        Dialogs::showMessage(this, QStringLiteral("Could not write %1.").arg(*path));
}
