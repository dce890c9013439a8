#include "windowkit/WindowGraph.h"

#include "core/systemvar.h"
#include "desktop/ChosenPrinter.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

GraphPanel* MakeWindowGraph(TForm6& module, ChosenPrinter& printer, GraphConfig config, const QString& title,
    const QString& valueAxisTitle, QWidget* window)
{
    auto* graph = new GraphPanel(std::move(config), window);
    graph->setObjectName(QStringLiteral("Chart1"));
    graph->setTitle(title, Qt::blue);
    graph->setValueAxisTitle(valueAxisTitle);
    graph->setPrinterProvider([&printer]() -> QPrinter& { return printer.printer(); });
    QObject::connect(graph, &GraphPanel::printFailed, window, [&module, window] {
        module.ShowMessageBox(QStringLiteral("The graph could not be printed: the printer did not start."),
            QStringLiteral("Print Error"), MessageButtons::Ok, MessageIcon::Error, window);
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
