// ExportSheet around the sheet: when it writes nothing, the overwrite question, the column sync left
// on the data set, the progress window, and the failures it reports instead of dropping.

#include "MemoryDataSet.h"
#include "core/DecimoraError.h"
#include "output/DBGridToExcel.h"
#include "support/ScopedFileSizeLimit.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace {

using testing::ElementsAre;
using testing::HasSubstr;

MemoryDataSet readings(int count)
{
    std::vector<std::vector<FieldValue>> records;
    for (int i = 1; i <= count; ++i)
        records.push_back({ qint64(i), QString("65.3"), QString("A") });
    return MemoryDataSet(
        { { "RecNo", FieldType::Integer }, { "MeaValue", FieldType::String }, { "Weight", FieldType::String } },
        std::move(records));
}

GridDescription gridOf(ExportDataSet& dataSet)
{
    GridDescription grid;
    grid.dataSet = &dataSet;
    for (const char* name : { "RecNo", "MeaValue", "Weight" })
        grid.columns.push_back(GridColumn { name, name, true, {} });
    return grid;
}

struct Asked {
    QString text;
    QString caption;
    MessageButtons buttons;
    MessageIcon icon;
};

QStringList filesIn(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
}

TEST(ExportSheet, WritesNothingWhenThereIsNothingToWriteOrTheUserKeepsTheFile)
{
    struct Case {
        const char* name;
        int records;
        bool open;
        const char* fileName; // relative to the folder; a blank one stays blank
        bool fileExists;
        std::optional<MessageAnswer> answer; // none: no way to ask
        bool written;
    };
    const Case cases[] = {
        { "a closed data set", 2, false, "out.xls", false, MessageAnswer::Yes, false },
        { "an empty data set", 0, true, "out.xls", false, MessageAnswer::Yes, false },
        { "a blank file name", 2, true, "   ", false, MessageAnswer::Yes, false },
        { "an existing file, answered No", 2, true, "out.xls", true, MessageAnswer::No, false },
        { "an existing file and no way to ask", 2, true, "out.xls", true, std::nullopt, false },
        { "an existing file, answered Yes", 2, true, "out.xls", true, MessageAnswer::Yes, true },
        { "a new file: nothing is asked", 2, true, "out.xls", false, std::nullopt, true },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        QTemporaryDir dir;
        MemoryDataSet dataSet = readings(test.records);
        dataSet.open = test.open;
        const GridDescription grid = gridOf(dataSet);
        const bool blankName = QByteArray(test.fileName).trimmed().isEmpty();
        const QString path = blankName ? QString::fromLatin1(test.fileName) : dir.filePath(test.fileName);
        const QByteArray old("an older sheet");
        if (test.fileExists)
            writeFile(path, old);

        std::vector<Asked> asked;
        ExportSheetHooks hooks;
        if (test.answer) {
            hooks.ask = [&](const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon) {
                asked.push_back({ text, caption, buttons, icon });
                return *test.answer;
            };
        }
        TDBGridToExcel writer(hooks);
        writer.ShowProgress = false;
        writer.DBGrid = &grid;
        writer.FileName = path;
        writer.ExportSheet();

        if (test.fileExists && test.answer) {
            ASSERT_EQ(asked.size(), 1U);
            EXPECT_EQ(asked[0].text, QString::fromUtf8("已存在文件（") + path + QString::fromUtf8("），是否覆盖？"));
            EXPECT_EQ(asked[0].caption, QString::fromUtf8("提示"));
            EXPECT_EQ(asked[0].buttons, MessageButtons::YesNo);
            EXPECT_EQ(asked[0].icon, MessageIcon::Question);
        } else {
            EXPECT_TRUE(asked.empty());
        }
        const QByteArray content = readFile(path);
        if (test.written) {
            EXPECT_TRUE(content.startsWith(QByteArray::fromHex("0908080000001000")));
            EXPECT_TRUE(content.endsWith(QByteArray::fromHex("0A000000")));
        } else if (test.fileExists) {
            EXPECT_EQ(content, old);
        }
        EXPECT_EQ(filesIn(dir).size(), test.fileExists || test.written ? 1 : 0);
        EXPECT_EQ(dataSet.suspended, 0);
    }
}

TEST(ExportSheet, LeavesTheFieldsAsTheColumnSyncMadeThemAndFailsOnAFieldTheDataSetLacks)
{
    QTemporaryDir dir;
    MemoryDataSet dataSet({ { "RecNo", FieldType::Integer }, { "Unit", FieldType::String },
                              { "Weight", FieldType::String }, { "Note", FieldType::String } },
        { { qint64(1), QString("dB"), QString("A"), QString("x") } });
    GridDescription grid;
    grid.dataSet = &dataSet;
    grid.columns
        = { { "weight", "Weighting", true, {} }, { "Note", "Note *****", true, {} }, { "RecNo", "No.", false, {} } };
    TDBGridToExcel writer;
    writer.ShowProgress = false;
    writer.DBGrid = &grid;
    writer.FileName = dir.filePath("out.xls");
    writer.ExportSheet();

    std::vector<std::tuple<QString, QString, bool>> fields;
    for (const TField& field : dataSet.fields())
        fields.emplace_back(field.FieldName, field.DisplayLabel, field.Visible);
    EXPECT_THAT(fields,
        ElementsAre(std::tuple(QString("Weight"), QString("Weighting"), true),
            std::tuple(QString("Note"), QString("Note *****"), false),
            std::tuple(QString("RecNo"), QString("No."), false), std::tuple(QString("Unit"), QString("Unit"), true)));

    grid.columns.push_back({ "Level", "Level", true, {} });
    const QString missing = dir.filePath("missing.xls");
    writer.FileName = missing;
    try {
        writer.ExportSheet();
        ADD_FAILURE() << "a column naming no field was exported";
    } catch (const SpreadsheetExportError& error) {
        EXPECT_EQ(error.text(), "Field 'Level' not found");
    }
    EXPECT_FALSE(QFile::exists(missing));
}

TEST(ExportSheet, ShowsTheHourglassAndTheProgressWindowOnlyWhileItWrites)
{
    struct Gauge final : ExportProgress {
        explicit Gauge(std::vector<qint64>& positions)
            : positions_(positions)
        {
        }
        ~Gauge() override { positions_.push_back(-1); }
        void setPosition(qint64 recordNumber) override { positions_.push_back(recordNumber); }
        std::vector<qint64>& positions_;
    };
    for (const bool showProgress : { true, false }) {
        SCOPED_TRACE(showProgress ? "ShowProgress" : "no ShowProgress");
        QTemporaryDir dir;
        MemoryDataSet dataSet = readings(3);
        const GridDescription grid = gridOf(dataSet);
        std::vector<QString> events;
        std::vector<qint64> positions;
        ExportSheetHooks hooks;
        hooks.busyCursor = [&](bool busy) { events.push_back(busy ? "hourglass" : "normal cursor"); };
        hooks.showProgress = [&](qint64 recordCount) {
            events.push_back(QStringLiteral("progress window for %1, file %2")
                                 .arg(recordCount)
                                 .arg(QFile::exists(dir.filePath("out.xls")) ? "exists" : "not yet created"));
            return std::make_unique<Gauge>(positions);
        };
        TDBGridToExcel writer(hooks);
        writer.ShowProgress = showProgress;
        writer.DBGrid = &grid;
        writer.FileName = dir.filePath("out.xls");
        writer.ExportSheet();

        if (showProgress) {
            EXPECT_THAT(
                events, ElementsAre("hourglass", "progress window for 3, file not yet created", "normal cursor"));
            EXPECT_THAT(positions, ElementsAre(1, 2, 3, -1));
        } else {
            EXPECT_THAT(events, ElementsAre("hourglass", "normal cursor"));
            EXPECT_TRUE(positions.empty());
        }
    }
}

// Everything of the file goes through these; each case must leave the old file as it was and no
// temporary file behind, and say why.
TEST(ExportSheet, AFileThatCannotBeWrittenIsReportedWithTheSystemsReasonAndTheOldFileStays)
{
    struct Case {
        const char* name;
        const char* fileName;
        rlim_t fileSizeLimit; // 0: none
        const char* reason;
    };
    const Case cases[] = {
        { ".xls on a full disk", "out.xls", 200, "File too large" },
        { ".xlsx on a full disk", "out.xlsx", 200, "File too large" },
        { ".csv on a full disk", "out.csv", 200, "File too large" },
        { ".xls in a folder that does not exist", "gone/out.xls", 0, "No such file or directory" },
        { ".xlsx in a folder that does not exist", "gone/out.xlsx", 0, "No such file or directory" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        QTemporaryDir dir;
        MemoryDataSet dataSet = readings(200);
        const GridDescription grid = gridOf(dataSet);
        const QString path = dir.filePath(test.fileName);
        const QByteArray old("an older sheet");
        if (test.fileSizeLimit)
            writeFile(path, old);
        TDBGridToExcel writer;
        writer.ShowProgress = false;
        writer.DBGrid = &grid;
        writer.FileName = path;
        writer.Format = SpreadsheetFormatOf(path);
        writer.AskBeforeReplacing = false;

        std::optional<QString> error;
        {
            std::optional<ScopedFileSizeLimit> fullDisk;
            if (test.fileSizeLimit)
                fullDisk.emplace(test.fileSizeLimit);
            try {
                writer.ExportSheet();
            } catch (const DecimoraError& e) {
                error = e.text();
            }
        }

        ASSERT_TRUE(error.has_value());
        EXPECT_THAT(error->toStdString(), HasSubstr(path.toStdString()));
        EXPECT_THAT(error->toStdString(), HasSubstr(test.reason));
        if (test.fileSizeLimit) {
            EXPECT_EQ(readFile(path), old);
            EXPECT_THAT(filesIn(dir), ElementsAre(QFileInfo(path).fileName()));
        } else {
            EXPECT_THAT(filesIn(dir), testing::IsEmpty());
        }
    }
}

// A cell's row is 16 bits in .xls: row 65,536 would land on the title. A sheet that would need it
// is refused before anything is written, and so is one that grows past it while it is written.
TEST(ExportSheet, ASheetLongerThanTheFormatHoldsIsRefusedAndNothingIsWritten)
{
    struct Case {
        const char* name;
        const char* fileName;
        qint64 records;
        qint64 claimedCount; // what the data set says before the walk; 0: the records
        bool written;
        const char* said;
    };
    const Case cases[] = {
        { ".xls: 65,534 records fill rows 2 to 65,535", "out.xls", 65534, 0, true, "" },
        { ".xls: 65,535 records would need row 65,536", "out.xls", 65535, 0, false,
            "65,535 records do not fit in an .xls file: its sheet holds at most 65,536 rows, and these would take "
            "65,537 with the title and the column titles.\rChoose *.xlsx in the Save dialog to export them all." },
        { ".xls: a table that grows past the limit while it is written", "out.xls", 65535, 65534, false,
            "holds at most 65,536 rows" },
        { ".xlsx: 1,048,575 records", "out.xlsx", 10, 1048575, false,
            "1,048,575 records do not fit in an .xlsx file: its sheet holds at most 1,048,576 rows, and these would "
            "take 1,048,577 with the title and the column titles.\rChoose *.csv in the Save dialog to export them "
            "all." },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        QTemporaryDir dir;
        std::vector<std::vector<FieldValue>> records;
        for (qint64 i = 1; i <= test.records; ++i)
            records.push_back({ i });
        MemoryDataSet dataSet({ { "RecNo", FieldType::Integer } }, std::move(records));
        dataSet.claimedCount = test.claimedCount;
        GridDescription grid;
        grid.dataSet = &dataSet;
        grid.columns = { { "RecNo", "RecNo", true, {} } };
        TDBGridToExcel writer;
        writer.ShowProgress = false;
        writer.DBGrid = &grid;
        writer.FileName = dir.filePath(test.fileName);
        writer.Format = SpreadsheetFormatOf(writer.FileName);

        std::optional<QString> error;
        try {
            writer.ExportSheet();
        } catch (const SpreadsheetExportError& e) {
            error = e.text();
        }

        EXPECT_EQ(!error.has_value(), test.written);
        if (error) {
            EXPECT_THAT(error->toStdString(), HasSubstr(test.said));
        }
        EXPECT_EQ(filesIn(dir).size(), test.written ? 1 : 0);
        if (test.written) {
            // The last record: RK 65,534 at row 65,535; then EOF.
            const QByteArray content = readFile(writer.FileName);
            EXPECT_EQ(
                content.right(18).toHex(' ').toStdString(), "7e 02 0a 00 ff ff 00 00 00 00 fa ff 03 00 0a 00 00 00");
        }
    }
}

TEST(ExportSheet, CsvIsRfc4180TextInUtf8UnderAHeaderLineOfTheShownColumns)
{
    QTemporaryDir dir;
    MemoryDataSet dataSet(
        { { "RecNo", FieldType::Integer }, { "Note", FieldType::String }, { "Secret", FieldType::String },
            { "Level", FieldType::Float }, { "Unit", FieldType::String } },
        { { qint64(1), QString("a, \"quoted\"\r\nnote"), QString("x"), 65.5, QString("dB") },
            { FieldValue {}, QString::fromUtf8("Zürich 漢"), QString("y"), FieldValue {}, FieldValue {} } });
    GridDescription grid;
    grid.dataSet = &dataSet;
    grid.columns = { { "RecNo", "No.", true, {} }, { "Note", "Note", true, {} }, { "Secret", "S*****", true, {} },
        { "Level", "Level|dB", true, {} }, { "Unit", "Unit", false, {} } };
    TDBGridToExcel writer;
    writer.ShowProgress = false;
    writer.DBGrid = &grid;
    writer.FileName = dir.filePath("out.csv");
    writer.Format = SpreadsheetFormat::Csv;
    writer.ExportSheet();

    EXPECT_EQ(readFile(writer.FileName).toStdString(),
        "No.,Note,S*****,Level dB\r\n"
        "1,\"a, \"\"quoted\"\"\r\nnote\",,65.5\r\n"
        ",Zürich 漢,,\r\n");
}

} // namespace
