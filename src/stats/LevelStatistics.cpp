#include "stats/LevelStatistics.h"

#include <algorithm>
#include <cmath>

namespace level_grid {

const std::array<double, Steps> Energy = [] {
    std::array<double, Steps> energy {};
    for (std::int32_t t = 0; t < Steps; ++t)
        energy[static_cast<std::size_t>(t)] = std::pow(10.0, t / 100.0);
    return energy;
}();

} // namespace level_grid

namespace {

double LevelOfStep(std::int32_t tenths)
{
    return tenths / 10.0;
}

} // namespace

char WeightingLetter(Weighting weighting)
{
    return weighting == Weighting::C ? 'C' : 'A';
}

bool LevelAccumulator::add(double level, std::int32_t intervalSeconds)
{
    // Compared before rounding, so that NaN and levels beyond any integer are refused too.
    if (!(level >= -0.05 && level < (level_grid::Steps - 0.5) / 10.0))
        return false;
    return addTenths(static_cast<std::int32_t>(std::lround(level * 10.0)), intervalSeconds);
}

void LevelAccumulator::clear()
{
    bins_.clear();
    base_ = 0;
    count_ = 0;
    withoutInterval_ = 0;
    seconds_ = 0;
    energy_ = 0.0;
    energyTime_ = 0.0;
    lowest_ = 0;
    highest_ = 0;
}

void LevelAccumulator::cover(std::int32_t tenths)
{
    // 10 dB either side of the first reading, then at least as much again as is held.
    constexpr std::int32_t Margin = 100;
    if (bins_.empty()) {
        base_ = std::max(0, tenths - Margin);
        bins_.resize(static_cast<std::size_t>(std::min(level_grid::Steps, tenths + Margin + 1) - base_));
        return;
    }
    const auto size = static_cast<std::int32_t>(bins_.size());
    const std::int32_t grow = std::max(Margin, size);
    const std::int32_t low = tenths < base_ ? std::max(0, std::min(tenths, base_ - grow)) : base_;
    const std::int32_t high = tenths >= base_ + size
        ? std::min(level_grid::Steps, std::max(tenths + 1, base_ + size + grow))
        : base_ + size;
    std::vector<Bin> wider(static_cast<std::size_t>(high - low));
    std::copy(bins_.begin(), bins_.end(), wider.begin() + (base_ - low));
    bins_ = std::move(wider);
    base_ = low;
}

std::optional<std::int64_t> LevelAccumulator::durationSeconds() const
{
    if (!intervalsKnown())
        return std::nullopt;
    return seconds_;
}

std::optional<double> LevelAccumulator::equivalentLevel() const
{
    if (count_ == 0)
        return std::nullopt;
    if (intervalsKnown())
        return 10.0 * std::log10(energyTime_ / static_cast<double>(seconds_));
    return 10.0 * std::log10(energy_ / static_cast<double>(count_));
}

std::optional<double> LevelAccumulator::percentileLevel(int n) const
{
    if (count_ == 0 || n < 1 || n > 99)
        return std::nullopt;
    const std::int64_t total = intervalsKnown() ? seconds_ : count_;
    // "At most N % above" in whole numbers: above × 100 ≤ N × total, with no rounding to go wrong.
    const std::int64_t allowed = static_cast<std::int64_t>(n) * total;
    std::int64_t above = 0;
    for (std::int32_t step = highest_; step > lowest_; --step) {
        above += weightOf(binAt(step));
        // Everything at this step and louder is more than allowed above the step below: this step is
        // the lowest level that keeps within it.
        if (above * 100 > allowed)
            return LevelOfStep(step);
    }
    return LevelOfStep(lowest_);
}

std::optional<double> LevelAccumulator::exposureLevel() const
{
    if (!intervalsKnown())
        return std::nullopt;
    // The energy over the run's duration, per second.
    return 10.0 * std::log10(energyTime_);
}

std::optional<double> LevelAccumulator::maximum() const
{
    if (count_ == 0)
        return std::nullopt;
    return LevelOfStep(highest_);
}

std::optional<double> LevelAccumulator::minimum() const
{
    if (count_ == 0)
        return std::nullopt;
    return LevelOfStep(lowest_);
}

std::int32_t LevelAccumulator::firstStepAbove(double level)
{
    // The live alarm compares the reading's tenths with level × 10 as a double; so does this.
    const double limit = std::floor(level * 10.0);
    if (!(limit < level_grid::Steps))
        return level_grid::Steps;
    if (limit < 0.0)
        return 0;
    return static_cast<std::int32_t>(limit) + 1;
}

std::int64_t LevelAccumulator::readingsAbove(double level) const
{
    std::int64_t readings = 0;
    if (count_ == 0)
        return 0;
    for (std::int32_t step = std::max(firstStepAbove(level), lowest_); step <= highest_; ++step)
        readings += binAt(step).readings;
    return readings;
}

std::optional<std::int64_t> LevelAccumulator::secondsAbove(double level) const
{
    if (!intervalsKnown())
        return std::nullopt;
    std::int64_t seconds = 0;
    for (std::int32_t step = std::max(firstStepAbove(level), lowest_); step <= highest_; ++step)
        seconds += binAt(step).seconds;
    return seconds;
}

LevelFigures LevelAccumulator::figures(Weighting weighting, double highAlarmLevel) const
{
    LevelFigures figures;
    figures.weighting = weighting;
    figures.count = count_;
    figures.leq = equivalentLevel();
    figures.l10 = percentileLevel(10);
    figures.l50 = percentileLevel(50);
    figures.l90 = percentileLevel(90);
    figures.lmax = maximum();
    figures.lmin = minimum();
    figures.durationSeconds = durationSeconds();
    figures.sel = exposureLevel();
    figures.highAlarmLevel = highAlarmLevel;
    figures.readingsAboveHighAlarm = readingsAbove(highAlarmLevel);
    figures.secondsAboveHighAlarm = secondsAbove(highAlarmLevel);
    return figures;
}

void WeightedLevelStatistics::clear()
{
    a_.clear();
    c_.clear();
    unreadableRows_ = 0;
}
