#pragma once

// The three reading tables in one SQLite database file, reached through Qt SQL.

#include "core/ReadingTable.h"

#include <QString>

#include <memory>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
class ReadingGridModel;

// One reading table. Rows are kept in insertion order and a row's position is its rowid minus one:
// rows are only ever appended or all removed, so the rowids stay 1..n (open() repairs a file whose
// rows were deleted by another program). Everything runs on the user-interface thread.
class SqliteReadingTable final : public ReadingTable {
public:
    SqliteReadingTable(sqlite3* db, QString tableName);
    ~SqliteReadingTable() override;

    SqliteReadingTable(const SqliteReadingTable&) = delete;
    SqliteReadingTable& operator=(const SqliteReadingTable&) = delete;

    QString tableName() const override { return name_; }
    void open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    // Works on a closed table too: the start-up empties the tables while they are closed.
    void empty() override;
    // RecNo must be empty (stored as no value) or a whole number; the other texts are stored as given.
    void appendRow(const ReadingRow& row) override;
    // A closed table shows no rows: 0.
    qint64 rowCount() const override { return open_ ? count_ : 0; }
    ReadingRow row(qint64 index) const override;
    void forEachRow(const std::function<void(const ReadingRow&)>& visit) const override;
    void forEachRowText(const std::function<void(const ReadingRowText&)>& visit) const override;
    void forEachRowTextFrom(qint64 first, const std::function<void(const ReadingRowText&)>& visit) const override;
    // Large tables are read in stretches on several cores at once.
    void writeRowsInOrder(const RowTextFormatter& format, const BlockWriter& write) const override;
    void suspendUpdates() override;
    void resumeUpdates() override;
    QAbstractTableModel* gridModel() override;
    // RecNo and the texts are stored as the rows give them.
    void appendRows(const RowSource& nextRow) override;
    void replaceRows(const RowSource& nextRow) override;
    // A step takes about AppendStepMs.
    static constexpr int AppendStepMs = 30;
    void appendRowsInSteps(const RowSource& nextRow, const std::function<void()>& betweenSteps) override;

    // Rows [first, first + count) that exist, for the grid model's pages.
    std::vector<ReadingRow> readRows(qint64 first, qint64 count) const;

private:
    void requireOpen(const char* operation) const;
    void renumberIfRowidsHaveGaps();
    sqlite3_stmt* statement(sqlite3_stmt*& cached, const QString& sql) const;
    sqlite3_stmt* insertStatement() const;
    // Inserts every row nextRow gives inside the caller's transaction; the number inserted.
    qint64 insertRows(const RowSource& nextRow);
    // Removes the rows after the first `keep`, and tells the grids.
    void truncate(qint64 keep);

    sqlite3* db_;
    QString name_;
    bool open_ = false;
    qint64 count_ = 0;
    mutable sqlite3_stmt* insert_ = nullptr;
    mutable sqlite3_stmt* selectRange_ = nullptr;
    std::unique_ptr<ReadingGridModel> model_;
};

// The database "Decimora.mdb" (an SQLite file despite its name) with the tables MeaData, GetRecorde
// and LoadData, created when missing. WAL journal, so that an ODBC client can read the tables while
// the program appends to them. The tables are open once the store exists. Throws TableError when the
// database cannot be opened or prepared.
class SqliteReadingStore final : public ReadingStore {
public:
    explicit SqliteReadingStore(const QString& databasePath);
    ~SqliteReadingStore() override;

    SqliteReadingStore(const SqliteReadingStore&) = delete;
    SqliteReadingStore& operator=(const SqliteReadingStore&) = delete;

    // The working directory + "/Decimora.mdb": where the program keeps its tables.
    static QString defaultDatabasePath();

    ReadingTable& meaData() override { return *meaData_; }
    ReadingTable& getRecorde() override { return *getRecorde_; }
    ReadingTable& loadData() override { return *loadData_; }

    const QString& databasePath() const { return path_; }

private:
    // Closes and removes the Qt SQL connection, also when the constructor fails half-way.
    struct Connection {
        QString name;
        Connection() = default;
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;
        ~Connection();
    };

    QString path_;
    Connection connection_;
    std::unique_ptr<SqliteReadingTable> meaData_;
    std::unique_ptr<SqliteReadingTable> getRecorde_;
    std::unique_ptr<SqliteReadingTable> loadData_;
};
