// The noise assessment of a week's run at one reading a second (604,800 readings, 7 days from 07:00
// on 12 May 2026), as a data file of a download writes them:
// - BM_AWeekThroughEveryFigure: the rows of a table (as the statistics window, the spreadsheet and
//   decimora-cli stats read them) to every figure: the times read from their texts, the durations from
//   the time stamps, the statistics, the period levels per day and over the run, the 168 hours and the
//   events, put out as the four tables (target: below 0.5 s);
// - BM_AWeekFromItsTexts: the same from the row texts in memory, without the table's walk;
// - BM_AWeeksNoiseReportToPdf: decimora-cli report's path from the data file on disk to the PDF (the
//   file read into the tool's table, every figure, the pages painted; target: below 3 s).
#include "cli/NoiseOptions.h"
#include "core/Clock.h"
#include "report/NoiseReport.h"
#include "stats/FigureTables.h"
#include "store/SqliteReadingStore.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

constexpr int Readings = 7 * 24 * 3600;
const QString NoiseDefinition = QStringLiteral(DECIMORA_NOISE_REPORT_DEFINITION);

// The texts of one reading; a level that follows the day (60 dB by day, 52 in the evening, 42 at
// night) with a wander and a scatter, and a loud minute every few hours.
struct RowTexts {
    QByteArray date;
    QByteArray time;
    QByteArray level;
};

std::vector<RowTexts> AWeek()
{
    std::vector<RowTexts> rows;
    rows.reserve(Readings);
    const QDateTime start(QDate(2026, 5, 12), QTime(7, 0));
    QByteArray date;
    QDate shownDate;
    for (int i = 0; i < Readings; ++i) {
        const QDateTime t = start.addSecs(i);
        if (t.date() != shownDate) {
            shownDate = t.date();
            date = QByteArray::number(shownDate.month()) + '/' + QByteArray::number(shownDate.day()) + '/'
                + QByteArray::number(shownDate.year());
        }
        const int hour = t.time().hour();
        const double base = hour >= 7 && hour < 19 ? 60.0 : hour >= 19 && hour < 23 ? 52.0 : 42.0;
        std::uint64_t h = static_cast<std::uint64_t>(i) * 0x9E3779B97F4A7C15ULL;
        h ^= h >> 29;
        double level = base + 5.0 * std::sin(i * 0.001) + static_cast<double>(h % 60) / 10.0 - 3.0;
        if (i % 10000 < 60)
            level = 88.0 + static_cast<double>(h % 50) / 10.0;
        const int tenths = static_cast<int>(std::lround(level * 10.0));
        rows.push_back({ date,
            QByteArray::number(t.time().hour()) + ':' + QByteArray::number(t.time().minute()) + ':'
                + QByteArray::number(t.time().second()),
            QByteArray::number(tenths / 10) + '.' + QByteArray::number(tenths % 10) });
    }
    return rows;
}

const std::vector<RowTexts>& TheWeek()
{
    static const std::vector<RowTexts> week = AWeek();
    return week;
}

NoiseSettings Settings()
{
    NoiseSettings settings;
    settings.events = { 850, 10, 5 };
    return settings;
}

// Every figure of a series, as the window's pages, the workbook's sheets and the tool's tables have
// them; the number of rows of the four tables.
std::size_t EveryFigure(const StampedSeries& stamped)
{
    const TimedSeries series = TimedSeriesOf(stamped);
    const NoiseFigures figures = NoiseFiguresOf(series, Settings());
    return StatisticsTable(StatisticsOf(series), 85.0).rows.size() + PeriodTable(figures).rows.size()
        + HourTable(figures).rows.size() + EventTable(figures).rows.size();
}

void BM_AWeekThroughEveryFigure(benchmark::State& state)
{
    QTemporaryDir dir;
    SqliteReadingStore store(dir.filePath(QStringLiteral("Decimora.mdb")));
    ReadingTable& table = store.loadData();
    std::size_t next = 0;
    table.appendRows([&](RowToAppend& row) {
        if (next == TheWeek().size())
            return false;
        const RowTexts& texts = TheWeek()[next++];
        row.recNo = static_cast<qint64>(next);
        row.text = { texts.level, "A", texts.time, texts.date };
        return true;
    });
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = EveryFigure(StampedSeriesOfTable(table, TimeTextReader(), { table.rowCount() }).front());
        benchmark::DoNotOptimize(rows);
    }
    state.counters["readings"] = static_cast<double>(table.rowCount());
    state.counters["table_rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_AWeekThroughEveryFigure)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AWeekFromItsTexts(benchmark::State& state)
{
    const TimeTextReader texts;
    std::size_t rows = 0;
    for (auto _ : state) {
        StampedSeriesReader reader(texts);
        for (const RowTexts& row : TheWeek())
            reader.add({ row.level, "A", row.time, row.date });
        rows = EveryFigure(reader.finish());
        benchmark::DoNotOptimize(rows);
    }
    state.counters["table_rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_AWeekFromItsTexts)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AWeeksNoiseReportToPdf(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("week.dmr"));
    {
        QByteArray content = "@Zentrobasis Decimora File\r\nTotal:" + QByteArray::number(Readings) + "\r\n";
        for (const RowTexts& row : TheWeek())
            content += row.date.leftJustified(10) + ',' + row.time.leftJustified(8) + ',' + row.level.leftJustified(6)
                + ",A\r\n";
        QFile file(data);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            state.SkipWithError("cannot write the data file");
            return;
        }
    }
    const QString pdf = dir.filePath(QStringLiteral("week.pdf"));
    SystemClock clock;
    NoiseReportDetails details;
    details.place = QStringLiteral("12 Mill Lane");
    for (auto _ : state) {
        const std::vector<FileSeries> files = ReadFileSeries({ data });
        const TimedSeries series = TimedOf(files.front().series, std::nullopt);
        WriteNoiseReportPdf(NoiseDefinition, series, Settings(), 85.0, details, pdf, clock);
    }
    state.counters["pdf_kB"] = static_cast<double>(QFileInfo(pdf).size()) / 1000.0;
}
BENCHMARK(BM_AWeeksNoiseReportToPdf)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
