// Chart1 of the results window: the data points (blue), the query points (red) and a dotted black line
// from each query to its nearest neighbour, under the title and sub-title of the run, with the axes
// "X Vals" and "Y vals". The run's series are drawn by one graphics item over the chart's plot area,
// markers from a pre-rendered image and lines in one call per pen: Qt Charts' own series lay out every
// marker and every line series as shapes, which takes many seconds for 100,000 points and 10,000
// lines. Where a series has more points in sight than its markers could show apart, it is drawn as a
// density image instead, so the shape of a million points shows; zoomed in, the markers come back.
// Resting the mouse on a point for 250 ms shows its X and Y in a tool tip for 5 seconds. The mouse
// wheel zooms about the pointer, a rectangle dragged with the left button zooms to it, the right
// button pans, and a double click shows everything again.
#pragma once

#include <QChartView>
#include <QPen>
#include <QTimer>
#include <optional>

namespace knn {
struct ChartContent;
}

class PlotItem;
class QRubberBand;
class QValueAxis;

/// The part of the plane the plot shows, in chart values.
struct ValueRange {
    double xMin = 0.0;
    double xMax = 1.0;
    double yMin = 0.0;
    double yMax = 1.0;
};

/// What the chart draws for consecutive series of one kind and look, in chart values.
struct PlotLayer {
    enum Kind { Markers, Lines };
    Kind kind = Markers;
    QColor colour;         ///< marker colour (markers)
    QPen pen;              ///< line colour, width and style (lines)
    QList<QPointF> points; ///< markers: one point each; lines: from and to of each line, pair after pair
};

class ResultsChart : public QChartView {
    Q_OBJECT
public:
    explicit ResultsChart(QWidget* parent = nullptr);

    /// Removes every series; the title returns to the designed one.
    void clear();
    /// Replaces the chart's content with what a run drew.
    void draw(const knn::ChartContent& content);

    QString titleText() const { return title; }
    QString subTitleText() const { return subTitle; }
    /// What is drawn, in drawing order: one layer per point series, one per run of line series
    /// that share a pen.
    const QList<PlotLayer>& layers() const;
    /// Where a point in chart values appears, in widget coordinates; nothing before the axes have a range.
    std::optional<QPointF> widgetPositionOf(QPointF value) const;
    /// The tip for the marker under the widget position pos (within a few pixels), if any.
    std::optional<QString> pointTipAt(QPoint pos) const;

    /// What the plot shows now, and what it shows after a drawing or a reset.
    ValueRange shownRange() const;
    ValueRange fittedRange() const { return fitted; }
    /// Shows that part of the plane (zoom and pan come here).
    void showRange(const ValueRange& range);
    /// Back to the range that fits every point.
    void resetZoom() { showRange(fitted); }
    /// True when layer i is drawn as a density image in the current view, false for markers or lines.
    bool layerDrawnAsDensity(qsizetype i) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    enum class Drag { None, Zoom, Pan };

    void showTitles();
    void showPointTip();
    /// The chart value at a widget position, on or off the plot area.
    QPointF valueAt(QPointF pos) const;

    QValueAxis* axisX;  ///< bottom axis "X Vals"
    QValueAxis* axisY;  ///< left axis "Y vals"
    PlotItem* plot;     ///< draws the layers
    QString title;      ///< the title shown
    QString subTitle;   ///< the sub-title shown, empty before a run
    QTimer tipDelay;    ///< the mouse must rest this long before a tip shows
    QPoint tipPosition; ///< where the mouse rests, in widget coordinates
    ValueRange fitted;  ///< the range that shows every point of the last drawing
    Drag drag = Drag::None;
    QPoint dragStart;     ///< where the button went down, in widget coordinates
    ValueRange dragRange; ///< the range shown when a pan started
    QRubberBand* band;    ///< the rectangle of a zoom drag
};
