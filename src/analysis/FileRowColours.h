#pragma once

#include "widgets/RowColourDelegate.h"

#include <functional>

// The cell painting of the analysis grid (DBGrid1DrawColumnCell): every cell of a row takes the
// background that rowColour gives for the row's RecNo. The record number alone decides it (against
// the ten files' end record numbers), so painting a cell costs the same however many rows the table
// holds.
class FileRowColours final : public RowColourDelegate {
public:
    using RowColour = std::function<std::optional<QColor>(qint64 recNo)>;
    static constexpr int RecNoColumn = 0;

    FileRowColours(RowColour rowColour, QObject* parent);

protected:
    std::optional<QColor> rowColour(const QModelIndex& index) const override;

private:
    RowColour rowColour_;
};
