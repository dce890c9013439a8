// A data file of 1,000,000 readings loaded into the analysis window:
// - bare_s: LoadDataFile of the file into an empty table, with no hooks and nothing shown;
// - window_s: the same file through the shown window's LoadData, as File > Open calls it: the
//   progress bar with pending events handled between blocks, the chart series, MIN and MAX, the
//   bulk append into LoadData under the wait notice and the grid moved to its last row;
// - window_over_bare: their ratio (the window should add at most 25 %);
// - longest_without_events_ms: the longest stretch of a window load in which no event was handled
//   (the user's clicks, the frame's timer); the bulk append into the table is one such stretch;
// - ten_files_s: ten such files loaded one after another into one window;
// - repaint_ms: a repaint of the whole window, every widget in it, with the ten files loaded (median
//   of 9; target < 50);
// - rss_mb: the process's resident memory with the ten files loaded (target < 800).
// The bare and window loads alternate, three times each, and the medians are reported, so that both
// see the same machine.
#include "BenchModule.h"
#include "EventGaps.h"
#include "analysis/DataAnalyze.h"
#include "core/systemvar.h"
#include "datafile/DataFile.h"
#include "datafile/StagingFile.h"
#include "store/SqliteReadingStore.h"
#include "widgets/GraphPanel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QChartView>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int Readings = 1'000'000;
constexpr int Files = 10;

// Answers the open dialog with one file; every question with No.
class OpenOneFile final : public NullUserInteraction {
public:
    OpenOneFile()
        : NullUserInteraction([this](const QString&, const QString&) { ++messages; })
    {
    }
    QString askOpenFileName(QWidget*, const FileDialogRequest&) override { return path; }
    QString path;
    int messages = 0;
};

// A level drifting around 60 dB, one reading a second, as a live run saves it.
bool WriteLongDataFile(const QString& path)
{
    QByteArray content = QByteArray(DataFileHeader) + "\r\nTotal:" + QByteArray::number(Readings) + "\r\n";
    content.reserve(qsizetype(Readings) * 31);
    for (int i = 0; i < Readings; ++i) {
        const int tenths = 600 + static_cast<int>(std::lround(80.0 * std::sin(i * 0.001))) + (i * 7) % 31;
        const QByteArray value = QByteArray::number(tenths / 10) + '.' + QByteArray::number(tenths % 10);
        const QByteArray time = QByteArray::number(i / 3600 % 24) + ':' + QByteArray::number(i / 60 % 60) + ':'
            + QByteArray::number(i % 60);
        AppendReadingFields(content, { value, "A", time, "12/9/2026" });
        content += "\r\n";
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Counts the paint events a widget receives.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget* widget)
        : widget_(widget)
    {
        widget_->installEventFilter(this);
    }
    ~PaintCounter() override { widget_->removeEventFilter(this); }
    PaintCounter(const PaintCounter&) = delete;
    PaintCounter& operator=(const PaintCounter&) = delete;

    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }

private:
    QWidget* widget_;
};

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double residentMegabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0.0;
}

using Rig = BenchModuleWith<OpenOneFile>;

// A new window on an emptied LoadData, shown, as File > Open makes it.
std::unique_ptr<TForm7> OpenWindow(Rig& rig)
{
    auto window = std::make_unique<TForm7>(rig.module, rig.printer);
    rig.module.LoadData->empty();
    window->resize(1280, 800);
    window->show();
    // Until the window is exposed nothing is painted, and a load would be timed without its paints.
    QElapsedTimer waited;
    waited.start();
    while (!(window->windowHandle() && window->windowHandle()->isExposed()) && waited.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    QApplication::processEvents();
    return window;
}

void BM_LoadAMillionReadingsIntoTheAnalysisWindow(benchmark::State& state)
{
    for (auto _ : state) {
        Rig rig;
        rig.ui.path = rig.folder.filePath(QStringLiteral("long.dmr"));
        if (!WriteLongDataFile(rig.ui.path)) {
            state.SkipWithError("the data file could not be written");
            return;
        }

        std::vector<double> bare;
        std::vector<double> shown;
        double longestGap = 0.0;
        for (int round = 0; round < 3; ++round) {
            ReadingTable& table = *rig.module.GetRecorde;
            table.empty();
            QElapsedTimer timer;
            timer.start();
            {
                StagingFileLease staging
                    = StagingFileLease::acquire(rig.module.Folders().cacheFolder(), QStringLiteral("bench"));
                LoadDataFile(rig.ui.path, table, staging);
            }
            bare.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e9);

            std::unique_ptr<TForm7> window = OpenWindow(rig);
            EventGaps gaps;
            timer.start();
            window->LoadData();
            QApplication::processEvents();
            shown.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e9);
            longestGap = std::max(longestGap, gaps.longestMs());
            if (rig.module.LoadData->rowCount() != Readings || table.rowCount() != Readings || rig.ui.messages != 0) {
                state.SkipWithError("a load did not store every reading");
                return;
            }
        }
        rig.module.GetRecorde->empty();

        std::unique_ptr<TForm7> window = OpenWindow(rig);
        QElapsedTimer timer;
        timer.start();
        for (int file = 0; file < Files; ++file)
            window->LoadData();
        QApplication::processEvents();
        const double tenFiles = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        if (rig.module.LoadData->rowCount() != qint64(Readings) * Files) {
            state.SkipWithError("the ten files were not all stored");
            return;
        }

        // The chart's plot and the grid must really be painted, not found up to date.
        PaintCounter chartPaints(window->Graph()->chartView()->viewport());
        PaintCounter gridPaints(window->readingsGrid()->viewport());
        std::vector<double> repaints;
        for (int i = 0; i < 9; ++i) {
            timer.start();
            // Rendered into an image of the window's size: every widget paints, as when the whole window
            // is exposed. (repaint() on the offscreen platform paints the top-level widget alone.)
            const QPixmap frame = window->grab();
            repaints.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        if (chartPaints.count < 9 || gridPaints.count < 9) {
            state.SkipWithError("a repaint did not paint the chart and the grid");
            return;
        }

        state.counters["readings"] = static_cast<double>(Readings);
        state.counters["bare_s"] = median(bare);
        state.counters["window_s"] = median(shown);
        state.counters["window_over_bare"] = median(shown) / median(bare);
        state.counters["longest_without_events_ms"] = longestGap;
        state.counters["ten_files_s"] = tenFiles;
        state.counters["repaint_ms"] = median(repaints);
        state.counters["rss_mb"] = residentMegabytes();
    }
}
BENCHMARK(BM_LoadAMillionReadingsIntoTheAnalysisWindow)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
