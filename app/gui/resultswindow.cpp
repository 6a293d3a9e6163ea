// Results window: widgets, splitters, column-width mirroring and the bottom panel.
#include "resultswindow.h"

#include "dialogs.h"
#include "resultschart.h"
#include "resulttable.h"
#include "tablemodel.h"
#include "windowops.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <fstream>

namespace {

constexpr int tableHeight = 150;
constexpr int memoWidth = 233;
constexpr int bottomPanelHeight = 55;
/// Column widths fit the first this many rows, so a million rows cost no more than a hundred.
constexpr int sizedRows = 100;

QString seconds(double s) {
    return QString::number(s, 'f', 3) + QStringLiteral(" s");
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
}

bool ReportMemo::focusNextPrevChild(bool) {
    return false;
}

void ListView::fitColumnsToContents() {
    resizeColumnsToContents();
    if (model() && model()->rowCount() > 0) {
        const QString widest = model()->index(model()->rowCount() - 1, 0).data().toString();
        const int padding = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin) + 4;
        setColumnWidth(0, std::max(columnWidth(0), fontMetrics().horizontalAdvance(widest) + padding));
    }
}

void ListView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    Q_EMIT resized();
}

ResultsWindow::ResultsWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), dataModel(nullptr), queryModel(nullptr), queryRows(nullptr) {
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
    panel->setFixedHeight(bottomPanelHeight);
    auto* panelRow = new QHBoxLayout(panel);
    timingsLabel = new QLabel(panel);
    timingsLabel->setObjectName(QStringLiteral("TimingsLabel"));
    timingsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    saveResultsButton = new QPushButton(QStringLiteral("Save results..."), panel);
    saveResultsButton->setObjectName(QStringLiteral("SaveResultsButton"));
    saveResultsButton->setToolTip(QStringLiteral("Save the query table as tab- or comma-separated text"));
    saveChartButton = new QPushButton(QStringLiteral("Save chart..."), panel);
    saveChartButton->setObjectName(QStringLiteral("SaveChartButton"));
    saveChartButton->setToolTip(QStringLiteral("Save the chart as a PNG image"));
    connect(saveResultsButton, &QPushButton::clicked, this, &ResultsWindow::saveResults);
    connect(saveChartButton, &QPushButton::clicked, this, &ResultsWindow::saveChart);
    panelRow->addWidget(timingsLabel, 1);
    panelRow->addWidget(saveResultsButton);
    panelRow->addWidget(saveChartButton);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(tables, 1);
    column->addWidget(panel);
}

void ResultsWindow::setTables(const knn::ResultTable& dataTable, const knn::ResultTable& queryTable) {
    dataModel = new TableModel(dataTable, this);
    queryModel = new TableModel(queryTable, this);
    queryRows = &queryTable;
    ListView1->setModel(dataModel);
    ListView2->setModel(queryModel);
    // Fresh cells get columns wide enough to read them.
    for (auto [model, view] : {std::pair{dataModel, ListView1}, std::pair{queryModel, ListView2}})
        connect(model, &QAbstractItemModel::dataChanged, view, &ListView::fitColumnsToContents);
}

void ResultsWindow::showTimings(const knn::RunTimings& timings) {
    timingsLabel->setText(
        QStringLiteral("Load: %1    Build: %2    Queries: %3 in total, %4 ms per query (%5 queries)")
            .arg(seconds(timings.loadSeconds), seconds(timings.buildSeconds), seconds(timings.queriesSeconds),
                 QString::number(timings.meanQuerySeconds() * 1000.0, 'f', 4))
            .arg(timings.queriesAnswered));
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
        true};
    const std::optional<QString> path = Dialogs::chooseFile(this, request);
    if (!path || !queryRows) return;
    const char separator =
        QFileInfo(*path).suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0 ? ',' : '\t';
    std::ofstream out(QFile::encodeName(*path).toStdString(), std::ios::binary);
    knn::WriteTable(*queryRows, out, separator);
    out.close();
    if (!out) Dialogs::showMessage(this, QStringLiteral("Could not write %1.").arg(*path));
}

void ResultsWindow::saveChart() {
    const Dialogs::FileRequest request{
        QStringLiteral("Save chart"), {QStringLiteral("PNG images (*.png)")}, QStringLiteral("png"), true};
    const std::optional<QString> path = Dialogs::chooseFile(this, request);
    if (path && !Chart1->grab().save(*path, "PNG"))
        Dialogs::showMessage(this, QStringLiteral("Could not write %1.").arg(*path));
}
