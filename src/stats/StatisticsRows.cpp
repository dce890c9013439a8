#include "stats/StatisticsRows.h"

#include "core/ReadingTable.h"
#include "core/SystemTexts.h"
#include "stats/ReadingTexts.h"

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
        const std::optional<std::int32_t> tenths = TenthsOfLevelText(row.meaValue);
        const std::optional<Weighting> weighting = WeightingOfText(row.weight);
        if (!tenths || !weighting || !statistics.add(*weighting, *tenths, intervalSeconds))
            statistics.countUnreadableRow();
    });
    return statistics;
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
