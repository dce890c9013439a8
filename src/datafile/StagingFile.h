#pragma once

// The staging file "AsciiDBF.TXT" in the program folder: downloaded and loaded readings are written
// to it line by line and then appended to GetRecorde or LoadData in one transaction. A line is
// Date (padded to 10), Time (8), MeaValue (6), Weight, RecNo, separated by ",", ending in CR LF.

#include "DecimoraError.h"
#include "ReadingTable.h"

#include <QByteArray>
#include <QString>

#include <memory>

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
    static StagingFileLease acquire(const QString& programFolder, const QString& purpose);

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

// One staging line without its CR LF. recNoWidth pads the record number with trailing blanks (the
// download pads it to 6; a data file load writes it unpadded).
QByteArray StagingLine(const QString& date, const QString& time, const QString& meaValue, const QString& weight,
    qint64 recNo, int recNoWidth = 0);

// Closes the staging file and appends all its rows to the table in one transaction.
void AppendStagingTable(StagingFileLease& staging, ReadingTable& destination);
