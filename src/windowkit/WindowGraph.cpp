#include "windowkit/WindowGraph.h"

#include "core/systemvar.h"
#include "desktop/ChosenPrinter.h"

#include <QDir>
#include <QHBoxLayout>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
#include <QVBoxLayout>

namespace {

const QString PrintErrorCaption = QStringLiteral("Print Error");

void TellPrintError(TForm6& module, QWidget* window, const QString& text)
{
    module.ShowMessageBox(text, PrintErrorCaption, MessageButtons::Ok, MessageIcon::Error, window);
}

// The graph's page as a PDF file, written beside the file and put in its place once complete.
void WriteGraphPdf(TForm6& module, GraphPanel& graph, const QPageLayout& paper, const QString& path, QWidget* window)
{
    const QString cannotWrite = QStringLiteral("The graph could not be printed: the file %1 cannot be written")
                                    .arg(QDir::toNativeSeparators(path));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        TellPrintError(module, window, QStringLiteral("%1: %2.").arg(cannotWrite, file.errorString()));
        return;
    }
    bool painted = false;
    {
        QPdfWriter writer(&file);
        writer.setCreator(QStringLiteral("Decimora"));
        writer.setTitle(graph.title());
        writer.setPageLayout(paper);
        painted = graph.printTo(writer);
    }
    if (!painted || !file.commit())
        TellPrintError(module, window, QStringLiteral("%1: %2.").arg(cannotWrite, file.errorString()));
}

// "Print Graph" on a system where the chosen printer leads nowhere (no print server, no printer, or
// the printer chosen has gone): the choice the data sheet offers instead, a preview or a PDF file.
void PrintGraphElsewhere(TForm6& module, ChosenPrinter& printer, GraphPanel& graph, QWidget* window)
{
    QPrinter& chosen = printer.printer();
    const ReportOutputChoice choice = module.Ui().askReportOutput(window, graph.title(), chosen);
    switch (choice.destination) {
    case ReportDestination::PdfFile:
        WriteGraphPdf(module, graph, chosen.pageLayout(), choice.pdfPath, window);
        break;
    case ReportDestination::Preview:
        module.Ui().showPrintPreview(window, chosen, [&graph](QPrinter& target) { graph.printTo(target); });
        break;
    case ReportDestination::Printer: {
        QPrinter once(QPrinter::HighResolution);
        once.setPrinterName(choice.printerName);
        once.setPageLayout(chosen.pageLayout());
        if (!graph.printTo(once))
            emit graph.printFailed();
        break;
    }
    case ReportDestination::Cancel:
        break;
    }
}

} // namespace

GraphPanel* MakeWindowGraph(TForm6& module, ChosenPrinter& printer, GraphConfig config, const QString& title,
    const QString& valueAxisTitle, QWidget* window)
{
    auto* graph = new GraphPanel(std::move(config), window);
    graph->setObjectName(QStringLiteral("Chart1"));
    graph->setTitle(title, Qt::blue);
    graph->setValueAxisTitle(valueAxisTitle);
    graph->setPrinterProvider([&printer]() -> QPrinter& { return printer.printer(); });
    graph->setPrintCommand([&module, &printer, graph, window] {
        if (printer.canPrintWithoutAsking())
            graph->printGraph();
        else
            PrintGraphElsewhere(module, printer, *graph, window);
    });
    QObject::connect(graph, &GraphPanel::printFailed, window, [&module, window] {
        TellPrintError(module, window, QStringLiteral("The graph could not be printed: the printer did not start."));
    });
    return graph;
}

void LayOutGridBesideGraph(QWidget* window, QWidget* grid, QWidget* graph, QWidget* bottomStrip)
{
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(2);
    top->addWidget(grid);
    top->addWidget(graph, 1);

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(top, 1);
    layout->addWidget(bottomStrip);
}
