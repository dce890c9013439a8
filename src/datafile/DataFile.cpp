#include "datafile/DataFile.h"

#include "core/BulkWorkers.h"
#include "core/TextFields.h"
#include "core/WholeFileWriter.h"
#include "datafile/QuotedForMessage.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr qsizetype ReadChunk = 1 << 16;

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Whole decibels, ".", one tenths digit.
std::optional<double> readingValue(QByteArrayView text)
{
    if (text.size() < 3 || text[text.size() - 2] != '.')
        return std::nullopt;
    qint64 tenths = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i == text.size() - 2)
            continue;
        if (text[i] < '0' || text[i] > '9' || tenths > (qint64(1) << 50))
            return std::nullopt;
        tenths = tenths * 10 + (text[i] - '0');
    }
    return double(tenths) / 10.0;
}

// The first line of a block of whole lines, without its line end; the block goes on after it.
QByteArrayView TakeLine(QByteArrayView& lines)
{
    const auto* newline = static_cast<const char*>(std::memchr(lines.data(), '\n', std::size_t(lines.size())));
    QByteArrayView line = newline ? lines.first(newline - lines.data()) : lines;
    lines = newline ? lines.sliced(line.size() + 1) : QByteArrayView();
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// Appends one reading line with its line end.
void appendDataLine(const ReadingRowText& row, QByteArray& block)
{
    AppendReadingFields(block, row);
    block.append(StagingLayout::LineEnd, StagingLayout::LineEndSize);
}

} // namespace

// ---------------------------------------------------------------------------------------------------

void WriteDataFile(const ReadingTable& table, const QString& path)
{
    WholeFileWriter file(path);
    file.writeAll(QByteArray(DataFileHeader) + StagingLayout::LineEnd + "Total:" + QByteArray::number(table.rowCount())
        + StagingLayout::LineEnd);
    table.writeRowsInOrder(appendDataLine, [&file](QByteArrayView bytes) { file.writeAll(bytes); });
    file.commit();
}

QString DataFilePathForSave(const QString& chosenPath)
{
    if (chosenPath.contains(QLatin1Char('.')))
        return chosenPath;
    return chosenPath + QStringLiteral(".dmr");
}

double ValueFromText(QStringView text)
{
    constexpr double NoValue = std::numeric_limits<double>::quiet_NaN();
    if (text.size() < 2 || !isDigit(text.back()))
        return NoValue;
    bool isNumber = false;
    const qlonglong whole = text.first(text.size() - 2).toLongLong(&isNumber);
    if (!isNumber || whole > std::numeric_limits<qlonglong>::max() / 10
        || whole < std::numeric_limits<qlonglong>::min() / 10)
        return NoValue;
    const int tenths = text.back().unicode() - '0';
    // Dividing the exact tenths gives the same double as the literal ("65.3" == 65.3).
    return double(whole * 10 + tenths) / 10.0;
}

std::optional<double> ValueFromTextChecked(QStringView text)
{
    // Characters outside Latin-1 become "?", which is no digit.
    return readingValue(text.toLatin1());
}

ReadingRowText DataLineTexts(QByteArrayView line)
{
    // Date, Time, MeaValue, Weight.
    QByteArrayView fields[StagingLayout::ReadingFieldCount];
    const qsizetype fieldCount = SplitLineFields(line, fields);
    if (fieldCount < StagingLayout::ReadingFieldCount)
        throw DataFileError(
            QStringLiteral("%1 is not date, time, level and weighting separated by \",\"").arg(QuotedForMessage(line)));
    if (fieldCount > StagingLayout::ReadingFieldCount)
        throw DataFileError(
            QStringLiteral("%1 has more than four fields separated by \",\"").arg(QuotedForMessage(line)));
    const ReadingRowText row { fields[2], fields[3], fields[1], fields[0] };
    const std::optional<double> level = readingValue(row.meaValue);
    if (!level)
        throw DataFileError(QStringLiteral("%1 is not a sound level in dB (whole decibels, \".\", one tenths digit)")
                                .arg(QuotedForMessage(row.meaValue)));
    if (row.weight.isEmpty())
        throw DataFileError(QStringLiteral("%1 has no weighting letter").arg(QuotedForMessage(line)));
    return row;
}

double DecodeDataLine(QByteArrayView line, qint64 recNo, QByteArray& staging)
{
    const ReadingRowText row = DataLineTexts(line);
    // Laid out afresh from the texts, so that a line edited by hand stages like one the writer made.
    AppendStagingLine(staging, row, recNo);
    return *readingValue(row.meaValue);
}

// ---------------------------------------------------------------------------------------------------

DataFileReader::DataFileReader(QString path)
    : path_(std::move(path))
    , file_(std::make_unique<QFile>(path_))
{
}

DataFileReader::DataFileReader(DataFileReader&&) noexcept = default;
DataFileReader& DataFileReader::operator=(DataFileReader&&) noexcept = default;
DataFileReader::~DataFileReader() = default;

bool DataFileReader::nextLine(QByteArrayView& line)
{
    for (;;) {
        const qsizetype newline = QByteArrayView(buffer_).sliced(position_).indexOf('\n');
        if (newline >= 0 || (atEnd_ && position_ < buffer_.size())) {
            const qsizetype end = newline >= 0 ? position_ + newline : buffer_.size();
            line = QByteArrayView(buffer_).sliced(position_, end - position_);
            if (line.endsWith('\r'))
                line.chop(1);
            position_ = std::min(end + 1, buffer_.size());
            ++lineNumber_;
            return true;
        }
        if (atEnd_)
            return false;
        readMore(ReadChunk);
    }
}

bool DataFileReader::nextLines(QByteArrayView& lines, qsizetype blockBytes)
{
    qsizetype end = 0;
    for (;;) {
        const QByteArrayView unread = QByteArrayView(buffer_).sliced(position_);
        if (atEnd_) {
            end = buffer_.size();
            break;
        }
        if (unread.size() >= blockBytes) {
            // A line longer than the block makes the block grow until the line is whole.
            const qsizetype lastNewline = unread.lastIndexOf('\n');
            if (lastNewline >= 0) {
                end = position_ + lastNewline + 1;
                break;
            }
        }
        readMore(std::max(blockBytes - unread.size(), ReadChunk));
    }
    if (end <= position_)
        return false;
    lines = QByteArrayView(buffer_).sliced(position_, end - position_);
    lineNumber_ += std::count(lines.begin(), lines.end(), '\n') + (lines.back() != '\n');
    position_ = end;
    return true;
}

void DataFileReader::readMore(qsizetype bytes)
{
    buffer_.remove(0, position_);
    position_ = 0;
    const qsizetype kept = buffer_.size();
    // The last stretch of a file gets a buffer its size (one byte more, to see the end), not a whole
    // chunk: most data files are far shorter than one.
    const qint64 left = file_->isSequential() ? bytes : file_->size() - file_->pos();
    if (left >= 0 && left < bytes)
        bytes = qsizetype(left) + 1;
    buffer_.resize(kept + bytes);
    const qint64 read = file_->read(buffer_.data() + kept, bytes);
    if (read < 0)
        throw DataFileError(QStringLiteral("Cannot read %1: %2").arg(path_, file_->errorString()));
    buffer_.resize(kept + qsizetype(read));
    atEnd_ = read == 0;
}

std::optional<DataFileReader> OpenDataFile(const QString& path)
{
    DataFileReader reader(path);
    if (!reader.file_->open(QIODevice::ReadOnly))
        throw DataFileError(QStringLiteral("Cannot open %1: %2").arg(path, reader.file_->errorString()));
    QByteArrayView line;
    if (!reader.nextLine(line) || line != QByteArrayView(DataFileHeader))
        return std::nullopt;

    std::optional<qint64> count;
    if (reader.nextLine(line)) {
        const qsizetype colon = line.indexOf(':');
        if (colon >= 0)
            count = wholeNumber<qint64>(trimBlanks(line.sliced(colon + 1)));
    }
    if (!count || *count < 1)
        throw DataFileError(QStringLiteral("%1, line 2: the count of readings is missing or below 1").arg(path));
    reader.declaredCount_ = *count;
    return reader;
}

void ForEachDataLine(DataFileReader& reader, const std::function<void(const ReadingRowText&)>& visit)
{
    // A block of a megabyte at a time: a file of any length takes the memory of one block.
    constexpr qsizetype BlockBytes = qsizetype(1) << 20;
    QByteArrayView lines;
    qint64 lineNumber = reader.lineNumber();
    while (reader.nextLines(lines, BlockBytes)) {
        while (!lines.isEmpty()) {
            const QByteArrayView line = TakeLine(lines);
            ++lineNumber;
            ReadingRowText row;
            try {
                row = DataLineTexts(line);
            } catch (const DataFileError& error) {
                throw DataFileError(
                    QStringLiteral("%1, line %2: %3").arg(reader.path()).arg(lineNumber).arg(error.text()));
            }
            visit(row);
        }
    }
}

namespace {

// Blocks of about this size are read and then decoded on several cores at once.
constexpr qsizetype DecodeBlockBytes = qsizetype(4) << 20;
// Below this a block is decoded on the calling thread alone.
constexpr qsizetype ParallelDecodeFrom = qsizetype(256) << 10;

// The staging lines (with CR LF) and values of a stretch of data lines, or the first failure.
struct DecodedLines {
    QByteArray staging;
    std::vector<double> values;
    std::optional<QString> failure;
};

DecodedLines decodeLines(QByteArrayView lines, qint64 firstRecNo, qint64 firstLineNumber, const QString& path)
{
    DecodedLines decoded;
    // A staging line is its data line and a record number.
    decoded.staging.reserve(lines.size() + lines.size() / 2);
    while (!lines.isEmpty()) {
        const QByteArrayView line = TakeLine(lines);
        const qint64 index = qint64(decoded.values.size());
        try {
            decoded.values.push_back(DecodeDataLine(line, firstRecNo + index, decoded.staging));
        } catch (const DataFileError& error) {
            decoded.failure
                = QStringLiteral("%1, line %2: %3").arg(path).arg(firstLineNumber + index).arg(error.text());
            return decoded;
        }
        decoded.staging.append(StagingLayout::LineEnd, StagingLayout::LineEndSize);
    }
    return decoded;
}

// Splits whole lines into up to `parts` stretches of about equal size, each ending after a line end.
std::vector<QByteArrayView> splitLines(QByteArrayView lines, qsizetype parts)
{
    std::vector<QByteArrayView> stretches;
    while (!lines.isEmpty()) {
        const qsizetype left = parts - qsizetype(stretches.size());
        const qsizetype newline = left > 1 ? lines.sliced(lines.size() / left).indexOf('\n') : -1;
        const qsizetype size = newline >= 0 ? lines.size() / left + newline + 1 : lines.size();
        stretches.push_back(lines.first(size));
        lines = lines.sliced(size);
    }
    return stretches;
}

// Decodes a block of whole lines in stretches on several threads. The helper threads only read the
// block and fill their own results, and all of them have ended when this returns.
std::vector<DecodedLines> decodeBlock(
    QByteArrayView lines, qint64 firstRecNo, qint64 firstLineNumber, const QString& path)
{
    const qsizetype decoders = lines.size() < ParallelDecodeFrom ? 1 : qsizetype(BulkWorkerCount());
    const std::vector<QByteArrayView> stretches = splitLines(lines, decoders);
    std::vector<DecodedLines> decoded(stretches.size());
    {
        std::vector<std::jthread> helpers;
        qint64 lineNumber = firstLineNumber;
        for (std::size_t i = 0; i < stretches.size(); ++i) {
            const QByteArrayView stretch = stretches[i];
            const qint64 recNo = firstRecNo + (lineNumber - firstLineNumber);
            const auto decode = [&decoded, &path, i, stretch, recNo, lineNumber] {
                try {
                    decoded[i] = decodeLines(stretch, recNo, lineNumber, path);
                } catch (const std::exception& error) {
                    decoded[i].failure = QStringLiteral("%1: %2").arg(path, ErrorText(error));
                }
            };
            if (i + 1 == stretches.size())
                decode();
            else
                StartOrRunBulkWorker(helpers, decode);
            lineNumber += std::count(stretch.begin(), stretch.end(), '\n');
        }
    }
    return decoded;
}

} // namespace

std::vector<double> DecodeDataFileToStaging(
    DataFileReader& reader, qint64 firstRecNo, StagingFileLease& staging, const DataFileProgress& progress)
{
    std::vector<double> values;
    QByteArrayView lines;
    const qint64 linesBefore = reader.lineNumber();
    qint64 firstLineNumber = linesBefore + 1;
    while (reader.nextLines(lines, DecodeBlockBytes)) {
        for (DecodedLines& stretch :
            decodeBlock(lines, firstRecNo + qint64(values.size()), firstLineNumber, reader.path())) {
            if (stretch.failure) {
                // Nothing of a file that cannot be read whole is added.
                staging.recreate();
                staging.close();
                throw DataFileError(*stretch.failure);
            }
            staging.writeLines(stretch.staging);
            values.insert(values.end(), stretch.values.begin(), stretch.values.end());
        }
        firstLineNumber = reader.lineNumber() + 1;
        if (progress)
            progress(reader.lineNumber() - linesBefore);
    }
    return values;
}

std::optional<DataFileLoad> LoadDataFile(
    const QString& path, ReadingTable& destination, StagingFileLease& staging, const DataFileLoadHooks& hooks)
{
    staging.recreate();
    std::optional<DataFileReader> reader = OpenDataFile(path);
    if (!reader)
        return std::nullopt;

    DataFileLoad load;
    load.declaredCount = reader->declaredCount();
    load.firstRecNo = destination.rowCount() + 1;
    DataFileProgress progress;
    if (hooks.progress)
        progress = [&](qint64 linesRead) { hooks.progress(linesRead, load.declaredCount); };
    const std::vector<double> values = DecodeDataFileToStaging(*reader, load.firstRecNo, staging, progress);
    load.lastRecNo = load.firstRecNo + qint64(values.size()) - 1;

    if (hooks.opened)
        hooks.opened(load.declaredCount);
    if (hooks.reading) {
        for (double value : values)
            hooks.reading(value);
    }
    staging.close();
    if (hooks.appending)
        hooks.appending();
    AppendStagingTableInSteps(staging, destination, hooks.appendStep);
    return load;
}
