// The .xls writer's bytes: the records of a sheet, one case per layout rule.

#include "MemoryDataSet.h"
#include "output/DBGridToExcel.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <bit>
#include <cstring>

namespace {

QByteArray hex(const char* spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

QByteArray le16(quint32 value)
{
    const char bytes[] = { char(value & 0xFF), char((value >> 8) & 0xFF) };
    return QByteArray(bytes, 2);
}

QByteArray le32(quint32 value)
{
    return le16(value & 0xFFFF) + le16(value >> 16);
}

// The records as the BIFF record table lays them out.
QByteArray bof()
{
    return hex("09 08 08 00 00 00 10 00 00 00 00 00");
}
QByteArray label(int row, int col, const QByteArray& text)
{
    return le16(0x0204) + le16(quint32(text.size()) + 8) + le16(row) + le16(col) + le16(0) + le16(text.size()) + text;
}
QByteArray rk(int row, int col, quint32 rkValue)
{
    return le16(0x027E) + le16(10) + le16(row) + le16(col) + le16(0) + le32(rkValue);
}
QByteArray number(int row, int col, double value)
{
    const auto bits = std::bit_cast<quint64>(value);
    return le16(0x0203) + le16(14) + le16(row) + le16(col) + le16(0) + le32(quint32(bits)) + le32(quint32(bits >> 32));
}
QByteArray blank(int row, int col)
{
    return le16(0x0201) + le16(6) + le16(row) + le16(col) + le16(23);
}
QByteArray eof()
{
    return hex("0A 00 00 00");
}

struct Column {
    const char* field;
    const char* title;
    bool visible = true;
    QStringList footers = {};
};

struct Case {
    const char* name;
    std::initializer_list<std::pair<const char*, FieldType>> fields;
    std::vector<std::vector<FieldValue>> records;
    std::vector<Column> columns;
    QByteArray expected;
    const char* titleName = "";
    int footerRowCount = 0;
};

QByteArray exportBytes(const Case& test)
{
    QTemporaryDir dir;
    MemoryDataSet dataSet(test.fields, test.records);
    GridDescription grid;
    grid.dataSet = &dataSet;
    for (const Column& column : test.columns)
        grid.columns.push_back(GridColumn {
            QString::fromLatin1(column.field), QString::fromLatin1(column.title), column.visible, column.footers });
    grid.footerRowCount = test.footerRowCount;
    TDBGridToExcel writer;
    writer.ShowProgress = false;
    writer.DBGrid = &grid;
    writer.TitleName = QString::fromLatin1(test.titleName);
    writer.FileName = dir.filePath("sheet.xls");
    writer.ExportSheet();
    return readFile(writer.FileName);
}

TEST(SheetBytes, EachLayoutRuleGivesItsRecords)
{
    const Case cases[] = {
        { "the worked example: RecNo, MeaValue (floating point), Weight",
            { { "RecNo", FieldType::Integer }, { "MeaValue", FieldType::Float }, { "Weight", FieldType::String } },
            { { qint64(1), 65.5, QString("A") } },
            { { "RecNo", "RecNo" }, { "MeaValue", "MeaValue" }, { "Weight", "Weight" } },
            hex("09 08 08 00 00 00 10 00 00 00 00 00"
                "04 02 08 00 00 00 03 00 00 00 00 00"
                "04 02 0D 00 01 00 00 00 00 00 05 00 52 65 63 4E 6F"
                "04 02 10 00 01 00 01 00 00 00 08 00 4D 65 61 56 61 6C 75 65"
                "04 02 0E 00 01 00 02 00 00 00 06 00 57 65 69 67 68 74"
                "7E 02 0A 00 02 00 00 00 00 00 06 00 00 00"
                "03 02 0E 00 02 00 01 00 00 00 00 00 00 00 00 60 50 40"
                "04 02 09 00 02 00 02 00 00 00 01 00 41"
                "0A 00 00 00") },
        { "a negative integer", { { "Offset", FieldType::Integer } }, { { qint64(-5) } }, { { "Offset", "Offset" } },
            bof() + label(0, 3, "") + label(1, 0, "Offset") + hex("7E 02 0A 00 02 00 00 00 00 00 EE FF FF FF")
                + eof() },
        { "integers at the ends of the RK range stay RK; beyond them they are numbers, not cut short",
            { { "SmallInt", FieldType::SmallInt }, { "AutoInc", FieldType::AutoIncrement } },
            { { qint64(536870911), qint64(-536870912) }, { qint64(536870912), qint64(-536870913) } },
            { { "SmallInt", "a" }, { "AutoInc", "b" } },
            bof() + label(0, 3, "") + label(1, 0, "a") + label(1, 1, "b") + rk(2, 0, 0x7FFFFFFE) + rk(2, 1, 0x80000002)
                + number(3, 0, 536870912.0) + number(3, 1, -536870913.0) + eof() },
        { "a \"|\" title gives two title rows and the records start one row lower",
            { { "MeaValue", FieldType::String }, { "Weight", FieldType::String } },
            { { QString("65.3"), QString("A") } }, { { "MeaValue", "Level|dB" }, { "Weight", "Weight" } },
            bof() + label(0, 3, "") + label(1, 0, "Level") + label(1, 1, "Weight") + label(2, 0, "dB") + label(2, 1, "")
                + label(3, 0, "65.3") + label(3, 1, "A") + eof() },
        { "a \"*****\" column keeps its title cell while its field's cells are blank",
            { { "RecNo", FieldType::Integer }, { "Note", FieldType::String } },
            { { qint64(1), QString("secret") }, { qint64(2), QString("hidden") } },
            { { "RecNo", "RecNo" }, { "Note", "Note*****" } },
            bof() + label(0, 3, "") + label(1, 0, "RecNo") + label(1, 1, "Note*****") + rk(2, 0, 6) + blank(2, 1)
                + rk(3, 0, 10) + blank(3, 1) + eof() },
        { "a field the grid does not show gets a cell after the grid's columns but no title; a hidden column's "
          "field is blank and has no title",
            { { "Unit", FieldType::String }, { "Time", FieldType::String }, { "Weight", FieldType::String } },
            { { QString("dB"), QString("9:5:30"), QString("C") } },
            { { "Weight", "Weight" }, { "Time", "Time", false } },
            bof() + label(0, 3, "") + label(1, 0, "Weight") + label(2, 0, "C") + blank(2, 1) + label(2, 2, "dB")
                + eof() },
        { "a null value is a blank cell of format 23, not an empty label",
            { { "RecNo", FieldType::Integer }, { "MeaValue", FieldType::Float }, { "Date", FieldType::Date } },
            { { FieldValue {}, FieldValue {}, FieldValue {} }, { qint64(3), 0.5, QString() } },
            { { "RecNo", "RecNo" }, { "MeaValue", "MeaValue" }, { "Date", "Date" } },
            bof() + label(0, 3, "") + label(1, 0, "RecNo") + label(1, 1, "MeaValue") + label(1, 2, "Date") + blank(2, 0)
                + blank(2, 1) + blank(2, 2) + rk(3, 0, 14) + number(3, 1, 0.5) + label(3, 2, "") + eof() },
        { "the grid's order moves the fields; large objects are empty labels; the title name sits in row 0, "
          "column 3",
            { { "RecNo", FieldType::Integer }, { "Memo", FieldType::Memo }, { "Weight", FieldType::String } },
            { { qint64(7), QString("long notes"), QString("A") } },
            { { "Weight", "W" }, { "Memo", "M" }, { "RecNo", "R" } },
            bof() + label(0, 3, "Run 7") + label(1, 0, "W") + label(1, 1, "M") + label(1, 2, "R") + label(2, 0, "A")
                + label(2, 1, "") + rk(2, 2, 30) + eof(),
            "Run 7" },
        { "one footer row: each shown column's footer beside the last, below the records",
            { { "RecNo", FieldType::Integer }, { "MeaValue", FieldType::String } }, { { qint64(1), QString("65.3") } },
            { { "RecNo", "RecNo", true, { "Max" } }, { "MeaValue", "MeaValue", true, { "65.3" } } },
            bof() + label(0, 3, "") + label(1, 0, "RecNo") + label(1, 1, "MeaValue") + rk(2, 0, 6) + label(2, 1, "65.3")
                + label(3, 0, "Max") + label(3, 1, "65.3") + eof(),
            "", 1 },
        { "several footer rows: each column's footers one below the other",
            { { "RecNo", FieldType::Integer }, { "MeaValue", FieldType::String } }, { { qint64(1), QString("65.3") } },
            { { "RecNo", "RecNo", true, { "Max", "Min" } }, { "MeaValue", "MeaValue", true, { "65.3" } } },
            bof() + label(0, 3, "") + label(1, 0, "RecNo") + label(1, 1, "MeaValue") + rk(2, 0, 6) + label(2, 1, "65.3")
                + label(3, 0, "Max") + label(4, 0, "Min") + label(3, 1, "65.3") + eof(),
            "", 2 },
        { "text in Latin-1, longer text cut at the 255 characters a cell holds", { { "Date", FieldType::String } },
            { { QString::fromUtf8("Zürich ½ 漢") }, { QString(300, QLatin1Char('x')) } }, { { "Date", "Date" } },
            bof() + label(0, 3, "") + label(1, 0, "Date") + label(2, 0, "Z\xFCrich \xBD ?")
                + label(3, 0, QByteArray(255, 'x')) + eof() },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(exportBytes(test).toHex(' ').toStdString(), test.expected.toHex(' ').toStdString());
    }
}

} // namespace
