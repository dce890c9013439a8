#include "report/ReportPages.h"

#include "core/ReadingTable.h"
#include "core/SystemTexts.h"
#include "core/TableWithPauses.h"
#include "stats/StatisticsRows.h"
#include "stats/TimedSeries.h"

#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr char FontFamily[] = "DejaVu Sans";
constexpr double CellPaddingMm = 1.5;
constexpr double HeaderGapMm = 2.5;
constexpr double SummaryGapMm = 3.0;
constexpr double BlockGapMm = 5.0;
constexpr double RuleWidthMm = 0.2;
// Line heights as multiples of the font's height.
constexpr double RowSpacing = 1.35;
constexpr double TitleRowSpacing = 1.6;
constexpr double BlockTitleSpacing = 1.8;
constexpr double ChartFontPt = 7.5;
const QColor TitleBandColour(224, 224, 224);
const QColor ShadedRowColour(243, 243, 243);
const QColor RuleColour(96, 96, 96);

const QString TooSmall = QStringLiteral(
    "The page is too small for the report: its header, one row and its summary do not fit between the margins.");

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

QFont Font(double points, bool bold)
{
    QFont font(QString::fromLatin1(FontFamily));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
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
        if (function == ReportSummaryFunction::Maximum)
            return SystemOneDecimalText(maximum_);
        if (function == ReportSummaryFunction::Minimum)
            return SystemOneDecimalText(minimum_);
        return SystemOneDecimalText(sum_ / static_cast<double>(numbers_));
    }

private:
    qint64 rows_ = 0;
    qint64 numbers_ = 0;
    double maximum_ = 0.0;
    double minimum_ = 0.0;
    double sum_ = 0.0;
};

// The columns, fonts and heights of a table: the data band or a table of figures.
struct TableShape {
    struct Column {
        double left;
        double width;
        Qt::Alignment alignment;
        QString title;
        // Of a data band the field, of a table of figures the source's column.
        RowField field = nullptr;
        int sourceColumn = -1;
    };
    QFont body;
    QFont bold;
    double rowHeight = 0.0;
    double titleBandHeight = 0.0;
    double left = 0.0;
    double width = 0.0;
    bool shading = false;
    std::vector<Column> columns;
};

// One block, or the part of a table on one page.
struct Piece {
    std::size_t block;
    qint64 page;
    double top;
    qint64 firstRow = 0;
    qint64 rows = 0;
    // The block's heading stands over this piece (its first).
    bool withTitle = false;
};

class ReportPainter {
public:
    ReportPainter(const ReportDefinition& definition, const ReportContent& content, QPagedPaintDevice& device,
        QPainter& painter, QDateTime printed, const ReportProgress& progress)
        : definition_(definition)
        , content_(content)
        , device_(device)
        , painter_(painter)
        , printed_(std::move(printed))
        , progress_(progress)
    {
        dotsPerMm_ = device.logicalDpiY() / 25.4;
        pageWidth_ = device.width();
        pageHeight_ = device.height();
        padding_ = CellPaddingMm * dotsPerMm_;
        bodyFont_ = Font(definition.fontSizePt, false);
        boldFont_ = Font(definition.fontSizePt, true);
        titleFont_ = Font(definition.titleSizePt, true);
        rowHeight_ = QFontMetricsF(bodyFont_, &device).height() * RowSpacing;
        if (!definition.title.isEmpty())
            titleHeight_ = QFontMetricsF(titleFont_, &device).height() * RowSpacing;
        if (!definition.printDate.isEmpty() || !definition.pageNumber.isEmpty())
            infoHeight_ = rowHeight_;
        bodyTop_ = titleHeight_ + infoHeight_;
        if (bodyTop_ > 0)
            bodyTop_ += HeaderGapMm * dotsPerMm_;
        summaryField_
            = rowField(definition.summaryField.isEmpty() ? QStringLiteral("MeaValue") : definition.summaryField);
    }

    void paint()
    {
        shapeBlocks();
        layOut();
        startPage();
        for (std::size_t i = 0; i < pieces_.size(); ++i) {
            const Piece& piece = pieces_[i];
            const ReportBlock& block = definition_.blocks[piece.block];
            // The band's first piece reads the table, however few rows it has, so that a table that
            // cannot be read says so.
            if (block.kind == ReportBlockKind::Data && piece.withTitle) {
                i = paintDataRows(i);
                continue;
            }
            turnTo(piece.page);
            paintPiece(piece, block);
        }
    }

private:
    // The engine binds every source a definition names before a run.
    const FigureTable& tableOf(const ReportBlock& block) const { return *content_.tables.constFind(block.source); }

    // ----- Shapes, worked out before the layout -----

    void shapeBlocks()
    {
        shapes_.resize(definition_.blocks.size());
        for (std::size_t i = 0; i < definition_.blocks.size(); ++i) {
            const ReportBlock& block = definition_.blocks[i];
            if (block.kind == ReportBlockKind::Data)
                shapes_[i] = dataShape();
            else if (block.kind == ReportBlockKind::Table)
                shapes_[i] = figureShape(block, tableOf(block));
            else if (block.kind == ReportBlockKind::Summary)
                layOutSummary();
        }
    }

    void place(TableShape& shape, const std::vector<double>& widths) const
    {
        double total = 0.0;
        for (const double width : widths)
            total += width;
        // Columns wider together than the page are narrowed in proportion; the table is centred.
        const double scale = total > 0 ? std::min(1.0, pageWidth_ / total) : 1.0;
        shape.width = total * scale;
        shape.left = (pageWidth_ - shape.width) / 2.0;
        double x = shape.left;
        for (std::size_t i = 0; i < shape.columns.size(); ++i) {
            shape.columns[i].left = x;
            shape.columns[i].width = widths[i] * scale;
            x += shape.columns[i].width;
        }
    }

    TableShape dataShape() const
    {
        TableShape shape;
        shape.body = bodyFont_;
        shape.bold = boldFont_;
        shape.rowHeight = rowHeight_;
        shape.titleBandHeight = QFontMetricsF(bodyFont_, &device_).height() * TitleRowSpacing;
        shape.shading = definition_.alternateShading;
        std::vector<double> widths;
        for (const ReportColumn& column : definition_.columns) {
            shape.columns.push_back(
                { 0, 0, toQtAlignment(column.alignment) | Qt::AlignVCenter, column.title, rowField(column.field), -1 });
            widths.push_back(column.widthMm * dotsPerMm_);
        }
        place(shape, widths);
        return shape;
    }

    TableShape figureShape(const ReportBlock& block, const FigureTable& table) const
    {
        TableShape shape;
        shape.body = Font(block.fontSizePt, false);
        shape.bold = Font(block.fontSizePt, true);
        const QFontMetricsF body(shape.body, &device_);
        const QFontMetricsF bold(shape.bold, &device_);
        shape.rowHeight = body.height() * RowSpacing;
        shape.titleBandHeight = body.height() * TitleRowSpacing;
        shape.shading = block.alternateShading;
        std::vector<double> widths;
        const auto addColumn = [&](int source, const QString& title, std::optional<ReportAlignment> alignment,
                                   std::optional<double> widthMm) {
            const FigureColumn& column = table.columns[std::size_t(source)];
            const Qt::Alignment align
                = alignment ? toQtAlignment(*alignment) : (column.numeric ? Qt::AlignRight : Qt::AlignLeft);
            shape.columns.push_back({ 0, 0, align | Qt::AlignVCenter, title, nullptr, source });
            if (widthMm) {
                widths.push_back(*widthMm * dotsPerMm_);
                return;
            }
            // As wide as its widest text.
            double widest = bold.horizontalAdvance(title);
            for (const auto& row : table.rows)
                widest = std::max(widest, body.horizontalAdvance(row[std::size_t(source)].shown));
            widths.push_back(widest + 3 * padding_);
        };
        if (block.columns.empty()) {
            for (std::size_t c = 0; c < table.columns.size(); ++c)
                addColumn(int(c), table.columns[c].title, std::nullopt, std::nullopt);
        }
        for (const ReportColumn& column : block.columns) {
            const int source = table.columnOf(column.field);
            if (source < 0) {
                QStringList keys;
                for (const FigureColumn& known : table.columns)
                    keys << known.key;
                throw ReportError(QStringLiteral("The table \"%1\" of the report has no column \"%2\" (it has %3).")
                                      .arg(block.source, column.field, keys.join(QStringLiteral(", "))));
            }
            addColumn(source, column.title,
                column.alignmentGiven ? std::optional<ReportAlignment>(column.alignment) : std::nullopt,
                column.widthMm);
        }
        place(shape, widths);
        return shape;
    }

    // The lines the summary prints and the room they take. A level line of a weighting the table has
    // no reading of is left out; the levels take one walk of the table of their own, and only when
    // a line asks for them.
    void layOutSummary()
    {
        const bool levels = std::any_of(definition_.summary.begin(), definition_.summary.end(),
            [](const ReportSummaryLine& line) { return IsLevelFunction(line.function); });
        if (levels && content_.table) {
            const qint64 rows = content_.table->rowCount();
            const TableWithPauses walk(*content_.table, [this, rows](qint64) {
                if (progress_)
                    progress_(0, rows);
            });
            statistics_ = TimedStatisticsOfTableStretches(walk, { rows }).front();
        }
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

    // ----- Layout -----

    double blockTitleHeight(const ReportBlock& block) const
    {
        if (block.title.isEmpty())
            return 0.0;
        return QFontMetricsF(boldFont_, &device_).height() * BlockTitleSpacing;
    }

    struct FieldLine {
        QString label;
        QString text;
        double height;
    };

    std::vector<FieldLine> fieldLines(const ReportBlock& block) const
    {
        const QFontMetricsF bold(boldFont_, &device_);
        double labels = 0.0;
        for (const ReportFieldLine& line : block.fields)
            labels = std::max(labels, bold.horizontalAdvance(line.label));
        const double textWidth = pageWidth_ - labels - 3 * padding_;
        std::vector<FieldLine> lines;
        for (const ReportFieldLine& line : block.fields) {
            const QString text = FillReportFields(line.text, content_.fields).trimmed();
            // A field left empty (no notes given) takes no line.
            if (text.isEmpty())
                continue;
            const QRectF room
                = QFontMetricsF(bodyFont_, &device_).boundingRect(QRectF(0, 0, textWidth, 1e6), Qt::TextWordWrap, text);
            lines.push_back(
                { line.label, text, std::max(rowHeight_, room.height() + (rowHeight_ * (1 - 1 / RowSpacing))) });
        }
        return lines;
    }

    double fieldLabelWidth(const ReportBlock& block) const
    {
        const QFontMetricsF bold(boldFont_, &device_);
        double labels = 0.0;
        for (const ReportFieldLine& line : block.fields)
            labels = std::max(labels, bold.horizontalAdvance(line.label));
        return labels + 2 * padding_;
    }

    // The height of a block that is kept whole.
    double wholeHeight(const ReportBlock& block) const
    {
        double height = blockTitleHeight(block);
        if (block.kind == ReportBlockKind::Chart)
            height += block.heightMm * dotsPerMm_;
        if (block.kind == ReportBlockKind::Fields) {
            for (const FieldLine& line : fieldLines(block))
                height += line.height;
        }
        return height;
    }

    qint64 rowsOf(const ReportBlock& block) const
    {
        if (block.kind == ReportBlockKind::Data)
            return content_.table ? content_.table->rowCount() : 0;
        // A table without rows prints its text for none in one row.
        return std::max<qint64>(1, static_cast<qint64>(tableOf(block).rows.size()));
    }

    void newPage()
    {
        ++pageCount_;
        y_ = bodyTop_;
        atTop_ = true;
    }

    void layOut()
    {
        pageCount_ = 1;
        y_ = bodyTop_;
        atTop_ = true;
        for (std::size_t i = 0; i < definition_.blocks.size(); ++i) {
            const ReportBlock& block = definition_.blocks[i];
            switch (block.kind) {
            case ReportBlockKind::Fields:
            case ReportBlockKind::Chart:
                layOutWhole(i, wholeHeight(block));
                break;
            case ReportBlockKind::Table:
            case ReportBlockKind::Data:
                layOutRows(i);
                break;
            case ReportBlockKind::Summary:
                layOutSummaryPlace(i);
                break;
            }
        }
    }

    double gap() const { return atTop_ ? 0.0 : BlockGapMm * dotsPerMm_; }

    void layOutWhole(std::size_t index, double height)
    {
        if (y_ + gap() + height > pageHeight_) {
            if (atTop_)
                throw ReportError(TooSmall);
            newPage();
        }
        pieces_.push_back({ index, pageCount_, y_ + gap(), 0, 0, true });
        y_ += gap() + height;
        atTop_ = false;
    }

    void layOutRows(std::size_t index)
    {
        const ReportBlock& block = definition_.blocks[index];
        const TableShape& shape = shapes_[index];
        const qint64 rows = rowsOf(block);
        const double before = gap();
        const double heading = blockTitleHeight(block);
        const double least = heading + shape.titleBandHeight + (rows > 0 ? shape.rowHeight : 0.0);
        double top = y_ + before;
        if (top + least > pageHeight_) {
            if (atTop_)
                throw ReportError(TooSmall);
            newPage();
            top = y_;
        }
        qint64 done = 0;
        bool first = true;
        while (true) {
            const double head = (first ? heading : 0.0) + shape.titleBandHeight;
            const auto fit = static_cast<qint64>(std::floor((pageHeight_ - top - head) / shape.rowHeight));
            if (fit < 1 && rows > 0)
                throw ReportError(TooSmall);
            const qint64 take = std::min(fit, rows - done);
            pieces_.push_back({ index, pageCount_, top, done, take, first });
            done += take;
            y_ = top + head + static_cast<double>(take) * shape.rowHeight;
            atTop_ = false;
            if (done >= rows)
                break;
            newPage();
            top = y_;
            first = false;
        }
    }

    void layOutSummaryPlace(std::size_t index)
    {
        if (summaryLines_.empty())
            return;
        if (y_ + summaryHeight_ <= pageHeight_) {
            pieces_.push_back({ index, pageCount_, y_ });
            y_ += summaryHeight_;
            return;
        }
        // On a page of its own, under the data band's column titles as on every page of it.
        newPage();
        const auto data = std::find_if(definition_.blocks.begin(), definition_.blocks.end(),
            [](const ReportBlock& block) { return block.kind == ReportBlockKind::Data; });
        const auto dataIndex = static_cast<std::size_t>(data - definition_.blocks.begin());
        pieces_.push_back({ dataIndex, pageCount_, y_, 0, 0, false });
        y_ += shapes_[dataIndex].titleBandHeight;
        if (y_ + summaryHeight_ > pageHeight_)
            throw ReportError(TooSmall);
        pieces_.push_back({ index, pageCount_, y_ });
        y_ += summaryHeight_;
    }

    // ----- Painting -----

    void turnTo(qint64 page)
    {
        while (page_ < page) {
            if (!device_.newPage())
                throw ReportError(QStringLiteral("The printer refused page %1 of the report.").arg(page_ + 1));
            startPage();
        }
    }

    void startPage()
    {
        ++page_;
        painter_.setPen(Qt::black);
        const QString title = FillReportFields(definition_.title, content_.fields);
        if (titleHeight_ > 0) {
            painter_.setFont(titleFont_);
            painter_.drawText(QRectF(0, 0, pageWidth_, titleHeight_), Qt::AlignHCenter | Qt::AlignTop, title);
        }
        if (infoHeight_ > 0) {
            painter_.setFont(bodyFont_);
            const QRectF line(0, titleHeight_, pageWidth_, infoHeight_);
            QString date = FillReportFields(definition_.printDate, content_.fields);
            date.replace(QLatin1String("{date}"), SystemShortDateText(printed_.date()));
            date.replace(QLatin1String("{time}"), SystemLongTimeText(printed_.time()));
            // Under a data band the line spans the table, as the data sheet has always had it.
            const QRectF span = dataSpan(line);
            painter_.drawText(span, Qt::AlignLeft | Qt::AlignVCenter, date);
            QString number = definition_.pageNumber;
            number.replace(QLatin1String("{page}"), QString::number(page_));
            number.replace(QLatin1String("{pages}"), QString::number(pageCount_));
            painter_.drawText(span, Qt::AlignRight | Qt::AlignVCenter, number);
        }
        painter_.setFont(bodyFont_);
    }

    QRectF dataSpan(const QRectF& line) const
    {
        for (std::size_t i = 0; i < definition_.blocks.size(); ++i) {
            if (definition_.blocks[i].kind == ReportBlockKind::Data)
                return QRectF(shapes_[i].left, line.top(), shapes_[i].width, line.height());
        }
        return line;
    }

    void rule(const TableShape& shape, double y) const
    {
        painter_.setPen(QPen(RuleColour, RuleWidthMm * dotsPerMm_));
        painter_.drawLine(QPointF(shape.left, y), QPointF(shape.left + shape.width, y));
    }

    QRectF cell(const TableShape::Column& column, double top, double height) const
    {
        return { column.left + padding_, top, column.width - 2 * padding_, height };
    }

    void paintHeading(const ReportBlock& block, double& top)
    {
        if (block.title.isEmpty())
            return;
        painter_.setPen(Qt::black);
        painter_.setFont(boldFont_);
        const double height = blockTitleHeight(block);
        painter_.drawText(QRectF(0, top, pageWidth_, height), Qt::AlignLeft | Qt::AlignVCenter,
            FillReportFields(block.title, content_.fields));
        top += height;
    }

    // The column titles in their grey band; returns the top of the first row.
    double paintTitleBand(const TableShape& shape, double top)
    {
        painter_.fillRect(QRectF(shape.left, top, shape.width, shape.titleBandHeight), TitleBandColour);
        rule(shape, top);
        rule(shape, top + shape.titleBandHeight);
        painter_.setPen(Qt::black);
        painter_.setFont(shape.bold);
        for (const TableShape::Column& column : shape.columns)
            painter_.drawText(cell(column, top, shape.titleBandHeight), column.alignment, column.title);
        painter_.setFont(shape.body);
        return top + shape.titleBandHeight;
    }

    void paintRow(
        const TableShape& shape, double top, qint64 rowNumber, const std::function<QString(std::size_t)>& text)
    {
        if (shape.shading && rowNumber % 2 == 1)
            painter_.fillRect(QRectF(shape.left, top, shape.width, shape.rowHeight), ShadedRowColour);
        painter_.setPen(Qt::black);
        for (std::size_t c = 0; c < shape.columns.size(); ++c)
            painter_.drawText(cell(shape.columns[c], top, shape.rowHeight), shape.columns[c].alignment, text(c));
    }

    void paintPiece(const Piece& piece, const ReportBlock& block)
    {
        double top = piece.top;
        if (piece.withTitle)
            paintHeading(block, top);
        switch (block.kind) {
        case ReportBlockKind::Fields:
            paintFields(block, top);
            break;
        case ReportBlockKind::Chart:
            PaintTimeHistory(painter_, QRectF(0, top, pageWidth_, block.heightMm * dotsPerMm_),
                *content_.charts.constFind(block.source), dotsPerMm_, ChartFontPt);
            break;
        case ReportBlockKind::Table:
            paintFigureRows(piece, block, top);
            break;
        case ReportBlockKind::Data:
            // The column titles over a summary on a page of its own.
            paintTitleBand(shapes_[piece.block], top);
            break;
        case ReportBlockKind::Summary:
            paintSummary(top);
            break;
        }
    }

    void paintFields(const ReportBlock& block, double top)
    {
        const double labelWidth = fieldLabelWidth(block);
        for (const FieldLine& line : fieldLines(block)) {
            painter_.setPen(Qt::black);
            painter_.setFont(boldFont_);
            painter_.drawText(
                QRectF(padding_, top, labelWidth, rowHeight_), Qt::AlignLeft | Qt::AlignVCenter, line.label);
            painter_.setFont(bodyFont_);
            const double textTop = top + rowHeight_ * (1 - 1 / RowSpacing) / 2;
            painter_.drawText(
                QRectF(labelWidth + padding_, textTop, pageWidth_ - labelWidth - 2 * padding_, line.height),
                Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line.text);
            top += line.height;
        }
    }

    void paintFigureRows(const Piece& piece, const ReportBlock& block, double top)
    {
        const TableShape& shape = shapes_[piece.block];
        const FigureTable& table = tableOf(block);
        double rowTop = paintTitleBand(shape, top);
        if (table.rows.empty()) {
            painter_.setPen(Qt::black);
            painter_.drawText(QRectF(shape.left + padding_, rowTop, shape.width, shape.rowHeight),
                Qt::AlignLeft | Qt::AlignVCenter, block.emptyText);
            rule(shape, rowTop + shape.rowHeight);
            return;
        }
        for (qint64 r = piece.firstRow; r < piece.firstRow + piece.rows; ++r) {
            const auto& row = table.rows[std::size_t(r)];
            paintRow(
                shape, rowTop, r, [&](std::size_t c) { return row[std::size_t(shape.columns[c].sourceColumn)].shown; });
            rowTop += shape.rowHeight;
        }
        rule(shape, rowTop);
    }

    // The data band's pieces from pieces_[first] on, painted as the table hands its rows over.
    // Returns the index of the last piece painted.
    std::size_t paintDataRows(std::size_t first)
    {
        std::size_t last = first;
        while (
            last + 1 < pieces_.size() && pieces_[last + 1].block == pieces_[first].block && pieces_[last + 1].rows > 0)
            ++last;
        const TableShape& shape = shapes_[pieces_[first].block];
        std::size_t current = first;
        qint64 onPage = 0;
        double rowTop = 0.0;
        const auto start = [&](const Piece& piece) {
            turnTo(piece.page);
            rowTop = paintTitleBand(shape, piece.top);
            onPage = 0;
        };
        start(pieces_[current]);
        qint64 rowNumber = 0;
        const qint64 rows = content_.table->rowCount();
        content_.table->forEachRow([&](const ReadingRow& row) {
            if (onPage == pieces_[current].rows) {
                if (current == last)
                    return;
                rule(shape, rowTop);
                if (progress_)
                    progress_(rowNumber, rows);
                start(pieces_[++current]);
            }
            paintRow(shape, rowTop, rowNumber, [&](std::size_t c) { return row.*shape.columns[c].field; });
            rowTop += shape.rowHeight;
            ++onPage;
            ++rowNumber;
            figures_.add(row.*summaryField_);
        });
        if (onPage > 0)
            rule(shape, rowTop);
        return last;
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

    void paintSummary(double top)
    {
        const auto data = std::find_if(definition_.blocks.begin(), definition_.blocks.end(),
            [](const ReportBlock& block) { return block.kind == ReportBlockKind::Data; });
        const TableShape& shape = shapes_[static_cast<std::size_t>(data - definition_.blocks.begin())];
        top += SummaryGapMm * dotsPerMm_;
        painter_.setPen(Qt::black);
        if (!definition_.summaryTitle.isEmpty()) {
            painter_.setFont(boldFont_);
            painter_.drawText(QRectF(shape.left + padding_, top, shape.width, rowHeight_),
                Qt::AlignLeft | Qt::AlignVCenter, definition_.summaryTitle);
            top += rowHeight_;
        }
        const double valueLeft = shape.left + labelWidth_;
        for (const ReportSummaryLine* shown : summaryLines_) {
            const ReportSummaryLine& line = *shown;
            painter_.setFont(boldFont_);
            painter_.drawText(QRectF(shape.left + padding_, top, labelWidth_, rowHeight_),
                Qt::AlignLeft | Qt::AlignVCenter, line.label);
            painter_.setFont(bodyFont_);
            painter_.drawText(QRectF(valueLeft, top, valueWidth_, rowHeight_), Qt::AlignRight | Qt::AlignVCenter,
                IsLevelFunction(line.function) ? levelText(line) : figures_.text(line.function));
            if (!line.unit.isEmpty()) {
                painter_.drawText(QRectF(valueLeft + valueWidth_ + padding_, top,
                                      shape.width - labelWidth_ - valueWidth_, rowHeight_),
                    Qt::AlignLeft | Qt::AlignVCenter, line.unit);
            }
            top += rowHeight_;
        }
    }

    const ReportDefinition& definition_;
    const ReportContent& content_;
    QPagedPaintDevice& device_;
    QPainter& painter_;
    QDateTime printed_;
    const ReportProgress& progress_;

    double dotsPerMm_ = 0.0;
    double pageWidth_ = 0.0;
    double pageHeight_ = 0.0;
    double padding_ = 0.0;
    QFont bodyFont_;
    QFont boldFont_;
    QFont titleFont_;
    double rowHeight_ = 0.0;
    double titleHeight_ = 0.0;
    double infoHeight_ = 0.0;
    double bodyTop_ = 0.0;

    RowField summaryField_ = nullptr;
    std::vector<TableShape> shapes_;
    double summaryHeight_ = 0.0;
    double labelWidth_ = 0.0;
    double valueWidth_ = 0.0;
    std::vector<const ReportSummaryLine*> summaryLines_;
    WeightedLevelStatistics statistics_;
    SummaryFigures figures_;

    std::vector<Piece> pieces_;
    qint64 pageCount_ = 0;
    double y_ = 0.0;
    bool atTop_ = true;
    qint64 page_ = 0;
};

} // namespace

void PaintReportPages(const ReportDefinition& definition, const ReportContent& content, QPagedPaintDevice& device,
    QPainter& painter, const QDateTime& printed, const ReportProgress& progress)
{
    ReportPainter(definition, content, device, painter, printed, progress).paint();
}
