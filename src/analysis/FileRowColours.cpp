#include "analysis/FileRowColours.h"

FileRowColours::FileRowColours(RowColour rowColour, QObject* parent)
    : RowColourDelegate(parent)
    , rowColour_(std::move(rowColour))
{
}

std::optional<QColor> FileRowColours::rowColour(const QModelIndex& index) const
{
    bool isNumber = false;
    const qint64 recNo = index.siblingAtColumn(RecNoColumn).data().toLongLong(&isNumber);
    if (!isNumber)
        return std::nullopt;
    return rowColour_(recNo);
}
