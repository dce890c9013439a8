#include "cli/LiveLogFile.h"

#include "cli/CliError.h"
#include "cli/LiveOutput.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <cmath>

namespace {

// Of a line that is not a reading, this much is quoted: enough to recognise it, never a whole
// megabyte of garbage.
constexpr qsizetype QuotedLineStart = 60;

QString Quoted(QByteArrayView line)
{
    const QString start = QString::fromUtf8(line.first(std::min(line.size(), QuotedLineStart)));
    return QLatin1Char('"') + start + (line.size() > QuotedLineStart ? QStringLiteral("...\"") : QStringLiteral("\""));
}

struct Reading {
    QByteArray time;
    double level = 0.0;
    QByteArray weighting;
};

std::optional<Reading> CsvReading(QByteArrayView line)
{
    const QList<QByteArray> fields = line.toByteArray().split(',');
    if (fields.size() < 3)
        return std::nullopt;
    bool ok = false;
    const double level = fields[1].toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return Reading { fields[0], level, fields[2] };
}

std::optional<Reading> JsonReading(QByteArrayView line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
    const QJsonObject object = document.object();
    if (error.error != QJsonParseError::NoError || !object.value(QLatin1String("level")).isDouble()
        || !object.value(QLatin1String("time")).isString() || !object.value(QLatin1String("weighting")).isString())
        return std::nullopt;
    return Reading { object.value(QLatin1String("time")).toString().toUtf8(),
        object.value(QLatin1String("level")).toDouble(), object.value(QLatin1String("weighting")).toString().toUtf8() };
}

std::optional<LiveLogRow> RowOf(const Reading& reading)
{
    // The time as the line wrote it: its own offset's wall clock, not this machine's.
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(reading.time), Qt::ISODateWithMs);
    // A time without its offset ("Z" counts as one) is not one the logger writes.
    if (!time.isValid() || time.timeSpec() == Qt::LocalTime || !std::isfinite(reading.level))
        return std::nullopt;
    if (reading.weighting != "A" && reading.weighting != "C")
        return std::nullopt;
    const QDate date = time.date();
    const QTime clock = time.time();
    return LiveLogRow { QByteArray::number(reading.level, 'f', 1), reading.weighting,
        QStringLiteral("%1:%2:%3").arg(clock.hour()).arg(clock.minute()).arg(clock.second()).toLatin1(),
        QStringLiteral("%1/%2/%3").arg(date.month()).arg(date.day()).arg(date.year()).toLatin1(),
        time.offsetFromUtc() };
}

} // namespace

std::optional<LiveLogFile> ReadLiveLog(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliError(QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()));
    // Told by its first bytes, before a file that is something else entirely is read whole.
    const QByteArray csvHeader = FormatHeader(LineFormat::Csv).trimmed();
    const QByteArray start = file.peek(csvHeader.size());
    const bool csv = start == csvHeader;
    if (!csv && !start.startsWith('{'))
        return std::nullopt;
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw CliError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));

    LiveLogFile log;
    log.firstLine = csv ? 2 : 1;
    qsizetype lineNumber = 0;
    for (qsizetype start = 0; start < content.size();) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        QByteArrayView line = QByteArrayView(content).sliced(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || (csv && lineNumber == 1))
            continue;
        const std::optional<Reading> reading = csv ? CsvReading(line) : JsonReading(line);
        const std::optional<LiveLogRow> row = reading ? RowOf(*reading) : std::nullopt;
        if (!row) {
            throw CliError(QStringLiteral("%1, line %2: %3 is not a reading of a live log.")
                               .arg(path)
                               .arg(lineNumber)
                               .arg(Quoted(line)));
        }
        log.rows.push_back(*row);
    }
    return log;
}
