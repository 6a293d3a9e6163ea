// The results chart on its own: how a run's series become drawn layers, axes that fit any range of
// coordinates, titles, clearing, zooming and panning with the mouse, and a million points.
#include "chartcontent.h"
#include "resultschart.h"

#include <QElapsedTimer>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <limits>

namespace {

/// Content with one series per entry: its kind, pen style and points.
struct SeriesShape {
    knn::SeriesKind kind;
    knn::PenStyle style;
    QList<QPointF> points;
};

knn::ChartContent contentOf(const QList<SeriesShape>& shapes) {
    knn::ChartContent content;
    content.title = "KNN Search Results: Brute Force Search";
    content.subTitle = "KNN Search: k = 1, no. of data points = 2, no. of query points = 1";
    for (const SeriesShape& shape : shapes) {
        const knn::ChartColour colour =
            shape.kind == knn::SeriesKind::Line ? knn::NeighbourLineColour : knn::DataPointColour;
        content.series.push_back({shape.kind, colour, 1, shape.style, content.points.size(),
                                  static_cast<std::size_t>(shape.points.size())});
        for (const QPointF& p : shape.points)
            content.points.push_back({p.x(), p.y()});
    }
    return content;
}

} // namespace

class ChartTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        chart = std::make_unique<ResultsChart>();
        chart->resize(600, 400);
        chart->show();
        QVERIFY(QTest::qWaitForWindowExposed(chart.get()));
    }
    void cleanup() { chart.reset(); }

    void lineSeriesOfOnePenShareALayer();
    void axesFitEveryPoint_data();
    void axesFitEveryPoint();
    void clearRestoresDesignedTitle();
    void mouseZoomsPansAndResets();
    void manyPointsDrawnAsDensityUntilZoomedIn();

private:
    std::unique_ptr<ResultsChart> chart;
};

void ChartTest::lineSeriesOfOnePenShareALayer() {
    using knn::PenStyle;
    using knn::SeriesKind;
    chart->draw(contentOf({
        {SeriesKind::Point, PenStyle::Solid, {{0, 0}, {4, 4}}},
        {SeriesKind::Line, PenStyle::Dotted, {{1, 1}, {0, 0}}},
        {SeriesKind::Line, PenStyle::Dotted, {{3, 3}, {4, 4}}},
        {SeriesKind::Line, PenStyle::Solid, {{0, 4}, {2, 2}, {4, 0}}},
    }));
    const QList<PlotLayer>& layers = chart->layers();
    QCOMPARE(layers.size(), 3);
    QCOMPARE(layers[0].kind, PlotLayer::Markers);
    QCOMPARE(layers[1].kind, PlotLayer::Lines);
    QCOMPARE(layers[1].pen.style(), Qt::DotLine);
    QCOMPARE(layers[1].points, (QList<QPointF>{{1, 1}, {0, 0}, {3, 3}, {4, 4}}));
    QCOMPARE(layers[2].pen.style(), Qt::SolidLine);
    QCOMPARE(layers[2].points, (QList<QPointF>{{0, 4}, {2, 2}, {2, 2}, {4, 0}}));
    QCOMPARE(chart->titleText(), QStringLiteral("KNN Search Results: Brute Force Search"));
    QCOMPARE(chart->subTitleText(),
             QStringLiteral("KNN Search: k = 1, no. of data points = 2, no. of query points = 1"));
}

void ChartTest::axesFitEveryPoint_data() {
    QTest::addColumn<QList<QPointF>>("points");
    const double huge = std::numeric_limits<double>::max() / 32;
    QTest::addRow("unit square") << QList<QPointF>{{0, 0}, {1, 1}};
    QTest::addRow("millions") << QList<QPointF>{{-2e6, 5e6}, {3e9, -1e6}};
    QTest::addRow("tiny") << QList<QPointF>{{1e-12, 2e-12}, {3e-12, -1e-12}};
    QTest::addRow("one point") << QList<QPointF>{{7, 7}};
    QTest::addRow("near the double limit") << QList<QPointF>{{-huge, huge}, {huge, -huge}};
}

void ChartTest::axesFitEveryPoint() {
    QFETCH(QList<QPointF>, points);
    // A small range first: growing from it must not lay out ticks at the old spacing.
    chart->draw(contentOf({{knn::SeriesKind::Point, knn::PenStyle::Solid, {{0, 0}, {1, 1}}}}));
    chart->draw(contentOf({{knn::SeriesKind::Point, knn::PenStyle::Solid, points}}));
    QApplication::processEvents();
    const QRectF plot = chart->chart()->mapRectToScene(chart->chart()->plotArea());
    for (const QPointF& p : points) {
        const std::optional<QPointF> at = chart->widgetPositionOf(p);
        QVERIFY(at.has_value());
        QVERIFY2(chart->mapToScene(at->toPoint()).x() >= plot.left() - 1 &&
                     chart->mapToScene(at->toPoint()).x() <= plot.right() + 1,
                 qPrintable(QStringLiteral("x of (%1, %2)").arg(p.x()).arg(p.y())));
        QVERIFY(chart->mapToScene(at->toPoint()).y() >= plot.top() - 1 &&
                chart->mapToScene(at->toPoint()).y() <= plot.bottom() + 1);
    }
}

void ChartTest::clearRestoresDesignedTitle() {
    chart->draw(contentOf({{knn::SeriesKind::Point, knn::PenStyle::Solid, {{0, 0}}}}));
    chart->clear();
    QVERIFY(chart->layers().isEmpty());
    QCOMPARE(chart->titleText(), QStringLiteral("KNN Search Results"));
    QVERIFY(chart->subTitleText().isEmpty());
}

void ChartTest::mouseZoomsPansAndResets() {
    chart->draw(contentOf({{knn::SeriesKind::Point, knn::PenStyle::Solid, {{0, 0}, {10, 10}}}}));
    QApplication::processEvents();
    const ValueRange fitted = chart->shownRange();
    const auto at = [&](double x, double y) { return chart->widgetPositionOf({x, y})->toPoint(); };

    // A wheel notch zooms about the pointer: the value under it stays put.
    const QPoint pointer = at(2.5, 7.5);
    QWheelEvent wheel(pointer, chart->mapToGlobal(pointer), {}, {0, 120}, Qt::NoButton, {}, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(chart->viewport(), &wheel);
    ValueRange shown = chart->shownRange();
    QVERIFY(shown.xMax - shown.xMin < fitted.xMax - fitted.xMin);
    QVERIFY((chart->widgetPositionOf({2.5, 7.5})->toPoint() - pointer).manhattanLength() <= 2);

    // A dragged rectangle becomes the range.
    chart->resetZoom();
    QTest::mousePress(chart->viewport(), Qt::LeftButton, {}, at(2, 6));
    QTest::mouseMove(chart->viewport(), at(4, 3));
    QTest::mouseRelease(chart->viewport(), Qt::LeftButton, {}, at(4, 3));
    shown = chart->shownRange();
    QVERIFY(std::fabs(shown.xMin - 2) < 0.1 && std::fabs(shown.xMax - 4) < 0.1);
    QVERIFY(std::fabs(shown.yMin - 3) < 0.1 && std::fabs(shown.yMax - 6) < 0.1);

    // The right button pans: the value under the pointer follows it.
    const QPoint from = at(3, 4);
    const QPoint to = from + QPoint(40, -30);
    QTest::mousePress(chart->viewport(), Qt::RightButton, {}, from);
    QTest::mouseMove(chart->viewport(), to);
    QTest::mouseRelease(chart->viewport(), Qt::RightButton, {}, to);
    QVERIFY((chart->widgetPositionOf({3, 4})->toPoint() - to).manhattanLength() <= 2);

    QTest::mouseDClick(chart->viewport(), Qt::LeftButton, {}, at(3, 4));
    shown = chart->shownRange();
    QCOMPARE(shown.xMin, fitted.xMin);
    QCOMPARE(shown.yMax, fitted.yMax);
}

void ChartTest::manyPointsDrawnAsDensityUntilZoomedIn() {
    // A million points on a 1000 x 1000 grid.
    QList<QPointF> grid;
    grid.reserve(1000000);
    for (int i = 0; i < 1000000; ++i)
        grid.append(QPointF(i % 1000, i / 1000));
    chart->draw(contentOf({{knn::SeriesKind::Point, knn::PenStyle::Solid, grid}}));
    QApplication::processEvents();
    QVERIFY(chart->layerDrawnAsDensity(0));
    QElapsedTimer drawing;
    drawing.start();
    chart->repaint();
    QVERIFY2(drawing.elapsed() < 100, qPrintable(QStringLiteral("%1 ms").arg(drawing.elapsed())));

    // Twenty by twenty of them fill the plot with markers that still show apart.
    chart->showRange({100, 120, 100, 120});
    QVERIFY(!chart->layerDrawnAsDensity(0));
}

QTEST_MAIN(ChartTest)
#include "test_chart.moc"
