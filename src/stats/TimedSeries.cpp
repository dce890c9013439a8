#include "stats/TimedSeries.h"

TimedSeries TimedSeriesOf(const StampedSeries& stamped)
{
    TimedSeries series;
    series.unreadableRows = stamped.unreadableRows;
    series.timeError = stamped.timeError;
    if (!stamped.timeError) {
        if (std::optional<std::vector<TimedReading>> timed = TimedReadingsOf(stamped.readings)) {
            series.readings = std::move(*timed);
            series.durationsKnown = true;
            return series;
        }
    }
    series.readings.reserve(stamped.readings.size());
    for (const StampedReading& reading : stamped.readings)
        series.readings.push_back({ reading.time, 0, reading.tenths, reading.weighting, false, reading.utcOffset });
    return series;
}

TimedSeries TimedSeriesOf(const StampedSeries& stamped, std::int32_t intervalSeconds)
{
    TimedSeries series;
    series.unreadableRows = stamped.unreadableRows;
    series.timeError = stamped.timeError;
    series.durationsKnown = !stamped.timeError;
    series.readings.reserve(stamped.readings.size());
    const StampedReading* previous = nullptr;
    for (const StampedReading& reading : stamped.readings) {
        const bool afterBreak = previous && IsBreak(reading.time - previous->time, intervalSeconds);
        series.readings.push_back(
            { reading.time, intervalSeconds, reading.tenths, reading.weighting, afterBreak, reading.utcOffset });
        previous = &reading;
    }
    return series;
}

StampedSeries Joined(const std::vector<StampedSeries>& parts)
{
    StampedSeries joined;
    for (const StampedSeries& part : parts) {
        joined.readings.insert(joined.readings.end(), part.readings.begin(), part.readings.end());
        joined.unreadableRows += part.unreadableRows;
        if (!joined.timeError && part.timeError)
            joined.timeError = part.timeError;
    }
    return joined;
}

WeightedLevelStatistics StatisticsOf(const TimedSeries& series)
{
    WeightedLevelStatistics statistics;
    for (const TimedReading& reading : series.readings)
        statistics.add(reading.weighting, reading.tenths, reading.seconds);
    for (std::int64_t i = 0; i < series.unreadableRows; ++i)
        statistics.countUnreadableRow();
    return statistics;
}

NoiseFigures NoiseFiguresOf(const TimedSeries& series, const NoiseSettings& settings)
{
    NoiseAssessment assessment(settings);
    if (series.durationsKnown) {
        for (const TimedReading& reading : series.readings)
            assessment.add(reading);
    }
    return assessment.figures();
}

std::vector<WeightedLevelStatistics> TimedStatisticsOfTableStretches(
    const ReadingTable& table, const std::vector<qint64>& stretchEnds, const TimeTextReader& texts)
{
    std::vector<WeightedLevelStatistics> statistics;
    for (const StampedSeries& stamped : StampedSeriesOfTable(table, texts, stretchEnds))
        statistics.push_back(StatisticsOf(TimedSeriesOf(stamped)));
    return statistics;
}
