#pragma once

// The meter-memory import window: downloads what the meter logged on its own, decodes it into
// readings with date, time, level and weighting, and shows them in the table GetRecorde and its grid,
// on a graph, and as count, maximum, minimum and average. The readings can be saved as a data file.

#include "stats/LevelStatistics.h"
#include "windowkit/ReadingsWindow.h"

#include <cstdint>
#include <memory>

class ChosenPrinter;
class GraphPanel;
class QCloseEvent;
class QLabel;
class WaitNotice;
class QLineEdit;
class QPushButton;
class ReadingGridView;
class StagingFileLease;
class TForm6;
struct DecodedReading;
enum class DownloadOutcome;

// The import window, component name "Form4". The decoding state (the stamp, the interval, the
// maximum and minimum) belongs to the module and outlives the window, so a new window carries on
// from the last download of the program run.
//
// A download runs inside the "Import" button's handler: the meter's replies, timers and the user's
// commands in other windows are handled while it waits. Closing the window meanwhile calls the
// download off at the next block; the window closes once the handler has let go of it.
class TForm4 : public ReadingsWindow {
    Q_OBJECT

public:
    // The opening steps (FormCreate) run here; they empty GetRecorde.
    // The graph prints on the printer chosen with Printer Setup, which outlives the window.
    TForm4(TForm6& module, ChosenPrinter& printer, QWidget* parent = nullptr);
    ~TForm4() override;

    TForm4(const TForm4&) = delete;
    TForm4& operator=(const TForm4&) = delete;

    // The "Import" and "Save" buttons; the main window's File > Save presses "Save".
    void ImportButtonClick();
    void SaveButtonClick();

    bool Downloading() const { return downloading_; }
    bool SaveEnabled() const;

    // What the frame's File commands see: GetRecorde; export once it holds rows.
    ReadingTable* readingsTable() const override;
    QAbstractItemView* readingsGrid() const override;
    bool canExportAndPrint() const override;
    bool canSave() const override;
    void save() override;
    bool hasUnsavedReadings() const override;
    // The readings in GetRecorde, fed as the download that brought them was decoded, each standing
    // for its run's interval.
    std::vector<ReadingSeriesStatistics> levelStatistics() const override;

    GraphPanel* Graph() const { return graph_; }

protected:
    // FormClose.
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void buildLayout(ChosenPrinter& printer);
    QWidget* buildBottomStrip();

    // One decoded reading: its staging line, its graph point, its share of the statistics.
    void takeReading(StagingFileLease& staging, const DecodedReading& reading);
    // Records, MAX, MIN and AVG boxes from the decoder's figures.
    void showFigures();
    // What the user is told after a download that brought no new rows.
    void tellWhyNothingCame(DownloadOutcome outcome);
    // The new rows replace GetRecorde's; false when the table refused them (the user was told).
    bool storeDownload(StagingFileLease& staging);
    void endDownload();
    enum class SaveOutcome { Written, Abandoned, Failed };
    SaveOutcome saveReadings();
    void keepOpen(QCloseEvent* event);

    TForm6& module_;
    bool downloading_ = false;
    bool closeWhenDone_ = false;

    ReadingGridView* grid_ = nullptr;
    GraphPanel* graph_ = nullptr;
    WaitNotice* waitNotice_ = nullptr;
    QPushButton* importButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QLineEdit* fileNameEdit_ = nullptr;
    QLineEdit* recordsBox_ = nullptr;
    QLineEdit* maxBox_ = nullptr;
    QLineEdit* minBox_ = nullptr;
    QLineEdit* avgBox_ = nullptr;

    // The statistics of the rows in GetRecorde, and of the download under way, which takes their
    // place once its rows have replaced GetRecorde's.
    std::shared_ptr<WeightedLevelStatistics> shownStatistics_ = std::make_shared<WeightedLevelStatistics>();
    std::shared_ptr<WeightedLevelStatistics> downloadStatistics_ = std::make_shared<WeightedLevelStatistics>();
};
