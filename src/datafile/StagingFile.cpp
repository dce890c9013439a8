#include "StagingFile.h"

#include "WriteWhole.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <cstring>
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

void appendPadded(QByteArray& out, const QString& text, int width)
{
    out += text.toUtf8();
    for (qsizetype i = text.size(); i < width; ++i)
        out += ' ';
}

} // namespace

StagingFileLease StagingFileLease::acquire(const QString& programFolder, const QString& purpose)
{
    const QString path = QDir(programFolder).absoluteFilePath(QString::fromLatin1(StagingFileName));
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
    const qsizetype start = pending_.size();
    pending_.resize(start + 2);
    pending_[start] = '\r';
    pending_[start + 1] = '\n';
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

QByteArray StagingLine(const QString& date, const QString& time, const QString& meaValue, const QString& weight,
    qint64 recNo, int recNoWidth)
{
    QByteArray line;
    line.reserve(48);
    appendPadded(line, date, 10);
    line += ',';
    appendPadded(line, time, 8);
    line += ',';
    appendPadded(line, meaValue, 6);
    line += ',';
    line += weight.toUtf8();
    line += ',';
    appendPadded(line, QString::number(recNo), recNoWidth);
    return line;
}

void AppendStagingTable(StagingFileLease& staging, ReadingTable& destination)
{
    staging.close();
    destination.appendStagingFile(staging.path());
}
