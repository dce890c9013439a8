#pragma once

// A series of readings with the time each one lasted, from the rows of a table or a data file: what
// the statistics and the noise assessment of a series are figured from where no interval is given.

#include "stats/NoiseAssessment.h"
#include "stats/ReadingDurations.h"
#include "stats/StampedSeries.h"

#include <optional>
#include <vector>

struct TimedSeries {
    // In the order of the rows. Where the durations are not known, each reading's seconds is 0 (and
    // where the times are not known, its time too).
    std::vector<TimedReading> readings;
    bool durationsKnown = false;
    std::int64_t unreadableRows = 0;
    // Set when some row's date and time cannot be read.
    std::optional<TimeStampError> timeError;
};

TimedSeries TimedSeriesOf(const StampedSeries& stamped);
// The same where the interval is known: every reading lasts intervalSeconds (above 0), and a step of
// more than GapSteps intervals, or a step back, is a break.
TimedSeries TimedSeriesOf(const StampedSeries& stamped, std::int32_t intervalSeconds);
// Series one after the other as one: the files of one measurement. A break stands between them where
// their times say so.
StampedSeries Joined(const std::vector<StampedSeries>& parts);

// Each reading for the time it lasted, or counted once where that is not known.
WeightedLevelStatistics StatisticsOf(const TimedSeries& series);

// The noise figures of a series whose durations are known (of none, else).
NoiseFigures NoiseFiguresOf(const TimedSeries& series, const NoiseSettings& settings);

// The statistics of consecutive stretches of a table (as StatisticsOfTableStretches), each stretch a
// series whose readings last as their time stamps say; a stretch whose times cannot be read, or
// give no step, counts each reading once. Throws TableError.
std::vector<WeightedLevelStatistics> TimedStatisticsOfTableStretches(
    const ReadingTable& table, const std::vector<qint64>& stretchEnds, const TimeTextReader& texts = TimeTextReader());
