// Chart1 of the results window: the data points (blue), the query points (red) and a dotted black line
// from each query to its nearest neighbour, under the title and sub-title of the run. Point series are
// Qt Charts series drawn as bare markers; all neighbour lines are one graphics item, since ten thousand
// line series would take minutes to lay out. Resting the mouse on a point for 250 ms shows its X and Y
// in a tool tip for 5 seconds.
#pragma once

#include <QChartView>
#include <QTimer>
#include <optional>

namespace knn {
struct ChartContent;
}

class NeighbourLinesItem;
class QLineSeries;
class QValueAxis;

class ResultsChart : public QChartView {
    Q_OBJECT
public:
    explicit ResultsChart(QWidget* parent = nullptr);

    /// Removes every series and line; the title returns to the designed one.
    void clear();
    /// Replaces the chart's content with what a run drew.
    void draw(const knn::ChartContent& content);

    QString titleText() const { return title; }
    QString subTitleText() const { return subTitle; }
    /// The point series in drawing order (data, then queries).
    QList<QLineSeries*> pointSeries() const;
    /// The neighbour lines as (from, to) pairs in chart values, in drawing order.
    QList<QLineF> neighbourLines() const;
    /// The tip for the point under the widget position pos (within a few pixels), if any.
    std::optional<QString> pointTipAt(QPoint pos) const;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void showTitles();
    void showPointTip();

    QValueAxis* axisX;         ///< bottom axis "X Vals"
    QValueAxis* axisY;         ///< left axis "Y vals"
    NeighbourLinesItem* lines; ///< every neighbour line of the run
    QString title;             ///< the title shown
    QString subTitle;          ///< the sub-title shown, empty before a run
    QTimer tipDelay;           ///< the mouse must rest this long before a tip shows
    QPoint tipPosition;        ///< where the mouse rests, in widget coordinates
};
