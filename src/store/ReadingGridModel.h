#pragma once

// The model the reading grids show: columns RecNo, MeaValue, Weight, Time, Date of one table.

#include "core/ReadingTable.h"

#include <QAbstractTableModel>
#include <QCache>

#include <vector>

class SqliteReadingTable;

// Rows are fetched lazily, a page at a time, so a grid over a million rows opens at once; painting
// reads rows from a small cache of pages instead of querying per cell. A row appended through the
// table becomes one inserted row here without reading the table again. While the table's updates are
// suspended the model stays as it was and announces the appended rows once, when they are resumed.
class ReadingGridModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int PageSize = 512;
    static constexpr int CachedPages = 64;

    explicit ReadingGridModel(const SqliteReadingTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // Shows every row of the table at once (for moving a grid to the table's last row).
    void fetchAll();

    // Called by the table.
    void tableReset();
    // onlyRow: the row, when exactly one was appended (it goes straight into the cache).
    void rowsAppended(qint64 firstRow, const ReadingRow* onlyRow);
    void suspend();
    void resume();

private:
    qint64 tableRows() const;
    void showAppendedRows();
    const std::vector<ReadingRow>* page(qint64 pageIndex) const;

    const SqliteReadingTable& table_;
    int shown_ = 0;
    int suspendDepth_ = 0;
    // Set while a change is being announced: views that ask for more rows then must wait for its end.
    bool announcing_ = false;
    bool appendedWhileSuspended_ = false;
    // Rows the table held before the appends not yet shown; the model grows only if it showed them all.
    qint64 rowsBeforeAppend_ = 0;
    mutable QCache<qint64, std::vector<ReadingRow>> pages_;
};
