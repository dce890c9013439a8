#include "measure/Measuring.h"

#include "core/MeterProtocol.h"
#include "core/SystemTexts.h"
#include "core/systemvar.h"
#include "datafile/DataFile.h"
#include "widgets/GraphPanel.h"
#include "widgets/LEDFont.h"
#include "widgets/NamedLabel.h"
#include "widgets/ReadingGridView.h"
#include "widgets/Rounding.h"
#include "windowkit/DataFileSave.h"
#include "windowkit/WindowGraph.h"

#include <QAbstractItemModel>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include <cmath>

namespace {

const QColor PanelGreen(0, 128, 0);
const QColor LitSegment(247, 255, 0);
const QColor LitTick(255, 255, 0);

// Designed sizes, in pixels.
constexpr int WindowWidth = 908;
constexpr int WindowHeight = 556;
constexpr int LeftPanelWidth = 265;
constexpr int SplitterWidth = 8;
constexpr int BottomStripHeight = 38;
constexpr int FileNameBoxWidth = 320;
constexpr int ReadoutPanelWidth = 261;
constexpr int ReadoutPanelHeight = 151;
constexpr int ReadoutBevel = 2;
constexpr int LevelReadoutTop = 67;

// The run polls the meter once a second: each reading stands for one second.
constexpr std::int32_t LiveIntervalSeconds = 1;

constexpr char HighAlarmSound[] = "highalarm.wav";
constexpr char LowAlarmSound[] = "lowalarm.wav";
constexpr char SaveFilter[] = "*.dmr|*.dmr|*.DMR|*.DMR";

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

// "UNDER" and "OVER": white on red.
QLabel* makeRangeFlag(QWidget* parent, const char* name, const QString& text, QPoint position)
{
    QLabel* flag = MakeNamedLabel(parent, name, text, position);
    flag->setAutoFillBackground(true);
    QPalette palette = flag->palette();
    palette.setColor(QPalette::Window, Qt::red);
    palette.setColor(QPalette::WindowText, Qt::white);
    flag->setPalette(palette);
    return flag;
}

TLEDFontNum* makeReadout(QWidget* parent, const char* name, int space, QPoint position)
{
    auto* readout = new TLEDFontNum(parent);
    readout->setObjectName(QLatin1String(name));
    readout->setBGColor(PanelGreen);
    readout->setDarkColor(PanelGreen);
    readout->setLightColor(LitSegment);
    readout->setOffSetX(4);
    readout->setOffSetY(4);
    readout->setSpace(space);
    readout->setAutoSize(true);
    readout->move(position);
    return readout;
}

} // namespace

// The read-out panel's image: the level arc, drawn on a transparent background so that the
// panel's green shows wherever the arc draws nothing.
class LevelArcView final : public QWidget {
public:
    LevelArcView(const QImage& image, QWidget* parent)
        : QWidget(parent)
        , image_(image)
    {
        setObjectName(QStringLiteral("Image1"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.drawImage(0, 0, image_);
    }

private:
    const QImage& image_;
};

TForm5::TForm5(TForm6& module, ChosenPrinter& printer, QWidget* parent)
    : ReadingsWindow(parent)
    , module_(module)
    , arcImage_(ArcImageWidth, ArcImageHeight, QImage::Format_ARGB32_Premultiplied)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Decimora Real Time Measure"));
    resize(WindowWidth, WindowHeight);
    buildLayout(printer);

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    connect(timer1_, &QTimer::timeout, this, &TForm5::Timer1Timer);
    connect(startButton_, &QPushButton::clicked, this, &TForm5::StartButtonClick);
    connect(stopButton_, &QPushButton::clicked, this, &TForm5::StopButtonClick);
    connect(clearButton_, &QPushButton::clicked, this, &TForm5::ClearButtonClick);
    connect(saveButton_, &QPushButton::clicked, this, &TForm5::SaveButtonClick);

    FormCreate();
}

TForm5::~TForm5()
{
    // Destroyed without a close (the program ending): a run in progress gives the meter back.
    if (IsMeasuring()) {
        module_.MeterBusy = 0;
        module_.ReadMode = 0;
    }
}

void TForm5::buildLayout(ChosenPrinter& printer)
{
    auto* leftPanel = new QWidget(this);
    leftPanel->setObjectName(QStringLiteral("LeftPanel"));
    auto* leftLayout = new QVBoxLayout(leftPanel);
    leftLayout->setContentsMargins(2, 2, 2, 2);
    leftLayout->setSpacing(2);
    readoutPanel_ = buildReadoutPanel();
    readoutPanel_->setParent(leftPanel);
    leftLayout->addWidget(readoutPanel_);

    grid_ = MakeReadingsGrid(statistics_, module_.MeaData ? module_.MeaData->gridModel() : nullptr, leftPanel);
    leftLayout->addWidget(grid_, 1);

    graph_ = MakeWindowGraph(module_, printer, GraphConfig::liveWindow(), QStringLiteral("SPL Graph Analyzing"),
        QStringLiteral("SPL  Unit: DB"), this);
    graph_->setSeriesColor(0, Qt::red);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName(QStringLiteral("Splitter1"));
    splitter_->setHandleWidth(SplitterWidth);
    splitter_->setChildrenCollapsible(false);
    splitter_->addWidget(leftPanel);
    splitter_->addWidget(graph_);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({ LeftPanelWidth, WindowWidth - LeftPanelWidth - SplitterWidth });

    auto* bottomStrip = new QWidget(this);
    bottomStrip->setObjectName(QStringLiteral("BottomPanel"));
    bottomStrip->setFixedHeight(BottomStripHeight);
    auto* bottomLayout = new QHBoxLayout(bottomStrip);
    bottomLayout->setContentsMargins(8, 4, 8, 4);
    const auto makeButton = [bottomStrip, bottomLayout](const char* name, const QString& text) {
        auto* button = new QPushButton(text, bottomStrip);
        button->setObjectName(QLatin1String(name));
        bottomLayout->addWidget(button);
        return button;
    };
    // Start and Stop share one place: only one of them is ever shown.
    startButton_ = makeButton("StartButton", QStringLiteral("Start to Measure"));
    stopButton_ = makeButton("StopButton", QStringLiteral("Stop Measure"));
    clearButton_ = makeButton("ClearButton", QStringLiteral("Clear"));
    saveButton_ = makeButton("SaveButton", QStringLiteral("Save"));
    fileNameEdit_ = new QLineEdit(bottomStrip);
    fileNameEdit_->setObjectName(QStringLiteral("FileNameEdit"));
    fileNameEdit_->setReadOnly(true);
    fileNameEdit_->setEnabled(false);
    fileNameEdit_->setFixedWidth(FileNameBoxWidth);
    bottomLayout->addWidget(fileNameEdit_);
    bottomLayout->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(splitter_, 1);
    layout->addWidget(bottomStrip);
}

QFrame* TForm5::buildReadoutPanel()
{
    auto* panel = new QFrame();
    panel->setObjectName(QStringLiteral("ReadoutPanel"));
    panel->setFixedSize(ReadoutPanelWidth, ReadoutPanelHeight);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(ReadoutBevel);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, PanelGreen);
    panel->setPalette(palette);

    // The image goes in first so that everything else lies on top of it.
    arcView_ = new LevelArcView(arcImage_, panel);
    arcView_->setGeometry(ReadoutBevel, ReadoutBevel, ArcImageWidth, ArcImageHeight);

    QFont flagFont = panel->font();
    flagFont.setPixelSize(11);
    QFont bigFont = panel->font();
    bigFont.setPixelSize(16);

    underFlag_ = makeRangeFlag(panel, "UnderFlag", QStringLiteral("UNDER"), { 8, 2 });
    fastFlag_ = MakeNamedLabel(panel, "FastFlag", QStringLiteral("FAST"), { 109, 2 });
    slowFlag_ = MakeNamedLabel(panel, "SlowFlag", QStringLiteral("SLOW"), { 156, 2 });
    overFlag_ = makeRangeFlag(panel, "OverFlag", QStringLiteral("OVER"), { 216, 2 });
    for (QLabel* flag : { underFlag_, fastFlag_, slowFlag_, overFlag_ }) {
        flag->setFont(flagFont);
        flag->adjustSize();
    }
    setTextColour(fastFlag_, Qt::yellow);
    setTextColour(slowFlag_, Qt::yellow);

    rangeLowReadout_ = makeReadout(panel, "RangeLowReadout", 0, { 8, 16 });
    rangeHighReadout_ = makeReadout(panel, "RangeHighReadout", 0, { 210, 16 });
    levelReadout_ = makeReadout(panel, "LevelReadout", 4, { 0, LevelReadoutTop });
    rangeLowReadout_->setText(QStringLiteral("30"));
    rangeHighReadout_->setText(QStringLiteral("130"));

    maxFlag_ = MakeNamedLabel(panel, "MaxFlag", QStringLiteral("MAX"), { 8, 98 });
    levelLabel_ = MakeNamedLabel(panel, "LevelLabel", QStringLiteral("SPL"), { 8, 120 });
    weightingLetter_ = MakeNamedLabel(panel, "WeightingLetter", QStringLiteral("A"), { 240, 90 });
    unitLabel_ = MakeNamedLabel(panel, "UnitLabel", QStringLiteral("dB"), { 232, 120 });
    for (QLabel* label : { weightingLetter_, unitLabel_ }) {
        label->setFont(bigFont);
        label->adjustSize();
        setTextColour(label, Qt::yellow);
    }
    return panel;
}

void TForm5::FormCreate()
{
    module_.FormsReady = false;

    weightingLetter_->setText(QStringLiteral("A"));
    fastFlag_->hide();
    slowFlag_->hide();
    underFlag_->hide();
    overFlag_->hide();
    graph_->printButton()->setEnabled(false);

    emptyTable();

    stopButton_->hide();
    timer1_->stop();

    // Width, then height, then thickness: each is checked against the others' current values.
    levelReadout_->setWordWidth(28);
    levelReadout_->setWordHeight(48);
    levelReadout_->setThick(6);
    for (TLEDFontNum* readout : { rangeLowReadout_, rangeHighReadout_ }) {
        readout->setWordWidth(13);
        readout->setWordHeight(17);
        readout->setThick(3);
    }

    clearButton_->setEnabled(false);
    statistics_ = {};
    levelStatistics_->clear();
    liveReadingCount_ = 0;

    levelReadout_->setText(QStringLiteral("0.0"));
    levelReadout_->move((arcImage_.width() - 2 * levelReadout_->WordWidth()) / 2, LevelReadoutTop);

    saveButton_->setEnabled(false);
    DrawLevelArc(ScaleTicks);
    graph_->setAxisRange(GraphAxis::Sample, GraphPanel::HomeMinimum, GraphPanel::HomeMaximum);

    module_.FormsReady = true;
}

bool TForm5::IsMeasuring() const
{
    return startButton_->isHidden();
}

bool TForm5::SaveEnabled() const
{
    return saveButton_->isEnabledTo(this);
}

ReadingTable* TForm5::readingsTable() const
{
    return module_.MeaData;
}

QAbstractItemView* TForm5::readingsGrid() const
{
    return grid_;
}

bool TForm5::canExportAndPrint() const
{
    return !IsMeasuring() && module_.MeaData && module_.MeaData->rowCount() >= 1;
}

bool TForm5::canSave() const
{
    return SaveEnabled() && !IsMeasuring();
}

void TForm5::save()
{
    SaveButtonClick();
}

bool TForm5::hasUnsavedReadings() const
{
    return !module_.MeasureSaved;
}

std::vector<ReadingSeriesStatistics> TForm5::levelStatistics() const
{
    return { { QStringLiteral("Measurement"), levelStatistics_ } };
}

bool TForm5::runOrReport(const std::function<void()>& action, const std::function<void()>& onFailure)
{
    return module_.RunOrReport(QStringLiteral("Error Information"), this, action, onFailure);
}

void TForm5::emptyTable()
{
    ReadingTable* table = module_.MeaData;
    if (!table)
        return;
    runOrReport([table] {
        table->close();
        table->empty();
        table->open();
    });
}

// ---------------------------------------------------------------------------------------------------
// The run

void TForm5::StartButtonClick()
{
    // An import or another run holds the meter, or there is no meter: nothing to start, nothing to say.
    if (!module_.DeviceConnected || module_.MeterBusy != 0)
        return;
    module_.ReadMode = 1;
    module_.MeterBusy = MeterBusyMeasuring;
    startButton_->hide();
    stopButton_->show();
    saveButton_->setEnabled(false);
    timer1_->start(1000);
}

void TForm5::Timer1Timer()
{
    // Without the meter the run waits; the first tick after it returns asks the new device.
    if (!module_.DeviceConnected)
        return;
    FillRequestReading(module_.SendBuffer);
    // SendToMeter attaches SaveRead before it writes, so that a quick reply is not missed.
    SendToMeter(module_);
}

void TForm5::endRun()
{
    const bool wasMeasuring = IsMeasuring();
    timer1_->stop();
    stopButton_->hide();
    startButton_->show();
    // Only the run's own hold on the meter is given back: an import may hold it meanwhile.
    if (wasMeasuring) {
        module_.ReadMode = 0;
        module_.MeterBusy = 0;
    }
}

void TForm5::StopButtonClick()
{
    if (!IsMeasuring())
        return;
    endRun();
    if (!module_.MeaData || module_.MeaData->isEmpty()) {
        saveButton_->setEnabled(false);
    } else {
        saveButton_->setEnabled(true);
        graph_->printButton()->setEnabled(true);
    }
}

void TForm5::ClearButtonClick()
{
    emptyTable();
    module_.MeasureSaved = true;
    fileNameEdit_->clear();
    saveButton_->setEnabled(false);
    graph_->printButton()->setEnabled(false);
    graph_->clearSeries(0);
    liveReadingCount_ = 0;
    statistics_.restart();
    levelStatistics_->clear();
    clearButton_->setEnabled(false);
    graph_->clearFooter();
    graph_->setAxisRange(GraphAxis::Sample, GraphPanel::HomeMinimum, GraphPanel::HomeMaximum);
}

// ---------------------------------------------------------------------------------------------------
// A reading

bool TForm5::event(QEvent* event)
{
    if (event->type() == static_cast<QEvent::Type>(WM_NEWREADING)) {
        NewReading();
        return true;
    }
    return QWidget::event(event);
}

void TForm5::NewReading()
{
    TForm6& m = module_;
    soundAlarms();
    if (m.LiveValue > HighestLiveReading)
        m.LiveValue = HighestLiveReading;

    const std::int32_t tenths = m.LiveValue;
    const QString readingText = LevelText(tenths);
    const double readingValue = tenths / 10.0;
    showLevel(readingText);

    ++liveReadingCount_;
    clearButton_->setEnabled(true);

    const std::int32_t flags = m.LiveFlags;
    showFlagsAndArc(flags, readingValue);

    const QDateTime now = m.SystemTime().now();
    const bool cWeighting = (flags & MeterStatus::CWeighting) != 0;
    if (!appendReadingRow(readingText, cWeighting, now))
        return;
    showStatistics(tenths, cWeighting, now.date());
    graph_->appendValue(0, readingValue);
    m.MeasureSaved = false;
}

void TForm5::soundAlarms()
{
    TForm6& m = module_;
    // The alarms look at the reading as the meter sent it, before it is capped.
    if (!m.AlarmSoundOn)
        return;
    if (static_cast<double>(m.LiveValue) > m.SystemHighAlarm * 10.0)
        m.Sound().play(QLatin1String(HighAlarmSound));
    if (static_cast<double>(m.LiveValue) < m.SystemLowAlarm * 10.0)
        m.Sound().play(QLatin1String(LowAlarmSound));
}

void TForm5::showLevel(const QString& readingText)
{
    levelReadout_->setText(readingText);
    // The point takes no cell of its own.
    const auto digitCells = static_cast<int>(readingText.size()) - 1;
    levelReadout_->move((arcImage_.width() - digitCells * levelReadout_->WordWidth()) / 2, LevelReadoutTop);
}

void TForm5::showFlagsAndArc(std::int32_t flags, double readingValue)
{
    maxFlag_->setVisible((flags & MeterStatus::MaxHold) != 0);
    fastFlag_->hide();
    slowFlag_->hide();
    if (flags & MeterStatus::Fast)
        fastFlag_->show();
    else
        slowFlag_->show();

    // Range codes 5 to 15 name no range: the read-outs say so with dashes, no UNDER or OVER is
    // claimed, and the arc is drawn against the widest range.
    const auto rangeCode = static_cast<std::size_t>(flags & MeterStatus::RangeMask);
    const bool knownRange = rangeCode < RangeLimits.size();
    const RangeLimit range = knownRange ? RangeLimits[rangeCode] : RangeLimits[0];
    rangeLowReadout_->setText(knownRange ? QString::number(range.low) : QStringLiteral("--"));
    rangeHighReadout_->setText(knownRange ? QString::number(range.high) : QStringLiteral("--"));
    int ticks = roundHalfEven(readingValue - range.low);
    underFlag_->hide();
    overFlag_->hide();
    if (range.low > readingValue) {
        underFlag_->setVisible(knownRange);
        ticks = 1;
    }
    if (readingValue > range.high) {
        overFlag_->setVisible(knownRange);
        ticks = ScaleTicks;
    }
    DrawLevelArc(ticks);
}

bool TForm5::appendReadingRow(const QString& readingText, bool cWeighting, const QDateTime& now)
{
    ReadingRow row;
    row.recNo = QString::number(liveReadingCount_);
    row.date = SystemShortDateText(now.date());
    row.time = SystemLongTimeText(now.time());
    row.meaValue = readingText;
    row.weight = cWeighting ? QStringLiteral("C") : QStringLiteral("A");
    weightingLetter_->setText(row.weight);

    ReadingTable* table = module_.MeaData;
    if (!table)
        return true;
    // The grid hears of the new row once, after it is complete.
    struct Resume {
        ReadingTable* table;
        ~Resume() { table->resumeUpdates(); }
    };
    // A reading that cannot be stored must not pass for one that was: the run stops, then says why.
    const bool stored = runOrReport(
        [&] {
            table->suspendUpdates();
            const Resume resume { table };
            table->appendRow(row);
        },
        [this] {
            --liveReadingCount_;
            endRun();
        });
    if (stored)
        grid_->moveToLastRow();
    return stored;
}

void TForm5::showStatistics(std::int32_t tenths, bool cWeighting, const QDate& today)
{
    const double readingValue = tenths / 10.0;
    // Fed with the row, so that the figures are always those of the readings in MeaData.
    levelStatistics_->add(cWeighting ? Weighting::C : Weighting::A, tenths, LiveIntervalSeconds);
    const double maxBefore = statistics_.maximum();
    const double minBefore = statistics_.minimum();
    statistics_.add(readingValue);
    // The module keeps the running sum where the other windows can read it.
    module_.LiveLevelSum = statistics_.sum();
    graph_->setFooterLines(StatisticsFooterLines(statistics_, today));

    // Rows that were the maximum or minimum may not be any more.
    if (statistics_.maximum() != maxBefore || statistics_.minimum() != minBefore)
        grid_->viewport()->update();
}

QLine TForm5::tickLine(int tick) const
{
    const int width = arcImage_.width();
    const int height = arcImage_.height();
    const int cx = roundHalfEven(width / 2.0);
    const int cy = height;
    const int outer = height - 15;
    const int inner = outer - 20;
    constexpr double Pi = 3.1415926;
    constexpr double StartAngle = Pi * 140 / 180;
    constexpr double Step = Pi * 2 / 180;
    // Tick i runs from the outer to the inner radius at 140 - 2i degrees, clockwise over the top.
    const double angle = StartAngle - tick * Step;
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    return { QPoint(cx + roundHalfEven(c * outer), cy - roundHalfEven(s * outer)),
        QPoint(cx + roundHalfEven(c * inner), cy - roundHalfEven(s * inner)) };
}

// The pixels a one-pixel line draws for a tick never change; they are found once, by drawing the
// tick alone, so that a reading only has to set them.
const std::vector<QPoint>& TForm5::tickPixels(int tick)
{
    while (static_cast<int>(tickPixels_.size()) <= tick) {
        const QLine line = tickLine(static_cast<int>(tickPixels_.size()));
        const QRect box = QRect(QPoint(std::min(line.x1(), line.x2()), std::min(line.y1(), line.y2())),
            QPoint(std::max(line.x1(), line.x2()), std::max(line.y1(), line.y2())))
                              .intersected(arcImage_.rect());
        std::vector<QPoint> pixels;
        if (!box.isEmpty()) {
            QImage scratch(arcImage_.size(), QImage::Format_ARGB32_Premultiplied);
            scratch.fill(Qt::transparent);
            {
                QPainter painter(&scratch);
                painter.setRenderHint(QPainter::Antialiasing, false);
                painter.setPen(QPen(Qt::white, 0));
                painter.drawLine(line);
            }
            for (int y = box.top(); y <= box.bottom(); ++y) {
                const auto* row = reinterpret_cast<const QRgb*>(scratch.constScanLine(y));
                for (int x = box.left(); x <= box.right(); ++x) {
                    if (qAlpha(row[x]) != 0)
                        pixels.emplace_back(x, y);
                }
            }
        }
        tickPixels_.push_back(std::move(pixels));
    }
    return tickPixels_[static_cast<std::size_t>(tick)];
}

void TForm5::DrawLevelArc(int litTicks)
{
    arcImage_.fill(Qt::transparent);
    const auto drawTick = [this](int tick, QRgb colour) {
        for (const QPoint& pixel : tickPixels(tick))
            reinterpret_cast<QRgb*>(arcImage_.scanLine(pixel.y()))[pixel.x()] = colour;
    };
    for (int tick = 0; tick < ScaleTicks; ++tick)
        drawTick(tick, PanelGreen.rgba());
    // A reading lights at most 100 ticks (130.0 dB in 30..130); 180 would close the circle.
    const int lit = std::min(litTicks, 180);
    for (int tick = 0; tick < lit; ++tick)
        drawTick(tick, LitTick.rgba());
    litTicks_ = litTicks;
    if (arcView_)
        arcView_->update();
}

// ---------------------------------------------------------------------------------------------------
// Saving and closing

void TForm5::SaveButtonClick()
{
    saveReadings();
}

TForm5::SaveOutcome TForm5::saveReadings()
{
    TForm6& m = module_;
    saveButton_->setEnabled(false);
    m.MeasureSaved = true;

    QString name = fileNameEdit_->text();
    if (name.isEmpty()) {
        const DataFileChoice choice = AskDataFileName(m, this, QLatin1String(SaveFilter),
            [](const QString& path) { return path + QStringLiteral(" already exits!\rAre you sure to replace it?"); });
        if (choice.outcome != DataFileChoice::Outcome::Chosen) {
            // A cancelled dialog leaves Save at hand; a refused replace leaves it as the user left it.
            if (choice.outcome == DataFileChoice::Outcome::Cancelled)
                saveButton_->setEnabled(true);
            m.MeasureSaved = false;
            return SaveOutcome::Abandoned;
        }
        name = choice.path;
        fileNameEdit_->setText(name);
    }

    if (!WriteReadingsFile(m, this, QStringLiteral("Error Information"), m.MeaData, name, saveButton_, fileNameEdit_))
        return SaveOutcome::Failed;
    return SaveOutcome::Written;
}

void TForm5::closeEvent(QCloseEvent* event)
{
    TForm6& m = module_;
    m.ChildWindowClosed(ChildWindowKind::Measure);

    // The run ends before anything is asked; ReadMode goes back to 0 with it, so that the setup
    // window's status read is not held off by a run that no longer exists.
    endRun();
    startButton_->setEnabled(true);

    if (!m.MeasureSaved) {
        saveButton_->setEnabled(true);
        const MessageAnswer answer
            = m.ShowMessageBox(QStringLiteral("Measured data has not save yet.\rDo you want to save data?"),
                QStringLiteral("Query Information"), MessageButtons::YesNoCancel, MessageIcon::Question, this);
        if (answer == MessageAnswer::Yes) {
            // A save that failed keeps the window, and the readings, on screen.
            if (saveReadings() == SaveOutcome::Failed) {
                keepOpen(event, false);
                return;
            }
        } else if (answer != MessageAnswer::No) {
            keepOpen(event, true);
            return;
        }
    }
    event->accept();
}

void TForm5::keepOpen(QCloseEvent* event, bool minimise)
{
    module_.ChildWindowCloseCancelled(ChildWindowKind::Measure, this);
    event->ignore();
    if (!minimise)
        return;
    // The frame's subwindow when there is one; minimised once its own close handling is over.
    QWidget* window = qobject_cast<QMdiSubWindow*>(parentWidget());
    if (!window && isWindow())
        window = this;
    if (window)
        QTimer::singleShot(0, window, &QWidget::showMinimized);
}
