#include "stats/StatisticsRows.h"

#include "core/ReadingTable.h"
#include "core/SystemTexts.h"

#include <QByteArrayView>
#include <QStringView>

namespace {

const QString Decibels = QStringLiteral("dB");
const QString Seconds = QStringLiteral("s");

QString Unknown()
{
    return QString::fromUtf16(UnknownFigure);
}

StatisticsRow LevelRow(const QString& label, const std::optional<double>& level)
{
    return { label, level, Decibels, level ? SystemOneDecimalText(*level) : Unknown() };
}

StatisticsRow DurationRow(const QString& label, const std::optional<std::int64_t>& seconds)
{
    if (!seconds)
        return { label, std::nullopt, Seconds, Unknown() };
    return { label, static_cast<double>(*seconds), Seconds, DurationText(*seconds) };
}

StatisticsRow CountRow(const QString& label, std::int64_t count)
{
    return { label, static_cast<double>(count), QString(), QString::number(count) };
}

QByteArrayView Trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && text.front() == ' ')
        text = text.sliced(1);
    while (!text.isEmpty() && text.back() == ' ')
        text.chop(1);
    return text;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whole decibels, ".", one tenths digit, as every table row this program writes carries them.
std::optional<std::int32_t> TenthsOfText(QByteArrayView text)
{
    text = Trimmed(text);
    // Five whole digits are already far off the grid; more would only risk overflow.
    if (text.size() < 3 || text.size() > 7 || text[text.size() - 2] != '.' || !IsDigit(text.back()))
        return std::nullopt;
    std::int32_t tenths = 0;
    for (const char c : text.first(text.size() - 2)) {
        if (!IsDigit(c))
            return std::nullopt;
        tenths = tenths * 10 + (c - '0');
    }
    return tenths * 10 + (text.back() - '0');
}

std::optional<Weighting> WeightingOfText(QByteArrayView text)
{
    text = Trimmed(text);
    if (text == "A")
        return Weighting::A;
    if (text == "C")
        return Weighting::C;
    return std::nullopt;
}

} // namespace

std::vector<StatisticsRow> FigureRows(const LevelFigures& figures)
{
    const QString w(QLatin1Char(WeightingLetter(figures.weighting)));
    const QString L = QStringLiteral("L") + w;
    const QString ofW = QStringLiteral(" (") + w + QLatin1Char(')');
    const QString alarm = SystemShortestDecimalText(figures.highAlarmLevel);
    return {
        LevelRow(L + QStringLiteral("eq"), figures.leq),
        LevelRow(L + QStringLiteral("10"), figures.l10),
        LevelRow(L + QStringLiteral("50"), figures.l50),
        LevelRow(L + QStringLiteral("90"), figures.l90),
        LevelRow(L + QStringLiteral("max"), figures.lmax),
        LevelRow(L + QStringLiteral("min"), figures.lmin),
        LevelRow(L + QStringLiteral("E (SEL)"), figures.sel),
        CountRow(QStringLiteral("Readings") + ofW, figures.count),
        DurationRow(QStringLiteral("Duration") + ofW, figures.durationSeconds),
        CountRow(QStringLiteral("Readings above %1 dB").arg(alarm) + ofW, figures.readingsAboveHighAlarm),
        DurationRow(QStringLiteral("Time above %1 dB").arg(alarm) + ofW, figures.secondsAboveHighAlarm),
    };
}

std::vector<StatisticsRow> StatisticsRows(const WeightedLevelStatistics& statistics, double highAlarmLevel)
{
    std::vector<StatisticsRow> rows;
    for (const Weighting weighting : { Weighting::A, Weighting::C }) {
        const LevelAccumulator& readings = statistics.of(weighting);
        if (readings.count() == 0)
            continue;
        const std::vector<StatisticsRow> own = FigureRows(readings.figures(weighting, highAlarmLevel));
        rows.insert(rows.end(), own.begin(), own.end());
    }
    return rows;
}

WeightedLevelStatistics StatisticsOfTable(const ReadingTable& table, std::int32_t intervalSeconds)
{
    WeightedLevelStatistics statistics;
    table.forEachRowText([&](const ReadingRowText& row) {
        const std::optional<std::int32_t> tenths = TenthsOfText(row.meaValue);
        const std::optional<Weighting> weighting = WeightingOfText(row.weight);
        if (!tenths || !weighting || !statistics.add(*weighting, *tenths, intervalSeconds))
            statistics.countUnreadableRow();
    });
    return statistics;
}

std::vector<WeightedLevelStatistics> StatisticsOfTableStretches(
    const ReadingTable& table, const std::vector<qint64>& stretchEnds, std::int32_t intervalSeconds)
{
    std::vector<WeightedLevelStatistics> stretches(stretchEnds.size());
    std::size_t stretch = 0;
    qint64 position = 0;
    table.forEachRowText([&](const ReadingRowText& row) {
        while (stretch < stretchEnds.size() && position >= stretchEnds[stretch])
            ++stretch;
        ++position;
        if (stretch == stretchEnds.size())
            return;
        const std::optional<std::int32_t> tenths = TenthsOfText(row.meaValue);
        const std::optional<Weighting> weighting = WeightingOfText(row.weight);
        WeightedLevelStatistics& statistics = stretches[stretch];
        if (!tenths || !weighting || !statistics.add(*weighting, *tenths, intervalSeconds))
            statistics.countUnreadableRow();
    });
    return stretches;
}

QString DurationText(std::int64_t seconds)
{
    const std::int64_t hours = seconds / 3600;
    const std::int64_t minutes = seconds / 60 % 60;
    return QStringLiteral("%1:%2:%3")
        .arg(hours)
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
