#pragma once

// The graph and the layout the readings windows share.

#include "widgets/GraphPanel.h"

class ChosenPrinter;
class TForm6;

// A readings window's graph ("Chart1"): the title in blue, the value axis title, printing on the
// printer chosen with Printer Setup, and a print that cannot start told to the user in an error box.
GraphPanel* MakeWindowGraph(TForm6& module, ChosenPrinter& printer, GraphConfig config, const QString& title,
    const QString& valueAxisTitle, QWidget* window);

// The import and analysis windows' layout: the grid at its fixed width beside the graph, the
// bottom strip under both.
void LayOutGridBesideGraph(QWidget* window, QWidget* grid, QWidget* graph, QWidget* bottomStrip);
