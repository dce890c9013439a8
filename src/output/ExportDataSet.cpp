#include "output/ExportDataSet.h"

#include "core/ReadingTable.h"
#include "datafile/DataFile.h"

#include <array>

void ExportDataSet::addField(const QString& name, FieldType type)
{
    fields_.push_back(TField { name, type, name, true, int(fields_.size()) });
}

namespace {

constexpr std::array<const char*, 5> ReadingColumns = { "RecNo", "MeaValue", "Weight", "Time", "Date" };

bool hasUnitColumn(const QString& tableName)
{
    return tableName.compare(QLatin1String("MeaData"), Qt::CaseInsensitive) == 0
        || tableName.compare(QLatin1String("LoadData"), Qt::CaseInsensitive) == 0;
}

FieldValue textValue(const QString& text)
{
    if (text.isNull())
        return std::monostate {};
    return text;
}

FieldValue recNoValue(const QString& text)
{
    if (text.isEmpty())
        return std::monostate {};
    bool whole = false;
    const qint64 number = text.toLongLong(&whole);
    if (whole)
        return number;
    return text;
}

FieldValue levelValue(const QString& text)
{
    if (text.isNull())
        return std::monostate {};
    if (const std::optional<double> level = ValueFromTextChecked(text))
        return *level;
    return text;
}

} // namespace

ReadingTableDataSet::ReadingTableDataSet(ReadingTable& table, MeaValueAs meaValue)
    : table_(table)
    , meaValue_(meaValue)
{
    addField(QLatin1String(ReadingColumns[0]), FieldType::Integer);
    addField(QLatin1String(ReadingColumns[1]), meaValue == MeaValueAs::Number ? FieldType::Float : FieldType::String);
    for (std::size_t i = 2; i < ReadingColumns.size(); ++i)
        addField(QLatin1String(ReadingColumns[i]), FieldType::String);
    if (hasUnitColumn(table.tableName()))
        addField(QStringLiteral("Unit"), FieldType::String);
}

bool ReadingTableDataSet::active() const
{
    return table_.isOpen();
}

qint64 ReadingTableDataSet::recordCount() const
{
    return table_.rowCount();
}

void ReadingTableDataSet::forEachRecord(const std::function<void(std::span<const FieldValue>)>& visit) const
{
    // Unit, when the table has it, stays null: the tables never give it.
    std::vector<FieldValue> values(fields().size());
    table_.forEachRow([&](const ReadingRow& row) {
        values[0] = recNoValue(row.recNo);
        values[1] = meaValue_ == MeaValueAs::Number ? levelValue(row.meaValue) : textValue(row.meaValue);
        values[2] = textValue(row.weight);
        values[3] = textValue(row.time);
        values[4] = textValue(row.date);
        visit(values);
    });
}

void ReadingTableDataSet::suspendUpdates()
{
    table_.suspendUpdates();
}

void ReadingTableDataSet::resumeUpdates()
{
    table_.resumeUpdates();
}

GridDescription ReadingsGridDescription(ExportDataSet& dataSet)
{
    GridDescription grid;
    grid.dataSet = &dataSet;
    for (const char* name : ReadingColumns)
        grid.columns.push_back(GridColumn { QLatin1String(name), QLatin1String(name), true, {} });
    return grid;
}
