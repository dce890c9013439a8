#include "report/ReportEngine.h"

#include "core/Clock.h"
#include "core/ReadingTable.h"
#include "core/SystemTexts.h"
#include "core/UserInteraction.h"
#include "core/WholeFileWriter.h"

#include <QDir>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>

#include <algorithm>
#include <cmath>
#include <exception>

namespace {

QString quotedPath(const QString& path)
{
    return QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(path));
}

// Puts a printer's name, page layout and document name back, however the run ends: the output
// dialog's printer and the definition's page are for this report only.
class PrinterStateKeeper {
public:
    explicit PrinterStateKeeper(QPrinter& printer)
        : printer_(printer)
        , name_(printer.printerName())
        , layout_(printer.pageLayout())
        , docName_(printer.docName())
    {
    }
    ~PrinterStateKeeper()
    {
        if (printer_.printerName() != name_)
            printer_.setPrinterName(name_);
        printer_.setPageLayout(layout_);
        printer_.setDocName(docName_);
    }

    PrinterStateKeeper(const PrinterStateKeeper&) = delete;
    PrinterStateKeeper& operator=(const PrinterStateKeeper&) = delete;

private:
    QPrinter& printer_;
    QString name_;
    QPageLayout layout_;
    QString docName_;
};

// The failure text of a printer that will not start a job.
QString printerCannotStart(const QPrinter& printer)
{
    const QString name = printer.outputFormat() == QPrinter::PdfFormat
        ? QDir::toNativeSeparators(printer.outputFileName())
        : printer.printerName();
    if (name.isEmpty())
        return QStringLiteral("No printer is chosen: choose one with File > Printer Setup.");
    return QStringLiteral("The printer \"%1\" cannot be started.").arg(name);
}

void paintPages(const ReportDefinition& definition, const ReportContent& content, QPagedPaintDevice& device,
    const QDateTime& printed, const QString& cannotStart, const ReportProgress& progress = {})
{
    QPainter painter;
    if (!painter.begin(&device))
        throw ReportError(cannotStart);
    PaintReportPages(definition, content, device, painter, printed, progress);
    if (!painter.end())
        throw ReportError(cannotStart);
}

} // namespace

ReportEngine::ReportEngine(UserInteraction& ui, Clock& clock)
    : ui_(ui)
    , clock_(clock)
{
}

void ReportEngine::open(const QString& path)
{
    close();
    definition_ = ReadReportDefinition(path);
    path_ = path;
    open_ = true;
}

void ReportEngine::close()
{
    open_ = false;
    path_.clear();
    definition_ = {};
    content_ = {};
}

void ReportEngine::bind(const QString& connectionName, const ReadingTable& table)
{
    if (!open_)
        throw ReportError(QStringLiteral("No report definition is open."));
    if (connectionName != definition_.connection) {
        throw ReportError(QStringLiteral("The report definition %1 has no data connection named \"%2\".")
                              .arg(quotedPath(path_), connectionName));
    }
    content_.table = &table;
}

void ReportEngine::bindTable(const QString& source, FigureTable table)
{
    content_.tables.insert(source, std::move(table));
}

void ReportEngine::bindChart(const QString& source, ReportTimeHistory chart)
{
    content_.charts.insert(source, std::move(chart));
}

void ReportEngine::setFields(QMap<QString, QString> fields)
{
    content_.fields = std::move(fields);
}

QString ReportEngine::title() const
{
    return FillReportFields(definition_.title, content_.fields);
}

void ReportEngine::requireReady() const
{
    if (!open_)
        throw ReportError(QStringLiteral("No report definition is open."));
    if (!definition_.connection.isEmpty() && !content_.table) {
        throw ReportError(QStringLiteral("The data connection \"%1\" of the report definition %2 is bound to no table.")
                              .arg(definition_.connection, quotedPath(path_)));
    }
    for (const ReportBlock& block : definition_.blocks) {
        const bool table = block.kind == ReportBlockKind::Table;
        const bool unbound = table ? !content_.tables.contains(block.source)
                                   : block.kind == ReportBlockKind::Chart && !content_.charts.contains(block.source);
        if (unbound) {
            throw ReportError(
                QStringLiteral("The report definition %1 prints the %2 \"%3\", which this report has not.")
                    .arg(quotedPath(path_), table ? QStringLiteral("table") : QStringLiteral("chart"), block.source));
        }
    }
}

bool ReportEngine::run(QPrinter& printer, QWidget* owner)
{
    requireReady();
    const ReportOutputChoice choice = ui_.askReportOutput(owner, title(), printer);
    switch (choice.destination) {
    case ReportDestination::Printer:
        printOnPrinter(printer, choice.printerName);
        return true;
    case ReportDestination::Preview:
        previewOn(printer, owner);
        return true;
    case ReportDestination::PdfFile:
        writePdf(printer, choice.pdfPath);
        return true;
    case ReportDestination::Cancel:
        break;
    }
    return false;
}

void ReportEngine::applyPage(QPagedPaintDevice& device) const
{
    if (definition_.pageSize)
        device.setPageSize(*definition_.pageSize);
    if (definition_.orientation)
        device.setPageOrientation(*definition_.orientation);
    // A printer that cannot print as close to the edge as the definition asks keeps its own
    // smallest margins there.
    QPageLayout layout = device.pageLayout();
    layout.setUnits(QPageLayout::Millimeter);
    const QMarginsF least = layout.minimumMargins();
    const QMarginsF& wanted = definition_.marginsMm;
    device.setPageMargins(QMarginsF(std::max(wanted.left(), least.left()), std::max(wanted.top(), least.top()),
                              std::max(wanted.right(), least.right()), std::max(wanted.bottom(), least.bottom())),
        QPageLayout::Millimeter);
}

void ReportEngine::printOnPrinter(QPrinter& printer, const QString& printerName) const
{
    const PrinterStateKeeper keeper(printer);
    if (!printerName.isEmpty() && printerName != printer.printerName())
        printer.setPrinterName(printerName);
    printer.setDocName(title());
    applyPage(printer);
    paintPages(definition_, content_, printer, clock_.now(), printerCannotStart(printer), progress_);
}

void ReportEngine::previewOn(QPrinter& printer, QWidget* owner) const
{
    const PrinterStateKeeper keeper(printer);
    printer.setDocName(title());
    applyPage(printer);
    const QDateTime printed = clock_.now();
    // The preview calls back from inside its event handling, where an exception must not pass.
    std::exception_ptr failure;
    ui_.showPrintPreview(owner, printer, [&](QPrinter& target) {
        try {
            paintPages(definition_, content_, target, printed, printerCannotStart(target));
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    });
    if (failure)
        std::rethrow_exception(failure);
}

void ReportEngine::writePdfFile(const QString& path) const
{
    requireReady();
    writePdf(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()), path);
}

void ReportEngine::writePdf(const QPrinter& printer, const QString& path) const
{
    writePdf(printer.pageLayout(), path);
}

void ReportEngine::writePdf(const QPageLayout& layout, const QString& path) const
{
    // Put in the file's place once complete, so that a failed print leaves an earlier file as it was.
    WholeFileWriter file(path);
    {
        QPdfWriter writer(&file);
        writer.setCreator(QStringLiteral("Decimora"));
        writer.setTitle(title());
        // The paper chosen with Printer Setup, unless the definition names its own.
        writer.setPageLayout(layout);
        applyPage(writer);
        paintPages(
            definition_, content_, writer, clock_.now(), QStringLiteral("Cannot write %1.").arg(path), progress_);
    }
    file.commit();
}
