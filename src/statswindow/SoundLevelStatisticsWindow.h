#pragma once

// The "Sound Level Statistics" child window: Leq, percentile levels, SEL and the time above the high
// alarm level of the readings in the active readings window, one column per run or file, A- and
// C-weighted readings in rows of their own.
//
// It keeps no readings and is told of none: the frame hands it the active readings window at its
// one-second refresh and whenever another child window becomes active, and the window asks that
// window for its accumulators. While the active child shows no readings (this window itself, the
// setup window, the about box) it keeps to the readings window it showed last.

#include <QPointer>
#include <QStringList>
#include <QWidget>

class QLabel;
class QTableWidget;
class ReadingsWindow;
class TForm6;

class SoundLevelStatisticsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int DesignedWidth = 400;
    static constexpr int DesignedHeight = 600;

    explicit SoundLevelStatisticsWindow(TForm6& module, QWidget* parent = nullptr);

    // Shows the figures of active, or of the window shown last when active is null.
    void refresh(ReadingsWindow* active);
    // The readings window whose figures are on show; null when there is none.
    ReadingsWindow* source() const;

    QSize sizeHint() const override { return { DesignedWidth, DesignedHeight }; }

private:
    void setCell(int row, int column, const QString& text);

    TForm6& module_;
    QPointer<ReadingsWindow> source_;
    QLabel* sourceLabel_ = nullptr;
    QLabel* noteLabel_ = nullptr;
    QTableWidget* figures_ = nullptr;
    QStringList columnNames_;
    QStringList rowLabels_;
};
