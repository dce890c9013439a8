#include "widgets/GraphPanel.h"

#include <QApplication>
#include <QChart>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QValueAxis>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct Range {
    double minimum;
    double maximum;
};

// A reading that wanders between 40 and 100 dB.
double reading(qsizetype index)
{
    return 70.0 + 30.0 * std::sin(static_cast<double>(index) * 0.05);
}

void addReadings(GraphPanel& graph, int series, qsizetype count)
{
    for (qsizetype i = 0; i < count; ++i)
        graph.appendValue(series, reading(i));
}

std::unique_ptr<GraphPanel> shownGraph(const GraphConfig& config, QSize size = QSize(800, 500))
{
    auto graph = std::make_unique<GraphPanel>(config);
    graph->resize(size);
    graph->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(graph.get()));
    QApplication::processEvents();
    return graph;
}

void expectRange(const AxisRange& actual, Range expected)
{
    EXPECT_NEAR(actual.minimum, expected.minimum, 1e-9);
    EXPECT_NEAR(actual.maximum, expected.maximum, 1e-9);
}

TEST(GraphNavigation, ButtonsFollowingAndScrollingGiveTheseRanges)
{
    struct Case {
        const char* name;
        GraphConfig config;
        qsizetype points;
        std::optional<Range> sampleBefore;
        std::optional<Range> valueBefore;
        std::function<void(GraphPanel&)> act;
        Range sample;
        Range value;
    };
    const GraphConfig live = GraphConfig::liveWindow();
    const GraphConfig analysis = GraphConfig::analysisWindow();
    const auto nothing = [](GraphPanel&) {};
    const auto zoomIn = [](GraphPanel& g) { g.zoomIn(); };
    const auto zoomOut = [](GraphPanel& g) { g.zoomOut(); };
    const auto reset = [](GraphPanel& g) { g.resetZoom(); };
    const auto left = [](GraphPanel& g) { g.scrollLeft(); };
    const auto right = [](GraphPanel& g) { g.scrollRight(); };
    const auto readingsUpTo = [](qsizetype largestX) {
        return [largestX](GraphPanel& g) {
            for (qsizetype x = g.pointCount(0); x <= largestX; ++x)
                g.appendValue(0, reading(x));
        };
    };
    const Case cases[] = {
        { "zoom in on a fresh window", live, 0, {}, {}, zoomIn, { 11.8, 47.2 }, { 0, 140 } },
        { "zoom out on a fresh window stops at 0", live, 0, {}, {}, zoomOut, { 0, 70.8 }, { 0, 140 } },
        { "zoom in puts the value axis back", live, 0, {}, Range { 20, 80 }, zoomIn, { 11.8, 47.2 }, { 0, 140 } },
        { "zoom out puts the value axis back", live, 0, {}, Range { -5, 300 }, zoomOut, { 0, 70.8 }, { 0, 140 } },
        { "zoom out far from 0 keeps its centre", live, 0, Range { 100, 159 }, {}, zoomOut, { 88.2, 170.8 },
            { 0, 140 } },
        { "reset with 60 points does nothing", live, 60, {}, {}, reset, { 0, 59 }, { 0, 140 } },
        { "reset with 60 points does nothing after zoom in", live, 60, {}, {},
            [](GraphPanel& g) {
                g.zoomIn();
                g.resetZoom();
            },
            { 11.8, 47.2 }, { 0, 140 } },
        { "reset with 61 points does nothing", live, 61, {}, {}, reset, { 1, 60 }, { 0, 140 } },
        { "reset with 62 points shows them all", live, 62, {}, {}, reset, { 0, 61 }, { 0, 140 } },
        { "reset leaves the value axis alone", live, 62, {}, Range { 20, 80 }, reset, { 0, 61 }, { 20, 80 } },
        { "scroll left near the start goes home", live, 0, Range { 10, 69 }, {}, left, { 0, 59 }, { 0, 140 } },
        { "scroll left by 30", live, 0, Range { 40, 99 }, {}, left, { 10, 69 }, { 0, 140 } },
        { "scroll right by 30 past the last point", live, 0, {}, {}, right, { 30, 89 }, { 0, 140 } },
        { "scroll right far left of 0 goes home", live, 0, Range { -50, 9 }, {}, right, { 0, 59 }, { 0, 140 } },
        { "scroll right on 0..100 by 10 %", analysis, 101, {}, {}, right, { 10, 110 }, { 0, 140 } },
        { "scroll left on 0..100 by 10 %", analysis, 101, {}, {}, left, { -10, 90 }, { 0, 140 } },
        { "percentage scroll has no end", analysis, 101, {}, {},
            [](GraphPanel& g) {
                for (int i = 0; i < 3; ++i)
                    g.scrollLeft();
            },
            { -30, 70 }, { 0, 140 } },
        { "zoom in on the automatic sample axis", analysis, 101, {}, {}, zoomIn, { 20, 80 }, { 0, 140 } },
        { "60 points fill the first screen", live, 60, {}, {}, nothing, { 0, 59 }, { 0, 140 } },
        { "the 61st point moves the axis", live, 61, {}, {}, nothing, { 1, 60 }, { 0, 140 } },
        { "then one unit per point", live, 100, {}, {}, nothing, { 40, 99 }, { 0, 140 } },
        { "after zoom in nothing moves up to x = 47", live, 31, {}, {},
            [&](GraphPanel& g) {
                g.zoomIn();
                readingsUpTo(47)(g);
            },
            { 11.8, 47.2 }, { 0, 140 } },
        { "after zoom in x = 48 moves the axis", live, 31, {}, {},
            [&](GraphPanel& g) {
                g.zoomIn();
                readingsUpTo(48)(g);
            },
            { 12.8, 48.2 }, { 0, 140 } },
        { "after a scroll the window keeps its width", live, 61, {}, {},
            [&](GraphPanel& g) {
                g.scrollLeft(); // 0..59
                readingsUpTo(70)(g); // beyond the right end again from x = 61 on
                g.scrollRight(); // 40..99
                readingsUpTo(100)(g);
            },
            { 41, 100 }, { 0, 140 } },
        { "the analysis graph does not follow", analysis, 500, {}, {}, nothing, { 0, 499 }, { 0, 140 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GraphPanel graph(c.config);
        if (c.sampleBefore)
            graph.setAxisRange(GraphAxis::Sample, c.sampleBefore->minimum, c.sampleBefore->maximum);
        if (c.valueBefore)
            graph.setAxisRange(GraphAxis::Value, c.valueBefore->minimum, c.valueBefore->maximum);
        addReadings(graph, 0, c.points);
        c.act(graph);
        expectRange(graph.axisRange(GraphAxis::Sample), c.sample);
        expectRange(graph.axisRange(GraphAxis::Value), c.value);
    }
}

TEST(GraphNavigation, SampleAxisStaysAutomaticUntilAButtonSetsIt)
{
    GraphPanel graph(GraphConfig::analysisWindow());
    addReadings(graph, 3, 40);
    addReadings(graph, 0, 25);
    EXPECT_TRUE(graph.axisRange(GraphAxis::Sample).automatic);
    expectRange(graph.axisRange(GraphAxis::Sample), { 0, 39 });

    graph.scrollRight();
    addReadings(graph, 4, 80);
    EXPECT_FALSE(graph.axisRange(GraphAxis::Sample).automatic);
    expectRange(graph.axisRange(GraphAxis::Sample), { 3.9, 42.9 });
}

TEST(GraphNavigation, ResetZoomLooksAtTheReferenceSeriesOnly)
{
    GraphPanel graph(GraphConfig::analysisWindow());
    addReadings(graph, 0, 70);
    addReadings(graph, 1, 300);
    graph.resetZoom();
    expectRange(graph.axisRange(GraphAxis::Sample), { 0, 69 });
}

TEST(GraphNavigation, SettingARangeSwapsAndKeepsAMinimumWidth)
{
    struct Case {
        Range set;
        Range stored;
    };
    const Case cases[] = {
        { { 10, 5 }, { 5, 10 } },
        { { -3, 7 }, { -3, 7 } },
        { { 3, 3 }, { 3, 3 + 1e-10 } },
        { { 3, 3 + 1e-11 }, { 3, 3 + 1e-10 } },
        { { 3 + 1e-11, 3 }, { 3, 3 + 1e-10 } },
    };
    GraphPanel graph(GraphConfig::analysisWindow());
    for (const Case& c : cases) {
        graph.setAxisRange(GraphAxis::Value, c.set.minimum, c.set.maximum);
        const AxisRange stored = graph.axisRange(GraphAxis::Value);
        EXPECT_FALSE(stored.automatic);
        EXPECT_DOUBLE_EQ(stored.minimum, c.stored.minimum) << c.set.minimum << ".." << c.set.maximum;
        EXPECT_DOUBLE_EQ(stored.maximum, c.stored.maximum) << c.set.minimum << ".." << c.set.maximum;
    }
}

TEST(GraphNavigation, EachButtonRunsItsOperation)
{
    struct Case {
        const char* name;
        std::function<QAbstractButton*(GraphPanel&)> button;
        std::function<void(GraphPanel&)> prepare;
        Range sample;
    };
    const auto fresh = [](GraphPanel&) {};
    const auto at40 = [](GraphPanel& g) { g.setAxisRange(GraphAxis::Sample, 40, 99); };
    const Case cases[] = {
        { "Zoom In", [](GraphPanel& g) { return g.zoomInButton(); }, fresh, { 11.8, 47.2 } },
        { "Zoom Out", [](GraphPanel& g) { return g.zoomOutButton(); }, fresh, { 0, 70.8 } },
        { "Reset Zoom", [](GraphPanel& g) { return g.resetZoomButton(); },
            [](GraphPanel& g) { addReadings(g, 0, 100); }, { 0, 99 } },
        { "scroll left", [](GraphPanel& g) { return g.scrollLeftButton(); }, at40, { 10, 69 } },
        { "scroll right", [](GraphPanel& g) { return g.scrollRightButton(); }, at40, { 70, 129 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto graph = shownGraph(GraphConfig::liveWindow());
        c.prepare(*graph);
        QTest::mouseClick(c.button(*graph), Qt::LeftButton);
        expectRange(graph->axisRange(GraphAxis::Sample), c.sample);
    }
}

TEST(GraphNavigation, ButtonStripCarriesTheLabels)
{
    const GraphPanel graph(GraphConfig::liveWindow());
    EXPECT_EQ(graph.printButton()->text(), QStringLiteral("Print Graph"));
    EXPECT_EQ(graph.zoomInButton()->text(), QStringLiteral("Zoom In"));
    EXPECT_EQ(graph.zoomOutButton()->text(), QStringLiteral("Zoom Out"));
    EXPECT_EQ(graph.resetZoomButton()->text(), QStringLiteral("Reset Zoom"));
    EXPECT_EQ(graph.scrollLeftButton()->arrowType(), Qt::LeftArrow);
    EXPECT_EQ(graph.scrollRightButton()->arrowType(), Qt::RightArrow);
}

// ---- what the chart is given

std::vector<QPointF> shownPoints(const GraphPanel& graph, int series)
{
    const QList<QPointF> points = graph.series(series)->points();
    return { points.begin(), points.end() };
}

TEST(GraphDrawing, ShowsTheVisibleReadingsAndTheirNeighbours)
{
    auto graph = shownGraph(GraphConfig::liveWindow());
    addReadings(*graph, 0, 100);
    graph->zoomIn(); // 40..99 becomes 51.8..87.2
    graph->flush();

    const auto points = shownPoints(*graph, 0);
    ASSERT_EQ(points.size(), 89u - 51u);
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(points[i].x(), 51.0 + static_cast<double>(i));
        EXPECT_EQ(points[i].y(), reading(51 + static_cast<qsizetype>(i)));
    }
    EXPECT_DOUBLE_EQ(graph->sampleAxis()->min(), 51.8);
    EXPECT_DOUBLE_EQ(graph->sampleAxis()->max(), 87.2);
    EXPECT_DOUBLE_EQ(graph->valueAxis()->min(), 0.0);
    EXPECT_DOUBLE_EQ(graph->valueAxis()->max(), 140.0);
}

TEST(GraphDrawing, LongRunsAreReducedToTheExtremesOfEachPixelColumn)
{
    auto graph = shownGraph(GraphConfig::analysisWindow());
    constexpr qsizetype count = 300'000;
    constexpr qsizetype spikeAt = 123'457;
    constexpr qsizetype dipAt = 77'777;
    for (qsizetype i = 0; i < count; ++i)
        graph->appendValue(2, i == spikeAt ? 139.5 : (i == dipAt ? 0.5 : reading(i)));
    graph->flush();

    const auto points = shownPoints(*graph, 2);
    const auto columns = static_cast<std::size_t>(std::lround(graph->chart()->plotArea().width()));
    ASSERT_GT(columns, 100u);
    EXPECT_LE(points.size(), 2 * columns + 2);
    EXPECT_GE(points.size(), columns / 2);
    bool spikeShown = false;
    bool dipShown = false;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto x = static_cast<qsizetype>(points[i].x());
        ASSERT_EQ(points[i].x(), static_cast<double>(x));
        ASSERT_EQ(points[i].y(), graph->values(2)[static_cast<std::size_t>(x)]) << "a reading, not a made-up point";
        if (i > 0) {
            ASSERT_GT(points[i].x(), points[i - 1].x());
        }
        spikeShown = spikeShown || x == spikeAt;
        dipShown = dipShown || x == dipAt;
    }
    EXPECT_TRUE(spikeShown);
    EXPECT_TRUE(dipShown);
    EXPECT_EQ(points.front().x(), 0.0) << "the line starts at the left edge";
    EXPECT_EQ(points.back().x(), static_cast<double>(count - 1)) << "and ends at the newest reading";
}

TEST(GraphDrawing, ReadingsReachTheChartAtTheNextEventLoopTurn)
{
    auto graph = shownGraph(GraphConfig::liveWindow());
    addReadings(*graph, 0, 10);
    QApplication::processEvents();
    EXPECT_EQ(graph->series(0)->count(), 10);
}

TEST(GraphDrawing, SuspendedGraphTakesPointsAndShowsThemWhenResumed)
{
    auto graph = shownGraph(GraphConfig::liveWindow());
    graph->setRepaintSuspended(true);
    addReadings(*graph, 0, 500);
    QApplication::processEvents();
    EXPECT_EQ(graph->series(0)->count(), 0);
    EXPECT_DOUBLE_EQ(graph->sampleAxis()->max(), 59.0);

    graph->setRepaintSuspended(false);
    EXPECT_EQ(graph->series(0)->count(), 60);
    EXPECT_EQ(graph->series(0)->at(0).x(), 440.0);
    EXPECT_DOUBLE_EQ(graph->sampleAxis()->min(), 440.0);
    EXPECT_DOUBLE_EQ(graph->sampleAxis()->max(), 499.0);
}

TEST(GraphDrawing, ClearStartsTheNextPointAtZero)
{
    auto graph = shownGraph(GraphConfig::liveWindow());
    addReadings(*graph, 0, 150);
    graph->clearAllSeries();
    graph->setAxisRange(GraphAxis::Sample, 0, 59);
    graph->appendValue(0, 65.3);
    graph->flush();
    EXPECT_EQ(graph->pointCount(0), 1);
    ASSERT_EQ(graph->series(0)->count(), 1);
    EXPECT_EQ(graph->series(0)->at(0), QPointF(0.0, 65.3));
    expectRange(graph->axisRange(GraphAxis::Sample), { 0, 59 });
}

TEST(GraphDrawing, FooterSitsLeftAlignedUnderThePlot)
{
    auto graph = shownGraph(GraphConfig::liveWindow());
    graph->setSampleAxisTitle(QStringLiteral("Samples"));
    QApplication::processEvents();
    const QRectF plotBefore = graph->chart()->plotArea();
    const QStringList lines
        = { QStringLiteral("          MAX:     71.2"), QStringLiteral("          Date:     1/2/2027") };
    graph->setFooterLines(lines);
    QApplication::processEvents();

    EXPECT_EQ(graph->footerLines(), lines);
    const QGraphicsSimpleTextItem* footer = graph->footerItem();
    ASSERT_TRUE(footer->isVisible());
    EXPECT_EQ(footer->text(), lines.join(QLatin1Char('\n')));
    const QRectF plot = graph->chart()->plotArea();
    const QRectF footerRect = footer->mapRectToItem(graph->chart(), footer->boundingRect());
    EXPECT_LT(plot.bottom(), plotBefore.bottom()) << "the plot made room";
    EXPECT_GT(footerRect.top(), plot.bottom());
    EXPECT_LE(footerRect.bottom(), graph->chart()->size().height());
    EXPECT_LT(footerRect.left(), plot.left());

    graph->clearFooter();
    QApplication::processEvents();
    EXPECT_FALSE(footer->isVisible());
    EXPECT_DOUBLE_EQ(graph->chart()->plotArea().bottom(), plotBefore.bottom());
}

// ---- printing

struct PdfPage {
    QSizeF points;
    QImage image; // at 72 dpi, one pixel per point
};

PdfPage readPdf(const QString& path)
{
    PdfPage page;
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), { path });
    if (!info.waitForFinished(30000))
        return page;
    const QString text = QString::fromUtf8(info.readAllStandardOutput());
    const auto match = QRegularExpression(QStringLiteral(R"(Page size:\s+([\d.]+) x ([\d.]+) pts)")).match(text);
    if (match.hasMatch())
        page.points = QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble());
    const QString prefix = path + QStringLiteral("-page");
    QProcess render;
    render.start(QStringLiteral("pdftoppm"),
        { QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-singlefile"), path,
            prefix });
    if (render.waitForFinished(60000))
        page.image = QImage(prefix + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
    return page;
}

class GraphPrinting : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // A portrait page of 850 x 1170 points at 72 dpi: one printer pixel per point, and margins
        // that fall on halves (5 % of 1170 and 5 % of 850), where rounding to even shows.
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setResolution(72);
        printer.setPageSize(QPageSize(QSizeF(850, 1170), QPageSize::Point, QString(), QPageSize::ExactMatch));
        printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
        printer.setPageOrientation(QPageLayout::Portrait);
        printer.setOutputFileName(dir.filePath(QStringLiteral("graph.pdf")));

        // Wide and low on screen, so a page that kept the aspect would leave most of its height empty.
        graph = shownGraph(GraphConfig::liveWindow(), QSize(1200, 300));
        graph->setTitle(QStringLiteral("SPL Graph Analyzing"), Qt::blue);
        graph->setValueAxisTitle(QStringLiteral("SPL  Unit: DB"));
        graph->setSeriesColor(0, Qt::red);
        graph->setFooterLines({ QStringLiteral("          MAX:     99.9") });
        // Painting the scene's background grey makes the printed rectangle measurable to the pixel.
        graph->chart()->scene()->setBackgroundBrush(QColor(200, 200, 200));
        addReadings(*graph, 0, 45);
    }

    QTemporaryDir dir;
    QPrinter printer { QPrinter::ScreenResolution };
    std::unique_ptr<GraphPanel> graph;
};

TEST_F(GraphPrinting, PrintsTheWholeChartStretchedIntoTheLandscapeRectangle)
{
    graph->setPrinterProvider([this]() -> QPrinter& { return printer; });
    QTest::mouseClick(graph->printButton(), Qt::LeftButton);
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Portrait) << "orientation restored";

    const PdfPage page = readPdf(printer.outputFileName());
    EXPECT_NEAR(page.points.width(), 1170, 0.5);
    EXPECT_NEAR(page.points.height(), 850, 0.5);
    ASSERT_EQ(page.image.size(), QSize(1170, 850));

    // left 58.5 -> 58, top 34, right 1170 - 46.8 -> 1123, bottom 850 - 42.5 -> 808.
    const QRect expected(QPoint(58, 34), QPoint(1122, 807));
    const QColor white(255, 255, 255);
    int strayOutside = 0;
    int whiteOnBorder = 0;
    int red = 0;
    int blue = 0;
    for (int y = 0; y < page.image.height(); ++y) {
        for (int x = 0; x < page.image.width(); ++x) {
            const QColor colour = page.image.pixelColor(x, y);
            const bool onBorder = expected.contains(x, y)
                && (x == expected.left() || x == expected.right() || y == expected.top() || y == expected.bottom());
            if (!expected.contains(x, y))
                strayOutside += colour != white;
            else if (onBorder)
                whiteOnBorder += colour == white;
            red += colour.red() > 200 && colour.green() < 80 && colour.blue() < 80;
            blue += colour.blue() > 200 && colour.red() < 80 && colour.green() < 80;
        }
    }
    EXPECT_EQ(strayOutside, 0);
    EXPECT_EQ(whiteOnBorder, 0) << "the grey background reaches every edge of the rectangle";
    EXPECT_GT(blue, 50) << "the title is drawn";
    EXPECT_GT(red, 500) << "the series is drawn";
}

TEST_F(GraphPrinting, FailureRestoresTheOrientationAndIsReported)
{
    printer.setOutputFileName(dir.filePath(QStringLiteral("no/such/folder/graph.pdf")));
    graph->setPrinterProvider([this]() -> QPrinter& { return printer; });
    QSignalSpy failed(graph.get(), &GraphPanel::printFailed);
    EXPECT_FALSE(graph->printGraph());
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Portrait);
}

TEST_F(GraphPrinting, WithoutAPrinterNothingIsPrinted)
{
    QSignalSpy failed(graph.get(), &GraphPanel::printFailed);
    EXPECT_FALSE(graph->printGraph());
    EXPECT_EQ(failed.count(), 1);
    EXPECT_FALSE(QFile::exists(printer.outputFileName()));
}

} // namespace
