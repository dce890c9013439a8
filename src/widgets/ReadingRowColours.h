#pragma once

#include <QStyledItemDelegate>

class ReadingStatistics;

// The cell painting of a readings grid: the rows holding the maximum red, those holding the
// minimum purple (purple wins when they are the same reading). The level is read from the row's
// MeaValue text as the model holds it, so painting reads no more than the visible rows.
class ReadingRowColours final : public QStyledItemDelegate {
public:
    static constexpr int MeaValueColumn = 1;

    ReadingRowColours(const ReadingStatistics& statistics, QObject* parent);

    // A plain cell is painted here directly, a good deal cheaper than the style's general item
    // layout; the current cell keeps the style's own look.
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    void DBGrid1DrawColumnCell(QStyleOptionViewItem* option, const QModelIndex& index) const;

    const ReadingStatistics& statistics_;
};
