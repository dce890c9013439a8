#include "report/ReportEngine.h"

#include "core/Clock.h"
#include "core/ReadingTable.h"
#include "core/SystemTexts.h"
#include "core/TableWithPauses.h"
#include "core/UserInteraction.h"
#include "stats/StatisticsRows.h"

#include <QDir>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <exception>

namespace {

constexpr char FontFamily[] = "DejaVu Sans";
constexpr double CellPaddingMm = 1.5;
constexpr double HeaderGapMm = 2.5;
constexpr double SummaryGapMm = 3.0;
constexpr double RuleWidthMm = 0.2;
// Line heights as multiples of the font's height.
constexpr double RowSpacing = 1.35;
constexpr double TitleRowSpacing = 1.6;
const QColor TitleBandColour(224, 224, 224);
const QColor ShadedRowColour(243, 243, 243);
const QColor RuleColour(96, 96, 96);

QString quotedPath(const QString& path)
{
    return QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(path));
}

using RowField = const QString ReadingRow::*;

RowField rowField(const QString& name)
{
    if (name == QLatin1String("RecNo"))
        return &ReadingRow::recNo;
    if (name == QLatin1String("MeaValue"))
        return &ReadingRow::meaValue;
    if (name == QLatin1String("Weight"))
        return &ReadingRow::weight;
    if (name == QLatin1String("Time"))
        return &ReadingRow::time;
    return &ReadingRow::date;
}

Qt::Alignment toQtAlignment(ReportAlignment alignment)
{
    switch (alignment) {
    case ReportAlignment::Center:
        return Qt::AlignHCenter;
    case ReportAlignment::Right:
        return Qt::AlignRight;
    case ReportAlignment::Left:
        break;
    }
    return Qt::AlignLeft;
}

// Count, maximum, minimum and average of one field. Every row counts; only texts that are numbers
// enter the other three.
class SummaryFigures {
public:
    void add(const QString& text)
    {
        ++rows_;
        bool ok = false;
        const double value = text.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return;
        if (numbers_++ == 0) {
            maximum_ = value;
            minimum_ = value;
        }
        maximum_ = std::max(maximum_, value);
        minimum_ = std::min(minimum_, value);
        sum_ += value;
    }

    QString text(ReportSummaryFunction function) const
    {
        if (function == ReportSummaryFunction::Count)
            return QString::number(rows_);
        if (numbers_ == 0)
            return QStringLiteral("-");
        switch (function) {
        case ReportSummaryFunction::Maximum:
            return SystemOneDecimalText(maximum_);
        case ReportSummaryFunction::Minimum:
            return SystemOneDecimalText(minimum_);
        case ReportSummaryFunction::Average:
        case ReportSummaryFunction::Count:
        case ReportSummaryFunction::Leq:
        case ReportSummaryFunction::L10:
        case ReportSummaryFunction::L50:
        case ReportSummaryFunction::L90:
        case ReportSummaryFunction::Lmax:
        case ReportSummaryFunction::Lmin:
            break;
        }
        return SystemOneDecimalText(sum_ / static_cast<double>(numbers_));
    }

private:
    qint64 rows_ = 0;
    qint64 numbers_ = 0;
    double maximum_ = 0.0;
    double minimum_ = 0.0;
    double sum_ = 0.0;
};

// Paints one run of the report on one device: the layout is worked out once from the device's
// page and fonts, so that the number of pages is known before the first page is painted, then the
// rows are painted as the table hands them over.
class PagePainter {
public:
    PagePainter(const ReportDefinition& definition, QPagedPaintDevice& device, QPainter& painter, QDateTime printed,
        const ReportEngine::Progress& progress)
        : definition_(definition)
        , device_(device)
        , painter_(painter)
        , printed_(std::move(printed))
        , progress_(progress)
    {
        dotsPerMm_ = device.logicalDpiY() / 25.4;
        pageWidth_ = device.width();
        pageHeight_ = device.height();

        bodyFont_ = QFont(QString::fromLatin1(FontFamily));
        bodyFont_.setStyleHint(QFont::SansSerif);
        bodyFont_.setPointSizeF(definition.fontSizePt);
        boldFont_ = bodyFont_;
        boldFont_.setBold(true);
        titleFont_ = boldFont_;
        titleFont_.setPointSizeF(definition.titleSizePt);

        const QFontMetricsF body(bodyFont_, &device);
        rowHeight_ = body.height() * RowSpacing;
        padding_ = CellPaddingMm * dotsPerMm_;

        if (!definition.title.isEmpty())
            titleHeight_ = QFontMetricsF(titleFont_, &device).height() * RowSpacing;
        if (!definition.printDate.isEmpty() || !definition.pageNumber.isEmpty())
            infoHeight_ = rowHeight_;
        columnTitleTop_ = titleHeight_ + infoHeight_;
        if (columnTitleTop_ > 0)
            columnTitleTop_ += HeaderGapMm * dotsPerMm_;
        columnTitleHeight_ = body.height() * TitleRowSpacing;
        headerHeight_ = columnTitleTop_ + columnTitleHeight_;

        // Columns wider than the page together are narrowed in proportion; the table is centred.
        double widthMm = 0.0;
        for (const ReportColumn& column : definition.columns)
            widthMm += column.widthMm;
        const double scale = std::min(1.0, pageWidth_ / (widthMm * dotsPerMm_));
        tableWidth_ = widthMm * dotsPerMm_ * scale;
        tableLeft_ = (pageWidth_ - tableWidth_) / 2.0;
        double x = tableLeft_;
        for (const ReportColumn& column : definition.columns) {
            const double width = column.widthMm * dotsPerMm_ * scale;
            columns_.push_back(
                { x, width, rowField(column.field), toQtAlignment(column.alignment) | Qt::AlignVCenter });
            x += width;
        }
        summaryField_
            = rowField(definition.summaryField.isEmpty() ? QStringLiteral("MeaValue") : definition.summaryField);

        rowsPerPage_ = static_cast<qint64>(std::floor((pageHeight_ - headerHeight_) / rowHeight_));
    }

    // Throws ReportError when the page is too small for the header and one row, or for the summary.
    qint64 pageCount(qint64 rows) const
    {
        if (rowsPerPage_ < 1 || headerHeight_ + summaryHeight_ > pageHeight_)
            throw ReportError(QStringLiteral("The page is too small for the report: its header, one row and its "
                                             "summary do not fit between the margins."));
        const qint64 dataPages = rows == 0 ? 1 : (rows + rowsPerPage_ - 1) / rowsPerPage_;
        const qint64 rowsOnLastPage = rows - (dataPages - 1) * rowsPerPage_;
        return dataPages + (summaryFits(rowsOnLastPage) ? 0 : 1);
    }

    void paintAll(const ReadingTable& table)
    {
        const qint64 rows = table.rowCount();
        if (progress_) {
            layOutSummary(TableWithPauses(table, [&](qint64) { progress_(0, rows); }));
        } else {
            layOutSummary(table);
        }
        pages_ = pageCount(rows);
        startPage();
        qint64 rowsPrinted = 0;
        table.forEachRow([&](const ReadingRow& row) {
            if (rowsOnPage_ == rowsPerPage_) {
                finishTable();
                if (progress_)
                    progress_(rowsPrinted, rows);
                nextPage();
            }
            ++rowsPrinted;
            paintRow(row);
            figures_.add(row.*summaryField_);
        });
        finishTable();
        if (!summaryLines_.empty()) {
            if (!summaryFits(rowsOnPage_))
                nextPage();
            paintSummary();
        }
    }

private:
    struct Column {
        double left;
        double width;
        RowField field;
        Qt::Alignment alignment;
    };

    // The lines the summary prints and the room they take, known before the first page so that the
    // page count is. A level line of a weighting the table has no reading of is left out; the
    // levels take one walk of the table of their own, and only when a line asks for them.
    void layOutSummary(const ReadingTable& table)
    {
        const bool levels = std::any_of(definition_.summary.begin(), definition_.summary.end(),
            [](const ReportSummaryLine& line) { return IsLevelFunction(line.function); });
        if (levels)
            statistics_ = StatisticsOfTable(table, 0);
        for (const ReportSummaryLine& line : definition_.summary) {
            if (!IsLevelFunction(line.function) || statistics_.of(line.weighting).count() > 0)
                summaryLines_.push_back(&line);
        }
        if (summaryLines_.empty())
            return;
        const auto lines = static_cast<double>(summaryLines_.size()) + (definition_.summaryTitle.isEmpty() ? 0.0 : 1.0);
        summaryHeight_ = SummaryGapMm * dotsPerMm_ + lines * rowHeight_;
        const QFontMetricsF bold(boldFont_, &device_);
        for (const ReportSummaryLine* line : summaryLines_)
            labelWidth_ = std::max(labelWidth_, bold.horizontalAdvance(line->label));
        labelWidth_ += 2 * padding_;
        valueWidth_ = QFontMetricsF(bodyFont_, &device_).horizontalAdvance(QStringLiteral("0000000.0")) + padding_;
    }

    // As the statistics window and the spreadsheet write the figure: the same rounding, the same
    // notation, the same mark where it is not known.
    QString levelText(const ReportSummaryLine& line) const
    {
        const QString name = LevelFigureName(line.function, line.weighting);
        for (const StatisticsRow& row : FigureRows(statistics_.of(line.weighting).figures(line.weighting, 0.0))) {
            if (row.label == name)
                return row.text;
        }
        return QString::fromUtf16(UnknownFigure);
    }

    bool summaryFits(qint64 rowsOnPage) const
    {
        return headerHeight_ + static_cast<double>(rowsOnPage) * rowHeight_ + summaryHeight_ <= pageHeight_;
    }

    QRectF cell(const Column& column, double top, double height) const
    {
        return { column.left + padding_, top, column.width - 2 * padding_, height };
    }

    void rule(double y) const
    {
        painter_.setPen(QPen(RuleColour, RuleWidthMm * dotsPerMm_));
        painter_.drawLine(QPointF(tableLeft_, y), QPointF(tableLeft_ + tableWidth_, y));
    }

    void nextPage()
    {
        if (!device_.newPage())
            throw ReportError(QStringLiteral("The printer refused page %1 of the report.").arg(page_ + 1));
        startPage();
    }

    void startPage()
    {
        ++page_;
        rowsOnPage_ = 0;
        painter_.setPen(Qt::black);
        if (titleHeight_ > 0) {
            painter_.setFont(titleFont_);
            painter_.drawText(
                QRectF(0, 0, pageWidth_, titleHeight_), Qt::AlignHCenter | Qt::AlignTop, definition_.title);
        }
        if (infoHeight_ > 0) {
            painter_.setFont(bodyFont_);
            const QRectF line(tableLeft_, titleHeight_, tableWidth_, infoHeight_);
            QString date = definition_.printDate;
            date.replace(QLatin1String("{date}"), SystemShortDateText(printed_.date()));
            date.replace(QLatin1String("{time}"), SystemLongTimeText(printed_.time()));
            painter_.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, date);
            QString number = definition_.pageNumber;
            number.replace(QLatin1String("{page}"), QString::number(page_));
            number.replace(QLatin1String("{pages}"), QString::number(pages_));
            painter_.drawText(line, Qt::AlignRight | Qt::AlignVCenter, number);
        }
        // The column titles head every page.
        painter_.fillRect(QRectF(tableLeft_, columnTitleTop_, tableWidth_, columnTitleHeight_), TitleBandColour);
        rule(columnTitleTop_);
        rule(columnTitleTop_ + columnTitleHeight_);
        painter_.setPen(Qt::black);
        painter_.setFont(boldFont_);
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            painter_.drawText(cell(columns_[i], columnTitleTop_, columnTitleHeight_), columns_[i].alignment,
                definition_.columns[i].title);
        }
        painter_.setFont(bodyFont_);
    }

    void paintRow(const ReadingRow& row)
    {
        const double top = headerHeight_ + static_cast<double>(rowsOnPage_) * rowHeight_;
        if (definition_.alternateShading && rowNumber_ % 2 == 1)
            painter_.fillRect(QRectF(tableLeft_, top, tableWidth_, rowHeight_), ShadedRowColour);
        for (const Column& column : columns_)
            painter_.drawText(cell(column, top, rowHeight_), column.alignment, row.*column.field);
        ++rowsOnPage_;
        ++rowNumber_;
    }

    void finishTable()
    {
        if (rowsOnPage_ > 0)
            rule(headerHeight_ + static_cast<double>(rowsOnPage_) * rowHeight_);
        painter_.setPen(Qt::black);
    }

    void paintSummary()
    {
        double top = headerHeight_ + static_cast<double>(rowsOnPage_) * rowHeight_ + SummaryGapMm * dotsPerMm_;
        painter_.setPen(Qt::black);
        if (!definition_.summaryTitle.isEmpty()) {
            painter_.setFont(boldFont_);
            painter_.drawText(QRectF(tableLeft_ + padding_, top, tableWidth_, rowHeight_),
                Qt::AlignLeft | Qt::AlignVCenter, definition_.summaryTitle);
            top += rowHeight_;
        }
        const double valueLeft = tableLeft_ + labelWidth_;
        for (const ReportSummaryLine* shown : summaryLines_) {
            const ReportSummaryLine& line = *shown;
            painter_.setFont(boldFont_);
            painter_.drawText(QRectF(tableLeft_ + padding_, top, labelWidth_, rowHeight_),
                Qt::AlignLeft | Qt::AlignVCenter, line.label);
            painter_.setFont(bodyFont_);
            painter_.drawText(QRectF(valueLeft, top, valueWidth_, rowHeight_), Qt::AlignRight | Qt::AlignVCenter,
                IsLevelFunction(line.function) ? levelText(line) : figures_.text(line.function));
            if (!line.unit.isEmpty()) {
                painter_.drawText(QRectF(valueLeft + valueWidth_ + padding_, top,
                                      tableWidth_ - labelWidth_ - valueWidth_, rowHeight_),
                    Qt::AlignLeft | Qt::AlignVCenter, line.unit);
            }
            top += rowHeight_;
        }
    }

    const ReportDefinition& definition_;
    QPagedPaintDevice& device_;
    QPainter& painter_;
    QDateTime printed_;
    const ReportEngine::Progress& progress_;

    double dotsPerMm_ = 0.0;
    double pageWidth_ = 0.0;
    double pageHeight_ = 0.0;
    QFont bodyFont_;
    QFont boldFont_;
    QFont titleFont_;
    double rowHeight_ = 0.0;
    double padding_ = 0.0;
    double titleHeight_ = 0.0;
    double infoHeight_ = 0.0;
    double columnTitleTop_ = 0.0;
    double columnTitleHeight_ = 0.0;
    double headerHeight_ = 0.0;
    double summaryHeight_ = 0.0;
    double labelWidth_ = 0.0;
    double valueWidth_ = 0.0;
    double tableLeft_ = 0.0;
    double tableWidth_ = 0.0;
    std::vector<Column> columns_;
    RowField summaryField_ = nullptr;
    qint64 rowsPerPage_ = 0;

    qint64 pages_ = 0;
    qint64 page_ = 0;
    qint64 rowsOnPage_ = 0;
    qint64 rowNumber_ = 0;
    SummaryFigures figures_;
    WeightedLevelStatistics statistics_;
    std::vector<const ReportSummaryLine*> summaryLines_;
};

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

void paintPages(const ReportDefinition& definition, QPagedPaintDevice& device, const ReadingTable& table,
    const QDateTime& printed, const QString& cannotStart, const ReportEngine::Progress& progress = {})
{
    QPainter painter;
    if (!painter.begin(&device))
        throw ReportError(cannotStart);
    PagePainter(definition, device, painter, printed, progress).paintAll(table);
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
    table_ = nullptr;
}

void ReportEngine::bind(const QString& connectionName, const ReadingTable& table)
{
    if (!open_)
        throw ReportError(QStringLiteral("No report definition is open."));
    if (connectionName != definition_.connection) {
        throw ReportError(QStringLiteral("The report definition %1 has no data connection named \"%2\".")
                              .arg(quotedPath(path_), connectionName));
    }
    table_ = &table;
}

void ReportEngine::requireReady() const
{
    if (!open_)
        throw ReportError(QStringLiteral("No report definition is open."));
    if (!table_) {
        throw ReportError(QStringLiteral("The data connection \"%1\" of the report definition %2 is bound to no table.")
                              .arg(definition_.connection, quotedPath(path_)));
    }
}

bool ReportEngine::run(QPrinter& printer, QWidget* owner)
{
    requireReady();
    const ReportOutputChoice choice = ui_.askReportOutput(owner, definition_.title, printer);
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
    printer.setDocName(definition_.title);
    applyPage(printer);
    paintPages(definition_, printer, *table_, clock_.now(), printerCannotStart(printer), progress_);
}

void ReportEngine::previewOn(QPrinter& printer, QWidget* owner) const
{
    const PrinterStateKeeper keeper(printer);
    printer.setDocName(definition_.title);
    applyPage(printer);
    const QDateTime printed = clock_.now();
    // The preview calls back from inside its event handling, where an exception must not pass.
    std::exception_ptr failure;
    ui_.showPrintPreview(owner, printer, [&](QPrinter& target) {
        try {
            paintPages(definition_, target, *table_, printed, printerCannotStart(target));
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    });
    if (failure)
        std::rethrow_exception(failure);
}

void ReportEngine::writePdf(const QPrinter& printer, const QString& path) const
{
    const QString cannotWrite = QStringLiteral("The file %1 cannot be written").arg(quotedPath(path));
    // Written beside the file and put in its place once complete, so that a failed print leaves an
    // earlier file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ReportError(QStringLiteral("%1: %2.").arg(cannotWrite, file.errorString()));
    {
        QPdfWriter writer(&file);
        writer.setCreator(QStringLiteral("Decimora"));
        writer.setTitle(definition_.title);
        // The paper chosen with Printer Setup, unless the definition names its own.
        writer.setPageLayout(printer.pageLayout());
        applyPage(writer);
        paintPages(definition_, writer, *table_, clock_.now(), cannotWrite + QLatin1Char('.'), progress_);
    }
    if (!file.commit())
        throw ReportError(QStringLiteral("%1: %2.").arg(cannotWrite, file.errorString()));
}
