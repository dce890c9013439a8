// Export to Excel at the sizes that matter:
// - 65,534 readings to .xls, the most an .xls sheet holds under its title and column titles
//   (target: under 0.3 s);
// - 1,000,000 readings to .xlsx (libxlsxwriter in constant-memory mode) and to .csv, with the
//   resident memory of the process before the export and at its peak during it.
// Each writes the file as File > Export to Excel does, from a real SQLite table. The million rows to
// .xlsx and to .csv are written a second way too, as the frame's command runs them: with the progress
// window up and the program's events handled on the way, reporting the longest stretch without events
// (longest_without_events_ms; target: under 100).
#include "EventGaps.h"
#include "output/DBGridToExcel.h"
#include "shell/ExportProgressWindow.h"
#include "store/SqliteReadingStore.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>

namespace {

constexpr int XlsRows = 65'534;
constexpr int MillionRows = 1'000'000;

// The readings of a long run: levels spread over 30.0 to 129.9 dB, all A-weighted, one second apart.
void fillTable(ReadingTable& table, int rows)
{
    int i = 0;
    QByteArray value;
    QByteArray time;
    table.appendRows([&](RowToAppend& row) {
        if (i == rows)
            return false;
        ++i;
        const int tenths = 300 + int((qint64(i) * 7919) % 1000);
        value = QByteArray::number(tenths / 10) + '.' + QByteArray::number(tenths % 10);
        time = QStringLiteral("%1:%2:%3").arg(i / 3600 % 24).arg(i / 60 % 60).arg(i % 60).toLatin1();
        row.recNo = i;
        row.text = { value, "A", time, "12/9/2026" };
        return true;
    });
}

// Kilobytes of a line of /proc/self/status ("VmRSS", "VmHWM").
double statusKilobytes(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stod(line.substr(key.size() + 1));
    }
    return 0;
}

// Starts the peak resident memory (VmHWM) afresh from the current one.
void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<SqliteReadingStore> store
        = std::make_unique<SqliteReadingStore>(dir.filePath(QStringLiteral("Decimora.mdb")));

    Fixture()
    {
        fillTable(store->meaData(), XlsRows);
        fillTable(store->loadData(), MillionRows);
    }

    static Fixture& instance()
    {
        static Fixture fixture;
        return fixture;
    }
};

void runExport(benchmark::State& state, ReadingTable& table, const char* fileName)
{
    Fixture& f = Fixture::instance();
    const QString path = f.dir.filePath(QString::fromLatin1(fileName));
    double before = 0;
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(path);
        before = statusKilobytes("VmRSS");
        resetPeakMemory();
        state.ResumeTiming();
        try {
            ExportReadingTable(table, path);
        } catch (const SpreadsheetExportError& error) {
            state.SkipWithError(error.what());
            return;
        }
        peak = std::max(peak, statusKilobytes("VmHWM"));
    }
    state.SetItemsProcessed(state.iterations() * table.rowCount());
    state.counters["file_MB"] = double(QFileInfo(path).size()) / 1e6;
    state.counters["rss_before_MB"] = before / 1024;
    state.counters["rss_peak_MB"] = peak / 1024;
}

void BM_ExportXls65534(benchmark::State& state)
{
    runExport(state, Fixture::instance().store->meaData(), "readings.xls");
}
BENCHMARK(BM_ExportXls65534)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_ExportXlsx1M(benchmark::State& state)
{
    runExport(state, Fixture::instance().store->loadData(), "readings.xlsx");
}
BENCHMARK(BM_ExportXlsx1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ExportCsv1M(benchmark::State& state)
{
    runExport(state, Fixture::instance().store->loadData(), "readings.csv");
}
BENCHMARK(BM_ExportCsv1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// With the progress window, as File > Export to Excel writes: the program handles its events on the way.
void runExportWithProgress(benchmark::State& state, const char* fileName)
{
    Fixture& f = Fixture::instance();
    ReadingTable& table = f.store->loadData();
    const QString path = f.dir.filePath(QString::fromLatin1(fileName));
    const SpreadsheetFormat format = SpreadsheetFormatOf(path);
    double longest = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(path);
        ReadingTableDataSet dataSet(table, LevelsAs(format));
        const GridDescription grid = ReadingsGridDescription(dataSet);
        ExportSheetHooks hooks;
        hooks.showProgress = ShowExportProgressWindow;
        TDBGridToExcel writer(hooks);
        writer.DBGrid = &grid;
        writer.ShowProgress = true;
        writer.AskBeforeReplacing = false;
        writer.FileName = path;
        writer.Format = format;
        state.ResumeTiming();
        const EventGaps gaps;
        try {
            writer.ExportSheet();
        } catch (const SpreadsheetExportError& error) {
            state.SkipWithError(error.what());
            return;
        }
        longest = std::max(longest, gaps.longestMs());
    }
    state.SetItemsProcessed(state.iterations() * table.rowCount());
    state.counters["longest_without_events_ms"] = longest;
}

void BM_ExportXlsx1MWithProgressWindow(benchmark::State& state)
{
    runExportWithProgress(state, "shown.xlsx");
}
BENCHMARK(BM_ExportXlsx1MWithProgressWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ExportCsv1MWithProgressWindow(benchmark::State& state)
{
    runExportWithProgress(state, "shown.csv");
}
BENCHMARK(BM_ExportCsv1MWithProgressWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
