#include "output/XlsxSheet.h"

#include "output/DBGridToExcel.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>

namespace {

[[noreturn]] void failWriting(const QString& path, lxw_error error, int systemError)
{
    // libxlsxwriter's own text says what it was doing; the system's says why it failed.
    const QString reason = systemError != 0 ? qt_error_string(systemError) : QString::fromUtf8(lxw_strerror(error));
    throw SpreadsheetExportError(QStringLiteral("Cannot write %1: %2").arg(path, reason));
}

} // namespace

XlsxSheet::XlsxSheet(const QString& path, const QString& shownPath)
    : shownPath_(shownPath)
{
    lxw_workbook_options options {};
    options.constant_memory = LXW_TRUE;
    const QByteArray name = path.toLocal8Bit();
    errno = 0;
    workbook_ = workbook_new_opt(name.constData(), &options);
    if (workbook_)
        worksheet_ = workbook_add_worksheet(workbook_, nullptr);
    if (!worksheet_)
        failWriting(shownPath_, LXW_ERROR_MEMORY_MALLOC_FAILED, errno);
}

XlsxSheet::~XlsxSheet()
{
    // A workbook not finished is dropped: closing it would write the file.
    if (workbook_)
        lxw_workbook_free(workbook_);
}

void XlsxSheet::startSheet(const QString& name)
{
    // The sheet before is done: constant-memory mode takes no cell above a row already written.
    rowsDone(LXW_ROW_MAX);
    const QByteArray sheetName = name.toUtf8();
    errno = 0;
    worksheet_ = workbook_add_worksheet(workbook_, sheetName.constData());
    if (!worksheet_)
        failWriting(shownPath_, LXW_ERROR_MEMORY_MALLOC_FAILED, errno);
}

void XlsxSheet::freezeRowsAbove(std::uint32_t row)
{
    worksheet_freeze_panes(worksheet_, row, 0);
}

void XlsxSheet::writeCell(const Cell& cell)
{
    lxw_error error = LXW_NO_ERROR;
    if (const double* value = std::get_if<double>(&cell.value)) {
        error = worksheet_write_number(worksheet_, cell.row, lxw_col_t(cell.col), *value, nullptr);
    } else {
        const QByteArray text = std::get<QString>(cell.value).toUtf8();
        // An empty text without a format is no cell at all, as in the .xls sheet's reading.
        if (!text.isEmpty())
            error = worksheet_write_string(worksheet_, cell.row, lxw_col_t(cell.col), text.constData(), nullptr);
    }
    if (error != LXW_NO_ERROR)
        throw SpreadsheetExportError(QStringLiteral("Cannot write %1: %2 (row %3, column %4)")
                                         .arg(shownPath_, QString::fromUtf8(lxw_strerror(error)))
                                         .arg(cell.row + 1)
                                         .arg(cell.col + 1));
}

void XlsxSheet::label(std::uint32_t row, std::uint32_t col, const QString& text)
{
    waiting_.push_back(Cell { row, col, text });
}

void XlsxSheet::number(std::uint32_t row, std::uint32_t col, double value)
{
    waiting_.push_back(Cell { row, col, value });
}

void XlsxSheet::integer(std::uint32_t row, std::uint32_t col, std::int32_t value)
{
    waiting_.push_back(Cell { row, col, double(value) });
}

void XlsxSheet::blank(std::uint32_t, std::uint32_t)
{
    // A blank cell without a format is what an .xlsx sheet has where it has nothing.
}

void XlsxSheet::rowsDone(std::uint32_t belowRow)
{
    std::stable_sort(waiting_.begin(), waiting_.end(),
        [](const Cell& a, const Cell& b) { return a.row != b.row ? a.row < b.row : a.col < b.col; });
    const auto firstWaiting
        = std::find_if(waiting_.begin(), waiting_.end(), [&](const Cell& cell) { return cell.row >= belowRow; });
    for (auto cell = waiting_.begin(); cell != firstWaiting; ++cell)
        writeCell(*cell);
    waiting_.erase(waiting_.begin(), firstWaiting);
}

void XlsxSheet::finish()
{
    rowsDone(LXW_ROW_MAX);
    errno = 0;
    const lxw_error error = workbook_close(workbook_);
    const int systemError = errno;
    workbook_ = nullptr;
    if (error != LXW_NO_ERROR)
        failWriting(shownPath_, error, systemError);
}
