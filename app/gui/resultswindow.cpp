// Results window: widgets, splitters, column-width mirroring and the bottom panel.
#include "resultswindow.h"

#include "dialogs.h"
#include "imagefile.h"
#include "outputfile.h"
#include "resultschart.h"
#include "resulttable.h"
#include "session.h"
#include "tablemodel.h"
#include "treereport.h"
#include "windowops.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <algorithm>
#include <sstream>
#include <utility>

namespace {

constexpr int tableHeight = 150;
constexpr int memoWidth = 233;
constexpr int bottomPanelHeight = 55;
/// Column widths fit at least this many rows from the top row in sight, so that a view not shown yet
/// fits what it will show; a million rows cost no more than a hundred.
constexpr int sizedRows = 100;
/// The tree statistics in two columns, so the bottom panel stays as wide as the window.
constexpr int treeStatRows = 5;

QString seconds(double s) {
    return QString::number(s, 'f', 3) + QStringLiteral(" s");
}

/// Writes to a file through write, whole or not at all; a message names the file when that fails or
/// when the file is one the run read, which the write would replace.
template <class Write>
void writeFile(QWidget* parent, const QString& path, const knn::RunInputs& inputs, Write write) {
    const std::string file = QFile::encodeName(path).toStdString();
    for (const auto& [input, role] : {std::pair{&inputs.data, "data"}, std::pair{&inputs.query, "query"}}) {
        if (!input->empty() && knn::SameFile(file, *input)) {
            Dialogs::showMessage(parent, QStringLiteral("Could not write %1: it is the %2 file of the run.")
                                             .arg(path, QLatin1String(role)));
            return;
        }
    }
    if (!knn::WriteFileAtomically(file, write))
        Dialogs::showMessage(parent, QStringLiteral("Could not write %1.").arg(path));
}

} // namespace

ListView::ListView(const QString& name, QWidget* parent) : QTableView(parent) {
    setObjectName(name);
    setShowGrid(true);
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultSectionSize(64);
    horizontalHeader()->setResizeContentsPrecision(sizedRows);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto* copy = new QAction(QStringLiteral("Copy"), this);
    copy->setShortcut(QKeySequence::Copy);
    connect(copy, &QAction::triggered, this, &ListView::copySelection);
    auto* all = new QAction(QStringLiteral("Select all"), this);
    all->setShortcut(QKeySequence::SelectAll);
    connect(all, &QAction::triggered, this, &QTableView::selectAll);
    for (QAction* action : {copy, all}) {
        // Each table has its own pair: they act on the table that has the focus.
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setShortcutVisibleInContextMenu(true);
        addAction(action);
    }
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

bool ReportMemo::focusNextPrevChild(bool) {
    return false;
}

QList<int> ListView::contentWidths() const {
    QList<int> widths;
    const QAbstractItemModel* shown = model();
    if (!shown) return widths;
    const int rows = shown->rowCount();
    const int top = std::max(rowAt(0), 0);
    const int inSight = viewport()->height() / std::max(verticalHeader()->defaultSectionSize(), 1) + 1;
    const int last = std::min(rows, top + std::max(inSight, sizedRows));
    // The grid line takes a pixel of each cell.
    const int grid = showGrid() ? 1 : 0;
    for (int c = 0; c < shown->columnCount(); ++c) {
        int width = horizontalHeader()->sectionSizeHint(c);
        for (int r = top; r < last; ++r)
            width = std::max(width, sizeHintForIndex(shown->index(r, c)).width() + grid);
        widths.append(width);
    }
    // The "#" column numbers the rows: the last number is the widest.
    if (rows > 0 && !widths.isEmpty())
        widths[0] = std::max(widths[0], sizeHintForIndex(shown->index(rows - 1, 0)).width() + grid);
    return widths;
}

void ListView::copySelection() const {
    const auto* shown = qobject_cast<const TableModel*>(model());
    if (!shown) return;
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        for (int r = range.top(); r <= range.bottom(); ++r)
            rows.push_back(r);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::ostringstream text;
    knn::WriteTableRows(shown->resultTable(), text, '\t', rows);
    QGuiApplication::clipboard()->setText(QString::fromStdString(text.str()));
}

void ListView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    Q_EMIT resized();
}

void ListView::keyPressEvent(QKeyEvent* event) {
    // The view's own copy takes the current cell alone.
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    QTableView::keyPressEvent(event);
}

ResultsWindow::ResultsWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), dataModel(nullptr), queryModel(nullptr) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Form2"));
    resize(954, 803);

    ListView1 = new ListView(QStringLiteral("ListView1"), this);
    ListView2 = new ListView(QStringLiteral("ListView2"), this);
    connect(ListView1, &ListView::resized, this, &ResultsWindow::ListView1Resize);
    connect(ListView1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &ResultsWindow::ListView1ColumnClick);
    connect(ListView2, &ListView::resized, this, &ResultsWindow::ListView2Resize);
    connect(ListView2->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &ResultsWindow::ListView2ColumnClick);

    Memo1 = new ReportMemo(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setTabChangesFocus(false);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setFamilies({QStringLiteral("Courier New"), mono.family()});
    mono.setPixelSize(12);
    Memo1->setFont(mono);
    QPalette memoColours = Memo1->palette();
    memoColours.setColor(QPalette::Text, QColor(0, 128, 0));
    memoColours.setColor(QPalette::Base, QColor(255, 191, 255));
    Memo1->setPalette(memoColours);

    Chart1 = new ResultsChart(this);

    auto* reportAndChart = new QSplitter(Qt::Horizontal, this);
    reportAndChart->setObjectName(QStringLiteral("ReportAndChart"));
    reportAndChart->setHandleWidth(3);
    reportAndChart->addWidget(Memo1);
    reportAndChart->addWidget(Chart1);
    reportAndChart->handle(1)->setObjectName(QStringLiteral("Splitter1"));
    reportAndChart->setStretchFactor(1, 1);
    reportAndChart->setSizes({memoWidth, width() - memoWidth});

    // One vertical splitter with two handles: each resizes the table above it.
    auto* tables = new QSplitter(Qt::Vertical, this);
    tables->setObjectName(QStringLiteral("TablesAndRest"));
    tables->setHandleWidth(3);
    tables->setChildrenCollapsible(false);
    tables->addWidget(ListView1);
    tables->addWidget(ListView2);
    tables->addWidget(reportAndChart);
    tables->setStretchFactor(2, 1);
    tables->handle(1)->setObjectName(QStringLiteral("Splitter3"));
    tables->handle(2)->setObjectName(QStringLiteral("Splitter2"));
    tables->setSizes({tableHeight, tableHeight, height() - 2 * tableHeight - bottomPanelHeight});

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* panelRow = new QHBoxLayout(panel);
    constexpr int panelMargin = 4;
    panelRow->setContentsMargins(panelMargin, 0, panelMargin, 0);
    // The lines of the tree statistics, in whatever font.
    panel->setFixedHeight(std::max(bottomPanelHeight, treeStatRows * fontMetrics().lineSpacing() +
                                                          2 * (panelMargin + panel->frameWidth())));
    timingsLabel = new QLabel(panel);
    timingsLabel->setObjectName(QStringLiteral("TimingsLabel"));
    timingsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    treeStatsPanel = new QFrame(panel);
    treeStatsPanel->setObjectName(QStringLiteral("TreeStatsPanel"));
    treeStatsPanel->setToolTip(QStringLiteral("Shape of the tree that answered the queries"));
    auto* statsGrid = new QGridLayout(treeStatsPanel);
    statsGrid->setContentsMargins(0, 0, 0, 0);
    statsGrid->setVerticalSpacing(0);
    statsGrid->setHorizontalSpacing(12);
    for (int line = 0; line < 9; ++line) {
        auto* label = new QLabel(treeStatsPanel);
        label->setObjectName(QStringLiteral("TreeStat%1").arg(line));
        statsGrid->addWidget(label, line % treeStatRows, line / treeStatRows);
        treeStatLabels.append(label);
    }
    treeStatsPanel->hide();
    saveResultsButton = new QPushButton(QStringLiteral("Save results..."), panel);
    saveResultsButton->setObjectName(QStringLiteral("SaveResultsButton"));
    saveResultsButton->setToolTip(QStringLiteral("Save the query table as tab- or comma-separated text"));
    saveTreeButton = new QPushButton(QStringLiteral("Save tree..."), panel);
    saveTreeButton->setObjectName(QStringLiteral("SaveTreeButton"));
    saveTreeButton->setToolTip(
        QStringLiteral("Save the tree that answered, with its points, as a dump file"));
    saveTreeButton->setEnabled(false);
    saveResultsButton->setEnabled(false);
    saveChartButton = new QPushButton(QStringLiteral("Save chart..."), panel);
    saveChartButton->setObjectName(QStringLiteral("SaveChartButton"));
    saveChartButton->setToolTip(QStringLiteral("Save the chart as a PNG image"));
    connect(saveResultsButton, &QPushButton::clicked, this, &ResultsWindow::saveResults);
    connect(saveTreeButton, &QPushButton::clicked, this, &ResultsWindow::saveTree);
    connect(saveChartButton, &QPushButton::clicked, this, &ResultsWindow::saveChart);
    panelRow->addWidget(timingsLabel);
    panelRow->addSpacing(12);
    panelRow->addWidget(treeStatsPanel);
    panelRow->addStretch(1);
    // Two rows of buttons leave the statistics room.
    auto* buttons = new QGridLayout;
    buttons->setSpacing(4);
    buttons->addWidget(saveResultsButton, 0, 0);
    buttons->addWidget(saveChartButton, 0, 1);
    buttons->addWidget(saveTreeButton, 1, 0);
    panelRow->addLayout(buttons);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(tables, 1);
    column->addWidget(panel);
}

void ResultsWindow::setRunDriver(const knn::RunDriver& runDriver) {
    driver = &runDriver;
    dataModel = new TableModel(runDriver.dataTable(), this);
    queryModel = new TableModel(runDriver.queryTable(), this);
    ListView1->setModel(dataModel);
    ListView2->setModel(queryModel);
    // Fresh captions and cells get columns wide enough to read them.
    for (TableModel* model : {dataModel, queryModel}) {
        connect(model, &QAbstractItemModel::dataChanged, this, &ResultsWindow::fitColumns);
        connect(model, &QAbstractItemModel::modelReset, this, &ResultsWindow::fitColumns);
    }
}

void ResultsWindow::fitColumns() {
    QList<int> data = ListView1->contentWidths();
    QList<int> queries = ListView2->contentWidths();
    for (qsizetype c = 0; c < std::min(data.size(), queries.size()); ++c)
        data[c] = queries[c] = std::max(data[c], queries[c]);
    for (auto [view, widths] : {std::pair{ListView1, &data}, std::pair{ListView2, &queries}})
        for (qsizetype c = 0; c < widths->size(); ++c)
            view->setColumnWidth(static_cast<int>(c), widths->at(c));
}

void ResultsWindow::clearRunOutcome() {
    Memo1->clear();
    timingsLabel->clear();
    treeStatsPanel->hide();
    saveTreeButton->setEnabled(false);
}

void ResultsWindow::showTimings(const knn::RunTimings& timings) {
    using knn::TimedPhase;
    QStringList lines;
    if (timings.reached >= TimedPhase::Load)
        lines.append(QStringLiteral("Load: ") + seconds(timings.loadSeconds));
    if (timings.reached >= TimedPhase::Build)
        lines.append(QStringLiteral("Build: ") + seconds(timings.buildSeconds));
    if (timings.reached >= TimedPhase::Queries) {
        const std::int64_t answered = timings.queriesAnswered;
        lines.append(QStringLiteral("Queries: %1, %2 ms each (%3 %4)")
                         .arg(seconds(timings.queriesSeconds),
                              QString::number(timings.meanQuerySeconds() * 1000.0, 'f', 4))
                         .arg(answered)
                         .arg(answered == 1 ? QStringLiteral("query") : QStringLiteral("queries")));
    }
    if (timings.end != knn::RunEnd::Complete) lines.append(QString::fromStdString(knn::RunEndLine(timings)));
    timingsLabel->setText(lines.join(QLatin1Char('\n')));
}

void ResultsWindow::runEnded() {
    showTreeStats();
    saveResultsButton->setEnabled(driver && driver->hasResults());
}

void ResultsWindow::showTreeStats() {
    qel::QELkd_tree* tree = driver ? driver->answeringTree() : nullptr;
    saveTreeButton->setEnabled(tree != nullptr);
    treeStatsPanel->setVisible(tree != nullptr);
    // The statistics of a large tree take a while: a run that ended early with the window hidden
    // does not wait for them.
    treeStatsDue = tree != nullptr && !isVisible();
    if (tree && !treeStatsDue) fillTreeStats();
}

void ResultsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (std::exchange(treeStatsDue, false)) fillTreeStats();
}

void ResultsWindow::fillTreeStats() {
    // The window may show during the next run, which has no answering tree yet.
    qel::QELkd_tree* tree = driver->answeringTree();
    if (!tree) return;
    const std::vector<std::string> lines = knn::TreeStatsLines(*tree);
    for (qsizetype i = 0; i < treeStatLabels.size(); ++i)
        treeStatLabels[i]->setText(QString::fromStdString(lines.at(static_cast<std::size_t>(i))));
}

void ResultsWindow::mirrorColumnWidths(const QTableView* from, QTableView* to) {
    const int shared = std::min(from->horizontalHeader()->count(), to->horizontalHeader()->count());
    for (int column = 0; column < shared; ++column)
        to->setColumnWidth(column, from->columnWidth(column));
}

void ResultsWindow::ListView1Resize() {
    mirrorColumnWidths(ListView1, ListView2);
}

void ResultsWindow::ListView1ColumnClick() {
    mirrorColumnWidths(ListView1, ListView2);
}

void ResultsWindow::ListView2Resize() {
    mirrorColumnWidths(ListView2, ListView1);
}

void ResultsWindow::ListView2ColumnClick() {
    mirrorColumnWidths(ListView2, ListView1);
}

void ResultsWindow::saveResults() {
    const Dialogs::FileRequest request{
        QStringLiteral("Save results"),
        {QStringLiteral("Tab-separated text (*.txt *.tsv)"), QStringLiteral("Comma-separated text (*.csv)")},
        QStringLiteral("txt"),
        true,
        QString()};
    const std::optional<QString> path = Dialogs::chooseFile(this, request);
    if (!path || !driver) return;
    const char separator =
        QFileInfo(*path).suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0 ? ',' : '\t';
    writeFile(this, *path, driver->inputFiles(),
              [&](std::ostream& out) { knn::WriteTable(driver->queryTable(), out, separator); });
}

void ResultsWindow::saveTree() {
    qel::QELkd_tree* tree = driver ? driver->answeringTree() : nullptr;
    if (!tree) return;
    const Dialogs::FileRequest request{
        QStringLiteral("Save tree"),
        {QStringLiteral("Tree dumps (*.dump)"), QStringLiteral("All files (*)")},
        QStringLiteral("dump"),
        true,
        QString()};
    if (const std::optional<QString> path = Dialogs::chooseFile(this, request))
        writeFile(this, *path, driver->inputFiles(), [&](std::ostream& out) { tree->dumpTree(true, out); });
}

void ResultsWindow::saveChart() {
    const Dialogs::FileRequest request{QStringLiteral("Save chart"),
                                       {QStringLiteral("PNG images (*.png)")},
                                       QStringLiteral("png"),
                                       true,
                                       QString()};
    const std::optional<QString> path = Dialogs::chooseFile(this, request);
    if (path && !SaveImageAtomically(Chart1->grab(), *path))
        Dialogs::showMessage(this, QStringLiteral("Could not write %1.").arg(*path));
}
