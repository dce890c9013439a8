#pragma once

// The real-time measurement window: the meter's live readings on a panel styled like the meter's
// own display, in the table MeaData and its grid, and on a graph, with their maximum, minimum and
// average and the PC-side alarms.

#include "core/LiveReading.h"
#include "core/ReadingStatistics.h"
#include "stats/LevelStatistics.h"
#include "windowkit/ReadingsWindow.h"

#include <QImage>
#include <QLine>
#include <QPoint>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class ChosenPrinter;
class GraphPanel;
class QCloseEvent;
class QDate;
class QDateTime;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class TForm6;
class TLEDFontNum;
class LevelArcView;
class ReadingGridView;

// The measurement window, component name "Form5". Readings arrive as the event WM_NEWREADING, sent
// synchronously by the module's SaveRead after it has stored LiveValue and LiveFlags; the window is
// told of nothing else and reads and writes the module's shared variables directly.
//
// Inside the main frame the window lives in a QMdiSubWindow that deletes it when the close goes
// through; a close cancelled at the unsaved-data question minimises that subwindow instead.
class TForm5 : public ReadingsWindow {
    Q_OBJECT

public:
    // The level arc: ticks of the scale, and the image it is drawn into (the read-out panel's
    // client area).
    static constexpr int ScaleTicks = 50;
    static constexpr int ArcImageWidth = 257;
    static constexpr int ArcImageHeight = 147;

    // The opening steps (FormCreate) run here.
    // The graph prints on the printer chosen with Printer Setup, which outlives the window.
    TForm5(TForm6& module, ChosenPrinter& printer, QWidget* parent = nullptr);
    ~TForm5() override;

    TForm5(const TForm5&) = delete;
    TForm5& operator=(const TForm5&) = delete;

    // The buttons of the bottom strip. The main window's File > Save calls SaveButtonClick.
    void StartButtonClick();
    void StopButtonClick();
    void ClearButtonClick();
    void SaveButtonClick();
    // The one-second poll of the meter while a run is in progress.
    void Timer1Timer();

    // A run is in progress ("Start to Measure" is hidden).
    bool IsMeasuring() const;
    bool SaveEnabled() const;

    // What the frame's File commands see: MeaData; Save and export only while no run is in progress.
    ReadingTable* readingsTable() const override;
    QAbstractItemView* readingsGrid() const override;
    bool canExportAndPrint() const override;
    bool canSave() const override;
    void save() override;
    bool hasUnsavedReadings() const override;
    // The run's readings since the window opened or was last cleared, fed as each one arrives.
    std::vector<ReadingSeriesStatistics> levelStatistics() const override;

    // Readings since the window opened or was last cleared; the newest row's record number.
    std::int32_t LiveReadingCount() const { return liveReadingCount_; }
    double LiveLevelMax() const { return statistics_.maximum(); }
    double LiveLevelMin() const { return statistics_.minimum(); }
    // How many ticks of the level arc the last drawing lit (more than ScaleTicks continue past
    // the scale's right end).
    int LitTicks() const { return litTicks_; }
    const QImage& LevelArcImage() const { return arcImage_; }
    GraphPanel* Graph() const { return graph_; }

protected:
    bool event(QEvent* event) override;
    // FormClose.
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void buildLayout(ChosenPrinter& printer);
    QFrame* buildReadoutPanel();
    // WM_NEWREADING: the reading in LiveValue and LiveFlags, through each of the jobs below in turn.
    void NewReading();
    // Plays the alarm sounds for a reading outside the alarm levels, as the meter sent it.
    void soundAlarms();
    // The level read-out, centred on the panel.
    void showLevel(const QString& readingText);
    // MAX, FAST/SLOW, the range read-outs, UNDER/OVER and the level arc.
    void showFlagsAndArc(std::int32_t flags, double readingValue);
    void DrawLevelArc(int litTicks);
    QLine tickLine(int tick) const;
    const std::vector<QPoint>& tickPixels(int tick);
    // A new row of MeaData, shown as the grid's current row. False when the table refused it (the
    // run has then ended and the user been told).
    bool appendReadingRow(const QString& readingText, bool cWeighting, const QDateTime& now);
    // Maximum, minimum and average, the graph's footer, the grid's row colours, and the sound-level
    // statistics.
    void showStatistics(std::int32_t tenths, bool cWeighting, const QDate& today);
    void emptyTable();
    // Stops the timer and swaps the Start/Stop buttons; gives the meter back if the run held it.
    void endRun();
    // What the Save steps came to: written, abandoned by the user, or failed with a message shown.
    enum class SaveOutcome { Written, Abandoned, Failed };
    SaveOutcome saveReadings();
    // The close is called off: the window stays, registered again as the measurement window.
    void keepOpen(QCloseEvent* event, bool minimise);
    // Runs an action; a failure is put right by onFailure, then shown in the window's error box,
    // and gives false.
    bool runOrReport(const std::function<void()>& action, const std::function<void()>& onFailure = {});

    TForm6& module_;

    std::int32_t liveReadingCount_ = 0;
    ReadingStatistics statistics_;
    std::shared_ptr<WeightedLevelStatistics> levelStatistics_ = std::make_shared<WeightedLevelStatistics>();
    int litTicks_ = 0;
    QImage arcImage_;
    std::vector<std::vector<QPoint>> tickPixels_;

    // Timer1: the one-second poll, running only during a run.
    QTimer* timer1_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QFrame* readoutPanel_ = nullptr;
    LevelArcView* arcView_ = nullptr;
    TLEDFontNum* levelReadout_ = nullptr;
    TLEDFontNum* rangeLowReadout_ = nullptr;
    TLEDFontNum* rangeHighReadout_ = nullptr;
    QLabel* underFlag_ = nullptr;
    QLabel* fastFlag_ = nullptr;
    QLabel* slowFlag_ = nullptr;
    QLabel* overFlag_ = nullptr;
    QLabel* maxFlag_ = nullptr;
    QLabel* levelLabel_ = nullptr;
    QLabel* weightingLetter_ = nullptr;
    QLabel* unitLabel_ = nullptr;
    ReadingGridView* grid_ = nullptr;
    GraphPanel* graph_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QLineEdit* fileNameEdit_ = nullptr;
};
