// A readings window's graph as the windows make it: its print goes to the printer chosen with Printer
// Setup, and a print that cannot start is told to the user in an error box.

#include "windowkit/WindowGraph.h"
#include "desktop/ChosenPrinter.h"
#include "support/TestModule.h"

#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

TEST(WindowGraph, APrintThatCannotStartIsToldInAnErrorBox)
{
    TestModule test;
    ChosenPrinter printer;
    QTemporaryDir dir;
    printer.printer().setOutputFormat(QPrinter::PdfFormat);
    printer.printer().setOutputFileName(dir.filePath(QStringLiteral("no/such/folder/graph.pdf")));
    QWidget window;
    GraphPanel* graph = MakeWindowGraph(
        *test.module, printer, GraphConfig {}, QStringLiteral("Real Time Data"), QStringLiteral("dB"), &window);
    EXPECT_EQ(graph->objectName(), "Chart1");

    graph->printButton()->click();

    ASSERT_EQ(test.ui.messages.size(), 1U);
    EXPECT_EQ(test.ui.messages[0].text, "The graph could not be printed: the printer did not start.");
    EXPECT_EQ(test.ui.messages[0].caption, "Print Error");
    EXPECT_EQ(test.module->LastErrorCaption, "Print Error");
}

} // namespace
