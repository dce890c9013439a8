#pragma once

// Where the writer's cells go: a BIFF stream or an .xlsx worksheet. Rows and columns are the
// writer's own; each format keeps what it can of them.

#include <QString>

#include <cstdint>

class SheetCells {
public:
    virtual ~SheetCells() = default;

    virtual void label(std::uint32_t row, std::uint32_t col, const QString& text) = 0;
    virtual void number(std::uint32_t row, std::uint32_t col, double value) = 0;
    virtual void integer(std::uint32_t row, std::uint32_t col, std::int32_t value) = 0;
    virtual void blank(std::uint32_t row, std::uint32_t col) = 0;
    // No cell above this row comes any more (an .xlsx sheet is written row after row).
    virtual void rowsDone(std::uint32_t belowRow) { (void)belowRow; }
};
