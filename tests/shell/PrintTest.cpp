// File > Print Data Sheet and Printer Setup: the data sheet of the active window, and the printer the
// data sheet and the graphs print on.

#include "ProgramCopy.h"
#include "core/ReadingStatistics.h"
#include "core/SystemTexts.h"
#include "report/ReportEngine.h"
#include "support/PdfReading.h"
#include "support/TestFiles.h"
#include "widgets/GraphPanel.h"

#include <QPrinter>
#include <QPushButton>

#include <numeric>

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

// Print Data Sheet and Printer Setup

const QString DataSheetTitle = QStringLiteral("Sound Level Data Sheet");
const QStringList DataSheetColumnTitles { "No.", "Level (dB)", "Weighting", "Time", "Date" };

// Print Data Sheet on the active window, choosing a PDF file in the report's output dialog.
QString printDataSheetToPdf(ProgramCopy& copy)
{
    const QString path = copy.test.folder.filePath("data sheet.pdf");
    copy.test.ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, path });
    copy.frame->Timer1Timer();
    EXPECT_TRUE(copy.frame->PrintDataSheet1->isEnabled());
    copy.frame->PrintDataSheet1->trigger();
    return path;
}

std::vector<ReadingRow> rowsOf(const ReadingTable& table)
{
    std::vector<ReadingRow> rows;
    table.forEachRow([&](const ReadingRow& row) { rows.push_back(row); });
    return rows;
}

// Rows 1..count of the analysis table in one bulk append, as File > Open adds them.
void fillAnalysisTable(ProgramCopy& copy, int count)
{
    int i = 0;
    QByteArray meaValue;
    QByteArray time;
    copy.module().LoadData->appendRows([&](RowToAppend& row) {
        if (i == count)
            return false;
        ++i;
        meaValue = QByteArray::number(35.0 + (i * 7 % 950) / 10.0, 'f', 1);
        time = QStringLiteral("%1:%2:%3")
                   .arg(8 + i / 3600)
                   .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                   .arg(i % 60, 2, 10, QLatin1Char('0'))
                   .toUtf8();
        row.recNo = i;
        row.text = { meaValue, i % 5 == 0 ? "C" : "A", time, "12/9/2026" };
        return true;
    });
}

void openAnalysisWithReadings(ProgramCopy& copy, int count)
{
    copy.frame->Open1->trigger();
    ASSERT_EQ(copy.frame->ActiveChild()->objectName(), "Form7");
    fillAnalysisTable(copy, count);
}

// Measurement, import and analysis window each print their own table: the column titles, every row
// and the summary of the levels on one page, from the definition in the program's folder.
TEST(MainWindow, PrintDataSheetPutsTheActiveWindowsReadingsAndTheirSummaryOnAPage)
{
    struct Case {
        const char* window;
        ProgramCopy::ImportWindow importWindow;
        std::function<void(ProgramCopy&)> arrange;
        ReadingTable* TForm6::*table;
    };
    const Case cases[] = {
        { "Form5", ProgramCopy::ImportWindow::StandIn,
            [](ProgramCopy& c) {
                c.frame->RealTimeMeasure1->trigger();
                ASSERT_TRUE(c.test.connect());
                c.measurementWindow()->StartButtonClick();
                for (int i = 0; i < 3; ++i)
                    c.takeReading();
                c.measurementWindow()->StopButtonClick();
            },
            &TForm6::MeaData },
        { "Form4", ProgramCopy::ImportWindow::Real,
            [](ProgramCopy& c) {
                ASSERT_TRUE(c.test.connect());
                c.frame->ImportData1->trigger();
                c.test.meter.setLoggedMemory(
                    { 0xFD, 0x00, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0x0A, 0x51, 0xA5, 0x7A, 0xFF });
                qobject_cast<TForm4*>(c.module().ImportWindow.data())->ImportButtonClick();
            },
            &TForm6::GetRecorde },
        { "Form7", ProgramCopy::ImportWindow::StandIn, [](ProgramCopy& c) { openAnalysisWithReadings(c, 3); },
            &TForm6::LoadData },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.window);
        QTemporaryDir data;
        ProgramCopy copy(data.path(), true, {}, test.importWindow);
        ASSERT_TRUE(copy.start());
        test.arrange(copy);
        ASSERT_EQ(copy.frame->ActiveChild()->objectName(), test.window);
        const std::vector<ReadingRow> rows = rowsOf(*(copy.module().*test.table));
        ASSERT_GE(rows.size(), 2U);

        const PdfDocument pdf = ReadPdf(printDataSheetToPdf(copy));

        EXPECT_THAT(copy.messageTexts(), IsEmpty());
        EXPECT_EQ(copy.test.ui.reportOutputDialogs, QStringList { DataSheetTitle });
        ASSERT_TRUE(pdf.readable);
        ASSERT_EQ(pdf.pageCount, 1);
        const QString& page = pdf.pageTexts[0];
        const QDateTime printed = copy.test.clock.current;
        EXPECT_TRUE(HasLine(page, { DataSheetTitle }));
        EXPECT_TRUE(HasLine(page,
            { "Printed", SystemShortDateText(printed.date()), SystemLongTimeText(printed.time()), "Page 1 of 1" }))
            << page.toStdString();
        EXPECT_TRUE(HasLine(page, DataSheetColumnTitles));
        ReadingStatistics levels;
        for (const ReadingRow& row : rows) {
            EXPECT_TRUE(HasLine(page, { row.recNo, row.meaValue, row.weight, row.time, row.date }))
                << row.recNo.toStdString() << "\n"
                << page.toStdString();
            levels.add(row.meaValue.toDouble());
        }
        EXPECT_TRUE(HasLine(page, { "Summary" }));
        EXPECT_TRUE(HasLine(page, { "Readings", QString::number(rows.size()) }));
        EXPECT_TRUE(HasLine(page, { "Maximum", SystemOneDecimalText(levels.maximum()), "dB" }));
        EXPECT_TRUE(HasLine(page, { "Minimum", SystemOneDecimalText(levels.minimum()), "dB" }));
        EXPECT_TRUE(HasLine(page, { "Average", SystemOneDecimalText(levels.average()), "dB" }));
    }
}

TEST(MainWindow, ALongDataSheetRepeatsTheColumnTitlesAndNumbersEveryPageNOfM)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    openAnalysisWithReadings(copy, 5000);

    const PdfDocument pdf = ReadPdf(printDataSheetToPdf(copy));

    ASSERT_TRUE(pdf.readable);
    ASSERT_GT(pdf.pageCount, 2);
    ASSERT_EQ(pdf.pageTexts.size(), pdf.pageCount);
    const QRegularExpression row(QStringLiteral(R"(^\s*(\d+)\s+\d+\.\d\s+[AC]\s+\d+:\d\d:\d\d\s+12/9/2026\s*$)"),
        QRegularExpression::MultilineOption);
    std::vector<int> recNos;
    for (int n = 1; n <= pdf.pageCount; ++n) {
        SCOPED_TRACE(n);
        const QString& page = pdf.pageTexts[n - 1];
        EXPECT_TRUE(HasLine(page, DataSheetColumnTitles));
        EXPECT_TRUE(page.contains(QStringLiteral("Page %1 of %2").arg(n).arg(pdf.pageCount)));
        EXPECT_EQ(page.contains("Summary"), n == pdf.pageCount);
        for (auto match = row.globalMatch(page); match.hasNext();)
            recNos.push_back(match.next().captured(1).toInt());
    }
    std::vector<int> expected(5000);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(recNos, expected) << "every reading once, in table order";
    EXPECT_TRUE(HasLine(pdf.pageTexts.last(), { "Readings", "5000" }));
}

TEST(MainWindow, PrintDataSheetPrintsNothingForAnEmptyTableOrACancelledOutputDialog)
{
    struct Case {
        const char* state;
        int readings;
        bool outputDialog;
        QStringList messages;
    };
    const Case cases[] = {
        { "no readings", 0, false, { "Have No Data in Database,Can not to Print!" } },
        { "output dialog cancelled", 3, true, {} },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.state);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        ASSERT_TRUE(copy.start());
        openAnalysisWithReadings(copy, test.readings);
        copy.frame->Timer1Timer();

        copy.frame->PrintDataSheet1->trigger();

        EXPECT_EQ(copy.messageTexts(), test.messages);
        if (!test.messages.isEmpty()) {
            EXPECT_EQ(copy.test.ui.messages[0].caption, "Print Error");
            EXPECT_EQ(copy.test.ui.messages[0].buttons, MessageButtons::Ok);
            EXPECT_EQ(copy.test.ui.messages[0].icon, MessageIcon::Error);
            EXPECT_EQ(copy.module().LastErrorText, test.messages[0]);
            EXPECT_EQ(copy.module().LastErrorCaption, "Print Error");
        }
        EXPECT_EQ(copy.test.ui.reportOutputDialogs.size(), test.outputDialog ? 1 : 0);
        EXPECT_THAT(QDir(copy.test.folder.path()).entryList({ "*.pdf" }), IsEmpty());
        EXPECT_EQ(copy.test.ui.previewCount, 0);
    }
}

TEST(MainWindow, PrintDataSheetShowsTheReportEnginesOwnErrorWhenTheDefinitionIsMissingOrBroken)
{
    struct Case {
        const char* definition;
        std::function<void(const QString& path)> spoil;
    };
    const Case cases[] = {
        { "removed", [](const QString& path) { ASSERT_TRUE(QFile::remove(path)); } },
        { "corrupt", [](const QString& path) { writeFile(path, QByteArray("\x00\x13\x7f garbage", 12)); } },
        { "cut off",
            [](const QString& path) {
                const QByteArray whole = readFile(path);
                writeFile(path, whole.left(whole.size() / 2));
            } },
        { "a folder in its place",
            [](const QString& path) {
                ASSERT_TRUE(QFile::remove(path));
                ASSERT_TRUE(QDir().mkdir(path));
            } },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.definition);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        ASSERT_TRUE(copy.start());
        const QString path = copy.test.folder.filePath("Decimora_en.rav");
        ASSERT_EQ(copy.module().ReportProjectFile, path);
        test.spoil(path);
        QString engineText;
        try {
            ReadReportDefinition(path);
        } catch (const ReportError& error) {
            engineText = error.text();
        }
        ASSERT_FALSE(engineText.isEmpty());
        openAnalysisWithReadings(copy, 3);

        printDataSheetToPdf(copy);

        EXPECT_THAT(copy.messageTexts(), ElementsAre(engineText));
        EXPECT_EQ(copy.test.ui.messages[0].caption, "Print Error");
        EXPECT_EQ(copy.test.ui.messages[0].icon, MessageIcon::Error);
        EXPECT_TRUE(engineText.contains(QDir::toNativeSeparators(path))) << engineText.toStdString();
        EXPECT_TRUE(copy.test.ui.reportOutputDialogs.isEmpty());
        EXPECT_THAT(QDir(copy.test.folder.path()).entryList({ "*.pdf" }), IsEmpty());
    }
}

// The start-up looks for "decimora_en.rav" and the print reads "Decimora_en.rav": on a file system
// that tells the cases apart, both are the one file the start-up found, whatever the case of its name.
TEST(MainWindow, TheDataSheetComesFromTheDefinitionTheStartUpFoundWhateverTheCaseOfItsName)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    const QString renamed = copy.test.folder.filePath("decimora_en.rav");
    ASSERT_TRUE(QFile::rename(copy.test.folder.filePath("Decimora_en.rav"), renamed));
    ASSERT_TRUE(copy.start());
    EXPECT_EQ(copy.module().ReportProjectFile, renamed);
    openAnalysisWithReadings(copy, 3);

    const PdfDocument pdf = ReadPdf(printDataSheetToPdf(copy));

    EXPECT_THAT(copy.messageTexts(), IsEmpty());
    ASSERT_EQ(pdf.pageCount, 1);
    EXPECT_TRUE(HasLine(pdf.pageTexts[0], { "Readings", "3" }));
}

// The choice made in Printer Setup (here: a PDF file on Letter paper) is where the data sheet's
// "Printer" and the graph's "Print Graph" both go; the data sheet stands upright on it, the graph
// lies across it.
TEST(MainWindow, PrinterSetupChoosesThePrinterTheDataSheetAndTheGraphPrintOn)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    const QString printed = copy.test.folder.filePath("printer.pdf");
    copy.test.ui.printerSetupChoice = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(printed);
        printer.setPageSize(QPageSize(QPageSize::Letter));
    };

    copy.test.ui.printerSetupAnswers = { false };
    copy.frame->PrinterSetup1->trigger();
    EXPECT_EQ(copy.test.ui.printerSetupCount, 1);
    EXPECT_TRUE(copy.printer.printer().outputFileName().isEmpty()) << "a cancelled setup changes nothing";

    copy.test.ui.printerSetupAnswers = { true };
    copy.frame->PrinterSetup1->trigger();
    EXPECT_EQ(copy.test.ui.printerSetupCount, 2);

    copy.frame->RealTimeMeasure1->trigger();
    ASSERT_TRUE(copy.test.connect());
    copy.measurementWindow()->StartButtonClick();
    copy.takeReading();
    copy.measurementWindow()->StopButtonClick();
    copy.frame->Timer1Timer();
    copy.test.ui.reportOutputs.push_back({ ReportDestination::Printer, {}, {} });
    copy.frame->PrintDataSheet1->trigger();

    const PdfDocument sheet = ReadPdf(printed);
    ASSERT_TRUE(sheet.readable);
    EXPECT_EQ(sheet.pageCount, 1);
    EXPECT_NEAR(sheet.pageSize.width(), 612, 1);
    EXPECT_NEAR(sheet.pageSize.height(), 792, 1);
    const ReadingRow reading = copy.module().MeaData->row(0);
    EXPECT_TRUE(HasLine(
        sheet.pageTexts.value(0), { reading.recNo, reading.meaValue, reading.weight, reading.time, reading.date }));

    ASSERT_TRUE(QFile::remove(printed));
    copy.measurementWindow()->Graph()->printButton()->click();

    const PdfDocument graph = ReadPdf(printed);
    ASSERT_TRUE(graph.readable);
    EXPECT_NEAR(graph.pageSize.width(), 792, 1);
    EXPECT_NEAR(graph.pageSize.height(), 612, 1);
    EXPECT_THAT(copy.messageTexts(), IsEmpty());
}

} // namespace
