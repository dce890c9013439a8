#include "output/DBGridToExcel.h"

#include "core/TableWithPauses.h"
#include "core/WholeFileWriter.h"
#include "output/BiffSheet.h"
#include "output/CsvText.h"
#include "output/XlsxSheet.h"
#include "stats/FigureTables.h"
#include "stats/StatisticsRows.h"
#include "stats/TimedSeries.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

// An RK cell keeps 30 bits of an integer.
constexpr qint64 RkMinimum = -(qint64(1) << 29);
constexpr qint64 RkMaximum = (qint64(1) << 29) - 1;

QString grouped(qint64 number)
{
    return QLocale(QLocale::English).toString(number);
}

QString valueText(const FieldValue& value)
{
    if (const auto* text = std::get_if<QString>(&value))
        return *text;
    if (const auto* whole = std::get_if<qint64>(&value))
        return QString::number(*whole);
    if (const auto* real = std::get_if<double>(&value))
        return QString::number(*real, 'g', QLocale::FloatingPointShortest);
    return {};
}

enum class CellKind { Integer, Real, LargeObject, Text };

CellKind cellKind(FieldType type)
{
    switch (type) {
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::Bytes:
    case FieldType::AutoIncrement:
        return CellKind::Integer;
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::Bcd:
        return CellKind::Real;
    case FieldType::Blob:
    case FieldType::Memo:
        return CellKind::LargeObject;
    case FieldType::String:
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime:
    case FieldType::Boolean:
        break;
    }
    return CellKind::Text;
}

QString tooManyRowsText(SpreadsheetFormat format, qint64 records, qint64 rows)
{
    const bool xls = format == SpreadsheetFormat::Xls;
    return QStringLiteral("%1 records do not fit in %2 file: its sheet holds at most %3 rows, and these would take "
                          "%4 with the title and the column titles.\rChoose %5 in the Save dialog to export them all.")
        .arg(grouped(records), xls ? QStringLiteral("an .xls") : QStringLiteral("an .xlsx"),
            grouped(SheetRowLimit(format)), grouped(rows), xls ? QStringLiteral("*.xlsx") : QStringLiteral("*.csv"));
}

// Shows the hourglass for as long as it lives.
class BusyCursor {
public:
    explicit BusyCursor(const std::function<void(bool)>& show)
        : show_(show)
    {
        if (show_)
            show_(true);
    }
    ~BusyCursor()
    {
        if (show_)
            show_(false);
    }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    const std::function<void(bool)>& show_;
};

// Keeps the grids from repainting while the records are walked, also when the walk fails.
class SuspendedUpdates {
public:
    explicit SuspendedUpdates(ExportDataSet& dataSet)
        : dataSet_(dataSet)
    {
        dataSet_.suspendUpdates();
    }
    ~SuspendedUpdates() { dataSet_.resumeUpdates(); }
    SuspendedUpdates(const SuspendedUpdates&) = delete;
    SuspendedUpdates& operator=(const SuspendedUpdates&) = delete;

private:
    ExportDataSet& dataSet_;
};

} // namespace

SpreadsheetFormat SpreadsheetFormatOf(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0)
        return SpreadsheetFormat::Xlsx;
    if (suffix.compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0)
        return SpreadsheetFormat::Csv;
    return SpreadsheetFormat::Xls;
}

qint64 SheetRowLimit(SpreadsheetFormat format)
{
    switch (format) {
    case SpreadsheetFormat::Xls:
        // A cell's row is 16 bits: one more row would land on row 0.
        return qint64(1) << 16;
    case SpreadsheetFormat::Xlsx:
        return qint64(1) << 20;
    case SpreadsheetFormat::Csv:
        break;
    }
    return 0;
}

ReadingTableDataSet::MeaValueAs LevelsAs(SpreadsheetFormat format)
{
    return format == SpreadsheetFormat::Xlsx ? ReadingTableDataSet::MeaValueAs::Number
                                             : ReadingTableDataSet::MeaValueAs::Text;
}

QString OverwriteQuestion(const QString& fileName)
{
    return QStringLiteral("已存在文件（") + fileName + QStringLiteral("），是否覆盖？");
}

// ---------------------------------------------------------------------------------------------------

TDBGridTitle::TDBGridTitle(const GridDescription& grid)
{
    for (const GridColumn& column : grid.columns) {
        titleRows_ = std::max(titleRows_, int(column.title.count(QLatin1Char('|'))) + 1);
        if (column.visible)
            ++visibleColumns_;
    }
    for (const GridColumn& column : grid.columns) {
        if (!column.visible)
            continue;
        std::vector<QString> rows(static_cast<std::size_t>(titleRows_));
        const QStringList parts = column.title.split(QLatin1Char('|'));
        for (qsizetype row = 0; row < parts.size(); ++row)
            rows[std::size_t(row)] = parts[row];
        cells_.push_back(std::move(rows));
    }
}

// ---------------------------------------------------------------------------------------------------

TDBGridToExcel::TDBGridToExcel(ExportSheetHooks hooks)
    : hooks_(std::move(hooks))
{
}

TDBGridToExcel::~TDBGridToExcel() = default;

void TDBGridToExcel::ExportSheet()
{
    currentCol_ = 0;
    currentRow_ = 0;
    ExportDataSet* dataSet = DBGrid ? DBGrid->dataSet : nullptr;
    if (!dataSet || !dataSet->active() || dataSet->recordCount() == 0)
        return;
    if (FileName.trimmed().isEmpty())
        return;
    syncColumns();

    CheckSheetFits();

    const BusyCursor busy(hooks_.busyCursor);
    // The old file stays until a complete new one takes its place.
    if (AskBeforeReplacing && QFileInfo::exists(FileName)) {
        if (!hooks_.ask
            || hooks_.ask(OverwriteQuestion(FileName), QString::fromUtf8(OverwriteCaption), MessageButtons::YesNo,
                   MessageIcon::Question)
                != MessageAnswer::Yes)
            return;
    }
    std::unique_ptr<ExportProgress> progress;
    if (ShowProgress && hooks_.showProgress)
        progress = hooks_.showProgress(dataSet->recordCount());

    switch (Format) {
    case SpreadsheetFormat::Xls:
        writeXls(progress.get());
        break;
    case SpreadsheetFormat::Xlsx:
        writeXlsx(progress.get());
        break;
    case SpreadsheetFormat::Csv:
        writeCsv(progress.get());
        break;
    }
}

qint64 TDBGridToExcel::SheetRows() const
{
    if (!DBGrid || !DBGrid->dataSet)
        return 0;
    const TDBGridTitle titles(*DBGrid);
    qint64 footerRows = 0;
    if (DBGrid->footerRowCount == 1) {
        footerRows = 1;
    } else if (DBGrid->footerRowCount > 1) {
        for (const GridColumn& column : DBGrid->columns) {
            if (column.visible)
                footerRows = std::max<qint64>(footerRows, column.footers.size());
        }
    }
    return 1 + titles.titleRows() + DBGrid->dataSet->recordCount() + footerRows;
}

void TDBGridToExcel::CheckSheetFits() const
{
    const qint64 limit = SheetRowLimit(Format);
    if (limit > 0 && SheetRows() > limit)
        throw SpreadsheetExportError(tooManyRowsText(Format, DBGrid->dataSet->recordCount(), SheetRows()));
}

void TDBGridToExcel::syncColumns()
{
    std::vector<TField>& fields = DBGrid->dataSet->fields();
    for (std::size_t i = 0; i < DBGrid->columns.size(); ++i) {
        const GridColumn& column = DBGrid->columns[i];
        const auto found = std::find_if(fields.begin(), fields.end(),
            [&](const TField& field) { return field.FieldName.compare(column.fieldName, Qt::CaseInsensitive) == 0; });
        if (found == fields.end())
            throw SpreadsheetExportError(QStringLiteral("Field '%1' not found").arg(column.fieldName));
        TField field = *found;
        fields.erase(found);
        field.DisplayLabel = column.title;
        field.Visible = column.visible;
        fields.insert(fields.begin() + qsizetype(std::min(i, fields.size())), std::move(field));
    }
    for (TField& field : fields) {
        if (field.DisplayLabel.contains(QLatin1String("*****")))
            field.Visible = false;
    }
}

void TDBGridToExcel::WriteLabelCell(const QString& text, bool advance)
{
    cells_->label(std::uint32_t(currentRow_), std::uint32_t(currentCol_), text);
    if (advance)
        NextCell();
}

void TDBGridToExcel::WriteNumberCell(double value, bool advance)
{
    cells_->number(std::uint32_t(currentRow_), std::uint32_t(currentCol_), value);
    if (advance)
        NextCell();
}

void TDBGridToExcel::WriteIntegerCell(std::int32_t value, bool advance)
{
    cells_->integer(std::uint32_t(currentRow_), std::uint32_t(currentCol_), value);
    if (advance)
        NextCell();
}

void TDBGridToExcel::WriteBlankCell()
{
    cells_->blank(std::uint32_t(currentRow_), std::uint32_t(currentCol_));
    NextCell();
}

void TDBGridToExcel::NextCell()
{
    if (currentCol_ == std::int32_t(DBGrid->dataSet->fields().size()) - 1) {
        ++currentRow_;
        currentCol_ = 0;
    } else {
        ++currentCol_;
    }
}

void TDBGridToExcel::writeSheet(SheetCells& cells, ExportProgress* progress)
{
    cells_ = &cells;
    currentCol_ = 3;
    currentRow_ = 0;
    WriteLabelCell(TitleName, false);
    currentCol_ = 0;
    currentRow_ = 1;

    const TDBGridTitle titles(*DBGrid);
    for (int row = 0; row < titles.titleRows(); ++row) {
        for (int column = 0; column < titles.visibleColumns(); ++column) {
            currentCol_ = column;
            WriteLabelCell(titles.cell(column, row), false);
        }
        ++currentRow_;
    }
    currentCol_ = 0;
    cells.rowsDone(std::uint32_t(currentRow_));

    writeRecords(cells, progress);
    if (DBGrid->footerRowCount > 0)
        writeFooters();
    cells.rowsDone(std::uint32_t(currentRow_) + 1);
    cells_ = nullptr;
}

void TDBGridToExcel::writeRecords(SheetCells& cells, ExportProgress* progress)
{
    ExportDataSet& dataSet = *DBGrid->dataSet;
    const SuspendedUpdates suspended(dataSet);
    const std::vector<TField>& fields = dataSet.fields();
    const qint64 limit = SheetRowLimit(Format);
    qint64 recordNumber = 0;
    dataSet.forEachRecord([&](std::span<const FieldValue> values) {
        // Rows appended after the count was checked must not wrap onto the title either.
        if (limit > 0 && currentRow_ >= limit)
            throw SpreadsheetExportError(tooManyRowsText(Format, recordNumber + 1, qint64(currentRow_) + 1));
        for (const TField& field : fields) {
            const FieldValue& value = values[std::size_t(field.ValueIndex)];
            if (!field.Visible || std::holds_alternative<std::monostate>(value)) {
                WriteBlankCell();
                continue;
            }
            const auto* whole = std::get_if<qint64>(&value);
            const auto* real = std::get_if<double>(&value);
            switch (cellKind(field.DataType)) {
            case CellKind::Integer:
                if (whole && *whole >= RkMinimum && *whole <= RkMaximum)
                    WriteIntegerCell(std::int32_t(*whole), true);
                else if (whole)
                    WriteNumberCell(double(*whole), true);
                else if (real)
                    WriteNumberCell(*real, true);
                else
                    WriteLabelCell(valueText(value), true);
                break;
            case CellKind::Real:
                if (real)
                    WriteNumberCell(*real, true);
                else if (whole)
                    WriteNumberCell(double(*whole), true);
                else
                    WriteLabelCell(valueText(value), true);
                break;
            case CellKind::LargeObject:
                WriteLabelCell(QString(), true);
                break;
            case CellKind::Text:
                WriteLabelCell(valueText(value), true);
                break;
            }
        }
        ++recordNumber;
        if (progress)
            progress->setPosition(recordNumber);
        cells.rowsDone(std::uint32_t(currentRow_));
    });
}

void TDBGridToExcel::writeFooters()
{
    currentCol_ = 0;
    for (const GridColumn& column : DBGrid->columns) {
        if (!column.visible)
            continue;
        if (DBGrid->footerRowCount == 1) {
            WriteLabelCell(column.footers.value(0), false);
        } else {
            for (const QString& footer : column.footers) {
                WriteLabelCell(footer, false);
                ++currentRow_;
            }
            currentRow_ -= std::int32_t(column.footers.size());
        }
        ++currentCol_;
    }
    currentCol_ = 0;
}

void TDBGridToExcel::writeXls(ExportProgress* progress)
{
    WholeFileWriter file(FileName);
    BiffSheet sheet([&](QByteArrayView bytes) { file.writeAll(bytes); });
    sheet.begin();
    writeSheet(sheet, progress);
    sheet.end();
    file.commit();
}

void TDBGridToExcel::writeXlsx(ExportProgress* progress)
{
    WholeFileWriter file(FileName);
    {
        XlsxSheet sheet(file.pathToWriteByName(), FileName, [progress] {
            if (progress)
                progress->stillWorking();
        });
        sheet.freezeRowsAbove(std::uint32_t(1 + TDBGridTitle(*DBGrid).titleRows()));
        writeSheet(sheet, progress);
        writeFigureSheets(sheet, progress);
        sheet.finish();
    }
    file.commit();
}

namespace {

// A sheet of one table of figures: numbers stay numbers for the spreadsheet to reckon with, texts are
// written for programs (ISO dates and times, which sort as they should, "s" beside seconds); where a
// figure is not known its mark stands in the value's place, as the window shows it.
void WriteFigureSheet(XlsxSheet& sheet, const QString& name, const FigureTable& table)
{
    sheet.startSheet(name);
    sheet.freezeRowsAbove(1);
    for (std::size_t c = 0; c < table.columns.size(); ++c)
        sheet.label(0, std::uint32_t(c), table.columns[c].title);
    std::uint32_t row = 0;
    for (const std::vector<FigureCell>& cells : table.rows) {
        ++row;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const FigureCell& cell = cells[c];
            if (cell.number)
                sheet.number(row, std::uint32_t(c), *cell.number);
            else
                sheet.label(row, std::uint32_t(c), cell.plain.isEmpty() ? cell.shown : cell.plain);
        }
        sheet.rowsDone(row + 1);
    }
}

} // namespace

void TDBGridToExcel::writeFigureSheets(XlsxSheet& sheet, ExportProgress* progress)
{
    ExportDataSet& dataSet = *DBGrid->dataSet;
    const ReadingTable* table = dataSet.readingTable();
    if (!table)
        return;
    TimedSeries series;
    {
        const SuspendedUpdates suspended(dataSet);
        // A table holds no reading's interval: each reading lasts as its time stamps say. A walk of a
        // long table lets the progress window answer on the way.
        const TableWithPauses walk(*table, [progress](qint64) {
            if (progress)
                progress->stillWorking();
        });
        series = TimedSeriesOf(StampedSeriesOfTable(walk, TimeTextReader(), { walk.rowCount() }).front());
    }
    NoiseSettings settings;
    settings.events.thresholdTenths = static_cast<std::int32_t>(std::lround(HighAlarmLevel * 10.0));
    const NoiseFigures figures = NoiseFiguresOf(series, settings);
    WriteFigureSheet(sheet, QStringLiteral("Statistics"), StatisticsTable(StatisticsOf(series), HighAlarmLevel));
    WriteFigureSheet(sheet, QStringLiteral("Periods"), PeriodTable(figures));
    WriteFigureSheet(sheet, QStringLiteral("Hourly"), HourTable(figures));
    WriteFigureSheet(sheet, QStringLiteral("Events"), EventTable(figures));
}

void TDBGridToExcel::writeCsv(ExportProgress* progress)
{
    // One CSV column per shown grid column, headed by its title: what the user sees in the grid.
    ExportDataSet& dataSet = *DBGrid->dataSet;
    struct Column {
        int valueIndex;
        bool hidden;
    };
    std::vector<Column> columns;
    QStringList header;
    for (const GridColumn& column : DBGrid->columns) {
        if (!column.visible)
            continue;
        const auto field = std::find_if(dataSet.fields().begin(), dataSet.fields().end(),
            [&](const TField& f) { return f.FieldName.compare(column.fieldName, Qt::CaseInsensitive) == 0; });
        columns.push_back(Column { field->ValueIndex, !field->Visible });
        header << column.title.split(QLatin1Char('|')).join(QLatin1Char(' '));
    }

    WholeFileWriter file(FileName);
    QByteArray block;
    for (qsizetype i = 0; i < header.size(); ++i)
        AppendCsvField(block, header[i].toUtf8(), i + 1 == header.size());
    const SuspendedUpdates suspended(dataSet);
    qint64 recordNumber = 0;
    dataSet.forEachRecord([&](std::span<const FieldValue> values) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const QString text = columns[i].hidden ? QString() : valueText(values[std::size_t(columns[i].valueIndex)]);
            AppendCsvField(block, text.toUtf8(), i + 1 == columns.size());
        }
        if (block.size() >= CsvBlockBytes) {
            file.writeAll(block);
            block.resize(0);
        }
        ++recordNumber;
        if (progress)
            progress->setPosition(recordNumber);
    });
    file.writeAll(block);
    file.commit();
}

void ExportReadingTable(ReadingTable& table, const QString& path)
{
    const SpreadsheetFormat format = SpreadsheetFormatOf(path);
    ReadingTableDataSet dataSet(table, LevelsAs(format));
    const GridDescription grid = ReadingsGridDescription(dataSet);
    TDBGridToExcel writer;
    writer.DBGrid = &grid;
    writer.ShowProgress = false;
    writer.AskBeforeReplacing = false;
    writer.FileName = path;
    writer.Format = format;
    writer.ExportSheet();
}
