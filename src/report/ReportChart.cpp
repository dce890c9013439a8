#include "report/ReportChart.h"

#include "core/SystemTexts.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr char FontFamily[] = "DejaVu Sans";
// Columns a millimetre of the plot is drawn in: finer than a printer's line is wide.
constexpr double ColumnsPerMm = 4.0;
const QColor GridColour(215, 215, 215);
const QColor FrameColour(96, 96, 96);
const QColor EventColour(250, 205, 205);
const QColor ThresholdColour(200, 0, 0);
const std::array<QColor, 2> LineColours { QColor(20, 60, 160), QColor(0, 130, 60) };

// The steps the time axis is marked in; the first that gives at most a handful of marks is taken.
constexpr std::array<ClockSeconds, 14> TimeSteps { 60, 300, 600, 900, 1800, 3600, 2 * 3600, 3 * 3600, 6 * 3600,
    12 * 3600, SecondsPerDay, 2 * SecondsPerDay, 7 * SecondsPerDay, 28 * SecondsPerDay };
constexpr int MostTimeMarks = 8;

struct Range {
    double low;
    double high;
};

Range LevelRange(const ReportTimeHistory& history)
{
    double low = 1e9;
    double high = -1e9;
    for (const TimedReading& reading : *history.readings) {
        low = std::min(low, reading.tenths / 10.0);
        high = std::max(high, reading.tenths / 10.0);
    }
    if (history.threshold) {
        low = std::min(low, *history.threshold);
        high = std::max(high, *history.threshold);
    }
    Range range { std::floor((low - 2.0) / 10.0) * 10.0, std::ceil((high + 2.0) / 10.0) * 10.0 };
    range.low = std::max(0.0, range.low);
    if (range.high - range.low < 20.0)
        range.high = range.low + 20.0;
    return range;
}

// Draws one weighting's readings: per column of the plot the lowest and the loudest, joined, and
// broken off where the readings break off.
void PaintLevels(QPainter& painter, const QRectF& plot, const ReportTimeHistory& history, Weighting weighting,
    ClockSeconds start, ClockSeconds span, const Range& levels, double dotsPerMm)
{
    const auto columns = std::max<std::int64_t>(1, std::llround(plot.width() / dotsPerMm * ColumnsPerMm));
    const auto x = [&](std::int64_t column) { return plot.left() + plot.width() * (column + 0.5) / columns; };
    const auto y = [&](std::int32_t tenths) {
        return plot.bottom() - plot.height() * (tenths / 10.0 - levels.low) / (levels.high - levels.low);
    };
    painter.setPen(QPen(LineColours[weighting == Weighting::C ? 1 : 0], 0.25 * dotsPerMm));
    QPolygonF line;
    const auto flush = [&] {
        if (line.size() == 1)
            line << line.front() + QPointF(0.25 * dotsPerMm, 0);
        if (!line.isEmpty())
            painter.drawPolyline(line);
        line.clear();
    };
    std::int64_t column = -1;
    std::int32_t lowest = 0;
    std::int32_t loudest = 0;
    bool previousOfThisWeighting = false;
    const auto addColumn = [&] {
        if (column < 0)
            return;
        line << QPointF(x(column), y(loudest));
        if (lowest != loudest)
            line << QPointF(x(column), y(lowest));
    };
    for (const TimedReading& reading : *history.readings) {
        if (reading.weighting != weighting) {
            previousOfThisWeighting = false;
            continue;
        }
        const std::int64_t at = std::clamp<std::int64_t>((reading.time - start) * columns / span, 0, columns - 1);
        const bool broken = !previousOfThisWeighting || reading.afterBreak;
        previousOfThisWeighting = true;
        if (at == column && !broken) {
            lowest = std::min(lowest, reading.tenths);
            loudest = std::max(loudest, reading.tenths);
            continue;
        }
        addColumn();
        if (broken)
            flush();
        column = at;
        lowest = reading.tenths;
        loudest = reading.tenths;
    }
    addColumn();
    flush();
}

void PaintTimeAxis(QPainter& painter, const QRectF& plot, ClockSeconds start, ClockSeconds span, double rowHeight)
{
    ClockSeconds step = TimeSteps.back();
    for (const ClockSeconds candidate : TimeSteps) {
        if (span / candidate <= MostTimeMarks) {
            step = candidate;
            break;
        }
    }
    QDate lastDate;
    const ClockSeconds first = (start + step - 1) / step * step;
    for (ClockSeconds t = first; t <= start + span; t += step) {
        const double xt = plot.left() + plot.width() * static_cast<double>(t - start) / static_cast<double>(span);
        painter.setPen(GridColour);
        painter.drawLine(QPointF(xt, plot.top()), QPointF(xt, plot.bottom()));
        painter.setPen(Qt::black);
        const QRectF label(xt - 30 * rowHeight, plot.bottom(), 60 * rowHeight, rowHeight);
        if (step < SecondsPerDay)
            painter.drawText(label, Qt::AlignHCenter | Qt::AlignVCenter, TimeOf(t).toString(QStringLiteral("HH:mm")));
        // The date under the first mark and wherever it changes.
        if (DateOf(t) != lastDate) {
            lastDate = DateOf(t);
            const QRectF dateLabel = step < SecondsPerDay ? label.translated(0, rowHeight) : label;
            painter.drawText(dateLabel, Qt::AlignHCenter | Qt::AlignVCenter, SystemShortDateText(lastDate));
        }
    }
}

void PaintLegend(QPainter& painter, const QRectF& row, const ReportTimeHistory& history, double dotsPerMm)
{
    bool present[2] = { false, false };
    for (const TimedReading& reading : *history.readings)
        present[reading.weighting == Weighting::C ? 1 : 0] = true;
    const QFontMetricsF metrics(painter.font(), painter.device());
    const double sample = 6.0 * dotsPerMm;
    const double gap = 2.0 * dotsPerMm;
    double x = row.left();
    const double middle = row.center().y();
    const auto entry = [&](const QString& text, const std::function<void(const QRectF&)>& mark) {
        mark(QRectF(x, row.top(), sample, row.height()));
        x += sample + gap / 2;
        painter.setPen(Qt::black);
        painter.drawText(QRectF(x, row.top(), metrics.horizontalAdvance(text) + gap, row.height()),
            Qt::AlignLeft | Qt::AlignVCenter, text);
        x += metrics.horizontalAdvance(text) + 2 * gap;
    };
    for (int w = 0; w < 2; ++w) {
        if (!present[w])
            continue;
        entry(QStringLiteral("L%1 (dB)").arg(w == 1 ? QLatin1Char('C') : QLatin1Char('A')), [&](const QRectF& r) {
            painter.setPen(QPen(LineColours[std::size_t(w)], 0.5 * dotsPerMm));
            painter.drawLine(QPointF(r.left(), middle), QPointF(r.right(), middle));
        });
    }
    if (history.threshold) {
        entry(
            QStringLiteral("Threshold %1 dB").arg(SystemShortestDecimalText(*history.threshold)), [&](const QRectF& r) {
                painter.setPen(QPen(ThresholdColour, 0.35 * dotsPerMm, Qt::DashLine));
                painter.drawLine(QPointF(r.left(), middle), QPointF(r.right(), middle));
            });
    }
    if (!history.events.empty()) {
        entry(QStringLiteral("Events"), [&](const QRectF& r) {
            painter.fillRect(r.adjusted(0, r.height() * 0.2, 0, -r.height() * 0.2), EventColour);
        });
    }
}

} // namespace

void PaintTimeHistory(
    QPainter& painter, const QRectF& area, const ReportTimeHistory& history, double dotsPerMm, double fontSizePt)
{
    painter.save();
    QFont font(QString::fromLatin1(FontFamily));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(fontSizePt);
    painter.setFont(font);
    const double rowHeight = QFontMetricsF(font, painter.device()).height() * 1.2;
    const double axisWidth
        = QFontMetricsF(font, painter.device()).horizontalAdvance(QStringLiteral("000")) + 2 * dotsPerMm;
    const QRectF plot(area.left() + axisWidth, area.top() + rowHeight * 1.3, area.width() - axisWidth - dotsPerMm,
        area.height() - rowHeight * 3.4);

    const bool empty = !history.readings || history.readings->empty();
    if (empty) {
        painter.setPen(QPen(FrameColour, 0.2 * dotsPerMm));
        painter.drawRect(plot);
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No readings"));
        painter.restore();
        return;
    }
    const Range levels = LevelRange(history);
    ClockSeconds start = history.readings->front().time;
    ClockSeconds end = start;
    for (const TimedReading& reading : *history.readings) {
        start = std::min(start, reading.time);
        end = std::max(end, reading.time + std::max(reading.seconds, 1));
    }
    const ClockSeconds span = std::max<ClockSeconds>(1, end - start);
    const auto xOf = [&](ClockSeconds t) {
        return plot.left() + plot.width() * static_cast<double>(std::clamp(t, start, end) - start) / span;
    };
    const auto yOf = [&](double level) {
        return plot.bottom() - plot.height() * (level - levels.low) / (levels.high - levels.low);
    };

    painter.setClipRect(plot.adjusted(-1, -1, 1, 1));
    for (const auto& [eventStart, eventEnd] : history.events)
        painter.fillRect(
            QRectF(QPointF(xOf(eventStart), plot.top()), QPointF(xOf(eventEnd), plot.bottom())), EventColour);
    const double levelStep = levels.high - levels.low > 60.0 ? 20.0 : 10.0;
    for (double level = levels.low; level <= levels.high; level += levelStep) {
        painter.setPen(GridColour);
        painter.drawLine(QPointF(plot.left(), yOf(level)), QPointF(plot.right(), yOf(level)));
    }
    PaintLevels(painter, plot, history, Weighting::A, start, span, levels, dotsPerMm);
    PaintLevels(painter, plot, history, Weighting::C, start, span, levels, dotsPerMm);
    if (history.threshold) {
        painter.setPen(QPen(ThresholdColour, 0.35 * dotsPerMm, Qt::DashLine));
        painter.drawLine(QPointF(plot.left(), yOf(*history.threshold)), QPointF(plot.right(), yOf(*history.threshold)));
    }
    painter.setClipping(false);

    painter.setPen(Qt::black);
    for (double level = levels.low; level <= levels.high; level += levelStep) {
        painter.drawText(QRectF(area.left(), yOf(level) - rowHeight / 2, axisWidth - dotsPerMm, rowHeight),
            Qt::AlignRight | Qt::AlignVCenter, QString::number(level, 'f', 0));
    }
    // Marked in the wall clock of the first reading (its offset, for a live log's stamps).
    PaintTimeAxis(painter, plot, start + history.readings->front().utcOffset, span, rowHeight);
    painter.setPen(QPen(FrameColour, 0.2 * dotsPerMm));
    painter.drawRect(plot);
    PaintLegend(painter, QRectF(plot.left(), area.top(), plot.width(), rowHeight), history, dotsPerMm);
    painter.restore();
}
