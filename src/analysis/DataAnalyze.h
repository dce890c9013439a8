#pragma once

// The data view and analysis window: up to ten data files loaded one after another into the table
// LoadData, shown in one grid with each file's rows in the file's colour, and drawn as one line per
// file, in the same colour, in one chart. The bottom strip shows how many files are loaded and the
// smallest and largest reading over all of them.

#include "windowkit/ReadingsWindow.h"

#include <QColor>

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

class ChosenPrinter;
class GraphPanel;
class QCloseEvent;
class QLabel;
class WaitNotice;
class QLineEdit;
class QProgressBar;
class ReadingGridView;
class StagingFileLease;
class TForm6;

// The analysis window, component name "Form7". The main window's File > Open creates it (emptying
// LoadData first) and then calls loadDataFile(), which is the operation LoadData.
//
// A file is read in blocks; between them the window shows how far it has got and handles pending
// events, so the program stays usable while a long file loads. Closing the window meanwhile calls
// the load off at the next block; the window closes once the load has let go of it.
class TForm7 : public ReadingsWindow {
    Q_OBJECT

public:
    static constexpr int MaxFiles = 10;

    // The opening steps (FormCreate) run here. LoadData is left as it is: the main window empties it.
    // The graph prints on the printer chosen with Printer Setup, which outlives the window.
    TForm7(TForm6& module, ChosenPrinter& printer, QWidget* parent = nullptr);
    ~TForm7() override;

    TForm7(const TForm7&) = delete;
    TForm7& operator=(const TForm7&) = delete;

    // The operation LoadData: asks for one more data file and loads it, or says that ten are loaded.
    // Several files chosen at once in the dialog are loaded in the dialog's order, up to the tenth.
    void LoadData();
    void loadDataFile() override { LoadData(); }

    // What the frame's File commands see: the table LoadData, also while it is empty; nothing to save.
    ReadingTable* readingsTable() const override;
    QAbstractItemView* readingsGrid() const override;
    bool canExportAndPrint() const override { return true; }
    bool canSave() const override { return false; }
    void save() override { }
    bool hasUnsavedReadings() const override { return false; }
    // One series per loaded file, named after it, read from the table once after each load.
    std::vector<ReadingSeriesStatistics> levelStatistics() const override;

    // The colour of file 1 to 10, as its chart line and its rows show it.
    QColor FileColour(int file) const;
    // The background the grid gives the row of this record number, by the files' end record
    // numbers; none where the row keeps the grid's own.
    std::optional<QColor> RowColour(qint64 recNo) const;

    // One past the record number of the last row of file 1 to 10; 0 while the file is not loaded.
    qint64 FileEndRecNo(int file) const { return fileEndRecNo_.at(std::size_t(file - 1)); }
    // The record number of the last row staged for the table.
    qint64 LoadRecNo() const { return loadRecNo_; }
    // The smallest and largest reading over all loaded files; none before the first reading.
    std::optional<double> AnalysisMin() const { return analysisMin_; }
    std::optional<double> AnalysisMax() const { return analysisMax_; }
    bool Loading() const { return loading_; }

    GraphPanel* Graph() const { return graph_; }

protected:
    // FormClose: nothing is asked.
    void closeEvent(QCloseEvent* event) override;

private:
    // What a load changes in the window, kept to put back when the load fails half-way.
    struct LoadState {
        std::int16_t loadedFileCount = 0;
        std::array<qint64, MaxFiles> fileEndRecNo {};
        qint64 loadRecNo = 0;
        std::optional<double> analysisMin;
        std::optional<double> analysisMax;
        int progressMinimum = 0;
        int progressMaximum = 0;
        int progressValue = 0;
    };

    void FormCreate();
    void buildLayout(ChosenPrinter& printer);
    void tellTenFilesLoaded();
    void loadFile(const QString& path, StagingFileLease& staging);
    void fitColumns();
    QWidget* buildBottomStrip();

    // The steps of one load, as the loader reaches them.
    void showProgress(qint64 linesRead, qint64 count);
    void fileOpened(qint64 count);
    void takeReading(double value);
    void readingsTaken();
    void showAppended(qint64 rowsAppended);
    void showFileCountAndFigures();
    LoadState loadState() const;
    void restore(const LoadState& state);
    // The table's last row, current and on screen.
    void showLastRow();

    TForm6& module_;
    std::array<QColor, MaxFiles> fileColours_;
    std::array<qint64, MaxFiles> fileEndRecNo_ {};
    std::array<QString, MaxFiles> fileNames_;
    QString loadingFileName_;
    qint64 loadRecNo_ = 0;
    // The statistics window asks once a second; the files' figures are read again only when the
    // table or the number of files has changed since.
    mutable std::vector<ReadingSeriesStatistics> seriesStatistics_;
    mutable std::pair<std::int16_t, qint64> seriesStatisticsOf_ { -1, -1 };
    std::optional<double> analysisMin_;
    std::optional<double> analysisMax_;
    // The series of the file being loaded (file number - 1).
    int loadingSeries_ = -1;
    bool loading_ = false;
    bool asking_ = false;
    bool callOff_ = false;

    ReadingGridView* grid_ = nullptr;
    GraphPanel* graph_ = nullptr;
    WaitNotice* waitNotice_ = nullptr;
    QLineEdit* fileNumbersBox_ = nullptr;
    QLineEdit* minBox_ = nullptr;
    QLineEdit* maxBox_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
};
