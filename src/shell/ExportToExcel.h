#pragma once

// File > Export to Excel: the active readings window's table, with its grid's columns, into a
// spreadsheet file chosen in the save dialog: .xls (the default), .xlsx or .csv.

#include "output/ExportDataSet.h"

class QAbstractItemView;
class ReadingsWindow;
class TForm6;

inline constexpr char ExportFilter[] = "*.XLS|*.XLS|*.xls|*.xls|*.xlsx|*.xlsx|*.csv|*.csv";
inline constexpr char ExportDefaultExtension[] = "XLS";

void ExportToExcel(TForm6& module, ReadingsWindow& window);

// The columns a grid shows, in the order it shows them, titled and named by its model's headers;
// the readings grid's five columns for a window without a grid.
GridDescription DescribeGrid(const QAbstractItemView* grid, ExportDataSet& dataSet);
