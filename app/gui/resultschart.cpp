// Results chart: series, axes, the neighbour-line item and the point tip.
#include "resultschart.h"

#include "chartcontent.h"
#include "numbers.h"

#include <QGraphicsItem>
#include <QLineSeries>
#include <QPainter>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString designedTitle = QStringLiteral("KNN Search Results");
const QColor wallGrey(234, 234, 234);
const QColor axisLineColour(64, 64, 64);
const QColor gridColour(169, 169, 169);
constexpr qreal markerSize = 4.0;
constexpr int tipDelayMs = 250;
constexpr int tipShownMs = 5000;
constexpr qreal tipReachPixels = 5.0;

QColor toQColor(knn::ChartColour c) {
    return QColor(c.red, c.green, c.blue);
}

QLinearGradient wallGradient() {
    QLinearGradient gradient(0.0, 0.0, 0.0, 1.0);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0.0, wallGrey);
    gradient.setColorAt(1.0, Qt::white);
    return gradient;
}

QString htmlEscaped(const QString& text) {
    return text.toHtmlEscaped();
}

} // namespace

/// Draws all neighbour lines in one paint call, mapped through the chart's axes.
class NeighbourLinesItem : public QGraphicsItem {
public:
    /// Consecutive lines of one pen.
    struct Batch {
        QPen pen;            ///< colour, width and style of the lines
        QList<QLineF> lines; ///< from and to, in chart values
    };

    NeighbourLinesItem(QChart* chart, const QValueAxis* axisX, const QValueAxis* axisY)
        : QGraphicsItem(chart), chart(chart), axisX(axisX), axisY(axisY) {
        setZValue(10);
        setAcceptedMouseButtons(Qt::NoButton);
    }

    void setBatches(QList<Batch> newBatches) {
        batches = std::move(newBatches);
        update();
    }
    const QList<Batch>& allBatches() const { return batches; }
    void plotAreaChanged() {
        prepareGeometryChange();
        update();
    }

    QRectF boundingRect() const override { return chart->plotArea(); }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        const QRectF area = chart->plotArea();
        const qreal xSpan = axisX->max() - axisX->min();
        const qreal ySpan = axisY->max() - axisY->min();
        if (batches.isEmpty() || xSpan <= 0 || ySpan <= 0) return;
        const auto toPixels = [&](QPointF v) {
            return QPointF(area.left() + (v.x() - axisX->min()) / xSpan * area.width(),
                           area.bottom() - (v.y() - axisY->min()) / ySpan * area.height());
        };
        painter->setClipRect(area);
        QList<QLineF> mapped;
        for (const Batch& batch : batches) {
            mapped.resize(batch.lines.size());
            std::transform(batch.lines.begin(), batch.lines.end(), mapped.begin(), [&](const QLineF& line) {
                return QLineF(toPixels(line.p1()), toPixels(line.p2()));
            });
            painter->setPen(batch.pen);
            painter->drawLines(mapped);
        }
    }

private:
    QChart* chart;
    const QValueAxis* axisX;
    const QValueAxis* axisY;
    QList<Batch> batches; ///< in drawing order
};

ResultsChart::ResultsChart(QWidget* parent) : QChartView(parent) {
    setObjectName(QStringLiteral("Chart1"));
    setRenderHint(QPainter::Antialiasing, false);
    setMouseTracking(true);
    QChart* c = chart();
    c->legend()->setAlignment(Qt::AlignBottom);
    c->legend()->hide();
    c->setBackgroundBrush(wallGradient());
    c->setPlotAreaBackgroundBrush(wallGradient());
    c->setPlotAreaBackgroundVisible(true);

    axisX = new QValueAxis(c);
    axisY = new QValueAxis(c);
    const std::pair<QValueAxis*, QString> axes[] = {{axisX, QStringLiteral("X Vals")},
                                                    {axisY, QStringLiteral("Y vals")}};
    for (const auto& [axis, caption] : axes) {
        axis->setTitleText(caption);
        axis->setTitleFont(QFont(QStringLiteral("Verdana"), 9));
        axis->setTitleBrush(QColor(0, 0, 255));
        axis->setLinePenColor(axisLineColour);
        axis->setGridLineColor(gridColour);
        axis->setRange(0, 1);
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setLabelFormat(QStringLiteral("%g"));
    }
    c->addAxis(axisX, Qt::AlignBottom);
    c->addAxis(axisY, Qt::AlignLeft);

    lines = new NeighbourLinesItem(c, axisX, axisY);
    connect(c, &QChart::plotAreaChanged, this, [this] { lines->plotAreaChanged(); });
    for (QValueAxis* axis : {axisX, axisY})
        connect(axis, &QValueAxis::rangeChanged, this, [this] { lines->update(); });

    tipDelay.setSingleShot(true);
    tipDelay.setInterval(tipDelayMs);
    connect(&tipDelay, &QTimer::timeout, this, &ResultsChart::showPointTip);

    title = designedTitle;
    showTitles();
}

void ResultsChart::showTitles() {
    QString html =
        QStringLiteral("<span style=\"font-family:Verdana; font-weight:bold; color:#ff0000;\">%1</span>")
            .arg(htmlEscaped(title));
    if (!subTitle.isEmpty())
        html += QStringLiteral(
                    "<br><span style=\"font-family:Verdana; font-size:small; color:#000000;\">%1</span>")
                    .arg(htmlEscaped(subTitle));
    chart()->setTitle(html);
}

void ResultsChart::clear() {
    chart()->removeAllSeries();
    lines->setBatches({});
    title = designedTitle;
    subTitle.clear();
    showTitles();
}

void ResultsChart::draw(const knn::ChartContent& content) {
    clear();
    title = QString::fromStdString(content.title);
    subTitle = QString::fromStdString(content.subTitle);
    showTitles();

    double xMin = std::numeric_limits<double>::infinity();
    double xMax = -xMin;
    double yMin = xMin;
    double yMax = -xMin;
    const auto widenRange = [&](const knn::ChartPoint& p) {
        xMin = std::min(xMin, p.x);
        xMax = std::max(xMax, p.x);
        yMin = std::min(yMin, p.y);
        yMax = std::max(yMax, p.y);
    };

    QList<NeighbourLinesItem::Batch> batches;
    for (const knn::ChartSeries& s : content.series) {
        const std::span<const knn::ChartPoint> points = content.pointsOf(s);
        std::for_each(points.begin(), points.end(), widenRange);
        if (s.kind == knn::SeriesKind::Point) {
            QList<QPointF> values;
            values.reserve(static_cast<qsizetype>(points.size()));
            for (const knn::ChartPoint& p : points)
                values.append(QPointF(p.x, p.y));
            // A line series without a line draws its markers in one pass, unlike a scatter series.
            auto* series = new QLineSeries;
            series->setPen(Qt::NoPen);
            series->setColor(toQColor(s.colour));
            series->setPointsVisible(true);
            series->setMarkerSize(markerSize);
            series->replace(values);
            chart()->addSeries(series);
            series->attachAxis(axisX);
            series->attachAxis(axisY);
            continue;
        }
        const QPen pen(toQColor(s.colour), s.penWidth,
                       s.penStyle == knn::PenStyle::Dotted ? Qt::DotLine : Qt::SolidLine);
        if (batches.isEmpty() || batches.back().pen != pen) batches.append({pen, {}});
        for (std::size_t i = 1; i < points.size(); ++i)
            batches.back().lines.append(
                QLineF(QPointF(points[i - 1].x, points[i - 1].y), QPointF(points[i].x, points[i].y)));
    }
    lines->setBatches(std::move(batches));

    if (xMin > xMax) {
        xMin = yMin = 0.0;
        xMax = yMax = 1.0;
    }
    // Ticks fall on round values while the range stays close to the points.
    const auto padded = [](QValueAxis* axis, double low, double high) {
        const double margin = high > low ? (high - low) * 0.04 : std::max(1.0, std::fabs(low) * 0.05);
        axis->setRange(low - margin, high + margin);
        const double rough = (high - low + 2 * margin) / 6;
        const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
        const double steps[] = {1.0, 2.0, 2.5, 5.0, 10.0};
        const double step = *std::find_if(std::begin(steps), std::end(steps),
                                          [&](double s) { return s * magnitude >= rough; });
        axis->setTickAnchor(0.0);
        axis->setTickInterval(step * magnitude);
    };
    padded(axisX, xMin, xMax);
    padded(axisY, yMin, yMax);
}

QList<QLineSeries*> ResultsChart::pointSeries() const {
    QList<QLineSeries*> found;
    for (QAbstractSeries* s : chart()->series())
        if (auto* line = qobject_cast<QLineSeries*>(s)) found.append(line);
    return found;
}

QList<QLineF> ResultsChart::neighbourLines() const {
    QList<QLineF> all;
    for (const NeighbourLinesItem::Batch& batch : lines->allBatches())
        all.append(batch.lines);
    return all;
}

std::optional<QString> ResultsChart::pointTipAt(QPoint pos) const {
    const QPointF scenePos = mapToScene(pos);
    const QPointF chartPos = chart()->mapFromScene(scenePos);
    if (!chart()->plotArea().contains(chartPos)) return std::nullopt;
    std::optional<QPointF> nearest;
    qreal nearestDistance = tipReachPixels;
    for (QLineSeries* series : pointSeries()) {
        for (const QPointF& value : series->points()) {
            const QPointF at = chart()->mapToPosition(value, series);
            const qreal distance = std::hypot(at.x() - chartPos.x(), at.y() - chartPos.y());
            if (distance <= nearestDistance) {
                nearestDistance = distance;
                nearest = value;
            }
        }
    }
    if (!nearest) return std::nullopt;
    return QStringLiteral("X = %1\nY = %2")
        .arg(QString::fromStdString(knn::FormatDouble(nearest->x())),
             QString::fromStdString(knn::FormatDouble(nearest->y())));
}

void ResultsChart::mouseMoveEvent(QMouseEvent* event) {
    QChartView::mouseMoveEvent(event);
    tipPosition = event->position().toPoint();
    tipDelay.start();
}

void ResultsChart::leaveEvent(QEvent* event) {
    tipDelay.stop();
    QChartView::leaveEvent(event);
}

void ResultsChart::showPointTip() {
    if (std::optional<QString> tip = pointTipAt(tipPosition))
        QToolTip::showText(mapToGlobal(tipPosition), *tip, this, QRect(), tipShownMs);
    else
        QToolTip::hideText();
}
