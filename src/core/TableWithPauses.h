#pragma once

// A reading table, read only, seen through walks that stop now and then: every PauseEveryRows rows of
// a forEachRow or forEachRowText, `pause` runs (to keep the program answering, to show how far the
// walk has got). For a long walk that a function of another module makes (the statistics of a whole
// table) and that offers no hook of its own. Whatever would change the table throws.

#include "core/ReadingTable.h"

#include <functional>
#include <utility>

class TableWithPauses final : public ReadingTable {
public:
    static constexpr qint64 PauseEveryRows = 4096;

    TableWithPauses(const ReadingTable& table, std::function<void(qint64 rowsWalked)> pause)
        : table_(table)
        , pause_(std::move(pause))
    {
    }

    QString tableName() const override { return table_.tableName(); }
    bool isOpen() const override { return table_.isOpen(); }
    qint64 rowCount() const override { return table_.rowCount(); }
    ReadingRow row(qint64 index) const override { return table_.row(index); }
    void forEachRow(const std::function<void(const ReadingRow&)>& visit) const override
    {
        qint64 walked = 0;
        table_.forEachRow([&](const ReadingRow& row) {
            visit(row);
            pauseAfter(++walked);
        });
    }
    void forEachRowText(const std::function<void(const ReadingRowText&)>& visit) const override
    {
        qint64 walked = 0;
        table_.forEachRowText([&](const ReadingRowText& row) {
            visit(row);
            pauseAfter(++walked);
        });
    }

    void open() override { readOnly(); }
    void close() override { readOnly(); }
    void empty() override { readOnly(); }
    void appendRow(const ReadingRow&) override { readOnly(); }
    void appendRows(const RowSource&) override { readOnly(); }
    void replaceRows(const RowSource&) override { readOnly(); }
    void suspendUpdates() override { }
    void resumeUpdates() override { }
    QAbstractTableModel* gridModel() override { return nullptr; }

private:
    void pauseAfter(qint64 walked) const
    {
        if (walked % PauseEveryRows == 0 && pause_)
            pause_(walked);
    }
    [[noreturn]] void readOnly() const
    {
        throw TableError(QStringLiteral("The table %1 is only read here").arg(table_.tableName()));
    }

    const ReadingTable& table_;
    std::function<void(qint64)> pause_;
};
