#pragma once

#include "core/DecimoraError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>

class QAbstractTableModel;

// One reading as the tables take it and give it back: every column as text.
struct ReadingRow {
    QString recNo;
    QString meaValue;
    QString weight;
    QString time;
    QString date;

    bool operator==(const ReadingRow&) const = default;
};

// The texts a data file carries of one row, as UTF-8 bytes, valid only while the row is visited.
struct ReadingRowText {
    QByteArrayView meaValue;
    QByteArrayView weight;
    QByteArrayView time;
    QByteArrayView date;
};

// One row of a bulk append. RecNo is a number or none (stored as no value); the texts are UTF-8 bytes
// stored exactly as they are.
struct RowToAppend {
    std::optional<qint64> recNo;
    ReadingRowText text;
};
// Fills in the next row of a bulk append and returns true, or returns false after the last row. The
// row's views must stay valid until the source is called again.
using RowSource = std::function<bool(RowToAppend& row)>;

// Appends the bytes of one row to a block.
using RowTextFormatter = std::function<void(const ReadingRowText& row, QByteArray& block)>;
// Takes a block of formatted rows.
using BlockWriter = std::function<void(QByteArrayView block)>;
// The size at which a block of formatted rows is handed on.
inline constexpr qsizetype RowBlockBytes = qsizetype(1) << 20;

// A failure of the database behind a table, with the database's own text.
class TableError : public DecimoraError {
public:
    using DecimoraError::DecimoraError;
};

// One of the three reading tables (MeaData, GetRecorde, LoadData). Rows come back in insertion order;
// MeaValue comes back exactly as it was stored. Errors are thrown as TableError.
class ReadingTable {
public:
    virtual ~ReadingTable() = default;

    virtual QString tableName() const = 0;
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Removes every row and keeps the table.
    virtual void empty() = 0;
    virtual void appendRow(const ReadingRow& row) = 0;
    virtual qint64 rowCount() const = 0;
    bool isEmpty() const { return rowCount() == 0; }
    // The row at a 0-based position in insertion order.
    virtual ReadingRow row(qint64 index) const = 0;
    // Walks every row from the first to the last.
    virtual void forEachRow(const std::function<void(const ReadingRow&)>& visit) const = 0;
    // The same walk over MeaValue, Weight, Time and Date without making a QString of every field, for
    // writers of large files.
    virtual void forEachRowText(const std::function<void(const ReadingRowText&)>& visit) const
    {
        forEachRow([&](const ReadingRow& row) {
            const QByteArray meaValue = row.meaValue.toUtf8();
            const QByteArray weight = row.weight.toUtf8();
            const QByteArray time = row.time.toUtf8();
            const QByteArray date = row.date.toUtf8();
            visit({ meaValue, weight, time, date });
        });
    }
    // The same walk from the row at position first on: the rows a growing table has gained.
    virtual void forEachRowTextFrom(qint64 first, const std::function<void(const ReadingRowText&)>& visit) const
    {
        qint64 position = 0;
        forEachRowText([&](const ReadingRowText& row) {
            if (position++ >= first)
                visit(row);
        });
    }
    // Turns every row into bytes with format and hands the bytes to write in row order, a block of
    // rows at a time, on the calling thread. format may run on several threads at once (a table may
    // read stretches of itself in parallel), so it must only append to the block it is given. An
    // exception thrown by write stops the walk and passes through.
    virtual void writeRowsInOrder(const RowTextFormatter& format, const BlockWriter& write) const
    {
        QByteArray block;
        forEachRowText([&](const ReadingRowText& row) {
            format(row, block);
            if (block.size() >= RowBlockBytes) {
                write(block);
                block.resize(0);
            }
        });
        if (!block.isEmpty())
            write(block);
    }
    // While suspended, the grids showing the table are not told of each change; resuming tells them once.
    virtual void suspendUpdates() = 0;
    virtual void resumeUpdates() = 0;
    // The grid model over this table (columns RecNo, MeaValue, Weight, Time, Date); owned by the table.
    virtual QAbstractTableModel* gridModel() = 0;
    // Appends every row nextRow gives, in one transaction: all of them or none. An exception thrown by
    // nextRow abandons the append and passes through.
    virtual void appendRows(const RowSource& nextRow) = 0;
    // Replaces every row by the rows nextRow gives, in one transaction: when anything fails (nextRow
    // throws, the table refuses a row) the rows from before are all still there.
    virtual void replaceRows(const RowSource& nextRow) = 0;
    // The same for an append long enough to hold up the user: the rows go in steps of a short
    // transaction each, and betweenSteps runs after each step but the last (to let the program handle
    // its events; the rows of the steps done are in the table and its grids then). When a step fails
    // or nextRow or betweenSteps throws, the rows appended so far are removed again and the exception
    // passes through: all of them or none, as far as the table can still be written. This one takes
    // them in one step.
    virtual void appendRowsInSteps(const RowSource& nextRow, const std::function<void()>& betweenSteps)
    {
        (void)betweenSteps;
        appendRows(nextRow);
    }
};

// The database holding the three tables.
class ReadingStore {
public:
    virtual ~ReadingStore() = default;
    virtual ReadingTable& meaData() = 0;
    virtual ReadingTable& getRecorde() = 0;
    virtual ReadingTable& loadData() = 0;
};

// The module's three tables, owned by its ReadingStore; null for a module without one.
struct ModuleTables {
    ReadingTable* MeaData = nullptr;
    ReadingTable* GetRecorde = nullptr;
    ReadingTable* LoadData = nullptr;
};
