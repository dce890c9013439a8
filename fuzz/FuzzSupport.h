#pragma once

// What the fuzz targets share: a Qt application object (QFile and QString need none, but the settings
// module's objects do), a scratch folder per process, and a table that keeps rows in memory so that a
// run measures the parsers, not a database.

#include "core/ReadingTable.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

// Creates the application object once; call at the start of every input.
void EnsureFuzzApplication();

// A folder of this process that lives until the process ends.
const QString& FuzzScratchFolder();

// Writes the bytes to name inside the scratch folder and returns the path.
QString WriteScratchFile(const char* name, const std::uint8_t* data, std::size_t size);

class MemoryReadingTable final : public ReadingTable {
public:
    QString tableName() const override { return QStringLiteral("LoadData"); }
    void open() override { open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void empty() override { rows_.clear(); }
    void appendRow(const ReadingRow& row) override { rows_.push_back(row); }
    qint64 rowCount() const override { return static_cast<qint64>(rows_.size()); }
    ReadingRow row(qint64 index) const override { return rows_.at(static_cast<std::size_t>(index)); }
    void forEachRow(const std::function<void(const ReadingRow&)>& visit) const override;
    void suspendUpdates() override { }
    void resumeUpdates() override { }
    QAbstractTableModel* gridModel() override { return nullptr; }
    // All rows or none, as the database's transaction does it.
    void appendRows(const RowSource& nextRow) override;
    void replaceRows(const RowSource& nextRow) override;

private:
    bool open_ = true;
    std::vector<ReadingRow> rows_;
};
