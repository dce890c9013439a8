#include "output/ZipStream.h"

#include "output/DBGridToExcel.h"

#include <QDateTime>

#include <zlib.h>

#include <cstring>

namespace {

constexpr quint32 LocalHeaderSignature = 0x04034b50;
constexpr quint32 CentralHeaderSignature = 0x02014b50;
constexpr quint32 EndSignature = 0x06054b50;
constexpr quint16 VersionNeeded = 20;
constexpr quint16 Deflated = 8;
// Bit 11: the names are UTF-8.
constexpr quint16 Utf8Names = 0x0800;
// Where an entry's CRC stands in its local header; the sizes follow it.
constexpr qint64 LocalCrcOffset = 14;
constexpr qsizetype CompressedBlock = qsizetype(1) << 18;

void putLe(QByteArray& out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

// The time and date as the ZIP headers keep them (MS-DOS format, local time).
std::pair<quint16, quint16> DosTimeAndDate(const QDateTime& when)
{
    const QDate date = when.date();
    const QTime time = when.time();
    const auto dosTime = quint16((time.hour() << 11) | (time.minute() << 5) | (time.second() / 2));
    const auto dosDate = quint16(((std::max(date.year(), 1980) - 1980) << 9) | (date.month() << 5) | date.day());
    return { dosTime, dosDate };
}

} // namespace

struct ZipStream::Deflater {
    z_stream stream {};
    bool open = false;

    Deflater()
    {
        // Raw deflate (negative window bits): the ZIP headers carry what a zlib wrapper would.
        open = deflateInit2(&stream, CompressionLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater()
    {
        if (open)
            deflateEnd(&stream);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
};

ZipStream::ZipStream(const QString& path, const QString& shownPath)
    : shownPath_(shownPath)
    , file_(path)
{
    // Unbuffered: a failed write is told by the write itself, with the system's reason.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        fail();
    compressed_.resize(CompressedBlock);
}

ZipStream::~ZipStream() = default;

void ZipStream::fail() const
{
    throw SpreadsheetExportError(QStringLiteral("Cannot write %1: %2").arg(shownPath_, file_.errorString()));
}

void ZipStream::put(QByteArrayView bytes)
{
    // A write that stops part-way (the disk filled up) sets no error: the write of the rest then
    // fails with the system's reason.
    while (!bytes.isEmpty()) {
        const qint64 written = file_.write(bytes.data(), bytes.size());
        if (written <= 0)
            fail();
        bytes = bytes.sliced(written);
    }
}

void ZipStream::startEntry(const QString& name)
{
    endEntry();
    Entry entry;
    entry.name = name.toUtf8();
    entry.headerOffset = file_.pos();
    const auto [time, date] = DosTimeAndDate(QDateTime::currentDateTime());
    QByteArray header;
    putLe(header, LocalHeaderSignature, 4);
    putLe(header, VersionNeeded, 2);
    putLe(header, Utf8Names, 2);
    putLe(header, Deflated, 2);
    putLe(header, time, 2);
    putLe(header, date, 2);
    // CRC, compressed and uncompressed size: completed when the entry ends.
    putLe(header, 0, 4);
    putLe(header, 0, 4);
    putLe(header, 0, 4);
    putLe(header, quint32(entry.name.size()), 2);
    putLe(header, 0, 2);
    header += entry.name;
    put(header);
    entries_.push_back(std::move(entry));
    deflater_ = std::make_unique<Deflater>();
    if (!deflater_->open)
        throw SpreadsheetExportError(QStringLiteral("Cannot write %1: the compressor does not start").arg(shownPath_));
    inEntry_ = true;
}

void ZipStream::write(QByteArrayView bytes)
{
    Entry& entry = entries_.back();
    entry.crc = quint32(crc32(entry.crc, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
    entry.size += bytes.size();
    deflate(bytes, false);
}

void ZipStream::deflate(QByteArrayView bytes, bool last)
{
    z_stream& stream = deflater_->stream;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = uInt(bytes.size());
    int status = Z_OK;
    do {
        stream.next_out = reinterpret_cast<Bytef*>(compressed_.data());
        stream.avail_out = uInt(compressed_.size());
        status = ::deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
        const qsizetype produced = compressed_.size() - qsizetype(stream.avail_out);
        entries_.back().compressedSize += produced;
        put(QByteArrayView(compressed_.constData(), produced));
    } while (last ? status != Z_STREAM_END : stream.avail_in > 0 || stream.avail_out == 0);
}

void ZipStream::endEntry()
{
    if (!inEntry_)
        return;
    deflate({}, true);
    deflater_.reset();
    inEntry_ = false;
    const Entry& entry = entries_.back();
    const qint64 end = file_.pos();
    QByteArray sizes;
    putLe(sizes, entry.crc, 4);
    putLe(sizes, quint32(entry.compressedSize), 4);
    putLe(sizes, quint32(entry.size), 4);
    if (!file_.seek(entry.headerOffset + LocalCrcOffset))
        fail();
    put(sizes);
    if (!file_.seek(end))
        fail();
}

void ZipStream::finish()
{
    endEntry();
    const qint64 directoryOffset = file_.pos();
    const auto [time, date] = DosTimeAndDate(QDateTime::currentDateTime());
    QByteArray directory;
    for (const Entry& entry : entries_) {
        putLe(directory, CentralHeaderSignature, 4);
        putLe(directory, VersionNeeded, 2); // made by
        putLe(directory, VersionNeeded, 2);
        putLe(directory, Utf8Names, 2);
        putLe(directory, Deflated, 2);
        putLe(directory, time, 2);
        putLe(directory, date, 2);
        putLe(directory, entry.crc, 4);
        putLe(directory, quint32(entry.compressedSize), 4);
        putLe(directory, quint32(entry.size), 4);
        putLe(directory, quint32(entry.name.size()), 2);
        putLe(directory, 0, 2); // extra field
        putLe(directory, 0, 2); // comment
        putLe(directory, 0, 2); // disk
        putLe(directory, 0, 2); // internal attributes
        putLe(directory, 0, 4); // external attributes
        putLe(directory, quint32(entry.headerOffset), 4);
        directory += entry.name;
    }
    const auto directorySize = quint32(directory.size());
    putLe(directory, EndSignature, 4);
    putLe(directory, 0, 2);
    putLe(directory, 0, 2);
    putLe(directory, quint32(entries_.size()), 2);
    putLe(directory, quint32(entries_.size()), 2);
    putLe(directory, directorySize, 4);
    putLe(directory, quint32(directoryOffset), 4);
    putLe(directory, 0, 2);
    put(directory);
    if (!file_.flush())
        fail();
}
