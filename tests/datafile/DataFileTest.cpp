#include "datafile/DataFile.h"
#include "core/WholeFileWriter.h"
#include "datafile/StagingFile.h"
#include "store/SqliteReadingStore.h"
#include "support/ScopedFileSizeLimit.h"
#include "support/TestFiles.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <cmath>
#include <memory>

namespace {

using testing::ElementsAre;
using testing::HasSubstr;

std::vector<ReadingRow> allRows(const ReadingTable& table)
{
    std::vector<ReadingRow> rows;
    table.forEachRow([&](const ReadingRow& row) { rows.push_back(row); });
    return rows;
}

class DataFileTest : public testing::Test {
protected:
    QTemporaryDir dir;
    SqliteReadingStore store { dir.filePath(QStringLiteral("Decimora.mdb")) };
    QString programFolder = dir.path();

    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    struct Load {
        std::optional<DataFileLoad> result;
        std::vector<qint64> opened;
        std::vector<double> readings;
        int appending = 0;
    };
    // Saves the table on a disk that is full once a file reaches limit bytes; the error's text.
    static std::optional<QString> saveOnAFullDisk(const ReadingTable& table, const QString& file, rlim_t limit)
    {
        const ScopedFileSizeLimit fullDisk(limit);
        try {
            WriteDataFile(table, file);
        } catch (const FileWriteError& e) {
            return e.text();
        }
        return std::nullopt;
    }

    // Loads a file into LoadData as the analysis window does, recording what the window is told.
    Load load(const QString& file)
    {
        StagingFileLease staging = StagingFileLease::acquire(programFolder, QStringLiteral("loading a data file"));
        Load load;
        DataFileLoadHooks hooks;
        hooks.opened = [&](qint64 count) { load.opened.push_back(count); };
        hooks.reading = [&](double value) { load.readings.push_back(value); };
        hooks.appending = [&] { ++load.appending; };
        load.result = LoadDataFile(file, store.loadData(), staging, hooks);
        return load;
    }
};

TEST_F(DataFileTest, WritesTheHeaderTheCountAndFixedWidthLines)
{
    ReadingTable& table = store.getRecorde();
    table.appendRow({ "0", "100.0", "A", "9:5:30", "5/12/2006" });
    table.appendRow({ "1", "0.5", "C", "23:59:59", "12/31/2026" });
    // Texts longer than their column are written whole.
    table.appendRow({ "2", "65.3", "A", "2:30:15 PM", "2026. 12. 09." });

    WriteDataFile(table, path("run1.dmr"));

    EXPECT_EQ(readFile(path("run1.dmr")),
        "@Zentrobasis Decimora File\r\n"
        "Total:3\r\n"
        "5/12/2006 ,9:5:30  ,100.0 ,A\r\n"
        "12/31/2026,23:59:59,0.5   ,C\r\n"
        "2026. 12. 09.,2:30:15 PM,65.3  ,A\r\n");
}

TEST_F(DataFileTest, AFailedSaveLeavesThePreviousFileAndSaysWhy)
{
    const QByteArray previous = "@Zentrobasis Decimora File\r\nTotal:1\r\n5/12/2006 ,9:5:30  ,65.3  ,A\r\n";
    writeFile(path("run1.dmr"), previous);
    for (int i = 0; i < 2000; ++i)
        store.meaData().appendRow({ QString::number(i + 1), "70.1", "A", "14:30:15", "12/9/2026" });

    const std::optional<QString> error = saveOnAFullDisk(store.meaData(), path("run1.dmr"), 4096);

    ASSERT_TRUE(error.has_value());
    EXPECT_THAT(error->toStdString(), HasSubstr("run1.dmr"));
    EXPECT_THAT(error->toStdString(), HasSubstr("File too large"));
    EXPECT_EQ(readFile(path("run1.dmr")), previous);
    EXPECT_EQ(QDir(dir.path()).entryList({ "*run1*" }, QDir::Files | QDir::Hidden), QStringList({ "run1.dmr" }));
}

TEST_F(DataFileTest, ACountLineSmallerThanTheFileLoadsEveryLineNumberedOnFromTheTable)
{
    for (int i = 1; i <= 3; ++i)
        store.loadData().appendRow({ QString::number(i), "50.0", "A", "8:0:0", "1/2/2026" });
    QByteArray content = "@Zentrobasis Decimora File\r\nTotal:5\r\n";
    for (int i = 0; i < 8; ++i)
        content += "5/12/2006 ,9:5:3" + QByteArray::number(i) + " ," + QByteArray::number(60 + i) + ".5  ,C\r\n";
    writeFile(path("eight.dmr"), content);

    const Load loaded = load(path("eight.dmr"));

    ASSERT_TRUE(loaded.result.has_value());
    EXPECT_EQ(loaded.result->declaredCount, 5);
    EXPECT_EQ(loaded.result->firstRecNo, 4);
    EXPECT_EQ(loaded.result->lastRecNo, 11);
    EXPECT_THAT(loaded.opened, ElementsAre(5));
    EXPECT_THAT(loaded.readings, ElementsAre(60.5, 61.5, 62.5, 63.5, 64.5, 65.5, 66.5, 67.5));
    EXPECT_EQ(loaded.appending, 1);
    const std::vector<ReadingRow> rows = allRows(store.loadData());
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows[3], (ReadingRow { "4", "60.5", "C", "9:5:30", "5/12/2006" }));
    EXPECT_EQ(rows[10], (ReadingRow { "11", "67.5", "C", "9:5:37", "5/12/2006" }));
}

TEST_F(DataFileTest, LiveReadingsWithLongDateAndTimeTextsReadBackAsTheyWereSaved)
{
    const std::vector<ReadingRow> live {
        { "1", "65.3", "A", "2:30:15 PM", "2026. 12. 09." },
        { "2", "100.0", "C", "2:30:16 PM", "2026. 12. 09." },
    };
    for (const ReadingRow& row : live)
        store.meaData().appendRow(row);
    WriteDataFile(store.meaData(), path("live.dmr"));

    const Load loaded = load(path("live.dmr"));

    EXPECT_THAT(loaded.readings, ElementsAre(65.3, 100.0));
    EXPECT_EQ(allRows(store.loadData()), live);
}

TEST_F(DataFileTest, ALineFromShortTextsDecodesAsItsFixedColumns)
{
    const struct {
        const char* line;
        const char* staging;
        double value;
    } cases[] = {
        { "5/12/2006 ,9:5:30  ,65.3  ,A", "5/12/2006 ,9:5:30  ,65.3  ,A,121", 65.3 },
        // Edited by hand: the value field is padded again, the blank after the letter dropped.
        { "5/12/2006 ,9:5:30  ,100.0,C ", "5/12/2006 ,9:5:30  ,100.0 ,C,121", 100.0 },
        // Edited by hand: blanks and tabs around every field dropped, every column padded as written.
        { " 5/12/2006,\t9:5:30, 65.3 ,A", "5/12/2006 ,9:5:30  ,65.3  ,A,121", 65.3 },
    };
    for (const auto& c : cases) {
        QByteArray staging = "kept\r\n";
        const double value = DecodeDataLine(c.line, 121, staging);
        EXPECT_EQ(staging, QByteArray("kept\r\n") + c.staging);
        EXPECT_DOUBLE_EQ(value, c.value);
    }
}

TEST_F(DataFileTest, AFileThatIsNotADataFileIsNotLoadedAndNothingIsSaid)
{
    writeFile(path("caps.dmr"), "@ZENTROBASIS DECIMORA FILE\r\nTotal:1\r\n5/12/2006 ,9:5:30  ,65.3  ,A\r\n");

    const Load loaded = load(path("caps.dmr"));

    EXPECT_FALSE(loaded.result.has_value());
    EXPECT_TRUE(loaded.opened.empty());
    EXPECT_TRUE(loaded.readings.empty());
    EXPECT_TRUE(store.loadData().isEmpty());
}

TEST_F(DataFileTest, AFileWithAnUnreadableLineIsRefusedWithItsLineAndNothingIsAdded)
{
    const QByteArray head = "@Zentrobasis Decimora File\r\nTotal:3\r\n5/12/2006 ,9:5:30  ,65.3  ,A\r\n";
    const struct {
        QByteArray content;
        const char* message;
    } cases[] = {
        { head + "\r\n5/12/2006 ,9:5:32  ,65.3  ,A\r\n", "line 4: \"\"" },
        { head + "5/12/2006 ,9:5:31  ,loud  ,A\r\n", "line 4: \"loud\" is not a sound level" },
        { head + "5/12/2006 ,9:5:31  ,65    ,A\r\n", "line 4: \"65\" is not a sound level" },
        { head + "5/12/2006 ,9:5:31  ,65.3  ,\r\n", "line 4: \"5/12/2006 ,9:5:31  ,65.3  ,\" has no weighting" },
        { head + head, "line 4: \"@Zentrobasis Decimora File\"" },
        { head + QByteArray(10'000'000, 'x') + "\r\n",
            "line 4: \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...\" (10000000 bytes) is not "
            "date" },
        { "@Zentrobasis Decimora File\r\nTotal:0\r\n", "line 2: the count" },
        { "@Zentrobasis Decimora File\r\nTotal:many\r\n", "line 2: the count" },
        { "@Zentrobasis Decimora File\r\n", "line 2: the count" },
    };
    store.loadData().appendRow({ "1", "50.0", "A", "8:0:0", "1/2/2026" });
    for (const auto& c : cases) {
        writeFile(path("bad.dmr"), c.content);
        try {
            const Load loaded = load(path("bad.dmr"));
            ADD_FAILURE() << "loaded " << c.content.toStdString();
        } catch (const DataFileError& error) {
            EXPECT_THAT(error.what(), HasSubstr("bad.dmr, " + std::string(c.message)));
        }
        EXPECT_EQ(store.loadData().rowCount(), 1) << c.content.toStdString();
    }
    EXPECT_THROW(load(path("missing.dmr")), DataFileError);
}

TEST_F(DataFileTest, TheStagingFileServesOneOperationAtATime)
{
    StagingFileLease download = StagingFileLease::acquire(programFolder, QStringLiteral("a download from the meter"));
    download.recreate();
    download.writeLine(StagingLine("5/12/2006", "9:5:30", "65.3", "A", 0, 6));

    writeFile(path("other.dmr"), "@Zentrobasis Decimora File\r\nTotal:1\r\n1/1/2026  ,0:0:0   ,40.0  ,A\r\n");
    try {
        load(path("other.dmr"));
        ADD_FAILURE() << "a load took the staging file during a download";
    } catch (const StagingFileBusy& busy) {
        EXPECT_THAT(busy.what(), HasSubstr("in use by a download from the meter"));
    }

    download.writeLine(StagingLine("5/12/2006", "9:5:31", "100.0", "A", 1, 6));
    AppendStagingTable(download, store.getRecorde());
    EXPECT_THAT(allRows(store.getRecorde()),
        ElementsAre(ReadingRow { "0", "65.3", "A", "9:5:30", "5/12/2006" },
            ReadingRow { "1", "100.0", "A", "9:5:31", "5/12/2006" }));
    EXPECT_TRUE(store.loadData().isEmpty());

    {
        StagingFileLease released = std::move(download);
    }
    EXPECT_TRUE(load(path("other.dmr")).result.has_value());
}

TEST_F(DataFileTest, StagingRowsAreAppendedAfterTheTableRowsWithoutTheirPaddingBlanks)
{
    ReadingTable& table = store.loadData();
    table.appendRow({ "1", "40.2", "A", "14:30:15", "12/9/2026" });
    table.appendRow({ "2", "41.0", "A", "14:30:15", "12/9/2026" });
    StagingFileLease staging = StagingFileLease::acquire(programFolder, QStringLiteral("the test"));
    // The download pads the record number; a data file load does not.
    writeFile(staging.path(),
        "5/12/2006 ,9:5:30  ,65.3  ,A,3     \r\n"
        "5/12/2006 ,9:5:31  ,100.0 ,C,4\r\n"
        "12/31/2026,23:59:59,0.5   ,A,5\r\n");

    AppendStagingTable(staging, table);

    EXPECT_EQ(table.rowCount(), 5);
    EXPECT_THAT(allRows(table),
        ElementsAre(ReadingRow { "1", "40.2", "A", "14:30:15", "12/9/2026" },
            ReadingRow { "2", "41.0", "A", "14:30:15", "12/9/2026" },
            ReadingRow { "3", "65.3", "A", "9:5:30", "5/12/2006" },
            ReadingRow { "4", "100.0", "C", "9:5:31", "5/12/2006" },
            ReadingRow { "5", "0.5", "A", "23:59:59", "12/31/2026" }));
    const QVariant recNo = table.gridModel()->index(2, 0).data();
    EXPECT_EQ(recNo.typeId(), QMetaType::LongLong);
    EXPECT_EQ(recNo.toLongLong(), 3);
}

TEST_F(DataFileTest, AStagingFileWithABadLineAddsNothing)
{
    ReadingTable& table = store.getRecorde();
    StagingFileLease staging = StagingFileLease::acquire(programFolder, QStringLiteral("the test"));
    EXPECT_THROW(AppendStagingTable(staging, table), DataFileError) << "the staging file is missing";
    const struct {
        const char* content;
        const char* reason;
    } cases[] = {
        { "5/12/2006 ,9:5:30  ,65.3  ,A,0\r\n5/12/2006 ,9:5:31  ,65.4  ,A,x1\r\n",
            "line 2: the record number \"x1\" is not a whole number" },
        { "5/12/2006 ,9:5:30  ,65.3  ,A,0\r\n5/12/2006 ,9:5:31  ,65.4  ,A\r\n", "line 2: a staging row has five" },
        { "5/12/2006 ,9:5:30  ,65.3  ,A,0,7\r\n", "line 1: a staging row has five" },
    };
    for (const auto& c : cases) {
        writeFile(staging.path(), c.content);
        try {
            AppendStagingTable(staging, table);
            ADD_FAILURE() << "accepted " << c.content;
        } catch (const DataFileError& error) {
            EXPECT_THAT(error.what(), HasSubstr("AsciiDBF.TXT, " + std::string(c.reason)));
        }
        EXPECT_EQ(table.rowCount(), 0);
    }

    SqliteReadingStore reopened(path("Decimora.mdb"));
    EXPECT_TRUE(reopened.getRecorde().isEmpty());
}

TEST_F(DataFileTest, ADateInAnyScriptTakesTheSameColumnsInTheStagingFileAndInADataFile)
{
    // The columns count characters: a text of several bytes or of two UTF-16 units per character pads
    // like its ASCII twin.
    const struct {
        const char* date;
        const char* time;
        const char* line;
    } cases[] = {
        { "9/12/2026", "9:5:30", "9/12/2026 ,9:5:30  ,65.3  ,A" },
        { "९/१२/२०२६", "٩:٥:٣٠", "९/१२/२०२६ ,٩:٥:٣٠  ,65.3  ,A" },
        { "𝟗/𝟏𝟐/𝟐𝟎𝟐𝟔", "𝟗:𝟓:𝟑𝟎", "𝟗/𝟏𝟐/𝟐𝟎𝟐𝟔 ,𝟗:𝟓:𝟑𝟎  ,65.3  ,A" },
    };
    for (const auto& c : cases) {
        const ReadingRow row { "1", "65.3", "A", QString::fromUtf8(c.time), QString::fromUtf8(c.date) };
        const QByteArray line = c.line;
        store.meaData().empty();
        store.meaData().appendRow(row);
        store.loadData().empty();

        EXPECT_EQ(StagingLine(row.date, row.time, row.meaValue, row.weight, 1), line + ",1") << c.line;
        WriteDataFile(store.meaData(), path("script.dmr"));
        EXPECT_EQ(readFile(path("script.dmr")), "@Zentrobasis Decimora File\r\nTotal:1\r\n" + line + "\r\n");
        EXPECT_TRUE(load(path("script.dmr")).result.has_value()) << c.line;
        EXPECT_EQ(readFile(path("AsciiDBF.TXT")), line + ",1\r\n") << c.line;
        EXPECT_THAT(allRows(store.loadData()), ElementsAre(row)) << c.line;
    }
}

// A run long enough to be written out and read back on several cores and in several blocks, with
// date texts longer than their column and texts of several bytes per character here and there.
class LargeDataFileTest : public DataFileTest {
protected:
    static constexpr int Rows = 200'000;

    static QString date(int i)
    {
        if (i % 1000 == 7)
            return QStringLiteral("Wednesday 9 December 2026");
        return i % 1000 == 8 ? QStringLiteral("2026年12月9日") : QStringLiteral("12/9/2026");
    }
    static QString time(int i) { return QStringLiteral("%1:%2:%3").arg(i / 3600 % 24).arg(i / 60 % 60).arg(i % 60); }
    static QString value(int i) { return QStringLiteral("%1.%2").arg(30 + i % 100).arg(i % 10); }
    static QString weight(int i) { return i % 3 ? QStringLiteral("A") : QStringLiteral("C"); }
    static QByteArray line(int i)
    {
        return QStringLiteral("%1,%2,%3,%4")
            .arg(date(i), -10)
            .arg(time(i), -8)
            .arg(value(i), -6)
            .arg(weight(i))
            .toUtf8();
    }

    void SetUp() override
    {
        StagingFileLease staging = StagingFileLease::acquire(programFolder, QStringLiteral("the test"));
        staging.recreate();
        for (int i = 0; i < Rows; ++i)
            staging.writeLine(StagingLine(date(i), time(i), value(i), weight(i), i + 1));
        AppendStagingTable(staging, store.meaData());
    }
};

TEST_F(LargeDataFileTest, ALongRunIsSavedAndLoadedBackWholeAndInOrder)
{
    WriteDataFile(store.meaData(), path("long.dmr"));

    QByteArray expected = "@Zentrobasis Decimora File\r\nTotal:200000\r\n";
    for (int i = 0; i < Rows; ++i)
        expected += line(i) + "\r\n";
    EXPECT_TRUE(readFile(path("long.dmr")) == expected) << "the saved file differs from the rows written one by one";

    const Load loaded = load(path("long.dmr"));
    ASSERT_TRUE(loaded.result.has_value());
    EXPECT_EQ(loaded.result->lastRecNo, Rows);
    ASSERT_EQ(loaded.readings.size(), std::size_t(Rows));
    for (int i = 0; i < Rows; i += 997)
        EXPECT_EQ(loaded.readings[std::size_t(i)], ValueFromText(value(i))) << "reading " << i;
    EXPECT_TRUE(allRows(store.loadData()) == allRows(store.meaData())) << "the loaded rows differ from the saved ones";
}

TEST_F(LargeDataFileTest, TheFirstUnreadableLineIsNamedWhereverItIs)
{
    std::vector<QByteArray> lines { "@Zentrobasis Decimora File", "Total:200000" };
    for (int i = 0; i < Rows; ++i)
        lines.push_back(line(i));
    const struct {
        std::vector<int> badLines;
        int named;
    } cases[] = {
        { { 3 }, 3 },
        { { 70'000 }, 70'000 },
        { { 150'000, 190'000 }, 150'000 },
        { { 190'000, 100'000 }, 100'000 },
        { { Rows + 2 }, Rows + 2 },
    };
    store.loadData().appendRow({ "1", "50.0", "A", "8:0:0", "1/2/2026" });
    for (const auto& c : cases) {
        std::vector<QByteArray> content = lines;
        for (int bad : c.badLines)
            content[std::size_t(bad - 1)].replace(',', ';');
        QByteArray file;
        for (const QByteArray& text : content)
            file += text + "\r\n";
        file.chop(2); // the last line without its line end
        writeFile(path("bad.dmr"), file);

        try {
            load(path("bad.dmr"));
            ADD_FAILURE() << "loaded a file with line " << c.named << " unreadable";
        } catch (const DataFileError& error) {
            EXPECT_THAT(error.what(), HasSubstr("bad.dmr, line " + std::to_string(c.named) + ": "));
        }
        EXPECT_EQ(store.loadData().rowCount(), 1);
        EXPECT_EQ(readFile(path("AsciiDBF.TXT")), "");
    }
}

TEST_F(LargeDataFileTest, ProgressIsToldBlockByBlockBeforeAnythingIsTakenAndCanCallTheLoadOff)
{
    WriteDataFile(store.meaData(), path("long.dmr"));
    store.loadData().appendRow({ "1", "50.0", "A", "8:0:0", "1/2/2026" });
    StagingFileLease staging = StagingFileLease::acquire(programFolder, QStringLiteral("the test"));

    struct Told {
        qint64 linesRead;
        qint64 count;
        int readingsBefore;
    };
    std::vector<Told> told;
    int readings = 0;
    DataFileLoadHooks hooks;
    hooks.reading = [&](double) { ++readings; };
    hooks.progress = [&](qint64 linesRead, qint64 count) { told.push_back({ linesRead, count, readings }); };
    ASSERT_TRUE(LoadDataFile(path("long.dmr"), store.loadData(), staging, hooks).has_value());

    ASSERT_GE(told.size(), 2U) << "a file of several blocks tells more than its end";
    for (std::size_t i = 0; i < told.size(); ++i) {
        EXPECT_EQ(told[i].count, Rows);
        EXPECT_EQ(told[i].readingsBefore, 0) << "progress comes while the file is only being read";
        if (i > 0) {
            EXPECT_GT(told[i].linesRead, told[i - 1].linesRead);
        }
    }
    EXPECT_EQ(told.back().linesRead, Rows);
    EXPECT_EQ(store.loadData().rowCount(), 1 + Rows);

    // Called off at the first block: nothing more is heard of the file and nothing reaches the table.
    struct CalledOff { };
    told.clear();
    readings = 0;
    hooks.progress = [&](qint64 linesRead, qint64 count) {
        told.push_back({ linesRead, count, readings });
        throw CalledOff();
    };
    EXPECT_THROW(LoadDataFile(path("long.dmr"), store.loadData(), staging, hooks), CalledOff);
    EXPECT_EQ(told.size(), 1U);
    EXPECT_EQ(readings, 0);
    EXPECT_EQ(store.loadData().rowCount(), 1 + Rows);
}

TEST_F(LargeDataFileTest, ADiskFullHalfWayLeavesThePreviousFile)
{
    const QByteArray previous = "@Zentrobasis Decimora File\r\nTotal:1\r\n5/12/2006 ,9:5:30  ,65.3  ,A\r\n";
    writeFile(path("long.dmr"), previous);

    const std::optional<QString> error = saveOnAFullDisk(store.meaData(), path("long.dmr"), 1 << 20);

    ASSERT_TRUE(error.has_value());
    EXPECT_THAT(error->toStdString(), HasSubstr("File too large"));
    EXPECT_EQ(readFile(path("long.dmr")), previous);
    EXPECT_EQ(QDir(dir.path()).entryList({ "*long*" }, QDir::Files | QDir::Hidden), QStringList({ "long.dmr" }));
}

TEST(DataFileName, DotDmrIsAppendedOnlyToAPathWithoutAnyDot)
{
    const struct {
        const char* chosen;
        const char* written;
    } cases[] = {
        { "/home/ann/readings/run1", "/home/ann/readings/run1.dmr" },
        { "/home/ann/my.data/run1", "/home/ann/my.data/run1" },
        { "/home/ann/readings/run1.DMR", "/home/ann/readings/run1.DMR" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(DataFilePathForSave(QString::fromLatin1(c.chosen)), c.written);
}

TEST(ValueFromText, ReadsWholeDecibelsAndTheLastCharacterAsTenths)
{
    const struct {
        const char* text;
        double value; // NaN: no value
        bool isReading;
    } cases[] = {
        { "65.3", 65.3, true },
        { "100.0", 100.0, true },
        { "0.5", 0.5, true },
        { "7.0", 7.0, true },
        { "65,3", 65.3, false },
        { "65.35", NAN, false },
        { "5", NAN, false },
        { "", NAN, false },
        { "ab.c", NAN, false },
        { " 65.3", 65.3, false },
    };
    for (const auto& c : cases) {
        const QString text = QString::fromLatin1(c.text);
        const double value = ValueFromText(text);
        if (std::isnan(c.value))
            EXPECT_TRUE(std::isnan(value)) << c.text;
        else
            EXPECT_DOUBLE_EQ(value, c.value) << c.text;
        EXPECT_EQ(ValueFromTextChecked(text).has_value(), c.isReading) << c.text;
    }
    EXPECT_EQ(ValueFromText(u"65.3"), 65.3);
}

} // namespace
