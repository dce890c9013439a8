#pragma once

// A reading's texts as the tables and data files carry them, read back into numbers: the level in
// tenths of a dB, the weighting, and the date and time.
//
// The program writes dates and times in two layouts. A download carries the meter's clock as
// month/day/four-digit year and hour:minute:second, without leading zeros ("5/12/2006", "9:5:30"); a
// live reading carries the system's short date and long time ("12 May 2006", "09:05:30", "5/12/06",
// "9:05:30 AM"). Neither says which it is, and some texts read in both ("12/05/2006" is 5 December
// to the meter and 12 May to a British system), so a whole series is read in one layout, the one
// its texts fit (StampedSeries.h).

#include "stats/LevelStatistics.h"

#include <QByteArrayView>
#include <QDate>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// Whole decibels, ".", one tenths digit, as every table row this program writes carries them; blanks
// around it are allowed.
std::optional<std::int32_t> TenthsOfLevelText(QByteArrayView text);
// "A" or "C", blanks around it allowed.
std::optional<Weighting> WeightingOfText(QByteArrayView text);

// A moment of local clock time as seconds: the Julian day × 86,400 + the second of the day. Clock time
// rather than elapsed time, because the periods of the day are clock hours; a step back when the
// clocks go back reads as a break in the readings.
using ClockSeconds = std::int64_t;
inline constexpr ClockSeconds SecondsPerDay = 86400;
inline constexpr ClockSeconds SecondsPerHour = 3600;

inline ClockSeconds ClockSecondsOf(const QDate& date, std::int32_t secondOfDay)
{
    return date.toJulianDay() * SecondsPerDay + secondOfDay;
}
inline QDate DateOf(ClockSeconds time)
{
    return QDate::fromJulianDay(time / SecondsPerDay);
}
inline std::int32_t SecondOfDay(ClockSeconds time)
{
    return static_cast<std::int32_t>(time % SecondsPerDay);
}
inline QTime TimeOf(ClockSeconds time)
{
    return QTime(0, 0).addSecs(SecondOfDay(time));
}

enum class TimeTextLayout {
    // The meter's clock as a download writes it: "5/12/2006", "9:5:30".
    Download,
    // The system's short date and long time without the zone, as a live run writes them.
    System,
};

// Reads date and time texts in either layout. The system layout is that of the locale given, so
// that a test can name one; the program uses the system's.
class TimeTextReader {
public:
    explicit TimeTextReader(const QLocale& locale = QLocale::system());

    std::optional<QDate> date(QByteArrayView text, TimeTextLayout layout) const;
    // Seconds since midnight.
    std::optional<std::int32_t> secondOfDay(QByteArrayView text, TimeTextLayout layout) const;
    // Whether a time reads as the meter's clock with a minute or second of one digit ("9:5:30"): a
    // system's long time always writes them with two.
    static bool hasUnpaddedMinuteOrSecond(QByteArrayView text);

private:
    // One part of the system's time format: a number, the AM/PM mark, or text to match.
    struct TimePart {
        enum class Kind { Hour12, Hour24, Minute, Second, Milliseconds, AmPm, Blank, Literal };
        Kind kind;
        QByteArray literal;
    };
    std::optional<std::int32_t> systemSecondOfDay(QByteArrayView text) const;

    QLocale locale_;
    QString dateFormat_;
    QString timeFormat_;
    // The system's format read once into parts; empty when it holds something the parts cannot
    // match byte by byte (text outside ASCII), and the locale then reads each time itself.
    std::vector<TimePart> timeParts_;
    QByteArray am_;
    QByteArray pm_;
    bool twoDigitYears_ = false;
};
