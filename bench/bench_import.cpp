// A meter memory of 200,000 readings downloaded from the simulated meter at zero reply latency:
// - bare_s: MeterLink::download alone, every byte handed to a decoder that does nothing: the cost of
//   the 25,000 request/reply exchanges through the HID layer;
// - window_s: the same memory through the shown import window's "Import": decoding, the staging
//   file, the graph, the figures, and the bulk append into GetRecorde;
// - window_over_bare: their ratio (the window should add at most 10 %);
// - append_s: the bulk append of the 200,000 staged rows into GetRecorde on its own.
// The bare and window downloads alternate, twice each, and the medians are reported, so that both
// see the same machine.
#include "BenchModule.h"
#include "core/MeterMemoryDecoder.h"
#include "core/MeterProtocol.h"
#include "core/systemvar.h"
#include "datafile/StagingFile.h"
#include "import/GetRecorde.h"
#include "meter/SimulatedMeter.h"
#include "store/SqliteReadingStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int Readings = 200'000;

// Four logging runs of a level drifting around 60 dB, 50,000 readings each.
std::vector<std::uint8_t> LargeMemory()
{
    std::vector<LoggedRun> runs;
    for (int r = 0; r < 4; ++r) {
        LoggedRun run;
        run.statusFlags = r % 2 ? 0x50 : 0x40;
        run.start = QDateTime(QDate(2026, 11, 1 + r), QTime(8, 0, 0));
        run.intervalSeconds = static_cast<std::uint8_t>(1 + r * 10);
        for (int i = 0; i < Readings / 4; ++i)
            run.readings.push_back(600 + static_cast<int>(std::lround(80.0 * std::sin(i * 0.001))) + (i * 7) % 31);
        runs.push_back(std::move(run));
    }
    return EncodeLoggedMemory(runs);
}

struct Rig : BenchModule {
    Rig()
    {
        meter.setLoggedMemory(LargeMemory());
        QElapsedTimer waited;
        waited.start();
        while (!module.DeviceConnected && waited.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
};

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

void BM_DownloadTwoHundredThousandReadings(benchmark::State& state)
{
    for (auto _ : state) {
        Rig rig;
        if (!rig.module.DeviceConnected) {
            state.SkipWithError("the simulated meter was not found");
            return;
        }
        TForm4 window(rig.module, rig.printer);
        window.resize(1280, 800);
        window.show();
        QApplication::processEvents();

        std::vector<double> bare;
        std::vector<double> shown;
        for (int round = 0; round < 2; ++round) {
            QElapsedTimer timer;
            timer.start();
            DownloadHooks hooks;
            hooks.decode = [](std::uint8_t) {};
            rig.module.Link().download(hooks);
            bare.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e9);

            timer.start();
            window.ImportButtonClick();
            QApplication::processEvents();
            shown.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        }
        if (rig.module.GetRecorde->rowCount() != Readings) {
            state.SkipWithError("the window did not store every reading");
            return;
        }

        // The rows the last download staged, appended again on their own.
        rig.module.GetRecorde->empty();
        StagingFileLease staging
            = StagingFileLease::acquire(rig.module.Folders().cacheFolder(), QStringLiteral("bench"));
        QElapsedTimer timer;
        timer.start();
        AppendStagingTable(staging, *rig.module.GetRecorde);
        const double append = static_cast<double>(timer.nsecsElapsed()) / 1e9;

        state.counters["readings"] = static_cast<double>(rig.module.GetRecorde->rowCount());
        state.counters["bare_s"] = median(bare);
        state.counters["window_s"] = median(shown);
        state.counters["window_over_bare"] = median(shown) / median(bare);
        state.counters["append_s"] = append;
    }
}
BENCHMARK(BM_DownloadTwoHundredThousandReadings)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
