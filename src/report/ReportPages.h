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

#include <functional>

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

// How far a run has got: the data band's rows painted so far and all the rows of its table. Told at
// each page the band reaches, and now and then while the summary's figures are worked out before the
// first page (with 0 rows painted).
using ReportProgress = std::function<void(qint64 rowsPainted, qint64 rows)>;

// Paints every page on the device, begun on painter. Throws ReportError when a block does not fit on
// a page, or the device refuses a page; a TableError of the table passes through.
void PaintReportPages(const ReportDefinition& definition, const ReportContent& content, QPagedPaintDevice& device,
    QPainter& painter, const QDateTime& printed, const ReportProgress& progress = {});
