#pragma once

// A reading of the meter taken live, and the words every consumer of live readings uses for it: the
// measurement window's level text, and the lines and messages the command-line tool writes.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The meter's readings are tenths of a dB; anything above 140.0 dB is shown and kept as 140.0.
constexpr std::int32_t HighestLiveReading = 1400;

// The limits of the meter's measurement ranges in dB, by the range code of its status byte.
struct RangeLimit {
    std::int32_t low;
    std::int32_t high;
};
inline constexpr std::array<RangeLimit, 5> RangeLimits { {
    { 30, 130 },
    { 30, 80 },
    { 50, 100 },
    { 60, 110 },
    { 80, 130 },
} };

struct LiveReading {
    QDateTime time; // when the reply arrived, local time
    std::int32_t tenths = 0; // the level, already capped at HighestLiveReading
    std::int32_t flags = 0; // the meter's status byte (MeterStatus)
};

// The level with one decimal and always a point, whatever the system's decimal separator: this text
// is stored, written to files and read by other programs. 653 -> "65.3".
QString LevelText(std::int32_t tenths);
// "A" or "C".
QString WeightingText(std::int32_t flags);
// "30-130" for a range code of 0 to 4; codes 5 to 15 name no range and give "unknown".
QString RangeText(std::int32_t flags);
// Whether the level lies below or above the limits of the reading's range, as the meter's display
// shows UNDER and OVER; nothing for a range code that names no range.
struct RangeExcess {
    bool under = false;
    bool over = false;
};
std::optional<RangeExcess> RangeExcessOf(const LiveReading& reading);
// "fast" or "slow".
QString ResponseText(std::int32_t flags);
bool MaxHoldOn(std::int32_t flags);
// ISO 8601 with milliseconds and the offset from UTC spelled out (never "Z"), so that a reader of a
// log written across a change to or from summer time can still order the lines:
// "2026-12-10T09:15:02.250+01:00".
QString IsoTimeText(const QDateTime& time);
// One JSON object on one line, without the line end:
// {"time":"2026-12-10T09:15:02.250+01:00","level":65.3,"weighting":"A","range":"30-130",
//  "response":"fast","max_hold":false}
QByteArray LiveReadingJson(const LiveReading& reading);
