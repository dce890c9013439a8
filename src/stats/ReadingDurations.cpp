#include "stats/ReadingDurations.h"

#include <algorithm>

namespace {

// No meter logs less often than once a day: a longer step is a pause, never an interval.
constexpr ClockSeconds LongestInterval = SecondsPerDay;
// Readings waiting at the start of a series for a regular step before the median stands in: a series
// with no regular step at all must not keep the whole run waiting.
constexpr std::size_t MostWaiting = 256;

bool CanBeInterval(const std::optional<ClockSeconds>& step)
{
    return step && *step > 0 && *step <= LongestInterval;
}

} // namespace

void ReadingDurations::add(const StampedReading& reading, const Sink& decided)
{
    if (!pending_.empty()) {
        pending_.back().step = reading.time - pending_.back().reading.time;
        if (CanBeInterval(pending_.back().step))
            ++positiveSteps_;
    }
    pending_.push_back({ reading, std::nullopt });
    handOn(decided, false);
}

bool ReadingDurations::finish(const Sink& decided)
{
    // Nothing has been handed on while no step could serve as a duration, so the waiting readings
    // are the whole series then.
    if (!last_ && positiveSteps_ == 0)
        return false;
    handOn(decided, true);
    return true;
}

bool ReadingDurations::isRegular(std::size_t index) const
{
    const std::optional<ClockSeconds>& step = pending_[index].step;
    if (!CanBeInterval(step))
        return false;
    const std::optional<ClockSeconds>& before = index == 0 ? stepBefore_ : pending_[index - 1].step;
    const bool hasAfter = index + 1 < pending_.size();
    return step == before || (hasAfter && step == pending_[index + 1].step);
}

std::optional<std::int32_t> ReadingDurations::medianPositiveStep() const
{
    std::vector<ClockSeconds> steps;
    for (const Pending& pending : pending_) {
        if (CanBeInterval(pending.step))
            steps.push_back(*pending.step);
    }
    if (steps.empty())
        return std::nullopt;
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    return static_cast<std::int32_t>(*middle);
}

void ReadingDurations::handOn(const Sink& decided, bool atEnd)
{
    while (!pending_.empty()) {
        const Pending& front = pending_.front();
        // Whether the front's step is regular hangs on the step after it, known once two more
        // readings have come.
        const bool afterKnown = pending_.size() >= 2 && pending_[1].step.has_value();
        if (!atEnd && !afterKnown)
            return;
        std::optional<std::int32_t> seconds;
        if (isRegular(0)) {
            lastRegular_ = static_cast<std::int32_t>(*front.step);
            seconds = lastRegular_;
        } else if (lastRegular_) {
            seconds = lastRegular_;
        } else {
            seconds = firstRegularAfterFront(atEnd);
            // Only while some step is positive can the median stand in; until then the readings wait.
            if (!seconds && positiveSteps_ > 0 && (atEnd || pending_.size() > MostWaiting)) {
                seconds = medianPositiveStep();
                lastRegular_ = seconds;
            }
            if (!seconds)
                return;
        }
        give(front, *seconds, decided);
        stepBefore_ = front.step;
        if (CanBeInterval(front.step))
            --positiveSteps_;
        pending_.pop_front();
        if (searched_ > 0)
            --searched_;
    }
}

std::optional<std::int32_t> ReadingDurations::firstRegularAfterFront(bool atEnd)
{
    // The start of a series: the first regular step after the front, once one is known. The search
    // goes on from where it stopped, so that readings waiting long are not looked at again and again.
    if (firstRegularAfter_)
        return firstRegularAfter_;
    for (std::size_t i = std::max<std::size_t>(searched_, 1); i < pending_.size(); ++i) {
        const bool known = atEnd || (i + 1 < pending_.size() && pending_[i + 1].step.has_value());
        if (!known) {
            searched_ = i;
            return std::nullopt;
        }
        if (isRegular(i)) {
            firstRegularAfter_ = static_cast<std::int32_t>(*pending_[i].step);
            return firstRegularAfter_;
        }
    }
    searched_ = pending_.size();
    return std::nullopt;
}

void ReadingDurations::give(const Pending& pending, std::int32_t seconds, const Sink& decided)
{
    TimedReading timed { pending.reading.time, seconds, pending.reading.tenths, pending.reading.weighting, false,
        pending.reading.utcOffset };
    if (last_)
        timed.afterBreak = IsBreak(timed.time - last_->time, last_->seconds);
    last_ = timed;
    decided(timed);
}

std::optional<std::vector<TimedReading>> TimedReadingsOf(const std::vector<StampedReading>& readings)
{
    std::vector<TimedReading> timed;
    timed.reserve(readings.size());
    const auto keep = [&timed](const TimedReading& reading) { timed.push_back(reading); };
    ReadingDurations durations;
    for (const StampedReading& reading : readings)
        durations.add(reading, keep);
    if (!durations.finish(keep))
        return std::nullopt;
    return timed;
}
