#include "widgets/ReadingRowColours.h"

#include "core/ReadingStatistics.h"
#include "datafile/DataFile.h"

namespace {

const QColor MaximumRow(255, 0, 0);
const QColor MinimumRow(128, 0, 128);

} // namespace

ReadingRowColours::ReadingRowColours(const ReadingStatistics& statistics, QObject* parent)
    : RowColourDelegate(parent)
    , statistics_(statistics)
{
}

std::optional<QColor> ReadingRowColours::rowColour(const QModelIndex& index) const
{
    const double value = ValueFromText(index.siblingAtColumn(MeaValueColumn).data().toString());
    std::optional<QColor> colour;
    if (value >= statistics_.maximum())
        colour = MaximumRow;
    if (value <= statistics_.minimum())
        colour = MinimumRow;
    return colour;
}
