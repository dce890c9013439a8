#pragma once

#include <QStyledItemDelegate>

#include <functional>
#include <optional>

// The cell painting of the analysis grid: every cell of a row takes the background that rowColour
// gives for the row's RecNo. The record number alone decides it (against the ten files' end record
// numbers), so painting a cell costs the same however many rows the table holds.
class FileRowColours final : public QStyledItemDelegate {
public:
    using RowColour = std::function<std::optional<QColor>(qint64 recNo)>;
    static constexpr int RecNoColumn = 0;
    // The blank left and right of a cell's text.
    static constexpr int TextMargin = 3;

    FileRowColours(RowColour rowColour, QObject* parent);

    // A plain cell is painted here directly; the current cell keeps the style's own look.
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    void DBGrid1DrawColumnCell(QStyleOptionViewItem* option, const QModelIndex& index) const;

    RowColour rowColour_;
};
