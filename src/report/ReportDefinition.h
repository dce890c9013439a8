#pragma once

// A report definition: the page, the page header, the columns of the data band and the summary band
// of a printed report, read from our own XML format (resources/README, "Report definitions").

#include "core/DecimoraError.h"
#include "stats/LevelStatistics.h"

#include <QByteArrayView>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Any failure of the report engine: a definition that cannot be found, read or understood, a data
// connection it does not have, a printer or file the pages cannot go to.
class ReportError : public DecimoraError {
public:
    using DecimoraError::DecimoraError;
};

enum class ReportAlignment { Left, Center, Right };
// Count to Average figure the summary's field; the level functions figure the readings of one
// weighting as the statistics do (MeaValue and Weight, whatever the summary's field).
enum class ReportSummaryFunction { Count, Maximum, Minimum, Average, Leq, L10, L50, L90, Lmax, Lmin };

bool IsLevelFunction(ReportSummaryFunction function);
// The name the statistics give the figure of a level function: "LAeq", "LC90", ...
QString LevelFigureName(ReportSummaryFunction function, Weighting weighting);

struct ReportColumn {
    QString field;
    QString title;
    double widthMm = 0.0;
    ReportAlignment alignment = ReportAlignment::Left;
};

struct ReportSummaryLine {
    ReportSummaryFunction function = ReportSummaryFunction::Count;
    // Of a level function only.
    Weighting weighting = Weighting::A;
    QString label;
    QString unit;
};

struct ReportDefinition {
    // Page. No size or orientation: the printer's, as Printer Setup left them.
    std::optional<QPageSize> pageSize;
    std::optional<QPageLayout::Orientation> orientation;
    QMarginsF marginsMm { 15.0, 12.0, 15.0, 12.0 };

    // Page header; an empty text is left out. The print date may hold {date} and {time}, the page
    // number {page} and {pages}.
    QString title;
    double titleSizePt = 15.0;
    QString printDate;
    QString pageNumber;

    // Data band: one line per row of the table bound to the connection, in table order.
    QString connection;
    double fontSizePt = 9.5;
    bool alternateShading = false;
    std::vector<ReportColumn> columns;

    // Summary band after the last row; no lines, no band.
    QString summaryField;
    QString summaryTitle;
    std::vector<ReportSummaryLine> summary;
};

// The fields a data band can print: the columns of the reading tables.
const QStringList& ReportFieldNames();

// Reads the definition in the file at path. Throws ReportError when the file is missing, cannot be
// read or is not a definition; the text names the file and, for a fault inside it, the line.
ReportDefinition ReadReportDefinition(const QString& path);
// The same for a definition already in memory; shownName names it in the error texts.
ReportDefinition ParseReportDefinition(QByteArrayView xml, const QString& shownName);
