#include "ReadingRowColours.h"

#include "DataFile.h"
#include "ReadingStatistics.h"

#include <QPainter>

#include <optional>

namespace {

const QColor MaximumRow(255, 0, 0);
const QColor MinimumRow(128, 0, 128);
constexpr int TextMargin = 3;

} // namespace

ReadingRowColours::ReadingRowColours(const ReadingStatistics& statistics, QObject* parent)
    : QStyledItemDelegate(parent)
    , statistics_(statistics)
{
}

void ReadingRowColours::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
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

void ReadingRowColours::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    DBGrid1DrawColumnCell(option, index);
}

void ReadingRowColours::DBGrid1DrawColumnCell(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    const QString text = index.siblingAtColumn(MeaValueColumn).data().toString();
    const double value = ValueFromText(text);
    std::optional<QColor> colour;
    if (value >= statistics_.maximum())
        colour = MaximumRow;
    if (value <= statistics_.minimum())
        colour = MinimumRow;
    if (!colour)
        return;
    option->backgroundBrush = *colour;
    // The current row keeps its colour too.
    option->palette.setColor(QPalette::Highlight, *colour);
}
