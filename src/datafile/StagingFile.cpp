#include "datafile/StagingFile.h"

#include "core/TextFields.h"
#include "datafile/QuotedForMessage.h"
#include "datafile/WriteWhole.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <iterator>
#include <mutex>

namespace {

// Held staging files (absolute path) and what holds each.
struct Holders {
    std::mutex mutex;
    QHash<QString, QString> purposeByPath;
};

Holders& holders()
{
    static Holders instance;
    return instance;
}

constexpr qsizetype FlushAt = 1 << 16;

// Unicode code points: every byte of UTF-8 that does not continue a character counts once.
qsizetype countCharacters(QByteArrayView utf8)
{
    qsizetype characters = utf8.size();
    for (const char byte : utf8)
        characters -= (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
    return characters;
}

// A UTF-8 text and the blanks that pad it to its column; the one place that decides how wide a text
// is, for every line written here and for data files.
struct PaddedText {
    QByteArrayView text;
    qsizetype blanks = 0;

    PaddedText(QByteArrayView utf8, int width)
        : text(utf8)
        , blanks(std::max<qsizetype>(0, width - countCharacters(utf8)))
    {
    }
    qsizetype size() const { return text.size() + blanks; }
    char* put(char* out) const
    {
        if (!text.isEmpty())
            std::memcpy(out, text.data(), std::size_t(text.size()));
        out += text.size();
        for (qsizetype i = 0; i < blanks; ++i)
            *out++ = ' ';
        return out;
    }
};

// A row's Date, Time, MeaValue and Weight as they are laid out.
struct ReadingFieldsLayout {
    PaddedText date;
    PaddedText time;
    PaddedText meaValue;
    PaddedText weight;

    explicit ReadingFieldsLayout(const ReadingRowText& row)
        : date(row.date, StagingLayout::DateWidth)
        , time(row.time, StagingLayout::TimeWidth)
        , meaValue(row.meaValue, StagingLayout::MeaValueWidth)
        , weight(row.weight, 0)
    {
    }
    qsizetype size() const
    {
        return date.size() + time.size() + meaValue.size() + weight.size() + StagingLayout::ReadingFieldCount - 1;
    }
    char* put(char* out) const
    {
        out = date.put(out);
        *out++ = StagingLayout::Separator;
        out = time.put(out);
        *out++ = StagingLayout::Separator;
        out = meaValue.put(out);
        *out++ = StagingLayout::Separator;
        return weight.put(out);
    }
};

// Makes room for size more bytes at the end of out; where they start.
char* grow(QByteArray& out, qsizetype size)
{
    const qsizetype start = out.size();
    out.resize(start + size);
    return out.data() + start;
}

// The row of one staging line (without its line end); the views point into line. Throws
// DataFileError, with the reason only, for a line without exactly five fields or with a record number
// that is neither empty (no value) nor a whole number.
RowToAppend ParseStagingLine(QByteArrayView line)
{
    QByteArrayView fields[StagingLayout::StagingFieldCount];
    if (SplitLineFields(line, fields) != StagingLayout::StagingFieldCount)
        throw DataFileError(QStringLiteral("a staging row has five fields separated by \"%1\"")
                                .arg(QLatin1Char(StagingLayout::Separator)));
    RowToAppend row;
    row.text = { fields[2], fields[3], fields[1], fields[0] };
    if (!fields[4].isEmpty()) {
        row.recNo = wholeNumber<qint64>(fields[4]);
        if (!row.recNo)
            throw DataFileError(
                QStringLiteral("the record number %1 is not a whole number").arg(QuotedForMessage(fields[4])));
    }
    return row;
}

} // namespace

StagingFileLease StagingFileLease::acquire(const QString& folder, const QString& purpose)
{
    const QString path = QDir(folder).absoluteFilePath(QString::fromLatin1(StagingFileName));
    Holders& all = holders();
    std::lock_guard lock(all.mutex);
    if (const auto held = all.purposeByPath.constFind(path); held != all.purposeByPath.constEnd())
        throw StagingFileBusy(
            QStringLiteral("The readings file %1 is in use by %2.\rPlease try again when it has finished.")
                .arg(path, held.value()));
    all.purposeByPath.insert(path, purpose);
    return { path, purpose };
}

StagingFileLease::StagingFileLease(QString path, QString purpose)
    : path_(std::move(path))
    , purpose_(std::move(purpose))
{
}

StagingFileLease::StagingFileLease(StagingFileLease&& other) noexcept
    : path_(std::move(other.path_))
    , purpose_(std::move(other.purpose_))
    , file_(std::move(other.file_))
    , pending_(std::move(other.pending_))
{
    other.path_.clear();
}

StagingFileLease::~StagingFileLease()
{
    if (path_.isEmpty())
        return;
    if (file_ && file_->isOpen()) {
        file_->write(pending_);
        file_->close();
    }
    Holders& all = holders();
    std::lock_guard lock(all.mutex);
    all.purposeByPath.remove(path_);
}

bool StagingFileLease::isOpen() const
{
    return file_ && file_->isOpen();
}

void StagingFileLease::recreate()
{
    close();
    file_ = std::make_unique<QFile>(path_);
    // The lease buffers itself; unbuffered, every short write is seen where it happens.
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw DataFileError(QStringLiteral("Cannot create %1: %2").arg(path_, file_->errorString()));
    pending_.clear();
    pending_.reserve(FlushAt + 256);
}

void StagingFileLease::writeLine(const QByteArray& line)
{
    writeLine(line.constData(), line.size());
}

void StagingFileLease::writeLine(const char* data, qsizetype size)
{
    QByteArray& buffer = lineBuffer();
    const qsizetype start = buffer.size();
    buffer.resize(start + size);
    std::memcpy(buffer.data() + start, data, std::size_t(size));
    endLine();
}

void StagingFileLease::writeLines(QByteArrayView lines)
{
    if (!isOpen())
        throw DataFileError(QStringLiteral("Cannot write %1: it is not open").arg(path_));
    flush();
    if (!writeWhole(*file_, lines))
        throw DataFileError(QStringLiteral("Cannot write %1: %2").arg(path_, file_->errorString()));
}

QByteArray& StagingFileLease::lineBuffer()
{
    if (!isOpen())
        throw DataFileError(QStringLiteral("Cannot write %1: it is not open").arg(path_));
    return pending_;
}

void StagingFileLease::endLine()
{
    pending_.append(StagingLayout::LineEnd, StagingLayout::LineEndSize);
    if (pending_.size() >= FlushAt)
        flush();
}

void StagingFileLease::flush()
{
    if (pending_.isEmpty())
        return;
    if (!writeWhole(*file_, pending_))
        throw DataFileError(QStringLiteral("Cannot write %1: %2").arg(path_, file_->errorString()));
    pending_.resize(0); // keeps the buffer
}

void StagingFileLease::close()
{
    if (!isOpen())
        return;
    flush();
    if (!file_->flush())
        throw DataFileError(QStringLiteral("Cannot write %1: %2").arg(path_, file_->errorString()));
    file_->close();
}

// ---------------------------------------------------------------------------------------------------

// Sized before it is written, so that a line costs one resize: a long run is millions of them.
void AppendReadingFields(QByteArray& out, const ReadingRowText& row)
{
    const ReadingFieldsLayout fields(row);
    fields.put(grow(out, fields.size()));
}

void AppendStagingLine(QByteArray& out, const ReadingRowText& row, qint64 recNo, int recNoWidth)
{
    char digits[24];
    const char* digitsEnd = std::to_chars(std::begin(digits), std::end(digits), recNo).ptr;
    const ReadingFieldsLayout fields(row);
    const PaddedText recNoText(QByteArrayView(digits, digitsEnd - digits), recNoWidth);
    char* at = fields.put(grow(out, fields.size() + 1 + recNoText.size()));
    *at++ = StagingLayout::Separator;
    recNoText.put(at);
}

QByteArray StagingLine(const QString& date, const QString& time, const QString& meaValue, const QString& weight,
    qint64 recNo, int recNoWidth)
{
    const QByteArray dateText = date.toUtf8();
    const QByteArray timeText = time.toUtf8();
    const QByteArray meaValueText = meaValue.toUtf8();
    const QByteArray weightText = weight.toUtf8();
    QByteArray line;
    AppendStagingLine(line, { meaValueText, weightText, timeText, dateText }, recNo, recNoWidth);
    return line;
}

qsizetype SplitLineFields(QByteArrayView line, std::span<QByteArrayView> fields)
{
    qsizetype count = 0;
    for (;;) {
        const auto* separator = line.isEmpty()
            ? nullptr
            : static_cast<const char*>(std::memchr(line.data(), StagingLayout::Separator, std::size_t(line.size())));
        if (count == qsizetype(fields.size()))
            return count + 1;
        const QByteArrayView field = separator ? line.first(separator - line.data()) : line;
        fields[std::size_t(count++)] = trimBlanks(field);
        if (!separator)
            return count;
        line = line.sliced(field.size() + 1);
    }
}

namespace {

// Closes the staging file and hands its rows to take as one row source, with the number of rows it has
// given so far.
void TakeStagingRows(
    StagingFileLease& staging, const std::function<void(const RowSource&, const qint64& rowsGiven)>& take)
{
    staging.close();
    const QString& path = staging.path();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw DataFileError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw DataFileError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));

    QByteArrayView rest = content;
    qint64 lineNumber = 0;
    qint64 rows = 0;
    const RowSource nextRow = [&](RowToAppend& row) {
        while (!rest.isEmpty()) {
            const auto* newline = static_cast<const char*>(std::memchr(rest.data(), '\n', std::size_t(rest.size())));
            QByteArrayView line = newline ? rest.first(newline - rest.data()) : rest;
            rest = newline ? rest.sliced(line.size() + 1) : QByteArrayView();
            ++lineNumber;
            if (line.endsWith('\r'))
                line.chop(1);
            if (line.isEmpty())
                continue;
            try {
                row = ParseStagingLine(line);
            } catch (const DataFileError& error) {
                throw DataFileError(QStringLiteral("%1, line %2: %3").arg(path).arg(lineNumber).arg(error.text()));
            }
            ++rows;
            return true;
        }
        return false;
    };
    take(nextRow, rows);
}

} // namespace

void AppendStagingTable(StagingFileLease& staging, ReadingTable& destination)
{
    TakeStagingRows(staging, [&destination](const RowSource& rows, const qint64&) { destination.appendRows(rows); });
}

void AppendStagingTableInSteps(
    StagingFileLease& staging, ReadingTable& destination, const std::function<void(qint64 rowsAppended)>& betweenSteps)
{
    TakeStagingRows(staging, [&](const RowSource& rows, const qint64& rowsGiven) {
        destination.appendRowsInSteps(rows, [&] {
            if (betweenSteps)
                betweenSteps(rowsGiven);
        });
    });
}

void ReplaceWithStagingTable(StagingFileLease& staging, ReadingTable& destination)
{
    TakeStagingRows(staging, [&destination](const RowSource& rows, const qint64&) { destination.replaceRows(rows); });
}
