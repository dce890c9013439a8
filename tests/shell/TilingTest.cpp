// Cascade and tiling with every child window open: no window is made smaller than its controls need,
// so no two controls of one window lie over each other, none is cut off or squeezed below its own
// smallest size, and the graphs keep room for their axis titles and every name of their legends.

#include "ProgramCopy.h"
#include "statswindow/SoundLevelStatisticsWindow.h"
#include "widgets/GraphPanel.h"
#include "widgets/LEDFont.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QChart>
#include <QComboBox>
#include <QCoreApplication>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QLegend>
#include <QLineEdit>
#include <QMdiArea>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QValueAxis>
#include <functional>

namespace {

bool IsControl(const QWidget* widget)
{
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLabel*>(widget)
        || qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget)
        || qobject_cast<const QComboBox*>(widget) || qobject_cast<const QProgressBar*>(widget)
        || qobject_cast<const QAbstractScrollArea*>(widget) || qobject_cast<const QScrollBar*>(widget)
        || qobject_cast<const QTabBar*>(widget) || qobject_cast<const TLEDFontNum*>(widget);
}

// A widget that places its children itself, without a layout (the meter's read-out panel with its
// digits over the level arc), is one control; the splitter and the pages of a tab widget hold
// windows of their own.
bool IsComposite(const QWidget* widget)
{
    return !widget->layout() && !widget->findChildren<QWidget*>().isEmpty() && !qobject_cast<const QSplitter*>(widget)
        && !qobject_cast<const QStackedWidget*>(widget) && !qobject_cast<const QTabWidget*>(widget);
}

void CollectControls(QWidget* parent, const QWidget* window, QList<QWidget*>& controls)
{
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisibleTo(window))
            continue;
        if (IsControl(child) || IsComposite(child))
            controls << child;
        else
            CollectControls(child, window, controls);
    }
}

// A control's smallest size as it asks for it; a label that wraps its words may be narrower.
QSize Smallest(const QWidget* control)
{
    const auto* label = qobject_cast<const QLabel*>(control);
    if (label && label->wordWrap())
        return {};
    // A push button needs the room of its text and a margin; the style's wish for a
    // wider button (80 pixels) is no overlap when the window is drawn to a smaller one.
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
        const QSize text = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        return QSize(text.width() + margin, text.height()).expandedTo(button->minimumSize());
    }
    if (qobject_cast<const QAbstractButton*>(control) || label || qobject_cast<const QLineEdit*>(control)
        || qobject_cast<const QComboBox*>(control) || qobject_cast<const QAbstractSpinBox*>(control))
        return control->minimumSizeHint().expandedTo(control->minimumSize());
    return control->minimumSize();
}

std::string Name(const QWidget* widget)
{
    return (
        widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className()) : widget->objectName())
        .toStdString();
}

// The names of a legend that lie whole inside it: the legend cuts off the rows that do not fit.
qsizetype LegendNamesShownWhole(const QLegend& legend)
{
    qsizetype shown = 0;
    const std::function<void(const QGraphicsItem*)> count = [&](const QGraphicsItem* item) {
        for (const QGraphicsItem* child : item->childItems()) {
            const auto* text = qgraphicsitem_cast<const QGraphicsTextItem*>(child);
            if (text && !text->toPlainText().isEmpty() && child->isVisible()
                && legend.rect().contains(child->mapRectToItem(&legend, child->boundingRect())))
                ++shown;
            count(child);
        }
    };
    count(&legend);
    return shown;
}

void ExpectControlsApart(const QWidget* window)
{
    QList<QWidget*> controls;
    CollectControls(const_cast<QWidget*>(window), window, controls);
    ASSERT_GT(controls.size(), 1);
    QList<QRect> places;
    for (const QWidget* control : controls) {
        const QRect place(control->mapTo(window, QPoint(0, 0)), control->size());
        EXPECT_TRUE(window->rect().contains(place)) << Name(control) << " is cut off by the window's edge";
        const QSize smallest = Smallest(control);
        EXPECT_GE(place.width(), smallest.width()) << Name(control) << " is squeezed";
        EXPECT_GE(place.height(), smallest.height()) << Name(control) << " is squeezed";
        for (qsizetype other = 0; other < places.size(); ++other) {
            EXPECT_FALSE(place.intersects(places[other]))
                << Name(control) << " lies over " << Name(controls[other]) << " in " << Name(window);
        }
        places << place;
    }
    for (const GraphPanel* graph : window->findChildren<GraphPanel*>()) {
        const int title = QFontMetrics(graph->valueAxis()->titleFont()).horizontalAdvance(graph->valueAxisTitle());
        EXPECT_GE(graph->chart()->plotArea().height(), title) << "the value axis's title of " << Name(window);
        const QLegend* legend = graph->chart()->legend();
        if (legend->isVisible()) {
            EXPECT_EQ(LegendNamesShownWhole(*legend), legend->markers().size())
                << "every name of the legend of " << Name(window);
        }
    }
}

TEST(MainWindow, TiledOrCascadedNoWindowsControlsLieOverEachOther)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path(), true, {}, ProgramCopy::ImportWindow::Real, ProgramCopy::AnalysisWindow::Real);
    copy.realSetupWindow = true;
    copy.realAboutBox = true;
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;
    frame.show();
    frame.RealTimeMeasure1->trigger();
    frame.ImportData1->trigger();
    // Ten files, the most the analysis window takes: its legend has ten names to show.
    QStringList files;
    for (int i = 1; i <= 10; ++i)
        files << WriteReadings(copy.test.folder.filePath(QStringLiteral("run%1.dmr").arg(i)), { "50.0", "51.0" });
    copy.test.ui.openFileNameLists.push_back(files);
    frame.Open1->trigger();
    frame.SystemSetup1->trigger();
    frame.About1->trigger();
    frame.Statistics1->trigger();
    const QList<QMdiSubWindow*> windows = frame.MdiArea()->subWindowList();
    ASSERT_EQ(windows.size(), 6);

    for (QAction* arrangement : { frame.Cascade1, frame.Horizontally1, frame.Vertically1 }) {
        SCOPED_TRACE(arrangement->text().toStdString());
        arrangement->trigger();
        QCoreApplication::processEvents();
        for (const QMdiSubWindow* sub : windows) {
            SCOPED_TRACE(Name(sub->widget()));
            EXPECT_GE(sub->width(), sub->minimumSizeHint().width());
            EXPECT_GE(sub->height(), sub->minimumSizeHint().height());
            ExpectControlsApart(sub->widget());
        }
    }
    // Tiled, the windows follow each other rather than lie over each other.
    for (qsizetype i = 0; i < windows.size(); ++i) {
        for (qsizetype j = i + 1; j < windows.size(); ++j)
            EXPECT_FALSE(windows[i]->geometry().intersects(windows[j]->geometry()))
                << Name(windows[i]->widget()) << " and " << Name(windows[j]->widget());
    }
}

} // namespace
