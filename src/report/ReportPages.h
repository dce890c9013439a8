#pragma once

// The pages of one run of a report: the blocks of the definition's body flowed from page to page
// under the page header, tables split between rows with their column titles on every page they
// reach, everything else kept whole. The layout is worked out before the first page is painted, so
// that "n of m" is known, and the data band's rows are painted as the table hands them over: a report
// of any length needs the memory of one page.

#include "report/ReportChart.h"
#include "report/ReportDefinition.h"
#include "stats/FigureTables.h"

#include <QDateTime>
#include <QMap>
#include <QString>

class QPagedPaintDevice;
class ReadingTable;

// What one run prints besides the definition: the data band's table, the table and chart sources,
// and the {name} fields.
struct ReportContent {
    const ReadingTable* table = nullptr;
    QMap<QString, FigureTable> tables;
    QMap<QString, ReportTimeHistory> charts;
    QMap<QString, QString> fields;
};

// Paints every page on the device, begun on painter. Throws ReportError when a block does not fit on
// a page, or the device refuses a page; a TableError of the table passes through.
void PaintReportPages(const ReportDefinition& definition, const ReportContent& content, QPagedPaintDevice& device,
    QPainter& painter, const QDateTime& printed);
