#include "DataFile.h"

#include "WriteWhole.h"

#include <QFile>
#include <QSaveFile>

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr qsizetype WriteChunk = 1 << 20;
constexpr qsizetype ReadChunk = 1 << 20;

void appendPadded(QByteArray& out, const QString& text, int width)
{
    out += text.toUtf8();
    for (qsizetype i = text.size(); i < width; ++i)
        out += ' ';
}

void writeOut(QSaveFile& file, QByteArray& buffer, const QString& path)
{
    if (!writeWhole(file, buffer))
        throw DataFileError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    buffer.clear();
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

QString quotedForMessage(QByteArrayView text)
{
    return QLatin1Char('"') + QString::fromUtf8(text) + QLatin1Char('"');
}

} // namespace

// ---------------------------------------------------------------------------------------------------

void WriteDataFile(const ReadingTable& table, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw DataFileError(QStringLiteral("Cannot create %1: %2").arg(path, file.errorString()));

    QByteArray buffer;
    buffer.reserve(WriteChunk + 1024);
    buffer += DataFileHeader;
    buffer += "\r\nTotal:";
    buffer += QByteArray::number(table.rowCount());
    buffer += "\r\n";
    table.forEachRow([&](const ReadingRow& row) {
        appendPadded(buffer, row.date, 10);
        buffer += ',';
        appendPadded(buffer, row.time, 8);
        buffer += ',';
        appendPadded(buffer, row.meaValue, 6);
        buffer += ',';
        buffer += row.weight.toUtf8();
        buffer += "\r\n";
        if (buffer.size() >= WriteChunk)
            writeOut(file, buffer, path);
    });
    writeOut(file, buffer, path);
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
    if (!isNumber)
        return NoValue;
    const int tenths = text.back().unicode() - '0';
    // Dividing the exact tenths gives the same double as the literal ("65.3" == 65.3).
    return double(whole * 10 + tenths) / 10.0;
}

std::optional<double> ValueFromTextChecked(QStringView text)
{
    if (text.size() < 3 || text[text.size() - 2] != QLatin1Char('.'))
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i != text.size() - 2 && !isDigit(text[i]))
            return std::nullopt;
    }
    return ValueFromText(text);
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
    const std::optional<double> level = ValueFromTextChecked(QString::fromLatin1(bareValue));
    if (!level)
        throw DataFileError(QStringLiteral("%1 is not a sound level in dB (whole decibels, \".\", one tenths digit)")
                                .arg(quotedForMessage(bareValue)));
    if (fields[3].isEmpty())
        throw DataFileError(QStringLiteral("%1 has no weighting letter").arg(quotedForMessage(line)));

    // The date and time fields with their separators exactly as they stand, as the fixed columns
    // 1 to 20 hold them in every line written from short texts.
    staging.append(line.first(fields[0].size() + fields[1].size() + 2));
    staging.append(value);
    for (qsizetype i = value.size(); i < 6; ++i)
        staging.append(' ');
    staging.append(',');
    staging.append(fields[3]);
    staging.append(',');
    char digits[24];
    const auto [end, ec] = std::to_chars(std::begin(digits), std::end(digits), recNo);
    (void)ec;
    staging.append(digits, end - digits);
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
    QByteArray stagingLine;
    QByteArrayView line;
    while (reader->nextLine(line)) {
        ++recNo;
        stagingLine.clear();
        try {
            values.push_back(DecodeDataLine(line, recNo, stagingLine));
        } catch (const DataFileError& error) {
            staging.recreate();
            staging.close();
            throw DataFileError(
                QStringLiteral("%1, line %2: %3").arg(path).arg(reader->lineNumber()).arg(error.text()));
        }
        staging.writeLine(stagingLine);
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
