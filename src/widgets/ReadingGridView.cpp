#include "widgets/ReadingGridView.h"

#include "widgets/ReadingRowColours.h"

#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

ReadingGridView::ReadingGridView(QWidget* parent)
    : QAbstractItemView(parent)
    , header_(new QHeaderView(Qt::Horizontal, this))
{
    header_->setSectionsClickable(false);
    header_->setHighlightSections(false);
    header_->setSectionResizeMode(QHeaderView::Interactive);
    connect(header_, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(header_, &QHeaderView::sectionMoved, this, [this] { viewport()->update(); });
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollMode(ScrollPerPixel);
    rowHeight_ = fontMetrics().height() + 4;
}

void ReadingGridView::setModel(QAbstractItemModel* model)
{
    QAbstractItemView::setModel(model);
    header_->setModel(model);
    updateGeometries();
}

void ReadingGridView::setRowHeight(int height)
{
    rowHeight_ = std::max(1, height);
    updateGeometries();
    viewport()->update();
}

int ReadingGridView::columnWidth(int column) const
{
    return header_->sectionSize(column);
}

void ReadingGridView::setColumnWidth(int column, int width)
{
    header_->resizeSection(column, width);
}

int ReadingGridView::rowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int ReadingGridView::columnCount() const
{
    return model() ? model()->columnCount(rootIndex()) : 0;
}

int ReadingGridView::firstVisibleRow() const
{
    return verticalScrollBar()->value();
}

int ReadingGridView::fullyVisibleRows() const
{
    return std::max(1, viewport()->height() / rowHeight_);
}

int ReadingGridView::rowAtY(int y) const
{
    if (y < 0)
        return -1;
    const int row = firstVisibleRow() + y / rowHeight_;
    return row < rowCount() ? row : -1;
}

QRect ReadingGridView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.parent() != rootIndex())
        return {};
    const int x = header_->sectionViewportPosition(index.column());
    const int y = (index.row() - firstVisibleRow()) * rowHeight_;
    return { x, y, header_->sectionSize(index.column()), rowHeight_ };
}

void ReadingGridView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid())
        return;
    const int row = index.row();
    const int first = firstVisibleRow();
    const int visible = fullyVisibleRows();
    int top = first;
    switch (hint) {
    case PositionAtTop:
        top = row;
        break;
    case PositionAtBottom:
        top = row - visible + 1;
        break;
    case PositionAtCenter:
        top = row - visible / 2;
        break;
    case EnsureVisible:
        if (row < first)
            top = row;
        else if (row >= first + visible)
            top = row - visible + 1;
        break;
    }
    verticalScrollBar()->setValue(top);

    // The column too, as far as it fits.
    const int left = header_->sectionPosition(index.column());
    const int right = left + header_->sectionSize(index.column());
    const int offset = horizontalScrollBar()->value();
    if (left < offset)
        horizontalScrollBar()->setValue(left);
    else if (right > offset + viewport()->width())
        horizontalScrollBar()->setValue(std::min(left, right - viewport()->width()));
}

QModelIndex ReadingGridView::indexAt(const QPoint& point) const
{
    const int row = rowAtY(point.y());
    const int column = header_->logicalIndexAt(point.x());
    if (row < 0 || column < 0 || !model())
        return {};
    return model()->index(row, column, rootIndex());
}

QModelIndex ReadingGridView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    const int rows = rowCount();
    if (rows == 0 || columnCount() == 0)
        return {};
    const QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() : 0;
    int visualColumn = current.isValid() ? header_->visualIndex(current.column()) : 0;
    const int lastVisualColumn = columnCount() - 1;
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= fullyVisibleRows();
        break;
    case MovePageDown:
        row += fullyVisibleRows();
        break;
    case MoveLeft:
        --visualColumn;
        break;
    case MoveRight:
        ++visualColumn;
        break;
    case MoveHome:
        if (modifiers & Qt::ControlModifier)
            row = 0;
        visualColumn = 0;
        break;
    case MoveEnd:
        if (modifiers & Qt::ControlModifier)
            row = rows - 1;
        visualColumn = lastVisualColumn;
        break;
    }
    row = std::clamp(row, 0, rows - 1);
    visualColumn = std::clamp(visualColumn, 0, lastVisualColumn);
    return model()->index(row, header_->logicalIndex(visualColumn), rootIndex());
}

int ReadingGridView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int ReadingGridView::verticalOffset() const
{
    return firstVisibleRow() * rowHeight_;
}

bool ReadingGridView::isIndexHidden(const QModelIndex&) const
{
    return false;
}

void ReadingGridView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    if (!model() || !selectionModel())
        return;
    const QRect area = rect.normalized();
    const int top = rowAtY(std::max(0, area.top()));
    const int bottom = std::max(top, rowAtY(area.bottom()) >= 0 ? rowAtY(area.bottom()) : rowCount() - 1);
    int left = header_->logicalIndexAt(area.left());
    int right = header_->logicalIndexAt(area.right());
    if (top < 0)
        return;
    if (left < 0)
        left = header_->logicalIndex(0);
    if (right < 0)
        right = header_->logicalIndex(columnCount() - 1);
    const QItemSelection selection(model()->index(top, std::min(left, right), rootIndex()),
        model()->index(bottom, std::max(left, right), rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion ReadingGridView::visualRegionForSelection(const QItemSelection& selection) const
{
    // Only the rows on screen matter; a selection can span far more.
    const int first = firstVisibleRow();
    const int last = first + fullyVisibleRows();
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.parent() != rootIndex())
            continue;
        const int top = std::max(range.top(), first);
        const int bottom = std::min(range.bottom(), last);
        if (top > bottom)
            continue;
        region += QRect(0, (top - first) * rowHeight_, viewport()->width(), (bottom - top + 1) * rowHeight_);
    }
    return region;
}

void ReadingGridView::updateGeometries()
{
    const int headerHeight = header_->isHidden() ? 0 : header_->sizeHint().height();
    if (viewportMargins().top() != headerHeight)
        setViewportMargins(0, headerHeight, 0, 0);
    const QRect area = viewport()->geometry();
    header_->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);

    const int rows = rowCount();
    const int visible = fullyVisibleRows();
    verticalScrollBar()->setRange(0, std::max(0, rows - visible));
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setSingleStep(1);

    const int width = header_->length();
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(std::max(1, rowHeight_));
    header_->setOffset(horizontalScrollBar()->value());

    // A model that hands out its rows a page at a time: ask for more while the screen is not full.
    if (model() && rows < visible && model()->canFetchMore(rootIndex()))
        model()->fetchMore(rootIndex());

    QAbstractItemView::updateGeometries();
}

void ReadingGridView::scrollContentsBy(int dx, int dy)
{
    if (dx != 0)
        header_->setOffset(horizontalScrollBar()->value());
    // The vertical bar counts rows. Shifting the pixels leaves only the rows scrolled in to paint:
    // following new readings costs one row, not the whole grid.
    viewport()->scroll(dx, dy * rowHeight_);
}

void ReadingGridView::rowsInserted(const QModelIndex& parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex())
        return;
    const int rows = rowCount();
    const int visible = fullyVisibleRows();
    verticalScrollBar()->setRange(0, std::max(0, rows - visible));
    // New rows change the screen only where they land in it.
    const int first = firstVisibleRow();
    const int top = std::max(start, first);
    const int bottom = std::min(end, first + visible);
    if (top <= bottom)
        viewport()->update(QRect(0, (top - first) * rowHeight_, viewport()->width(), (bottom - top + 1) * rowHeight_));
}

void ReadingGridView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const int rows = rowCount();
    const int columns = columnCount();
    if (!model() || columns == 0)
        return;

    const QRect dirty = event->rect();
    const int first = firstVisibleRow();
    const int firstRow = std::max(first, first + dirty.top() / rowHeight_);
    const int lastRow = std::min(rows - 1, first + dirty.bottom() / rowHeight_);
    const QColor gridColour
        = QColor::fromRgba(static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, nullptr, this)));
    const QModelIndex current = currentIndex();
    const bool focused = hasFocus();

    QStyleOptionViewItem option;
    initViewItemOption(&option);
    for (int row = firstRow; row <= lastRow; ++row) {
        const int y = (row - first) * rowHeight_;
        for (int visual = 0; visual < columns; ++visual) {
            const int column = header_->logicalIndex(visual);
            if (header_->isSectionHidden(column))
                continue;
            const int x = header_->sectionViewportPosition(column);
            const int width = header_->sectionSize(column);
            if (x + width <= dirty.left() || x > dirty.right())
                continue;
            const QModelIndex index = model()->index(row, column, rootIndex());
            QStyleOptionViewItem cell(option);
            cell.rect = QRect(x, y, width - 1, rowHeight_ - 1);
            cell.state = QStyle::State_Enabled;
            if (isActiveWindow())
                cell.state |= QStyle::State_Active;
            if (selectionModel() && selectionModel()->isSelected(index))
                cell.state |= QStyle::State_Selected;
            if (focused && index == current)
                cell.state |= QStyle::State_HasFocus;
            itemDelegateForIndex(index)->paint(&painter, cell, index);
            painter.setPen(gridColour);
            painter.drawLine(x + width - 1, y, x + width - 1, y + rowHeight_ - 1);
            painter.drawLine(x, y + rowHeight_ - 1, x + width - 1, y + rowHeight_ - 1);
        }
    }
}

void ReadingGridView::moveToLastRow()
{
    QAbstractItemModel* source = model();
    if (!source)
        return;
    while (source->canFetchMore(QModelIndex()))
        source->fetchMore(QModelIndex());
    const int last = source->rowCount() - 1;
    if (last < 0)
        return;
    const QModelIndex current = currentIndex();
    const QModelIndex newest = source->index(last, current.isValid() ? current.column() : 0);
    setCurrentIndex(newest);
    scrollTo(newest);
}

ReadingGridView* MakeReadingsGrid(const ReadingStatistics& statistics, QAbstractItemModel* model, QWidget* parent)
{
    // Linux has no desktop colour to borrow for the grid; this is the classic one, under white text.
    const QColor background(0, 128, 128);
    auto* grid = new ReadingGridView(parent);
    grid->setObjectName(QStringLiteral("DBGrid1"));
    grid->setFrameShape(QFrame::Box);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    QPalette palette = grid->palette();
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::AlternateBase, background);
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    grid->setPalette(palette);
    grid->setItemDelegate(new ReadingRowColours(statistics, grid));
    if (model)
        grid->setModel(model);
    const int charWidth = grid->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int columnWidths[] = { 7 * charWidth, 8 * charWidth, 7 * charWidth, 10 * charWidth, 11 * charWidth };
    for (int column = 0; column < 5; ++column)
        grid->setColumnWidth(column, columnWidths[column]);
    return grid;
}
