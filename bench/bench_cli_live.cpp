// decimora-cli's live path, driven in-process as fast as the simulated meter answers: each reading is
// a request written through the meter link, the simulated meter's reply picked up by the read thread,
// handed over to the main thread, decoded by SaveRead, announced with WM_NEWREADING to the logger, and
// written as a CSV line to a file with one write() (as "decimora-cli live --output FILE" does). Real
// runs are paced by --interval (at least 0.3 s); what that pacing leaves is the cost measured here.
//
// Its own main() on QCoreApplication, as the tool has, so that the resident memory is the tool's.
//
// - cpu_us_per_reading: the process's CPU time (every thread) per reading (target < 50 µs).
// - rss_mb_at_<n>k: resident memory after n thousand readings, sampled along the way; rss_mb_growth:
//   the last sample minus the one at 100k (target: under 30 MB in all, flat).

#include "cli/LiveLog.h"
#include "cli/LiveOutput.h"
#include "cli/MeterSession.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <ctime>

namespace {

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0.0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * 4096.0 / (1024.0 * 1024.0) : 0.0;
}

double processCpuSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void BM_CliLiveReading(benchmark::State& state)
{
    MeterOptions options;
    options.simulate = true;
    MeterSession session(options);
    session.waitForFirstScan();
    QTemporaryDir folder;
    LineOutput output(LineFormat::Csv, {}, LineOutput::Target::File, folder.filePath(QStringLiteral("live.csv")));
    LiveLog log(session, output, [](const QString&) {});
    // The timer's interval is never reached: the loop below asks for every reading itself.
    log.start(LiveLog::LongestIntervalMs);
    while (log.readingCount() == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    const double cpuStart = processCpuSeconds();
    std::int64_t readings = 0;
    for (auto _ : state) {
        const std::int64_t before = log.readingCount();
        log.requestReading();
        while (log.readingCount() == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ++readings;
        if (readings % 100000 == 0)
            state.counters["rss_mb_at_" + std::to_string(readings / 1000) + "k"] = residentMegabytes();
    }
    const double cpu = processCpuSeconds() - cpuStart;
    log.stop();
    state.counters["cpu_us_per_reading"] = readings > 0 ? cpu * 1e6 / double(readings) : 0.0;
    if (state.counters.count("rss_mb_at_100k") && readings >= 200000)
        state.counters["rss_mb_growth"] = residentMegabytes() - state.counters["rss_mb_at_100k"];
    state.counters["rss_mb"] = residentMegabytes();
}
BENCHMARK(BM_CliLiveReading)->Iterations(1000000)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
