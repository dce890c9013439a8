#include "analysis/DataAnalyze.h"

#include "analysis/FileRowColours.h"
#include "core/ReadingStatistics.h"
#include "core/SystemTexts.h"
#include "core/systemvar.h"
#include "datafile/DataFile.h"
#include "datafile/StagingFile.h"
#include "stats/StatisticsRows.h"
#include "stats/TimedSeries.h"
#include "widgets/GraphPanel.h"
#include "widgets/NamedLabel.h"
#include "widgets/ReadingGridView.h"
#include "widgets/WaitNotice.h"
#include "windowkit/WindowGraph.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

// Designed sizes, in pixels.
constexpr int GridWidth = 305;
constexpr int WeightColumn = 2;
constexpr int WeightColumnWidth = 35;
constexpr int BottomStripHeight = 37;
constexpr int ProgressBarWidth = 361;
constexpr int FigureBoxWidth = 60;
constexpr int FigureBoxHeight = 25;

constexpr char OpenFilter[] = "*.DMR|*.DMR|*.dmr|*.dmr";
constexpr char ErrorCaption[] = "Error Information";
constexpr char TooManyFiles[] = "Sorry, the current version only support to open \r10 reports at the same time.";
constexpr char ValueAxisTitle[] = "SPL        (Unit:  DB)';";

// Thrown out of the loader's hooks when the window is closed during a load: the loader lets go and
// nothing of the file reaches the table.
struct LoadCalledOff { };

QLineEdit* makeFigureBox(QWidget* parent, const char* name)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setReadOnly(true);
    box->setEnabled(false);
    box->setFixedSize(FigureBoxWidth, FigureBoxHeight);
    return box;
}

} // namespace

TForm7::TForm7(TForm6& module, ChosenPrinter& printer, QWidget* parent)
    : ReadingsWindow(parent)
    , module_(module)
{
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("Data View & Analyze"));
    buildLayout(printer);
    FormCreate();
}

TForm7::~TForm7() = default;

void TForm7::buildLayout(ChosenPrinter& printer)
{
    {
        // The readings grid's make-up, with the rows coloured by file instead of by maximum and minimum.
        const ReadingStatistics noFigures;
        grid_ = MakeReadingsGrid(noFigures, module_.LoadData ? module_.LoadData->gridModel() : nullptr, this);
        QAbstractItemDelegate* byFigures = grid_->itemDelegate();
        grid_->setItemDelegate(new FileRowColours([this](qint64 recNo) { return RowColour(recNo); }, grid_));
        delete byFigures;
    }
    grid_->setFixedWidth(GridWidth);
    fitColumns();

    graph_ = MakeWindowGraph(module_, printer, GraphConfig::analysisWindow(), QStringLiteral("Data Analyze"),
        QString::fromLatin1(ValueAxisTitle), this);
    // The file names beside their colours: ten lines are told apart by nothing else.
    graph_->showLegend();

    waitNotice_ = new WaitNotice(graph_);

    LayOutGridBesideGraph(this, grid_, graph_, buildBottomStrip());
}

void TForm7::fitColumns()
{
    // Weight is as narrow as designed; the others are as wide as their title and their usual widest
    // text (a six-digit record number, a live time), so all five fit the grid side by side.
    const QFontMetrics cell = grid_->fontMetrics();
    const QFontMetrics title = grid_->horizontalHeader()->fontMetrics();
    const int titleMargins = 2 * grid_->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, grid_);
    const auto fit = [&](const QString& heading, const QString& widestText) {
        return std::max(title.horizontalAdvance(heading) + titleMargins,
            cell.horizontalAdvance(widestText) + 2 * RowColourDelegate::TextMargin + 1);
    };
    grid_->setColumnWidth(0, fit(QStringLiteral("RecNo"), QStringLiteral("000000")));
    grid_->setColumnWidth(1, fit(QStringLiteral("MeaValue"), QStringLiteral("000.0")));
    grid_->setColumnWidth(WeightColumn, WeightColumnWidth);
    grid_->setColumnWidth(3, fit(QStringLiteral("Time"), QStringLiteral("00:00:00")));
    grid_->setColumnWidth(4, fit(QStringLiteral("Date"), QStringLiteral("00/00/0000")));
}

QWidget* TForm7::buildBottomStrip()
{
    auto* strip = new QWidget(this);
    strip->setObjectName(QStringLiteral("BottomPanel"));
    strip->setFixedHeight(BottomStripHeight);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(8, 4, 8, 4);

    fileNumbersBox_ = makeFigureBox(strip, "FileNumbersBox");
    minBox_ = makeFigureBox(strip, "MinBox");
    maxBox_ = makeFigureBox(strip, "MaxBox");
    progressBar_ = new QProgressBar(strip);
    progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar_->setFixedWidth(ProgressBarWidth);

    row->addWidget(MakeNamedLabel(strip, "FileNumbersLabel", QStringLiteral("File Numbers")));
    row->addWidget(fileNumbersBox_);
    row->addSpacing(16);
    row->addWidget(MakeNamedLabel(strip, "MinLabel", QStringLiteral("MIN")));
    row->addWidget(minBox_);
    row->addSpacing(16);
    row->addWidget(MakeNamedLabel(strip, "MaxLabel", QStringLiteral("MAX")));
    row->addWidget(maxBox_);
    row->addSpacing(16);
    row->addWidget(progressBar_);
    row->addStretch(1);
    return strip;
}

void TForm7::FormCreate()
{
    TForm6& m = module_;
    m.FormsReady = false;
    fileEndRecNo_.fill(0);
    loadRecNo_ = 0;
    m.LoadedFileCount = 0;
    analysisMin_.reset();
    analysisMax_.reset();
    // File 6 takes the system's button shadow. File 8 takes the desktop's colour, which on Windows
    // was also the grid's background, so that its rows could not be told from the grid's; Linux has
    // no desktop colour, and the grids already stand for it with the classic teal, so the eighth file
    // takes olive, the other dark colour of that classic palette, apart from every other file's.
    fileColours_ = { QColor(0, 0, 255), QColor(0, 128, 0), QColor(0, 0, 128), QColor(255, 0, 0), QColor(128, 0, 128),
        palette().color(QPalette::Dark), QColor(128, 0, 0), QColor(128, 128, 0), QColor(192, 220, 192),
        QColor(255, 255, 0) };
    for (int series = 0; series < MaxFiles; ++series)
        graph_->setSeriesColor(series, fileColours_.at(std::size_t(series)));
    waitNotice_->hide();
    showFileCountAndFigures();
    m.FormsReady = true;
}

ReadingTable* TForm7::readingsTable() const
{
    return module_.LoadData;
}

QAbstractItemView* TForm7::readingsGrid() const
{
    return grid_;
}

QColor TForm7::FileColour(int file) const
{
    return fileColours_.at(std::size_t(file - 1));
}

std::optional<QColor> TForm7::RowColour(qint64 recNo) const
{
    const auto end = [this](int file) { return FileEndRecNo(file); };
    // Each test that holds sets the colour; a later one wins.
    std::optional<QColor> colour;
    if (recNo < end(1))
        colour = FileColour(1);
    for (int file = 2; file <= 9; ++file) {
        if (end(file - 1) <= recNo && recNo < end(file))
            colour = FileColour(file);
    }
    // The tenth file's rows are those after the ninth file's, once the ninth file is loaded (a file
    // not loaded ends at 0). Asking whether the ninth ends after the eighth instead would leave the
    // tenth file's rows uncoloured when the ninth file held no readings.
    if (recNo >= end(9) && end(9) > 0)
        colour = FileColour(10);
    return colour;
}

// ---------------------------------------------------------------------------------------------------
// The operation LoadData

void TForm7::LoadData()
{
    TForm6& m = module_;
    const QString caption = QString::fromLatin1(ErrorCaption);
    if (m.LoadedFileCount >= MaxFiles) {
        tellTenFilesLoaded();
        return;
    }
    if (!m.LoadData)
        return;

    // The staging file before the dialog, so that no file is chosen in vain while a download (or a
    // load still running in this window) holds it.
    std::optional<StagingFileLease> staging;
    if (!m.RunOrReport(caption, this, [&] {
            staging.emplace(
                StagingFileLease::acquire(m.Folders().cacheFolder(), QStringLiteral("the load of a data file")));
        }))
        return;

    // Several files chosen at once are loaded one after another, as many as the window takes. A
    // close of the window while the dialog is up waits for it, as during a load.
    asking_ = true;
    const QStringList paths = m.Ui().askOpenFileNames(this, FileDialogRequest { QLatin1String(OpenFilter), QString() });
    asking_ = false;
    for (const QString& path : paths) {
        if (callOff_)
            break;
        if (m.LoadedFileCount >= MaxFiles) {
            tellTenFilesLoaded();
            break;
        }
        loadFile(path, *staging);
        if (callOff_)
            break;
    }
    staging.reset();

    showLastRow();
    if (callOff_) {
        // The close asked for during the load goes ahead now that nothing runs inside this window.
        callOff_ = false;
        QWidget* window = qobject_cast<QMdiSubWindow*>(parentWidget());
        QTimer::singleShot(0, window ? window : this, &QWidget::close);
    }
}

void TForm7::tellTenFilesLoaded()
{
    module_.ShowMessageBox(QString::fromLatin1(TooManyFiles), QString::fromLatin1(ErrorCaption), MessageButtons::Ok,
        MessageIcon::Error, this);
}

void TForm7::loadFile(const QString& path, StagingFileLease& staging)
{
    TForm6& m = module_;
    loadingFileName_ = QFileInfo(path).fileName();
    DataFileLoadHooks hooks;
    hooks.progress = [this](qint64 linesRead, qint64 count) { showProgress(linesRead, count); };
    hooks.opened = [this](qint64 count) { fileOpened(count); };
    hooks.reading = [this](double value) { takeReading(value); };
    hooks.appending = [this] { readingsTaken(); };
    // A long file goes to the table in steps, with the window answering in between.
    hooks.appendStep = [this](qint64 rowsAppended) { showAppended(rowsAppended); };

    // Whatever stops a load half-way, the window keeps nothing of the file: the table has taken
    // none of its rows, so neither does the count, the chart or the figures.
    const LoadState before = loadState();
    loading_ = true;
    try {
        m.RunOrReport(
            QString::fromLatin1(ErrorCaption), this, [&] { LoadDataFile(path, *m.LoadData, staging, hooks); },
            [&] { restore(before); });
    } catch (const LoadCalledOff&) {
        restore(before);
    }
    waitNotice_->hide();
    loading_ = false;
}

void TForm7::showProgress(qint64 linesRead, qint64 count)
{
    const int maximum = int(std::clamp<qint64>(count, 1, INT_MAX));
    progressBar_->setRange(1, maximum);
    // A count line smaller than the file fills the bar before the end.
    progressBar_->setValue(int(std::clamp<qint64>(linesRead, 1, maximum)));
    QCoreApplication::processEvents();
    if (callOff_)
        throw LoadCalledOff();
}

void TForm7::showAppended(qint64)
{
    // The progress bar stays full, as the lines read left it; the wait notice covers the append.
    QCoreApplication::processEvents();
    if (callOff_)
        throw LoadCalledOff();
}

void TForm7::fileOpened(qint64 count)
{
    TForm6& m = module_;
    progressBar_->setRange(1, int(std::clamp<qint64>(count, 1, INT_MAX)));
    progressBar_->setValue(progressBar_->maximum());
    ++m.LoadedFileCount;
    fileNumbersBox_->setText(QString::number(m.LoadedFileCount));
    loadingSeries_ = m.LoadedFileCount - 1;
    loadRecNo_ = m.LoadData->rowCount();
    graph_->setRepaintSuspended(true);
}

void TForm7::takeReading(double value)
{
    ++loadRecNo_;
    graph_->appendValue(loadingSeries_, value);
    if (!analysisMin_ || value < *analysisMin_)
        analysisMin_ = value;
    if (!analysisMax_ || value > *analysisMax_)
        analysisMax_ = value;
}

void TForm7::readingsTaken()
{
    fileEndRecNo_.at(std::size_t(loadingSeries_)) = loadRecNo_ + 1;
    fileNames_.at(std::size_t(loadingSeries_)) = loadingFileName_;
    graph_->setSeriesName(loadingSeries_, QStringLiteral("%1. %2").arg(loadingSeries_ + 1).arg(loadingFileName_));
    showFileCountAndFigures();
    graph_->setRepaintSuspended(false);
    waitNotice_->show();
    waitNotice_->raise();
    QCoreApplication::processEvents();
    if (callOff_)
        throw LoadCalledOff();
}

std::vector<ReadingSeriesStatistics> TForm7::levelStatistics() const
{
    const std::int16_t files = module_.LoadedFileCount;
    const qint64 rows = module_.LoadData ? module_.LoadData->rowCount() : 0;
    if (seriesStatisticsOf_ == std::make_pair(files, rows))
        return seriesStatistics_;
    seriesStatistics_.clear();
    if (module_.LoadData && files > 0) {
        // A file's rows are those up to its end record number; record numbers follow row positions.
        std::vector<qint64> ends;
        for (int file = 1; file <= files; ++file)
            ends.push_back(std::max<qint64>(FileEndRecNo(file) - 1, 0));
        std::vector<WeightedLevelStatistics> perFile = TimedStatisticsOfTableStretches(*module_.LoadData, ends);
        qint64 firstRow = 0;
        for (int file = 1; file <= files; ++file) {
            const QString& name = fileNames_.at(std::size_t(file - 1));
            const qint64 endRow = ends[std::size_t(file - 1)];
            seriesStatistics_.push_back({ name.isEmpty() ? QStringLiteral("File %1").arg(file) : name,
                std::make_shared<const WeightedLevelStatistics>(std::move(perFile[std::size_t(file - 1)])), firstRow,
                endRow });
            firstRow = std::max(firstRow, endRow);
        }
    }
    seriesStatisticsOf_ = { files, rows };
    return seriesStatistics_;
}

void TForm7::showFileCountAndFigures()
{
    const std::int16_t files = module_.LoadedFileCount;
    fileNumbersBox_->setText(QString::number(files));
    const auto figure = [files](const std::optional<double>& value) {
        if (files == 0)
            return QString();
        return SystemShortestDecimalText(value.value_or(0.0));
    };
    minBox_->setText(figure(analysisMin_));
    maxBox_->setText(figure(analysisMax_));
}

TForm7::LoadState TForm7::loadState() const
{
    return { module_.LoadedFileCount, fileEndRecNo_, loadRecNo_, analysisMin_, analysisMax_, progressBar_->minimum(),
        progressBar_->maximum(), progressBar_->value() };
}

void TForm7::restore(const LoadState& state)
{
    TForm6& m = module_;
    waitNotice_->hide();
    if (m.LoadedFileCount != state.loadedFileCount && loadingSeries_ >= 0) {
        graph_->clearSeries(loadingSeries_);
        graph_->setSeriesName(loadingSeries_, QString());
        fileNames_.at(std::size_t(loadingSeries_)).clear();
    }
    graph_->setRepaintSuspended(false);
    m.LoadedFileCount = state.loadedFileCount;
    fileEndRecNo_ = state.fileEndRecNo;
    loadRecNo_ = state.loadRecNo;
    analysisMin_ = state.analysisMin;
    analysisMax_ = state.analysisMax;
    progressBar_->setRange(state.progressMinimum, state.progressMaximum);
    if (state.progressValue < state.progressMinimum)
        progressBar_->reset();
    else
        progressBar_->setValue(state.progressValue);
    showFileCountAndFigures();
}

void TForm7::showLastRow()
{
    grid_->moveToLastRow();
    grid_->viewport()->update();
}

// ---------------------------------------------------------------------------------------------------
// Closing

void TForm7::closeEvent(QCloseEvent* event)
{
    if (loading_ || asking_) {
        // The load (or its open dialog) runs inside this window: it is called off at its next step,
        // and the window closes once the load has let go of it.
        callOff_ = true;
        event->ignore();
        return;
    }
    module_.ChildWindowClosed(ChildWindowKind::Analysis);
    event->accept();
}
