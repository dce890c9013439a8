#pragma once

// The "Sound Level Statistics" child window, in four pages:
// - Summary: Leq, percentile levels, SEL and the time above the high alarm level of the readings in
//   the active readings window, one column per run or file, A- and C-weighted readings in rows of
//   their own;
// - Periods, Hourly, Events: the noise assessment of one of those runs or files (chosen above the
//   pages when there are several): Lday, Levening, Lnight, Lden and Ldn with their coverage per day
//   and over the whole run, the clock hours, and the events above a threshold, with the bounds and
//   the event rules set on the pages.
// "Print Report…" prints the noise report of the run or file on show through the same output
// dialog as the data sheet.
//
// It keeps no readings and is told of none: the frame hands it the active readings window at its
// one-second refresh and whenever another child window becomes active, and the window asks that
// window for its accumulators, and reads the rows its table has gained for the assessment (only
// while an assessment page is on show). While the active child shows no readings (this window
// itself, the setup window, the about box) it keeps to the readings window it showed last.

#include "stats/GrowingSeries.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <vector>

class ChosenPrinter;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class ReadingsWindow;
class TForm6;
struct FigureTable;
struct ReadingSeriesStatistics;

class SoundLevelStatisticsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int DesignedWidth = 640;
    static constexpr int DesignedHeight = 600;

    SoundLevelStatisticsWindow(TForm6& module, ChosenPrinter& printer, QWidget* parent = nullptr);

    // Shows the figures of active, or of the window shown last when active is null.
    void refresh(ReadingsWindow* active);
    // The readings window whose figures are on show; null when there is none.
    ReadingsWindow* source() const;

    // The settings the assessment pages are figured with.
    NoiseSettings noiseSettings() const;

    // "Print Report…": the noise report of the run or file on show.
    void PrintReportButtonClick();

    QSize sizeHint() const override { return { DesignedWidth, DesignedHeight }; }

private:
    QWidget* makeSummaryPage();
    QWidget* makePeriodsPage();
    QWidget* makeEventsPage();
    QSpinBox* hourBox(const char* name, int value);
    QDoubleSpinBox* decibelBox(const char* name, double value, double maximum);
    QSpinBox* secondsBox(const char* name, int value, int lowest);
    // A page of the assessment: a row of labelled settings over its table.
    QWidget* settingsPage(const std::vector<std::pair<const char*, QWidget*>>& settings, QTableWidget* table);
    void settingsChanged();
    void refreshSummary(const std::vector<ReadingSeriesStatistics>& series, QStringList& notes);
    // The assessment pages, of the series chosen; notes say why a page is empty.
    void refreshAssessment(const std::vector<ReadingSeriesStatistics>& series, QStringList& notes);
    void chooseSeries(const std::vector<ReadingSeriesStatistics>& series);
    void setCell(QTableWidget* table, int row, int column, const QString& text, bool numeric);
    void showTable(QTableWidget* table, const FigureTable& figures);

    TForm6& module_;
    ChosenPrinter& printer_;
    QPointer<ReadingsWindow> source_;
    QLabel* sourceLabel_ = nullptr;
    QLabel* noteLabel_ = nullptr;
    QComboBox* seriesChooser_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QTableWidget* figures_ = nullptr;
    QTableWidget* periods_ = nullptr;
    QTableWidget* hours_ = nullptr;
    QTableWidget* events_ = nullptr;
    QSpinBox* dayStart_ = nullptr;
    QSpinBox* eveningStart_ = nullptr;
    QSpinBox* nightStart_ = nullptr;
    QSpinBox* dnNightStart_ = nullptr;
    QDoubleSpinBox* eveningPenalty_ = nullptr;
    QDoubleSpinBox* nightPenalty_ = nullptr;
    QDoubleSpinBox* threshold_ = nullptr;
    QSpinBox* minimumDuration_ = nullptr;
    QSpinBox* mergeGap_ = nullptr;
    QPushButton* printReport_ = nullptr;
    QStringList columnNames_;
    QStringList rowLabels_;
    // The assessment of the series on show: which window and which of its series, and its figures.
    QPointer<ReadingsWindow> assessedWindow_;
    QString assessedSeries_;
    std::unique_ptr<GrowingSeries> assessment_;
};
