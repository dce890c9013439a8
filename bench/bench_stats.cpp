// The sound-level statistics accumulator with a million readings, as a long run feeds it:
// - BM_MillionReadingsIntoTheAccumulator: one reading at a time, A- and C-weighted mixed, each
//   standing for 1 s; time_per_reading is the whole run's time divided by its readings (target:
//   below 20 ns);
// - BM_FiguresOfAMillionReadings: every figure of both weightings, as the labelled rows the window,
//   data sheet and spreadsheet show, from an accumulator holding the million readings (target: below
//   1 ms).
#include "stats/LevelStatistics.h"
#include "stats/StatisticsRows.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr std::int64_t Readings = 1'000'000;

struct Reading {
    Weighting weighting;
    std::int32_t tenths;
};

// A level wandering between about 35 and 125 dB with a few dB of scatter, so that the readings
// spread over most of the histogram; one reading in eight C-weighted.
std::vector<Reading> MillionReadings()
{
    std::vector<Reading> readings;
    readings.reserve(Readings);
    for (std::int64_t i = 0; i < Readings; ++i) {
        std::uint64_t h = static_cast<std::uint64_t>(i) * 0x9E3779B97F4A7C15ULL;
        h ^= h >> 29;
        const double scatter = static_cast<double>(h % 1000) / 1000.0 * 10.0 - 5.0;
        const double level = 80.0 + 40.0 * std::sin(static_cast<double>(i) * 0.0007) + scatter;
        readings.push_back(
            { (h >> 40) % 8 == 0 ? Weighting::C : Weighting::A, static_cast<std::int32_t>(std::lround(level * 10.0)) });
    }
    return readings;
}

const std::vector<Reading>& TheReadings()
{
    static const std::vector<Reading> readings = MillionReadings();
    return readings;
}

void BM_MillionReadingsIntoTheAccumulator(benchmark::State& state)
{
    const std::vector<Reading>& readings = TheReadings();
    WeightedLevelStatistics statistics;
    for (auto _ : state) {
        state.PauseTiming();
        statistics.clear();
        state.ResumeTiming();
        for (const Reading& reading : readings)
            statistics.add(reading.weighting, reading.tenths, 1);
        benchmark::DoNotOptimize(statistics);
    }
    state.counters["readings"] = static_cast<double>(statistics.count());
    // Seconds per reading, shown with its SI prefix ("7.1n" is 7.1 ns).
    state.counters["time_per_reading"] = benchmark::Counter(
        static_cast<double>(Readings), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MillionReadingsIntoTheAccumulator)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FiguresOfAMillionReadings(benchmark::State& state)
{
    WeightedLevelStatistics statistics;
    for (const Reading& reading : TheReadings())
        statistics.add(reading.weighting, reading.tenths, 1);
    std::size_t rows = 0;
    for (auto _ : state) {
        const std::vector<StatisticsRow> figures = StatisticsRows(statistics, 85.0);
        rows = figures.size();
        benchmark::DoNotOptimize(figures.data());
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_FiguresOfAMillionReadings)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
