// File > Export to Excel on the active readings window: the sheet, its questions and failures.

#include "ProgramCopy.h"
#include "output/DBGridToExcel.h"
#include "shell/ExportProgressWindow.h"
#include "support/ScopedFileSizeLimit.h"
#include "support/TestFiles.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>

#include <cstring>

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

// File > Export to Excel

// The records of a BIFF worksheet stream, one text each: "row,col LABEL text", "row,col RK n",
// "row,col NUMBER x", "row,col BLANK xf", "BOF", "EOF".
QStringList sheetRecords(const QByteArray& bytes)
{
    const auto u16 = [&](qsizetype at) { return quint32(quint8(bytes[at])) | (quint32(quint8(bytes[at + 1])) << 8); };
    QStringList records;
    qsizetype at = 0;
    while (at + 4 <= bytes.size()) {
        const quint32 id = u16(at);
        const qsizetype data = at + 4;
        const qsizetype end = data + u16(at + 2);
        if (end > bytes.size()) {
            records << QStringLiteral("cut short");
            break;
        }
        const QString cell = end - data >= 4 ? QStringLiteral("%1,%2 ").arg(u16(data)).arg(u16(data + 2)) : QString();
        if (id == 0x0809) {
            records << QStringLiteral("BOF");
        } else if (id == 0x000A) {
            records << QStringLiteral("EOF");
        } else if (id == 0x0204) {
            records << cell + QStringLiteral("LABEL ") + QString::fromLatin1(bytes.mid(data + 8, u16(data + 6)));
        } else if (id == 0x027E) {
            const auto rk = qint32(u16(data + 6) | (u16(data + 8) << 16));
            records << cell + QStringLiteral("RK %1").arg(rk >> 2);
        } else if (id == 0x0203) {
            double value = 0;
            std::memcpy(&value, bytes.constData() + data + 6, sizeof value);
            records << cell + QStringLiteral("NUMBER %1").arg(value);
        } else if (id == 0x0201) {
            records << cell + QStringLiteral("BLANK %1").arg(u16(data + 4));
        } else {
            records << QStringLiteral("record %1").arg(id, 4, 16, QLatin1Char('0'));
        }
        at = end;
    }
    return records;
}

// The sheet the export makes of a table: an empty title at row 0, column 3, the five column titles in
// row 1, then one row per reading, the table's Unit column (where it has one) a blank after the five.
QStringList expectedSheet(const ReadingTable& table, bool unitColumn)
{
    QStringList records { "BOF", "0,3 LABEL ", "1,0 LABEL RecNo", "1,1 LABEL MeaValue", "1,2 LABEL Weight",
        "1,3 LABEL Time", "1,4 LABEL Date" };
    int row = 2;
    table.forEachRow([&](const ReadingRow& reading) {
        const QString at = QString::number(row++) + QLatin1Char(',');
        records << at + "0 RK " + reading.recNo << at + "1 LABEL " + reading.meaValue
                << at + "2 LABEL " + reading.weight << at + "3 LABEL " + reading.time << at + "4 LABEL " + reading.date;
        if (unitColumn)
            records << at + "5 BLANK 23";
    });
    return records << "EOF";
}

QString exportMessage(qint64 records, const QString& path)
{
    return QStringLiteral("Exported  %1  records total. \r").arg(records) + path;
}

QString replaceQuestion(const QString& path)
{
    return path + "  already exists!\rDo you want to replace it?";
}

TEST(MainWindow, ExportToExcelWritesTheActiveWindowsTableAndSaysHowManyRecords)
{
    struct Case {
        const char* window;
        std::function<void(ProgramCopy&)> arrange;
        ReadingTable* TForm6::*table;
        bool unitColumn;
        bool fileExists; // answered Yes
    };
    const Case cases[] = {
        { "Form5",
            [](ProgramCopy& c) {
                c.frame->RealTimeMeasure1->trigger();
                ASSERT_TRUE(c.test.connect());
                c.measurementWindow()->StartButtonClick();
                for (int i = 0; i < 3; ++i)
                    c.takeReading();
                c.measurementWindow()->StopButtonClick();
            },
            &TForm6::MeaData, true, true },
        { "Form4",
            [](ProgramCopy& c) {
                c.frame->ImportData1->trigger();
                ASSERT_TRUE(c.test.connect());
                c.test.meter.setLoggedMemory(
                    { 0xFD, 0x00, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0x0A, 0x51, 0xA5, 0x7A, 0xFF });
                qobject_cast<TForm4*>(c.module().ImportWindow.data())->ImportButtonClick();
            },
            &TForm6::GetRecorde, false, false },
        { "Form7",
            [](ProgramCopy& c) {
                c.frame->Open1->trigger();
                c.module().LoadData->appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });
                c.module().LoadData->appendRow({ "2", "48.0", "C", "9:5:30", "5/12/2006" });
            },
            &TForm6::LoadData, true, true },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.window);
        QTemporaryDir data;
        ProgramCopy copy(data.path(), true, {}, ProgramCopy::ImportWindow::Real);
        ASSERT_TRUE(copy.start());
        test.arrange(copy);
        copy.frame->Timer1Timer();
        ASSERT_EQ(copy.frame->ActiveChild()->objectName(), test.window);
        ASSERT_TRUE(copy.frame->ExporttoExcel1->isEnabled());
        const ReadingTable& table = *(copy.module().*test.table);
        const QString path = copy.test.folder.filePath("readings.xls");
        if (test.fileExists)
            writeFile(path, "an older sheet");
        copy.test.ui.saveFileNames.push_back(path);
        copy.test.ui.answers.push_back(MessageAnswer::Yes);

        copy.frame->ExporttoExcel1->trigger();

        ASSERT_EQ(copy.test.ui.saveDialogs.size(), 1U);
        EXPECT_EQ(copy.test.ui.saveDialogs[0].filter, "*.XLS|*.XLS|*.xls|*.xls|*.xlsx|*.xlsx|*.csv|*.csv");
        EXPECT_EQ(copy.test.ui.saveDialogs[0].defaultExtension, "XLS");
        EXPECT_EQ(sheetRecords(readFile(path)), expectedSheet(table, test.unitColumn));
        const auto& messages = copy.test.ui.messages;
        ASSERT_EQ(messages.size(), test.fileExists ? 2U : 1U);
        if (test.fileExists) {
            EXPECT_EQ(messages[0].text, replaceQuestion(path));
            EXPECT_EQ(messages[0].caption, "Query  Information");
            EXPECT_EQ(messages[0].buttons, MessageButtons::YesNo);
            EXPECT_EQ(messages[0].icon, MessageIcon::Question);
        }
        EXPECT_EQ(messages.back().text, exportMessage(table.rowCount(), path));
        EXPECT_EQ(messages.back().caption, "Export Data");
        EXPECT_EQ(messages.back().buttons, MessageButtons::Ok);
        EXPECT_EQ(messages.back().icon, MessageIcon::Information);
        EXPECT_EQ(copy.module().LastErrorText, exportMessage(table.rowCount(), path));
    }
}

// The .xlsx's Statistics sheet counts the readings above the high alarm level set in the program,
// as openpyxl (Debian's /usr/bin/python3) reads the file.
TEST(MainWindow, AnXlsxExportCountsTheReadingsAboveTheAlarmLevelTheUserSet)
{
    if (!HasOpenpyxl())
        GTEST_SKIP() << "Debian's /usr/bin/python3 with openpyxl (python3-openpyxl) is needed to read the .xlsx";

    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    copy.test.meter.queueReadings({ 500, 700, 900 });
    takeThreeReadings(copy);
    copy.module().SystemHighAlarm = 60.0;
    const QString path = copy.test.folder.filePath("levels.xlsx");
    copy.test.ui.saveFileNames.push_back(path);
    copy.frame->ExporttoExcel1->trigger();
    ASSERT_TRUE(QFile::exists(path)) << copy.messageTexts().join('|').toStdString();

    const QStringList rows = XlsxSheetRows(path, QStringLiteral("Statistics"));
    EXPECT_TRUE(rows.contains("'Readings above 60 dB (A)'|2.0|")) << rows.join('\n').toStdString();
}

TEST(MainWindow, AnsweringNoAtTheReplaceQuestionLeavesTheFileByteForByte)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    takeThreeReadings(copy);
    const QString path = copy.test.folder.filePath("readings.XLS");
    const QByteArray old = QByteArray::fromHex("0908080000001000000000000a000000");
    writeFile(path, old);
    copy.test.ui.saveFileNames.push_back(path);
    copy.test.ui.answers.push_back(MessageAnswer::No);

    copy.frame->ExporttoExcel1->trigger();

    EXPECT_EQ(readFile(path), old);
    EXPECT_THAT(copy.messageTexts(), ElementsAre(replaceQuestion(path)));
    EXPECT_THAT(QDir(copy.test.folder.path()).entryList({ "*readings*" }, QDir::Files | QDir::Hidden),
        ElementsAre("readings.XLS"));
}

// The analysis window with nothing loaded exports an empty table. The user agreed to replace the
// file: the old one goes, an empty table writes none, and the message counts 0 records, in every
// format.
TEST(MainWindow, ExportingAnEmptyTableOverAnExistingFileRemovesItAndCountsNoRecords)
{
    const char* names[] = { "empty.XLS", "empty.xlsx", "empty.csv" };
    for (const char* name : names) {
        SCOPED_TRACE(name);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        ASSERT_TRUE(copy.start());
        copy.test.ui.openFileNames.push_back(QString());
        copy.frame->Open1->trigger();
        ASSERT_EQ(copy.module().LoadData->rowCount(), 0);
        const QString path = copy.test.folder.filePath(QString::fromLatin1(name));
        writeFile(path, "an older sheet");
        copy.test.ui.saveFileNames.push_back(path);
        copy.test.ui.answers.push_back(MessageAnswer::Yes);

        copy.frame->Timer1Timer();
        ASSERT_TRUE(copy.frame->ExporttoExcel1->isEnabled());
        copy.frame->ExporttoExcel1->trigger();

        EXPECT_FALSE(QFileInfo::exists(path));
        EXPECT_THAT(copy.messageTexts(), ElementsAre(replaceQuestion(path), exportMessage(0, path)));
        EXPECT_THAT(QDir(copy.test.folder.path()).entryList({ "*empty*" }, QDir::Files | QDir::Hidden), IsEmpty());
    }
}

TEST(MainWindow, AnExportThatCannotBeWrittenSaysWhyAndNothingOfRecordsAndKeepsTheOldFile)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    takeThreeReadings(copy);
    const QString path = copy.test.folder.filePath("readings.xls");
    writeFile(path, "an older sheet");
    copy.test.ui.saveFileNames.push_back(path);
    copy.test.ui.answers.push_back(MessageAnswer::Yes);

    // A disk that is full once a file reaches 100 bytes; the sheet of three readings takes more.
    {
        const ScopedFileSizeLimit fullDisk(100);
        copy.frame->ExporttoExcel1->trigger();
    }

    EXPECT_EQ(readFile(path), "an older sheet");
    const auto& messages = copy.test.ui.messages;
    ASSERT_EQ(messages.size(), 2U);
    EXPECT_EQ(messages[1].text, "Cannot write " + path + ": File too large");
    EXPECT_EQ(messages[1].caption, "Error Information");
    EXPECT_EQ(messages[1].icon, MessageIcon::Error);
}

TEST(MainWindow, ATableTooLongForXlsIsRefusedWithTheLimitAndGoesToXlsx)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    copy.frame->RealTimeMeasure1->trigger();
    qint64 appended = 0;
    copy.module().MeaData->appendRows([&](RowToAppend& row) {
        if (appended == 65535)
            return false;
        row.recNo = ++appended;
        row.text = { "65.3", "A", "14:30:15", "12/9/2026" };
        return true;
    });
    copy.frame->Timer1Timer();
    const QString xls = copy.test.folder.filePath("long.xls");
    const QString xlsx = copy.test.folder.filePath("long.xlsx");
    copy.test.ui.saveFileNames = { xls, xlsx };

    copy.frame->ExporttoExcel1->trigger();

    EXPECT_FALSE(QFile::exists(xls));
    ASSERT_EQ(copy.test.ui.messages.size(), 1U);
    EXPECT_EQ(copy.test.ui.messages[0].text,
        "65,535 records do not fit in an .xls file: its sheet holds at most 65,536 rows, and these would take 65,537 "
        "with the title and the column titles.\rChoose *.xlsx in the Save dialog to export them all.");
    EXPECT_EQ(copy.test.ui.messages[0].caption, "Error Information");

    copy.frame->ExporttoExcel1->trigger();

    EXPECT_TRUE(readFile(xlsx).startsWith("PK"));
    ASSERT_EQ(copy.test.ui.messages.size(), 2U);
    EXPECT_EQ(copy.test.ui.messages[1].text, exportMessage(65535, xlsx));
}

TEST(MainWindow, TheExportProgressWindowShowsItsTextAndGaugeWhileAWriterAskedForItWrites)
{
    const std::unique_ptr<ExportProgress> shown = ShowExportProgressWindow(5);
    auto* window = dynamic_cast<ExportProgressWindow*>(shown.get());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->size(), QSize(300, 100));
    EXPECT_EQ(window->geometry().center(), QGuiApplication::primaryScreen()->geometry().center());
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(window->font().family(), QString::fromUtf8("宋体"));
    EXPECT_EQ(window->font().pointSize(), 9);
    EXPECT_EQ(window->Panel()->geometry(), QRect(1, 1, 298, 98));
    EXPECT_EQ(window->Label()->text(), QString::fromUtf8("正在导出数据，请稍候......"));
    EXPECT_TRUE(window->Label()->font().bold());
    EXPECT_EQ(window->Label()->pos(), QPoint(25, 25));
    EXPECT_EQ(window->Gauge()->geometry(), QRect(20, 50, 260, 13));
    EXPECT_EQ(window->Gauge()->minimum(), 0);
    EXPECT_EQ(window->Gauge()->maximum(), 5);
    window->setPosition(3);
    EXPECT_EQ(window->Gauge()->value(), 3);

    // A writer asked to show progress shows this window, runs its gauge to the record count, and
    // frees it when done.
    QTemporaryDir dir;
    SqliteReadingStore store(dir.filePath("Decimora.mdb"));
    for (int i = 1; i <= 4; ++i)
        store.meaData().appendRow({ QString::number(i), "65.3", "A", "14:30:15", "12/9/2026" });
    ReadingTableDataSet dataSet(store.meaData());
    const GridDescription grid = ReadingsGridDescription(dataSet);
    QPointer<ExportProgressWindow> during;
    int lastValue = -1;
    ExportSheetHooks hooks;
    hooks.showProgress = [&](qint64 recordCount) {
        std::unique_ptr<ExportProgress> progress = ShowExportProgressWindow(recordCount);
        during = dynamic_cast<ExportProgressWindow*>(progress.get());
        QObject::connect(during->Gauge(), &QProgressBar::valueChanged, [&](int value) { lastValue = value; });
        return progress;
    };
    TDBGridToExcel writer(hooks);
    writer.DBGrid = &grid;
    writer.FileName = dir.filePath("out.xls");
    writer.ExportSheet();

    EXPECT_EQ(lastValue, 4);
    EXPECT_TRUE(during.isNull());
    EXPECT_TRUE(QFile::exists(writer.FileName));
}

} // namespace
