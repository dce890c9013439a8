#include "store/ReadingGridModel.h"

#include "store/SqliteReadingStore.h"

#include <algorithm>
#include <climits>

namespace {
const char* const ColumnNames[] = { "RecNo", "MeaValue", "Weight", "Time", "Date" };
constexpr int ColumnCount = 5;
} // namespace

ReadingGridModel::ReadingGridModel(const SqliteReadingTable& table, QObject* parent)
    : QAbstractTableModel(parent)
    , table_(table)
    , pages_(CachedPages)
{
}

qint64 ReadingGridModel::tableRows() const
{
    return std::min<qint64>(table_.rowCount(), INT_MAX);
}

int ReadingGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : shown_;
}

int ReadingGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const std::vector<ReadingRow>* ReadingGridModel::page(qint64 pageIndex) const
{
    if (auto* cached = pages_.object(pageIndex))
        return cached;
    // A grid paints from inside the event loop: a database error shows as empty cells, not a crash.
    try {
        pages_.insert(pageIndex, new std::vector<ReadingRow>(table_.readRows(pageIndex * PageSize, PageSize)));
    } catch (const TableError&) {
        return nullptr;
    }
    return pages_.object(pageIndex);
}

QVariant ReadingGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= shown_ || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    const std::vector<ReadingRow>* rows = page(index.row() / PageSize);
    const auto offset = std::size_t(index.row() % PageSize);
    if (!rows || offset >= rows->size())
        return {};
    const ReadingRow& row = (*rows)[offset];
    switch (index.column()) {
    case 0: {
        bool isNumber = false;
        const qlonglong recNo = row.recNo.toLongLong(&isNumber);
        return isNumber ? QVariant(recNo) : QVariant(row.recNo);
    }
    case 1:
        return row.meaValue;
    case 2:
        return row.weight;
    case 3:
        return row.time;
    case 4:
        return row.date;
    default:
        return {};
    }
}

QVariant ReadingGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromLatin1(ColumnNames[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool ReadingGridModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && suspendDepth_ == 0 && !announcing_ && shown_ < tableRows();
}

void ReadingGridModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    const int more = int(std::min<qint64>(PageSize, tableRows() - shown_));
    announcing_ = true;
    beginInsertRows(QModelIndex(), shown_, shown_ + more - 1);
    shown_ += more;
    endInsertRows();
    announcing_ = false;
}

void ReadingGridModel::fetchAll()
{
    if (suspendDepth_ > 0 || announcing_ || shown_ >= tableRows())
        return;
    announcing_ = true;
    beginInsertRows(QModelIndex(), shown_, int(tableRows()) - 1);
    shown_ = int(tableRows());
    endInsertRows();
    announcing_ = false;
}

void ReadingGridModel::tableReset()
{
    announcing_ = true;
    beginResetModel();
    pages_.clear();
    shown_ = int(std::min<qint64>(PageSize, tableRows()));
    appendedWhileSuspended_ = false;
    endResetModel();
    announcing_ = false;
}

void ReadingGridModel::rowsAppended(qint64 firstRow, const ReadingRow* onlyRow)
{
    // Only the page that held the table's last rows can have changed.
    const qint64 pageIndex = firstRow / PageSize;
    if (auto* cached = pages_.object(pageIndex)) {
        if (onlyRow && qint64(cached->size()) == firstRow % PageSize)
            cached->push_back(*onlyRow);
        else
            pages_.remove(pageIndex);
    }
    if (suspendDepth_ > 0) {
        if (!appendedWhileSuspended_)
            rowsBeforeAppend_ = firstRow;
        appendedWhileSuspended_ = true;
        return;
    }
    rowsBeforeAppend_ = firstRow;
    showAppendedRows();
}

// A grid that showed every row goes on showing the new ones, up to one more page; the rest are
// fetched as the grid scrolls down. A grid that had not fetched everything just has more to fetch.
void ReadingGridModel::showAppendedRows()
{
    if (shown_ < rowsBeforeAppend_)
        return;
    const int target = int(std::min<qint64>(tableRows(), std::max<qint64>(shown_ + 1, rowsBeforeAppend_ + PageSize)));
    if (target <= shown_)
        return;
    announcing_ = true;
    beginInsertRows(QModelIndex(), shown_, target - 1);
    shown_ = target;
    endInsertRows();
    announcing_ = false;
}

void ReadingGridModel::suspend()
{
    ++suspendDepth_;
}

void ReadingGridModel::resume()
{
    if (suspendDepth_ == 0 || --suspendDepth_ > 0)
        return;
    if (appendedWhileSuspended_) {
        appendedWhileSuspended_ = false;
        showAppendedRows();
    }
}
