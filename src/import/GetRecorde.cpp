#include "import/GetRecorde.h"

#include "core/MeterMemoryDecoder.h"
#include "core/MeterProtocol.h"
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
#include "windowkit/DataFileSave.h"
#include "windowkit/WindowGraph.h"

#include <QCloseEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <optional>

namespace {

// Designed sizes, in pixels.
constexpr int GridWidth = 248;
constexpr int BottomStripHeight = 48;
constexpr int FileNameBoxWidth = 209;
constexpr int FigureLabelWidth = 60;
constexpr int FigureBoxWidth = 50;
constexpr int FigureBoxHeight = 30;
constexpr int SwatchSize = 16;

const QColor SwatchRed(255, 0, 0);
const QColor SwatchPurple(128, 0, 128);
const QColor RecordsText(0, 128, 0);

constexpr char SaveFilter[] = "*.DMR|*.DMR|*.dmr|*.dmr";
constexpr char ErrorCaption[] = "Error Infromation";

QLabel* makeSwatch(QWidget* parent, const char* name, const QColor& colour)
{
    auto* swatch = new QLabel(parent);
    swatch->setObjectName(QLatin1String(name));
    swatch->setFixedSize(SwatchSize, SwatchSize);
    swatch->setAutoFillBackground(true);
    QPalette palette = swatch->palette();
    palette.setColor(QPalette::Window, colour);
    swatch->setPalette(palette);
    return swatch;
}

QLineEdit* makeFigureBox(QWidget* parent, const char* name)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setReadOnly(true);
    box->setFixedSize(FigureBoxWidth, FigureBoxHeight);
    return box;
}

QLabel* makeFigureLabel(QWidget* parent, const char* name, const QString& text)
{
    QLabel* label = MakeNamedLabel(parent, name, text);
    label->setFixedWidth(FigureLabelWidth);
    return label;
}

} // namespace

TForm4::TForm4(TForm6& module, ChosenPrinter& printer, QWidget* parent)
    : ReadingsWindow(parent)
    , module_(module)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Decimora Import Data "));
    buildLayout(printer);
    connect(importButton_, &QPushButton::clicked, this, &TForm4::ImportButtonClick);
    connect(saveButton_, &QPushButton::clicked, this, &TForm4::SaveButtonClick);
    FormCreate();
}

TForm4::~TForm4() = default;

void TForm4::buildLayout(ChosenPrinter& printer)
{
    grid_ = MakeReadingsGrid(
        module_.ImportDecoder.statistics(), module_.GetRecorde ? module_.GetRecorde->gridModel() : nullptr, this);
    grid_->setFixedWidth(GridWidth);

    graph_ = MakeWindowGraph(module_, printer, GraphConfig::liveWindow(), QStringLiteral("Data Imported  Analyzing"),
        QStringLiteral("SPL  Unit:DB"), this);
    graph_->setSeriesColor(0, Qt::red);

    waitNotice_ = new WaitNotice(graph_);

    LayOutGridBesideGraph(this, grid_, graph_, buildBottomStrip());
}

QWidget* TForm4::buildBottomStrip()
{
    auto* strip = new QWidget(this);
    strip->setObjectName(QStringLiteral("BottomPanel"));
    strip->setFixedHeight(BottomStripHeight);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(8, 4, 8, 4);

    importButton_ = new QPushButton(QStringLiteral("Import"), strip);
    importButton_->setObjectName(QStringLiteral("ImportButton"));
    saveButton_ = new QPushButton(QStringLiteral("Save"), strip);
    saveButton_->setObjectName(QStringLiteral("SaveButton"));
    fileNameEdit_ = new QLineEdit(strip);
    fileNameEdit_->setObjectName(QStringLiteral("FileNameEdit"));
    fileNameEdit_->setReadOnly(true);
    fileNameEdit_->setEnabled(false);
    fileNameEdit_->setFixedWidth(FileNameBoxWidth);

    recordsBox_ = makeFigureBox(strip, "RecordsBox");
    QPalette green = recordsBox_->palette();
    green.setColor(QPalette::Text, RecordsText);
    recordsBox_->setPalette(green);
    maxBox_ = makeFigureBox(strip, "MaxBox");
    minBox_ = makeFigureBox(strip, "MinBox");
    avgBox_ = makeFigureBox(strip, "AvgBox");
    for (QLineEdit* box : { maxBox_, minBox_, avgBox_ })
        box->setEnabled(false);

    row->addWidget(importButton_);
    row->addWidget(saveButton_);
    row->addWidget(fileNameEdit_);
    row->addSpacing(12);
    row->addWidget(makeFigureLabel(strip, "RecordsLabel", QStringLiteral("Records")));
    row->addWidget(recordsBox_);
    row->addSpacing(12);
    row->addWidget(makeSwatch(strip, "MaxSwatch", SwatchRed));
    row->addWidget(makeFigureLabel(strip, "MaxLabel", QStringLiteral("MAX")));
    row->addWidget(maxBox_);
    row->addWidget(makeSwatch(strip, "MinSwatch", SwatchPurple));
    row->addWidget(makeFigureLabel(strip, "MinLabel", QStringLiteral("MIN")));
    row->addWidget(minBox_);
    row->addWidget(makeFigureLabel(strip, "AvgLabel", QStringLiteral("AVG")));
    row->addWidget(avgBox_);
    row->addStretch(1);
    return strip;
}

void TForm4::FormCreate()
{
    module_.FormsReady = false;
    recordsBox_->setEnabled(false);
    graph_->printButton()->setEnabled(false);
    if (ReadingTable* table = module_.GetRecorde) {
        module_.RunOrReport(QString::fromLatin1(ErrorCaption), this, [table] {
            table->close();
            table->empty();
            table->open();
        });
    }
    saveButton_->setEnabled(false);
    graph_->setAxisRange(GraphAxis::Value, GraphPanel::ValueAxisMinimum, GraphPanel::ValueAxisMaximum);
    graph_->setAxisRange(GraphAxis::Sample, GraphPanel::HomeMinimum, GraphPanel::HomeMaximum);
    waitNotice_->hide();
    module_.FormsReady = true;
}

bool TForm4::SaveEnabled() const
{
    return saveButton_->isEnabledTo(this);
}

ReadingTable* TForm4::readingsTable() const
{
    return module_.GetRecorde;
}

QAbstractItemView* TForm4::readingsGrid() const
{
    return grid_;
}

bool TForm4::canExportAndPrint() const
{
    return module_.GetRecorde && module_.GetRecorde->rowCount() >= 1;
}

bool TForm4::canSave() const
{
    return SaveEnabled();
}

void TForm4::save()
{
    SaveButtonClick();
}

bool TForm4::hasUnsavedReadings() const
{
    return SaveEnabled();
}

std::vector<ReadingSeriesStatistics> TForm4::levelStatistics() const
{
    return { { QStringLiteral("Download"), shownStatistics_ } };
}

// ---------------------------------------------------------------------------------------------------
// The download

void TForm4::ImportButtonClick()
{
    TForm6& m = module_;
    graph_->printButton()->setEnabled(false);
    // No meter, or a run or another download holds it: nothing to do, nothing to say.
    if (downloading_ || !m.DeviceConnected || m.MeterBusy != 0) {
        graph_->printButton()->setEnabled(true);
        return;
    }

    // The staging file comes first, so that a download that could not be kept never starts.
    std::optional<StagingFileLease> staging;
    const bool stagingReady = m.RunOrReport(QString::fromLatin1(ErrorCaption), this, [&] {
        staging.emplace(
            StagingFileLease::acquire(m.Folders().cacheFolder(), QStringLiteral("a download from the meter")));
        staging->recreate();
    });
    if (!stagingReady) {
        graph_->printButton()->setEnabled(true);
        return;
    }

    const bool saveWasEnabled = SaveEnabled();
    downloading_ = true;
    recordsBox_->setEnabled(true);
    importButton_->setEnabled(false);
    saveButton_->setEnabled(false);
    MeterMemoryDecoder& decoder = m.ImportDecoder;
    decoder.StartDownload();
    downloadStatistics_->clear();
    decoder.setReadingSink([&](const DecodedReading& reading) { takeReading(*staging, reading); });
    // The run's status byte tells the other windows the weighting and range the meter logged with.
    decoder.setHeaderSink([&m](std::uint8_t status) { m.LiveFlags = status; });
    graph_->clearSeries(0);
    graph_->setRepaintSuspended(true);
    waitNotice_->show();
    waitNotice_->raise();

    DownloadHooks hooks;
    hooks.decode = [&decoder](std::uint8_t byte) { decoder.Dispatch(byte); };
    hooks.afterBlock = [this] { showFigures(); };
    hooks.cancelled = [this] { return closeWhenDone_; };
    const DownloadOutcome outcome = RunMeterDownload(m, hooks);
    decoder.setReadingSink({});
    decoder.setHeaderSink({});
    graph_->setRepaintSuspended(false);

    const bool readingsCame = outcome == DownloadOutcome::Completed && decoder.ImportCount() > 0;
    bool stored = false;
    if (readingsCame) {
        showFigures();
        stored = storeDownload(*staging);
    }
    // A download that brought nothing leaves the rows of the one before, and their unsaved state.
    saveButton_->setEnabled(stored || saveWasEnabled);
    staging.reset();
    endDownload();
    if (!readingsCame)
        tellWhyNothingCame(outcome);
}

void TForm4::takeReading(StagingFileLease& staging, const DecodedReading& reading)
{
    staging.writeLine(
        StagingLine(reading.dateText, reading.timeText, reading.valueText, reading.weight, reading.recNo, 6));
    graph_->appendValue(0, reading.value);
    // The decoder's interval is the one of the run this reading belongs to.
    downloadStatistics_->add(reading.weight == QLatin1String("C") ? Weighting::C : Weighting::A,
        static_cast<std::int32_t>(reading.tenths), module_.ImportDecoder.ImportInterval());
}

void TForm4::showFigures()
{
    const MeterMemoryDecoder& decoder = module_.ImportDecoder;
    recordsBox_->setText(QString::number(decoder.ImportCount()));
    if (decoder.ImportCount() == 0)
        return;
    maxBox_->setText(SystemShortestDecimalText(decoder.ImportMax()));
    minBox_->setText(SystemShortestDecimalText(decoder.ImportMin()));
    avgBox_->setText(SystemOneDecimalText(decoder.ImportAverage()));
}

bool TForm4::storeDownload(StagingFileLease& staging)
{
    ReadingTable* table = module_.GetRecorde;
    if (!table)
        return false;
    const bool stored = module_.RunOrReport(QString::fromLatin1(ErrorCaption), this, [&] {
        table->close();
        table->empty();
        table->open();
        AppendStagingTable(staging, *table);
    });
    if (stored) {
        std::swap(shownStatistics_, downloadStatistics_);
    } else {
        // Which rows a refused table kept is not known here: the figures are read from the table
        // itself. The user has been told of the failure already; a table that cannot be read
        // either shows no figures.
        try {
            *shownStatistics_ = TimedStatisticsOfTableStretches(*table, { table->rowCount() }).front();
        } catch (const TableError&) {
            shownStatistics_->clear();
        }
    }
    grid_->moveToLastRow();
    grid_->viewport()->update();
    return stored;
}

void TForm4::tellWhyNothingCame(DownloadOutcome outcome)
{
    QString text;
    MessageIcon icon = MessageIcon::Error;
    switch (outcome) {
    case DownloadOutcome::Refused:
        text = QStringLiteral(" SPL Unit Failed!");
        icon = MessageIcon::Information;
        break;
    case DownloadOutcome::Completed:
        text = QStringLiteral("no recorde in SPL Unit  ");
        icon = MessageIcon::Information;
        break;
    case DownloadOutcome::Disconnected:
        text = QStringLiteral("The meter was disconnected during the download.\rNothing was imported; the "
                              "readings shown before are kept.\rConnect the meter again and press Import.");
        break;
    case DownloadOutcome::TimedOut:
        text = QStringLiteral("The meter stopped answering during the download.\rNothing was imported; the "
                              "readings shown before are kept.\rSwitch the meter off and on, then press Import.");
        break;
    case DownloadOutcome::NotStarted:
    case DownloadOutcome::Cancelled:
        // Nothing happened the user did not ask for: the meter was taken meanwhile, or the window
        // is closing. A table that refused the rows has said so already.
        return;
    }
    module_.ShowMessageBox(text, QString::fromLatin1(ErrorCaption), MessageButtons::Ok, icon, this);
}

void TForm4::endDownload()
{
    downloading_ = false;
    importButton_->setEnabled(true);
    module_.ProgressPosition = 0;
    waitNotice_->hide();
    graph_->printButton()->setEnabled(true);
    if (closeWhenDone_) {
        // The close that was asked for during the download goes ahead now that nothing waits inside
        // this window any more.
        closeWhenDone_ = false;
        QWidget* window = qobject_cast<QMdiSubWindow*>(parentWidget());
        QTimer::singleShot(0, window ? window : this, &QWidget::close);
    }
}

// ---------------------------------------------------------------------------------------------------
// Saving and closing

void TForm4::SaveButtonClick()
{
    saveReadings();
}

TForm4::SaveOutcome TForm4::saveReadings()
{
    TForm6& m = module_;
    const DataFileChoice choice = AskDataFileName(m, this, QLatin1String(SaveFilter),
        [](const QString&) { return QStringLiteral("Filename  already exits!\rAre you sure to replace it?"); });
    if (choice.outcome != DataFileChoice::Outcome::Chosen) {
        m.MeasureSaved = false;
        return SaveOutcome::Abandoned;
    }
    const QString& name = choice.path;
    fileNameEdit_->setText(name);
    saveButton_->setEnabled(false);
    if (!WriteReadingsFile(m, this, QString::fromLatin1(ErrorCaption), m.GetRecorde, name, saveButton_, fileNameEdit_))
        return SaveOutcome::Failed;
    return SaveOutcome::Written;
}

void TForm4::closeEvent(QCloseEvent* event)
{
    TForm6& m = module_;
    if (downloading_) {
        // The download's handler still runs inside this window: it is called off at the next block,
        // and the window closes when the handler has finished.
        closeWhenDone_ = true;
        event->ignore();
        return;
    }
    m.ChildWindowClosed(ChildWindowKind::Import);
    if (SaveEnabled()) {
        const MessageAnswer answer
            = m.ShowMessageBox(QStringLiteral("Up-load data have not save yet!\rDo you want to save data?"),
                QStringLiteral("Query Information"), MessageButtons::YesNoCancel, MessageIcon::Question, this);
        if (answer == MessageAnswer::Yes) {
            // A save that failed keeps the window, and the readings, on screen; a cancelled save
            // dialog lets the window go, as the user chose.
            if (saveReadings() == SaveOutcome::Failed) {
                keepOpen(event);
                return;
            }
        } else if (answer != MessageAnswer::No) {
            keepOpen(event);
            QWidget* window = qobject_cast<QMdiSubWindow*>(parentWidget());
            QTimer::singleShot(0, window ? window : this, &QWidget::showMinimized);
            return;
        }
    }
    event->accept();
}

void TForm4::keepOpen(QCloseEvent* event)
{
    module_.ChildWindowCloseCancelled(ChildWindowKind::Import, this);
    event->ignore();
}
