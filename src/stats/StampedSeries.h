#pragma once

// The readings of one series (a run, a download, a data file) with their moments, read from the
// texts of its rows. The series is read in one layout of date and time (ReadingTexts.h):
// - the one every row reads in, when only one does;
// - when every row reads in both, the meter's layout if some time has a minute or second of one digit
//   (as only the meter writes them), else the system's;
// - when neither reads every row, the series has no times, and TimeStampError names the first row
//   that the layout which read further could not read.

#include "core/DecimoraError.h"
#include "core/ReadingTable.h"
#include "stats/ReadingTexts.h"

#include <QHash>

#include <cstdint>
#include <optional>
#include <vector>

struct StampedReading {
    // The wall clock less utcOffset. A data file's times are its wall clock (the offset is 0); a live
    // log's carry their offset, so that its times run on through a change of the clock and the
    // wall-clock hour is still known.
    ClockSeconds time = 0;
    std::int32_t tenths = 0;
    Weighting weighting = Weighting::A;
    std::int32_t utcOffset = 0;
};

// A row whose date and time cannot be read. row() counts the rows given from 0 (plus the first
// position the reader was given); the texts are the row's own.
class TimeStampError : public DecimoraError {
public:
    TimeStampError(qint64 row, const QString& date, const QString& time);
    qint64 row() const { return row_; }
    const QString& dateText() const { return date_; }
    const QString& timeText() const { return time_; }

private:
    qint64 row_;
    QString date_;
    QString time_;
};

struct StampedSeries {
    // In the order of the rows; where timeError is set, the readings carry their levels only (time 0).
    std::vector<StampedReading> readings;
    TimeTextLayout layout = TimeTextLayout::System;
    // Every row read in both layouts, and the layout was chosen by the look of the times.
    bool eitherLayoutReads = false;
    std::optional<TimeStampError> timeError;
    // Rows without a level in tenths of a dB or an A or C weighting: left out, as the statistics
    // leave them out.
    std::int64_t unreadableRows = 0;
};

class StampedSeriesReader {
public:
    // firstRow: the position the first row given has, for the error texts. layout: the series is
    // known to be written so (a series read before and grown since); else it is decided at finish().
    explicit StampedSeriesReader(
        const TimeTextReader& texts, qint64 firstRow = 0, std::optional<TimeTextLayout> layout = std::nullopt);

    // utcOffset: the offset from UTC the row's wall-clock time was written in, where it says one.
    void add(const ReadingRowText& row, std::int32_t utcOffset = 0);
    // The series, in the order of its rows.
    StampedSeries finish();
    // Some time read so far has a minute or second of one digit, as only the meter writes them.
    bool unpaddedTimeSeen() const { return unpaddedTimeSeen_; }

private:
    struct Row {
        std::int32_t date; // index into dates_
        std::int32_t downloadSecond; // -1: does not read so
        std::int32_t systemSecond;
        std::int32_t tenths;
        Weighting weighting;
        std::int32_t utcOffset;
    };
    struct DateTexts {
        std::optional<QDate> download;
        std::optional<QDate> system;
    };
    struct Failure {
        qint64 row;
        QString date;
        QString time;
    };
    std::int32_t dateIndex(QByteArrayView text);
    bool reads(const Row& row, TimeTextLayout layout) const;
    void noteFailure(std::optional<Failure>& failure, const ReadingRowText& row) const;

    const TimeTextReader& texts_;
    qint64 nextRow_;
    std::optional<TimeTextLayout> layout_;
    std::vector<Row> rows_;
    std::vector<DateTexts> dates_;
    QHash<QByteArray, std::int32_t> dateIndexOf_;
    QByteArray lastDateText_;
    std::int32_t lastDate_ = -1;
    // The first row each layout cannot read.
    std::optional<Failure> downloadFailure_;
    std::optional<Failure> systemFailure_;
    bool unpaddedTimeSeen_ = false;
    std::int64_t unreadableRows_ = 0;
};

// The rows of a table in consecutive stretches, each a series of its own, in one walk: stretch k holds
// the rows from the end of stretch k - 1 up to (not including) position stretchEnds[k]; rows past the
// last end are left out. Throws TableError when the table cannot be read.
std::vector<StampedSeries> StampedSeriesOfTable(
    const ReadingTable& table, const TimeTextReader& texts, const std::vector<qint64>& stretchEnds);
