#include "widgets/RowColourDelegate.h"

#include <QPainter>

void RowColourDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    if (cell.state & (QStyle::State_Selected | QStyle::State_HasFocus)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    painter->fillRect(cell.rect,
        cell.backgroundBrush.style() != Qt::NoBrush ? cell.backgroundBrush : cell.palette.brush(QPalette::Base));
    const QRect textRect = cell.rect.adjusted(TextMargin, 0, -TextMargin, 0);
    painter->setFont(cell.font);
    painter->setPen(cell.palette.color(QPalette::Text));
    painter->drawText(textRect, static_cast<int>(cell.displayAlignment),
        cell.fontMetrics.elidedText(cell.text, Qt::ElideRight, textRect.width()));
}

void RowColourDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const std::optional<QColor> colour = rowColour(index);
    if (!colour)
        return;
    option->backgroundBrush = *colour;
    // The current row keeps its colour too.
    option->palette.setColor(QPalette::Highlight, *colour);
}
