// The gate every driver handler of the desktop runs through ("OK", "Reload data", a compare run): one
// handler at a time, the buttons that start one disabled meanwhile, its progress on the main window's
// bar, and every input held back but that of the Cancel buttons, Esc and the run's message boxes. The
// run driver hears a cancel asked for here through the window operations' `cancelRequested`.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QProgressBar>
#include <cstdint>
#include <functional>
#include <optional>

namespace knn {
enum class RunPhase;
}

class QPushButton;
class QWidget;

/// The run's progress bar: a busy bar (a phase without a count) shows its caption too, where a plain
/// bar shows no text at all.
class RunProgressBar : public QProgressBar {
    Q_OBJECT
public:
    using QProgressBar::QProgressBar;
    QString text() const override;
};

class RunGate : public QObject {
    Q_OBJECT
public:
    /// The gate of `window`, which owns it: `bar` and `cancelButton` show during a long run, and
    /// `starters` are disabled while a handler runs.
    RunGate(QWidget& window, QProgressBar& bar, QPushButton& cancelButton, QList<QWidget*> starters);

    /// Runs `handler`, unless one is running already, with every input swallowed but that of the Cancel
    /// buttons (the window's and `cancelControl`, when given) and the run's message boxes, so no second
    /// run starts inside it.
    void run(const std::function<void()>& handler, QWidget* cancelControl = nullptr);
    bool running() const { return isRunning; }
    /// Progress of a phase of the running handler: lets the windows repaint and hear Cancel (a few
    /// times a second at most) and, once a run is older than half a second, shows the progress bar.
    void showProgress(knn::RunPhase phase, std::int64_t done, std::int64_t total);
    /// The user asked the running handler to stop (Cancel, Esc, or closing the window).
    bool cancelRequested() const { return cancelPending; }
    /// Closing the window during a run cancels the run; true when the close must wait for the run to
    /// stop using the window, which then closes.
    bool deferClose();

public Q_SLOTS:
    /// Cancel and Esc during a run.
    void requestCancel();

Q_SIGNALS:
    /// A handler has ended, however it ended.
    void ended();

protected:
    /// During a run, swallows every input but Cancel's and that of the run's message boxes; Esc cancels.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window;
    QProgressBar& bar;
    QPushButton& cancelButton;
    const QList<QWidget*> starters;
    bool isRunning = false;
    bool cancelPending = false;
    bool closeWhenRunEnds = false;           ///< the user closed the window during the run
    QWidget* runCancelControl = nullptr;     ///< another window's Cancel that the running handler hears
    QElapsedTimer runClock;                  ///< age of the running handler
    QElapsedTimer repaintClock;              ///< time since the last repaint during the run
    std::optional<knn::RunPhase> shownPhase; ///< the phase the progress bar names
};
