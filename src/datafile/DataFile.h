#pragma once

// Data files (*.DMR): a header line, a count line and one line per reading, every line ending in
// CR LF. A reading line is laid out as a staging line without its record number (see StagingFile.h):
// Date padded to 10, ",", Time padded to 8, ",", MeaValue padded to 6, ",", Weight, e.g.
// "5/12/2006 ,9:5:30  ,65.3  ,A". Longer texts are written whole.

#include "core/ReadingTable.h"
#include "datafile/StagingFile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QFile;

inline constexpr char DataFileHeader[] = "@Zentrobasis Decimora File";

// Writes every row of the table to path through WholeFileWriter: on failure the previous file is left
// as it was and FileWriteError carries the system's text (a TableError of the table passes through as
// it is).
void WriteDataFile(const ReadingTable& table, const QString& path);

// The name a Save writes to: the chosen path, with ".dmr" appended when it has no "." anywhere
// (folder names included).
QString DataFilePathForSave(const QString& chosenPath);

// The level in dB of a MeaValue text: all characters but the last two as a whole number, plus the
// last character as tenths ("65.3" is 65.3, "7.0" is 7). The character before the last is not looked
// at. NaN for a text that gives no number (too short, not digits), so that comparisons fail quietly.
double ValueFromText(QStringView text);
// Only a text of whole decibels, ".", one tenths digit gives a value.
std::optional<double> ValueFromTextChecked(QStringView text);

// The texts of one data line as a table row takes them, without the blanks around them, checked as
// DecodeDataLine checks them; the views point into line. Throws DataFileError with the reason only.
ReadingRowText DataLineTexts(QByteArrayView line);

// Decodes one data line for the given record number: appends the staging line for it (without CR LF)
// to staging and returns the reading's value. The fields are found by their "," separators, so a
// date or time longer than its column still reads right, and are staged without the blanks around
// them, padded again as the layout says. Throws DataFileError, with the reason only, for a line that
// is not date, time, a reading of whole decibels "." one tenths digit, and a weighting letter.
double DecodeDataLine(QByteArrayView line, qint64 recNo, QByteArray& staging);

// A data file opened for reading, standing at line 3.
class DataFileReader {
public:
    DataFileReader(DataFileReader&& other) noexcept;
    DataFileReader& operator=(DataFileReader&& other) noexcept;
    ~DataFileReader();

    // The count of line 2.
    qint64 declaredCount() const { return declaredCount_; }
    const QString& path() const { return path_; }
    // The next line without its line end; false at the end of the file. The view stays valid until
    // the next call. Throws DataFileError when the file cannot be read.
    bool nextLine(QByteArrayView& line);
    // The next block of whole lines, about blockBytes long (longer when one line is longer), each
    // line ending in LF but the last line of a file that lacks it; false at the end of the file.
    // The view stays valid until the next call. Throws DataFileError when the file cannot be read.
    bool nextLines(QByteArrayView& lines, qsizetype blockBytes);
    // The number of the last line given (1-based).
    qint64 lineNumber() const { return lineNumber_; }

private:
    friend std::optional<DataFileReader> OpenDataFile(const QString& path);
    explicit DataFileReader(QString path);
    // Keeps the unread bytes and reads up to bytes more behind them.
    void readMore(qsizetype bytes);

    QString path_;
    std::unique_ptr<QFile> file_;
    QByteArray buffer_;
    qsizetype position_ = 0;
    bool atEnd_ = false;
    qint64 declaredCount_ = 0;
    qint64 lineNumber_ = 0;
};

// Opens a data file. Nothing when line 1 is not exactly the header (the file is not a data file and
// nothing is said). Throws DataFileError when the file cannot be opened or read, or when line 2 holds
// no whole number of at least 1 after its first ":".
std::optional<DataFileReader> OpenDataFile(const QString& path);

// Every reading line of an opened data file, in file order, as a table row's texts (valid only while
// visited), without a table or the staging file in between: for the command-line tool, which only
// figures them. A line that cannot be read throws DataFileError naming the file and the line, as
// LoadDataFile does; an exception thrown by visit passes through.
void ForEachDataLine(DataFileReader& reader, const std::function<void(const ReadingRowText&)>& visit);

// Told, after each block of lines, how many reading lines (lines after line 2) have been read so far.
using DataFileProgress = std::function<void(qint64 linesRead)>;

// Decodes every line after line 2 of an opened data file into the open staging file, numbering the
// rows from firstRecNo, and returns the readings' values in file order. Large files are decoded on
// several cores at once, a block of a few megabytes at a time; progress hears of each block. A line
// that cannot be read throws DataFileError naming the file and the line, and leaves the staging file
// empty. An exception thrown by progress stops the decoding and passes through.
std::vector<double> DecodeDataFileToStaging(
    DataFileReader& reader, qint64 firstRecNo, StagingFileLease& staging, const DataFileProgress& progress = {});

// What the analysis window does while a data file is loaded.
struct DataFileLoadHooks {
    // While the file is read and checked, after each block of lines: the reading lines read so far
    // and line 2's count. Nothing of the file has been taken yet.
    std::function<void(qint64 linesRead, qint64 count)> progress;
    // The file has been read and checked whole; count is line 2's count.
    std::function<void(qint64 count)> opened;
    // Each reading, in file order.
    std::function<void(double value)> reading;
    // Just before the rows go to the table.
    std::function<void()> appending;
    // Given, the rows go to the table in steps, and this runs between them with the rows appended
    // so far (see ReadingTable::appendRowsInSteps); a throw takes them out again.
    std::function<void(qint64 rowsAppended)> appendStep;
};

struct DataFileLoad {
    qint64 declaredCount = 0;
    // Record numbers given to the file's rows: the table's row count before the load + 1 onward.
    qint64 firstRecNo = 0;
    qint64 lastRecNo = 0;
};

// Loads a data file into the table through the staging file: every line after line 2 becomes a row
// (however many line 2 announces), numbered on from the table's row count. Nothing when the file is
// not a data file. A line that cannot be read throws DataFileError naming the file and the line,
// before any hook but progress has run and before anything reaches the table. An exception thrown by
// a hook passes through, and nothing reaches the table then either.
std::optional<DataFileLoad> LoadDataFile(
    const QString& path, ReadingTable& destination, StagingFileLease& staging, const DataFileLoadHooks& hooks = {});
