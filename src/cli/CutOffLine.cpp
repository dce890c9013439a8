#include "cli/CutOffLine.h"

#include "cli/CliError.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const char* what, const QString& path)
{
    throw CliError(QStringLiteral("Cannot %1 %2: %3")
                       .arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(errno))));
}

// Reads exactly size bytes at offset.
QByteArray ReadAt(int fd, off_t offset, qsizetype size, const QString& path)
{
    QByteArray bytes(size, Qt::Uninitialized);
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes.data() + done, static_cast<std::size_t>(size - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("read", path);
        done += n;
    }
    return bytes;
}

} // namespace

std::optional<QByteArray> DropCutOffLine(int fd, const QString& path)
{
    struct stat facts { };
    if (::fstat(fd, &facts) != 0)
        Fail("read", path);
    const off_t size = facts.st_size;
    // Only regular files are appended to in place; a pipe or a terminal has no end to look at.
    if (!S_ISREG(facts.st_mode) || size == 0)
        return std::nullopt;

    // The last line end, looked for backwards a block at a time: a torso is shorter than one line.
    constexpr off_t Block = 4096;
    off_t end = size;
    off_t keep = 0;
    while (end > 0) {
        const off_t start = end > Block ? end - Block : 0;
        const QByteArray block = ReadAt(fd, start, qsizetype(end - start), path);
        const qsizetype newline = block.lastIndexOf('\n');
        if (newline >= 0) {
            keep = start + newline + 1;
            break;
        }
        end = start;
    }
    if (keep == size)
        return std::nullopt;
    const QByteArray dropped = ReadAt(fd, keep, qsizetype(size - keep), path);
    if (::ftruncate(fd, keep) != 0)
        Fail("shorten", path);
    return dropped;
}

QString CutOffLineNote(const QString& path, const QByteArray& dropped)
{
    constexpr qsizetype Shown = 40;
    QString start;
    for (const char c : dropped.left(Shown))
        start += (c >= 0x20 && c < 0x7F) ? QLatin1Char(c) : QLatin1Char('?');
    if (dropped.size() > Shown)
        start += QStringLiteral("...");
    return QStringLiteral("%1 ended in a line cut off after %2 bytes (\"%3\"), left by a power cut or a full disk; "
                          "it has been dropped, and the readings go on after the last whole line.")
        .arg(path)
        .arg(dropped.size())
        .arg(start);
}
