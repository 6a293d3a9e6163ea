// Results chart: axes, titles, the plot item and the point tip.
#include "resultschart.h"

#include "chartcontent.h"
#include "numbers.h"

#include <QGraphicsItem>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRubberBand>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

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

/// Labels with as many decimals as the tick step has, so that the tick at zero, which the axis
/// reaches by adding steps, does not read 6.93889e-18; very large or small values keep six digits.
QString labelFormat(double low, double high, double step) {
    constexpr int mostDecimals = 9;
    if (std::max(std::fabs(low), std::fabs(high)) >= 1e9 || step < std::pow(10.0, -mostDecimals))
        return QStringLiteral("%.6g");
    int decimals = 0;
    for (double scaled = step; decimals < mostDecimals; scaled *= 10, ++decimals)
        if (std::fabs(scaled - std::round(scaled)) < 1e-6 * scaled) break;
    return QStringLiteral("%.%1f").arg(decimals);
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
        const std::optional<Mapping> map = mapping();
        if (!map) return std::nullopt;
        return map->position(value);
    }

    /// Whether the layer's markers, at their size, would cover the plot area more than once over.
    bool drawnAsDensity(qsizetype i) const {
        const std::optional<Mapping> map = mapping();
        if (!map || layers[i].kind != PlotLayer::Markers) return false;
        const double areaPixels = map->area.width() * map->area.height();
        const auto limit = static_cast<qsizetype>(areaPixels / (markerDiameter * markerDiameter));
        qsizetype inSight = 0;
        for (const QPointF& value : layers[i].points)
            if (map->contains(value) && ++inSight > limit) return true;
        return false;
    }

    QRectF boundingRect() const override { return chart->plotArea(); }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        const std::optional<Mapping> map = mapping();
        if (!map) return;
        painter->setClipRect(map->area);
        QList<QPointF> mapped;
        for (qsizetype i = 0; i < layers.size(); ++i) {
            const PlotLayer& layer = layers[i];
            if (layer.kind == PlotLayer::Markers && drawnAsDensity(i)) {
                painter->drawImage(map->area.topLeft(), densityImage(layer, *map));
                continue;
            }
            mapped.clear();
            if (layer.kind == PlotLayer::Markers) {
                // Markers out of sight cost nothing; those at the edge still show their part.
                const double reach = markerDiameter / 2.0;
                const QRectF near = map->area.adjusted(-reach, -reach, reach, reach);
                for (const QPointF& value : layer.points)
                    if (const QPointF at = map->position(value); near.contains(at)) mapped.append(at);
                const QPointF centre(reach, reach);
                for (const QPointF& at : mapped)
                    painter->drawPixmap(at - centre, markers[i]);
            } else {
                // A line shorter than this shows nothing but a dot over the markers at its ends.
                constexpr double shortestLine = 2.0;
                for (qsizetype p = 0; p + 1 < layer.points.size(); p += 2) {
                    const QPointF from = map->position(layer.points[p]);
                    const QPointF to = map->position(layer.points[p + 1]);
                    if (std::fabs(to.x() - from.x()) + std::fabs(to.y() - from.y()) < shortestLine) continue;
                    mapped.append(from);
                    mapped.append(to);
                }
                painter->setPen(layer.pen);
                painter->drawLines(mapped);
            }
        }
    }

private:
    /// From chart values to chart coordinates for the current axes.
    struct Mapping {
        QRectF area;
        double xMin, xMax, yMin, yMax;
        double xScale, yScale; ///< pixels per half a value unit

        QPointF position(QPointF value) const {
            return QPointF(area.left() + halfSpan(xMin, value.x()) * xScale,
                           area.bottom() - halfSpan(yMin, value.y()) * yScale);
        }
        bool contains(QPointF value) const {
            return value.x() >= xMin && value.x() <= xMax && value.y() >= yMin && value.y() <= yMax;
        }
    };

    std::optional<Mapping> mapping() const {
        const QRectF area = chart->plotArea();
        const double xSpan = halfSpan(axisX->min(), axisX->max());
        const double ySpan = halfSpan(axisY->min(), axisY->max());
        if (xSpan <= 0 || ySpan <= 0 || area.isEmpty()) return std::nullopt;
        return Mapping{area,         axisX->min(),         axisX->max(),         axisY->min(),
                       axisY->max(), area.width() / xSpan, area.height() / ySpan};
    }

    /// One pixel per plot pixel, in the layer's colour, more opaque where more points fall (on a
    /// logarithmic scale, so that sparse regions still show beside dense ones).
    static QImage densityImage(const PlotLayer& layer, const Mapping& map) {
        const int width = std::max(1, static_cast<int>(std::ceil(map.area.width())));
        const int height = std::max(1, static_cast<int>(std::ceil(map.area.height())));
        std::vector<std::uint32_t> counts(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        std::uint32_t most = 0;
        for (const QPointF& value : layer.points) {
            if (!map.contains(value)) continue;
            const QPointF at = map.position(value) - map.area.topLeft();
            const int x = std::clamp(static_cast<int>(at.x()), 0, width - 1);
            const int y = std::clamp(static_cast<int>(at.y()), 0, height - 1);
            most = std::max(most, ++counts[static_cast<std::size_t>(y) * width + x]);
        }
        QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        const double scale = std::log1p(static_cast<double>(most));
        const QColor colour = layer.colour;
        for (int y = 0; y < height; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const std::uint32_t count = counts[static_cast<std::size_t>(y) * width + x];
                if (count == 0) continue;
                const int alpha =
                    static_cast<int>(120 + 135 * std::log1p(static_cast<double>(count)) / scale);
                line[x] = qPremultiply(qRgba(colour.red(), colour.green(), colour.blue(), alpha));
            }
        }
        return image;
    }

    QChart* chart;
    const QValueAxis* axisX;
    const QValueAxis* axisY;
    QList<PlotLayer> layers; ///< in drawing order
    QList<QPixmap> markers;  ///< marker image of each layer of markers
};

ResultsChart::ResultsChart(QWidget* parent)
    : QChartView(parent), band(new QRubberBand(QRubberBand::Rectangle, this)) {
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
    // The range stays close to the points.
    const auto fit = [](double low, double high) {
        // The axes' own layout arithmetic overflows near the largest double; farther points are clipped.
        constexpr double largest = std::numeric_limits<double>::max() / 16;
        const double margin = high > low ? halfSpan(low, high) * 0.08 : std::max(1.0, std::fabs(low) * 0.05);
        return std::pair{low < -largest + margin ? -largest : low - margin,
                         high > largest - margin ? largest : high + margin};
    };
    const auto [left, right] = fit(xMin, xMax);
    const auto [bottom, top] = fit(yMin, yMax);
    fitted = {left, right, bottom, top};
    resetZoom();
}

ValueRange ResultsChart::shownRange() const {
    return {axisX->min(), axisX->max(), axisY->min(), axisY->max()};
}

void ResultsChart::showRange(const ValueRange& range) {
    // The ticks fall on round values. Dynamic ticks would lay out the new range with the old interval:
    // billions of ticks when the range grows by that much. Fixed ticks stay few while both change.
    const auto apply = [](QValueAxis* axis, double from, double to) {
        const double step = tickStep(from, to);
        axis->setTickType(QValueAxis::TicksFixed);
        axis->setRange(from, to);
        axis->setTickInterval(step);
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setLabelFormat(labelFormat(from, to, step));
    };
    apply(axisX, range.xMin, range.xMax);
    apply(axisY, range.yMin, range.yMax);
}

bool ResultsChart::layerDrawnAsDensity(qsizetype i) const {
    return plot->drawnAsDensity(i);
}

QPointF ResultsChart::valueAt(QPointF pos) const {
    const QRectF area = chart()->plotArea();
    const QPointF at = chart()->mapFromScene(mapToScene(pos.toPoint()));
    const ValueRange shown = shownRange();
    const double fx = (at.x() - area.left()) / area.width();
    const double fy = (area.bottom() - at.y()) / area.height();
    return QPointF(shown.xMin + 2 * halfSpan(shown.xMin, shown.xMax) * fx,
                   shown.yMin + 2 * halfSpan(shown.yMin, shown.yMax) * fy);
}

namespace {

/// A zoom stops where the doubles of the range could no longer tell the plot's pixels apart.
bool zoomable(double from, double to) {
    const double scale = std::max({std::fabs(from), std::fabs(to), std::numeric_limits<double>::min()});
    return halfSpan(from, to) > scale * std::numeric_limits<double>::epsilon() * 1024;
}

} // namespace

void ResultsChart::mousePressEvent(QMouseEvent* event) {
    const Qt::MouseButton button = event->button();
    if (button != Qt::LeftButton && button != Qt::RightButton && button != Qt::MiddleButton) {
        QChartView::mousePressEvent(event);
        return;
    }
    drag = button == Qt::LeftButton ? Drag::Zoom : Drag::Pan;
    dragStart = event->position().toPoint();
    dragRange = shownRange();
    if (drag == Drag::Zoom) band->setGeometry(QRect(dragStart, QSize()));
    event->accept();
}

void ResultsChart::mouseMoveEvent(QMouseEvent* event) {
    QChartView::mouseMoveEvent(event);
    tipPosition = event->position().toPoint();
    tipDelay.start();
    if (drag == Drag::Zoom) {
        band->setGeometry(QRect(dragStart, tipPosition).normalized());
        band->show();
    } else if (drag == Drag::Pan) {
        const QRectF area = chart()->plotArea();
        const QPoint moved = tipPosition - dragStart;
        const double dx = 2 * halfSpan(dragRange.xMin, dragRange.xMax) * moved.x() / area.width();
        const double dy = 2 * halfSpan(dragRange.yMin, dragRange.yMax) * moved.y() / area.height();
        showRange({dragRange.xMin - dx, dragRange.xMax - dx, dragRange.yMin + dy, dragRange.yMax + dy});
    }
}

void ResultsChart::mouseReleaseEvent(QMouseEvent* event) {
    if (drag == Drag::None) {
        QChartView::mouseReleaseEvent(event);
        return;
    }
    const QRect dragged = QRect(dragStart, event->position().toPoint()).normalized();
    constexpr int smallestDrag = 5; // pixels: less is a click
    if (drag == Drag::Zoom && dragged.width() >= smallestDrag && dragged.height() >= smallestDrag) {
        const QPointF from = valueAt(dragged.bottomLeft());
        const QPointF to = valueAt(dragged.topRight());
        if (zoomable(from.x(), to.x()) && zoomable(from.y(), to.y()))
            showRange({from.x(), to.x(), from.y(), to.y()});
    }
    band->hide();
    drag = Drag::None;
    event->accept();
}

void ResultsChart::mouseDoubleClickEvent(QMouseEvent* event) {
    resetZoom();
    event->accept();
}

void ResultsChart::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) return;
    // Each notch away from the user shows a fifth less about the point under the pointer.
    const double factor = std::pow(0.8, notches);
    const QPointF centre = valueAt(event->position());
    const ValueRange shown = shownRange();
    const ValueRange zoomed{
        centre.x() - (centre.x() - shown.xMin) * factor, centre.x() + (shown.xMax - centre.x()) * factor,
        centre.y() - (centre.y() - shown.yMin) * factor, centre.y() + (shown.yMax - centre.y()) * factor};
    if (zoomable(zoomed.xMin, zoomed.xMax) && zoomable(zoomed.yMin, zoomed.yMax)) showRange(zoomed);
    event->accept();
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
    const QPointF inChart = chart()->mapFromScene(mapToScene(pos));
    if (!chart()->plotArea().contains(inChart)) return std::nullopt;
    std::optional<QPointF> nearest;
    qreal nearestDistance = tipReachPixels;
    for (const PlotLayer& layer : layers()) {
        if (layer.kind != PlotLayer::Markers) continue;
        for (const QPointF& value : layer.points) {
            const std::optional<QPointF> at = plot->toPosition(value);
            if (!at) return std::nullopt;
            const qreal distance = std::hypot(at->x() - inChart.x(), at->y() - inChart.y());
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
