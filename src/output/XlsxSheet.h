#pragma once

// One worksheet of an .xlsx workbook written through libxlsxwriter in its constant-memory mode: each
// row goes to a temporary file as soon as it is complete, so a million rows take no more memory
// than ten. Rows must therefore come in order; cells of rows not yet done wait here.

#include "output/SheetCells.h"

#include <QString>

#include <variant>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;

class XlsxSheet final : public SheetCells {
public:
    // Throws SpreadsheetExportError when the workbook cannot be started.
    XlsxSheet(const QString& path, const QString& shownPath);
    ~XlsxSheet() override;

    XlsxSheet(const XlsxSheet&) = delete;
    XlsxSheet& operator=(const XlsxSheet&) = delete;

    // Writes the waiting cells; the cells that follow go to a new worksheet of this name, from its
    // row 0. Throws SpreadsheetExportError when the sheet cannot be added.
    void startSheet(const QString& name);
    // Keeps the rows above this one in view while the rest scrolls.
    void freezeRowsAbove(std::uint32_t row);
    // Writes the waiting cells and the workbook's file. Throws SpreadsheetExportError with the
    // system's reason when the file cannot be written.
    void finish();

    void label(std::uint32_t row, std::uint32_t col, const QString& text) override;
    void number(std::uint32_t row, std::uint32_t col, double value) override;
    void integer(std::uint32_t row, std::uint32_t col, std::int32_t value) override;
    void blank(std::uint32_t row, std::uint32_t col) override;
    void rowsDone(std::uint32_t belowRow) override;

private:
    struct Cell {
        std::uint32_t row;
        std::uint32_t col;
        std::variant<double, QString> value;
    };
    void writeCell(const Cell& cell);

    QString shownPath_;
    lxw_workbook* workbook_ = nullptr;
    lxw_worksheet* worksheet_ = nullptr;
    std::vector<Cell> waiting_;
};
