#pragma once

#include "widgets/RowColourDelegate.h"

class ReadingStatistics;

// The cell painting of a live readings grid (DBGrid1DrawColumnCell): the rows holding the maximum
// red, those holding the minimum purple (purple wins when they are the same reading). The level is
// read from the row's MeaValue text as the model holds it, so painting reads no more than the
// visible rows.
class ReadingRowColours final : public RowColourDelegate {
public:
    static constexpr int MeaValueColumn = 1;

    ReadingRowColours(const ReadingStatistics& statistics, QObject* parent);

protected:
    std::optional<QColor> rowColour(const QModelIndex& index) const override;

private:
    const ReadingStatistics& statistics_;
};
