// Run gate: the handler's run, its progress and cancel, and the input it holds back.
#include "rungate.h"

#include "windowops.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <utility>

namespace {

constexpr qint64 quietRunMs = 500;
constexpr qint64 repaintIntervalMs = 50;
constexpr int progressSteps = 1000;

/// What the progress bar says during each phase of a run.
QString phaseCaption(knn::RunPhase phase) {
    switch (phase) {
    case knn::RunPhase::LoadingData:
        return QStringLiteral("Loading %p%");
    case knn::RunPhase::Statistics:
        return QStringLiteral("Statistics %p%");
    case knn::RunPhase::Building:
        return QStringLiteral("Building");
    case knn::RunPhase::DataTable:
        return QStringLiteral("Data table %p%");
    case knn::RunPhase::QueryTable:
        return QStringLiteral("Query table %p%");
    case knn::RunPhase::Searching:
        return QStringLiteral("Searching %p%");
    case knn::RunPhase::Results:
        return QStringLiteral("Results %p%");
    case knn::RunPhase::Chart:
        return QStringLiteral("Chart %p%");
    case knn::RunPhase::Comparing:
        return QStringLiteral("Comparing %p%");
    }
    return QStringLiteral("%p%");
}

/// Input that makes a control act: the events a run lets through to nothing but Cancel.
bool isUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        return true;
    default:
        return false;
    }
}

} // namespace

QString RunProgressBar::text() const {
    return minimum() == 0 && maximum() == 0 ? format() : QProgressBar::text();
}

RunGate::RunGate(QWidget& gatedWindow, QProgressBar& progressBar, QPushButton& cancel,
                 QList<QWidget*> startButtons)
    : QObject(&gatedWindow), window(gatedWindow), bar(progressBar), cancelButton(cancel),
      starters(std::move(startButtons)) {
    // A short run shows neither.
    bar.hide();
    cancelButton.hide();
    connect(&cancelButton, &QPushButton::clicked, this, &RunGate::requestCancel);
}

void RunGate::run(const std::function<void()>& handler, QWidget* cancelControl) {
    if (isRunning) return;
    isRunning = true;
    cancelPending = false;
    runCancelControl = cancelControl;
    // A focused control that is disabled or hidden hands the focus on down the tab chain, to the path
    // box with its whole text selected: the window holds the focus meanwhile, and it goes back after.
    const QPointer<QWidget> focused = QApplication::focusWidget();
    if (focused && focused->window() == &window) window.setFocus(Qt::OtherFocusReason);
    for (QWidget* starter : starters)
        starter->setEnabled(false);
    runClock.start();
    repaintClock.invalidate();
    shownPhase.reset();
    // Events are processed during the run so that Cancel works; everything else the user does waits.
    qApp->installEventFilter(this);
    // Whatever leaves the handler, the buttons come back.
    const auto restore = qScopeGuard([this, focused] {
        qApp->removeEventFilter(this);
        isRunning = false;
        runCancelControl = nullptr;
        for (QWidget* starter : starters)
            starter->setEnabled(true);
        if (cancelButton.hasFocus() || (focused && focused->window() == &window)) {
            QWidget* back = focused && focused->isEnabled() ? focused.data() : starters.value(0, &window);
            back->setFocus(Qt::OtherFocusReason);
        }
        bar.hide();
        cancelButton.hide();
        Q_EMIT ended();
    });
    handler();
    if (std::exchange(closeWhenRunEnds, false))
        QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
}

void RunGate::showProgress(knn::RunPhase phase, std::int64_t done, std::int64_t total) {
    if (!isRunning) return;
    // A new phase always shows, however short it is: its caption is what the user may want to cancel.
    if (phase == shownPhase && repaintClock.isValid() && repaintClock.elapsed() < repaintIntervalMs) return;
    shownPhase = phase;
    // A phase without a count (the build) shows a busy bar.
    bar.setRange(0, total > 0 ? progressSteps : 0);
    bar.setValue(total > 0 ? static_cast<int>(done * progressSteps / total) : 0);
    bar.setFormat(phaseCaption(phase));
    // A short run shows no bar; it still hears Cancel.
    if (runClock.elapsed() >= quietRunMs) {
        bar.show();
        cancelButton.show();
    }
    QCoreApplication::processEvents();
    repaintClock.start();
}

void RunGate::requestCancel() {
    if (isRunning) cancelPending = true;
}

bool RunGate::deferClose() {
    if (!isRunning) return false;
    // The run stops within a moment, and the window closes then.
    requestCancel();
    closeWhenRunEnds = true;
    return true;
}

bool RunGate::eventFilter(QObject* watched, QEvent* event) {
    if (!isRunning || !isUserInput(event->type())) return QObject::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    // Window-level events come back to this filter addressed to their widget.
    if (!widget && event->type() != QEvent::Shortcut) return false;
    // A message box of the run is answered as usual.
    if (QWidget* modal = QApplication::activeModalWidget(); widget && modal && widget->window() == modal)
        return false;
    if (widget && (widget == &cancelButton || widget == runCancelControl)) return false;
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        requestCancel();
    return true;
}
