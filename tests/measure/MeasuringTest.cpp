// The measurement window driven as the user and the meter drive it: buttons clicked offscreen,
// readings answered by the simulated meter, dialogs answered from a script. The window sits in a
// subwindow of an MDI area, as in the main frame.
#include "measure/Measuring.h"
#include "core/SystemTexts.h"
#include "datafile/DataFile.h"
#include "store/SqliteReadingStore.h"
#include "support/ChildWindowHarness.h"
#include "support/TestModule.h"
#include "widgets/GraphPanel.h"
#include "widgets/LEDFont.h"
#include "widgets/ReadingGridView.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

constexpr std::uint8_t Fast = 0x40;
constexpr std::uint8_t CWeighting = 0x10;
constexpr std::uint8_t MaxHold = 0x20;

class MeasureWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fixture.connect());
        // As the module's start-up leaves them.
        m.MeasureSaved = true;
        m.MeasureCommandEnabled = true;
        m.FormsReady = true;
        openWindow();
    }

    void openWindow() { ASSERT_TRUE(shownWindow.open(m, ChildWindowKind::Measure)); }

    template <typename T> T* child(const char* name) const { return shownWindow.template child<T>(name); }
    QPushButton* button(const char* name) const { return shownWindow.button(name); }
    bool shown(const char* name) const { return !child<QWidget>(name)->isHidden(); }
    QString readout(const char* name) const { return child<TLEDFontNum>(name)->Text(); }
    QString fileNameBox() const { return child<QLineEdit>("FileNameEdit")->text(); }
    qint64 rows() const { return m.MeaData->rowCount(); }
    ReadingRow lastRow() const { return m.MeaData->row(rows() - 1); }

    void click(const char* name)
    {
        QPushButton* target = button(name);
        ASSERT_TRUE(target->isVisible() && target->isEnabled()) << name;
        QTest::mouseClick(target, Qt::LeftButton);
    }

    // Starts a run and takes over its one-second poll, so that each reading comes exactly when the
    // test ticks.
    void start()
    {
        click("StartButton");
        ASSERT_TRUE(window->IsMeasuring());
        auto* timer = child<QTimer>("Timer1");
        ASSERT_TRUE(timer->isActive());
        EXPECT_EQ(timer->interval(), 1000);
        timer->stop();
    }

    // One poll of the meter, answered with this level (tenths of a dB) and status byte.
    void reading(int tenths, std::uint8_t status = Fast)
    {
        fixture.meter.setStatusByte(status);
        fixture.meter.queueReadings({ tenths });
        const qint64 before = rows();
        window->Timer1Timer();
        ASSERT_TRUE(TestModule::waitUntil([&] { return rows() == before + 1; })) << tenths;
    }

    void readings(std::initializer_list<int> tenths)
    {
        for (const int value : tenths)
            reading(value);
    }

    // Whether the window is gone once the frame's deferred deletions have run.
    bool windowDeleted()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.isNull();
    }

    QString dataFile(const char* name) const { return QDir(files.path()).filePath(QLatin1String(name)); }

    QTemporaryDir files;
    TestModule fixture { std::make_unique<SqliteReadingStore>(files.filePath(QStringLiteral("Decimora.mdb"))) };
    TForm6& m = *fixture.module;
    ChildWindowHarness<TForm5> shownWindow;
    std::unique_ptr<QMdiArea>& area = shownWindow.area;
    QPointer<QMdiSubWindow>& subWindow = shownWindow.subWindow;
    QPointer<TForm5>& window = shownWindow.window;
};

TEST_F(MeasureWindowTest, OpensEmptyAndIdle)
{
    EXPECT_EQ(window->objectName(), QStringLiteral("Form5"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Decimora Real Time Measure"));
    EXPECT_TRUE(shown("StartButton"));
    EXPECT_FALSE(shown("StopButton"));
    EXPECT_FALSE(window->IsMeasuring());
    EXPECT_FALSE(window->SaveEnabled());
    EXPECT_FALSE(button("ClearButton")->isEnabled());
    EXPECT_FALSE(window->Graph()->printButton()->isEnabled());
    EXPECT_FALSE(child<QTimer>("Timer1")->isActive());
    EXPECT_EQ(readout("LevelReadout"), QStringLiteral("0.0"));
    EXPECT_EQ(child<TLEDFontNum>("LevelReadout")->WordHeight(), 49);
    EXPECT_EQ(child<TLEDFontNum>("LevelReadout")->Thick(), 6);
    EXPECT_EQ(child<TLEDFontNum>("LevelReadout")->x(), (257 - 2 * 28) / 2);
    EXPECT_EQ(readout("RangeLowReadout"), QStringLiteral("30"));
    EXPECT_EQ(readout("RangeHighReadout"), QStringLiteral("130"));
    for (const char* flag : { "UnderFlag", "OverFlag", "FastFlag", "SlowFlag" })
        EXPECT_FALSE(shown(flag)) << flag;
    EXPECT_EQ(child<QLabel>("WeightingLetter")->text(), QStringLiteral("A"));
    EXPECT_EQ(window->LitTicks(), 50);
    EXPECT_EQ(window->Graph()->title(), QStringLiteral("SPL Graph Analyzing"));
    EXPECT_TRUE(window->Graph()->footerLines().isEmpty());
    const AxisRange sample = window->Graph()->axisRange(GraphAxis::Sample);
    EXPECT_EQ(sample.minimum, 0.0);
    EXPECT_EQ(sample.maximum, 59.0);
    EXPECT_TRUE(m.FormsReady);
    EXPECT_EQ(rows(), 0);
}

TEST_F(MeasureWindowTest, StartIsRefusedWithoutTheMeterOrWhileItIsBusy)
{
    struct Case {
        const char* name;
        bool unplugged;
        std::int16_t busy;
    };
    const Case cases[] = {
        { "meter unplugged", true, 0 },
        { "import holds the meter", false, 30 },
        { "another run holds the meter", false, 10 },
    };
    for (const Case& c : cases) {
        if (c.unplugged) {
            fixture.meter.unplug();
            ASSERT_TRUE(TestModule::waitUntil([&] { return !m.DeviceConnected; }));
        }
        m.MeterBusy = c.busy;
        m.ReadMode = 0;
        click("StartButton");
        EXPECT_FALSE(window->IsMeasuring()) << c.name;
        EXPECT_FALSE(shown("StopButton")) << c.name;
        EXPECT_FALSE(child<QTimer>("Timer1")->isActive()) << c.name;
        EXPECT_EQ(m.ReadMode, 0) << c.name;
        EXPECT_EQ(m.MeterBusy, c.busy) << c.name;
        EXPECT_TRUE(fixture.ui.messages.empty()) << c.name;
        fixture.meter.plug();
        ASSERT_TRUE(TestModule::waitUntil([&] { return m.DeviceConnected; }));
    }
}

TEST_F(MeasureWindowTest, EachTickAsksTheMeterAndItsAnswerBecomesARow)
{
    start();
    EXPECT_EQ(m.ReadMode, 1);
    EXPECT_EQ(m.MeterBusy, 10);
    EXPECT_FALSE(window->SaveEnabled());
    fixture.meter.clearWrittenReports();

    fixture.clock.current = QDateTime(QDate(2026, 3, 7), QTime(9, 5, 30));
    reading(456, Fast | CWeighting);

    const auto written = fixture.meter.writtenReports();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0][0], 0x00);
    EXPECT_EQ(written[0][1], 0xB3);
    const ReadingRow row = lastRow();
    EXPECT_EQ(row.recNo, QStringLiteral("1"));
    EXPECT_EQ(row.meaValue, QStringLiteral("45.6"));
    EXPECT_EQ(row.weight, QStringLiteral("C"));
    EXPECT_EQ(row.date, SystemShortDateText(QDate(2026, 3, 7)));
    EXPECT_EQ(row.time, SystemLongTimeText(QTime(9, 5, 30)));
    EXPECT_EQ(child<QLabel>("WeightingLetter")->text(), QStringLiteral("C"));
    EXPECT_TRUE(shown("FastFlag"));
    EXPECT_FALSE(shown("SlowFlag"));
    EXPECT_FALSE(shown("MaxFlag"));
    EXPECT_TRUE(button("ClearButton")->isEnabled());
    EXPECT_FALSE(m.MeasureSaved);

    // The grid shows the newest row as its current row.
    auto* grid = child<ReadingGridView>("DBGrid1");
    EXPECT_EQ(grid->currentIndex().row(), 0);

    reading(457, MaxHold);
    EXPECT_EQ(lastRow().weight, QStringLiteral("A"));
    EXPECT_EQ(child<QLabel>("WeightingLetter")->text(), QStringLiteral("A"));
    EXPECT_FALSE(shown("FastFlag"));
    EXPECT_TRUE(shown("SlowFlag"));
    EXPECT_TRUE(shown("MaxFlag"));
    EXPECT_EQ(grid->currentIndex().row(), 1);
}

// The alarms compare the reading as the meter sent it; what is shown and kept is capped at 140.0.
TEST_F(MeasureWindowTest, ReadingsAreCappedShownStoredAndAlarmed)
{
    m.AlarmSoundOn = true;
    m.SystemHighAlarm = 145.0;
    m.SystemLowAlarm = 1.0;
    struct Case {
        int tenths;
        const char* text;
        int readoutLeft;
        const char* sound;
    };
    const Case cases[] = {
        // The read-out is placed by its digit cells: the point takes none.
        { 1500, "140.0", (257 - 4 * 28) / 2, "highalarm.wav" },
        { 7, "0.7", (257 - 2 * 28) / 2, "lowalarm.wav" },
        { 0, "0.0", (257 - 2 * 28) / 2, "lowalarm.wav" },
        { 855, "85.5", (257 - 3 * 28) / 2, nullptr },
    };
    start();
    for (const Case& c : cases) {
        fixture.sound.played.clear();
        reading(c.tenths);
        EXPECT_EQ(readout("LevelReadout"), QLatin1String(c.text)) << c.tenths;
        EXPECT_EQ(child<TLEDFontNum>("LevelReadout")->x(), c.readoutLeft) << c.tenths;
        EXPECT_EQ(lastRow().meaValue, QLatin1String(c.text)) << c.tenths;
        EXPECT_EQ(window->Graph()->values(0).back(), ValueFromText(QString::fromLatin1(c.text))) << c.tenths;
        EXPECT_LE(m.LiveValue, 1400) << c.tenths;
        const QStringList expected = c.sound ? QStringList { QLatin1String(c.sound) } : QStringList {};
        EXPECT_EQ(fixture.sound.played, expected) << c.tenths;
    }
    // 140.0 counts as 140.0 in the statistics.
    EXPECT_EQ(window->LiveLevelMax(), 140.0);

    m.AlarmSoundOn = false;
    fixture.sound.played.clear();
    readings({ 1500, 0 });
    EXPECT_TRUE(fixture.sound.played.isEmpty());
}

TEST_F(MeasureWindowTest, RangeFlagsAndLevelArcFollowTheRangeCode)
{
    struct Case {
        std::uint8_t rangeCode;
        int tenths;
        const char* low;
        const char* high;
        bool under;
        bool over;
        int ticks;
    };
    const Case cases[] = {
        { 1, 300, "30", "80", false, false, 0 },
        { 1, 299, "30", "80", true, false, 1 },
        { 1, 800, "30", "80", false, false, 50 },
        { 1, 801, "30", "80", false, true, 50 },
        // Half a tick goes to the even neighbour.
        { 0, 455, "30", "130", false, false, 16 },
        { 0, 465, "30", "130", false, false, 16 },
        // Above 50 the ticks run on past the scale's right end.
        { 0, 950, "30", "130", false, false, 65 },
        { 4, 1000, "80", "130", false, false, 20 },
        // A code the meter does not define: no limits to show or to be under or over.
        { 7, 950, "--", "--", false, false, 65 },
        { 15, 100, "--", "--", false, false, 1 },
    };
    start();
    for (const Case& c : cases) {
        reading(c.tenths, Fast | c.rangeCode);
        const std::string name = std::to_string(c.rangeCode) + "/" + std::to_string(c.tenths);
        EXPECT_EQ(readout("RangeLowReadout"), QLatin1String(c.low)) << name;
        EXPECT_EQ(readout("RangeHighReadout"), QLatin1String(c.high)) << name;
        EXPECT_EQ(shown("UnderFlag"), c.under) << name;
        EXPECT_EQ(shown("OverFlag"), c.over) << name;
        EXPECT_EQ(window->LitTicks(), c.ticks) << name;
    }
}

// The arc's ticks run clockwise over the top of the 257 x 147 panel image, 2 degrees apart from
// 140 degrees, between radii 112 and 132 around (128, 147). The points are worked out by hand.
TEST_F(MeasureWindowTest, LevelArcLightsItsFirstTicksInYellow)
{
    struct Point {
        const char* where;
        QPoint pixel;
        int tick;
    };
    const Point points[] = {
        { "first tick, outer end", { 27, 62 }, 0 },
        { "first tick, inner end", { 42, 75 }, 0 },
        { "15th tick, outer end", { 79, 25 }, 14 },
        { "16th tick, outer end", { 83, 23 }, 15 },
        { "the top", { 128, 15 }, 25 },
        { "last tick, outer end", { 226, 59 }, 49 },
        { "last tick, inner end", { 211, 72 }, 49 },
    };
    const QColor yellow(255, 255, 0);
    const QColor green(0, 128, 0);
    start();
    reading(450, Fast | 0); // 45.0 dB in 30..130: 15 ticks
    const QImage arc = window->LevelArcImage();
    for (const Point& p : points)
        EXPECT_EQ(arc.pixelColor(p.pixel), p.tick < 15 ? yellow : green) << p.where;
    // Between the ticks and below them the panel's green shows through.
    EXPECT_EQ(arc.pixelColor(128, 146).alpha(), 0);
    EXPECT_EQ(arc.pixelColor(80, 24).alpha(), 0);

    // 65 ticks: 15 beyond the scale, drawn where they fall inside the image; the 61st at 20 degrees
    // reaches in to (233, 109).
    reading(950, Fast | 0);
    const QImage beyond = window->LevelArcImage();
    EXPECT_EQ(beyond.pixelColor(226, 59), yellow);
    EXPECT_EQ(beyond.pixelColor(233, 109), yellow);
}

TEST_F(MeasureWindowTest, FirstReadingSetsMaximumMinimumAverageAndFooter)
{
    fixture.clock.current = QDateTime(QDate(2026, 12, 9), QTime(14, 30, 15));
    start();
    reading(653);
    const QString value = SystemOneDecimalText(65.3);
    const QString date = SystemShortDateText(QDate(2026, 12, 9));
    const QString blanks10(10, QLatin1Char(' '));
    const QString blanks5(5, QLatin1Char(' '));
    const QString blanks28(28, QLatin1Char(' '));
    EXPECT_EQ(window->Graph()->footerLines(),
        QStringList({ blanks10 + "MAX:" + blanks5 + value + blanks28 + "MIN:" + blanks5 + value + blanks28
                + "AVG:" + blanks5 + value,
            blanks10 + "Date:" + blanks5 + date }));

    readings({ 701, 452 });
    EXPECT_EQ(window->LiveLevelMax(), 70.1);
    EXPECT_EQ(window->LiveLevelMin(), 45.2);
    EXPECT_TRUE(window->Graph()->footerLines().at(0).endsWith(
        "AVG:" + blanks5 + SystemOneDecimalText((65.3 + 70.1 + 45.2) / 3)));
}

TEST_F(MeasureWindowTest, StopAndStartAgainContinueNumberingGraphAndStatistics)
{
    start();
    readings({ 500, 600 });
    click("StopButton");
    EXPECT_FALSE(window->IsMeasuring());
    EXPECT_FALSE(child<QTimer>("Timer1")->isActive());
    EXPECT_EQ(m.ReadMode, 0);
    EXPECT_EQ(m.MeterBusy, 0);
    EXPECT_TRUE(window->SaveEnabled());
    EXPECT_TRUE(window->Graph()->printButton()->isEnabled());

    start();
    reading(400);
    EXPECT_EQ(lastRow().recNo, QStringLiteral("3"));
    EXPECT_EQ(window->Graph()->pointCount(0), 3);
    EXPECT_EQ(window->LiveLevelMax(), 60.0);
    EXPECT_EQ(window->LiveLevelMin(), 40.0);
}

TEST_F(MeasureWindowTest, StopWithAnEmptyTableLeavesSaveAndPrintAsTheyWere)
{
    start();
    click("StopButton");
    EXPECT_FALSE(window->SaveEnabled());
    EXPECT_FALSE(window->Graph()->printButton()->isEnabled());
}

TEST_F(MeasureWindowTest, ClearDuringARunStartsAgainAtOne)
{
    start();
    for (int i = 0; i < 62; ++i)
        reading(500 + i);
    EXPECT_EQ(window->Graph()->axisRange(GraphAxis::Sample).minimum, 2.0);
    // The grid follows the newest row; the first ones have scrolled out of sight.
    auto* grid = child<ReadingGridView>("DBGrid1");
    EXPECT_EQ(grid->currentIndex().row(), 61);
    EXPECT_TRUE(grid->viewport()->rect().contains(grid->visualRect(grid->model()->index(61, 0))));
    EXPECT_FALSE(grid->viewport()->rect().intersects(grid->visualRect(grid->model()->index(0, 0))));

    click("ClearButton");
    EXPECT_TRUE(window->IsMeasuring());
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(window->Graph()->pointCount(0), 0);
    EXPECT_TRUE(window->Graph()->footerLines().isEmpty());
    EXPECT_FALSE(button("ClearButton")->isEnabled());
    EXPECT_TRUE(m.MeasureSaved);
    const AxisRange cleared = window->Graph()->axisRange(GraphAxis::Sample);
    EXPECT_EQ(cleared.minimum, 0.0);
    EXPECT_EQ(cleared.maximum, 59.0);

    reading(300);
    EXPECT_EQ(lastRow().recNo, QStringLiteral("1"));
    EXPECT_EQ(window->Graph()->pointCount(0), 1);
    // The statistics start again from this reading.
    EXPECT_EQ(window->LiveLevelMax(), 30.0);
    EXPECT_EQ(window->LiveLevelMin(), 30.0);
    EXPECT_EQ(m.MeterBusy, 10);
}

TEST_F(MeasureWindowTest, UnpluggedMeterPausesTheRunUntilItReturns)
{
    start();
    reading(500);
    fixture.meter.unplug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return !m.DeviceConnected; }));
    fixture.meter.clearWrittenReports();
    window->Timer1Timer();
    EXPECT_TRUE(fixture.meter.writtenReports().empty());
    EXPECT_TRUE(window->IsMeasuring());

    fixture.meter.plug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return m.DeviceConnected; }));
    reading(510);
    EXPECT_EQ(lastRow().recNo, QStringLiteral("2"));
    EXPECT_EQ(lastRow().meaValue, QStringLiteral("51.0"));
}

TEST_F(MeasureWindowTest, SaveWritesTheDataFileAndKeepsItsName)
{
    struct Case {
        const char* chosen;
        const char* written;
    };
    QDir(files.path()).mkdir(QStringLiteral("data.old"));
    const Case cases[] = {
        { "run1", "run1.dmr" },
        { "data.old/run1", "data.old/run1" },
    };
    for (const Case& c : cases) {
        if (button("ClearButton")->isEnabled())
            click("ClearButton");
        start();
        readings({ 653, 1000 });
        click("StopButton");
        EXPECT_TRUE(window->hasUnsavedReadings()) << c.chosen;
        fixture.ui.saveFileNames.push_back(dataFile(c.chosen));
        click("SaveButton");
        EXPECT_FALSE(window->hasUnsavedReadings()) << c.chosen;

        ASSERT_FALSE(fixture.ui.saveDialogs.empty());
        EXPECT_EQ(fixture.ui.saveDialogs.back().filter, QStringLiteral("*.dmr|*.dmr|*.DMR|*.DMR"));
        EXPECT_EQ(fileNameBox(), dataFile(c.written)) << c.chosen;
        EXPECT_TRUE(m.MeasureSaved);
        EXPECT_FALSE(window->SaveEnabled());
        QFile file(dataFile(c.written));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.written;
        const QList<QByteArray> lines = file.readAll().split('\n');
        EXPECT_EQ(lines.at(1), QByteArray("Total:2\r"));
        EXPECT_TRUE(lines.at(3).contains(",100.0 ,A")) << lines.at(3).constData();
    }

    // The name stays: the next save goes to the same file without a dialog or a question.
    const auto dialogs = fixture.ui.saveDialogs.size();
    start();
    reading(700);
    click("StopButton");
    click("SaveButton");
    EXPECT_EQ(fixture.ui.saveDialogs.size(), dialogs);
    EXPECT_TRUE(fixture.ui.messages.empty());
    QFile again(dataFile("data.old/run1"));
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_TRUE(again.readAll().contains("Total:3\r\n"));
}

TEST_F(MeasureWindowTest, SaveCancelledAtTheDialogOrTheReplaceQuestion)
{
    start();
    reading(500);
    click("StopButton");

    click("SaveButton"); // the dialog is cancelled
    EXPECT_TRUE(window->SaveEnabled());
    EXPECT_FALSE(m.MeasureSaved);
    EXPECT_TRUE(fileNameBox().isEmpty());

    QFile existing(dataFile("old.dmr"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("keep me");
    existing.close();
    fixture.ui.saveFileNames.push_back(dataFile("old.dmr"));
    fixture.ui.answers.push_back(MessageAnswer::No);
    click("SaveButton");
    ASSERT_EQ(fixture.ui.messages.size(), 1u);
    const auto& question = fixture.ui.messages.back();
    EXPECT_EQ(question.text, dataFile("old.dmr") + " already exits!\rAre you sure to replace it?");
    EXPECT_EQ(question.caption, QStringLiteral("Query Information"));
    EXPECT_EQ(question.buttons, MessageButtons::YesNo);
    EXPECT_EQ(question.icon, MessageIcon::Question);
    EXPECT_EQ(m.LastErrorText, question.text);
    EXPECT_FALSE(window->SaveEnabled());
    EXPECT_FALSE(m.MeasureSaved);
    EXPECT_TRUE(fileNameBox().isEmpty());
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("keep me"));

    // Still unsaved: closing asks.
    subWindow->close();
    EXPECT_EQ(fixture.ui.messages.size(), 2u);
}

// The readings stay unsaved and at hand when the file cannot be written, and closing still asks.
TEST_F(MeasureWindowTest, FailedSaveSaysWhyAndKeepsTheReadingsUnsaved)
{
    start();
    reading(500);
    click("StopButton");
    fixture.ui.saveFileNames.push_back(dataFile("gone/run1"));
    click("SaveButton");

    ASSERT_EQ(fixture.ui.messages.size(), 1u);
    const auto& error = fixture.ui.messages.back();
    EXPECT_EQ(error.caption, QStringLiteral("Error Information"));
    EXPECT_EQ(error.icon, MessageIcon::Error);
    EXPECT_TRUE(error.text.contains(dataFile("gone/run1.dmr"))) << qPrintable(error.text);
    EXPECT_FALSE(m.MeasureSaved);
    EXPECT_TRUE(window->SaveEnabled());
    EXPECT_TRUE(fileNameBox().isEmpty());

    // Yes at the close question, and the save fails again: the window stays with its readings.
    fixture.ui.answers.push_back(MessageAnswer::Yes);
    fixture.ui.saveFileNames.push_back(dataFile("gone/run1"));
    EXPECT_FALSE(subWindow->close());
    ASSERT_FALSE(window.isNull());
    EXPECT_EQ(m.MeasureWindowHandle, window.data());
    EXPECT_FALSE(m.MeasureCommandEnabled);
    EXPECT_EQ(rows(), 1);

    // A save to a folder that exists then works.
    fixture.ui.saveFileNames.push_back(dataFile("run1"));
    click("SaveButton");
    EXPECT_TRUE(QFile::exists(dataFile("run1.dmr")));
    EXPECT_TRUE(m.MeasureSaved);
}

TEST_F(MeasureWindowTest, CloseAsksAboutUnsavedReadings)
{
    struct Case {
        MessageAnswer answer;
        bool closes;
        bool fileWritten;
    };
    const Case cases[] = {
        { MessageAnswer::Yes, true, true },
        { MessageAnswer::No, true, false },
        { MessageAnswer::Cancel, false, false },
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string name = "answer " + std::to_string(index);
        if (!window)
            openWindow();
        fixture.ui.messages.clear();
        start();
        reading(500);
        const QString path = dataFile(("close" + std::to_string(index++)).c_str());
        fixture.ui.answers.push_back(c.answer);
        fixture.ui.saveFileNames.push_back(path);

        const bool closed = subWindow->close();
        QCoreApplication::processEvents();

        EXPECT_EQ(closed, c.closes) << name;
        ASSERT_EQ(fixture.ui.messages.size(), 1u) << name;
        EXPECT_EQ(
            fixture.ui.messages[0].text, QStringLiteral("Measured data has not save yet.\rDo you want to save data?"));
        EXPECT_EQ(fixture.ui.messages[0].caption, QStringLiteral("Query Information"));
        EXPECT_EQ(fixture.ui.messages[0].buttons, MessageButtons::YesNoCancel);
        EXPECT_EQ(QFile::exists(path + ".dmr"), c.fileWritten) << name;
        // The run ends before the question, whatever the answer.
        EXPECT_EQ(m.MeterBusy, 0) << name;
        EXPECT_EQ(m.ReadMode, 0) << name;
        // A cancelled close keeps the window's Window-menu item.
        EXPECT_EQ(m.DropMeasureMenuItem, c.closes) << name;
        if (c.closes) {
            ASSERT_TRUE(windowDeleted()) << name;
            EXPECT_TRUE(m.MeasureWindowHandle.isNull()) << name;
            EXPECT_TRUE(m.MeasureCommandEnabled) << name;
        } else {
            ASSERT_FALSE(window.isNull()) << name;
            EXPECT_EQ(m.MeasureWindowHandle, window.data()) << name;
            EXPECT_FALSE(m.MeasureCommandEnabled) << name;
            EXPECT_FALSE(window->IsMeasuring()) << name;
            EXPECT_TRUE(window->SaveEnabled()) << name;
            EXPECT_TRUE(TestModule::waitUntil([&] { return subWindow->isMinimized(); })) << name;
        }
    }
}

TEST_F(MeasureWindowTest, SavedReadingsCloseWithoutAQuestion)
{
    start();
    reading(500);
    click("ClearButton");
    EXPECT_TRUE(subWindow->close());
    EXPECT_TRUE(fixture.ui.messages.empty());
    EXPECT_TRUE(windowDeleted());
}

TEST_F(MeasureWindowTest, GridPaintsMaximumRowsRedAndMinimumRowsPurple)
{
    auto* grid = child<ReadingGridView>("DBGrid1");
    const auto rowColours = [&] {
        QCoreApplication::processEvents();
        const QImage image = grid->viewport()->grab().toImage();
        std::vector<QColor> colours;
        for (int row = 0; row < grid->model()->rowCount(); ++row) {
            const QRect cell = grid->visualRect(grid->model()->index(row, 2));
            colours.push_back(image.pixelColor(cell.right() - 3, cell.center().y()));
        }
        return colours;
    };
    const QColor red(255, 0, 0);
    const QColor purple(128, 0, 128);
    const QColor background(0, 128, 128);

    start();
    readings({ 500, 600, 600, 400, 550 });
    // The current row (the last) is neither: leave it out.
    grid->clearSelection();
    const auto colours = rowColours();
    ASSERT_EQ(colours.size(), 5u);
    EXPECT_EQ(colours[0], background);
    EXPECT_EQ(colours[1], red);
    EXPECT_EQ(colours[2], red);
    EXPECT_EQ(colours[3], purple);
    EXPECT_EQ(colours[4], background);

    click("ClearButton");
    readings({ 500, 500, 500 });
    grid->clearSelection();
    for (const QColor& colour : rowColours())
        EXPECT_EQ(colour, purple);
}

// A reading the table cannot take stops the run with the database's own words, instead of
// passing for a stored one.
TEST_F(MeasureWindowTest, ReadingThatCannotBeStoredStopsTheRun)
{
    start();
    reading(500);
    // Another program makes the table refuse new rows.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(files.filePath(QStringLiteral("Decimora.mdb")).toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(other,
            "CREATE TRIGGER refuse BEFORE INSERT ON MeaData BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END",
            nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(other);

    fixture.meter.queueReadings({ 600 });
    window->Timer1Timer();
    ASSERT_TRUE(TestModule::waitUntil([&] { return !fixture.ui.messages.empty(); }));
    EXPECT_EQ(fixture.ui.messages.back().caption, QStringLiteral("Error Information"));
    EXPECT_TRUE(fixture.ui.messages.back().text.contains("database or disk is full"))
        << qPrintable(fixture.ui.messages.back().text);
    EXPECT_FALSE(window->IsMeasuring());
    EXPECT_EQ(m.MeterBusy, 0);
    EXPECT_EQ(window->LiveReadingCount(), 1);
    EXPECT_EQ(window->Graph()->pointCount(0), 1);
}

} // namespace
