#include "cli/TableFiles.h"

#include "cli/CliError.h"
#include "cli/LiveLogFile.h"
#include "core/WholeFileWriter.h"
#include "datafile/DataFile.h"
#include "datafile/StagingFile.h"
#include "output/DBGridToExcel.h"
#include "store/SqliteReadingStore.h"

#include <QFileInfo>
#include <QRegularExpression>

std::optional<TableFileKind> TableFileKindOf(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("dmr"))
        return TableFileKind::DataFile;
    if (suffix == QLatin1String("csv") || suffix == QLatin1String("xlsx") || suffix == QLatin1String("xls"))
        return TableFileKind::Spreadsheet;
    return std::nullopt;
}

std::optional<qint64> TableFileRecordLimit(const QString& path)
{
    if (TableFileKindOf(path) != TableFileKind::Spreadsheet)
        return std::nullopt;
    const qint64 rows = SheetRowLimit(SpreadsheetFormatOf(path));
    if (rows == 0)
        return std::nullopt;
    return rows - 2;
}

void WriteTableFile(ReadingTable& table, const QString& path)
{
    if (TableFileKindOf(path) == TableFileKind::DataFile) {
        WriteDataFile(table, path);
        return;
    }
    try {
        ExportReadingTable(table, path);
    } catch (const SpreadsheetExportError& error) {
        // The export's advice names the desktop program's Save dialog; here the output's name chooses
        // the format.
        QString text = error.text();
        static const QRegularExpression saveDialog(QStringLiteral("Choose \\*(\\.\\w+) in the Save dialog"));
        text.replace(saveDialog, QStringLiteral("Name the output file *\\1"));
        throw CliError(text);
    }
}

void RequireWritable(const QString& path)
{
    const QFileInfo info(path);
    // A FIFO or a device is opened only when there is something to write: opening it now could wait
    // for a reader.
    if (path.isEmpty() || (info.exists() && !info.isFile() && !info.isDir()))
        return;
    // Made beside the file and removed again; the file itself is not touched.
    const WholeFileWriter probe(path);
}

WorkFolder::WorkFolder()
{
    if (!folder_.isValid())
        throw CliError(QStringLiteral("Cannot create a temporary folder: %1").arg(folder_.errorString()));
}

std::unique_ptr<SqliteReadingStore> WorkFolder::store() const
{
    return std::make_unique<SqliteReadingStore>(folder_.filePath(QStringLiteral("Decimora.mdb")));
}

void LoadInto(const WorkFolder& work, ReadingTable& table, const QString& path)
{
    table.empty();
    StagingFileLease staging = StagingFileLease::acquire(work.path(), QStringLiteral("a data file load"));
    if (LoadDataFile(path, table, staging))
        return;
    const std::optional<LiveLogFile> log = ReadLiveLog(path);
    if (!log)
        throw CliError(QStringLiteral("%1 is not a Decimora data file.").arg(path));
    // Numbered from 1 in the order of the lines, as a download numbers its readings.
    qint64 next = 0;
    table.appendRows([&](RowToAppend& row) {
        if (next == qint64(log->rows.size()))
            return false;
        row = { next + 1, log->rows[std::size_t(next)].text() };
        ++next;
        return true;
    });
}
