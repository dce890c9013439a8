// A million readings into the measurement window, each delivered the way the meter link delivers
// it: SaveRead decodes the reply in read mode 1 and sends WM_NEWREADING to the shown window, whose
// handler stores the row in the SQLite table, moves the grid to it, updates the read-outs, the
// statistics and the graph.
//
// The run goes in bulk, the event loop turning every 64 readings, as fast as the window takes them.
// Around reading 1,000 and at the end of the run 1,000 readings are instead delivered the way they
// come from the meter, once the screen is up to date, and timed apart. Reported:
// - handler_us_at_1k / handler_us_at_1M: the median time of SaveRead, that is the whole
//   synchronous handling of WM_NEWREADING: alarms, read-outs, arc, the row into the SQLite table
//   and the grid moved to it, statistics, footer and graph;
// - paint_us_at_1k / paint_us_at_1M: the median of the event-loop turn after it, which brings the
//   graph up to date and repaints what changed;
// - bulk_us_per_reading: the whole run's time divided by its readings;
// - rss_MB: the process's resident memory after the run.
#include "BenchModule.h"
#include "core/systemvar.h"
#include "measure/Measuring.h"
#include "meter/SimulatedMeter.h"
#include "store/SqliteReadingStore.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// A level drifting around 60 dB with a few dB of scatter, as tenths of a dB.
int levelTenths(std::int64_t index)
{
    std::uint64_t h = static_cast<std::uint64_t>(index) * 0x9E3779B97F4A7C15ULL;
    h ^= h >> 29;
    const double scatter = static_cast<double>(h % 1000) / 1000.0 * 6.0 - 3.0;
    return static_cast<int>(std::lround((60.0 + 10.0 * std::sin(static_cast<double>(index) * 0.0007) + scatter) * 10));
}

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1.0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1.0;
}

double medianMicroseconds(std::vector<double> samples)
{
    if (samples.empty())
        return 0.0;
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

struct Rig : BenchModule {
    std::unique_ptr<TForm5> window;
    std::int64_t delivered = 0;

    Rig()
    {
        window = std::make_unique<TForm5>(module, printer);
        window->resize(1280, 800);
        window->show();
        QApplication::processEvents();
        module.ChildWindowOpened(ChildWindowKind::Measure, window.get());
        module.ReadMode = 1;
    }

    // One reply, as the read thread hands it over; returns the time SaveRead took, in microseconds.
    double deliver()
    {
        const int tenths = levelTenths(delivered++);
        const std::uint8_t reply[]
            = { static_cast<std::uint8_t>(tenths >> 8), static_cast<std::uint8_t>(tenths & 0xFF), 0x40 };
        const auto begin = std::chrono::steady_clock::now();
        module.SaveRead(nullptr, 0, reply, 3);
        const auto end = std::chrono::steady_clock::now();
        return std::chrono::duration<double, std::micro>(end - begin).count();
    }

    // One reading with the screen up to date before it: the handler's time and the time of the
    // event-loop turn that follows, in microseconds.
    std::pair<double, double> deliverAsTheMeterDoes()
    {
        QApplication::processEvents();
        const double handler = deliver();
        const auto begin = std::chrono::steady_clock::now();
        QApplication::processEvents();
        const auto end = std::chrono::steady_clock::now();
        return { handler, std::chrono::duration<double, std::micro>(end - begin).count() };
    }
};

void BM_MillionReadingsIntoTheWindow(benchmark::State& state)
{
    // DECIMORA_BENCH_READINGS shortens the run, for profiling.
    const std::int64_t total = std::max<std::int64_t>(qEnvironmentVariableIntValue("DECIMORA_BENCH_READINGS") > 0
            ? qEnvironmentVariableIntValue("DECIMORA_BENCH_READINGS")
            : 1'000'000,
        5'000);
    constexpr int sampled = 1'000;
    for (auto _ : state) {
        Rig rig;
        std::vector<double> handlerEarly;
        std::vector<double> handlerLate;
        std::vector<double> paintEarly;
        std::vector<double> paintLate;
        const auto sample = [&rig](std::vector<double>& handler, std::vector<double>& paint) {
            for (int i = 0; i < sampled; ++i) {
                const auto [handlerUs, paintUs] = rig.deliverAsTheMeterDoes();
                handler.push_back(handlerUs);
                paint.push_back(paintUs);
            }
        };

        const auto begin = std::chrono::steady_clock::now();
        while (rig.delivered < total - sampled) {
            if (rig.delivered == 500)
                sample(handlerEarly, paintEarly);
            rig.deliver();
            if (rig.delivered % 64 == 0)
                QApplication::processEvents();
        }
        sample(handlerLate, paintLate);
        const auto end = std::chrono::steady_clock::now();

        state.counters["readings"] = static_cast<double>(rig.delivered);
        state.counters["rows"] = static_cast<double>(rig.module.MeaData->rowCount());
        state.counters["handler_us_at_1k"] = medianMicroseconds(handlerEarly);
        state.counters["handler_us_at_1M"] = medianMicroseconds(handlerLate);
        state.counters["paint_us_at_1k"] = medianMicroseconds(paintEarly);
        state.counters["paint_us_at_1M"] = medianMicroseconds(paintLate);
        state.counters["bulk_us_per_reading"]
            = std::chrono::duration<double, std::micro>(end - begin).count() / static_cast<double>(rig.delivered);
        state.counters["rss_MB"] = residentMegabytes();
    }
}
BENCHMARK(BM_MillionReadingsIntoTheWindow)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
