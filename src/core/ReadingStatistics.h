#pragma once

// The maximum, minimum and average of the readings a window has shown since it opened or was
// cleared (or of one download from the meter), as footers, MAX/MIN/AVG boxes and row colours use
// them. Kept beside the meter protocol so that the decoder of the meter's memory, which has no
// widgets, keeps the same figures.

#include <QDate>
#include <QStringList>

#include <cstdint>

class ReadingStatistics {
public:
    // The first reading after a restart makes the maximum, minimum and average all equal to it.
    void add(double value)
    {
        if (++count_ == 1) {
            maximum_ = value;
            minimum_ = value;
            sum_ = 0.0;
        }
        if (minimum_ > value)
            minimum_ = value;
        if (value > maximum_)
            maximum_ = value;
        sum_ += value;
    }
    // The next reading starts the statistics afresh. Until then the old maximum and minimum stay,
    // so rows still on screen keep their colours.
    void restart() { count_ = 0; }

    double maximum() const { return maximum_; }
    double minimum() const { return minimum_; }
    double sum() const { return sum_; }
    std::int64_t count() const { return count_; }
    // Zero before the first reading.
    double average() const { return count_ == 0 ? 0.0 : sum_ / static_cast<double>(count_); }

private:
    double maximum_ = 0.0;
    double minimum_ = 0.0;
    double sum_ = 0.0;
    std::int64_t count_ = 0;
};

// The graph's two footer lines: maximum, minimum and average with one decimal in the system's
// notation, then the date in the system's short form.
QStringList StatisticsFooterLines(const ReadingStatistics& statistics, const QDate& date);
