// The printer chosen with Printer Setup stays usable after a print job that could not start.

#include "desktop/ChosenPrinter.h"

#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(ChosenPrinter, AJobThatCouldNotStartLeavesAPrinterThatTakesTheNextChoiceWithTheSamePaper)
{
    ASSERT_TRUE(QPrinterInfo::availablePrinterNames().isEmpty()) << "the tests' print system has no printer";
    ChosenPrinter chosen;
    EXPECT_FALSE(chosen.canPrintWithoutAsking());
    chosen.printer().setPageSize(QPageSize(QPageSize::Letter));
    {
        QPainter painter;
        EXPECT_FALSE(painter.begin(&chosen.printer())) << "no printer to start a job on";
    }

    QPrinter& printer = chosen.printer();
    EXPECT_EQ(printer.printerState(), QPrinter::Idle);
    EXPECT_EQ(printer.pageLayout().pageSize().id(), QPageSize::Letter);
    QTemporaryDir dir;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("page.pdf"));
    EXPECT_EQ(printer.outputFileName(), dir.filePath("page.pdf"));
    EXPECT_TRUE(chosen.canPrintWithoutAsking());
    QPainter painter;
    ASSERT_TRUE(painter.begin(&chosen.printer()));
    EXPECT_EQ(&chosen.printer(), &printer) << "a printer being painted on is kept";
    EXPECT_TRUE(painter.end());
    EXPECT_TRUE(QFile::exists(dir.filePath("page.pdf")));
}

} // namespace
