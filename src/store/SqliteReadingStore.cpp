#include "store/SqliteReadingStore.h"

#include "core/TextFields.h"
#include "store/ParallelRowScan.h"
#include "store/ReadingGridModel.h"
#include "store/RowText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

#include <atomic>

namespace {

[[noreturn]] void fail(const QString& text)
{
    throw TableError(text);
}

[[noreturn]] void failSqlite(sqlite3* db, const QString& what)
{
    fail(QStringLiteral("%1: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(db))));
}

void exec(sqlite3* db, const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        failSqlite(db, QString::fromUtf8(sql));
}

// Finalizes a statement prepared for one operation.
class Statement {
public:
    Statement(sqlite3* db, const QString& sql)
        : db_(db)
    {
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt_, nullptr) != SQLITE_OK)
            failSqlite(db, sql);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return stmt_; }
    // True for a row, false at the end.
    bool step()
    {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            failSqlite(db_, QStringLiteral("Reading the table failed"));
        return false;
    }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Rolls back a transaction that was not committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db)
        : db_(db)
    {
        exec(db_, "BEGIN IMMEDIATE");
    }
    ~Transaction()
    {
        if (!committed_)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit()
    {
        exec(db_, "COMMIT");
        committed_ = true;
    }

private:
    sqlite3* db_;
    bool committed_ = false;
};

QString quoted(const QString& identifier)
{
    return QLatin1Char('"') + identifier + QLatin1Char('"');
}

QString columnText(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(stmt, column)) : QString();
}

// Columns 0..4 of a statement selecting RecNo, MeaValue, Weight, Time, Date.
ReadingRow rowFromStatement(sqlite3_stmt* stmt)
{
    ReadingRow row;
    if (sqlite3_column_type(stmt, 0) == SQLITE_INTEGER)
        row.recNo = QString::number(sqlite3_column_int64(stmt, 0));
    else
        row.recNo = columnText(stmt, 0);
    row.meaValue = columnText(stmt, 1);
    row.weight = columnText(stmt, 2);
    row.time = columnText(stmt, 3);
    row.date = columnText(stmt, 4);
    return row;
}

// Binds a record number: no value for an empty text, else a whole number. False for anything else.
bool bindRecNo(sqlite3_stmt* stmt, int parameter, QByteArrayView text)
{
    if (text.isEmpty())
        return sqlite3_bind_null(stmt, parameter) == SQLITE_OK;
    const std::optional<sqlite3_int64> value = wholeNumber<sqlite3_int64>(text);
    return value && sqlite3_bind_int64(stmt, parameter, *value) == SQLITE_OK;
}

// An empty text is stored as one, also from a view without bytes (SQLite takes a null pointer for no value).
void bindText(sqlite3_stmt* stmt, int parameter, QByteArrayView text)
{
    sqlite3_bind_text(stmt, parameter, text.data() ? text.data() : "", int(text.size()), SQLITE_STATIC);
}

void stepInsert(sqlite3* db, sqlite3_stmt* stmt, const QString& tableName)
{
    if (sqlite3_step(stmt) != SQLITE_DONE) {
        const QString error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_reset(stmt);
        fail(QStringLiteral("Appending to %1 failed: %2").arg(tableName, error));
    }
    sqlite3_reset(stmt);
}

// Clears a statement's bindings, which may point into texts that are about to go.
class ClearBindingsOnExit {
public:
    explicit ClearBindingsOnExit(sqlite3_stmt* stmt)
        : stmt_(stmt)
    {
    }
    ~ClearBindingsOnExit() { sqlite3_clear_bindings(stmt_); }
    ClearBindingsOnExit(const ClearBindingsOnExit&) = delete;
    ClearBindingsOnExit& operator=(const ClearBindingsOnExit&) = delete;

private:
    sqlite3_stmt* stmt_;
};

const char* const SelectColumns = R"(SELECT RecNo, MeaValue, Weight, "Time", "Date" FROM )";

} // namespace

// ---------------------------------------------------------------------------------------------------

SqliteReadingTable::SqliteReadingTable(sqlite3* db, QString tableName)
    : db_(db)
    , name_(std::move(tableName))
    , model_(std::make_unique<ReadingGridModel>(*this))
{
}

SqliteReadingTable::~SqliteReadingTable()
{
    sqlite3_finalize(insert_);
    sqlite3_finalize(selectRange_);
}

sqlite3_stmt* SqliteReadingTable::statement(sqlite3_stmt*& cached, const QString& sql) const
{
    if (!cached) {
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v3(db_, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT, &cached, nullptr)
            != SQLITE_OK) {
            cached = nullptr;
            failSqlite(db_, sql);
        }
    }
    return cached;
}

void SqliteReadingTable::requireOpen(const char* operation) const
{
    if (!open_)
        fail(QStringLiteral("Cannot %1 the table %2: it is closed").arg(QLatin1String(operation), name_));
}

void SqliteReadingTable::open()
{
    if (open_)
        return;
    renumberIfRowidsHaveGaps();
    Statement count(db_, QStringLiteral("SELECT count(*) FROM %1").arg(quoted(name_)));
    count.step();
    count_ = sqlite3_column_int64(count.get(), 0);
    open_ = true;
    model_->tableReset();
}

// Another program may have deleted rows in the middle; then the positions no longer follow the rowids.
void SqliteReadingTable::renumberIfRowidsHaveGaps()
{
    {
        Statement check(db_, QStringLiteral("SELECT count(*), coalesce(max(rowid), 0) FROM %1").arg(quoted(name_)));
        check.step();
        if (sqlite3_column_int64(check.get(), 0) == sqlite3_column_int64(check.get(), 1))
            return;
    }
    Transaction transaction(db_);
    const QString table = quoted(name_);
    for (const QString& sql :
        { QStringLiteral("CREATE TEMP TABLE decimora_renumber AS SELECT * FROM %1 ORDER BY rowid").arg(table),
            QStringLiteral("DELETE FROM %1").arg(table),
            QStringLiteral("INSERT INTO %1 SELECT * FROM temp.decimora_renumber ORDER BY rowid").arg(table),
            QStringLiteral("DROP TABLE temp.decimora_renumber") }) {
        exec(db_, sql.toUtf8().constData());
    }
    transaction.commit();
}

void SqliteReadingTable::close()
{
    if (!open_)
        return;
    open_ = false;
    model_->tableReset();
}

void SqliteReadingTable::empty()
{
    exec(db_, QStringLiteral("DELETE FROM %1").arg(quoted(name_)).toUtf8().constData());
    count_ = 0;
    model_->tableReset();
}

sqlite3_stmt* SqliteReadingTable::insertStatement() const
{
    return statement(insert_,
        QStringLiteral(R"(INSERT INTO %1 (RecNo, MeaValue, Weight, "Time", "Date") VALUES (?, ?, ?, ?, ?))")
            .arg(quoted(name_)));
}

void SqliteReadingTable::appendRow(const ReadingRow& row)
{
    requireOpen("append to");
    sqlite3_stmt* insert = insertStatement();
    const QByteArray recNo = row.recNo.trimmed().toUtf8();
    const QByteArray meaValue = row.meaValue.toUtf8();
    const QByteArray weight = row.weight.toUtf8();
    const QByteArray time = row.time.toUtf8();
    const QByteArray date = row.date.toUtf8();
    if (!bindRecNo(insert, 1, recNo)) {
        sqlite3_clear_bindings(insert);
        fail(QStringLiteral("RecNo \"%1\" is not a whole number").arg(row.recNo));
    }
    bindText(insert, 2, meaValue);
    bindText(insert, 3, weight);
    bindText(insert, 4, time);
    bindText(insert, 5, date);
    stepInsert(db_, insert, name_);
    sqlite3_clear_bindings(insert);

    ReadingRow stored = row;
    stored.recNo = recNo.isEmpty() ? QString() : QString::number(row.recNo.trimmed().toLongLong());
    ++count_;
    model_->rowsAppended(count_ - 1, &stored);
}

ReadingRow SqliteReadingTable::row(qint64 index) const
{
    requireOpen("read");
    if (index < 0 || index >= count_)
        fail(QStringLiteral("Row %1 is outside the table %2 of %3 rows").arg(index).arg(name_).arg(count_));
    std::vector<ReadingRow> rows = readRows(index, 1);
    if (rows.empty())
        fail(QStringLiteral("Row %1 of the table %2 is missing").arg(index).arg(name_));
    return rows.front();
}

std::vector<ReadingRow> SqliteReadingTable::readRows(qint64 first, qint64 count) const
{
    std::vector<ReadingRow> rows;
    if (!open_ || count <= 0)
        return rows;
    sqlite3_stmt* select = statement(selectRange_,
        QLatin1String(SelectColumns) + quoted(name_)
            + QStringLiteral(" WHERE rowid >= ? AND rowid < ? ORDER BY rowid"));
    sqlite3_bind_int64(select, 1, first + 1);
    sqlite3_bind_int64(select, 2, first + 1 + count);
    rows.reserve(std::size_t(count));
    int rc = 0;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW)
        rows.push_back(rowFromStatement(select));
    sqlite3_reset(select);
    if (rc != SQLITE_DONE)
        failSqlite(db_, QStringLiteral("Reading the table %1 failed").arg(name_));
    return rows;
}

void SqliteReadingTable::forEachRow(const std::function<void(const ReadingRow&)>& visit) const
{
    requireOpen("read");
    Statement select(db_, QLatin1String(SelectColumns) + quoted(name_) + QStringLiteral(" ORDER BY rowid"));
    while (select.step())
        visit(rowFromStatement(select.get()));
}

void SqliteReadingTable::forEachRowText(const std::function<void(const ReadingRowText&)>& visit) const
{
    requireOpen("read");
    Statement select(
        db_, QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(QLatin1String(RowTextColumns), quoted(name_)));
    while (select.step())
        visit(rowText(select.get()));
}

void SqliteReadingTable::forEachRowTextFrom(qint64 first, const std::function<void(const ReadingRowText&)>& visit) const
{
    requireOpen("read");
    // Positions follow the rowids (the table is renumbered when they do not), so the new rows of a
    // growing table are found by the index, without a walk over the old ones.
    Statement select(db_,
        QStringLiteral("SELECT %1 FROM %2 WHERE rowid > ? ORDER BY rowid")
            .arg(QLatin1String(RowTextColumns), quoted(name_)));
    sqlite3_bind_int64(select.get(), 1, std::max<qint64>(first, 0));
    while (select.step())
        visit(rowText(select.get()));
}

void SqliteReadingTable::writeRowsInOrder(const RowTextFormatter& format, const BlockWriter& write) const
{
    requireOpen("read");
    // Below this, starting the readers costs more than it saves.
    constexpr qint64 ParallelFrom = 65536;
    if (count_ >= ParallelFrom && WriteRowsInParallel(db_, name_, count_, format, write))
        return;
    ReadingTable::writeRowsInOrder(format, write);
}

void SqliteReadingTable::suspendUpdates()
{
    model_->suspend();
}

void SqliteReadingTable::resumeUpdates()
{
    model_->resume();
}

QAbstractTableModel* SqliteReadingTable::gridModel()
{
    return model_.get();
}

qint64 SqliteReadingTable::insertRows(const RowSource& nextRow)
{
    sqlite3_stmt* insert = insertStatement();
    const ClearBindingsOnExit clearBindings(insert);
    qint64 inserted = 0;
    RowToAppend row;
    while (nextRow(row)) {
        if (row.recNo)
            sqlite3_bind_int64(insert, 1, *row.recNo);
        else
            sqlite3_bind_null(insert, 1);
        bindText(insert, 2, row.text.meaValue);
        bindText(insert, 3, row.text.weight);
        bindText(insert, 4, row.text.time);
        bindText(insert, 5, row.text.date);
        stepInsert(db_, insert, name_);
        ++inserted;
    }
    return inserted;
}

void SqliteReadingTable::appendRows(const RowSource& nextRow)
{
    requireOpen("append to");
    Transaction transaction(db_);
    const qint64 appended = insertRows(nextRow);
    transaction.commit();

    const qint64 firstNew = count_;
    count_ += appended;
    if (appended > 0)
        model_->rowsAppended(firstNew, nullptr);
}

void SqliteReadingTable::replaceRows(const RowSource& nextRow)
{
    requireOpen("replace the rows of");
    Transaction transaction(db_);
    // Inside the transaction the emptied table numbers the new rows' rowids from 1 again.
    exec(db_, QStringLiteral("DELETE FROM %1").arg(quoted(name_)).toUtf8().constData());
    const qint64 inserted = insertRows(nextRow);
    transaction.commit();

    count_ = inserted;
    model_->tableReset();
}

void SqliteReadingTable::appendRowsInSteps(const RowSource& nextRow, const std::function<void()>& betweenSteps)
{
    requireOpen("append to");
    const qint64 before = count_;
    try {
        bool more = true;
        while (more) {
            QElapsedTimer step;
            step.start();
            qint64 rowsInStep = 0;
            appendRows([&](RowToAppend& row) {
                // The clock is asked every few hundred rows: a row takes about a microsecond.
                if (++rowsInStep % 256 == 0 && step.elapsed() >= AppendStepMs)
                    return false;
                more = nextRow(row);
                return more;
            });
            if (more && betweenSteps)
                betweenSteps();
        }
    } catch (...) {
        try {
            truncate(before);
        } catch (const TableError&) {
            // The failure that came first is the one to tell.
        }
        throw;
    }
}

void SqliteReadingTable::truncate(qint64 keep)
{
    if (count_ <= keep)
        return;
    Statement remove(db_, QStringLiteral("DELETE FROM %1 WHERE rowid > ?").arg(quoted(name_)));
    sqlite3_bind_int64(remove.get(), 1, keep);
    remove.step();
    count_ = keep;
    model_->tableReset();
}

// ---------------------------------------------------------------------------------------------------

namespace {

const char* const CreateTables[] = {
    R"(CREATE TABLE IF NOT EXISTS MeaData (RecNo INTEGER, MeaValue TEXT, Weight TEXT, "Time" TEXT, "Date" TEXT,
       Unit TEXT))",
    R"(CREATE TABLE IF NOT EXISTS GetRecorde (RecNo INTEGER, MeaValue TEXT, Weight TEXT, "Time" TEXT, "Date" TEXT))",
    R"(CREATE TABLE IF NOT EXISTS LoadData (RecNo INTEGER, MeaValue TEXT, Weight TEXT, "Time" TEXT, "Date" TEXT,
       Unit TEXT))",
};

void runQuery(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        fail(QStringLiteral("%1: %2").arg(sql, query.lastError().text()));
}

} // namespace

SqliteReadingStore::Connection::~Connection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

SqliteReadingStore::SqliteReadingStore(const QString& databasePath)
    : path_(databasePath)
{
    static std::atomic<int> nextConnection { 0 };
    connection_.name = QStringLiteral("decimora-store-%1").arg(nextConnection++);

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_.name);
    db.setDatabaseName(databasePath);
    if (!db.open())
        fail(QStringLiteral("Cannot open the database %1: %2").arg(databasePath, db.lastError().text()));
    {
        QSqlQuery journal(db);
        if (!journal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !journal.next()
            || journal.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            fail(QStringLiteral("Cannot give the database %1 a write-ahead log").arg(databasePath));
    }
    // With a write-ahead log, NORMAL never corrupts the file; only a power loss may cost the last
    // second's rows, and the tables are emptied at every start anyway.
    runQuery(db, QStringLiteral("PRAGMA synchronous=NORMAL"));
    for (const char* sql : CreateTables)
        runQuery(db, QString::fromUtf8(sql));

    const QVariant driverHandle = db.driver()->handle();
    if (!driverHandle.isValid() || qstrcmp(driverHandle.typeName(), "sqlite3*") != 0)
        fail(QStringLiteral("The SQLite driver does not give its connection handle"));
    sqlite3* handle = *static_cast<sqlite3* const*>(driverHandle.constData());

    meaData_ = std::make_unique<SqliteReadingTable>(handle, QStringLiteral("MeaData"));
    getRecorde_ = std::make_unique<SqliteReadingTable>(handle, QStringLiteral("GetRecorde"));
    loadData_ = std::make_unique<SqliteReadingTable>(handle, QStringLiteral("LoadData"));
    meaData_->open();
    getRecorde_->open();
    loadData_->open();
}

// The tables, declared after the connection, finalize their statements before it closes.
SqliteReadingStore::~SqliteReadingStore() = default;

QString SqliteReadingStore::defaultDatabasePath()
{
    return QDir::currentPath() + QStringLiteral("/Decimora.mdb");
}
