#pragma once

// How the windows and the frame keep each other right without talking to each other: the child
// windows' registry, the commands' enable flags, the frame's progress bar position, and what the
// measurement window's readings add up to.

#include <QObject>
#include <QPointer>

#include <cstdint>

struct WindowBookkeeping {
    // Objects, not widgets: the module only sends them messages and compares them, and a program
    // without a display registers a receiver of its own as MeasureWindowHandle.
    QPointer<QObject> MeasureWindowHandle;
    QPointer<QObject> ImportWindowHandle;
    QPointer<QObject> AnalysisWindowHandle;
    QPointer<QObject> MeasureWindow;
    QPointer<QObject> ImportWindow;
    QPointer<QObject> AnalysisWindow;
    QPointer<QObject> SetupWindow;
    QPointer<QObject> AboutWindow;
    bool FormsReady = false;
    // Set by a start-up that could not save the readings a copy that did not close left in MeaData and
    // GetRecorde: FormCreate then leaves those two tables as they are.
    bool KeepReadingTables = false;
    bool MeasureCommandEnabled = false;
    bool ImportCommandEnabled = false;
    bool SetupCommandEnabled = false;
    bool AboutCommandEnabled = false;
    bool AnalysisWindowOpen = false;
    bool DropMeasureMenuItem = false;
    bool DropImportMenuItem = false;
    bool DropAnalysisMenuItem = false;
    bool ShownConnected = false;
    // The position the frame's progress bar shows at its next tick.
    std::int32_t ProgressPosition = 0;
    bool MeasureSaved = false;
    double LiveLevelSum = 0.0;
    std::int16_t LoadedFileCount = 0;
};
