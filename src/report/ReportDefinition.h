#pragma once

// A report definition: the page, the page header, and the blocks of the body in the order they print:
// lines of fields, charts, tables of figures, the data band with its columns and the summary band of
// a printed report, read from our own XML format (resources/README, "Report definitions").

#include "core/DecimoraError.h"
#include "stats/LevelStatistics.h"

#include <QByteArrayView>
#include <QMap>
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
    // Whether the definition says; a table's figures are set to the right unless it does.
    bool alignmentGiven = false;
};

// A line of a fields block: a label and a text in which {name} stands for the report's field of
// that name.
struct ReportFieldLine {
    QString label;
    QString text;
};

enum class ReportBlockKind { Fields, Chart, Table, Data, Summary };

// One block of the body. Fields, charts and tables carry their own content; the data band and the
// summary are described by the definition's members of their own, and a block only places them.
struct ReportBlock {
    ReportBlockKind kind = ReportBlockKind::Data;
    // A bold heading over a fields block, a chart or a table; none when empty. May hold {name}.
    QString title;
    // The table or chart source the program binds: "periods", "levels", ...
    QString source;
    std::vector<ReportFieldLine> fields;
    // The table's columns by their keys; none: every column of the source, each as wide as it needs.
    std::vector<ReportColumn> columns;
    double heightMm = 70.0;
    double fontSizePt = 9.5;
    bool alternateShading = false;
    // What a table prints when its source has no rows.
    QString emptyText;
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

    // The body, in the order it prints.
    std::vector<ReportBlock> blocks;

    // Data band: one line per row of the table bound to the connection, in table order. No
    // connection: the definition has no data band.
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

// The {name} fields of text filled in; a name without a value stays as it is written.
QString FillReportFields(QString text, const QMap<QString, QString>& fields);

// Reads the definition in the file at path. Throws ReportError when the file is missing, cannot be
// read or is not a definition; the text names the file and, for a fault inside it, the line.
ReportDefinition ReadReportDefinition(const QString& path);
// The same for a definition already in memory; shownName names it in the error texts.
ReportDefinition ParseReportDefinition(QByteArrayView xml, const QString& shownName);
