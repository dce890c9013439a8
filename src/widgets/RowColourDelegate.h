#pragma once

#include <QStyledItemDelegate>

#include <optional>

// The cell painting of a readings grid whose rows take a background of their own. A plain cell is
// painted here directly, a good deal cheaper than the style's general item layout; the current cell
// keeps the style's own look but its row's colour. Every cell of a row asks the same question, so
// whole rows are coloured.
class RowColourDelegate : public QStyledItemDelegate {
public:
    // The blank left and right of a cell's text.
    static constexpr int TextMargin = 3;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The grids' white text on a row colour dark enough for it, else black.
    static QColor ReadableTextOn(const QColor& background);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
    // The background of the cell's row; none where the row keeps the grid's own.
    virtual std::optional<QColor> rowColour(const QModelIndex& index) const = 0;
};
