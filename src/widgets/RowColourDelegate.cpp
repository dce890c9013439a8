#include "widgets/RowColourDelegate.h"

#include <QPainter>

#include <cmath>

namespace {

// The relative luminance of a colour, 0 for black to 1 for white (as WCAG reckons it).
double Luminance(const QColor& colour)
{
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

} // namespace

QColor RowColourDelegate::ReadableTextOn(const QColor& background)
{
    // White text keeps a contrast of at least 3:1 up to this luminance ((1 + 0.05) / 3 - 0.05).
    constexpr double WhiteReadableUpTo = 0.3;
    return Luminance(background) <= WhiteReadableUpTo ? QColor(Qt::white) : QColor(Qt::black);
}

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
    // White text stays on the dark row colours; the light ones (pale green, yellow) take black.
    const QColor text = ReadableTextOn(*colour);
    option->palette.setColor(QPalette::Text, text);
    option->palette.setColor(QPalette::HighlightedText, text);
}
