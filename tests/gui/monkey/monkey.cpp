// knnbench-monkey: a random session over the desktop test bench's real windows, offscreen. Each step is
// one thing a person can do in the main, results, compare or About window, drawn from a seed: click an
// enabled button or box, type text into an edit or spin box, pick a good or bad point file through the
// chooser seam, press keys in tables and windows, zoom and pan the chart, resize or close a window, and
// at random also act in the middle of a run. After every step: the status texts are the program's own,
// no run is left half-open, and a run of "OK" ends as the headless front end's run with the same
// options ends, with the same tables and report when complete. Environment: MONKEY_SEED (default 1),
// MONKEY_ACTIONS (default 10000), MONKEY_REPLAY (a log to run again instead), MONKEY_LOG (where the log
// goes), MONKEY_STEP_SECONDS (the time bound of one step, default 120).
#include "cliwindow.h"
#include "comparewindow.h"
#include "desktopbench.h"
#include "dialogs.h"
#include "mainwindow.h"
#include "resultschart.h"
#include "resultswindow.h"
#include "session.h"
#include "spinedit.h"
#include "tablemodel.h"
#include "vocabulary.h"

#include <QAbstractButton>
#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPixmapCache>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <mutex>
#include <random>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
// The allocator's count of heap bytes in use; GCC ships the runtime but not this header.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// ---- The action log: one line per step, replayable ----

/// A step: its tokens, and optionally a phase of the run it starts with the tokens of what is done
/// when the progress bar first names that phase.
struct Action {
    QStringList top;
    QString phase;
    QStringList nested;
};

QString encode(const QString& token) {
    return token.isEmpty() ? QStringLiteral("''")
                           : QString::fromLatin1(QUrl::toPercentEncoding(token, "/#{}:.,_+=-"));
}

QString decode(const QString& token) {
    return token == QLatin1String("''")
               ? QString()
               : QString::fromUtf8(QByteArray::fromPercentEncoding(token.toLatin1()));
}

QString formatAction(const Action& action) {
    QStringList words;
    for (const QString& token : action.top)
        words << encode(token);
    if (!action.phase.isEmpty()) {
        words << QStringLiteral(";") << encode(action.phase);
        for (const QString& token : action.nested)
            words << encode(token);
    }
    return words.join(QLatin1Char(' '));
}

Action parseAction(const QString& line) {
    Action action;
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const qsizetype split = words.indexOf(QStringLiteral(";"));
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (i == split) continue;
        const QString token = decode(words[i]);
        if (split < 0 || i < split)
            action.top << token;
        else if (i == split + 1)
            action.phase = token;
        else
            action.nested << token;
    }
    return action;
}

struct Log {
    std::mutex lock;
    std::vector<std::string> lines;
    std::FILE* file = nullptr;
    std::string path;
    quint64 seed = 0;
    std::atomic<long> step{0};

    void add(const std::string& line) {
        const std::lock_guard guard(lock);
        lines.push_back(line);
        std::fprintf(file, "%s\n", line.c_str());
        std::fflush(file); // whatever ends the process, the log holds the step that ended it
    }
    /// The seed and every step so far; try_lock, as a failing thread may have been stopped holding it.
    void print(const char* why) {
        std::fprintf(stderr, "\nmonkey: FAILED at step %ld (seed %llu): %s\nmonkey: action log:\n",
                     step.load(), static_cast<unsigned long long>(seed), why);
        std::unique_lock guard(lock, std::try_to_lock);
        for (const std::string& line : lines)
            std::fprintf(stderr, "  %s\n", line.c_str());
        std::fprintf(stderr, "monkey: replay with MONKEY_REPLAY=%s\n", path.c_str());
        std::fflush(stderr);
    }
};

// Never destroyed: a sanitizer's leak check at exit may still print it.
Log& actionLog = *new Log;

[[noreturn]] void fail(const QString& why) {
    std::fflush(stdout);
    actionLog.print(qPrintable(why));
    std::_Exit(1);
}

// ---- Memory ----

/// Heap bytes in use: under AddressSanitizer the allocator's own count, as resident memory there holds
/// the quarantine of freed blocks and the shadow; else what malloc has handed out.
std::size_t heapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

std::size_t residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toULongLong() * 4096 : 0;
}

double mebibytes(std::size_t bytes) {
    return static_cast<double>(bytes) / (1 << 20);
}

// ---- The headless front end, in process ----

/// The headless front end's window with its report and messages kept instead of printed.
class HeadlessWindow : public knn::cli::CliWindow {
public:
    using CliWindow::CliWindow;
    void showMessage(const std::string& text) override { messages << QString::fromStdString(text); }
    void addReportLine(const std::string& line) override { report << QString::fromStdString(line); }
    QStringList messages;
    QStringList report;
};

QString tableText(const QAbstractItemModel& model) {
    QString text;
    for (int c = 0; c < model.columnCount(); ++c)
        text += model.headerData(c, Qt::Horizontal).toString() + QLatin1Char('\t');
    for (int r = 0; r < model.rowCount(); ++r) {
        text += QLatin1Char('\n');
        for (int c = 0; c < model.columnCount(); ++c)
            text += model.index(r, c).data().toString() + QLatin1Char('\t');
    }
    return text;
}

/// What differs first between two texts, line by line.
QString firstDifference(const QString& a, const QString& b) {
    const QStringList left = a.split(QLatin1Char('\n'));
    const QStringList right = b.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        const QString l = left.value(i, QStringLiteral("(none)"));
        const QString r = right.value(i, QStringLiteral("(none)"));
        if (l != r)
            return QStringLiteral("line %1: desktop \"%2\", headless \"%3\"")
                .arg(i + 1)
                .arg(l.left(200), r.left(200));
    }
    return {};
}

// ---- What a person can do ----

const QStringList phases{
    QStringLiteral("Loading"),    QStringLiteral("Statistics"),  QStringLiteral("Building"),
    QStringLiteral("Data table"), QStringLiteral("Query table"), QStringLiteral("Searching"),
    QStringLiteral("Results"),    QStringLiteral("Chart"),       QStringLiteral("Comparing")};

const QStringList keys{QStringLiteral("Esc"),    QStringLiteral("F1"),     QStringLiteral("Ctrl+C"),
                       QStringLiteral("Ctrl+A"), QStringLiteral("Space"),  QStringLiteral("Return"),
                       QStringLiteral("Tab"),    QStringLiteral("Down"),   QStringLiteral("End"),
                       QStringLiteral("Home"),   QStringLiteral("PgDown"), QStringLiteral("Backspace")};

/// Typed texts: valid, the other decimal mark, invalid, huge, empty, and paths of the pool.
QStringList typedTexts() {
    return {QStringLiteral("1"),
            QStringLiteral("3"),
            QStringLiteral("7"),
            QStringLiteral("25"),
            QStringLiteral("0"),
            QStringLiteral("0.5"),
            QStringLiteral("2.5"),
            QStringLiteral("1e-3"),
            QStringLiteral("1E2"),
            QStringLiteral("-1"),
            QStringLiteral("100"),
            QStringLiteral("999"),
            QStringLiteral("0,5"),
            QStringLiteral("1,25"),
            QStringLiteral("2,0e1"),
            QStringLiteral("abc"),
            QStringLiteral("1..2"),
            QStringLiteral("--3"),
            QStringLiteral(" "),
            QStringLiteral("0x1F"),
            QStringLiteral("1e"),
            QStringLiteral("NaN"),
            QStringLiteral("inf"),
            QStringLiteral("-inf"),
            QString::fromUtf8("\u221e \u00bd \u0661\u0662"),
            QString(400, QLatin1Char('9')),
            QStringLiteral("1e400"),
            QStringLiteral("-1e308"),
            QStringLiteral("2147483648"),
            QStringLiteral("-2147483649"),
            QStringLiteral("4.9e-324"),
            QString(),
            QStringLiteral("{pool}/data.pts"),
            QStringLiteral("{pool}/query.pts"),
            QStringLiteral("{pool}/cube.pts"),
            QStringLiteral("{pool}/bad/nul-bytes.pts"),
            QStringLiteral("{pool}/missing.pts"),
            QStringLiteral("{pool}")};
}

/// Answers of an open chooser: good files three times as often as bad ones, a missing file, a folder, cancel.
QStringList openAnswers(const QString& pool) {
    QStringList bad;
    for (const QString& name : QDir(pool + QStringLiteral("/bad")).entryList(QDir::Files))
        bad << QStringLiteral("{pool}/bad/") + name;
    bad << QStringLiteral("{pool}/missing.pts") << QStringLiteral("{pool}") << QStringLiteral("cancel");
    const QStringList good{QStringLiteral("data.pts"), QStringLiteral("query.pts"),
                           QStringLiteral("cube.pts"), QStringLiteral("cube-query.pts"),
                           QStringLiteral("line.pts"), QStringLiteral("twins.pts"),
                           QStringLiteral("one.pts"),  QStringLiteral("big.pts")};
    QStringList answers = bad;
    while (answers.size() < 4 * bad.size())
        for (const QString& name : good)
            answers << QStringLiteral("{pool}/") + name;
    return answers;
}

const QStringList saveAnswers{QStringLiteral("{pool}/out.txt"),
                              QStringLiteral("{pool}/out.csv"),
                              QStringLiteral("{pool}/out.png"),
                              QStringLiteral("{pool}/out"),
                              QStringLiteral("{pool}/no-folder/out.txt"),
                              QStringLiteral("{pool}"),
                              QStringLiteral("cancel")};

/// The texts the status panels may hold.
const QStringList panelTexts[3] = {
    {QStringLiteral("Input not loaded"), QStringLiteral("Input loaded")},
    {QStringLiteral("Query not loaded"), QStringLiteral("Query loaded")},
    {QString(), QStringLiteral("Run cancelled"), QStringLiteral("Preparing tables..."),
     QStringLiteral("Outputting data points..."), QStringLiteral("Outputting query points..."),
     QStringLiteral("Allocating memory..."), QStringLiteral("Now searching for NN..."),
     QStringLiteral("Outputting results..."), QStringLiteral("Ready"), QStringLiteral("Run failed"),
     QStringLiteral("Loading data..."), QStringLiteral("Building the search structure..."),
     QStringLiteral("Comparing configurations...")}};

const QRegularExpression compareStatus(QStringLiteral(
    R"(^(|The compare run ended early\.|(Cancelled after \d+ of \d+|\d+) configurations( measured)?\.\n(.|\n)*)$)"));

class Monkey {
public:
    Monkey(quint64 seed, const QString& pool) : random(seed), pool(pool), answers(openAnswers(pool)) {
        heapAtStart = heapAfterFreshRun();
        residentAtStart = residentBytes();
    }
    ~Monkey() { bench.reset(); }

    Action randomAction();
    /// One step and the checks after it.
    void step(const Action& action);
    /// The final report; false when memory grew beyond the bound.
    bool finish();

private:
    void start();
    /// Starts the program afresh and runs OK on the bundled sample with the panel as it starts, the
    /// state in which the heap is measured before and after the session; returns the heap in use then.
    std::size_t heapAfterFreshRun();
    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); }
    template <class T> const T& pickFrom(const QList<T>& list) {
        return list[static_cast<qsizetype>(pick(list.size()))];
    }
    bool chance(double p) { return std::bernoulli_distribution(p)(random); }

    QList<QWidget*> windows() const;
    /// Every widget of a window by id: its object name when unique there, else class#n.
    QList<std::pair<QString, QWidget*>> widgetsOf(QWidget* window) const;
    QWidget* find(const QString& id) const;
    QString idOf(QWidget* widget) const;
    /// The enabled, visible widgets of the shown windows a person can act on.
    QList<QWidget*> actionable() const;
    QStringList randomSimpleAction();
    QStringList randomNestedAction();

    void perform(const QStringList& tokens, bool topLevel);
    void performClick(QWidget* widget, const QString& answer, bool topLevel);
    QString resolve(QString path) const { return path.replace(QStringLiteral("{pool}"), pool); }
    knn::cli::CliOptions panelOptions();
    void checkAfter(const Action& action);
    /// True when the run completed and equals the headless run.
    bool checkAgainstHeadless(const knn::cli::CliOptions& options, const QStringList& messages);

    std::mt19937_64 random;
    QString pool;
    QStringList answers;
    std::unique_ptr<DesktopBench> bench;
    std::optional<knn::cli::CliOptions> okOptions; ///< the panel as "OK" went down, for a top-level run
    bool nestedFired = false;
    std::size_t heapAtStart = 0;
    std::size_t residentAtStart = 0;
    int okRuns = 0, completeRuns = 0, cancelledRuns = 0, nestedActions = 0, restarts = 0;
};

void Monkey::start() {
    Dialogs::setScripted(true);
    bench = std::make_unique<DesktopBench>();
    bench->build();
    if (!bench->built()) fail(QStringLiteral("the test bench could not be built"));
    bench->form1->show();
    if (!QTest::qWaitForWindowExposed(bench->form1.get()))
        fail(QStringLiteral("the main window never showed"));
}

QList<QWidget*> Monkey::windows() const {
    QList<QWidget*> all{bench->form1.get(), bench->form2, bench->compare};
    if (auto* about = bench->form1->findChild<QWidget*>(QStringLiteral("AboutWindow"))) all << about;
    return all;
}

QList<std::pair<QString, QWidget*>> Monkey::widgetsOf(QWidget* window) const {
    QList<QWidget*> own{window};
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->window() == window) own << w;
    QHash<QString, int> names;
    for (QWidget* w : own)
        ++names[w->objectName()];
    QHash<QString, int> classes;
    QList<std::pair<QString, QWidget*>> ids;
    for (QWidget* w : own) {
        const QString cls = QString::fromLatin1(w->metaObject()->className());
        const int n = classes[cls]++;
        const QString name = w->objectName();
        ids.append(
            {window->objectName() + QLatin1Char('/') +
                 (!name.isEmpty() && names[name] == 1 ? name : cls + QLatin1Char('#') + QString::number(n)),
             w});
    }
    return ids;
}

QWidget* Monkey::find(const QString& id) const {
    for (QWidget* window : windows())
        if (id.startsWith(window->objectName() + QLatin1Char('/')))
            for (const auto& [wid, w] : widgetsOf(window))
                if (wid == id) return w;
    return nullptr;
}

QString Monkey::idOf(QWidget* widget) const {
    for (const auto& [wid, w] : widgetsOf(widget->window()))
        if (w == widget) return wid;
    return {};
}

QList<QWidget*> Monkey::actionable() const {
    QList<QWidget*> found;
    for (QWidget* window : windows()) {
        if (!window->isVisible()) continue;
        for (const auto& entry : widgetsOf(window)) {
            QWidget* w = entry.second;
            if (!w->isVisible() || !w->isEnabled()) continue;
            const bool spinLine =
                qobject_cast<QLineEdit*>(w) && qobject_cast<QAbstractSpinBox*>(w->parentWidget());
            if (!spinLine && (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                              qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QAbstractItemView*>(w) ||
                              qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QChartView*>(w)))
                found << w;
        }
    }
    return found;
}

QStringList Monkey::randomSimpleAction() {
    MainWindow& main = *bench->form1;
    const QList<QWidget*> widgets = actionable();
    const auto ofKind = [&](auto test) {
        QList<QWidget*> some;
        for (QWidget* w : widgets)
            if (test(w)) some << w;
        return some;
    };
    const int kind = static_cast<int>(pick(100));
    if (kind < 14) return {QStringLiteral("click"), idOf(main.BitBtn1), QStringLiteral("cancel")};
    if (kind < 17) return {QStringLiteral("click"), idOf(main.BitBtn3), QStringLiteral("cancel")};
    if (kind < 20 && bench->compare->isVisible())
        return {QStringLiteral("click"), idOf(bench->compare->RunButton), pickFrom(saveAnswers)};
    if (kind < 28)
        return {QStringLiteral("click"), idOf(chance(0.5) ? main.SpeedButton1 : main.SpeedButton2),
                pickFrom(answers)};
    if (kind < 52) {
        const auto buttons = ofKind([](QWidget* w) { return qobject_cast<QAbstractButton*>(w) != nullptr; });
        if (!buttons.isEmpty())
            return {QStringLiteral("click"), idOf(pickFrom(buttons)), pickFrom(saveAnswers)};
    }
    if (kind < 70) {
        const auto edits = ofKind(
            [](QWidget* w) { return qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w); });
        const QStringList ends{QStringLiteral("none"), QStringLiteral("Return"), QStringLiteral("Tab")};
        if (!edits.isEmpty())
            return {QStringLiteral("type"), idOf(pickFrom(edits)), pickFrom(typedTexts()), pickFrom(ends)};
    }
    if (kind < 80) {
        const auto views = ofKind([](QWidget* w) { return qobject_cast<QAbstractItemView*>(w) != nullptr; });
        if (!views.isEmpty()) {
            QWidget* view = pickFrom(views);
            const auto* model = static_cast<QAbstractItemView*>(view)->model();
            const int rows = model ? model->rowCount() : 0;
            const int columns = model ? model->columnCount() : 0;
            if (chance(0.4) || rows == 0) return {QStringLiteral("key"), idOf(view), pickFrom(keys)};
            const bool header = qobject_cast<QTableView*>(view) && chance(0.2);
            return {header ? QStringLiteral("header") : QStringLiteral("cell"), idOf(view),
                    QString::number(pick(static_cast<std::size_t>(rows))),
                    QString::number(pick(static_cast<std::size_t>(std::max(columns, 1))))};
        }
    }
    if (kind < 88) {
        const auto charts = ofKind([](QWidget* w) { return qobject_cast<QChartView*>(w) != nullptr; });
        if (!charts.isEmpty()) {
            const QString id = idOf(pickFrom(charts));
            const auto at = [this] { return QString::number(pick(1000)); };
            switch (pick(4)) {
            case 0:
                return {QStringLiteral("wheel"), id, at(), at(),
                        chance(0.5) ? QStringLiteral("120") : QStringLiteral("-120")};
            case 1:
                return {QStringLiteral("drag"),
                        id,
                        at(),
                        at(),
                        at(),
                        at(),
                        chance(0.5) ? QStringLiteral("left") : QStringLiteral("right")};
            case 2:
                return {QStringLiteral("doubleclick"), id, at(), at()};
            default:
                return {QStringLiteral("key"), id, pickFrom(keys)};
            }
        }
    }
    if (kind < 92) {
        const auto texts = ofKind([](QWidget* w) { return qobject_cast<QPlainTextEdit*>(w) != nullptr; });
        if (!texts.isEmpty()) return {QStringLiteral("key"), idOf(pickFrom(texts)), pickFrom(keys)};
    }
    QList<QWidget*> shown;
    for (QWidget* window : windows())
        if (window->isVisible()) shown << window;
    QWidget* window = pickFrom(shown);
    switch (pick(4)) {
    case 0:
        // Closing the main window ends the program, which starts afresh: now and then, not every fourth time.
        if (window != bench->form1.get() || chance(0.25))
            return {QStringLiteral("close"), window->objectName()};
        [[fallthrough]];
    case 1:
        return {QStringLiteral("key"), idOf(window),
                chance(0.5) ? QStringLiteral("Esc") : QStringLiteral("F1")};
    default:
        return {QStringLiteral("resize"), window->objectName(), QString::number(50 + pick(1500)),
                QString::number(50 + pick(1000))};
    }
}

QStringList Monkey::randomNestedAction() {
    switch (pick(6)) {
    case 0:
        return {QStringLiteral("key"), QStringLiteral("Form1/Form1"), QStringLiteral("Esc")};
    case 1:
        return {QStringLiteral("click"), QStringLiteral("Form1/CancelButton"), QStringLiteral("cancel")};
    case 2:
        return {QStringLiteral("click"), QStringLiteral("CompareWindow/CancelButton"),
                QStringLiteral("cancel")};
    case 3:
        return {QStringLiteral("close"),
                pickFrom(QStringList{QStringLiteral("Form1"), QStringLiteral("Form2"),
                                     QStringLiteral("CompareWindow")})};
    default:
        return randomSimpleAction();
    }
}

Action Monkey::randomAction() {
    Action action{randomSimpleAction(), {}, {}};
    const MainWindow& main = *bench->form1;
    const QWidget* target = action.top.first() == QLatin1String("click") ? find(action.top[1]) : nullptr;
    if ((target == main.BitBtn1 || target == main.BitBtn3 || target == bench->compare->RunButton) &&
        chance(0.4)) {
        action.phase = pickFrom(phases);
        action.nested = randomNestedAction();
    }
    return action;
}

/// Where a click lands: on the indicator of a check box or radio button, else in the middle.
QPoint clickPoint(QWidget* w) {
    if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w))
        return {std::min(8, w->width() / 2), w->height() / 2};
    return w->rect().center();
}

QPoint scaled(QWidget* w, const QString& x, const QString& y) {
    return {w->width() * x.toInt() / 1000, w->height() * y.toInt() / 1000};
}

void Monkey::performClick(QWidget* w, const QString& answer, bool topLevel) {
    Dialogs::setNextFileName(answer == QLatin1String("cancel") ? std::nullopt
                                                               : std::optional<QString>(resolve(answer)));
    if (topLevel && w == bench->form1->BitBtn1 && w->isEnabled()) {
        // The press takes the focus, so a box being edited settles its value before the panel is read.
        QTest::mousePress(w, Qt::LeftButton, {}, clickPoint(w));
        okOptions = panelOptions();
        QTest::mouseRelease(w, Qt::LeftButton, {}, clickPoint(w));
        return;
    }
    QTest::mouseClick(w, Qt::LeftButton, {}, clickPoint(w));
}

void Monkey::perform(const QStringList& t, bool topLevel) {
    const QString& verb = t[0];
    if (verb == QLatin1String("close") || verb == QLatin1String("resize")) {
        for (QWidget* window : windows()) {
            if (window->objectName() != t[1]) continue;
            if (verb == QLatin1String("close"))
                window->close();
            else
                window->resize(t[2].toInt(), t[3].toInt());
        }
        return;
    }
    QWidget* w = find(t[1]);
    if (!w || !w->isVisible()) return; // gone since the step was drawn, or a replay's timing differs
    // A person's click or key goes to the window it activates, which moves the focus as it would.
    w->activateWindow();
    if (verb == QLatin1String("click")) {
        performClick(w, t[2], topLevel);
    } else if (verb == QLatin1String("type")) {
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(w->width() / 3, w->height() / 2));
        QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
        for (const QChar c : resolve(t[2])) {
            // Qt Test maps only ASCII characters to keys; others come as text without a key, as from an input
            // method.
            if (c.unicode() < 128)
                QTest::keyClick(w, c.toLatin1());
            else
                QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
        if (t[3] != QLatin1String("none"))
            QTest::keyClick(w, t[3] == QLatin1String("Tab") ? Qt::Key_Tab : Qt::Key_Return);
    } else if (verb == QLatin1String("key")) {
        const QKeyCombination key = QKeySequence::fromString(t[2])[0];
        QTest::keyClick(w, key.key(), key.keyboardModifiers());
    } else if (verb == QLatin1String("cell") || verb == QLatin1String("header")) {
        auto* view = static_cast<QAbstractItemView*>(w);
        const QModelIndex index =
            view->model() ? view->model()->index(t[2].toInt(), t[3].toInt()) : QModelIndex();
        if (!index.isValid()) return;
        if (verb == QLatin1String("header")) {
            QHeaderView* header = static_cast<QTableView*>(view)->horizontalHeader();
            const int x =
                header->sectionViewportPosition(index.column()) + header->sectionSize(index.column()) / 2;
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
            return;
        }
        view->scrollTo(index);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    } else if (verb == QLatin1String("wheel")) {
        QWidget* port = static_cast<QChartView*>(w)->viewport();
        const QPointF at = scaled(port, t[2], t[3]);
        QWheelEvent wheel(at, port->mapToGlobal(at), QPoint(), QPoint(0, t[4].toInt()), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(port, &wheel);
    } else if (verb == QLatin1String("drag")) {
        QWidget* port = static_cast<QChartView*>(w)->viewport();
        const Qt::MouseButton button = t[6] == QLatin1String("left") ? Qt::LeftButton : Qt::RightButton;
        QTest::mousePress(port, button, {}, scaled(port, t[2], t[3]));
        QTest::mouseMove(port, scaled(port, t[4], t[5]));
        QTest::mouseRelease(port, button, {}, scaled(port, t[4], t[5]));
    } else if (verb == QLatin1String("doubleclick")) {
        QWidget* port = static_cast<QChartView*>(w)->viewport();
        QTest::mouseDClick(port, Qt::LeftButton, {}, scaled(port, t[2], t[3]));
    }
}

knn::cli::CliOptions Monkey::panelOptions() {
    DesktopWindowOps& ops = bench->ops;
    knn::cli::CliOptions options;
    options.dataPath = ops.inputPath();
    options.queryPath = ops.queryPath();
    options.neighbours = ops.neighbourCount();
    if (!ops.dimensionsAuto()) options.dimensions = ops.dimensionsValue();
    options.errorBound = ops.errorBoundText();
    options.metricItem = ops.metricItem();
    options.power = ops.customPower();
    options.modeItem = ops.searchModeItem();
    const knn::SearchRange range = ops.priorityRangeSelected() ? knn::SearchRange::Priority
                                   : ops.fixedRadiusSelected() ? knn::SearchRange::FixedRadius
                                                               : knn::SearchRange::Standard;
    options.rangeItem = static_cast<int>(range);
    options.radius = ops.radiusText();
    options.bucketSize = ops.bucketSize();
    options.splitItem = ops.splitRuleItem();
    options.shrinkItem = ops.shrinkRuleItem();
    if (ops.earlyTermination()) options.maxVisit = ops.visitLimit();
    options.statistics = ops.displayStatistics();
    // Asked for only so that the headless run fills both tables; nothing is written.
    options.resultsPath = options.dataTablePath = "-";
    options.threads = 1;
    return options;
}

void Monkey::step(const Action& action) {
    okOptions.reset();
    nestedFired = false;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        // Only inside a run, when the progress bar first names the phase.
        if (nestedFired || bench->form1->BitBtn1->isEnabled()) return;
        if (!bench->form1->findChild<QProgressBar*>(QStringLiteral("RunProgress"))
                 ->format()
                 .startsWith(action.phase))
            return;
        nestedFired = true;
        ++nestedActions;
        perform(action.nested, false);
    });
    if (!action.phase.isEmpty()) poll.start();
    perform(action.top, true);
    poll.stop();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    checkAfter(action);
}

void Monkey::checkAfter(const Action&) {
    MainWindow& main = *bench->form1;
    const QStringList messages = Dialogs::takeShownMessages();
    Dialogs::setScripted(true); // chooser answers no chooser took go
    if (messages.contains(QString()))
        fail(QStringLiteral("a message box without text: an unexpected error escaped"));
    for (int panel = 0; panel < 3; ++panel)
        if (!panelTexts[panel].contains(main.statusText(panel)))
            fail(QStringLiteral("status panel %1 holds \"%2\"").arg(panel).arg(main.statusText(panel)));
    if (!main.BitBtn1->isEnabled() || !main.BitBtn3->isEnabled() || main.CancelButton->isVisible() ||
        main.findChild<QProgressBar*>(QStringLiteral("RunProgress"))->isVisible())
        fail(QStringLiteral(
            "a run is left half-open: OK or Reload data disabled, or Cancel or the progress bar shown"));
    CompareWindow& compare = *bench->compare;
    if (!compare.RunButton->isEnabled() || compare.CancelButton->isEnabled())
        fail(QStringLiteral("the compare window's Run is disabled or its Cancel enabled after its run"));
    if (!compareStatus.match(compare.Status->text()).hasMatch())
        fail(QStringLiteral("the compare window's status reads \"%1\"").arg(compare.Status->text()));
    const ValueRange shown = bench->form2->Chart1->shownRange();
    if (!std::isfinite(shown.xMin) || !std::isfinite(shown.xMax) || !std::isfinite(shown.yMin) ||
        !std::isfinite(shown.yMax) || !(shown.xMin < shown.xMax) || !(shown.yMin < shown.yMax))
        fail(QStringLiteral("the chart shows the range x %1..%2, y %3..%4")
                 .arg(shown.xMin)
                 .arg(shown.xMax)
                 .arg(shown.yMin)
                 .arg(shown.yMax));
    if (okOptions) checkAgainstHeadless(*okOptions, messages);
    if (!main.isVisible()) { // the main window closed: the program ends, and is started again
        ++restarts;
        bench.reset();
        start();
    }
}

bool Monkey::checkAgainstHeadless(const knn::cli::CliOptions& options, const QStringList& messages) {
    ++okRuns;
    const QString panel2 = bench->form1->statusText(2);
    cancelledRuns += panel2 == QLatin1String("Run cancelled");
    // "Ready" comes only at the end of a complete run; a run that ends early says why in a message.
    const bool complete = panel2 == QLatin1String("Ready") && messages.isEmpty();
    HeadlessWindow headless(options);
    knn::RunDriver driver(headless);
    driver.setThreads(1);
    const bool headlessComplete = driver.BitBtn1Click();
    if (!nestedFired && (complete != headlessComplete || messages != headless.messages))
        fail(QStringLiteral("the run %1 with messages [%2]; the headless run %3 with [%4]")
                 .arg(complete ? QStringLiteral("completed") : QStringLiteral("ended early"),
                      messages.join(QStringLiteral(" | ")),
                      headlessComplete ? QStringLiteral("completed") : QStringLiteral("ended early"),
                      headless.messages.join(QStringLiteral(" | "))));
    if (!complete) return false;
    if (!headlessComplete)
        fail(QStringLiteral("the run completed, the headless run with the same options did not"));
    ++completeRuns;
    ResultsWindow& results = *bench->form2;
    const QString report = results.Memo1->toPlainText();
    if (report != headless.report.join(QLatin1Char('\n')))
        fail(QStringLiteral("the report differs from the headless one at ") +
             firstDifference(report, headless.report.join(QLatin1Char('\n'))));
    const std::pair<const TableModel*, const knn::ResultTable*> tables[] = {
        {results.dataModel, &driver.dataTable()}, {results.queryModel, &driver.queryTable()}};
    for (const auto& [shownModel, headlessTable] : tables) {
        TableModel expected(*headlessTable);
        const QString a = tableText(*shownModel);
        const QString b = tableText(expected);
        if (a != b) fail(QStringLiteral("a table differs from the headless one at ") + firstDifference(a, b));
    }
    return true;
}

std::size_t Monkey::heapAfterFreshRun() {
    bench.reset();
    start();
    step({{QStringLiteral("click"), QStringLiteral("Form1/BitBtn1"), QStringLiteral("cancel")}, {}, {}});
    if (bench->form1->statusText(2) != QLatin1String("Ready"))
        fail(QStringLiteral("the run on the sample failed"));
    // Qt's pixmap cache (up to 10 MiB) fills with the icons each new set of windows renders.
    QPixmapCache::clear();
    return heapInUse();
}

bool Monkey::finish() {
    const std::size_t heap = heapAfterFreshRun();
    std::printf("monkey: %d runs of OK, %d complete and equal to the headless runs, %d cancelled; %d actions "
                "inside runs; %d restarts\n",
                okRuns, completeRuns, cancelledRuns, nestedActions, restarts);
    std::printf("monkey: heap in use after a fresh program's run on the sample %.1f MiB before the session, "
                "%.1f MiB after it; resident %.1f MiB and %.1f MiB\n",
                mebibytes(heapAtStart), mebibytes(heap), mebibytes(residentAtStart),
                mebibytes(residentBytes()));
    // Both measurements are taken in the same state, so what the session may add is what Qt keeps for
    // the process (glyph and font caches, the clipboard) and no run's data.
    constexpr std::size_t bound = 4u << 20;
    return heap <= heapAtStart + bound;
}

/// Writes the pool the choosers pick from: the sample, the bad-input catalogue and a few good files.
void writePool(const QString& pool) {
    const QString source = QStringLiteral(KNN_SOURCE_DIR);
    QDir().mkpath(pool + QStringLiteral("/bad"));
    for (const QString& name : {QStringLiteral("data.pts"), QStringLiteral("query.pts")})
        QFile::copy(source + QStringLiteral("/data/") + name, pool + QLatin1Char('/') + name);
    const QDir bad(source + QStringLiteral("/tests/data/bad"));
    for (const QString& name : bad.entryList(QDir::Files))
        QFile::copy(bad.filePath(name), pool + QStringLiteral("/bad/") + name);
    std::mt19937 random(7);
    std::normal_distribution<double> spread(0.0, 10.0);
    const auto write = [&](const QString& name, int count, int dim, bool twins) {
        QByteArray text;
        for (int i = 0; i < count; ++i) {
            QByteArray line;
            for (int d = 0; d < dim; ++d)
                line += (d ? " " : "") + QByteArray::number(twins ? (i / 3) % 7 : spread(random), 'g', 8);
            text += line + '\n';
        }
        QFile file(pool + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            fail(QStringLiteral("cannot write ") + name);
    };
    write(QStringLiteral("cube.pts"), 200, 3, false);
    write(QStringLiteral("cube-query.pts"), 20, 3, false);
    write(QStringLiteral("line.pts"), 50, 1, false);
    write(QStringLiteral("twins.pts"), 60, 2, true);
    write(QStringLiteral("one.pts"), 1, 2, false);
    write(QStringLiteral("big.pts"), 5000, 2, false);
}

/// Qt's warnings once each; a fatal message fails the session.
void onQtMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    static QSet<QString> seen;
    if (!seen.contains(text)) std::fprintf(stderr, "%s\n", qPrintable(text));
    seen.insert(text);
    if (type == QtFatalMsg) fail(QStringLiteral("Qt: ") + text);
}

#if defined(__SANITIZE_ADDRESS__)
void onSanitizerReport() {
    actionLog.print("a sanitizer report (above)");
}
#endif

quint64 environmentNumber(const char* name, quint64 fallback) {
    bool ok = false;
    const quint64 value = qEnvironmentVariable(name).toULongLong(&ok);
    return ok ? value : fallback;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false); // closing the main window restarts the session's program
    qInstallMessageHandler(onQtMessage);
    qel::setFatalHandler([](const char* message) {
        fail(QStringLiteral("the library's fatal error: ") + QString::fromUtf8(message));
    });
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_set_death_callback(onSanitizerReport);
#endif

    QList<Action> replay;
    const QString replayPath = qEnvironmentVariable("MONKEY_REPLAY");
    actionLog.seed = environmentNumber("MONKEY_SEED", 1);
    if (!replayPath.isEmpty()) {
        QFile file(replayPath);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            fail(QStringLiteral("cannot read ") + replayPath);
        for (const QString& line :
             QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line.startsWith(QLatin1String("# seed ")))
                actionLog.seed = line.mid(7).toULongLong();
            else if (!line.startsWith(QLatin1Char('#')))
                replay << parseAction(line);
        }
    }
    const long actions =
        replay.isEmpty() ? static_cast<long>(environmentNumber("MONKEY_ACTIONS", 10000)) : replay.size();
    const auto stepLimit = std::chrono::seconds(environmentNumber("MONKEY_STEP_SECONDS", 120));

    QTemporaryDir pool;
    writePool(pool.path());
    actionLog.path = qEnvironmentVariableIsEmpty("MONKEY_LOG")
                         ? QDir::current().filePath(QStringLiteral("monkey-actions.log")).toStdString()
                         : qEnvironmentVariable("MONKEY_LOG").toStdString();
    // A replay reads its log before this one is written, so both may be the same file.
    actionLog.file = std::fopen(actionLog.path.c_str(), "w");
    if (!actionLog.file) fail(QStringLiteral("cannot write the action log"));
    actionLog.add("# seed " + std::to_string(actionLog.seed));
    std::printf("monkey: seed %llu, %ld actions%s, log %s\n", static_cast<unsigned long long>(actionLog.seed),
                actions, replay.isEmpty() ? "" : " replayed", actionLog.path.c_str());
    std::fflush(stdout);

    // A step that takes longer than the limit is a hang: the log is printed and the process aborts.
    std::atomic<std::int64_t> deadline{0};
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const std::int64_t due = deadline;
            if (due != 0 && std::chrono::steady_clock::now().time_since_epoch().count() > due) {
                actionLog.print("the step did not end within the time limit (a hang)");
                std::abort();
            }
        }
    });

    QElapsedTimer clock;
    clock.start();
    bool memoryWithinBound = false;
    {
        Monkey monkey(actionLog.seed, pool.path());
        for (long i = 0; i < actions; ++i) {
            actionLog.step = i + 1;
            const Action action = replay.isEmpty() ? monkey.randomAction() : replay[i];
            actionLog.add(formatAction(action).toStdString());
            deadline = (std::chrono::steady_clock::now() + stepLimit).time_since_epoch().count();
            monkey.step(action);
            deadline = 0;
        }
        memoryWithinBound = monkey.finish();
    }
    done = true;
    watchdog.join();
    std::printf("monkey: %ld actions in %.0f s\n", actions, clock.elapsed() / 1000.0);
    if (!memoryWithinBound) fail(QStringLiteral("heap in use grew by more than the bound over the session"));
    std::fclose(actionLog.file);
    return 0;
}
