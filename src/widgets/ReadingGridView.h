#pragma once

#include <QAbstractItemView>

class QHeaderView;
class ReadingStatistics;

// A grid of readings: every row the same height, columns under a horizontal header, the current
// row selected whole. It exists because a QTableView keeps one vertical header section per row and
// walks all of them whenever a row is added and then shown, which at a million rows makes every
// new reading cost half a millisecond more; here a row's place is its number times the row height,
// so appending a row and scrolling to it cost the same at any length. Painting reads only the
// visible rows from the model, through the item delegate as usual.
class ReadingGridView final : public QAbstractItemView {
    Q_OBJECT

public:
    explicit ReadingGridView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    QHeaderView* horizontalHeader() const { return header_; }

    int rowHeight() const { return rowHeight_; }
    void setRowHeight(int height);
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    // The row shown at the top.
    int firstVisibleRow() const;
    // Makes the model's last row the current one and scrolls to it, keeping the current column.
    void moveToLastRow();

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;

private:
    int rowCount() const;
    int columnCount() const;
    // Rows that fit wholly in the viewport (at least one).
    int fullyVisibleRows() const;
    int rowAtY(int y) const;

    QHeaderView* header_ = nullptr;
    int rowHeight_ = 20;
};

// The grid of a readings window over a table's model ("DBGrid1"): RecNo, MeaValue, Weight, Time and
// Date, white text on the classic desktop teal, read-only, whole rows selected, and the rows of the
// maximum and minimum coloured from the window's statistics.
ReadingGridView* MakeReadingsGrid(const ReadingStatistics& statistics, QAbstractItemModel* model, QWidget* parent);
