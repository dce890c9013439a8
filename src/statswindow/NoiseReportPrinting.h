#pragma once

// The statistics window's "Print Report…": the noise report (report/NoiseReport.h) of one run or file
// of the window on show, on the printer chosen with Printer Setup through the report engine's output
// dialog (printer, preview or PDF file), as Print Data Sheet prints the data sheet.

#include "report/NoiseReport.h"

class QPrinter;
class QWidget;
class ReadingTable;
class TForm6;

inline constexpr char NoiseReportErrorCaption[] = "Print Error";
inline constexpr char NoReadingsToReportMessage[] = "There are no readings to report.";

// The noise report of rows [firstRow, endRow) of the table (endRow -1: to its end). Readings without
// any rows get NoReadingsToReportMessage; times that cannot be read, a definition that is missing or
// cannot be read, and a print that fails get their own text; all with NoiseReportErrorCaption and
// nothing printed.
void PrintNoiseReport(TForm6& module, QPrinter& printer, const ReadingTable& table, qint64 firstRow, qint64 endRow,
    const NoiseSettings& settings, const NoiseReportDetails& details, QWidget* owner);
