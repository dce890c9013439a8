#pragma once

#include "widgets/AxisRange.h"
#include "widgets/SeriesStore.h"

#include <QColor>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QAbstractButton;
class QChart;
class QChartView;
class QGraphicsSimpleTextItem;
class QLineSeries;
class QPagedPaintDevice;
class QPrinter;
class QPushButton;
class QScrollBar;
class QToolButton;
class QValueAxis;

enum class GraphAxis { Value, Sample };

// How one window uses the graph. The live windows (measurement, import) plot one series that the
// sample axis follows and scroll in steps of 30 readings; the analysis window overlays ten files,
// lets the sample axis fit the data and scrolls by a tenth of what is shown.
struct GraphConfig {
    enum class Scroll {
        FixedStep, // 30 units per press, back to 0..59 at the left end
        Percentage // 10 % of the visible width per press, no end
    };

    int seriesCount = 1;
    bool followNewest = true;
    Scroll scroll = Scroll::FixedStep;
    // The series whose last point "Reset Zoom" shows.
    int resetSeries = 0;
    // When that series is too short for "Reset Zoom" (60 readings or fewer), it shows all the data
    // instead of doing nothing; the analysis window's first file may be a short one.
    bool resetShortSeriesToAllData = false;
    // Ranges set when the graph is made; an empty one leaves that axis automatic.
    std::optional<std::pair<double, double>> valueAxisAtStart;
    std::optional<std::pair<double, double>> sampleAxisAtStart;

    // Measurement and import windows: one series, 0..140 dB, the first 60 readings, following.
    static GraphConfig liveWindow();
    // Analysis window: ten series, 0..140 dB, sample axis fitted to the data, no following.
    static GraphConfig analysisWindow();
};

// A line graph of readings with the navigation strip under it ("Print Graph", "Zoom In",
// "Zoom Out", "Reset Zoom", scroll left, scroll right). A point's x is its index in its series.
//
// Runs of a million readings stay cheap: the readings live in this object's own arrays (appending
// is O(1)) and each chart series is handed only the visible part. Once that holds more readings
// than the plot has pixel columns, it is reduced to the lowest and highest reading of every stretch
// as wide as the line's pen, found from per-block summaries (SeriesStore), so a redraw costs about
// the same at a million readings as at a thousand. Rebuilding the chart series waits for the next
// turn of the event loop, so a burst of readings costs one rebuild; flush() does it at once.
//
// Our own AxisRange values are the truth about the axes; the chart's axes are set from them when the
// series are rebuilt. Every change of range goes through the operations below, which keep the
// automatic flags and the following consistent: the buttons, the mouse over the plot (the wheel zooms
// the sample axis about the pointer, a drag pans it) and the scroll bar under the plot, which spans
// all the readings so that a long run is crossed in a few pages or one drag of its thumb.
class GraphPanel : public QWidget {
    Q_OBJECT

public:
    using PrinterProvider = std::function<QPrinter&()>;

    // How far "Zoom In" (120) and "Zoom Out" (80) zoom, and the fixed value range they restore.
    static constexpr double ZoomInPercent = 120.0;
    static constexpr double ZoomOutPercent = 80.0;
    static constexpr double ValueAxisMinimum = 0.0;
    static constexpr double ValueAxisMaximum = 140.0;
    static constexpr double ScrollStep = 30.0;
    static constexpr double HomeMinimum = 0.0;
    static constexpr double HomeMaximum = 59.0;
    static constexpr double ScrollPercent = 10.0;

    explicit GraphPanel(GraphConfig config, QWidget* parent = nullptr);
    ~GraphPanel() override;

    const GraphConfig& config() const { return m_config; }

    // Looks.
    void setTitle(const QString& title, const QColor& colour = Qt::blue);
    QString title() const { return m_title; }
    void setValueAxisTitle(const QString& title);
    QString valueAxisTitle() const { return m_valueAxisTitle; }
    void setSampleAxisTitle(const QString& title);
    QString sampleAxisTitle() const { return m_sampleAxisTitle; }
    void setSeriesColor(int series, const QColor& colour);
    // The name the legend gives a series; a series without a name is left out of it.
    void setSeriesName(int series, const QString& name);
    QString seriesName(int series) const;
    // A legend at the right of the plot, with a line of its colour for each named series.
    void showLegend();
    // Left-aligned lines under the plot; they are printed with the graph.
    void setFooterLines(const QStringList& lines);
    QStringList footerLines() const { return m_footerLines; }
    void clearFooter() { setFooterLines({}); }

    // Data. A new point's x is the number of points its series already holds.
    void appendValue(int series, double value);
    void clearSeries(int series);
    void clearAllSeries();
    int seriesCount() const { return static_cast<int>(m_series.size()); }
    qsizetype pointCount(int series) const;
    // -1 for an empty series.
    qsizetype largestX(int series) const { return pointCount(series) - 1; }
    const std::vector<double>& values(int series) const;

    // Bulk loading: while suspended, added points and range changes reach the chart only when
    // the suspension ends, in one rebuild.
    void setRepaintSuspended(bool suspended);
    bool repaintSuspended() const { return m_suspended; }
    // Brings the chart series and axes up to date now rather than at the next event-loop turn.
    void flush();

    // Axes. For an automatic axis the range is the one the data give.
    AxisRange axisRange(GraphAxis axis) const;
    void setAxisRange(GraphAxis axis, double minimum, double maximum);

    // The buttons' operations.
    void zoomIn();
    void zoomOut();
    void resetZoom();
    void scrollLeft();
    void scrollRight();
    // Prints on the current printer; false, and printFailed(), when the page could not be printed.
    bool printGraph();
    // What "Print Graph" does; printGraph() while none is given.
    void setPrintCommand(std::function<void()> command) { m_printCommand = std::move(command); }

    // The building blocks the buttons use.
    void zoomByPercent(double percent);
    void HorizScroll(double percent);
    void ScrollAxis(GraphAxis axis, double percent);
    // The mouse's navigation: the sample axis zoomed by factor (below 1 nearer) about the reading x,
    // and panned by a number of readings. Neither moves the value axis or shows readings left of
    // the first one.
    static constexpr double WheelZoomFactor = 0.8;
    void zoomSampleAxisAbout(double x, double factor);
    void panSampleAxis(double readings);

    // One landscape page: the whole chart stretched into the page less margins of 5 % left, 4 % top,
    // 4 % right and 5 % bottom. The device's orientation is restored afterwards, also on failure.
    // A printer, or a PDF writer.
    bool printTo(QPagedPaintDevice& device);
    // The current printer, asked for at each "Print Graph".
    void setPrinterProvider(PrinterProvider provider) { m_printerProvider = std::move(provider); }

    QChart* chart() const { return m_chart; }
    QChartView* chartView() const { return m_view; }
    QLineSeries* series(int series) const;
    QValueAxis* valueAxis() const { return m_valueAxis; }
    QValueAxis* sampleAxis() const { return m_sampleAxis; }
    QGraphicsSimpleTextItem* footerItem() const { return m_footer; }
    QPushButton* printButton() const { return m_printButton; }
    QPushButton* zoomInButton() const { return m_zoomInButton; }
    QPushButton* zoomOutButton() const { return m_zoomOutButton; }
    QPushButton* resetZoomButton() const { return m_resetZoomButton; }
    QToolButton* scrollLeftButton() const { return m_scrollLeftButton; }
    QToolButton* scrollRightButton() const { return m_scrollRightButton; }
    QScrollBar* sampleScrollBar() const { return m_scrollBar; }

signals:
    void printFailed();

protected:
    // The wheel and the drag over the plot.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The chart is never shorter than its value axis's title or its legend's names need.
    void refreshSmallestHeight();
    struct SeriesData {
        QLineSeries* chartSeries = nullptr;
        SeriesStore store;
    };

    SeriesData& seriesData(int series);
    const SeriesData& seriesData(int series) const;
    AxisRange& storedAxis(GraphAxis axis) { return axis == GraphAxis::Value ? m_valueRange : m_sampleRange; }
    // The range the data give: x from 0 to the longest series' last index, y from lowest to highest.
    std::pair<double, double> dataRange(GraphAxis axis) const;
    // After each point added to a following graph: slide the sample axis one unit once the newest
    // point lies beyond its right end.
    void Series1AfterAdd(int series);
    bool isNearVisibleWindow(qsizetype index) const;
    void rangesChanged();
    void scheduleFlush();
    void pushAxisRanges();
    void rebuildSeries(SeriesData& data, const AxisRange& sample, int columns);
    int pixelColumns() const;
    void placeFooter();
    void buildButtonStrip();
    // The scroll bar's range, page and position from the sample axis and the data.
    void updateScrollBar();
    void scrollBarMoved(int position);

    GraphConfig m_config;
    AxisRange m_valueRange;
    AxisRange m_sampleRange;
    std::vector<SeriesData> m_series;
    QString m_title;
    QString m_valueAxisTitle;
    QString m_sampleAxisTitle;
    QStringList m_footerLines;
    bool m_suspended = false;
    bool m_seriesDirty = false;
    bool m_axesDirty = false;
    int m_columnsUsed = 0;
    QTimer m_flushTimer;
    PrinterProvider m_printerProvider;
    std::function<void()> m_printCommand;

    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QValueAxis* m_valueAxis = nullptr;
    QValueAxis* m_sampleAxis = nullptr;
    QGraphicsSimpleTextItem* m_footer = nullptr;
    int m_baseBottomMargin = 0;
    QPushButton* m_printButton = nullptr;
    QPushButton* m_zoomInButton = nullptr;
    QPushButton* m_zoomOutButton = nullptr;
    QPushButton* m_resetZoomButton = nullptr;
    QToolButton* m_scrollLeftButton = nullptr;
    QToolButton* m_scrollRightButton = nullptr;
    QScrollBar* m_scrollBar = nullptr;
    // While the left button drags the plot: where it was pressed, and the sample axis then.
    std::optional<QPointF> m_dragFrom;
    AxisRange m_dragStartRange;
};
