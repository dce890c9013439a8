#include "output/DBGridToExcel.h"

#include "core/TableWithPauses.h"
#include "datafile/WriteWhole.h"
#include "output/BiffSheet.h"
#include "output/CsvText.h"
#include "output/XlsxSheet.h"
#include "stats/StatisticsRows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A file written by name by another library: made under a temporary name beside the target, then
// put in the target's place whole.
class ReplaceWhenComplete {
public:
    explicit ReplaceWhenComplete(const QString& target)
        : target_(target)
        , temporary_(QFileInfo(target).absolutePath() + QStringLiteral("/.") + QFileInfo(target).fileName()
              + QStringLiteral(".XXXXXX"))
    {
        if (!temporary_.open())
            throw SpreadsheetExportError(QStringLiteral("Cannot create %1: %2").arg(target, temporary_.errorString()));
        temporary_.close();
    }

    QString temporaryPath() const { return temporary_.fileName(); }

    void commit()
    {
        const QByteArray temporary = QFile::encodeName(temporary_.fileName());
        const QByteArray target = QFile::encodeName(target_);
        // The new file gets what the old one had, or what a new file gets: the temporary file is
        // private to its owner.
        mode_t mode = 0;
        struct stat old { };
        if (::stat(target.constData(), &old) == 0) {
            mode = old.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        const int fd = ::open(temporary.constData(), O_RDONLY | O_CLOEXEC);
        const bool synced = fd >= 0 && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
        const int syncError = errno;
        if (fd >= 0)
            ::close(fd);
        if (!synced)
            failWith(syncError);
        if (::rename(temporary.constData(), target.constData()) != 0)
            failWith(errno);
        temporary_.setAutoRemove(false);
    }

private:
    [[noreturn]] void failWith(int systemError) const
    {
        throw SpreadsheetExportError(QStringLiteral("Cannot write %1: %2").arg(target_, qt_error_string(systemError)));
    }

    QString target_;
    QTemporaryFile temporary_;
};

// Writes to a QSaveFile, which replaces the target only on commit.
class SaveFileBlocks {
public:
    explicit SaveFileBlocks(const QString& path)
        : path_(path)
        , file_(path)
    {
        // Unbuffered: a buffered QSaveFile commits a file cut short by a full disk as if it were whole.
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            throw SpreadsheetExportError(QStringLiteral("Cannot create %1: %2").arg(path_, file_.errorString()));
    }
    void write(QByteArrayView bytes)
    {
        if (!writeWhole(file_, bytes))
            fail();
    }
    void commit()
    {
        if (!file_.commit())
            fail();
    }

private:
    [[noreturn]] void fail()
    {
        throw SpreadsheetExportError(QStringLiteral("Cannot write %1: %2").arg(path_, file_.errorString()));
    }

    QString path_;
    QSaveFile file_;
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
    SaveFileBlocks file(FileName);
    BiffSheet sheet([&](QByteArrayView bytes) { file.write(bytes); });
    sheet.begin();
    writeSheet(sheet, progress);
    sheet.end();
    file.commit();
}

void TDBGridToExcel::writeXlsx(ExportProgress* progress)
{
    ReplaceWhenComplete file(FileName);
    {
        XlsxSheet sheet(file.temporaryPath(), FileName, [progress] {
            if (progress)
                progress->stillWorking();
        });
        sheet.freezeRowsAbove(std::uint32_t(1 + TDBGridTitle(*DBGrid).titleRows()));
        writeSheet(sheet, progress);
        writeStatisticsSheet(sheet, progress);
        sheet.finish();
    }
    file.commit();
}

void TDBGridToExcel::writeStatisticsSheet(XlsxSheet& sheet, ExportProgress* progress)
{
    ExportDataSet& dataSet = *DBGrid->dataSet;
    const ReadingTable* table = dataSet.readingTable();
    if (!table)
        return;
    WeightedLevelStatistics statistics;
    {
        const SuspendedUpdates suspended(dataSet);
        // A table holds no reading's interval: durations and SEL are "not known" there. A walk of a
        // long table lets the progress window answer on the way.
        const TableWithPauses walk(*table, [progress](qint64) {
            if (progress)
                progress->stillWorking();
        });
        statistics = StatisticsOfTable(walk, 0);
    }
    sheet.startSheet(QStringLiteral("Statistics"));
    sheet.freezeRowsAbove(1);
    std::uint32_t row = 0;
    sheet.label(row, 0, QStringLiteral("Figure"));
    sheet.label(row, 1, QStringLiteral("Value"));
    sheet.label(row, 2, QStringLiteral("Unit"));
    for (const StatisticsRow& figure : StatisticsRows(statistics, HighAlarmLevel)) {
        ++row;
        sheet.label(row, 0, figure.label);
        // A number stays a number for the spreadsheet to reckon with; where the figure is not
        // known its mark stands in the value's place, as the window shows it. A level is the one
        // decimal the window, the data sheet and the readings show, rounded as they round it.
        if (figure.value && figure.unit == QLatin1String("dB"))
            sheet.number(row, 1, QString::number(*figure.value, 'f', 1).toDouble());
        else if (figure.value)
            sheet.number(row, 1, *figure.value);
        else
            sheet.label(row, 1, figure.text);
        sheet.label(row, 2, figure.unit);
        sheet.rowsDone(row + 1);
    }
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

    SaveFileBlocks file(FileName);
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
            file.write(block);
            block.resize(0);
        }
        ++recordNumber;
        if (progress)
            progress->setPosition(recordNumber);
    });
    file.write(block);
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
