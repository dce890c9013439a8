#include "stats/StampedSeries.h"

#include <algorithm>

TimeStampError::TimeStampError(qint64 row, const QString& date, const QString& time)
    : DecimoraError(QStringLiteral("the date and time \"%1 %2\" cannot be read").arg(date, time))
    , row_(row)
    , date_(date)
    , time_(time)
{
}

StampedSeriesReader::StampedSeriesReader(
    const TimeTextReader& texts, qint64 firstRow, std::optional<TimeTextLayout> layout)
    : texts_(texts)
    , nextRow_(firstRow)
    , layout_(layout)
{
}

std::int32_t StampedSeriesReader::dateIndex(QByteArrayView text)
{
    // A series' date changes once a day: the last one is nearly always the one asked for.
    if (lastDate_ >= 0 && text == lastDateText_)
        return lastDate_;
    lastDateText_ = QByteArray(text.data(), text.size());
    const auto found = dateIndexOf_.constFind(lastDateText_);
    if (found != dateIndexOf_.cend()) {
        lastDate_ = *found;
        return lastDate_;
    }
    DateTexts date;
    if (layout_ != TimeTextLayout::System)
        date.download = texts_.date(text, TimeTextLayout::Download);
    if (layout_ != TimeTextLayout::Download)
        date.system = texts_.date(text, TimeTextLayout::System);
    lastDate_ = static_cast<std::int32_t>(dates_.size());
    dates_.push_back(date);
    dateIndexOf_.insert(lastDateText_, lastDate_);
    return lastDate_;
}

void StampedSeriesReader::noteFailure(std::optional<Failure>& failure, const ReadingRowText& row) const
{
    if (!failure)
        failure = Failure { nextRow_, QString::fromUtf8(row.date).trimmed(), QString::fromUtf8(row.time).trimmed() };
}

void StampedSeriesReader::add(const ReadingRowText& text, std::int32_t utcOffset)
{
    const std::optional<std::int32_t> tenths = TenthsOfLevelText(text.meaValue);
    const std::optional<Weighting> weighting = WeightingOfText(text.weight);
    if (!tenths || !weighting || *tenths >= level_grid::Steps) {
        ++unreadableRows_;
        ++nextRow_;
        return;
    }
    Row row { dateIndex(text.date), -1, -1, *tenths, *weighting, utcOffset };
    const DateTexts& date = dates_[static_cast<std::size_t>(row.date)];
    if (date.download)
        row.downloadSecond = texts_.secondOfDay(text.time, TimeTextLayout::Download).value_or(-1);
    if (!unpaddedTimeSeen_)
        unpaddedTimeSeen_ = TimeTextReader::hasUnpaddedMinuteOrSecond(text.time);
    if (date.system)
        row.systemSecond = texts_.secondOfDay(text.time, TimeTextLayout::System).value_or(-1);
    if (layout_ != TimeTextLayout::System && row.downloadSecond < 0)
        noteFailure(downloadFailure_, text);
    if (layout_ != TimeTextLayout::Download && row.systemSecond < 0)
        noteFailure(systemFailure_, text);
    rows_.push_back(row);
    ++nextRow_;
}

bool StampedSeriesReader::reads(const Row& row, TimeTextLayout layout) const
{
    return layout == TimeTextLayout::Download ? row.downloadSecond >= 0 : row.systemSecond >= 0;
}

StampedSeries StampedSeriesReader::finish()
{
    StampedSeries series;
    series.unreadableRows = unreadableRows_;
    if (layout_) {
        series.layout = *layout_;
        const std::optional<Failure>& failure
            = series.layout == TimeTextLayout::Download ? downloadFailure_ : systemFailure_;
        if (failure)
            series.timeError = TimeStampError(failure->row, failure->date, failure->time);
    } else if (!downloadFailure_ && !systemFailure_) {
        series.layout = unpaddedTimeSeen_ ? TimeTextLayout::Download : TimeTextLayout::System;
        series.eitherLayoutReads = true;
    } else if (!downloadFailure_) {
        series.layout = TimeTextLayout::Download;
    } else if (!systemFailure_) {
        series.layout = TimeTextLayout::System;
    } else {
        // Neither reads every row: name the row where the layout that read further stopped.
        const Failure& later = downloadFailure_->row > systemFailure_->row ? *downloadFailure_ : *systemFailure_;
        series.timeError = TimeStampError(later.row, later.date, later.time);
    }

    series.readings.reserve(rows_.size());
    const bool download = series.layout == TimeTextLayout::Download;
    for (const Row& row : rows_) {
        ClockSeconds time = 0;
        if (!series.timeError) {
            const DateTexts& date = dates_[static_cast<std::size_t>(row.date)];
            time = ClockSecondsOf(
                       download ? *date.download : *date.system, download ? row.downloadSecond : row.systemSecond)
                - row.utcOffset;
        }
        series.readings.push_back({ time, row.tenths, row.weighting, row.utcOffset });
    }
    return series;
}

std::vector<StampedSeries> StampedSeriesOfTable(
    const ReadingTable& table, const TimeTextReader& texts, const std::vector<qint64>& stretchEnds)
{
    std::vector<StampedSeriesReader> readers;
    qint64 begin = 0;
    for (const qint64 end : stretchEnds) {
        readers.emplace_back(texts, begin);
        begin = std::max(begin, end);
    }
    std::size_t stretch = 0;
    qint64 position = 0;
    table.forEachRowText([&](const ReadingRowText& row) {
        while (stretch < stretchEnds.size() && position >= stretchEnds[stretch])
            ++stretch;
        ++position;
        if (stretch < readers.size())
            readers[stretch].add(row);
    });
    std::vector<StampedSeries> series;
    series.reserve(readers.size());
    for (StampedSeriesReader& reader : readers)
        series.push_back(reader.finish());
    return series;
}
