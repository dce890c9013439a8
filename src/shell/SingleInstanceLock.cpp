#include "shell/SingleInstanceLock.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How long a new copy waits for an ending one to let go of the lock.
constexpr int OwnershipWaitMs = 100;
constexpr int OwnershipPollMs = 10;
// The line after the owner's note of a copy that kept its readings for the next start.
constexpr char KeptReadingsLine[] = "kept readings for the next start";

bool LockWithin(int fd, int milliseconds)
{
    for (int waited = 0;; waited += OwnershipPollMs) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (waited >= milliseconds)
            return false;
        QThread::msleep(OwnershipPollMs);
    }
}

QByteArray ReadAll(int fd)
{
    QByteArray content;
    char buffer[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        content.append(buffer, n);
    }
    return content;
}

void Rewrite(int fd, const QByteArray& content)
{
    if (::ftruncate(fd, 0) != 0)
        return;
    ::lseek(fd, 0, SEEK_SET);
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, static_cast<size_t>(content.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        written += n;
    }
    ::fsync(fd);
}

// True when fd is still the file at path: an ending copy may have removed the file between our
// open() and our flock().
bool StillAtPath(int fd, const QByteArray& path)
{
    struct stat opened { };
    struct stat named { };
    return ::fstat(fd, &opened) == 0 && ::stat(path.constData(), &named) == 0 && opened.st_dev == named.st_dev
        && opened.st_ino == named.st_ino;
}

} // namespace

SingleInstanceLock::SingleInstanceLock(QString folder, QString name)
    : folder_(std::move(folder))
    , name_(std::move(name))
{
}

SingleInstanceLock::~SingleInstanceLock()
{
    Close();
}

QString SingleInstanceLock::FilePath() const
{
    return QDir(folder_).filePath(name_ + QStringLiteral(".lock"));
}

SingleInstanceLock::Outcome SingleInstanceLock::TryAcquire(const QString& note)
{
    if (fd_ >= 0)
        return Outcome::Acquired;
    if (!QDir().mkpath(folder_))
        return Outcome::HeldElsewhere;
    const QByteArray path = QFile::encodeName(FilePath());

    // A few rounds only matter when copies start and end at the same moment.
    for (int round = 0; round < 5; ++round) {
        bool existed = false;
        int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            existed = true;
            fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
            if (fd < 0 && errno == ENOENT)
                continue; // removed by a copy that just closed normally
        }
        if (fd < 0)
            return Outcome::HeldElsewhere;
        if (!LockWithin(fd, OwnershipWaitMs)) {
            ::close(fd);
            return Outcome::HeldElsewhere;
        }
        if (!StillAtPath(fd, path)) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
        previousEndedWithoutClose_ = existed;
        QStringList previous = existed ? QString::fromUtf8(ReadAll(fd)).split(QLatin1Char('\n')) : QStringList();
        previousKeptReadings_ = previous.size() > 1 && previous.last() == QLatin1String(KeptReadingsLine);
        if (previousKeptReadings_)
            previous.removeLast();
        previousNote_ = previous.join(QLatin1Char('\n'));
        note_ = note;
        Rewrite(fd, note.toUtf8());
        return Outcome::Acquired;
    }
    return Outcome::HeldElsewhere;
}

void SingleInstanceLock::EndedNormally()
{
    if (fd_ < 0)
        return;
    // Removed while still held, so that no new copy can take the old file for a crashed one's.
    ::unlink(QFile::encodeName(FilePath()).constData());
    Close();
}

void SingleInstanceLock::EndedKeepingReadings()
{
    if (fd_ < 0)
        return;
    Rewrite(fd_, (note_ + QLatin1Char('\n') + QLatin1String(KeptReadingsLine)).toUtf8());
    Close();
}

void SingleInstanceLock::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}
