// Print Graph and Printer Setup on a desktop without a print server or printer (the tests' print
// system is one that is not there).

#include "ProgramCopy.h"
#include "support/PdfReading.h"
#include "widgets/GraphPanel.h"

#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

void expectLandscapeGraphPage(const QString& path)
{
    const PdfDocument pdf = ReadPdf(path);
    ASSERT_TRUE(pdf.readable) << path.toStdString();
    EXPECT_EQ(pdf.pageCount, 1);
    EXPECT_GT(pdf.pageSize.width(), pdf.pageSize.height()) << "the graph lies across the page";
    EXPECT_TRUE(pdf.pageTexts.value(0).contains("SPL Graph Analyzing")) << pdf.pageTexts.value(0).toStdString();
}

// Without a printer, Print Graph offers what the data sheet offers (a preview or a PDF file) instead
// of failing. A print job that could not start on the chosen printer leaves it stuck no longer:
// Printer Setup's PDF file is taken, and every Print Graph after it goes there without a question.
TEST(MainWindow, WithoutAPrinterPrintGraphWritesAPdfAndPrinterSetupMendsAFailedPrint)
{
    ASSERT_TRUE(QPrinterInfo::availablePrinterNames().isEmpty()) << "the tests' print system has no printer";
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    copy.frame->RealTimeMeasure1->trigger();
    ASSERT_TRUE(copy.test.connect());
    copy.measurementWindow()->StartButtonClick();
    copy.takeReading();
    copy.measurementWindow()->StopButtonClick();
    QPushButton* printGraph = copy.measurementWindow()->Graph()->printButton();
    ASSERT_TRUE(printGraph->isEnabled());

    const QString offered = copy.test.folder.filePath("graph.pdf");
    copy.test.ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, offered });
    printGraph->click();

    EXPECT_THAT(copy.test.ui.reportOutputDialogs, ElementsAre("SPL Graph Analyzing"));
    expectLandscapeGraphPage(offered);
    EXPECT_THAT(copy.messageTexts(), IsEmpty());

    // A job that could not start on the system's printer, as the first Print Graph used to send it.
    {
        QPainter painter;
        EXPECT_FALSE(painter.begin(&copy.printer.printer()));
    }
    const QString chosen = copy.test.folder.filePath("chosen in setup.pdf");
    copy.test.ui.printerSetupChoice = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(chosen);
    };
    copy.test.ui.printerSetupAnswers = { true };
    copy.frame->PrinterSetup1->trigger();
    EXPECT_EQ(copy.printer.printer().outputFileName(), chosen);

    for (int print = 1; print <= 2; ++print) {
        SCOPED_TRACE(print);
        QFile::remove(chosen);
        printGraph->click();
        expectLandscapeGraphPage(chosen);
    }
    EXPECT_EQ(copy.test.ui.reportOutputDialogs.size(), 1U) << "a printer chosen asks nothing more";
    EXPECT_EQ(copy.printer.printer().printerState(), QPrinter::Idle);
    EXPECT_THAT(copy.messageTexts(), IsEmpty());
}

// Cancelled, nothing is printed or said; a PDF file that cannot be written says why and names it.
TEST(MainWindow, WithoutAPrinterAGraphPdfThatCannotBeWrittenSaysWhy)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    copy.frame->RealTimeMeasure1->trigger();
    GraphPanel* graph = copy.measurementWindow()->Graph();
    graph->printButton()->setEnabled(true);

    graph->printButton()->click();
    EXPECT_EQ(copy.test.ui.reportOutputDialogs.size(), 1U);
    EXPECT_THAT(copy.messageTexts(), IsEmpty());

    const QString unwritable = copy.test.folder.filePath("no such folder/graph.pdf");
    copy.test.ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, unwritable });
    graph->printButton()->click();

    ASSERT_EQ(copy.test.ui.messages.size(), 1U);
    EXPECT_THAT(copy.messageTexts()[0].toStdString(), testing::StartsWith("The graph could not be printed: the file "));
    EXPECT_THAT(copy.messageTexts()[0].toStdString(), testing::HasSubstr(unwritable.toStdString()));
    EXPECT_EQ(copy.test.ui.messages[0].caption, "Print Error");
    EXPECT_FALSE(QFile::exists(unwritable));
}

} // namespace
