#include "DataFile.h"

#include "WriteWhole.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr qsizetype ReadChunk = 1 << 16;

// Collects the file's bytes in a buffer written out a megabyte at a time.
class ChunkedWriter {
public:
    ChunkedWriter(QSaveFile& file, const QString& path)
        : file_(file)
        , path_(path)
        , buffer_(std::size_t(1) << 20)
    {
    }

    // Room for at least the given number of bytes; commit() tells where the written bytes end.
    char* reserve(qsizetype bytes)
    {
        if (used_ + std::size_t(bytes) > buffer_.size())
            flush();
        if (std::size_t(bytes) > buffer_.size())
            buffer_.resize(std::size_t(bytes));
        return buffer_.data() + used_;
    }
    void commit(const char* end) { used_ = std::size_t(end - buffer_.data()); }
    void flush()
    {
        if (!writeWhole(file_, QByteArrayView(buffer_.data(), qsizetype(used_))))
            throw DataFileError(QStringLiteral("Cannot write %1: %2").arg(path_, file_.errorString()));
        used_ = 0;
    }

private:
    QSaveFile& file_;
    const QString& path_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// Copies a field and pads it to a width in characters (UTF-8 continuation bytes do not count).
char* putPadded(char* out, QByteArrayView text, int width)
{
    std::memcpy(out, text.data(), std::size_t(text.size()));
    out += text.size();
    qsizetype characters = text.size();
    for (const char byte : text)
        characters -= (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
    if (characters < width) {
        std::memset(out, ' ', std::size_t(width - characters));
        out += width - characters;
    }
    return out;
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

QByteArrayView trimBlanks(QByteArrayView field)
{
    qsizetype first = 0;
    qsizetype last = field.size();
    while (first < last && (field[first] == ' ' || field[first] == '\t'))
        ++first;
    while (last > first && (field[last - 1] == ' ' || field[last - 1] == '\t'))
        --last;
    return field.sliced(first, last - first);
}

// The whole number of a text, optionally signed; nothing for anything else.
std::optional<qint64> wholeNumber(QByteArrayView text)
{
    if (!text.isEmpty() && text.front() == '+')
        text = text.sliced(1);
    qint64 value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.isEmpty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
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

QString quotedForMessage(QByteArrayView text)
{
    return QLatin1Char('"') + QString::fromUtf8(text) + QLatin1Char('"');
}

} // namespace

// ---------------------------------------------------------------------------------------------------

void WriteDataFile(const ReadingTable& table, const QString& path)
{
    // Unbuffered: a buffered QSaveFile commits a file cut short by a full disk as if it were whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw DataFileError(QStringLiteral("Cannot create %1: %2").arg(path, file.errorString()));

    ChunkedWriter out(file, path);
    const QByteArray head = QByteArray(DataFileHeader) + "\r\nTotal:" + QByteArray::number(table.rowCount()) + "\r\n";
    char* at = out.reserve(head.size());
    std::memcpy(at, head.constData(), std::size_t(head.size()));
    out.commit(at + head.size());
    table.forEachRowText([&](const ReadingRowText& row) {
        // Padding and separators take at most 10 + 8 + 6 + 5 bytes.
        char* at = out.reserve(row.date.size() + row.time.size() + row.meaValue.size() + row.weight.size() + 29);
        at = putPadded(at, row.date, 10);
        *at++ = ',';
        at = putPadded(at, row.time, 8);
        *at++ = ',';
        at = putPadded(at, row.meaValue, 6);
        *at++ = ',';
        std::memcpy(at, row.weight.data(), std::size_t(row.weight.size()));
        at += row.weight.size();
        *at++ = '\r';
        *at++ = '\n';
        out.commit(at);
    });
    out.flush();
    if (!file.commit())
        throw DataFileError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
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

double DecodeDataLine(QByteArrayView line, qint64 recNo, QByteArray& staging)
{
    QByteArrayView fields[4];
    QByteArrayView rest = line;
    for (int i = 0; i < 3; ++i) {
        const qsizetype comma = rest.indexOf(',');
        if (comma < 0)
            throw DataFileError(QStringLiteral("%1 is not date, time, level and weighting separated by \",\"")
                                    .arg(quotedForMessage(line)));
        fields[i] = rest.first(comma);
        rest = rest.sliced(comma + 1);
    }
    if (rest.indexOf(',') >= 0)
        throw DataFileError(
            QStringLiteral("%1 has more than four fields separated by \",\"").arg(quotedForMessage(line)));
    fields[3] = trimBlanks(rest);

    const QByteArrayView value = fields[2];
    const QByteArrayView bareValue = trimBlanks(value);
    const std::optional<double> level = readingValue(bareValue);
    if (!level)
        throw DataFileError(QStringLiteral("%1 is not a sound level in dB (whole decibels, \".\", one tenths digit)")
                                .arg(quotedForMessage(bareValue)));
    if (fields[3].isEmpty())
        throw DataFileError(QStringLiteral("%1 has no weighting letter").arg(quotedForMessage(line)));

    // The date and time fields with their separators exactly as they stand, as the fixed columns
    // 1 to 20 hold them in every line written from short texts.
    const QByteArrayView head = line.first(fields[0].size() + fields[1].size() + 2);
    const QByteArrayView weight = fields[3];
    // A line as the writer makes it (value field at least 6 wide, weighting unpadded) already is the
    // staging line up to its record number.
    const bool asWritten = value.size() >= 6 && weight.data() + weight.size() == line.data() + line.size()
        && weight.data() == value.data() + value.size() + 1;
    char digits[24];
    const char* digitsEnd = std::to_chars(std::begin(digits), std::end(digits), recNo).ptr;
    const qsizetype padding = std::max<qsizetype>(0, 6 - value.size());
    const qsizetype start = staging.size();
    staging.resize(start + head.size() + value.size() + padding + 1 + weight.size() + 1 + (digitsEnd - digits));
    char* at = staging.data() + start;
    const auto put = [&at](QByteArrayView bytes) {
        std::memcpy(at, bytes.data(), std::size_t(bytes.size()));
        at += bytes.size();
    };
    if (asWritten) {
        put(line);
    } else {
        put(head);
        put(value);
        std::memset(at, ' ', std::size_t(padding));
        at += padding;
        *at++ = ',';
        put(weight);
    }
    *at++ = ',';
    put(QByteArrayView(digits, digitsEnd - digits));
    return *level;
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
        const qsizetype newline = buffer_.indexOf('\n', position_);
        if (newline >= 0 || (atEnd_ && position_ < buffer_.size())) {
            const qsizetype end = newline >= 0 ? newline : buffer_.size();
            line = QByteArrayView(buffer_).sliced(position_, end - position_);
            if (line.endsWith('\r'))
                line.chop(1);
            position_ = end + 1;
            ++lineNumber_;
            return true;
        }
        if (atEnd_)
            return false;
        buffer_.remove(0, position_);
        position_ = 0;
        const qsizetype kept = buffer_.size();
        buffer_.resize(kept + ReadChunk);
        const qint64 read = file_->read(buffer_.data() + kept, ReadChunk);
        if (read < 0)
            throw DataFileError(QStringLiteral("Cannot read %1: %2").arg(path_, file_->errorString()));
        buffer_.resize(kept + qsizetype(read));
        atEnd_ = read == 0;
    }
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
            count = wholeNumber(trimBlanks(line.sliced(colon + 1)));
    }
    if (!count || *count < 1)
        throw DataFileError(QStringLiteral("%1, line 2: the count of readings is missing or below 1").arg(path));
    reader.declaredCount_ = *count;
    return reader;
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
    qint64 recNo = destination.rowCount();
    std::vector<double> values;
    QByteArrayView line;
    while (reader->nextLine(line)) {
        ++recNo;
        try {
            // A line that cannot be read adds nothing to the staging file.
            values.push_back(DecodeDataLine(line, recNo, staging.lineBuffer()));
        } catch (const DataFileError& error) {
            staging.recreate();
            staging.close();
            throw DataFileError(
                QStringLiteral("%1, line %2: %3").arg(path).arg(reader->lineNumber()).arg(error.text()));
        }
        staging.endLine();
    }
    load.lastRecNo = recNo;

    if (hooks.opened)
        hooks.opened(load.declaredCount);
    if (hooks.reading) {
        for (double value : values)
            hooks.reading(value);
    }
    staging.close();
    if (hooks.appending)
        hooks.appending();
    AppendStagingTable(staging, destination);
    return load;
}
