// The analysis window as a user reads it in the frame: a legend with the file names, several files
// chosen at once, text that stays readable on every file's colour, Reset Zoom on short files, and a
// long file crossed in a few steps; the mouse zooms and pans every graph.

#include "ProgramCopy.h"
#include "widgets/GraphPanel.h"
#include "widgets/ReadingGridView.h"

#include <QChart>
#include <QChartView>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMdiArea>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace {

using testing::ElementsAre;

// Readings from 60.0 dB on, a tenth apart.
QStringList Levels(int count)
{
    QStringList levels;
    for (int i = 0; i < count; ++i)
        levels << QStringLiteral("%1.%2").arg((600 + i % 400) / 10).arg((600 + i % 400) % 10);
    return levels;
}

// The names the legend shows, in its order.
QStringList LegendNames(const GraphPanel& graph)
{
    QStringList names;
    for (QLegendMarker* marker : graph.chart()->legend()->markers()) {
        if (marker->isVisible())
            names << marker->label();
    }
    return names;
}

struct AnalysisCopy {
    QTemporaryDir data;
    ProgramCopy copy { data.path(), true, {}, ProgramCopy::ImportWindow::Real, ProgramCopy::AnalysisWindow::Real };

    QString file(const QString& name, int readings)
    {
        return WriteReadings(copy.test.folder.filePath(name), Levels(readings));
    }
    // File > Open with these files chosen together in the dialog.
    void open(const QStringList& paths)
    {
        copy.test.ui.openFileNameLists.push_back(paths);
        copy.frame->Open1->trigger();
    }
};

// Several files chosen at once load in the dialog's order, each named in the legend beside its
// colour; past the tenth the usual message says so once, and the ten stay.
TEST(MainWindow, FilesChosenTogetherLoadInOrderUpToTenEachNamedInTheLegend)
{
    AnalysisCopy a;
    ASSERT_TRUE(a.copy.start());
    TForm6& m = a.copy.module();
    QStringList first;
    for (const char* name : { "monday.dmr", "tuesday.dmr", "wednesday.dmr" })
        first << a.file(name, 2);

    a.open(first);

    TForm7* window = a.copy.analysisWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(m.LoadedFileCount, 3);
    EXPECT_EQ(a.copy.test.ui.openDialogs.size(), 1U) << "one dialog for the three";
    EXPECT_EQ(window->FileEndRecNo(1), 3);
    EXPECT_EQ(window->FileEndRecNo(3), 7);
    EXPECT_THAT(LegendNames(*window->Graph()), ElementsAre("1. monday.dmr", "2. tuesday.dmr", "3. wednesday.dmr"));
    EXPECT_TRUE(window->Graph()->chart()->legend()->isVisible());

    QStringList eight;
    for (int i = 4; i <= 11; ++i)
        eight << a.file(QStringLiteral("day%1.dmr").arg(i), 1);
    a.open(eight);

    EXPECT_EQ(m.LoadedFileCount, 10);
    EXPECT_EQ(m.LoadData->rowCount(), 6 + 7);
    EXPECT_THAT(a.copy.messageTexts(),
        ElementsAre("Sorry, the current version only support to open \r10 reports at the same time."));
    const QStringList names = LegendNames(*window->Graph());
    ASSERT_EQ(names.size(), 10);
    EXPECT_EQ(names.last(), "10. day10.dmr");

    a.open({ a.file("more.dmr", 1) });
    EXPECT_EQ(a.copy.test.ui.openDialogs.size(), 2U) << "ten loaded: no dialog";
    EXPECT_EQ(a.copy.test.ui.messages.size(), 2U);
}

// How far apart a text colour and its background read (WCAG's contrast ratio, 1 to 21).
double Contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double channel) {
            return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
    };
    const double first = luminance(a);
    const double second = luminance(b);
    const double light = std::max(first, second);
    const double dark = std::min(first, second);
    return (light + 0.05) / (dark + 0.05);
}

// The colours stay (file 8 apart from the grid's background); the text on each file's rows is
// white where white reads and black on the pale green and yellow of files 9 and 10. File 6 takes
// the style's button shadow, whose shade the style chooses: white on it where white keeps a
// contrast of 3:1, else black.
TEST(MainWindow, EveryFilesRowsAreReadableAndTheEighthStandsApartFromTheGrid)
{
    AnalysisCopy a;
    ASSERT_TRUE(a.copy.start());
    a.copy.frame->resize(1000, 700);
    a.copy.frame->show();
    QStringList files;
    for (int i = 1; i <= 10; ++i)
        files << a.file(QStringLiteral("f%1.dmr").arg(i), 1);
    a.open(files);
    TForm7* window = a.copy.analysisWindow();
    ReadingGridView* grid = window->findChild<ReadingGridView*>("DBGrid1");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(a.copy.frame.get()));
    grid->clearSelection();
    grid->setCurrentIndex({});
    // The pointer below the rows: a row under it would be drawn in the hover colour.
    QTest::mouseMove(grid->viewport(), grid->viewport()->rect().bottomRight() - QPoint(1, 1));
    const QImage image = grid->viewport()->grab().toImage();

    const QColor background = grid->palette().color(QPalette::Base);
    EXPECT_NE(window->FileColour(8), background);
    for (int file = 1; file <= 10; ++file) {
        SCOPED_TRACE(file);
        const QColor fill = window->FileColour(file);
        const bool dark = file == 6 ? Contrast(fill, Qt::white) >= 3 : file <= 8;
        // The MeaValue cell of the file's one row: its own colour, and text of the readable colour.
        const QRect cell = grid->visualRect(grid->model()->index(file - 1, 1));
        int fillPixels = 0;
        int textPixels = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            for (int x = cell.left(); x <= cell.right(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                // Compared at the image's eight bits a channel: a style may reckon its shades finer
                // (Fusion's button shadow is 159.3 grey), and a pixel cannot hold that.
                fillPixels += pixel.rgb() == fill.rgb();
                // Near the text's colour: the edges of the letters are smoothed into the fill.
                const int lightest = std::max({ pixel.red(), pixel.green(), pixel.blue() });
                const int darkest = std::min({ pixel.red(), pixel.green(), pixel.blue() });
                textPixels += dark ? darkest >= 235 : lightest <= 40;
            }
        }
        EXPECT_GT(fillPixels, cell.width() * cell.height() / 2);
        EXPECT_GT(textPixels, 5) << (dark ? "white" : "black") << " text";
    }
}

// Reset Zoom shows all the readings also when the first file is short; on a long file the scroll
// bar under the graph crosses it page by page, and the arrows held down keep scrolling.
TEST(MainWindow, ResetZoomWorksForShortFilesAndALongFileIsCrossedInPages)
{
    AnalysisCopy a;
    ASSERT_TRUE(a.copy.start());
    a.copy.frame->show();
    a.open({ a.file("short.dmr", 30), a.file("longer.dmr", 45) });
    GraphPanel* graph = a.copy.analysisWindow()->Graph();
    QTest::mouseClick(graph->zoomInButton(), Qt::LeftButton);
    QTest::mouseClick(graph->zoomInButton(), Qt::LeftButton);
    ASSERT_LT(graph->axisRange(GraphAxis::Sample).width(), 20);

    QTest::mouseClick(graph->resetZoomButton(), Qt::LeftButton);

    EXPECT_DOUBLE_EQ(graph->axisRange(GraphAxis::Sample).minimum, 0);
    EXPECT_DOUBLE_EQ(graph->axisRange(GraphAxis::Sample).maximum, 44);
    EXPECT_DOUBLE_EQ(graph->axisRange(GraphAxis::Value).maximum, 140);

    // A long file, a twentieth of it on show: twenty pages of the scroll bar cross it.
    a.open({ a.file("long.dmr", 20000) });
    graph->setAxisRange(GraphAxis::Sample, 0, 1000);
    graph->flush();
    QScrollBar* bar = graph->sampleScrollBar();
    ASSERT_TRUE(bar->isEnabled());
    int pages = 0;
    while (graph->axisRange(GraphAxis::Sample).maximum < 19999 && pages < 100) {
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        graph->flush();
        ++pages;
    }
    EXPECT_EQ(pages, 19);
    EXPECT_DOUBLE_EQ(graph->axisRange(GraphAxis::Sample).width(), 1000);
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_DOUBLE_EQ(graph->axisRange(GraphAxis::Sample).minimum, 0);
    EXPECT_TRUE(graph->scrollRightButton()->autoRepeat());
    EXPECT_TRUE(graph->scrollLeftButton()->autoRepeat());
}

QMdiSubWindow* SubWindowOf(QWidget* widget)
{
    while (widget && !qobject_cast<QMdiSubWindow*>(widget))
        widget = widget->parentWidget();
    return qobject_cast<QMdiSubWindow*>(widget);
}

// The point of the plot where the reading x is drawn, in the chart view's viewport.
QPoint PlotPointAt(const GraphPanel& graph, double x)
{
    const QPointF inChart = graph.chart()->mapToPosition(QPointF(x, 70), graph.series(0));
    return graph.chartView()->mapFromScene(graph.chart()->mapToScene(inChart));
}

// On the measurement, import and analysis windows' graphs alike, the wheel zooms the sample axis
// about the reading under the pointer and a drag pans it; the value axis stays at 0..140.
TEST(MainWindow, TheWheelZoomsAndADragPansEveryGraph)
{
    AnalysisCopy a;
    ASSERT_TRUE(a.copy.start());
    a.copy.frame->resize(1000, 700);
    a.copy.frame->show();
    a.open({ a.file("run.dmr", 200) });
    a.copy.frame->RealTimeMeasure1->trigger();
    a.copy.frame->ImportData1->trigger();
    auto* import = qobject_cast<TForm4*>(a.copy.module().ImportWindow.data());
    ASSERT_NE(import, nullptr);
    struct Case {
        const char* window;
        GraphPanel* graph;
    };
    const Case cases[] = {
        { "measurement", a.copy.measurementWindow()->Graph() },
        { "import", import->findChild<GraphPanel*>("Chart1") },
        { "analysis", a.copy.analysisWindow()->Graph() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window);
        GraphPanel* graph = c.graph;
        QMdiSubWindow* sub = SubWindowOf(graph);
        ASSERT_NE(sub, nullptr);
        a.copy.frame->MdiArea()->setActiveSubWindow(sub);
        sub->showMaximized();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(graph->chartView()));
        graph->setAxisRange(GraphAxis::Sample, 20, 120);
        graph->flush();
        QWidget* plot = graph->chartView()->viewport();

        const QPoint at70 = PlotPointAt(*graph, 70);
        QWheelEvent wheel(QPointF(at70), plot->mapToGlobal(QPointF(at70)), {}, QPoint(0, 120), Qt::NoButton, {},
            Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(plot, &wheel);
        AxisRange sample = graph->axisRange(GraphAxis::Sample);
        EXPECT_NEAR(sample.width(), 80, 1);
        EXPECT_NEAR(sample.minimum, 70 - 0.8 * 50, 1) << "the reading under the pointer stays there";

        // Dragged to the left by a quarter of the plot: later readings come into view.
        graph->flush();
        const double before = graph->axisRange(GraphAxis::Sample).minimum;
        const int quarter = int(graph->chart()->plotArea().width() / 4);
        QTest::mousePress(plot, Qt::LeftButton, {}, at70);
        QTest::mouseMove(plot, at70 - QPoint(quarter, 0));
        QTest::mouseRelease(plot, Qt::LeftButton, {}, at70 - QPoint(quarter, 0));
        sample = graph->axisRange(GraphAxis::Sample);
        EXPECT_NEAR(sample.minimum - before, 20, 1.5);
        EXPECT_NEAR(sample.width(), 80, 1);
        EXPECT_DOUBLE_EQ(graph->axisRange(GraphAxis::Value).minimum, 0);
        EXPECT_DOUBLE_EQ(graph->axisRange(GraphAxis::Value).maximum, 140);
    }
}

} // namespace
