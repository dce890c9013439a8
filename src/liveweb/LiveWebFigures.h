#pragma once

// What the live page shows, kept up to date one reading at a time: the latest reading, the last
// hour's readings, the last day's minutes (each minute's equivalent level), the running LAeq, LAmax
// and LA90 of the calendar day, and the period levels and events of the assessment day.
//
// Every figure is worked out once per reading, whatever the number of pages watching: add() returns
// the message that tells every page about the reading, and snapshot() what a page opened later needs
// to draw the same picture. The messages are JSON objects:
//
//   reading:  {"type":"reading","seq":12,"reading":{...},"day":{...}[,"minute":{...}][,"assessment":{...}]}
//   snapshot: {"type":"history","seq":12,"highAlarm":85,"latest":{...},"hour":[[t,level],...],
//              "minutes":[[t,leq,"A"],...],"day":{...},"assessment":{...}}
//
// seq counts the readings from 1, so that a page sees at once whether it missed one. Times ("t") are
// milliseconds since 1970 UTC; each reading carries its offset from UTC ("offset", in seconds) so that
// the page labels its charts with the logger's clock, wherever the browser is. A minute's LAeq is sent
// when the minute is over (the first reading of the next one). The assessment (period levels and
// events) changes slowly and is worked out from every hour of the day, so it is sent with each closed
// minute and with each reading that starts, continues or ends an event rather than with every reading.

#include "core/LiveReading.h"
#include "stats/LevelStatistics.h"
#include "stats/NoiseAssessment.h"

#include <QDate>
#include <QJsonObject>

#include <array>
#include <cstdint>
#include <deque>
#include <optional>

struct LiveWebSettings {
    // Above this level (as the measurement window's alarm: tenths > level × 10) the page shows the
    // level in its alarm colour.
    double highAlarm = 85.0;
    // The period bounds and the event rules of the assessment.
    NoiseSettings noise;
    // How long each reading stands for: the logger's interval, in milliseconds of its clock.
    std::int64_t intervalMs = 1000;
};

class LiveWebFigures {
public:
    // What a page keeps of the readings: the last hour of readings, the last day of minutes.
    static constexpr std::int64_t HourMs = 3600 * 1000;
    static constexpr std::int64_t DayMs = 24 * HourMs;
    // The events a page lists: the latest of the day.
    static constexpr std::size_t ListedEvents = 20;

    explicit LiveWebFigures(const LiveWebSettings& settings);

    // Takes the next reading and returns the message about it; an empty object without wantMessage
    // (no page is open: the message would cost more than the rest of the reading).
    QJsonObject add(const LiveReading& reading, bool wantMessage = true);
    // What a page opened now needs; without readings, the settings and empty lists.
    QJsonObject snapshot() const;

    std::int64_t readingCount() const { return seq_; }
    const LiveWebSettings& settings() const { return settings_; }

private:
    struct HourPoint {
        std::int64_t t;
        std::int32_t tenths;
    };
    struct MinutePoint {
        std::int64_t t;
        double leq;
        Weighting weighting;
    };
    // The minute going on: its readings' energy, of one weighting.
    struct OpenMinute {
        std::int64_t t = 0;
        Weighting weighting = Weighting::A;
        double energy = 0.0;
        std::int64_t count = 0;
    };
    // The readings not yet handed to the assessment: readings shorter than a second are gathered
    // until they make whole seconds, since the assessment counts time in seconds.
    struct OpenSeconds {
        // The wall clock less utcOffset, as the assessment takes times.
        ClockSeconds start = 0;
        Weighting weighting = Weighting::A;
        double energyMs = 0.0;
        std::int64_t ms = 0;
        std::int32_t utcOffset = 0;
    };

    QJsonObject readingJson(const LiveReading& reading) const;
    // Closes the minute going on when the reading belongs to another; returns the closed one.
    std::optional<MinutePoint> addToMinutes(std::int64_t t, std::int32_t tenths, Weighting weighting);
    void addToDay(const QDate& date, std::int32_t tenths, Weighting weighting);
    // True when the assessment's figures may have changed in a way a page should see now.
    // time: the reading's wall clock less its offset from UTC, so that a change of the clock repeats
    // or skips an hour of the assessment rather than folding two hours into one.
    bool addToAssessment(ClockSeconds time, std::int32_t utcOffset, std::int32_t tenths, Weighting weighting);
    void handOnSeconds();
    QJsonObject dayJson() const;
    QJsonObject assessmentJson() const;

    LiveWebSettings settings_;
    std::int64_t seq_ = 0;
    std::optional<LiveReading> latest_;
    std::deque<HourPoint> hour_;
    std::deque<MinutePoint> minutes_;
    std::optional<OpenMinute> openMinute_;
    QDate day_;
    std::array<LevelAccumulator, 2> dayLevels_;
    Weighting weighting_ = Weighting::A;
    QDate assessmentDay_;
    NoiseAssessment assessment_;
    std::optional<OpenSeconds> openSeconds_;
    // The last stretch handed to the assessment, for telling a break in the readings.
    std::optional<TimedReading> lastHanded_;
    // The last stretch handed on was at or above the events' threshold.
    bool loud_ = false;
    bool assessmentChanged_ = false;
};
