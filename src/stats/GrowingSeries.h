#pragma once

// The noise figures of one series of a table that may be growing (a measurement going on), kept up to
// date by reading only the rows added since the last look: the times, durations and accumulators of
// the rows read are kept, and a look costs what the new rows cost. A series that is not the one read
// before (other rows, fewer rows, other settings) is read afresh.
//
//     GrowingSeries series(settings);
//     series.update(table, 0, table.rowCount());   // every second
//     NoiseFigures figures = series.figures();

#include "core/ReadingTable.h"
#include "stats/NoiseAssessment.h"
#include "stats/ReadingDurations.h"
#include "stats/StampedSeries.h"

#include <optional>

class GrowingSeries {
public:
    explicit GrowingSeries(const NoiseSettings& settings, const TimeTextReader& texts = TimeTextReader());

    // Brings the figures up to rows [begin, end) of the table. Throws TableError.
    void update(const ReadingTable& table, qint64 begin, qint64 end);
    // Reads the series afresh at the next update, under these settings.
    void reset(const NoiseSettings& settings);

    // The figures of the rows read, the last readings with the durations known so far. Nothing when
    // the times cannot be read or tell no duration yet.
    std::optional<NoiseFigures> figures() const;
    // Set when a row's date and time cannot be read; its row is a position in the table.
    const std::optional<TimeStampError>& timeError() const { return timeError_; }
    // Readings read (rows with a level and a weighting).
    std::int64_t readings() const { return readings_; }
    const NoiseSettings& settings() const { return assessment_.settings(); }

private:
    // Reads rows [from, end) on top of what has been read; false when the series must be read
    // afresh (the layout decided on its first rows does not fit the new ones).
    bool readOnTop(const ReadingTable& table, qint64 from, qint64 end);

    TimeTextReader texts_;
    std::optional<TimeTextLayout> layout_;
    // The layout was chosen by the look of the times, both reading every row so far.
    bool chosenByLook_ = false;
    ReadingDurations durations_;
    NoiseAssessment assessment_;
    std::optional<TimeStampError> timeError_;
    qint64 begin_ = -1;
    qint64 rowsRead_ = 0;
    std::int64_t readings_ = 0;
};
