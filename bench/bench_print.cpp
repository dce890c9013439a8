// The data sheet of a long run printed to a PDF file through the report engine, with the shipped
// definition, as File > Print Data Sheet does after the output dialog:
// - 10,000 readings (target: under 3 s);
// - 100,000 readings.
// Besides the time, each run reports its pages and the growth of the process's resident memory
// while it printed (sampled every 2 ms): with pages painted as the rows arrive, the growth must
// stay about the same for ten times the pages. The same prints once more as the frame's command runs
// them, with its progress window, reporting the longest stretch in which the program handled no
// events (longest_without_events_ms; target: under 100).
#include "BenchModule.h"
#include "EventGaps.h"
#include "core/Clock.h"
#include "core/NullServices.h"
#include "report/ReportEngine.h"
#include "shell/DataSheetPrinting.h"
#include "store/SqliteReadingStore.h"

#include <QDir>
#include <QFileInfo>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

// Chooses "PDF file" in the output dialog.
class PdfChoosingInteraction final : public NullUserInteraction {
public:
    PdfChoosingInteraction() = default;
    explicit PdfChoosingInteraction(QString path)
        : path(std::move(path))
    {
    }
    ReportOutputChoice askReportOutput(QWidget*, const QString&, const QPrinter&) override
    {
        return { ReportDestination::PdfFile, {}, path };
    }

    QString path;
};

// Levels spread over 35.0 to 124.9 dB, all A-weighted, one second apart.
void FillReadings(ReadingTable& table, int rows)
{
    int i = 0;
    QByteArray value;
    QByteArray time;
    table.appendRows([&](RowToAppend& row) {
        if (i == rows)
            return false;
        ++i;
        const int tenths = 350 + int((qint64(i) * 7919) % 900);
        value = QByteArray::number(tenths / 10) + '.' + QByteArray::number(tenths % 10);
        time = QStringLiteral("%1:%2:%3")
                   .arg(i / 3600 % 24)
                   .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                   .arg(i % 60, 2, 10, QLatin1Char('0'))
                   .toLatin1();
        row.recNo = i;
        row.text = { value, "A", time, "12/9/2026" };
        return true;
    });
}

long residentKilobytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The highest resident size seen while it runs.
class ResidentPeak {
public:
    ResidentPeak()
        : peak_(residentKilobytes())
        , sampler_([this] {
            while (!stop_) {
                peak_ = std::max(peak_.load(), residentKilobytes());
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        })
    {
    }
    ~ResidentPeak() { stopNow(); }
    long stopNow()
    {
        stop_ = true;
        if (sampler_.joinable())
            sampler_.join();
        return peak_;
    }

private:
    std::atomic<long> peak_;
    std::atomic<bool> stop_ { false };
    std::thread sampler_;
};

int pdfPages(const QString& path)
{
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), { path });
    if (!info.waitForFinished(60000))
        return -1;
    const auto match = QRegularExpression(QStringLiteral(R"(Pages:\s+(\d+))"))
                           .match(QString::fromUtf8(info.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

void BM_PrintDataSheetToPdf(benchmark::State& state)
{
    const auto rows = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    SqliteReadingStore store(dir.filePath(QStringLiteral("Decimora.mdb")));
    FillReadings(store.meaData(), rows);

    const QString pdf = dir.filePath(QStringLiteral("sheet.pdf"));
    PdfChoosingInteraction ui(pdf);
    SystemClock clock;
    QPrinter printer(QPrinter::HighResolution);
    long growth = 0;
    for (auto _ : state) {
        ReportEngine report(ui, clock);
        const long before = residentKilobytes();
        ResidentPeak peak;
        report.open(QStringLiteral(DECIMORA_DATA_SHEET_DEFINITION));
        report.bind(QString::fromLatin1(ReportDataConnection1), store.meaData());
        report.run(printer, nullptr);
        report.close();
        growth = std::max(growth, peak.stopNow() - before);
    }
    state.counters["pages"] = pdfPages(pdf);
    state.counters["pdf_kB"] = double(QFileInfo(pdf).size()) / 1000.0;
    state.counters["rss_growth_kB"] = double(growth);
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_PrintDataSheetToPdf)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// File > Print Data Sheet into a PDF file, as the frame runs it.
void BM_PrintDataSheetFromTheFrame(benchmark::State& state)
{
    const auto rows = static_cast<int>(state.range(0));
    BenchModuleWith<PdfChoosingInteraction> rig;
    FillReadings(*rig.module.MeaData, rows);
    rig.module.ReportProjectFile = QStringLiteral(DECIMORA_DATA_SHEET_DEFINITION);
    rig.ui.path = rig.folder.filePath(QStringLiteral("sheet.pdf"));
    double longest = 0;
    for (auto _ : state) {
        const EventGaps gaps;
        PrintDataSheet(rig.module, rig.printer.printer(), rig.module.MeaData, nullptr);
        longest = std::max(longest, gaps.longestMs());
    }
    state.counters["pages"] = pdfPages(rig.ui.path);
    state.counters["longest_without_events_ms"] = longest;
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_PrintDataSheetFromTheFrame)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace
