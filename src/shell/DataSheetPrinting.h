#pragma once

// File > Print Data Sheet: the readings of the active window's table on the data sheet definition
// "Decimora_en.rav" in the program's folder.

class QPrinter;
class QWidget;
class ReadingTable;
class TForm6;

inline constexpr char DataSheetDefinitionName[] = "Decimora_en.rav";
inline constexpr char NoDataToPrintMessage[] = "Have No Data in Database,Can not to Print!";
inline constexpr char PrintErrorCaption[] = "Print Error";
inline constexpr char DataSheetProgressText[] = "Printing the data sheet...";

// Opens the definition, binds ReportDataConnection1 to the table and runs the report on the
// printer (the one chosen with Printer Setup; its output dialog may send the pages to a preview or a
// PDF file instead). An empty table gets NoDataToPrintMessage; a definition that is missing or cannot be
// read, and a print that fails, get the report engine's own text; both with PrintErrorCaption and
// nothing printed. A null table does nothing. A long print on a printer or into a PDF file shows how
// far it has got in a window of its own (after half a second) and keeps the program answering,
// the other windows waiting for it.
void PrintDataSheet(TForm6& module, QPrinter& printer, const ReadingTable* table, QWidget* owner);
