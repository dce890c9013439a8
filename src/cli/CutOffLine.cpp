#include "cli/CutOffLine.h"

#include "cli/CliError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Longer than any line the tool writes (a CSV line is some 60 bytes, an InfluxDB line with many tags
// a few hundred).
constexpr qint64 LongestTorso = 16 * 1024;
// How much of the dropped bytes the note quotes.
constexpr qsizetype Quoted = 40;

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

// Where the bytes after the last line end start (0 when there is none), looked for backwards a block
// at a time. Zeros at the very end (a power cut's unwritten blocks) may be any number; the text
// before them may not be longer than a line.
off_t AfterLastLineEnd(int fd, off_t size, const QString& path)
{
    constexpr off_t Block = 4096;
    qint64 text = 0;
    for (off_t end = size; end > 0;) {
        const off_t start = std::max<off_t>(end - Block, 0);
        const QByteArray block = ReadAt(fd, start, qsizetype(end - start), path);
        for (qsizetype i = block.size() - 1; i >= 0; --i) {
            if (block[i] == '\n')
                return start + i + 1;
            if (block[i] != '\0' || text > 0)
                ++text;
            if (text > LongestTorso) {
                throw CliError(QStringLiteral("Cannot append to %1: it does not end with a whole line, and what "
                                              "follows its last line end is longer than any line of readings. It "
                                              "is left as it is; give another file.")
                                   .arg(path));
            }
        }
        end = start;
    }
    return 0;
}

} // namespace

std::optional<CutOffLine> DropCutOffLine(int fd, const QString& path)
{
    struct stat facts { };
    if (::fstat(fd, &facts) != 0)
        Fail("read", path);
    // Only regular files are appended to in place; a pipe or a terminal has no end to look at.
    if (!S_ISREG(facts.st_mode) || facts.st_size == 0)
        return std::nullopt;
    const off_t keep = AfterLastLineEnd(fd, facts.st_size, path);
    if (keep == facts.st_size)
        return std::nullopt;
    CutOffLine dropped;
    dropped.size = facts.st_size - keep;
    dropped.start = ReadAt(fd, keep, qsizetype(std::min<qint64>(dropped.size, Quoted + 1)), path);
    if (::ftruncate(fd, keep) != 0)
        Fail("shorten", path);
    return dropped;
}

QString CutOffLineNote(const QString& path, const CutOffLine& dropped)
{
    QString start;
    for (const char c : dropped.start.left(Quoted))
        start += (c >= 0x20 && c < 0x7F) ? QLatin1Char(c) : QLatin1Char('?');
    if (dropped.size > Quoted)
        start += QStringLiteral("...");
    return QStringLiteral("%1 ended in a line cut off after %2 bytes (\"%3\"), left by a power cut or a full disk; "
                          "it has been dropped, and the readings go on after the last whole line.")
        .arg(path)
        .arg(dropped.size)
        .arg(start);
}
