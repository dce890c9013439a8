#include "stats/GrowingSeries.h"

GrowingSeries::GrowingSeries(const NoiseSettings& settings, const TimeTextReader& texts)
    : texts_(texts)
    , assessment_(settings)
{
}

void GrowingSeries::reset(const NoiseSettings& settings)
{
    layout_.reset();
    chosenByLook_ = false;
    durations_ = ReadingDurations();
    assessment_ = NoiseAssessment(settings);
    timeError_.reset();
    begin_ = -1;
    rowsRead_ = 0;
    readings_ = 0;
}

void GrowingSeries::update(const ReadingTable& table, qint64 begin, qint64 end)
{
    if (begin_ >= 0 && (begin != begin_ || end < rowsRead_))
        reset(settings());
    if (begin_ < 0) {
        begin_ = begin;
        rowsRead_ = begin;
    }
    if (end <= rowsRead_ || timeError_)
        return;
    if (!readOnTop(table, rowsRead_, end)) {
        reset(settings());
        begin_ = begin;
        rowsRead_ = begin;
        readOnTop(table, begin, end);
    }
}

bool GrowingSeries::readOnTop(const ReadingTable& table, qint64 from, qint64 end)
{
    StampedSeriesReader reader(texts_, from, layout_);
    qint64 position = from;
    table.forEachRowTextFrom(from, [&](const ReadingRowText& row) {
        if (position++ < end)
            reader.add(row);
    });
    const StampedSeries stamped = reader.finish();
    if (layout_) {
        // The layout was decided on the first rows; new rows that do not fit it, or that show a
        // meter's time where the look of the times decided for the system's, call for the whole
        // series to be decided again.
        const bool lookChanged = chosenByLook_ && *layout_ == TimeTextLayout::System && reader.unpaddedTimeSeen();
        if (stamped.timeError || lookChanged)
            return false;
    } else {
        layout_ = stamped.layout;
        chosenByLook_ = stamped.eitherLayoutReads;
    }
    rowsRead_ = end;
    if (stamped.timeError) {
        timeError_ = stamped.timeError;
        return true;
    }
    for (const StampedReading& reading : stamped.readings)
        durations_.add(reading, [this](const TimedReading& timed) { assessment_.add(timed); });
    readings_ += static_cast<std::int64_t>(stamped.readings.size());
    return true;
}

std::optional<NoiseFigures> GrowingSeries::figures() const
{
    if (timeError_)
        return std::nullopt;
    // The last readings wait for the readings after them; a copy takes them as the end of the series.
    ReadingDurations durations = durations_;
    NoiseAssessment assessment = assessment_;
    if (!durations.finish([&assessment](const TimedReading& timed) { assessment.add(timed); }))
        return std::nullopt;
    return assessment.figures();
}
