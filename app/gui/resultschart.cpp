// Results chart: axes, titles, the plot item and the point tip.
#include "resultschart.h"

#include "chartcontent.h"
#include "numbers.h"

#include <QGraphicsItem>
#include <QPainter>
#include <QPixmap>
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
constexpr int markerDiameter = 7;
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

QPixmap markerImage(const QColor& colour) {
    QPixmap image(markerDiameter, markerDiameter);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(colour.darker(140));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(0.5, 0.5, markerDiameter - 1.0, markerDiameter - 1.0));
    return image;
}

// Spans are taken as halves throughout, so coordinates near the largest double do not overflow.

/// Half the distance from low to high.
double halfSpan(double low, double high) {
    return high / 2 - low / 2;
}

/// Ticks on round values, about six over the range.
double tickStep(double low, double high) {
    const double rough = halfSpan(low, high) / 3;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 2.5, 5.0})
        if (factor * magnitude >= rough) return factor * magnitude;
    return 10.0 * magnitude;
}

} // namespace

/// Draws the layers over the plot area, mapped through the chart's two value axes.
class PlotItem : public QGraphicsItem {
public:
    PlotItem(QChart* chart, const QValueAxis* axisX, const QValueAxis* axisY)
        : QGraphicsItem(chart), chart(chart), axisX(axisX), axisY(axisY) {
        setZValue(10);
        setAcceptedMouseButtons(Qt::NoButton);
    }

    const QList<PlotLayer>& allLayers() const { return layers; }
    void setLayers(QList<PlotLayer> newLayers) {
        layers = std::move(newLayers);
        markers.clear();
        for (const PlotLayer& layer : layers)
            markers.append(layer.kind == PlotLayer::Markers ? markerImage(layer.colour) : QPixmap());
        update();
    }
    void plotAreaChanged() {
        prepareGeometryChange();
        update();
    }

    /// Position in chart coordinates of a point in chart values; nothing while the axes are empty.
    std::optional<QPointF> toPosition(QPointF value) const {
        const QRectF area = chart->plotArea();
        const double xSpan = halfSpan(axisX->min(), axisX->max());
        const double ySpan = halfSpan(axisY->min(), axisY->max());
        if (xSpan <= 0 || ySpan <= 0) return std::nullopt;
        return QPointF(area.left() + halfSpan(axisX->min(), value.x()) / xSpan * area.width(),
                       area.bottom() - halfSpan(axisY->min(), value.y()) / ySpan * area.height());
    }

    QRectF boundingRect() const override { return chart->plotArea(); }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        painter->setClipRect(chart->plotArea());
        const QPointF centre(markerDiameter / 2.0, markerDiameter / 2.0);
        QList<QPointF> mapped;
        for (qsizetype i = 0; i < layers.size(); ++i) {
            const PlotLayer& layer = layers[i];
            mapped.clear();
            for (const QPointF& value : layer.points)
                if (std::optional<QPointF> at = toPosition(value)) mapped.append(*at);
            if (layer.kind == PlotLayer::Markers) {
                for (const QPointF& at : mapped)
                    painter->drawPixmap(at - centre, markers[i]);
            } else {
                painter->setPen(layer.pen);
                painter->drawLines(mapped);
            }
        }
    }

private:
    QChart* chart;
    const QValueAxis* axisX;
    const QValueAxis* axisY;
    QList<PlotLayer> layers; ///< in drawing order
    QList<QPixmap> markers;  ///< marker image of each layer of markers
};

ResultsChart::ResultsChart(QWidget* parent) : QChartView(parent) {
    setObjectName(QStringLiteral("Chart1"));
    setMouseTracking(true);
    QChart* c = chart();
    c->legend()->setAlignment(Qt::AlignBottom);
    c->legend()->hide();
    c->setLocalizeNumbers(true);
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
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickAnchor(0.0);
        axis->setLabelFormat(QStringLiteral("%.6g"));
        axis->setRange(0, 1);
        axis->setTickInterval(tickStep(0, 1));
    }
    c->addAxis(axisX, Qt::AlignBottom);
    c->addAxis(axisY, Qt::AlignLeft);

    plot = new PlotItem(c, axisX, axisY);
    connect(c, &QChart::plotAreaChanged, this, [this] { plot->plotAreaChanged(); });
    for (QValueAxis* axis : {axisX, axisY})
        connect(axis, &QValueAxis::rangeChanged, this, [this] { plot->update(); });

    tipDelay.setSingleShot(true);
    tipDelay.setInterval(tipDelayMs);
    connect(&tipDelay, &QTimer::timeout, this, &ResultsChart::showPointTip);

    title = designedTitle;
    showTitles();
}

void ResultsChart::showTitles() {
    QString html =
        QStringLiteral("<span style=\"font-family:Verdana; font-weight:bold; color:#ff0000;\">%1</span>")
            .arg(title.toHtmlEscaped());
    if (!subTitle.isEmpty())
        html += QStringLiteral(
                    "<br><span style=\"font-family:Verdana; font-size:small; color:#000000;\">%1</span>")
                    .arg(subTitle.toHtmlEscaped());
    chart()->setTitle(html);
}

void ResultsChart::clear() {
    plot->setLayers({});
    title = designedTitle;
    subTitle.clear();
    showTitles();
}

void ResultsChart::draw(const knn::ChartContent& content) {
    title = QString::fromStdString(content.title);
    subTitle = QString::fromStdString(content.subTitle);
    showTitles();

    double xMin = std::numeric_limits<double>::infinity();
    double xMax = -xMin;
    double yMin = xMin;
    double yMax = -xMin;
    QList<PlotLayer> layers;
    for (const knn::ChartSeries& s : content.series) {
        const std::span<const knn::ChartPoint> points = content.pointsOf(s);
        for (const knn::ChartPoint& p : points) {
            xMin = std::min(xMin, p.x);
            xMax = std::max(xMax, p.x);
            yMin = std::min(yMin, p.y);
            yMax = std::max(yMax, p.y);
        }
        if (s.kind == knn::SeriesKind::Point) {
            PlotLayer layer{PlotLayer::Markers, toQColor(s.colour), QPen(), {}};
            layer.points.reserve(static_cast<qsizetype>(points.size()));
            for (const knn::ChartPoint& p : points)
                layer.points.append(QPointF(p.x, p.y));
            layers.append(std::move(layer));
            continue;
        }
        QPen pen(toQColor(s.colour), s.penWidth,
                 s.penStyle == knn::PenStyle::Dotted ? Qt::DotLine : Qt::SolidLine);
        pen.setCosmetic(true);
        if (layers.isEmpty() || layers.back().kind != PlotLayer::Lines || layers.back().pen != pen)
            layers.append(PlotLayer{PlotLayer::Lines, pen.color(), pen, {}});
        for (std::size_t i = 1; i < points.size(); ++i) {
            layers.back().points.append(QPointF(points[i - 1].x, points[i - 1].y));
            layers.back().points.append(QPointF(points[i].x, points[i].y));
        }
    }
    plot->setLayers(std::move(layers));

    if (xMin > xMax) {
        xMin = yMin = 0.0;
        xMax = yMax = 1.0;
    }
    // The range stays close to the points; the ticks fall on round values.
    const auto fit = [](QValueAxis* axis, double low, double high) {
        // The axes' own layout arithmetic overflows near the largest double; farther points are clipped.
        constexpr double largest = std::numeric_limits<double>::max() / 16;
        const double margin = high > low ? halfSpan(low, high) * 0.08 : std::max(1.0, std::fabs(low) * 0.05);
        const double from = low < -largest + margin ? -largest : low - margin;
        const double to = high > largest - margin ? largest : high + margin;
        // Dynamic ticks would lay out the new range with the old interval: billions of ticks when the
        // range grows by that much. Fixed ticks stay few while both change.
        axis->setTickType(QValueAxis::TicksFixed);
        axis->setRange(from, to);
        axis->setTickInterval(tickStep(from, to));
        axis->setTickType(QValueAxis::TicksDynamic);
    };
    fit(axisX, xMin, xMax);
    fit(axisY, yMin, yMax);
}

const QList<PlotLayer>& ResultsChart::layers() const {
    return plot->allLayers();
}

std::optional<QPointF> ResultsChart::widgetPositionOf(QPointF value) const {
    const std::optional<QPointF> inChart = plot->toPosition(value);
    if (!inChart) return std::nullopt;
    return mapFromScene(chart()->mapToScene(*inChart));
}

std::optional<QString> ResultsChart::pointTipAt(QPoint pos) const {
    if (!chart()->plotArea().contains(chart()->mapFromScene(mapToScene(pos)))) return std::nullopt;
    std::optional<QPointF> nearest;
    qreal nearestDistance = tipReachPixels;
    for (const PlotLayer& layer : layers()) {
        if (layer.kind != PlotLayer::Markers) continue;
        for (const QPointF& value : layer.points) {
            const std::optional<QPointF> at = widgetPositionOf(value);
            if (!at) return std::nullopt;
            const qreal distance = std::hypot(at->x() - pos.x(), at->y() - pos.y());
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
