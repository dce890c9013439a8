#pragma once

#include "core/systemvar.h"
#include "desktop/ChosenPrinter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

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
