#include "cli/LiveOutput.h"

#include "cli/CliError.h"
#include "cli/CutOffLine.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::optional<LineFormat> LineFormatNamed(const QString& name)
{
    if (name == QLatin1String("csv"))
        return LineFormat::Csv;
    if (name == QLatin1String("jsonl"))
        return LineFormat::JsonLines;
    if (name == QLatin1String("influx"))
        return LineFormat::Influx;
    return std::nullopt;
}

QByteArray FormatHeader(LineFormat format)
{
    if (format == LineFormat::Csv)
        return QByteArrayLiteral("time,level,weighting,range,response,max_hold\r\n");
    return {};
}

namespace {

QByteArray Escaped(const QString& text, QByteArrayView special)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 4);
    for (const char c : utf8) {
        if (special.contains(c))
            out.append('\\');
        out.append(c);
    }
    return out;
}

} // namespace

QByteArray InfluxMeasurementText(const QString& name)
{
    return Escaped(name, ", ");
}

QByteArray InfluxKeyText(const QString& key)
{
    return Escaped(key, ",= ");
}

QString InfluxNameProblem(const QString& what, const QString& name, bool measurement)
{
    if (name.isEmpty())
        return QStringLiteral("The %1 is empty.").arg(what);
    if (name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\r')))
        return QStringLiteral("The %1 '%2' holds a line break.").arg(what, name);
    // A backslash at the end would escape the separator after it.
    if (name.endsWith(QLatin1Char('\\')))
        return QStringLiteral("The %1 '%2' ends in a backslash.").arg(what, name);
    if (measurement && name.startsWith(QLatin1Char('#')))
        return QStringLiteral("The %1 '%2' starts with '#', which marks a comment line.").arg(what, name);
    return {};
}

QByteArray FormatLine(LineFormat format, const LiveReading& reading, const InfluxNames& names)
{
    switch (format) {
    case LineFormat::Csv:
        // No field can hold a comma, a quote or a line break: nothing is quoted.
        return IsoTimeText(reading.time).toLatin1() + ',' + LevelText(reading.tenths).toLatin1() + ','
            + WeightingText(reading.flags).toLatin1() + ',' + RangeText(reading.flags).toLatin1() + ','
            + ResponseText(reading.flags).toLatin1() + ',' + (MaxHoldOn(reading.flags) ? "true" : "false") + "\r\n";
    case LineFormat::JsonLines:
        return LiveReadingJson(reading) + '\n';
    case LineFormat::Influx:
        break;
    }
    // Tags sorted by key, as InfluxDB stores them; the reading's own words need no escapes.
    std::vector<std::pair<QByteArray, QByteArray>> tags {
        { "range", RangeText(reading.flags).toLatin1() },
        { "response", ResponseText(reading.flags).toLatin1() },
        { "weighting", WeightingText(reading.flags).toLatin1() },
    };
    for (const auto& [key, value] : names.tags)
        tags.emplace_back(InfluxKeyText(key), InfluxKeyText(value));
    std::stable_sort(tags.begin(), tags.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QByteArray line = InfluxMeasurementText(names.measurement);
    for (const auto& [key, value] : tags)
        line += ',' + key + '=' + value;
    line += " level=" + LevelText(reading.tenths).toLatin1()
        + ",max_hold=" + (MaxHoldOn(reading.flags) ? "true" : "false") + ' '
        + QByteArray::number(reading.time.toMSecsSinceEpoch()) + "000000\n";
    return line;
}

QString DailyFilePath(const QString& path, const QDate& day)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stamp = QLatin1Char('-') + day.toString(QStringLiteral("yyyy-MM-dd"));
    // A name that starts with its only dot (".noise") has no extension.
    const QString dated = dot > 0 ? name.left(dot) + stamp + name.mid(dot) : name + stamp;
    const QString folder = path.left(path.size() - name.size());
    return folder + dated;
}

LineOutput::LineOutput(
    LineFormat format, InfluxNames names, Target target, QString path, std::function<void(const QString&)> note)
    : format_(format)
    , names_(std::move(names))
    , target_(target)
    , path_(std::move(path))
    , note_(std::move(note))
{
    if (target_ == Target::StandardOutput) {
        fd_ = STDOUT_FILENO;
        writeAll(FormatHeader(format_));
    } else if (target_ == Target::File) {
        openFile(path_);
    } else {
        // The day's file is opened with its first reading, so that its name is the reading's day; the
        // folder is checked now, so that a wrong one is said at once rather than at the first reading.
        const QString folder = QFileInfo(path_).absolutePath();
        if (!QFileInfo(folder).isDir())
            throw CliError(QStringLiteral("The folder %1 does not exist.").arg(folder));
    }
}

LineOutput::~LineOutput()
{
    closeFile();
}

void LineOutput::openFile(const QString& path)
{
    closeFile();
    const QByteArray name = QFile::encodeName(path);
    // Read too, to look at the file's end; a file this user may only write is appended to unseen.
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const bool readable = fd >= 0 || errno != EACCES;
    if (!readable)
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        throw CliError(QStringLiteral("Cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    std::optional<CutOffLine> cutOff;
    try {
        if (readable)
            cutOff = DropCutOffLine(fd, path);
    } catch (const CliError&) {
        ::close(fd);
        throw;
    }
    if (cutOff && note_)
        note_(CutOffLineNote(path, *cutOff));
    fd_ = fd;
    ownsFd_ = true;
    currentPath_ = path;
    struct stat facts { };
    if (::fstat(fd_, &facts) == 0 && facts.st_size == 0)
        writeAll(FormatHeader(format_));
}

void LineOutput::closeFile()
{
    if (ownsFd_ && fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    ownsFd_ = false;
}

void LineOutput::writeAll(const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, static_cast<std::size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int error = written < 0 ? errno : EIO;
            // A line cut short (a full disk) is taken back, so that the file still ends with a
            // complete line; appending leaves the offset at the end of what was written.
            const qsizetype partial = data - bytes.constData();
            if (partial > 0) {
                const off_t end = ::lseek(fd_, 0, SEEK_CUR);
                // Should this fail too, the next run that appends drops the cut-off line itself.
                if (end >= partial) {
                    [[maybe_unused]] const int truncated = ::ftruncate(fd_, end - partial);
                }
            }
            const QString where = currentPath_.isEmpty() ? QStringLiteral("the standard output") : currentPath_;
            throw CliError(
                QStringLiteral("Cannot write to %1: %2").arg(where, QString::fromLocal8Bit(std::strerror(error))));
        }
        data += written;
        left -= written;
    }
}

void LineOutput::take(const LiveReading& reading)
{
    if (target_ == Target::DailyFiles) {
        const QDate day = reading.time.date();
        if (day != currentDay_) {
            openFile(DailyFilePath(path_, day));
            currentDay_ = day;
        }
    }
    writeAll(FormatLine(format_, reading, names_));
}

void LineOutput::finish()
{
    closeFile();
}
