#pragma once

#include "core/systemvar.h"
#include "desktop/ChosenPrinter.h"

#include <QAbstractItemView>
#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

// The background of each row's level cell (column 2) as it is on the screen, read a few pixels in
// from the cell's right edge, clear of the text.
inline std::vector<QColor> LevelCellColours(QAbstractItemView* grid)
{
    QCoreApplication::processEvents();
    const QImage image = grid->viewport()->grab().toImage();
    std::vector<QColor> colours;
    for (int row = 0; row < grid->model()->rowCount(); ++row) {
        const QRect cell = grid->visualRect(grid->model()->index(row, 2));
        colours.push_back(image.pixelColor(cell.right() - 3, cell.center().y()));
    }
    return colours;
}

// A child window as the main frame holds it: in a subwindow of a shown MDI area that deletes it
// once its close goes through, registered in the module like the frame registers it. Its controls
// are found by object name.
template <typename Window> struct ChildWindowHarness {
    // Creates the window on the module and shows it maximised; false when it never appeared.
    bool open(TForm6& module, ChildWindowKind kind)
    {
        window = new Window(module, printer);
        module.ChildWindowOpened(kind, window.data());
        subWindow = area->addSubWindow(window);
        subWindow->setAttribute(Qt::WA_DeleteOnClose);
        area->resize(1100, 700);
        area->show();
        subWindow->showMaximized();
        return QTest::qWaitForWindowExposed(area.get());
    }

    template <typename T> T* child(const char* name) const
    {
        T* found = window->template findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }

    // The subwindow deletes itself later, once its close has gone through.
    bool gone(int timeoutMs = 5000) const
    {
        QElapsedTimer waited;
        waited.start();
        while (!window.isNull() && waited.elapsed() < timeoutMs) {
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        return window.isNull();
    }

    // Declared first: it outlives the window whose graph prints on it.
    ChosenPrinter printer;
    std::unique_ptr<QMdiArea> area = std::make_unique<QMdiArea>();
    QPointer<QMdiSubWindow> subWindow;
    QPointer<Window> window;
};
