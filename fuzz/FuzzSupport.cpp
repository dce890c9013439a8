#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

void EnsureFuzzApplication()
{
    static int argc = 1;
    static char name[] = "decimora-fuzz";
    static char* argv[] = { name, nullptr };
    // No display: nothing a fuzz target reaches draws or asks.
    if (!QCoreApplication::instance()) {
        static auto* app = new QCoreApplication(argc, argv); // lives as long as the process
        (void)app;
    }
}

const QString& FuzzScratchFolder()
{
    // /dev/shm keeps millions of rewrites of the same small file off the disk.
    static const QString folder = [] {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        static QTemporaryDir dir(base + QStringLiteral("/decimora-fuzz-XXXXXX"));
        return dir.path();
    }();
    return folder;
}

QString WriteScratchFile(const char* name, const std::uint8_t* data, std::size_t size)
{
    const QString path = FuzzScratchFolder() + QLatin1Char('/') + QString::fromLatin1(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort(); // the harness itself is broken: no input could be tried
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    return path;
}

void MemoryReadingTable::forEachRow(const std::function<void(const ReadingRow&)>& visit) const
{
    for (const ReadingRow& row : rows_)
        visit(row);
}

void MemoryReadingTable::appendRows(const RowSource& nextRow)
{
    std::vector<ReadingRow> added;
    RowToAppend row;
    while (nextRow(row)) {
        added.push_back({ row.recNo ? QString::number(*row.recNo) : QString(), QString::fromUtf8(row.text.meaValue),
            QString::fromUtf8(row.text.weight), QString::fromUtf8(row.text.time), QString::fromUtf8(row.text.date) });
    }
    rows_.insert(rows_.end(), added.begin(), added.end());
}

void MemoryReadingTable::replaceRows(const RowSource& nextRow)
{
    std::vector<ReadingRow> before;
    before.swap(rows_);
    try {
        appendRows(nextRow);
    } catch (...) {
        rows_.swap(before);
        throw;
    }
}
