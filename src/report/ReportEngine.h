#pragma once

// The report engine: prints a report definition (ReportDefinition.h) on Qt Print Support, with a
// reading table for its data band, tables of figures and time histories for its tables and charts,
// and texts for its {name} fields. It holds no widget of its own; its output dialog and the preview
// are asked of the user-interaction service.
//
//     ReportEngine report(ui, clock);
//     report.open(path);                                // the definition
//     report.bind(ReportDataConnection1, table);        // its data connection reads this table
//     report.bindTable("periods", PeriodTable(figures)); // a <table source="periods">
//     report.setFields({ { "place", "Gate 3" } });      // {place}
//     report.run(printer, owner);                       // output dialog, then print / preview / PDF
//     report.close();
//
// The data band's rows are painted while they are read, one page at a time: a report of any length
// needs the memory of one page.

#include "report/ReportChart.h"
#include "report/ReportDefinition.h"
#include "report/ReportPages.h"
#include "stats/FigureTables.h"

#include <QMap>
#include <QPageLayout>
#include <QString>

#include <functional>

class Clock;
class QPagedPaintDevice;
class QPrinter;
class QWidget;
class ReadingTable;
class UserInteraction;

// The data connection through which the data sheet's definition reads the active window's table.
inline constexpr char ReportDataConnection1[] = "ReportDataConnection1";

class ReportEngine {
public:
    // How far a print on a printer or into a PDF file has got: the rows printed so far and all the
    // rows of the table. Told after each page, and now and then while the summary's figures are
    // worked out before the first (with 0 rows printed). A preview, painted whenever the preview
    // asks, tells nothing.
    using Progress = ReportProgress;

    // The clock gives the print date of the page header.
    ReportEngine(UserInteraction& ui, Clock& clock);

    void setProgress(Progress progress) { progress_ = std::move(progress); }

    // Reads the definition at path, in place of one already open. Throws ReportError (missing,
    // unreadable, not a definition); the engine then has no definition open.
    void open(const QString& path);
    // Forgets the definition and the bound table. Harmless when nothing is open.
    void close();
    bool isOpen() const { return open_; }

    // The open definition's data band reads this table's rows in table order. Throws ReportError
    // when no definition is open or it has no data connection of that name. The table must outlive
    // the binding.
    void bind(const QString& connectionName, const ReadingTable& table);
    // The figures a <table source="..."> prints, and the history a <chart source="..."> draws. A
    // source the definition does not name is not printed.
    void bindTable(const QString& source, FigureTable table);
    void bindChart(const QString& source, ReportTimeHistory chart);
    // The texts of the {name} fields of the definition's texts.
    void setFields(QMap<QString, QString> fields);
    // The definition's title with its fields filled in.
    QString title() const;

    // Shows the output dialog with the printer offered first, then prints on a printer, previews or
    // writes a PDF file. False when the user cancelled. The printer is left as it was found (a
    // printer chosen in the output dialog is for this run only). Throws ReportError when there is no
    // open definition or bound table, or the pages cannot go where the user sent them; a PDF file is
    // then left as it was. A TableError of the table passes through.
    bool run(QPrinter& printer, QWidget* owner);
    // Writes the pages to a PDF file without asking, on the definition's paper or A4 where it takes
    // the printer's: for the tool without a screen. Throws as run() does.
    void writePdfFile(const QString& path) const;

private:
    void requireReady() const;
    // Puts the definition's page size, orientation and margins on the device.
    void applyPage(QPagedPaintDevice& device) const;
    void printOnPrinter(QPrinter& printer, const QString& printerName) const;
    void previewOn(QPrinter& printer, QWidget* owner) const;
    void writePdf(const QPrinter& printer, const QString& path) const;
    void writePdf(const QPageLayout& layout, const QString& path) const;

    UserInteraction& ui_;
    Clock& clock_;
    Progress progress_;
    bool open_ = false;
    QString path_;
    ReportDefinition definition_;
    ReportContent content_;
};
