#pragma once

// The spreadsheet writer: the records behind a grid, with a title cell, the grid's column titles and
// its footers, written as a bare BIFF worksheet stream (.xls), or as an .xlsx workbook or a CSV text
// with the same content.

#include "core/DecimoraError.h"
#include "core/UserInteraction.h"
#include "output/ExportDataSet.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class SheetCells;
class XlsxSheet;

// Why an export wrote nothing: the file could not be written (with the system's reason), the sheet
// would hold more rows than the format has, or the grid names a field the data set lacks.
class SpreadsheetExportError : public DecimoraError {
public:
    using DecimoraError::DecimoraError;
};

enum class SpreadsheetFormat { Xls, Xlsx, Csv };

// The format a chosen file name asks for: ".xlsx" and ".csv" (in any case) theirs, anything else .xls.
SpreadsheetFormat SpreadsheetFormatOf(const QString& path);
// The most rows a sheet of the format holds; 0 for no limit.
qint64 SheetRowLimit(SpreadsheetFormat format);
// How the level column goes into a sheet of the format: an .xlsx keeps the levels as numbers (a
// reader can chart them at once); .xls and .csv keep the text the table holds.
ReadingTableDataSet::MeaValueAs LevelsAs(SpreadsheetFormat format);

// The progress window of an export: its gauge runs from 0 to the record count. Freed when the
// export ends.
class ExportProgress {
public:
    virtual ~ExportProgress() = default;
    virtual void setPosition(qint64 recordNumber) = 0;
    // Called now and then while the writer works on without a record to count: the figures of an
    // .xlsx's Statistics sheet, the packing of its file.
    virtual void stillWorking() { }
};

// What the writer shows the user; each hook may be left empty, and then nothing is shown (with no
// way to ask, an existing file is not replaced).
struct ExportSheetHooks {
    std::function<MessageAnswer(const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon)>
        ask;
    std::function<void(bool busy)> busyCursor;
    // Shows and paints the progress window for an export of recordCount records.
    std::function<std::unique_ptr<ExportProgress>(qint64 recordCount)> showProgress;
};

inline constexpr char ProgressText[] = "正在导出数据，请稍候......";

// The column titles of a grid as rows of cells: the visible columns, packed from 0, each title split
// at "|" into one text per title row.
class TDBGridTitle {
public:
    using TTitleCell = std::vector<std::vector<QString>>;

    explicit TDBGridTitle(const GridDescription& grid);

    int visibleColumns() const { return visibleColumns_; }
    int titleRows() const { return titleRows_; }
    // The text of a visible column in a title row; empty where its title does not reach.
    const QString& cell(int column, int row) const { return cells_[std::size_t(column)][std::size_t(row)]; }

private:
    int visibleColumns_ = 0;
    int titleRows_ = 1;
    TTitleCell cells_;
};

class TDBGridToExcel {
public:
    explicit TDBGridToExcel(ExportSheetHooks hooks = {});
    ~TDBGridToExcel();

    TDBGridToExcel(const TDBGridToExcel&) = delete;
    TDBGridToExcel& operator=(const TDBGridToExcel&) = delete;

    bool ShowProgress = true;
    const GridDescription* DBGrid = nullptr;
    QString BeginDate;
    QString TitleName;
    QString EndDate;
    QString UserName;
    QString FileName;
    // Not in the .xls writer of old: the other formats, and whether an existing file is asked about
    // (a caller that has asked already says no).
    SpreadsheetFormat Format = SpreadsheetFormat::Xls;
    bool AskBeforeReplacing = true;
    // The level the .xlsx "Statistics" sheet counts the readings above and its "Events" sheet takes
    // as the threshold (the program's high alarm level), so that its rows read as the statistics
    // window's do.
    double HighAlarmLevel = 0.0;

    // Writes FileName from DBGrid. Does nothing for a closed or empty data set or a blank name, or
    // when the user keeps an existing file. A file is only ever replaced by a complete new one.
    // Throws SpreadsheetExportError (nothing written, any old file as it was) when the grid names a
    // missing field, the sheet does not fit the format, or the file cannot be written.
    void ExportSheet();

    // The rows the sheet of the current grid takes: title, column titles, records, footers.
    qint64 SheetRows() const;
    // Throws SpreadsheetExportError, saying the format's limit and what to choose instead, when the
    // sheet takes more rows than the format holds; ExportSheet checks it too.
    void CheckSheetFits() const;

    // The cell writers, at the current row and column. Integers outside the RK range are not
    // cut short: the records step writes them as numbers.
    void WriteLabelCell(const QString& text, bool advance);
    void WriteNumberCell(double value, bool advance);
    void WriteIntegerCell(std::int32_t value, bool advance);
    void WriteBlankCell();
    void NextCell();

private:
    void syncColumns();
    void writeSheet(SheetCells& cells, ExportProgress* progress);
    void writeRecords(SheetCells& cells, ExportProgress* progress);
    void writeFooters();
    void writeXls(ExportProgress* progress);
    void writeXlsx(ExportProgress* progress);
    // The sheets of figures of an .xlsx workbook over the reading table behind the grid, after the
    // records, from one walk of the table of their own: "Statistics" (the rows of StatisticsRows),
    // "Periods", "Hourly" and "Events" (FigureTables.h; the events at or above HighAlarmLevel).
    void writeFigureSheets(XlsxSheet& sheet, ExportProgress* progress);
    void writeCsv(ExportProgress* progress);

    ExportSheetHooks hooks_;
    std::int32_t currentCol_ = 0;
    std::int32_t currentRow_ = 0;
    SheetCells* cells_ = nullptr;
};

// The overwrite question of ExportSheet.
QString OverwriteQuestion(const QString& fileName);
inline constexpr char OverwriteCaption[] = "提示";

// Every row of a reading table to a sheet in the format of the file's name, in the columns of the
// readings grid, as Export to Excel writes it; without a question or a progress window, replacing a
// file there. For the command-line tool and the benchmarks, which have no grid and ask nothing.
void ExportReadingTable(ReadingTable& table, const QString& path);
