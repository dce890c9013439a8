#pragma once

// What a noise assessment reports of time-stamped readings: the levels of the periods of the day, per
// day and over the whole run; a table of the clock hours; and the events in which the level stayed at
// or above a threshold.
//
// Period levels follow ISO 1996-1 and the EU's environmental noise rules: Lday (07-19), Levening
// (19-23) and Lnight (23-07) are energy averages over the time the readings cover, and
//     Lden = 10·lg((12·10^(Lday/10) + 4·10^((Levening+5)/10) + 8·10^((Lnight+10)/10)) / 24)
// with the hours and penalties of the bounds in use; Ldn takes a day of 07-22 and a night of 22-07
// with +10 dB. A day of the assessment starts with its day period: the night from 23:00 on 12 May to
// 07:00 on 13 May is 12 May's night. Each figure comes with the share of its period that readings
// cover, and Lden and Ldn are known only where every one of their periods has readings.
//
// Readings whose stamps carry their offset from UTC (a live log's) are figured in their own wall
// clock: the hour a clock going back repeats is two hours, each with its offset, the hour it skips
// going forward is none, and a period the change falls in is that much longer or shorter.
//
// Everything is figured from accumulators per weighting and clock hour, fed one reading at a time in
// the order of the series, so that a growing run costs the same per reading at any length and the
// figures of a week take a walk over its 168 hours. A and C readings are never mixed.

#include "stats/LevelStatistics.h"
#include "stats/ReadingDurations.h"

#include <QDate>
#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

// The bounds of the periods in whole clock hours, and their penalties in dB.
struct NoisePeriods {
    std::int32_t dayStart = 7;
    std::int32_t eveningStart = 19;
    std::int32_t nightStart = 23;
    double eveningPenalty = 5.0;
    double nightPenalty = 10.0;
    // Ldn's night; its day starts with the day above, and its night takes nightPenalty.
    std::int32_t dnNightStart = 22;

    // What is wrong with the bounds, or nothing: 0 ≤ day < evening < night ≤ 23, day < Ldn's night
    // ≤ 23, penalties from 0 to 20 dB.
    std::optional<QString> fault() const;
};

struct EventRules {
    // At or above this level, in tenths of a dB.
    std::int32_t thresholdTenths = 850;
    // An event lasts at least this long...
    std::int32_t minimumSeconds = 1;
    // ...after events whose quiet time between them was shorter than this have become one.
    std::int32_t mergeGapSeconds = 5;
};

struct NoiseSettings {
    NoisePeriods periods;
    EventRules events;
};

enum class NoisePeriod { Day, Evening, Night };
enum class PeriodFigure { Day, Evening, Night, DayEveningNight, DayNight };
// "Lday", "Levening", "Lnight", "Lden", "Ldn".
QString PeriodFigureName(PeriodFigure figure);
// "day", "evening", "night".
QString NoisePeriodName(NoisePeriod period);

struct PeriodLevel {
    Weighting weighting = Weighting::A;
    // The assessment day; nothing for the whole run.
    std::optional<QDate> day;
    PeriodFigure figure = PeriodFigure::Day;
    std::optional<double> level;
    std::int64_t coveredSeconds = 0;
    // The length of the period on this day, or on every day of the run.
    std::int64_t periodSeconds = 0;
    // Events that started in the period.
    std::int64_t events = 0;

    // Of the period, from 0 to 1; a reading stamped within the period counts in it whole.
    double coverage() const;
};

// A clock hour of the run. An hour the readings skip (the meter was off for a while) has a row too,
// with no levels and no coverage, so that the table shows the hole; a break of a day or more (files of
// other days taken together) is left out rather than listed hour by empty hour.
struct HourLevels {
    Weighting weighting = Weighting::A;
    QDate date;
    std::int32_t hour = 0;
    std::optional<double> leq;
    std::optional<double> lmax;
    std::optional<double> l10;
    std::optional<double> l90;
    std::int64_t coveredSeconds = 0;
    // The wall clock's offset from UTC in this hour (0 where the stamps carry none).
    std::int32_t utcOffset = 0;

    double coverage() const;
};

struct ExceedanceEvent {
    Weighting weighting = Weighting::A;
    // As the readings' times (see TimedReading): the wall clock less its offset.
    ClockSeconds start = 0;
    // The end of its last reading at or above the threshold.
    ClockSeconds end = 0;
    double lmax = 0.0;
    // Over the time its readings cover.
    double leq = 0.0;
    double sel = 0.0;
    // Of the assessment day and period it started in.
    QDate day;
    NoisePeriod period = NoisePeriod::Day;
    // The wall clock's offsets from UTC at the start and at the end.
    std::int32_t startOffset = 0;
    std::int32_t endOffset = 0;

    std::int64_t seconds() const { return end - start; }
    ClockSeconds wallClockStart() const { return start + startOffset; }
    ClockSeconds wallClockEnd() const { return end + endOffset; }
};

struct NoiseFigures {
    NoiseSettings settings;
    // A before C; for each weighting the whole run first, then day by day; in each, Lday, Levening,
    // Lnight, Lden, Ldn. A weighting without readings has no rows.
    std::vector<PeriodLevel> periods;
    // A before C, in time order; hours without readings are left out.
    std::vector<HourLevels> hours;
    // A before C, in time order.
    std::vector<ExceedanceEvent> events;
    // In the wall clock: the start of the first reading and the end of the last.
    std::optional<ClockSeconds> first;
    std::optional<ClockSeconds> last;
};

class NoiseAssessment {
public:
    explicit NoiseAssessment(const NoiseSettings& settings = {});
    // A copy goes on from where the original stands: a snapshot of a growing run can be finished
    // while the run goes on.
    NoiseAssessment(const NoiseAssessment& other);
    NoiseAssessment& operator=(const NoiseAssessment& other);
    NoiseAssessment(NoiseAssessment&&) = default;
    NoiseAssessment& operator=(NoiseAssessment&&) = default;
    ~NoiseAssessment() = default;

    // The next reading of the series, in the order of its stamps.
    void add(const TimedReading& reading);
    // The figures of the readings so far; an event still going on ends with the last reading.
    NoiseFigures figures() const;
    const NoiseSettings& settings() const { return settings_; }
    std::int64_t count() const { return count_; }

    // The assessment day and period of a moment under the bounds.
    static QDate AssessmentDay(ClockSeconds time, std::int32_t dayStart);
    static NoisePeriod PeriodOf(std::int32_t hour, const NoisePeriods& periods);

private:
    // The readings of one weighting that lie above the threshold, joined into events.
    class EventTracker {
    public:
        void add(const TimedReading& reading, const EventRules& rules);
        // The readings of the other weighting came in between.
        void interrupt(const EventRules& rules);
        // The events so far, with the one going on.
        std::vector<ExceedanceEvent> events(const NoiseSettings& settings, Weighting weighting) const;

    private:
        struct Stretch {
            ClockSeconds start = 0;
            ClockSeconds end = 0;
            std::int32_t startOffset = 0;
            std::int32_t endOffset = 0;
            double energySeconds = 0.0;
            // The time its readings cover: less than end - start where a reading is missing.
            std::int64_t coveredSeconds = 0;
            std::int32_t maxTenths = 0;
        };
        void keepIfLongEnough(const Stretch& stretch, const EventRules& rules);

        std::vector<Stretch> done_;
        // The stretch going on, at or above the threshold.
        std::optional<Stretch> loud_;
        // The last stretch that ended, while a louder reading may still join it.
        std::optional<Stretch> ended_;
        // The energy and time of the quiet readings since it ended, which join it when it goes on.
        double quietEnergySeconds_ = 0.0;
        std::int64_t quietSeconds_ = 0;
    };

    // A clock hour in its wall clock's offset.
    struct ClockHour {
        LevelAccumulator readings;
        std::int32_t utcOffset = 0;

        ClockSeconds wallClockStart(ClockSeconds key) const { return key + utcOffset; }
    };
    LevelAccumulator& hourOf(const TimedReading& reading);
    // The clock hours of one weighting, with the hours its readings skip inside a day's break.
    void hourRows(Weighting weighting, NoiseFigures& figures) const;
    void periodRows(Weighting weighting, NoiseFigures& figures, const std::vector<ExceedanceEvent>& events) const;

    NoiseSettings settings_;
    // Per weighting, each clock hour by the time its start has as the readings' times (its wall-clock
    // start less its offset, so that the hours are in the order they passed), with the last one used
    // at hand (not copied: a copy finds its own).
    std::array<std::map<ClockSeconds, ClockHour>, 2> hours_;
    std::array<LevelAccumulator*, 2> current_ { nullptr, nullptr };
    std::array<ClockSeconds, 2> currentHour_ { -1, -1 };
    std::array<EventTracker, 2> events_;
    std::optional<Weighting> lastWeighting_;
    // The first reading's start and the last one's end, as the readings' times and in the wall clock.
    std::optional<std::pair<ClockSeconds, ClockSeconds>> first_;
    std::optional<std::pair<ClockSeconds, ClockSeconds>> last_;
    std::int64_t count_ = 0;
};
