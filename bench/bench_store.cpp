// The tables and data files with a million readings:
// - the bulk append of a 1,000,000-row staging file into GetRecorde, side by side with the sqlite3
//   shell's ".import" of the same file into a table of the same columns and types, same journal
//   and synchronous settings (rows/s; ours should be at least as fast);
// - WriteDataFile of a 1,000,000-row table and loading that file back into LoadData, in bytes of
//   data file per second; the load is shown whole and without its final bulk append;
// - the table's walk in row order that a save formats its lines in, with the number of threads that
//   formatted them: a machine with several cores that formats on one has lost the parallel save.
#include "datafile/DataFile.h"
#include "datafile/StagingFile.h"
#include "store/SqliteReadingStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace {

constexpr int Rows = 1'000'000;

// Data file bytes per second in decimal megabytes (Google Benchmark's own byte rate counts in MiB).
void setFileRate(benchmark::State& state, const QString& path)
{
    state.counters["file_bytes_per_second"] = benchmark::Counter(double(state.iterations() * QFileInfo(path).size()),
        benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
}

// Downloaded readings as the import writes them: record numbers padded to 6. The file is the staging
// file of a folder of its own, so that the benchmarks that load data files leave it alone.
QString makeStagingFile(const QString& folder)
{
    QDir(folder).mkpath(QStringLiteral("staging"));
    const QString path = QDir(folder).filePath(QStringLiteral("staging/") + QLatin1String(StagingFileName));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QByteArray content;
    content.reserve(Rows * 40);
    for (int i = 0; i < Rows; ++i) {
        const int tenths = 300 + int((qint64(i) * 7919) % 1000);
        const QString value = QString::number(tenths / 10) + QLatin1Char('.') + QString::number(tenths % 10);
        const QString time = QStringLiteral("%1:%2:%3").arg(i / 3600 % 24).arg(i / 60 % 60).arg(i % 60);
        content += StagingLine(
            QStringLiteral("5/12/2006"), time, value, QStringLiteral("A"), i, StagingLayout::DownloadRecNoWidth);
        content += "\r\n";
    }
    file.write(content);
    return path;
}

struct Fixture {
    QTemporaryDir dir;
    QString staging = makeStagingFile(dir.path());
    std::unique_ptr<SqliteReadingStore> store
        = std::make_unique<SqliteReadingStore>(dir.filePath(QStringLiteral("Decimora.mdb")));

    static Fixture& instance()
    {
        static Fixture fixture;
        return fixture;
    }

    // Appends the staging file to the table as a download does.
    void appendStaging(ReadingTable& table) const
    {
        StagingFileLease lease
            = StagingFileLease::acquire(QFileInfo(staging).absolutePath(), QStringLiteral("the benchmark"));
        AppendStagingTable(lease, table);
    }
};

void BM_AppendStagingTable(benchmark::State& state)
{
    Fixture& f = Fixture::instance();
    ReadingTable& table = f.store->getRecorde();
    for (auto _ : state) {
        state.PauseTiming();
        table.empty();
        state.ResumeTiming();
        f.appendStaging(table);
    }
    if (table.rowCount() != Rows)
        state.SkipWithError("wrong row count");
    state.SetItemsProcessed(state.iterations() * Rows);
}
BENCHMARK(BM_AppendStagingTable)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Sqlite3ShellImport(benchmark::State& state)
{
    Fixture& f = Fixture::instance();
    const QString db = f.dir.filePath(QStringLiteral("shell.db"));
    for (auto _ : state) {
        state.PauseTiming();
        for (const char* suffix : { "", "-wal", "-shm" })
            QFile::remove(db + QLatin1String(suffix));
        QProcess create;
        create.start(QStringLiteral("sqlite3"),
            { db,
                QStringLiteral("PRAGMA journal_mode=WAL; CREATE TABLE GetRecorde (\"Date\" TEXT, \"Time\" TEXT, "
                               "MeaValue TEXT, Weight TEXT, RecNo INTEGER);") });
        create.waitForFinished(-1);
        QProcess shell;
        state.ResumeTiming();
        shell.start(QStringLiteral("sqlite3"),
            { db, QStringLiteral("PRAGMA synchronous=NORMAL;"),
                QStringLiteral(".import --csv %1 GetRecorde").arg(f.staging) });
        shell.waitForFinished(-1);
        state.PauseTiming();
        if (shell.exitCode() != 0) {
            state.SkipWithError(shell.readAllStandardError().constData());
            break;
        }
        state.ResumeTiming();
    }
    QProcess count;
    count.start(QStringLiteral("sqlite3"), { db, QStringLiteral("SELECT count(*) FROM GetRecorde") });
    count.waitForFinished(-1);
    if (count.readAllStandardOutput().trimmed().toInt() != Rows)
        state.SkipWithError("wrong row count");
    state.SetItemsProcessed(state.iterations() * Rows);
}
BENCHMARK(BM_Sqlite3ShellImport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_WriteDataFile(benchmark::State& state)
{
    Fixture& f = Fixture::instance();
    ReadingTable& table = f.store->meaData();
    if (table.rowCount() != Rows) {
        table.empty();
        f.appendStaging(table);
    }
    const QString path = f.dir.filePath(QStringLiteral("run.dmr"));
    for (auto _ : state)
        WriteDataFile(table, path);
    setFileRate(state, path);
}
BENCHMARK(BM_WriteDataFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The walk a save formats its lines in, with data file lines thrown away as they come.
void BM_WriteRowsInOrder(benchmark::State& state)
{
    Fixture& f = Fixture::instance();
    ReadingTable& table = f.store->meaData();
    if (table.rowCount() != Rows) {
        table.empty();
        f.appendStaging(table);
    }
    std::mutex mutex;
    std::set<std::thread::id> formatters;
    const RowTextFormatter format = [&](const ReadingRowText& row, QByteArray& block) {
        if (block.isEmpty()) {
            const std::lock_guard lock(mutex);
            formatters.insert(std::this_thread::get_id());
        }
        AppendReadingFields(block, row);
        block.append(StagingLayout::LineEnd, StagingLayout::LineEndSize);
    };
    qint64 bytes = 0;
    for (auto _ : state)
        table.writeRowsInOrder(format, [&](QByteArrayView block) { bytes += block.size(); });
    state.SetItemsProcessed(state.iterations() * Rows);
    state.counters["formatter_threads"] = double(formatters.size());
    if (std::thread::hardware_concurrency() > 1 && formatters.size() < 2)
        state.SkipWithError("the rows were formatted on one thread although the machine has several cores");
    if (bytes == 0)
        state.SkipWithError("nothing was written");
}
BENCHMARK(BM_WriteRowsInOrder)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Reading the file, decoding and checking every line and writing the staging file.
void BM_ReadDataFileToStaging(benchmark::State& state)
{
    Fixture& f = Fixture::instance();
    const QString path = f.dir.filePath(QStringLiteral("run.dmr"));
    StagingFileLease staging = StagingFileLease::acquire(f.dir.path(), QStringLiteral("the benchmark"));
    qint64 lines = 0;
    for (auto _ : state) {
        staging.recreate();
        std::optional<DataFileReader> reader = OpenDataFile(path);
        lines = qint64(DecodeDataFileToStaging(*reader, 1, staging).size());
        staging.close();
    }
    if (lines != Rows)
        state.SkipWithError("wrong line count");
    setFileRate(state, path);
}
BENCHMARK(BM_ReadDataFileToStaging)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The whole load of a data file into LoadData, bulk append included.
void BM_LoadDataFile(benchmark::State& state)
{
    Fixture& f = Fixture::instance();
    const QString path = f.dir.filePath(QStringLiteral("run.dmr"));
    ReadingTable& table = f.store->loadData();
    StagingFileLease staging = StagingFileLease::acquire(f.dir.path(), QStringLiteral("the benchmark"));
    for (auto _ : state) {
        state.PauseTiming();
        table.empty();
        state.ResumeTiming();
        LoadDataFile(path, table, staging);
    }
    if (table.rowCount() != Rows)
        state.SkipWithError("wrong row count");
    setFileRate(state, path);
}
BENCHMARK(BM_LoadDataFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
