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
#include <QElapsedTimer>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>
#include <iterator>
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
// How often the figures follow a download under way, in milliseconds.
constexpr qint64 FiguresShownEveryMs = 100;

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

// What the window shows of the rows in GetRecorde: a download that is not kept gives it back, so
// that the figures, the graph and the row colours (drawn from the decoder's maximum and minimum)
// go with the rows that stay.
struct TForm4::ShownRows {
    MeterMemoryDecoder decoder;
    QStringList figures;
    std::vector<double> graphValues;
    AxisRange sampleAxis;
};

TForm4::ShownRows TForm4::shownRows() const
{
    return { module_.ImportDecoder, figureTexts(), graph_->values(0), graph_->axisRange(GraphAxis::Sample) };
}

void TForm4::showRowsAgain(const ShownRows& shown)
{
    module_.ImportDecoder = shown.decoder;
    setFigureTexts(shown.figures);
    graph_->setRepaintSuspended(true);
    graph_->clearSeries(0);
    for (const double value : shown.graphValues)
        graph_->appendValue(0, value);
    graph_->setAxisRange(GraphAxis::Sample, shown.sampleAxis.minimum, shown.sampleAxis.maximum);
    graph_->setRepaintSuspended(false);
    grid_->viewport()->update();
}

QStringList TForm4::figureTexts() const
{
    return { recordsBox_->text(), maxBox_->text(), minBox_->text(), avgBox_->text() };
}

void TForm4::setFigureTexts(const QStringList& texts)
{
    QLineEdit* const boxes[] = { recordsBox_, maxBox_, minBox_, avgBox_ };
    for (qsizetype i = 0; i < texts.size() && i < qsizetype(std::size(boxes)); ++i)
        boxes[i]->setText(texts[i]);
}

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

    const ShownRows before = shownRows();
    const bool saveWasEnabled = SaveEnabled();
    const DownloadOutcome outcome = download(*staging);
    const MeterMemoryDecoder& decoder = m.ImportDecoder;
    const bool readingsCame = !stagingFailure_ && outcome == DownloadOutcome::Completed && decoder.ImportCount() > 0;
    const bool stored = readingsCame && storeDownload(*staging);
    // A meter that refused or had nothing to give leaves the graph cleared; a download cut off on
    // the way, or not kept, leaves everything as it was.
    const bool meterHadNothing = outcome == DownloadOutcome::Refused
        || (outcome == DownloadOutcome::Completed && !stagingFailure_ && decoder.ImportCount() == 0);
    if (stored)
        showFigures();
    else if (!meterHadNothing)
        showRowsAgain(before);
    // A download that brought nothing leaves the rows of the one before, and their unsaved state.
    saveButton_->setEnabled(stored || saveWasEnabled);
    staging.reset();
    endDownload();
    if (stagingFailure_)
        tellNothingWasImported(stagingFailure_);
    else if (!readingsCame)
        tellWhyNothingCame(outcome);
    stagingFailure_ = nullptr;
    closeIfAskedMeanwhile();
}

void TForm4::closeIfAskedMeanwhile()
{
    if (!closeWhenDone_)
        return;
    // The close that was asked for during the download goes ahead once the Import handler, and any
    // message it showed, has let go of the window.
    closeWhenDone_ = false;
    QWidget* window = qobject_cast<QMdiSubWindow*>(parentWidget());
    QTimer::singleShot(0, window ? window : this, &QWidget::close);
}

DownloadOutcome TForm4::download(StagingFileLease& staging)
{
    TForm6& m = module_;
    downloading_ = true;
    stagingFailure_ = nullptr;
    recordsBox_->setEnabled(true);
    importButton_->setEnabled(false);
    saveButton_->setEnabled(false);
    MeterMemoryDecoder& decoder = m.ImportDecoder;
    decoder.StartDownload();
    downloadStatistics_->clear();
    decoder.setReadingSink([&](const DecodedReading& reading) { takeReading(staging, reading); });
    // The run's status byte tells the other windows the weighting and range the meter logged with.
    decoder.setHeaderSink([&m](std::uint8_t status) { m.LiveFlags = status; });
    graph_->clearSeries(0);
    graph_->setRepaintSuspended(true);
    waitNotice_->show();
    waitNotice_->raise();

    // The figures follow the download a few times a second. Shown after every block, their repaint
    // took more time than the exchange with the meter itself.
    QElapsedTimer sinceFiguresShown;
    sinceFiguresShown.start();
    DownloadHooks hooks;
    hooks.decode = [&decoder](std::uint8_t byte) { decoder.Dispatch(byte); };
    hooks.afterBlock = [this, &sinceFiguresShown] {
        if (sinceFiguresShown.hasExpired(FiguresShownEveryMs)) {
            showFigures();
            sinceFiguresShown.restart();
        }
    };
    // A staging file that can take no more ends the download at the next block.
    hooks.cancelled = [this] { return closeWhenDone_ || stagingFailure_ != nullptr; };
    const DownloadOutcome outcome = m.Link().download(hooks);
    decoder.setReadingSink({});
    decoder.setHeaderSink({});
    graph_->setRepaintSuspended(false);
    return outcome;
}

void TForm4::takeReading(StagingFileLease& staging, const DecodedReading& reading)
{
    if (stagingFailure_)
        return;
    try {
        staging.writeLine(
            StagingLine(reading.dateText, reading.timeText, reading.valueText, reading.weight, reading.recNo, 6));
    } catch (const DataFileError&) {
        // Thrown on, it would leave through the event loop with the meter held and the window
        // downloading for ever.
        stagingFailure_ = std::current_exception();
        return;
    }
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
    try {
        if (!table->isOpen())
            table->open();
        // The old rows stay until the new ones are all in.
        ReplaceWithStagingTable(staging, *table);
    } catch (const std::exception&) {
        tellNothingWasImported(std::current_exception());
        return false;
    }
    std::swap(shownStatistics_, downloadStatistics_);
    grid_->moveToLastRow();
    grid_->viewport()->update();
    return true;
}

void TForm4::tellNothingWasImported(const std::exception_ptr& failure)
{
    QString text;
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        text = ErrorText(error);
    }
    module_.ShowMessageBox(text + QStringLiteral("\rNothing was imported; the readings shown before are kept."),
        QString::fromLatin1(ErrorCaption), MessageButtons::Ok, MessageIcon::Error, this);
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
        // is closing.
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
