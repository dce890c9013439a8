#pragma once

// What noise is assessed by: the equivalent continuous level (an energy average, not the arithmetic
// average of decibels the windows' AVG shows), the levels exceeded 10, 50 and 90 % of the time, the
// sound exposure level and the time spent above the high alarm level.
//
// The windows feed an accumulator one reading at a time as the readings arrive, at a cost that does
// not grow with the run; every figure is then derived from its sums and its histogram on the 0.1 dB
// grid, so a query never sorts or re-reads the readings.
//
// Each reading stands for the time until the next one: its interval (1 s live, the run's interval for
// a download). Where every reading's interval is known, the levels are averaged over that time, as
// IEC 61672-1 defines the time-average level, and the percentile levels count time; while all
// readings share one interval that is the same as averaging and counting readings. Where some
// interval is not known (a data file, readings logged before any run header), each reading counts
// once, and the duration, SEL and time above the alarm are not known.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

enum class Weighting { A, C };

// "A" or "C", as in LAeq and LC10.
char WeightingLetter(Weighting weighting);

// The figures of one weighting's readings. A level is absent while there are no readings; the
// duration, SEL and time above the alarm also while some reading's interval is not known.
struct LevelFigures {
    Weighting weighting = Weighting::A;
    std::int64_t count = 0;
    std::optional<double> leq;
    std::optional<double> l10;
    std::optional<double> l50;
    std::optional<double> l90;
    std::optional<double> lmax;
    std::optional<double> lmin;
    std::optional<std::int64_t> durationSeconds;
    std::optional<double> sel;
    double highAlarmLevel = 0.0;
    std::int64_t readingsAboveHighAlarm = 0;
    std::optional<std::int64_t> secondsAboveHighAlarm;
};

namespace level_grid {
// Readings are counted in tenths of a dB from 0.0 to 409.5 dB: every level a 12-bit word of the
// meter's memory can carry, and far beyond the 140 dB a live reading is capped at.
inline constexpr std::int32_t Steps = 4096;
// 10^(t/100) for every step t: the energy of a reading of t tenths of a dB, relative to 0 dB. A
// table rather than pow() per reading, which alone would cost more than the rest of a reading.
extern const std::array<double, Steps> Energy;
} // namespace level_grid

class LevelAccumulator {
public:
    // One reading of tenths of a dB that stands for intervalSeconds (0 or less: not known). A level
    // off the grid is no reading this program can have been given: it is not counted, and false is
    // returned.
    bool addTenths(std::int32_t tenths, std::int32_t intervalSeconds)
    {
        if (tenths < 0 || tenths >= level_grid::Steps)
            return false;
        const auto index = static_cast<std::size_t>(tenths - base_);
        if (tenths < base_ || index >= bins_.size()) {
            cover(tenths);
            return addTenths(tenths, intervalSeconds);
        }
        Bin& bin = bins_[index];
        const double energy = level_grid::Energy[static_cast<std::size_t>(tenths)];
        ++bin.readings;
        energy_ += energy;
        if (intervalSeconds > 0) {
            bin.seconds += intervalSeconds;
            seconds_ += intervalSeconds;
            energyTime_ += energy * intervalSeconds;
        } else {
            ++withoutInterval_;
        }
        if (count_++ == 0) {
            lowest_ = tenths;
            highest_ = tenths;
        } else if (tenths < lowest_) {
            lowest_ = tenths;
        } else if (tenths > highest_) {
            highest_ = tenths;
        }
        return true;
    }
    // A level in dB, rounded to the nearest tenth.
    bool add(double level, std::int32_t intervalSeconds);
    // Forgets every reading.
    void clear();

    std::int64_t count() const { return count_; }
    // Every reading's interval is known (and there is at least one reading).
    bool intervalsKnown() const { return count_ > 0 && withoutInterval_ == 0; }
    std::optional<std::int64_t> durationSeconds() const;

    // Leq: 10·log10 of the mean energy of the readings (over time where every interval is known).
    std::optional<double> equivalentLevel() const;
    // LN for N from 1 to 99: the lowest level on the grid such that at most N % of the readings (of
    // the time) lie above it. Always one of the readings' levels.
    std::optional<double> percentileLevel(int n) const;
    // SEL: 10·log10 of the energy over the duration, per second: Leq + 10·log10(T / 1 s).
    std::optional<double> exposureLevel() const;
    // The sum of 10^(L/10) × the reading's interval over the readings whose interval is known: what
    // the levels of a longer time are figured from (an hour's with the other hours of its period).
    double energySeconds() const { return energyTime_; }
    std::optional<double> maximum() const;
    std::optional<double> minimum() const;
    // Readings louder than level, and the time they stand for. A reading counts as louder exactly
    // when the alarm sounds for it: when its tenths exceed level × 10.
    std::int64_t readingsAbove(double level) const;
    std::optional<std::int64_t> secondsAbove(double level) const;

    LevelFigures figures(Weighting weighting, double highAlarmLevel) const;

private:
    struct Bin {
        std::int64_t readings = 0;
        std::int64_t seconds = 0;
    };
    // The first step louder than level; Steps when none is.
    static std::int32_t firstStepAbove(double level);
    // Where every interval is known the bins weigh by seconds, else by readings.
    std::int64_t weightOf(const Bin& bin) const { return intervalsKnown() ? bin.seconds : bin.readings; }
    const Bin& binAt(std::int32_t tenths) const { return bins_[static_cast<std::size_t>(tenths - base_)]; }
    // Widens the histogram to hold tenths, by a margin so that a level wandering upward does not
    // widen it at every new reading.
    void cover(std::int32_t tenths);

    // The histogram holds the levels from base_ on: only the range the readings have reached, so
    // that an accumulator for each hour of a long run stays small.
    std::vector<Bin> bins_;
    std::int32_t base_ = 0;
    std::int64_t count_ = 0;
    std::int64_t withoutInterval_ = 0;
    std::int64_t seconds_ = 0;
    double energy_ = 0.0;
    double energyTime_ = 0.0;
    std::int32_t lowest_ = 0;
    std::int32_t highest_ = 0;
};

// The readings of both weightings, never mixed: A and C each have their own accumulator.
class WeightedLevelStatistics {
public:
    bool add(Weighting weighting, std::int32_t tenths, std::int32_t intervalSeconds)
    {
        return of(weighting).addTenths(tenths, intervalSeconds);
    }
    LevelAccumulator& of(Weighting weighting) { return weighting == Weighting::C ? c_ : a_; }
    const LevelAccumulator& of(Weighting weighting) const { return weighting == Weighting::C ? c_ : a_; }
    std::int64_t count() const { return a_.count() + c_.count(); }
    void clear();

    // Rows of a table that carried no level or weighting this program writes, and were left out.
    std::int64_t unreadableRows() const { return unreadableRows_; }
    void countUnreadableRow() { ++unreadableRows_; }

private:
    LevelAccumulator a_;
    LevelAccumulator c_;
    std::int64_t unreadableRows_ = 0;
};
