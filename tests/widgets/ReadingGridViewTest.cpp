#include "widgets/ReadingGridView.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct GridFixture {
    QStandardItemModel model { 1000, 3 };
    ReadingGridView grid;

    GridFixture()
    {
        for (int row = 0; row < model.rowCount(); ++row)
            for (int column = 0; column < 3; ++column)
                model.setItem(row, column, new QStandardItem(QString::number(row * 10 + column)));
        grid.setModel(&model);
        grid.setSelectionBehavior(QAbstractItemView::SelectRows);
        grid.setSelectionMode(QAbstractItemView::SingleSelection);
        grid.resize(300, 400);
        grid.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&grid));
        grid.setFocus();
    }

    // Wholly within the viewport's height (the current column may have scrolled the first one aside).
    bool onScreen(int row) const
    {
        const QRect cell = grid.visualRect(model.index(row, 0));
        return cell.top() >= 0 && cell.bottom() < grid.viewport()->height();
    }
};

TEST(ReadingGridView, KeysMoveTheCurrentRowAndKeepItInView)
{
    GridFixture f;
    const int page = f.grid.viewport()->height() / f.grid.rowHeight();
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int expectedRow;
    };
    const Case cases[] = {
        { Qt::Key_End, Qt::ControlModifier, 999 },
        { Qt::Key_Up, Qt::NoModifier, 998 },
        { Qt::Key_PageUp, Qt::NoModifier, 998 - page },
        { Qt::Key_Home, Qt::ControlModifier, 0 },
        { Qt::Key_Up, Qt::NoModifier, 0 },
        { Qt::Key_PageDown, Qt::NoModifier, page },
    };
    for (const Case& c : cases) {
        QTest::keyClick(&f.grid, c.key, c.modifiers);
        EXPECT_EQ(f.grid.currentIndex().row(), c.expectedRow) << c.key;
        EXPECT_TRUE(f.onScreen(c.expectedRow)) << c.key;
        EXPECT_TRUE(f.grid.selectionModel()->isRowSelected(c.expectedRow, QModelIndex())) << c.key;
    }
}

TEST(ReadingGridView, ClickSelectsTheRowUnderThePointer)
{
    GridFixture f;
    f.grid.scrollTo(f.model.index(500, 0), QAbstractItemView::PositionAtTop);
    EXPECT_EQ(f.grid.firstVisibleRow(), 500);
    const QRect cell = f.grid.visualRect(f.model.index(503, 1));
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(f.grid.currentIndex(), f.model.index(503, 1));
    EXPECT_TRUE(f.grid.selectionModel()->isRowSelected(503, QModelIndex()));
    EXPECT_EQ(f.grid.indexAt(cell.center()), f.model.index(503, 1));
}

TEST(ReadingGridView, AppendedRowsExtendTheScrollRange)
{
    GridFixture f;
    const int before = f.grid.verticalScrollBar()->maximum();
    f.model.appendRow({ new QStandardItem("a"), new QStandardItem("b"), new QStandardItem("c") });
    EXPECT_EQ(f.grid.verticalScrollBar()->maximum(), before + 1);
    const QModelIndex newest = f.model.index(1000, 0);
    f.grid.setCurrentIndex(newest);
    EXPECT_TRUE(f.onScreen(1000));
    // Painted in the viewport where the row lies.
    QApplication::processEvents();
    EXPECT_EQ(f.grid.indexAt(f.grid.visualRect(newest).center()), newest);
}

} // namespace
