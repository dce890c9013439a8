#pragma once

// The staging file "AsciiDBF.TXT" in the cache folder: downloaded and loaded readings are written
// to it line by line and then appended to GetRecorde or LoadData in one transaction.
//
// Its line layout is also the layout of a data file's reading lines, so both are written and read
// here: Date, Time, MeaValue, Weight and RecNo, separated by ",", each of the first three followed by
// blanks up to its column width (a longer text is written whole), the line ending in CR LF, e.g.
// "5/12/2006 ,9:5:30  ,65.3  ,A,1". A data file's reading line is the same without ",RecNo". Widths
// count characters (Unicode code points), so a date in any script takes the same column whether it
// was a QString or UTF-8 bytes. The padding blanks are not part of the texts: a reader drops them.

#include "core/DecimoraError.h"
#include "core/ReadingTable.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <span>

namespace StagingLayout {
inline constexpr char Separator = ',';
inline constexpr char LineEnd[] = "\r\n";
inline constexpr qsizetype LineEndSize = 2;
inline constexpr int DateWidth = 10;
inline constexpr int TimeWidth = 8;
inline constexpr int MeaValueWidth = 6;
// The download pads the record number; a data file load writes it unpadded.
inline constexpr int DownloadRecNoWidth = 6;
// Date, Time, MeaValue, Weight: a data file's reading line.
inline constexpr int ReadingFieldCount = 4;
// The same and RecNo: a staging line.
inline constexpr int StagingFieldCount = 5;
} // namespace StagingLayout

class QFile;

inline constexpr char StagingFileName[] = "AsciiDBF.TXT";

// A data file or the staging file could not be read, written or understood. The text names the file
// and, where it applies, the line, and carries the system's own words for a failed read or write.
class DataFileError : public DecimoraError {
public:
    using DecimoraError::DecimoraError;
};

// The staging file is held by another operation (a download, a data file load).
class StagingFileBusy : public DataFileError {
public:
    using DataFileError::DataFileError;
};

// The exclusive use of the staging file for one operation, for as long as the lease lives. A
// download holds it from its start to the bulk append while the user interface stays responsive,
// so a data file load started meanwhile must be turned away instead of emptying the file under it.
class StagingFileLease {
public:
    // Throws StagingFileBusy, naming the purpose of the holder, when another lease holds the file.
    // purpose completes "The readings file is in use by ...", e.g. "a download from the meter".
    static StagingFileLease acquire(const QString& folder, const QString& purpose);

    StagingFileLease(StagingFileLease&& other) noexcept;
    StagingFileLease& operator=(StagingFileLease&&) = delete;
    StagingFileLease(const StagingFileLease&) = delete;
    StagingFileLease& operator=(const StagingFileLease&) = delete;
    ~StagingFileLease();

    const QString& path() const { return path_; }
    // Empties the file (creating it when missing) and keeps it open for writing.
    void recreate();
    // Writes one line; the CR LF is added here.
    void writeLine(const QByteArray& line);
    void writeLine(const char* data, qsizetype size);
    // Writes lines that already carry their CR LF.
    void writeLines(QByteArrayView lines);
    // For a line built in place: append its bytes (no CR LF) to lineBuffer(), then call endLine().
    QByteArray& lineBuffer();
    void endLine();
    // Writes out what is buffered and closes the file; nothing happens when it is not open.
    void close();
    bool isOpen() const;

private:
    StagingFileLease(QString path, QString purpose);
    void flush();

    QString path_;
    QString purpose_;
    std::unique_ptr<QFile> file_;
    QByteArray pending_;
};

// Appends Date, Time, MeaValue and Weight (UTF-8) laid out as above, without a line end.
void AppendReadingFields(QByteArray& out, const ReadingRowText& row);

// Appends one staging line without its CR LF. recNoWidth pads the record number with trailing blanks
// (StagingLayout::DownloadRecNoWidth for a download, 0 for a data file load).
void AppendStagingLine(QByteArray& out, const ReadingRowText& row, qint64 recNo, int recNoWidth = 0);
// The same for texts as QStrings.
QByteArray StagingLine(const QString& date, const QString& time, const QString& meaValue, const QString& weight,
    qint64 recNo, int recNoWidth = 0);

// Splits a line (without its line end) at its separators into fields without the blanks and tabs
// around them, filling fields from the first. Returns how many fields the line has; a line with more
// than fields.size() returns fields.size() + 1 and its extra fields are not looked at.
qsizetype SplitLineFields(QByteArrayView line, std::span<QByteArrayView> fields);

// Closes the staging file and appends all its rows to the table in one transaction, without the
// padding blanks and with an empty record number as no value: all of them or, when a line cannot be
// read (DataFileError naming the file and the line) or the table fails (TableError), none.
void AppendStagingTable(StagingFileLease& staging, ReadingTable& destination);
// The same, but the staging file's rows take the place of the table's in that one transaction: when
// anything fails, the table keeps the rows it had.
void ReplaceWithStagingTable(StagingFileLease& staging, ReadingTable& destination);
// The same in steps (ReadingTable::appendRowsInSteps): betweenSteps is told the rows appended so far.
void AppendStagingTableInSteps(
    StagingFileLease& staging, ReadingTable& destination, const std::function<void(qint64 rowsAppended)>& betweenSteps);
