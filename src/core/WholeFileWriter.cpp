#include "core/WholeFileWriter.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <optional>
#include <utility>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype PendingBytes = 64 * 1024;

// How many symbolic links are followed before the name counts as a loop (as the system's own limit).
constexpr int MostLinksFollowed = 40;

// "/dev/stdout" leads to "/proc/self/fd/1": a descriptor of this process, not a file to open anew.
std::optional<int> DescriptorNamed(const QByteArray& path)
{
    static const QRegularExpression named(QStringLiteral("^/(?:proc/self|dev)/fd/(\\d+)$"));
    const QRegularExpressionMatch match = named.match(QString::fromLocal8Bit(path));
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

QByteArray FolderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

mode_t NewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

WholeFileWriter::WholeFileWriter(const QString& target)
    : target_(target)
{
    std::optional<int> descriptor;
    QByteArray path = QFile::encodeName(target);
    if (target == QLatin1String("-"))
        descriptor = STDOUT_FILENO;
    for (int links = 0; !descriptor; ++links) {
        if (links > MostLinksFollowed)
            fail(ELOOP);
        descriptor = DescriptorNamed(path);
        if (descriptor)
            break;
        struct stat file { };
        if (::lstat(path.constData(), &file) != 0) {
            if (errno != ENOENT)
                fail(errno);
            openTemporaryBeside(path, false, 0, 0, NewFileMode());
            break;
        }
        if (S_ISLNK(file.st_mode)) {
            QByteArray link(qsizetype(file.st_size > 0 ? file.st_size : PATH_MAX) + 1, '\0');
            const ssize_t length = ::readlink(path.constData(), link.data(), std::size_t(link.size()));
            if (length < 0)
                fail(errno);
            link.truncate(length);
            path = link.startsWith('/') ? link : FolderOf(path) + '/' + link;
            continue;
        }
        if (S_ISREG(file.st_mode)) {
            // A file its owner made read-only stays as it is.
            if (::access(path.constData(), W_OK) != 0)
                fail(errno);
            openTemporaryBeside(path, true, file.st_uid, file.st_gid, file.st_mode & 07777);
            break;
        }
        descriptor_ = ::open(path.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (descriptor_ < 0)
            fail(errno);
        break;
    }
    if (descriptor) {
        descriptor_ = ::fcntl(*descriptor, F_DUPFD_CLOEXEC, 0);
        if (descriptor_ < 0)
            fail(errno);
    }
    QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

WholeFileWriter::~WholeFileWriter()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
    if (!committed_ && !temporary_.isEmpty())
        ::unlink(temporary_.constData());
    if (!writtenByName_.isEmpty() && writtenByName_ != temporary_)
        ::unlink(writtenByName_.constData());
}

void WholeFileWriter::openTemporaryBeside(const QByteArray& file, bool exists, uid_t owner, gid_t group, mode_t mode)
{
    const qsizetype slash = file.lastIndexOf('/');
    QByteArray temporary = file.left(slash + 1) + '.' + file.mid(slash + 1) + ".XXXXXX";
    descriptor_ = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor_ < 0)
        fail(errno);
    replaced_ = file;
    temporary_ = temporary;
    // The new file takes the old one's place with its permissions (and, for root, its owner); a new
    // file gets what any new file gets. The temporary file itself is private to its owner.
    // Keeping the owner is a courtesy to the user: a file that cannot keep it is still written.
    if (exists && ::geteuid() == 0) {
        [[maybe_unused]] const int kept = ::fchown(descriptor_, owner, group);
    }
    if (::fchmod(descriptor_, mode) != 0) {
        // The destructor does not run for a constructor that throws: the temporary file goes here.
        const int error = errno;
        ::close(std::exchange(descriptor_, -1));
        ::unlink(temporary_.constData());
        fail(error);
    }
}

void WholeFileWriter::fail(int systemError) const
{
    throw FileWriteError(QStringLiteral("Cannot write %1: %2").arg(target_, qt_error_string(systemError)));
}

void WholeFileWriter::writeToDescriptor(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(descriptor_, bytes.data(), std::size_t(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            fail(errno);
        if (written == 0)
            fail(ENOSPC);
        bytes = bytes.sliced(qsizetype(written));
    }
}

void WholeFileWriter::write(QByteArrayView bytes)
{
    if (pending_.size() + bytes.size() <= PendingBytes) {
        pending_.append(bytes);
        return;
    }
    flush();
    if (bytes.size() < PendingBytes)
        pending_.append(bytes);
    else
        writeToDescriptor(bytes);
}

void WholeFileWriter::flush()
{
    const QByteArray pending = std::exchange(pending_, {});
    writeToDescriptor(pending);
}

void WholeFileWriter::writeAll(QByteArrayView bytes)
{
    if (deviceFailure_)
        std::rethrow_exception(deviceFailure_);
    write(bytes);
}

qint64 WholeFileWriter::writeData(const char* data, qint64 size)
{
    if (deviceFailure_)
        return -1;
    try {
        write(QByteArrayView(data, size));
    } catch (const FileWriteError& error) {
        deviceFailure_ = std::current_exception();
        setErrorString(error.text());
        return -1;
    }
    return size;
}

QString WholeFileWriter::pathToWriteByName()
{
    if (writtenByName_.isEmpty()) {
        if (!temporary_.isEmpty()) {
            writtenByName_ = temporary_;
        } else {
            QByteArray name = QFile::encodeName(QDir::tempPath()) + "/decimora-XXXXXX";
            const int file = ::mkostemp(name.data(), O_CLOEXEC);
            if (file < 0)
                fail(errno);
            ::close(file);
            writtenByName_ = name;
        }
    }
    return QFile::decodeName(writtenByName_);
}

void WholeFileWriter::commit()
{
    if (deviceFailure_)
        std::rethrow_exception(deviceFailure_);
    flush();
    if (temporary_.isEmpty()) {
        if (!writtenByName_.isEmpty())
            copyWrittenByName();
        closeDescriptor();
    } else {
        replace();
    }
    committed_ = true;
    QIODevice::close();
}

void WholeFileWriter::copyWrittenByName()
{
    QFile written(QFile::decodeName(writtenByName_));
    if (!written.open(QIODevice::ReadOnly))
        throw FileWriteError(QStringLiteral("Cannot write %1: %2").arg(target_, written.errorString()));
    while (!written.atEnd()) {
        const QByteArray block = written.read(1 << 20);
        if (block.isEmpty() && written.error() != QFileDevice::NoError)
            throw FileWriteError(QStringLiteral("Cannot write %1: %2").arg(target_, written.errorString()));
        writeToDescriptor(block);
    }
}

void WholeFileWriter::replace()
{
    // A library that wrote the file by name may have made it anew: what is synced is what has the name.
    if (!writtenByName_.isEmpty()) {
        closeDescriptor();
        descriptor_ = ::open(temporary_.constData(), O_RDONLY | O_CLOEXEC);
        if (descriptor_ < 0)
            fail(errno);
    }
    if (::fsync(descriptor_) != 0)
        fail(errno);
    closeDescriptor();
    if (::rename(temporary_.constData(), replaced_.constData()) != 0)
        fail(errno);
    temporary_.clear();
    writtenByName_.clear();
    // The rename itself reaches the disk with its folder.
    const int folder = ::open(FolderOf(replaced_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
}

void WholeFileWriter::closeDescriptor()
{
    const int descriptor = descriptor_;
    descriptor_ = -1;
    if (descriptor >= 0 && ::close(descriptor) != 0 && errno != EINTR)
        fail(errno);
}
