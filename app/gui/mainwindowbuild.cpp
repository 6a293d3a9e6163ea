// Main window: building the controls, with the bindings of the Auto boxes to their flags.
#include "mainwindow.h"

#include "captiontexts.h"
#include "radiogroup.h"
#include "rungate.h"
#include "spinedit.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <algorithm>
#include <functional>
#include <limits>
#include <tuple>
#include <utility>

namespace {

const QString autoCaption = QStringLiteral("Auto");
const QString autoHint = QStringLiteral("Set default value");
const QColor captionBlue(0, 0, 255);

QLabel* boldLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

/// Tight spacing, so the panel keeps the size of a small dialog.
template <class Layout> Layout* compact(Layout* layout) {
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(3);
    return layout;
}

template <class Widget> Widget* named(Widget* widget, const QString& name, const QString& hint = QString()) {
    widget->setObjectName(name);
    if (!hint.isEmpty()) widget->setToolTip(hint);
    return widget;
}

QCheckBox* autoBox(const QString& name, QWidget* parent, bool withHint = true) {
    auto* box = named(new QCheckBox(autoCaption, parent), name, withHint ? autoHint : QString());
    box->setChecked(true);
    return box;
}

/// Gives the direct children of widget the text colours of `usual`, so that a colour the widget's own
/// caption takes does not reach them.
void keepChildColours(QWidget* widget, const QPalette& usual) {
    for (QWidget* child : widget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        // Colours set explicitly stop the blue from reaching the children; every group is set, so the
        // children's disabled text is the usual grey too.
        QPalette own = child->palette();
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText})
                own.setColor(group, role, usual.color(group, role));
        child->setPalette(own);
    }
}

/// Paints the text of a check box or the caption of a group box blue while it is enabled; its children
/// keep the usual colours, and disabled text keeps the usual grey.
void paintCaptionBlue(QWidget* widget) {
    const QPalette usual = widget->palette();
    QPalette blue = usual;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText})
            blue.setColor(group, role, captionBlue);
    widget->setPalette(blue);
    keepChildColours(widget, usual);
}

/// Calls `changed` whenever a control it watches is enabled or disabled, itself or through a parent.
class EnabledWatch : public QObject {
public:
    EnabledWatch(QObject* owner, std::function<void()> onChange)
        : QObject(owner), changed(std::move(onChange)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange) changed();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> changed;
};

/// Shows a caption enabled exactly while one of the controls it names is: `show` gets that state now
/// and whenever it may have changed.
void captionFollows(QWidget* caption, std::initializer_list<QWidget*> controls,
                    std::function<void(bool)> show) {
    const auto update = [watched = QList<QWidget*>(controls), show = std::move(show)] {
        show(std::any_of(watched.begin(), watched.end(), [](const QWidget* c) { return c->isEnabled(); }));
    };
    auto* watch = new EnabledWatch(caption, update);
    for (QWidget* control : controls)
        control->installEventFilter(watch);
    update();
}

/// A label greys with the control it names.
QLabel* captionOf(QWidget* control, const QString& text, const QString& name, QWidget* parent) {
    auto* label = named(new QLabel(text, parent), name);
    captionFollows(label, {control}, [label](bool on) { label->setEnabled(on); });
    return label;
}

/// The caption of a group box greys with the controls it names, while the box and the rest of what it
/// holds stay enabled.
void groupCaptionFollows(QGroupBox* box, std::initializer_list<QWidget*> controls) {
    const QPalette usual = box->palette();
    keepChildColours(box, usual);
    captionFollows(box, controls, [box, usual](bool on) {
        QPalette shown = usual;
        if (!on)
            for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
                shown.setColor(group, QPalette::WindowText,
                               usual.color(QPalette::Disabled, QPalette::WindowText));
        box->setPalette(shown);
    });
}

/// An option's range from the vocabulary, its open top closed where the panel stops stepping.
knn::IntLimit cappedAt(knn::IntLimit limit, int top) {
    return {limit.lowest, std::min(limit.highest, top)};
}

/// Spin edits are as wide as the digits they show, and at least as wide as the other option boxes.
SpinEdit* spinEdit(const QString& name, knn::IntLimit range, int value, const QString& hint, QWidget* parent,
                   int digits = 4) {
    auto* edit = named(new SpinEdit(range.lowest, range.highest, value, parent), name, hint);
    edit->fitDigits(digits);
    edit->setFixedWidth(std::max(edit->width(), 70));
    return edit;
}

/// The bundled sample file: next to the program, in its installed data folder, else in the source tree.
QString bundledSampleFile(const QString& name) {
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString candidates[] = {programDir + QStringLiteral("/data/") + name,
                                  programDir + QStringLiteral("/../share/knnbench/data/") + name,
                                  QStringLiteral(KNN_SOURCE_DIR "/data/") + name};
    for (const QString& candidate : candidates)
        if (QFileInfo::exists(candidate)) return QDir::toNativeSeparators(QDir::cleanPath(candidate));
    return QDir::toNativeSeparators(QDir::cleanPath(candidates[std::size(candidates) - 1]));
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KNN"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    buildWidgets();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildWidgets() {
    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    column->addWidget(buildPathRows());
    column->addWidget(buildOptionPanel());

    auto* buttons = new QHBoxLayout;
    BitBtn3 = named(new QPushButton(style()->standardIcon(QStyle::SP_BrowserReload),
                                    QStringLiteral("Reload data"), client),
                    QStringLiteral("BitBtn3"), QStringLiteral("Perform search"));
    BitBtn1 =
        named(new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), client),
              QStringLiteral("BitBtn1"), QStringLiteral("Perform search"));
    BitBtn4 = named(new QPushButton(QStringLiteral("Compare..."), client), QStringLiteral("BitBtn4"),
                    QStringLiteral("Measure many configurations on the same data"));
    connect(BitBtn4, &QPushButton::clicked, this, &MainWindow::compareRequested);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &MainWindow::BitBtn1Click);
    connect(BitBtn3, &QPushButton::clicked, this, &MainWindow::BitBtn3Click);
    for (QPushButton* button : {BitBtn3, BitBtn4, BitBtn1})
        button->setMinimumWidth(110);
    AboutButton = named(new QPushButton(QStringLiteral("About"), client), QStringLiteral("AboutButton"),
                        QStringLiteral("What the options do, and the point-file format (F1)"));
    connect(AboutButton, &QPushButton::clicked, this, &MainWindow::showAbout);
    auto* help = new QAction(this);
    help->setShortcut(QKeySequence::HelpContents);
    help->setShortcutContext(Qt::ApplicationShortcut);
    connect(help, &QAction::triggered, this, &MainWindow::showAbout);
    addAction(help);
    // A long run's progress and its Cancel sit beside "OK", where the eyes are after the click.
    auto* runProgress = named(new RunProgressBar(client), QStringLiteral("RunProgress"));
    runProgress->setFixedWidth(130);
    CancelButton = named(new QPushButton(QStringLiteral("Cancel"), client), QStringLiteral("CancelButton"),
                         QStringLiteral("Stop the run (Esc)"));
    CancelButton->setAutoDefault(false);
    // Their room is kept while they are hidden, so the fixed-size window does not widen during a run.
    for (QWidget* runControl : std::initializer_list<QWidget*>{runProgress, CancelButton}) {
        QSizePolicy policy = runControl->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        runControl->setSizePolicy(policy);
    }
    gate = new RunGate(*this, *runProgress, *CancelButton, {BitBtn1, BitBtn3});
    buttons->addWidget(BitBtn3);
    buttons->addWidget(AboutButton);
    buttons->addStretch();
    buttons->addWidget(BitBtn4);
    buttons->addWidget(runProgress);
    buttons->addWidget(CancelButton);
    buttons->addWidget(BitBtn1);
    column->addLayout(buttons);
    setCentralWidget(client);
    buildStatusBar();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

QWidget* MainWindow::buildPathRows() {
    auto* rows = new QWidget(this);
    auto* grid = new QGridLayout(rows);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(2);
    const auto pathRow = [&](int row, const QString& caption, const QString& editName,
                             const QString& buttonName, void (MainWindow::*handler)()) {
        auto* edit = named(new QLineEdit(rows), editName);
        edit->setText(bundledSampleFile(row == 0 ? QStringLiteral("data.pts") : QStringLiteral("query.pts")));
        edit->setMinimumWidth(489);
        auto* chooser = named(new QToolButton(rows), buttonName, QStringLiteral("Select file"));
        chooser->setText(QStringLiteral("..."));
        connect(chooser, &QToolButton::clicked, this, handler);
        grid->addWidget(boldLabel(caption, rows), 2 * row, 0, 1, 2);
        grid->addWidget(edit, 2 * row + 1, 0);
        grid->addWidget(chooser, 2 * row + 1, 1);
        return std::pair{edit, chooser};
    };
    std::tie(Edit1, SpeedButton1) = pathRow(0, QStringLiteral("Input file:"), QStringLiteral("Edit1"),
                                            QStringLiteral("SpeedButton1"), &MainWindow::SpeedButton1Click);
    std::tie(Edit2, SpeedButton2) = pathRow(1, QStringLiteral("Query file:"), QStringLiteral("Edit2"),
                                            QStringLiteral("SpeedButton2"), &MainWindow::SpeedButton2Click);
    return rows;
}

QWidget* MainWindow::buildOptionPanel() {
    auto* panel = named(new QFrame(this), QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* column = compact(new QVBoxLayout(panel));

    // The four value rows on the left, the metric on the right.
    auto* top = new QHBoxLayout;
    auto* values = new QGridLayout;
    SpinEdit1 = spinEdit(QStringLiteral("SpinEdit1"), cappedAt(knn::NeighbourLimit, 1000), 1,
                         QStringLiteral("No. of data points to calculate distances to"), panel);
    SpinEdit2 = spinEdit(QStringLiteral("SpinEdit2"), {1, 100}, 2,
                         QStringLiteral("Coordinate dimensions (1-100, default = 2)"), panel);
    Edit3 = named(new QLineEdit(QStringLiteral("0.0"), panel), QStringLiteral("Edit3"),
                  QStringLiteral("Error value (Epsilon) to approximate KNN search (0.0 for small datasets)"));
    Edit3->setFixedWidth(70);
    // Its upper bound becomes the data line count at each load: any count of lines fits.
    SpinEdit3 = spinEdit(QStringLiteral("SpinEdit3"), {1, 10000}, 1000,
                         QStringLiteral("Number of data points (use Auto to calculate from input file)"),
                         panel, std::numeric_limits<int>::digits10 + 1);
    CheckBox2 = autoBox(QStringLiteral("CheckBox2"), panel);
    CheckBox1 = autoBox(QStringLiteral("CheckBox1"), panel);
    CheckBox3 = autoBox(QStringLiteral("CheckBox3"), panel);
    CheckBox4 = autoBox(QStringLiteral("CheckBox4"), panel);
    const std::tuple<QString, QWidget*, QCheckBox*> valueRows[] = {
        {QStringLiteral("NN Amount:"), SpinEdit1, CheckBox2},
        {QStringLiteral("Dimensions:"), SpinEdit2, CheckBox1},
        {QStringLiteral("Error bound:"), Edit3, CheckBox3},
        {QStringLiteral("Max data:"), SpinEdit3, CheckBox4},
    };
    int row = 0;
    for (const auto& [caption, control, box] : valueRows) {
        values->addWidget(boldLabel(caption, panel), row, 0);
        values->addWidget(control, row, 1);
        values->addWidget(box, row, 2);
        ++row;
    }
    values->setRowStretch(row, 1);
    top->addLayout(values);
    top->addStretch();

    auto* metric = new QGridLayout;
    RadioGroup1 =
        named(new RadioGroup(QStringLiteral("RadioGroup1"), QStringLiteral("Distance metric"),
                             {QStringLiteral("&Manhattan (L-1)"), QStringLiteral("&Euclidean (L-2)"),
                              QStringLiteral("&Chebyshev (L-inf)"), QStringLiteral("C&ustom")},
                             1, panel),
              QStringLiteral("RadioGroup1"), QStringLiteral("Choose distance metric (default = 2)"));
    CheckBox5 = autoBox(QStringLiteral("CheckBox5"), panel);
    SpinEdit4 = spinEdit(QStringLiteral("SpinEdit4"), knn::PowerLimit, 2,
                         QStringLiteral("LP metric (default = 2)"), panel);
    metric->addWidget(RadioGroup1, 0, 0, 1, 3);
    metric->addWidget(CheckBox5, 1, 0);
    metric->addWidget(captionOf(SpinEdit4, QStringLiteral("P ="), QStringLiteral("PowerCaption"), panel), 1,
                      1, Qt::AlignRight);
    metric->addWidget(SpinEdit4, 1, 2);
    top->addLayout(metric);
    column->addLayout(top);

    column->addWidget(buildSearchOptions());

    BitBtn2 = named(new QPushButton(QStringLiteral("Enable all options"), panel), QStringLiteral("BitBtn2"),
                    QStringLiteral("Toggle default / manual options"));
    BitBtn2->setMinimumWidth(150);
    column->addWidget(BitBtn2, 0, Qt::AlignHCenter);

    auto* foot = new QHBoxLayout;
    CheckBox12 = named(new QCheckBox(QStringLiteral("Display search statistics"), panel),
                       QStringLiteral("CheckBox12"));
    CheckBox13 = named(new QCheckBox(QStringLiteral("Show graph"), panel), QStringLiteral("CheckBox13"));
    for (QCheckBox* box : {CheckBox12, CheckBox13}) {
        box->setChecked(true);
        paintCaptionBlue(box);
        foot->addWidget(box);
    }
    foot->addStretch();
    column->addLayout(foot);

    // Every option control starts disabled with its default; "P =" follows the metric, "R =" the range.
    for (QWidget* control : std::initializer_list<QWidget*>{
             SpinEdit1, SpinEdit2, Edit3, SpinEdit3, RadioGroup1, SpinEdit4, RadioGroup2, RadioButton1,
             RadioButton2, RadioButton3, Edit4, SpinEdit5, RadioGroup4, RadioGroup5, SpinEdit6})
        control->setEnabled(false);

    DisableNNAmount =
        bindAutoBox(CheckBox2, QStringLiteral("DisableNNAmount"), &MainWindow::DisableNNAmountExecute);
    DisableDimensions =
        bindAutoBox(CheckBox1, QStringLiteral("DisableDimensions"), &MainWindow::DisableDimensionsExecute);
    DisableEpsilon =
        bindAutoBox(CheckBox3, QStringLiteral("DisableEpsilon"), &MainWindow::DisableEpsilonExecute);
    DisableMaxData =
        bindAutoBox(CheckBox4, QStringLiteral("DisableMaxData"), &MainWindow::DisableMaxDataExecute);
    DisableDistances =
        bindAutoBox(CheckBox5, QStringLiteral("DisableDistances"), &MainWindow::DisableDistancesExecute);
    DisableSearchMode =
        bindAutoBox(CheckBox6, QStringLiteral("DisableSearchMode"), &MainWindow::DisableSearchModeExecute);
    DisableSearchRange =
        bindAutoBox(CheckBox7, QStringLiteral("DisableSearchRange"), &MainWindow::DisableSearchRangeExecute);
    DisableBS = bindAutoBox(CheckBox8, QStringLiteral("DisableBS"), &MainWindow::DisableBSExecute);
    DisableSplit = bindAutoBox(CheckBox9, QStringLiteral("DisableSplit"), &MainWindow::DisableSplitExecute);
    DisableShrink =
        bindAutoBox(CheckBox10, QStringLiteral("DisableShrink"), &MainWindow::DisableShrinkExecute);
    DisableBreak = bindAutoBox(CheckBox11, QStringLiteral("DisableBreak"), &MainWindow::DisableBreakExecute);

    DisableAll = named(new QAction(this), QStringLiteral("DisableAll"));
    DisableAll->setCheckable(true);
    DisableAll->setChecked(true);
    connect(BitBtn2, &QPushButton::clicked, DisableAll, &QAction::trigger);
    connect(DisableAll, &QAction::triggered, this, &MainWindow::DisableAllExecute);

    connect(RadioGroup1, &RadioGroup::itemChanged, this, &MainWindow::RadioGroup1Click);
    connect(RadioGroup2, &RadioGroup::itemChanged, this, &MainWindow::RadioGroup2Click);
    const std::pair<QRadioButton*, void (MainWindow::*)()> rangeHandlers[] = {
        {RadioButton1, &MainWindow::RadioButton1Click},
        {RadioButton2, &MainWindow::RadioButton2Click},
        {RadioButton3, &MainWindow::RadioButton3Click},
    };
    for (const auto& [button, handler] : rangeHandlers)
        connect(button, &QRadioButton::toggled, this, [this, handler](bool selected) {
            if (selected) (this->*handler)();
        });
    return panel;
}

QWidget* MainWindow::buildSearchOptions() {
    auto* group = named(new QGroupBox(QStringLiteral("Search options"), this), QStringLiteral("GroupBox1"));
    auto* column = compact(new QVBoxLayout(group));
    auto* top = new QHBoxLayout;

    auto* mode = new QVBoxLayout;
    RadioGroup2 =
        named(new RadioGroup(QStringLiteral("RadioGroup2"), QStringLiteral("Search mode"),
                             {QStringLiteral("Brute &force"), QStringLiteral("&Unbalanced tree (kd)"),
                              QStringLiteral("&Balanced tree (bd)")},
                             1, group),
              QStringLiteral("RadioGroup2"), QStringLiteral("Choose search mode (default = 2)"));
    CheckBox6 = autoBox(QStringLiteral("CheckBox6"), group);
    mode->addWidget(RadioGroup2);
    mode->addWidget(CheckBox6);
    top->addLayout(mode);

    auto* range = named(new QGroupBox(QStringLiteral("Search range"), group), QStringLiteral("GroupBox2"));
    auto* rangeGrid = compact(new QGridLayout(range));
    rangeGrid->setVerticalSpacing(2);
    const QString rangeHint = QStringLiteral("Choose search range (default = 1)");
    RadioButton1 = named(new QRadioButton(QStringLiteral("&Standard (all)"), range),
                         QStringLiteral("RadioButton1"), rangeHint);
    RadioButton2 = named(new QRadioButton(QStringLiteral("&Fixed radius (all)"), range),
                         QStringLiteral("RadioButton2"), rangeHint);
    RadioButton3 = named(new QRadioButton(QStringLiteral("&Priority (kd, bd)"), range),
                         QStringLiteral("RadioButton3"), rangeHint);
    RadioButton1->setChecked(true);
    Edit4 = named(new QLineEdit(QStringLiteral("0.0"), range), QStringLiteral("Edit4"),
                  QStringLiteral("Fixed radius of search"));
    Edit4->setFixedWidth(70);
    CheckBox7 = autoBox(QStringLiteral("CheckBox7"), range, false);
    rangeGrid->addWidget(RadioButton1, 0, 0, 1, 2);
    rangeGrid->addWidget(RadioButton2, 1, 0);
    rangeGrid->addWidget(captionOf(Edit4, QStringLiteral("R ="), QStringLiteral("RadiusCaption"), range), 1,
                         1, Qt::AlignRight);
    rangeGrid->addWidget(Edit4, 1, 2);
    rangeGrid->addWidget(RadioButton3, 2, 0, 1, 2);
    rangeGrid->addWidget(CheckBox7, 3, 0);
    rangeGrid->setRowStretch(4, 1);
    rangeGrid->setColumnStretch(3, 1);
    top->addWidget(range, 1);
    column->addLayout(top);
    column->addWidget(buildAdvancedOptions());
    paintCaptionBlue(group);
    // After the blue of the outer box, which sets this box's colours.
    groupCaptionFollows(range, {RadioButton1, RadioButton2, RadioButton3});
    return group;
}

QWidget* MainWindow::buildAdvancedOptions() {
    auto* group = named(new QGroupBox(QStringLiteral("Advanced options"), this), QStringLiteral("GroupBox3"));
    auto* grid = compact(new QGridLayout(group));

    auto* bucket = new QHBoxLayout;
    SpinEdit5 = spinEdit(QStringLiteral("SpinEdit5"), cappedAt(knn::BucketLimit, 100), 1,
                         QStringLiteral("Bucket size of kd- and bd-trees"), group);
    CheckBox8 = autoBox(QStringLiteral("CheckBox8"), group);
    bucket->addWidget(boldLabel(QStringLiteral("Tree bucket size:"), group));
    bucket->addWidget(SpinEdit5);
    bucket->addWidget(CheckBox8);
    bucket->addStretch();
    grid->addLayout(bucket, 0, 0, 1, 3);

    RadioGroup4 = named(new RadioGroup(QStringLiteral("RadioGroup4"), QStringLiteral("Splitting rule"),
                                       captionTexts(knn::SplitCaptions), 5, group),
                        QStringLiteral("RadioGroup4"), QStringLiteral("Choose splitting rule (default = 6)"));
    CheckBox9 = autoBox(QStringLiteral("CheckBox9"), group);
    RadioGroup5 = named(new RadioGroup(QStringLiteral("RadioGroup5"), QStringLiteral("Shrinking rule"),
                                       captionTexts(knn::ShrinkCaptions), 3, group),
                        QStringLiteral("RadioGroup5"), QStringLiteral("Choose shrinking rule (default = 4)"));
    CheckBox10 = autoBox(QStringLiteral("CheckBox10"), group);
    grid->addWidget(RadioGroup4, 1, 0);
    grid->addWidget(CheckBox9, 2, 0);
    grid->addWidget(RadioGroup5, 1, 1);
    grid->addWidget(CheckBox10, 2, 1);

    auto* early = new QGridLayout;
    CheckBox11 =
        named(new QCheckBox(QStringLiteral("Early termination"), group), QStringLiteral("CheckBox11"),
              QStringLiteral("Enable early stop after max data points"));
    CheckBox11->setChecked(true);
    SpinEdit6 = spinEdit(QStringLiteral("SpinEdit6"), cappedAt(knn::VisitLimit, 1000), 0,
                         QStringLiteral("Max data points after which to stop"), group);
    early->addWidget(CheckBox11, 0, 0, 1, 2);
    early->addWidget(
        captionOf(SpinEdit6, QStringLiteral("Max ="), QStringLiteral("VisitLimitCaption"), group), 1, 0,
        Qt::AlignRight);
    early->addWidget(SpinEdit6, 1, 1);
    early->setRowStretch(2, 1);
    grid->addLayout(early, 1, 2);
    return group;
}

void MainWindow::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    const int widths[] = {110, 110, 300};
    // The first two panels start with the longest texts they ever show.
    const QString texts[] = {QStringLiteral("Input not loaded"), QStringLiteral("Query not loaded"),
                             QString()};
    for (int panel = 0; panel < 3; ++panel) {
        auto* frame = new QFrame(bar);
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        auto* row = new QHBoxLayout(frame);
        row->setContentsMargins(3, 0, 3, 0);
        statusPanels[panel] =
            named(new QLabel(texts[panel], frame), QStringLiteral("StatusPanel%1").arg(panel));
        row->addWidget(statusPanels[panel], 1);
        frame->setFixedWidth(widths[panel]);
        fitStatusPanel(panel);
        bar->addWidget(frame);
    }
}

QAction* MainWindow::bindAutoBox(QCheckBox* box, const QString& name, void (MainWindow::*handler)()) {
    auto* action = named(new QAction(this), name);
    action->setCheckable(true);
    action->setChecked(box->isChecked());
    // A flag changed in any other way than through its box updates the box without running the handler.
    connect(action, &QAction::toggled, box, [box](bool on) {
        const QSignalBlocker quiet(box);
        box->setChecked(on);
    });
    connect(box, &QCheckBox::toggled, this, [this, action, handler](bool on) {
        action->setChecked(on);
        (this->*handler)();
    });
    return action;
}
