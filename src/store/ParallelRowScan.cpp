#include "store/ParallelRowScan.h"

#include "core/BulkWorkers.h"
#include "store/RowText.h"

#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace {

// About half a megabyte of data file per stretch: small enough to keep every core busy to the end,
// large enough that a stretch's own query costs nothing worth measuring.
constexpr qint64 RowsPerStretch = 16384;

// A read-only connection with its prepared range query.
struct Reader {
    sqlite3* db = nullptr;
    sqlite3_stmt* select = nullptr;

    Reader() = default;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    ~Reader()
    {
        sqlite3_finalize(select);
        sqlite3_close(db);
    }
};

std::unique_ptr<Reader> openReader(const char* file, const QByteArray& sql)
{
    auto reader = std::make_unique<Reader>();
    // Each connection is used by one thread at a time, so SQLite's own locking per call is not needed.
    if (sqlite3_open_v2(file, &reader->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        return nullptr;
    sqlite3_busy_timeout(reader->db, 5000);
    if (sqlite3_prepare_v2(reader->db, sql.constData(), int(sql.size()), &reader->select, nullptr) != SQLITE_OK)
        return nullptr;
    return reader;
}

// The formatted stretches on their way from the readers to the writer, who takes them in order.
// Readers stay at most `window` stretches ahead of the writer, which bounds the memory held.
class OrderedStretches {
public:
    explicit OrderedStretches(qint64 window)
        : window_(window)
    {
    }

    // False when the walk has stopped.
    bool waitForRoom(qint64 stretch)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || stretch < nextToTake_ + window_; });
        return !stopped_;
    }
    void put(qint64 stretch, QByteArray block, qint64 rows)
    {
        const std::lock_guard lock(mutex_);
        ready_.emplace(stretch, Stretch { std::move(block), rows });
        changed_.notify_all();
    }
    void fail(const QString& text)
    {
        const std::lock_guard lock(mutex_);
        if (!failure_)
            failure_ = text;
        stopped_ = true;
        changed_.notify_all();
    }
    void stop()
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    // The stretch's block and row count; throws TableError when a reader failed.
    std::pair<QByteArray, qint64> take(qint64 stretch)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return failure_ || ready_.count(stretch) > 0; });
        if (failure_)
            throw TableError(*failure_);
        auto node = ready_.extract(stretch);
        nextToTake_ = stretch + 1;
        changed_.notify_all();
        return { std::move(node.mapped().block), node.mapped().rows };
    }

private:
    struct Stretch {
        QByteArray block;
        qint64 rows = 0;
    };

    const qint64 window_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<qint64, Stretch> ready_;
    qint64 nextToTake_ = 0;
    bool stopped_ = false;
    std::optional<QString> failure_;
};

// Formats every stretch first, first + step, ... of the table into the queue.
void readStretches(Reader& reader, qint64 first, qint64 step, qint64 rowCount, const RowTextFormatter& format,
    OrderedStretches& stretches)
{
    sqlite3_stmt* stmt = reader.select;
    const qint64 stretchCount = (rowCount + RowsPerStretch - 1) / RowsPerStretch;
    for (qint64 stretch = first; stretch < stretchCount; stretch += step) {
        if (!stretches.waitForRoom(stretch))
            return;
        const qint64 firstRowid = stretch * RowsPerStretch + 1;
        sqlite3_bind_int64(stmt, 1, firstRowid);
        sqlite3_bind_int64(stmt, 2, std::min(firstRowid + RowsPerStretch, rowCount + 1));
        QByteArray block;
        qint64 rows = 0;
        int rc = 0;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            format(rowText(stmt), block);
            ++rows;
        }
        sqlite3_reset(stmt);
        if (rc != SQLITE_DONE) {
            stretches.fail(
                QStringLiteral("Reading the table failed: %1").arg(QString::fromUtf8(sqlite3_errmsg(reader.db))));
            return;
        }
        stretches.put(stretch, std::move(block), rows);
    }
}

// Stops the readers and waits for them, however the writer leaves.
class ReaderThreads {
public:
    explicit ReaderThreads(OrderedStretches& stretches)
        : stretches_(stretches)
    {
    }
    ReaderThreads(const ReaderThreads&) = delete;
    ReaderThreads& operator=(const ReaderThreads&) = delete;
    ~ReaderThreads()
    {
        stretches_.stop();
        threads_.clear(); // joins
    }
    // False when the system has no thread to give. A reader cannot run on the writer's thread: it
    // would wait for room that only the writer makes.
    template <typename Work> bool start(Work&& work) { return TryStartBulkWorker(threads_, std::forward<Work>(work)); }

private:
    OrderedStretches& stretches_;
    std::vector<std::jthread> threads_;
};

} // namespace

bool WriteRowsInParallel(
    sqlite3* db, const QString& table, qint64 rowCount, const RowTextFormatter& format, const BlockWriter& write)
{
    const char* file = sqlite3_db_filename(db, "main");
    const qint64 stretchCount = (rowCount + RowsPerStretch - 1) / RowsPerStretch;
    const qint64 readerCount = std::min<qint64>(BulkWorkerCount(), stretchCount);
    if (file == nullptr || *file == '\0' || !sqlite3_get_autocommit(db) || readerCount < 2)
        return false;

    const QByteArray sql = QStringLiteral("SELECT %1 FROM \"%2\" WHERE rowid >= ? AND rowid < ? ORDER BY rowid")
                               .arg(QLatin1String(RowTextColumns), table)
                               .toUtf8();
    std::vector<std::unique_ptr<Reader>> readers;
    for (qint64 i = 0; i < readerCount; ++i) {
        readers.push_back(openReader(file, sql));
        if (!readers.back())
            return false;
    }

    OrderedStretches stretches(2 * readerCount);
    qint64 rowsWritten = 0;
    {
        ReaderThreads threads(stretches);
        for (qint64 i = 0; i < readerCount; ++i) {
            const bool started = threads.start([&, i] {
                try {
                    readStretches(*readers[std::size_t(i)], i, readerCount, rowCount, format, stretches);
                } catch (const std::exception& error) {
                    stretches.fail(ErrorText(error));
                }
            });
            if (!started)
                return false; // nothing has been written yet; the started readers are stopped
        }
        for (qint64 stretch = 0; stretch < stretchCount; ++stretch) {
            auto [block, rows] = stretches.take(stretch);
            rowsWritten += rows;
            if (!block.isEmpty())
                write(block);
        }
    }
    if (rowsWritten != rowCount)
        throw TableError(QStringLiteral("The table %1 changed while it was being written out: %2 of %3 rows read")
                             .arg(table)
                             .arg(rowsWritten)
                             .arg(rowCount));
    return true;
}
