#include "widgets/GraphPanel.h"

#include "widgets/Rounding.h"

#include <QChart>
#include <QChartView>
#include <QFontMetrics>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <iterator>
#include <stdexcept>

namespace {

constexpr int ButtonStripHeight = 31;
constexpr int FooterGap = 4;
// Used for decimation until the chart has been laid out and knows its plot width.
constexpr int DefaultPixelColumns = 1000;
// "Reset Zoom" acts only on a run longer than the first screen of readings.
constexpr double ResetFromLargestX = 60.0;
// The mouse zooms no nearer than this many readings across the plot.
constexpr double NearestMouseZoom = 2.0;
// The chart's smallest size: room for a plot with its tick labels, and, beside the length of the
// value axis's title, for the chart's title and the sample axis under the plot; the legend's width.
constexpr int SmallestPlotWidth = 300;
constexpr int SmallestChartHeight = 220;
constexpr int RoomAroundAxisTitle = 120;
constexpr int LegendWidth = 170;
// A legend's row is its text with a few pixels between rows; above and below the legend the chart
// keeps its title and margins. A legend that does not fit cuts off the names at its foot.
constexpr int LegendRowSpacing = 8;
constexpr int RoomAroundLegend = 100;

// About eight labelled ticks, at 1, 2 or 5 times a power of ten.
double niceTickInterval(double width)
{
    const double raw = width / 8.0;
    if (!(raw > 0.0) || !std::isfinite(raw))
        return 1.0;
    const double base = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / base;
    double step = 10.0;
    if (fraction <= 1.0)
        step = 1.0;
    else if (fraction <= 2.0)
        step = 2.0;
    else if (fraction <= 5.0)
        step = 5.0;
    return step * base;
}

QString labelFormatFor(double tickInterval)
{
    if (tickInterval >= 1.0)
        return QStringLiteral("%.0f");
    const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(tickInterval))), 1, 12);
    return QStringLiteral("%.%1f").arg(decimals);
}

// Chart and axis titles are laid out as rich text, which would fold the program's runs of blanks
// ("SPL  Unit: DB") into one; non-breaking spaces keep them.
QString keepBlanks(const QString& plain)
{
    return plain.toHtmlEscaped().replace(QLatin1Char(' '), QChar(0x00A0));
}

// Puts a printer back into the orientation it had, however printing ends.
// Lays a chart out at another size for as long as it lives, and back at the size it had.
class ChartSizeRestorer {
public:
    ChartSizeRestorer(QChart& chart, const QSizeF& size)
        : m_chart(chart)
        , m_size(chart.size())
    {
        layOut(size);
    }
    ~ChartSizeRestorer() { layOut(m_size); }
    ChartSizeRestorer(const ChartSizeRestorer&) = delete;
    ChartSizeRestorer& operator=(const ChartSizeRestorer&) = delete;

private:
    void layOut(const QSizeF& size)
    {
        m_chart.resize(size);
        if (QGraphicsLayout* layout = m_chart.layout())
            layout->activate();
    }

    QChart& m_chart;
    QSizeF m_size;
};

class OrientationRestorer {
public:
    explicit OrientationRestorer(QPagedPaintDevice& device)
        : m_device(device)
        , m_orientation(device.pageLayout().orientation())
    {
    }
    ~OrientationRestorer() { m_device.setPageOrientation(m_orientation); }
    OrientationRestorer(const OrientationRestorer&) = delete;
    OrientationRestorer& operator=(const OrientationRestorer&) = delete;

private:
    QPagedPaintDevice& m_device;
    QPageLayout::Orientation m_orientation;
};

// The least width, in the chart's own pixels, a graph is laid out at for printing.
constexpr qreal PrintedChartWidth = 1000;

} // namespace

GraphConfig GraphConfig::liveWindow()
{
    GraphConfig config;
    config.seriesCount = 1;
    config.followNewest = true;
    config.scroll = Scroll::FixedStep;
    config.resetSeries = 0;
    config.valueAxisAtStart = { GraphPanel::ValueAxisMinimum, GraphPanel::ValueAxisMaximum };
    config.sampleAxisAtStart = { GraphPanel::HomeMinimum, GraphPanel::HomeMaximum };
    return config;
}

GraphConfig GraphConfig::analysisWindow()
{
    GraphConfig config;
    config.seriesCount = 10;
    config.followNewest = false;
    config.scroll = Scroll::Percentage;
    config.resetSeries = 0;
    config.resetShortSeriesToAllData = true;
    config.valueAxisAtStart = { GraphPanel::ValueAxisMinimum, GraphPanel::ValueAxisMaximum };
    config.sampleAxisAtStart.reset();
    return config;
}

GraphPanel::GraphPanel(GraphConfig config, QWidget* parent)
    : QWidget(parent)
    , m_config(std::move(config))
{
    if (m_config.seriesCount < 1)
        throw std::invalid_argument("a graph needs at least one series");
    m_config.resetSeries = std::clamp(m_config.resetSeries, 0, m_config.seriesCount - 1);

    m_chart = new QChart();
    m_chart->legend()->hide();
    m_valueAxis = new QValueAxis(m_chart);
    m_sampleAxis = new QValueAxis(m_chart);
    for (QValueAxis* axis : { m_valueAxis, m_sampleAxis }) {
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickAnchor(0.0);
        // A short plot (a tiled window) would turn its tick labels into "..."; a number stays whole.
        axis->setTruncateLabels(false);
    }
    m_chart->addAxis(m_valueAxis, Qt::AlignLeft);
    m_chart->addAxis(m_sampleAxis, Qt::AlignBottom);

    m_series.resize(static_cast<std::size_t>(m_config.seriesCount));
    for (SeriesData& data : m_series) {
        data.chartSeries = new QLineSeries(m_chart);
        m_chart->addSeries(data.chartSeries);
        data.chartSeries->attachAxis(m_sampleAxis);
        data.chartSeries->attachAxis(m_valueAxis);
    }

    m_footer = new QGraphicsSimpleTextItem(m_chart);
    m_footer->setBrush(Qt::black);
    m_footer->hide();
    m_baseBottomMargin = m_chart->margins().bottom();

    m_view = new QChartView(m_chart, this);
    m_view->setRenderHint(QPainter::Antialiasing, false);
    // The chart's own rubber band would change its axes behind our ranges; the mouse goes through
    // eventFilter instead.
    m_view->setRubberBand(QChartView::NoRubberBand);
    m_view->setInteractive(false);
    m_view->viewport()->installEventFilter(this);
    m_view->viewport()->setCursor(Qt::OpenHandCursor);
    // However small the window, the axes keep their labels and titles whole.
    m_view->setMinimumSize(SmallestPlotWidth, SmallestChartHeight);

    m_scrollBar = new QScrollBar(Qt::Horizontal, this);
    m_scrollBar->setObjectName(QStringLiteral("SampleScrollBar"));
    connect(m_scrollBar, &QScrollBar::valueChanged, this, &GraphPanel::scrollBarMoved);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_scrollBar);
    buildButtonStrip();

    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, &GraphPanel::flush);
    connect(m_chart, &QChart::plotAreaChanged, this, [this] {
        // A new plot width changes the decimation; a rebuild with an unchanged width would be wasted.
        if (pixelColumns() != m_columnsUsed) {
            m_seriesDirty = true;
            scheduleFlush();
        }
    });
    connect(m_chart, &QChart::geometryChanged, this, &GraphPanel::placeFooter);

    if (m_config.valueAxisAtStart)
        m_valueRange.set(m_config.valueAxisAtStart->first, m_config.valueAxisAtStart->second);
    if (m_config.sampleAxisAtStart)
        m_sampleRange.set(m_config.sampleAxisAtStart->first, m_config.sampleAxisAtStart->second);
    m_axesDirty = true;
    m_seriesDirty = true;
    flush();
}

GraphPanel::~GraphPanel()
{
    // The chart outlives this object's members (it goes with the child widgets), so it must not
    // reach the handlers above while it is being taken down.
    m_chart->disconnect(this);
}

void GraphPanel::buildButtonStrip()
{
    auto* strip = new QWidget(this);
    strip->setObjectName(QStringLiteral("GraphButtonStrip"));
    strip->setFixedHeight(ButtonStripHeight);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(4, 2, 4, 2);

    const auto makeButton = [strip, row](const QString& text, const QString& name) {
        auto* button = new QPushButton(text, strip);
        button->setObjectName(name);
        row->addWidget(button);
        return button;
    };
    m_printButton = makeButton(QStringLiteral("Print Graph"), QStringLiteral("PrintGraphButton"));
    m_zoomInButton = makeButton(QStringLiteral("Zoom In"), QStringLiteral("ZoomInButton"));
    m_zoomOutButton = makeButton(QStringLiteral("Zoom Out"), QStringLiteral("ZoomOutButton"));
    m_resetZoomButton = makeButton(QStringLiteral("Reset Zoom"), QStringLiteral("ResetZoomButton"));

    const auto makeArrow = [strip, row](Qt::ArrowType arrow, const QString& name, const QString& tip) {
        auto* button = new QToolButton(strip);
        button->setArrowType(arrow);
        button->setObjectName(name);
        // Held down, it keeps scrolling.
        button->setAutoRepeat(true);
        button->setToolTip(tip);
        row->addWidget(button);
        return button;
    };
    m_scrollLeftButton = makeArrow(Qt::LeftArrow, QStringLiteral("ScrollLeftButton"), tr("Scroll left"));
    m_scrollRightButton = makeArrow(Qt::RightArrow, QStringLiteral("ScrollRightButton"), tr("Scroll right"));
    row->addStretch(1);

    connect(m_printButton, &QPushButton::clicked, this, [this] {
        if (m_printCommand)
            m_printCommand();
        else
            printGraph();
    });
    connect(m_zoomInButton, &QPushButton::clicked, this, &GraphPanel::zoomIn);
    connect(m_zoomOutButton, &QPushButton::clicked, this, &GraphPanel::zoomOut);
    connect(m_resetZoomButton, &QPushButton::clicked, this, &GraphPanel::resetZoom);
    connect(m_scrollLeftButton, &QToolButton::clicked, this, &GraphPanel::scrollLeft);
    connect(m_scrollRightButton, &QToolButton::clicked, this, &GraphPanel::scrollRight);

    layout()->addWidget(strip);
}

// ---- looks

void GraphPanel::setTitle(const QString& title, const QColor& colour)
{
    m_title = title;
    m_chart->setTitle(keepBlanks(title));
    m_chart->setTitleBrush(colour);
}

void GraphPanel::setValueAxisTitle(const QString& title)
{
    m_valueAxisTitle = title;
    m_valueAxis->setTitleText(keepBlanks(title));
    refreshSmallestHeight();
}

void GraphPanel::refreshSmallestHeight()
{
    // The title stands along the axis: the plot must be as tall as the title is long.
    const int titleLength = QFontMetrics(m_valueAxis->titleFont()).horizontalAdvance(m_valueAxisTitle);
    int smallest = std::max(SmallestChartHeight, titleLength + RoomAroundAxisTitle);
    const QLegend* legend = m_chart->legend();
    if (legend->isVisible()) {
        const auto named = std::count_if(m_series.begin(), m_series.end(),
            [](const SeriesData& data) { return !data.chartSeries->name().isEmpty(); });
        const int row = QFontMetrics(legend->font()).height() + LegendRowSpacing;
        smallest = std::max(smallest, static_cast<int>(named) * row + RoomAroundLegend);
    }
    m_view->setMinimumHeight(smallest);
}

void GraphPanel::setSampleAxisTitle(const QString& title)
{
    m_sampleAxisTitle = title;
    m_sampleAxis->setTitleText(keepBlanks(title));
}

void GraphPanel::setSeriesColor(int series, const QColor& colour)
{
    seriesData(series).chartSeries->setColor(colour);
}

void GraphPanel::setSeriesName(int series, const QString& name)
{
    QLineSeries* line = seriesData(series).chartSeries;
    line->setName(name);
    for (QLegendMarker* marker : m_chart->legend()->markers(line))
        marker->setVisible(!name.isEmpty());
    refreshSmallestHeight();
}

QString GraphPanel::seriesName(int series) const
{
    return seriesData(series).chartSeries->name();
}

void GraphPanel::showLegend()
{
    QLegend* legend = m_chart->legend();
    legend->setAlignment(Qt::AlignRight);
    legend->show();
    m_view->setMinimumWidth(SmallestPlotWidth + LegendWidth);
    for (const SeriesData& data : m_series) {
        for (QLegendMarker* marker : legend->markers(data.chartSeries))
            marker->setVisible(!data.chartSeries->name().isEmpty());
    }
    refreshSmallestHeight();
}

void GraphPanel::setFooterLines(const QStringList& lines)
{
    if (lines == m_footerLines)
        return;
    const bool heightChanges = lines.size() != m_footerLines.size();
    m_footerLines = lines;
    m_footer->setText(m_footerLines.join(QLatin1Char('\n')));
    m_footer->setVisible(!m_footerLines.isEmpty());
    if (heightChanges) {
        // Room for the footer under the axis title; the chart lays out its plot above it.
        QMargins margins = m_chart->margins();
        const int footerHeight
            = m_footerLines.isEmpty() ? 0 : static_cast<int>(std::ceil(m_footer->boundingRect().height())) + FooterGap;
        margins.setBottom(m_baseBottomMargin + footerHeight);
        m_chart->setMargins(margins);
    }
    placeFooter();
}

void GraphPanel::placeFooter()
{
    if (m_footerLines.isEmpty())
        return;
    const QMargins margins = m_chart->margins();
    const qreal top = m_chart->size().height() - margins.bottom() + FooterGap;
    m_footer->setPos(margins.left(), top);
}

// ---- data

GraphPanel::SeriesData& GraphPanel::seriesData(int series)
{
    return m_series.at(static_cast<std::size_t>(series));
}

const GraphPanel::SeriesData& GraphPanel::seriesData(int series) const
{
    return m_series.at(static_cast<std::size_t>(series));
}

QLineSeries* GraphPanel::series(int series) const
{
    return seriesData(series).chartSeries;
}

qsizetype GraphPanel::pointCount(int series) const
{
    return static_cast<qsizetype>(seriesData(series).store.size());
}

const std::vector<double>& GraphPanel::values(int series) const
{
    return seriesData(series).store.values();
}

void GraphPanel::appendValue(int series, double value)
{
    SeriesStore& store = seriesData(series).store;
    const bool dataRangeChanged = store.empty() || value < store.lowest() || value > store.highest();
    store.append(value);
    const auto index = static_cast<qsizetype>(store.size()) - 1;

    if (m_config.followNewest)
        Series1AfterAdd(series);
    if (m_sampleRange.automatic || (m_valueRange.automatic && dataRangeChanged))
        m_axesDirty = true;
    // A point far outside the shown window changes nothing on screen.
    if (m_axesDirty || isNearVisibleWindow(index)) {
        m_seriesDirty = true;
        scheduleFlush();
    }
}

void GraphPanel::Series1AfterAdd(int series)
{
    const AxisRange sample = axisRange(GraphAxis::Sample);
    if (static_cast<double>(largestX(series)) > sample.maximum) {
        // The maximum moves first so the minimum never passes it.
        m_sampleRange.automatic = false;
        m_sampleRange.maximum = sample.maximum + 1.0;
        m_sampleRange.minimum = sample.minimum + 1.0;
        m_axesDirty = true;
    }
}

bool GraphPanel::isNearVisibleWindow(qsizetype index) const
{
    const AxisRange sample = axisRange(GraphAxis::Sample);
    const auto x = static_cast<double>(index);
    // The points just outside either end are drawn too: the line runs on to the plot's edge.
    return x >= std::floor(sample.minimum) && x <= std::ceil(sample.maximum);
}

void GraphPanel::clearSeries(int series)
{
    seriesData(series).store.clear();
    rangesChanged();
}

void GraphPanel::clearAllSeries()
{
    for (int series = 0; series < seriesCount(); ++series)
        clearSeries(series);
}

// ---- updating the chart

void GraphPanel::setRepaintSuspended(bool suspended)
{
    if (suspended == m_suspended)
        return;
    m_suspended = suspended;
    if (m_suspended)
        m_flushTimer.stop();
    else
        flush();
}

void GraphPanel::scheduleFlush()
{
    if (!m_suspended && !m_flushTimer.isActive())
        m_flushTimer.start();
}

void GraphPanel::rangesChanged()
{
    m_axesDirty = true;
    m_seriesDirty = true;
    scheduleFlush();
}

void GraphPanel::flush()
{
    m_flushTimer.stop();
    if (m_axesDirty) {
        m_axesDirty = false;
        pushAxisRanges();
    }
    if (m_seriesDirty) {
        m_seriesDirty = false;
        const int columns = pixelColumns();
        const AxisRange sample = axisRange(GraphAxis::Sample);
        for (SeriesData& data : m_series)
            rebuildSeries(data, sample, columns);
        m_columnsUsed = columns;
    }
    updateScrollBar();
}

void GraphPanel::updateScrollBar()
{
    const AxisRange sample = axisRange(GraphAxis::Sample);
    qsizetype last = -1;
    for (int series = 0; series < seriesCount(); ++series)
        last = std::max(last, largestX(series));
    const double width = sample.width();
    const auto position = static_cast<int>(std::clamp(std::round(sample.minimum), double(INT_MIN), double(INT_MAX)));
    // From the first reading (or the left end shown, left of it) to where the last reading stands
    // at the right edge (or the right end shown, beyond it).
    const double lastStart = std::clamp(std::round(static_cast<double>(last) - width), 0.0, double(INT_MAX));
    const QSignalBlocker quiet(m_scrollBar);
    m_scrollBar->setRange(std::min(0, position), std::max(position, static_cast<int>(lastStart)));
    m_scrollBar->setPageStep(static_cast<int>(std::clamp(std::round(width), 1.0, double(INT_MAX))));
    m_scrollBar->setSingleStep(static_cast<int>(std::clamp(std::round(width / 10.0), 1.0, double(INT_MAX))));
    m_scrollBar->setValue(position);
    m_scrollBar->setEnabled(m_scrollBar->maximum() > m_scrollBar->minimum());
}

void GraphPanel::scrollBarMoved(int position)
{
    const AxisRange sample = axisRange(GraphAxis::Sample);
    setAxisRange(GraphAxis::Sample, position, position + sample.width());
}

void GraphPanel::pushAxisRanges()
{
    for (const GraphAxis which : { GraphAxis::Value, GraphAxis::Sample }) {
        const AxisRange range = axisRange(which);
        QValueAxis* axis = which == GraphAxis::Value ? m_valueAxis : m_sampleAxis;
        double maximum = range.maximum;
        // Data of a single x or y give an automatic axis no width; show one unit from there.
        if (range.width() < AxisRange::MinimumWidth)
            maximum = range.minimum + 1.0;
        const double interval = niceTickInterval(maximum - range.minimum);
        axis->setTickInterval(interval);
        axis->setLabelFormat(labelFormatFor(interval));
        axis->setRange(range.minimum, maximum);
    }
}

int GraphPanel::pixelColumns() const
{
    const int width = roundHalfEven(m_chart->plotArea().width());
    return width > 0 ? width : DefaultPixelColumns;
}

void GraphPanel::rebuildSeries(SeriesData& data, const AxisRange& sample, int columns)
{
    const SeriesStore& store = data.store;
    QList<QPointF> points;
    if (!store.empty()) {
        const auto last = static_cast<double>(store.size() - 1);
        const auto first = static_cast<std::size_t>(std::clamp(std::floor(sample.minimum), 0.0, last));
        const auto end = static_cast<std::size_t>(std::clamp(std::ceil(sample.maximum), 0.0, last)) + 1;
        const std::size_t shown = end - first;
        const auto columnCount = static_cast<std::size_t>(columns);
        const std::vector<double>& values = store.values();
        const auto point = [&values](std::size_t i) { return QPointF(static_cast<double>(i), values[i]); };
        if (shown <= columnCount) {
            points.reserve(static_cast<qsizetype>(shown));
            for (std::size_t i = first; i < end; ++i)
                points.append(point(i));
        } else {
            // The lowest and highest reading of every stretch as wide as the line, in the order
            // they came, keep every peak and dip of a long run visible. Finer stretches would not
            // show (the pen already covers them) and would cost: the chart's work per point
            // (stroking the path for hit-testing) is what a whole-run redraw spends its time on.
            // The first and the last reading are kept too, so the line spans the whole window.
            const auto penWidth
                = static_cast<std::size_t>(std::max(1, roundHalfEven(data.chartSeries->pen().widthF())));
            const std::size_t buckets = std::max<std::size_t>(columnCount / penWidth, 1);
            points.reserve(2 * static_cast<qsizetype>(buckets) + 2);
            for (std::size_t bucket = 0; bucket < buckets; ++bucket) {
                const std::size_t from = first + bucket * shown / buckets;
                const std::size_t to = first + (bucket + 1) * shown / buckets;
                const SeriesStore::Extremes extremes = store.extremes(from, to);
                std::array<std::size_t, 4> picked = { extremes.lowAt, extremes.highAt,
                    bucket == 0 ? from : extremes.lowAt, bucket == buckets - 1 ? to - 1 : extremes.highAt };
                std::sort(picked.begin(), picked.end());
                const auto distinct = std::distance(picked.begin(), std::unique(picked.begin(), picked.end()));
                for (std::ptrdiff_t k = 0; k < distinct; ++k)
                    points.append(point(picked.at(static_cast<std::size_t>(k))));
            }
        }
    }
    data.chartSeries->replace(points);
}

// ---- axes

std::pair<double, double> GraphPanel::dataRange(GraphAxis axis) const
{
    bool any = false;
    double low = 0.0;
    double high = 0.0;
    for (const SeriesData& data : m_series) {
        const SeriesStore& store = data.store;
        if (store.empty())
            continue;
        const double seriesLow = axis == GraphAxis::Value ? store.lowest() : 0.0;
        const double seriesHigh = axis == GraphAxis::Value ? store.highest() : static_cast<double>(store.size() - 1);
        low = any ? std::min(low, seriesLow) : seriesLow;
        high = any ? std::max(high, seriesHigh) : seriesHigh;
        any = true;
    }
    return { low, high };
}

AxisRange GraphPanel::axisRange(GraphAxis axis) const
{
    AxisRange range = axis == GraphAxis::Value ? m_valueRange : m_sampleRange;
    if (range.automatic)
        std::tie(range.minimum, range.maximum) = dataRange(axis);
    return range;
}

void GraphPanel::setAxisRange(GraphAxis axis, double minimum, double maximum)
{
    storedAxis(axis).set(minimum, maximum);
    rangesChanged();
}

// ---- navigation

void GraphPanel::zoomByPercent(double percent)
{
    for (const GraphAxis axis : { GraphAxis::Value, GraphAxis::Sample }) {
        const AxisRange range = axisRange(axis);
        const double shrink = (range.maximum - range.minimum) * (percent - 100.0) * 0.01;
        storedAxis(axis).set(range.minimum + shrink, range.maximum - shrink);
    }
    rangesChanged();
}

void GraphPanel::zoomIn()
{
    zoomByPercent(ZoomInPercent);
    setAxisRange(GraphAxis::Value, ValueAxisMinimum, ValueAxisMaximum);
}

void GraphPanel::zoomOut()
{
    zoomByPercent(ZoomOutPercent);
    setAxisRange(GraphAxis::Value, ValueAxisMinimum, ValueAxisMaximum);
    const AxisRange sample = axisRange(GraphAxis::Sample);
    // There are no readings left of the first one.
    if (sample.minimum < 0.0)
        setAxisRange(GraphAxis::Sample, 0.0, sample.maximum);
}

void GraphPanel::resetZoom()
{
    const qsizetype last = largestX(m_config.resetSeries);
    if (static_cast<double>(last) > ResetFromLargestX) {
        setAxisRange(GraphAxis::Sample, 0.0, static_cast<double>(last));
        return;
    }
    if (!m_config.resetShortSeriesToAllData)
        return;
    qsizetype longest = -1;
    for (int series = 0; series < seriesCount(); ++series)
        longest = std::max(longest, largestX(series));
    // A single reading still gets an axis one reading wide.
    if (longest >= 0)
        setAxisRange(GraphAxis::Sample, 0.0, std::max(static_cast<double>(longest), 1.0));
}

void GraphPanel::scrollLeft()
{
    if (m_config.scroll == GraphConfig::Scroll::Percentage) {
        HorizScroll(-ScrollPercent);
        return;
    }
    const AxisRange sample = axisRange(GraphAxis::Sample);
    if (sample.minimum - ScrollStep >= 0.0)
        setAxisRange(GraphAxis::Sample, sample.minimum - ScrollStep, sample.maximum - ScrollStep);
    else
        setAxisRange(GraphAxis::Sample, HomeMinimum, HomeMaximum);
}

void GraphPanel::scrollRight()
{
    if (m_config.scroll == GraphConfig::Scroll::Percentage) {
        HorizScroll(ScrollPercent);
        return;
    }
    const AxisRange sample = axisRange(GraphAxis::Sample);
    if (sample.minimum + ScrollStep >= 0.0)
        setAxisRange(GraphAxis::Sample, sample.minimum + ScrollStep, sample.maximum + ScrollStep);
    else
        setAxisRange(GraphAxis::Sample, HomeMinimum, HomeMaximum);
}

void GraphPanel::HorizScroll(double percent)
{
    ScrollAxis(GraphAxis::Sample, percent);
}

void GraphPanel::ScrollAxis(GraphAxis axis, double percent)
{
    const AxisRange range = axisRange(axis);
    const double shift = (range.maximum - range.minimum) / (100.0 / percent);
    setAxisRange(axis, range.minimum + shift, range.maximum + shift);
}

// ---- the mouse

void GraphPanel::zoomSampleAxisAbout(double x, double factor)
{
    const AxisRange sample = axisRange(GraphAxis::Sample);
    double minimum = x - (x - sample.minimum) * factor;
    double maximum = x + (sample.maximum - x) * factor;
    if (maximum - minimum < NearestMouseZoom) {
        minimum = x - NearestMouseZoom / 2.0;
        maximum = x + NearestMouseZoom / 2.0;
    }
    // Zoomed out at the left end, the window slides right rather than showing nothing there.
    if (minimum < 0.0) {
        maximum -= minimum;
        minimum = 0.0;
    }
    setAxisRange(GraphAxis::Sample, minimum, maximum);
}

void GraphPanel::panSampleAxis(double readings)
{
    const AxisRange sample = axisRange(GraphAxis::Sample);
    const double shift = std::max(readings, -sample.minimum);
    if (shift != 0.0)
        setAxisRange(GraphAxis::Sample, sample.minimum + shift, sample.maximum + shift);
}

bool GraphPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_view->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel: {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        const double notches = wheel->angleDelta().y() / 120.0;
        if (notches == 0.0)
            return false;
        const QPointF inChart = m_chart->mapFromScene(m_view->mapToScene(wheel->position().toPoint()));
        const double x = m_chart->mapToValue(inChart, m_series.front().chartSeries).x();
        zoomSampleAxisAbout(x, std::pow(WheelZoomFactor, notches));
        return true;
    }
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        m_dragFrom = mouse->position();
        m_dragStartRange = axisRange(GraphAxis::Sample);
        m_view->viewport()->setCursor(Qt::ClosedHandCursor);
        return true;
    }
    case QEvent::MouseMove: {
        if (!m_dragFrom)
            return false;
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const double pixels = mouse->position().x() - m_dragFrom->x();
        const double pixelsWide = m_chart->plotArea().width();
        if (pixelsWide <= 0.0)
            return true;
        // The readings under the pointer stay under it.
        const double wanted = m_dragStartRange.minimum - pixels * m_dragStartRange.width() / pixelsWide;
        panSampleAxis(wanted - axisRange(GraphAxis::Sample).minimum);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!m_dragFrom)
            return false;
        m_dragFrom.reset();
        m_view->viewport()->setCursor(Qt::OpenHandCursor);
        return true;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- printing

bool GraphPanel::printGraph()
{
    const bool printed = m_printerProvider && printTo(m_printerProvider());
    if (!printed)
        emit printFailed();
    return printed;
}

bool GraphPanel::printTo(QPagedPaintDevice& device)
{
    flush();
    // A title or footer changed in this same event-loop turn is not laid out yet.
    if (QGraphicsLayout* layout = m_chart->layout())
        layout->activate();
    const OrientationRestorer restorer(device);
    device.setPageOrientation(QPageLayout::Landscape);

    QPainter painter;
    if (!painter.begin(&device))
        return false;
    const int pageWidth = painter.device()->width();
    const int pageHeight = painter.device()->height();
    const int left = roundHalfEven(5.0 * pageWidth / 100.0);
    const int top = roundHalfEven(4.0 * pageHeight / 100.0);
    const int right = pageWidth - roundHalfEven(4.0 * pageWidth / 100.0);
    const int bottom = pageHeight - roundHalfEven(5.0 * pageHeight / 100.0);
    const QRectF target(left, top, right - left, bottom - top);
    // On paper the graph has the page's room, however little the window gives it on the screen
    // (a tiled window would print its title and axis titles cut short).
    const QSizeF shown = m_chart->size();
    const qreal printedWidth = std::max<qreal>(shown.width(), PrintedChartWidth);
    const ChartSizeRestorer printedSize(*m_chart,
        QSizeF(printedWidth, std::max<qreal>(shown.height(), printedWidth * target.height() / target.width())));
    const QRectF source = m_chart->mapRectToScene(QRectF(QPointF(0, 0), m_chart->size()));
    m_chart->scene()->render(&painter, target, source, Qt::IgnoreAspectRatio);
    return painter.end();
}
