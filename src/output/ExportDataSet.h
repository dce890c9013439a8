#pragma once

// What the spreadsheet writers read: a data set of typed fields (the table behind a grid) and a
// description of the grid's columns and footers. Neither is a widget, so the writers run without a
// display; the windows describe their grids.

#include <QString>
#include <QStringList>

#include <functional>
#include <span>
#include <variant>
#include <vector>

class ReadingTable;

// The kinds of field a data set may have; the writers type their cells by them.
enum class FieldType {
    SmallInt,
    Integer,
    Word,
    Bytes,
    AutoIncrement,
    Float,
    Currency,
    Bcd,
    Blob,
    Memo,
    String,
    Date,
    Time,
    DateTime,
    Boolean,
};

// One value of a record: none (null), a whole number, a real number or text. A data set gives text
// where a value of its field's type could not be had, so that nothing of the table is lost.
using FieldValue = std::variant<std::monostate, qint64, double, QString>;

struct TField {
    QString FieldName;
    FieldType DataType = FieldType::String;
    QString DisplayLabel;
    bool Visible = true;
    // Where the field's value stands in the records the data set hands out; moving the field in
    // the field list does not change it.
    int ValueIndex = 0;
};

// A table seen as a data set: its fields, which the column sync reorders, relabels and hides, and
// a walk over its records.
class ExportDataSet {
public:
    virtual ~ExportDataSet() = default;

    virtual bool active() const = 0;
    virtual qint64 recordCount() const = 0;
    // Walks every record from the first; the values stand at the fields' ValueIndex.
    virtual void forEachRecord(const std::function<void(std::span<const FieldValue>)>& visit) const = 0;
    // While suspended, the grids showing the table are not repainted for the walk.
    virtual void suspendUpdates() = 0;
    virtual void resumeUpdates() = 0;
    // The reading table behind the data set, whose levels the .xlsx workbook figures on a sheet of
    // their own; none for a data set of other records.
    virtual const ReadingTable* readingTable() const { return nullptr; }

    std::vector<TField>& fields() { return fields_; }
    const std::vector<TField>& fields() const { return fields_; }

protected:
    // Adds a field whose values stand at the next index; its display label is its name.
    void addField(const QString& name, FieldType type);

private:
    std::vector<TField> fields_;
};

// One of the three reading tables as a data set: RecNo (integer), MeaValue, Weight, Time and Date
// (text), and for MeaData and LoadData their Unit column (text), which the program never writes:
// always null. Asked for numbers, MeaValue is a real field holding the level that its text reads as
// (the text itself where it reads as no level).
class ReadingTableDataSet final : public ExportDataSet {
public:
    enum class MeaValueAs { Text, Number };

    explicit ReadingTableDataSet(ReadingTable& table, MeaValueAs meaValue = MeaValueAs::Text);

    bool active() const override;
    qint64 recordCount() const override;
    void forEachRecord(const std::function<void(std::span<const FieldValue>)>& visit) const override;
    void suspendUpdates() override;
    void resumeUpdates() override;
    const ReadingTable* readingTable() const override { return &table_; }

private:
    ReadingTable& table_;
    MeaValueAs meaValue_;
};

// A column of the grid: the field it shows, its title ("|" starts another title row), whether it
// is shown, and its footer values (one per footer row it has).
struct GridColumn {
    QString fieldName;
    QString title;
    bool visible = true;
    QStringList footers;
};

// What the writers need of a grid: its data set, its columns in grid order and its footer rows.
struct GridDescription {
    ExportDataSet* dataSet = nullptr;
    std::vector<GridColumn> columns;
    int footerRowCount = 0;
};

// The grid every readings window shows: RecNo, MeaValue, Weight, Time and Date, titled by their
// names, no footers.
GridDescription ReadingsGridDescription(ExportDataSet& dataSet);
