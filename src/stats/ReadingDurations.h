#pragma once

// How long each reading of a series lasted, from its time stamps, where nothing else says so (a data
// file keeps no interval).
//
// A meter logs at a fixed interval, but a live run's stamps wobble by a second (a reading stamped
// 10:00:00.999 and the next 10:00:02.001 are two seconds apart on paper), a download may hold runs of
// different intervals one after the other, and a series may pause. So:
// - a step between two readings is *regular* when it is positive and equals the step before or the
//   step after it: the run's interval;
// - a reading lasts its own step when that is regular, else the last regular step before it (the
//   first after it at the start of a series); where no step is regular at all, the median of the
//   positive steps;
// - a step of more than GapSteps times the reading's duration, or a step back, is a break: the time
//   in between is not covered, and the reading after it is marked.
// A reading's duration is known once the two readings after it have come, so the durations can be
// worked out as a run grows, a few readings behind it.

#include "stats/StampedSeries.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

inline constexpr std::int32_t GapSteps = 3;

struct TimedReading {
    // The wall clock less utcOffset (see StampedReading).
    ClockSeconds time = 0;
    // Always above zero.
    std::int32_t seconds = 0;
    std::int32_t tenths = 0;
    Weighting weighting = Weighting::A;
    // The reading before it ended more than a few of its steps earlier, or came later: the series
    // broke off in between.
    bool afterBreak = false;
    std::int32_t utcOffset = 0;

    ClockSeconds wallClock() const { return time + utcOffset; }
};

// Whether the time from one reading to the next is a break, for a reading that lasted seconds.
inline bool IsBreak(ClockSeconds step, std::int32_t seconds)
{
    return step < 0 || step > static_cast<ClockSeconds>(GapSteps) * seconds;
}

class ReadingDurations {
public:
    using Sink = std::function<void(const TimedReading&)>;

    // The next reading of the series; every reading whose duration is now known goes to decided, in
    // order.
    void add(const StampedReading& reading, const Sink& decided);
    // The readings still waiting, with what is known now: the end of the series. False, and nothing
    // handed on, when no two readings of the series are a positive step apart, so that no duration
    // can be known; the readings given stay waiting then.
    bool finish(const Sink& decided);

private:
    struct Pending {
        StampedReading reading;
        // To the next reading, once it has come.
        std::optional<ClockSeconds> step;
    };
    bool isRegular(std::size_t index) const;
    // Hands on pending readings from the front while their duration is known.
    void handOn(const Sink& decided, bool atEnd);
    void give(const Pending& pending, std::int32_t seconds, const Sink& decided);
    std::optional<std::int32_t> medianPositiveStep() const;
    std::optional<std::int32_t> firstRegularAfterFront(bool atEnd);

    std::deque<Pending> pending_;
    // The step before the front of pending_, for telling whether its own step is regular.
    std::optional<ClockSeconds> stepBefore_;
    std::optional<std::int32_t> lastRegular_;
    // At the start of a series: the first regular step found after the front, and how far the
    // search for it has looked.
    std::optional<std::int32_t> firstRegularAfter_;
    std::size_t searched_ = 0;
    // Waiting steps that could be an interval.
    std::int64_t positiveSteps_ = 0;
    // The last reading handed on.
    std::optional<TimedReading> last_;
};

// A whole series' readings with their durations. Nothing when no duration can be known (fewer than
// two readings, or all at one moment).
std::optional<std::vector<TimedReading>> TimedReadingsOf(const std::vector<StampedReading>& readings);
