#pragma once

// The tables of decimora-cli's commands: a folder of the tool's own for them, data files read into
// them, and a table written out as a data file or a spreadsheet.

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

class ReadingTable;
class SqliteReadingStore;

// Where a table goes: a data file or a spreadsheet, by the name's extension.
enum class TableFileKind { DataFile, Spreadsheet };

// Nothing for a name that is neither (".txt").
std::optional<TableFileKind> TableFileKindOf(const QString& path);

// The most readings a file of that name takes: a spreadsheet's rows less its title and column titles
// (65,534 for .xls, 1,048,574 for .xlsx); nothing for no limit (.dmr, .csv).
std::optional<qint64> TableFileRecordLimit(const QString& path);

// Writes every row of the table to path, replacing a file there only with a complete new one.
void WriteTableFile(ReadingTable& table, const QString& path);

// Throws FileWriteError, as the write would, when no file can be written at path (a folder that does
// not exist or cannot be written): checked before a long download, not after it. Nothing for an empty
// path.
void RequireWritable(const QString& path);

// A folder of the tool's own for the tables and the staging file of one command, so that the desktop
// program's database and staging file are never touched.
class WorkFolder {
public:
    // Throws CliError when the folder cannot be made.
    WorkFolder();
    std::unique_ptr<SqliteReadingStore> store() const;
    QString path() const { return folder_.path(); }

private:
    QTemporaryDir folder_;
};

// Loads a data file into the table (emptied first) through the staging file of the work folder, or
// the tool's own live log (CSV or JSON lines). Throws CliError when the file is neither.
void LoadInto(const WorkFolder& work, ReadingTable& table, const QString& path);
