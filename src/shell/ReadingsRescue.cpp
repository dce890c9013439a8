#include "shell/ReadingsRescue.h"

#include "core/ReadingTable.h"
#include "datafile/DataFile.h"
#include "datafile/StagingFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString FreeName(const QDir& folder, const QString& stem)
{
    QString path = folder.filePath(stem + QStringLiteral(".dmr"));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder.filePath(QStringLiteral("%1-%2.dmr").arg(stem).arg(n));
    return path;
}

bool SameBytes(const QString& a, const QString& b)
{
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) || first.size() != second.size())
        return false;
    constexpr qint64 Chunk = 1 << 16;
    while (!first.atEnd()) {
        const QByteArray bytes = first.read(Chunk);
        if (bytes.isEmpty() || bytes != second.read(Chunk))
            return false;
    }
    return true;
}

// A start that was killed after it had rescued the readings but before it emptied the tables leaves
// the same readings to the next start. The file written then is the rescue, found again by its
// bytes, so that no reading is kept twice.
QString EarlierRescueOf(const QString& written, const QString& tableName)
{
    const QFileInfo fresh(written);
    const QFileInfoList earlier
        = fresh.dir().entryInfoList({ tableName + QStringLiteral("-*.dmr") }, QDir::Files, QDir::Name);
    for (const QFileInfo& other : earlier) {
        if (other.absoluteFilePath() != fresh.absoluteFilePath() && other.size() == fresh.size()
            && SameBytes(other.absoluteFilePath(), written))
            return other.absoluteFilePath();
    }
    return {};
}

} // namespace

QStringList DefaultRescueFolders(const QString& programFolder, const QString& databasePath)
{
    QStringList folders;
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    for (const QString& folder : { programFolder, QFileInfo(databasePath).absolutePath(),
             dataHome.isEmpty() ? QString() : QDir(dataHome).filePath(QStringLiteral("decimora")), QDir::tempPath() }) {
        if (folder.isEmpty())
            continue;
        const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
        if (!folders.contains(clean))
            folders << clean;
    }
    return folders;
}

ReadingsRescue RescueReadings(const std::vector<const ReadingTable*>& tables, const QStringList& folders, QDate date)
{
    ReadingsRescue rescue;
    for (const QString& folder : folders)
        if (!folder.isEmpty())
            rescue.folders << QDir::toNativeSeparators(folder);
    for (const ReadingTable* table : tables) {
        if (!table || table->isEmpty())
            continue;
        const QString stem = QStringLiteral("%1-%2").arg(table->tableName(), date.toString(Qt::ISODate));
        QString lastError;
        bool written = false;
        for (const QString& folder : folders) {
            if (folder.isEmpty())
                continue;
            if (!QDir().mkpath(folder)) {
                lastError = QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(folder));
                continue;
            }
            QString path = FreeName(QDir(folder), stem);
            try {
                WriteDataFile(*table, path);
                if (const QString earlier = EarlierRescueOf(path, table->tableName()); !earlier.isEmpty()) {
                    QFile::remove(path);
                    path = earlier;
                }
                rescue.files << QDir::toNativeSeparators(path);
                written = true;
                break;
            } catch (const DecimoraError& error) {
                lastError = error.text();
            }
        }
        if (!written)
            rescue.failures << QStringLiteral("%1: %2").arg(table->tableName(), lastError);
    }
    return rescue;
}

QString ReadingsRescueMessage(const ReadingsRescue& rescue, RescueCause cause)
{
    if (rescue.empty())
        return {};
    QString text = cause == RescueCause::ClosedWithUnsavedReadings
        ? QStringLiteral("When Decimora was closed last time, it held readings that had not been saved to a data file.")
        : QStringLiteral("Decimora did not close normally last time.");
    if (!rescue.files.isEmpty())
        text += QStringLiteral("\rThe readings it still held have been saved to:\r") + rescue.files.join(QChar('\r'));
    if (!rescue.failures.isEmpty()) {
        text += QStringLiteral("\rThese readings could not be saved to a file in any of the folders tried (")
            + rescue.folders.join(QStringLiteral(", ")) + QStringLiteral("):\r") + rescue.failures.join(QChar('\r'))
            + QStringLiteral("\rThey are still in the program's tables and have been kept for now, but opening "
                             "Real Time Measure or Import Data will replace them, and so will the next start of "
                             "Decimora after this one closes normally.");
    }
    return text;
}
