// The graph under long runs: appending a million readings one at a time while the sample axis
// follows the newest, and the cost of putting one new reading on screen with 1,000 and with
// 1,000,000 readings in the graph, both while following (the newest 60 shown) and with the whole
// run shown (after "Reset Zoom"), where every pixel column is reduced from many readings.
#include "widgets/GraphPanel.h"

#include <QApplication>
#include <QChartView>
#include <QLineSeries>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <memory>

namespace {

// Two kinds of run. "swing": a wave of 125 readings between 40 and 100 dB, so that with a whole
// run of a million readings on screen every pixel column spans 60 dB (the most ink a run can
// need). "noise": a level drifting around 60 dB with a few dB of scatter from reading to reading,
// more like a real measurement.
enum Signal { Swing = 0, Noise = 1 };

double reading(std::int64_t index, Signal signal = Swing)
{
    const auto x = static_cast<double>(index);
    if (signal == Swing)
        return 70.0 + 30.0 * std::sin(x * 0.05);
    // A fixed hash of the index gives the same scatter on every run.
    std::uint64_t h = static_cast<std::uint64_t>(index) * 0x9E3779B97F4A7C15ULL;
    h ^= h >> 29;
    const double scatter = static_cast<double>(h % 1000) / 1000.0 * 6.0 - 3.0;
    return 60.0 + 10.0 * std::sin(x * 0.0007) + scatter;
}

std::unique_ptr<GraphPanel> shownGraph()
{
    auto graph = std::make_unique<GraphPanel>(GraphConfig::liveWindow());
    graph->setTitle(QStringLiteral("SPL Graph Analyzing"));
    graph->setValueAxisTitle(QStringLiteral("SPL  Unit: DB"));
    graph->setSeriesColor(0, Qt::red);
    graph->resize(1200, 700);
    graph->show();
    QApplication::processEvents();
    return graph;
}

// One million readings, each appended on its own, then one event-loop turn that brings the chart
// up to date. The time is the whole run.
void BM_AppendMillionFollowing(benchmark::State& state)
{
    constexpr std::int64_t count = 1'000'000;
    for (auto _ : state) {
        state.PauseTiming();
        auto graph = shownGraph();
        state.ResumeTiming();
        for (std::int64_t i = 0; i < count; ++i)
            graph->appendValue(0, reading(i));
        QApplication::processEvents();
        benchmark::DoNotOptimize(graph->axisRange(GraphAxis::Sample).maximum);
        state.PauseTiming();
        graph.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_AppendMillionFollowing)->Unit(benchmark::kMillisecond)->Iterations(3);

// As above, but the event loop turns (and the chart repaints) after every 1,000th reading, as
// during a download that keeps the window responsive.
void BM_AppendMillionFollowingWithEventLoop(benchmark::State& state)
{
    constexpr std::int64_t count = 1'000'000;
    for (auto _ : state) {
        state.PauseTiming();
        auto graph = shownGraph();
        state.ResumeTiming();
        for (std::int64_t i = 0; i < count; ++i) {
            graph->appendValue(0, reading(i));
            if (i % 1000 == 999)
                QApplication::processEvents();
        }
        QApplication::processEvents();
        state.PauseTiming();
        graph.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_AppendMillionFollowingWithEventLoop)->Unit(benchmark::kMillisecond)->Iterations(3);

// One new reading on screen: append, rebuild the chart series, repaint the chart.
// range(0): readings already in the graph; range(1): 1 to show the whole run, 0 to follow;
// range(2): the signal.
void BM_NewReadingRepaint(benchmark::State& state)
{
    const std::int64_t count = state.range(0);
    const bool wholeRun = state.range(1) != 0;
    const auto signal = static_cast<Signal>(state.range(2));
    auto graph = shownGraph();
    graph->setRepaintSuspended(true);
    for (std::int64_t i = 0; i < count; ++i)
        graph->appendValue(0, reading(i, signal));
    graph->setRepaintSuspended(false);
    if (wholeRun)
        graph->resetZoom();
    graph->flush();
    QApplication::processEvents();

    QWidget* viewport = graph->chartView()->viewport();
    std::int64_t next = count;
    for (auto _ : state) {
        graph->appendValue(0, reading(next++, signal));
        graph->flush();
        viewport->repaint();
    }
    state.counters["shown_points"] = static_cast<double>(graph->series(0)->count());
}
BENCHMARK(BM_NewReadingRepaint)
    ->ArgsProduct({ { 1'000, 1'000'000 }, { 0, 1 }, { Swing, Noise } })
    ->ArgNames({ "points", "whole_run", "noise" })
    ->Unit(benchmark::kMillisecond);

// The repaint alone, nothing changed, whole run shown: what any expose of the window costs.
void BM_RepaintOnly(benchmark::State& state)
{
    const std::int64_t count = state.range(0);
    const auto signal = static_cast<Signal>(state.range(1));
    auto graph = shownGraph();
    graph->setRepaintSuspended(true);
    for (std::int64_t i = 0; i < count; ++i)
        graph->appendValue(0, reading(i, signal));
    graph->setRepaintSuspended(false);
    graph->resetZoom();
    graph->flush();
    QApplication::processEvents();
    QWidget* viewport = graph->chartView()->viewport();
    for (auto _ : state)
        viewport->repaint();
}
BENCHMARK(BM_RepaintOnly)
    ->ArgsProduct({ { 1'000, 1'000'000 }, { Swing, Noise } })
    ->ArgNames({ "points", "noise" })
    ->Unit(benchmark::kMillisecond);

} // namespace
