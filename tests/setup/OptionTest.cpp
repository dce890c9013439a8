// The setup window driven as the user and the meter drive it: controls set and buttons clicked
// offscreen, the meter's status and the commands on the wire from the simulated meter, messages
// answered from a script. The window sits in a subwindow of an MDI area, as in the main frame, beside
// the real measurement and import windows where it shares the meter with them.
#include "setup/Option.h"

#include "core/MeterProtocol.h"
#include "core/SystemTexts.h"
#include "core/systemvar.h"
#include "desktop/ChosenPrinter.h"
#include "import/GetRecorde.h"
#include "measure/Measuring.h"
#include "meter/SimulatedMeter.h"
#include "store/SqliteReadingStore.h"
#include "support/FakeServices.h"
#include "support/ScriptedUserInteraction.h"
#include "support/TestModule.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gmock/gmock.h>

#include <chrono>
#include <mutex>
#include <ostream>
#include <vector>

namespace {

using testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

// One output report as it reaches the meter: the report id, the command and its arguments, and zeros
// to the report's length.
Bytes Report(std::initializer_list<std::uint8_t> bytes)
{
    Bytes report(bytes);
    report.resize(SimulatedMeter::ReportLength, 0);
    return report;
}

// The simulated meter's wire, noting when each report reached the meter.
class StampingPlatform final : public HidPlatform {
public:
    explicit StampingPlatform(SimulatedMeter& meter)
        : meter_(meter)
    {
    }

    bool available() const override { return meter_.available(); }
    std::vector<HidInterfaceInfo> scan() override { return meter_.scan(); }
    std::unique_ptr<HidConnection> open(const QString& devicePath, HidAccess access) override
    {
        std::unique_ptr<HidConnection> connection = meter_.open(devicePath, access);
        if (!connection)
            return nullptr;
        return std::make_unique<Stamping>(std::move(connection), *this);
    }
    void setChangeListener(std::function<void()> listener) override { meter_.setChangeListener(std::move(listener)); }

    // When each report the meter accepted reached it, in order.
    std::vector<SteadyClock::time_point> writeTimes() const
    {
        std::lock_guard lock(mutex_);
        return times_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        times_.clear();
    }

private:
    class Stamping final : public HidConnection {
    public:
        Stamping(std::unique_ptr<HidConnection> inner, StampingPlatform& platform)
            : inner_(std::move(inner))
            , platform_(platform)
        {
        }
        bool attributes(HidAttributes& out) override { return inner_->attributes(out); }
        bool reportLengths(HidReportLengths& out) override { return inner_->reportLengths(out); }
        bool write(const std::uint8_t* data, std::size_t length) override
        {
            const bool written = inner_->write(data, length);
            if (written)
                platform_.stamp();
            return written;
        }
        int read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
        {
            return inner_->read(buffer, length, timeoutMs);
        }
        void cancel() override { inner_->cancel(); }

    private:
        std::unique_ptr<HidConnection> inner_;
        StampingPlatform& platform_;
    };

    void stamp()
    {
        std::lock_guard lock(mutex_);
        times_.push_back(SteadyClock::now());
    }

    SimulatedMeter& meter_;
    mutable std::mutex mutex_;
    std::vector<SteadyClock::time_point> times_;
};

// What the first page shows of the meter's settings.
struct Shown {
    QString range;
    bool fast;
    bool cWeighting;
    bool maxHold;
    bool operator==(const Shown&) const = default;
};

void PrintTo(const Shown& shown, std::ostream* out)
{
    *out << '"' << shown.range.toStdString() << "\" " << (shown.fast ? "Fast" : "Slow") << ' '
         << (shown.cWeighting ? 'C' : 'A') << (shown.maxHold ? " MAX" : "");
}

const Shown MeterDefaults { "30-130", false, false, false };

// A module on the simulated meter with real tables in a temporary folder, and an MDI area in which
// the setup window opens as Option > System Setup opens it.
struct Scene {
    Scene()
    {
        module = std::make_unique<TForm6>(ModuleServices { ui, clock, sound, wire, folder.path() },
            std::make_unique<SqliteReadingStore>(folder.filePath(QStringLiteral("Decimora.mdb"))));
    }
    ~Scene()
    {
        // The windows go before the module they point into.
        area.reset();
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // The meter found, the module as its start-up leaves it, the settings a user had.
    bool start()
    {
        TestModule::waitUntil([this] { return !module->DeviceList.empty(); }, 2000);
        TForm6& m = *module;
        m.FormsReady = true;
        m.MeasureSaved = true;
        m.MeasureCommandEnabled = true;
        m.ImportCommandEnabled = true;
        m.SetupCommandEnabled = true;
        m.CompanyName = QStringLiteral("Hollow Hill Acoustics");
        m.AlarmSoundOn = true;
        m.SystemLowAlarm = 85.0;
        m.SystemHighAlarm = 85.5;
        area->resize(1100, 700);
        area->show();
        return m.DeviceConnected && QTest::qWaitForWindowExposed(area.get());
    }

    // What the frame does for Option > System Setup; the window's status read runs in here.
    void open()
    {
        module->SetupCommandEnabled = false;
        window = new TForm8(*module);
        subWindow = area->addSubWindow(window);
        subWindow->setAttribute(Qt::WA_DeleteOnClose);
        subWindow->show();
        area->setActiveSubWindow(subWindow);
    }

    template <typename T> T* child(const char* name) const
    {
        T* found = window ? window->findChild<T*>(QLatin1String(name)) : nullptr;
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char* name) const
    {
        if (auto* label = window->findChild<QLabel*>(QLatin1String(name)))
            return label->text();
        if (auto* box = window->findChild<QAbstractSpinBox*>(QLatin1String(name)))
            return box->text();
        if (auto* edit = window->findChild<QLineEdit*>(QLatin1String(name)))
            return edit->text();
        if (auto* group = window->findChild<QGroupBox*>(QLatin1String(name)))
            return group->title();
        return child<QAbstractButton>(name)->text();
    }
    bool checked(const char* name) const { return child<QAbstractButton>(name)->isChecked(); }
    QComboBox* rangeList() const { return child<QComboBox>("RangeList"); }

    Shown shown() const
    {
        EXPECT_NE(checked("FastChoice"), checked("SlowChoice"));
        EXPECT_NE(checked("AChoice"), checked("CChoice"));
        return { rangeList()->currentText(), checked("FastChoice"), checked("CChoice"), checked("MaxModeBox") };
    }

    // A push button is clicked in its middle; a tick box or a choice on its indicator, at its left.
    void click(const char* name)
    {
        auto* target = child<QAbstractButton>(name);
        ASSERT_TRUE(target->isEnabled()) << name;
        if (qobject_cast<QPushButton*>(target))
            QTest::mouseClick(target, Qt::LeftButton);
        else
            QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(6, target->height() / 2));
    }
    void tick(const char* name, bool on)
    {
        if (checked(name) != on)
            click(name);
        EXPECT_EQ(checked(name), on) << name;
    }
    void showPage(int page)
    {
        QTabBar* tabs = child<QTabWidget>("PageControl")->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(page).center());
        ASSERT_EQ(child<QTabWidget>("PageControl")->currentIndex(), page);
    }
    // Replaces a box's text as the user types it.
    void type(const char* name, const QString& typed)
    {
        QWidget* box = child<QWidget>(name);
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(box))
            spin->clear();
        else
            qobject_cast<QLineEdit*>(box)->clear();
        QTest::keyClicks(box, typed);
        ASSERT_EQ(text(name), typed) << name;
    }
    // The first page set as the user would set it.
    void chooseMeterSettings(const char* range, bool fast, bool cWeighting, bool maxHold)
    {
        rangeList()->setCurrentIndex(rangeList()->findText(QLatin1String(range)));
        click(fast ? "FastChoice" : "SlowChoice");
        click(cWeighting ? "CChoice" : "AChoice");
        tick("MaxModeBox", maxHold);
    }

    std::vector<Bytes> written() const { return meter.writtenReports(); }
    void clearWire()
    {
        meter.clearWrittenReports();
        wire.clear();
    }
    // The subwindow deletes itself once its close has gone through.
    bool windowGone() const
    {
        return TestModule::waitUntil([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return window.isNull();
        });
    }

    // A measurement window with a run in progress whose poll the test drives.
    TForm5* startRun()
    {
        auto* measure = new TForm5(*module, printer);
        module->ChildWindowOpened(ChildWindowKind::Measure, measure);
        area->addSubWindow(measure)->show();
        QTest::mouseClick(measure->findChild<QPushButton*>(QStringLiteral("StartButton")), Qt::LeftButton);
        EXPECT_TRUE(measure->IsMeasuring());
        measure->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
        return measure;
    }
    // One poll of the run, answered with this status byte.
    bool takeReading(TForm5& measure, std::uint8_t status)
    {
        meter.setStatusByte(status);
        const qint64 before = module->MeaData->rowCount();
        measure.Timer1Timer();
        return TestModule::waitUntil([&] { return module->MeaData->rowCount() == before + 1; });
    }

    QTemporaryDir folder;
    ScriptedUserInteraction ui;
    FakeClock clock;
    RecordingSoundPlayer sound;
    SimulatedMeter meter;
    StampingPlatform wire { meter };
    std::unique_ptr<TForm6> module;
    ChosenPrinter printer;
    std::unique_ptr<QMdiArea> area = std::make_unique<QMdiArea>();
    QPointer<TForm8> window;
    QPointer<QMdiSubWindow> subWindow;
};

TEST(SetupWindow, OpensWithItsCaptionPagesAndControls)
{
    Scene s;
    ASSERT_TRUE(s.start());
    s.open();
    TForm8& window = *s.window;

    EXPECT_EQ(window.objectName(), "Form8");
    EXPECT_EQ(window.windowTitle(), "Software System Setup");
    auto* pages = s.child<QTabWidget>("PageControl");
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->tabText(0), "SPL Unit Setting");
    EXPECT_EQ(pages->tabText(1), "PC Software Setting");
    EXPECT_EQ(pages->tabText(2), "Miscellaneous Option");
    EXPECT_EQ(pages->currentIndex(), 0);

    QStringList entries;
    for (int i = 0; i < s.rangeList()->count(); ++i)
        entries << s.rangeList()->itemText(i);
    EXPECT_EQ(entries, QStringList({ "30-130", "30-80", "50-100", "60-110", "80-130", "" }));
    EXPECT_FALSE(s.rangeList()->isEditable());

    const std::pair<const char*, const char*> texts[] = {
        { "RangeLabel", "Measurement Range" },
        { "RangeUnitLabel", "dB" },
        { "SetClockBox", "Setup System Time With PC Current Time" },
        { "MaxModeBox", "MAX Work Mode" },
        { "SpeedGroup", "Sample Speed" },
        { "FastChoice", "Fast" },
        { "SlowChoice", "Slow" },
        { "WeightGroup", "  Weight  " },
        { "AChoice", "A" },
        { "CChoice", "C" },
        { "LowAlarmLabel", "Low db  Alarm" },
        { "LowAlarmBox", "30" },
        { "LowAlarmUnitLabel", "db" },
        { "HighAlarmLabel", "High db Alarm" },
        { "HighAlarmBox", "30" },
        { "HighAlarmUnitLabel", "db" },
        { "AlarmSoundGroup", "Alarm Sound" },
        { "AlarmOnChoice", "On" },
        { "AlarmOffChoice", "Off" },
        { "CompanyNameLabel", "Company's Name" },
        { "CompanyNameBox", "Hollow Hill Acoustics" },
        { "OkButton", "Ok" },
        { "CancelButton", "Cancel" },
        { "ApplyButton", "Apply" },
    };
    for (const auto& [name, expected] : texts)
        EXPECT_EQ(s.text(name), QLatin1String(expected)) << name;

    EXPECT_FALSE(s.checked("SetClockBox"));
    EXPECT_TRUE(s.checked("AlarmOnChoice"));
    EXPECT_FALSE(s.checked("AlarmOffChoice"));
    EXPECT_FALSE(window.AlarmPageShown());
    EXPECT_TRUE(s.module->FormsReady);
    EXPECT_FALSE(s.module->SetupCommandEnabled);
    EXPECT_TRUE(s.ui.messages.empty());
}

// The window asks the meter only when nothing else reads it; what it shows is the status byte that
// came last, from its own request or from the run's latest reading.
TEST(SetupWindow, OpeningAsksAFreeMeterOnceAndShowsTheLatestStatus)
{
    struct Case {
        const char* label;
        std::function<void(Scene&)> arrange;
        std::vector<Bytes> sent;
        Shown shown;
        int readModeAfter;
    };
    const Case cases[] = {
        { "idle meter", [](Scene& s) { s.meter.setStatusByte(0x72); }, { Report({ 0x00, 0xB3 }) },
            { "50-100", true, true, true }, 0 },
        { "measurement run",
            [](Scene& s) {
                TForm5* measure = s.startRun();
                ASSERT_TRUE(s.takeReading(*measure, 0x34));
                // Changed on the meter since: a request would show it.
                s.meter.setStatusByte(0x72);
            },
            {}, { "80-130", false, true, true }, 1 },
        { "no meter",
            [](Scene& s) {
                s.meter.setStatusByte(0x72);
                s.meter.unplug();
                ASSERT_TRUE(TestModule::waitUntil([&] { return !s.module->DeviceConnected; }));
            },
            {}, MeterDefaults, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Scene s;
        ASSERT_TRUE(s.start());
        c.arrange(s);
        s.clearWire();

        s.open();

        EXPECT_EQ(s.written(), c.sent);
        EXPECT_EQ(s.shown(), c.shown);
        EXPECT_EQ(s.module->ReadMode, c.readModeAfter);
        EXPECT_TRUE(s.module->FormsReady);
    }
}

TEST(SetupWindow, TheSetModeByteComesFromTheChosenSettings)
{
    struct Case {
        const char* range;
        bool fast;
        bool cWeighting;
        bool maxHold;
        std::uint8_t modeByte;
    };
    const Case cases[] = {
        { "50-100", true, true, true, 0x72 },
        { "30-130", false, false, false, 0x00 },
        { "80-130", false, true, true, 0x34 },
        { "30-80", true, false, false, 0x41 },
        { "60-110", false, false, true, 0x23 },
    };
    Scene s;
    ASSERT_TRUE(s.start());
    s.open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        s.chooseMeterSettings(c.range, c.fast, c.cWeighting, c.maxHold);
        s.clearWire();

        s.click("ApplyButton");

        EXPECT_THAT(s.written(), ElementsAre(Report({ 0x00, 0x56, c.modeByte })));
        EXPECT_EQ(s.meter.statusByte(), c.modeByte);
    }
}

// Applying what the window opened with gives the meter its own settings back.
TEST(SetupWindow, TheMetersSettingsOpenTheWindowAndApplySendsThemBack)
{
    struct Case {
        std::uint8_t reported;
        Shown shown;
        std::uint8_t sentBack;
    };
    const Case cases[] = {
        { 0x72, { "50-100", true, true, true }, 0x72 },
        { 0x00, MeterDefaults, 0x00 },
        { 0x34, { "80-130", false, true, true }, 0x34 },
        { 0x41, { "30-80", true, false, false }, 0x41 },
        // Bit 7 means nothing to the program and is not sent.
        { 0xF2, { "50-100", true, true, true }, 0x72 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "reported 0x" << std::hex << int(c.reported));
        Scene s;
        ASSERT_TRUE(s.start());
        s.meter.setStatusByte(c.reported);
        s.open();
        EXPECT_EQ(s.shown(), c.shown);
        s.clearWire();

        s.click("ApplyButton");

        EXPECT_THAT(s.written(), ElementsAre(Report({ 0x00, 0x56, c.sentBack })));
        EXPECT_TRUE(s.ui.messages.empty());
    }
}

// A range code above 4, or no range chosen, has no mode byte the meter could take as meant: the
// list shows its empty entry, Apply sends no set-mode command (the meter keeps its mode), applies
// everything else and says why the meter's settings stayed.
TEST(SetupWindow, WithoutAKnownRangeApplyLeavesTheMetersModeAndSaysSo)
{
    struct Case {
        const char* label;
        std::uint8_t reported;
        int chosenEntry; // -2: as the window opened
        bool setClock;
        std::vector<std::uint8_t> commands;
    };
    const Case cases[] = {
        { "the meter reports range code 5", 0x75, -2, false, {} },
        { "the meter reports range code 15, clock ticked", 0x4F, -2, true, { 0x7C } },
        { "the empty entry chosen", 0x72, 5, false, {} },
        { "no entry at all", 0x72, -1, false, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Scene s;
        ASSERT_TRUE(s.start());
        s.meter.setStatusByte(c.reported);
        s.open();
        if (c.chosenEntry == -2)
            EXPECT_EQ(s.rangeList()->currentIndex(), 5);
        else
            s.rangeList()->setCurrentIndex(c.chosenEntry);
        EXPECT_EQ(s.rangeList()->currentText(), "");
        s.tick("SetClockBox", c.setClock);
        s.showPage(2);
        s.type("CompanyNameBox", QStringLiteral("Quiet Street Survey"));
        s.clearWire();

        s.click("ApplyButton");

        std::vector<std::uint8_t> commands;
        for (const Bytes& report : s.written())
            commands.push_back(report[1]);
        EXPECT_EQ(commands, c.commands);
        EXPECT_EQ(s.meter.statusByte(), c.reported);
        ASSERT_EQ(s.ui.messages.size(), 1U);
        EXPECT_EQ(s.ui.messages[0].text,
            "No measurement range is chosen, so the meter's range, speed, weighting and MAX mode were left as they "
            "were.");
        EXPECT_EQ(s.ui.messages[0].caption, "System Setup");
        EXPECT_EQ(s.ui.messages[0].icon, MessageIcon::Information);
        EXPECT_EQ(s.module->CompanyName, "Quiet Street Survey");
    }
}

TEST(SetupWindow, TheClockCommandCarriesThePcTimeAndTheModeFollowsAtLeast100MsLater)
{
    struct Case {
        bool setClock;
        std::vector<Bytes> sent;
    };
    const Case cases[] = {
        { true, { Report({ 0x00, 0x7C, 0x07, 0x05, 0x09, 0x31, 0x12, 0x08 }), Report({ 0x00, 0x56, 0x72 }) } },
        { false, { Report({ 0x00, 0x56, 0x72 }) } },
    };
    Scene s;
    ASSERT_TRUE(s.start());
    s.meter.setStatusByte(0x72);
    s.open();
    s.clock.current = QDateTime(QDate(2008, 12, 31), QTime(9, 5, 7));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setClock ? "clock ticked" : "clock not ticked");
        s.tick("SetClockBox", c.setClock);
        s.clearWire();

        s.click("ApplyButton");

        EXPECT_EQ(s.written(), c.sent);
        const std::vector<SteadyClock::time_point> times = s.wire.writeTimes();
        ASSERT_EQ(times.size(), c.sent.size());
        if (times.size() == 2) {
            EXPECT_GE(times[1] - times[0], std::chrono::milliseconds(100));
        }
    }
    // The meter's clock now runs from the time it was sent.
    EXPECT_EQ(s.meter.meterClock().date(), QDate(2008, 12, 31));
}

TEST(SetupWindow, TheAlarmPageShowsTheLevelsInForceAtEveryShowing)
{
    Scene s;
    ASSERT_TRUE(s.start());
    s.open();
    EXPECT_EQ(s.text("LowAlarmBox"), "30");
    EXPECT_EQ(s.text("HighAlarmBox"), "30");

    s.showPage(1);
    EXPECT_TRUE(s.window->AlarmPageShown());
    EXPECT_EQ(s.text("LowAlarmBox"), "85");
    EXPECT_EQ(s.text("HighAlarmBox"), SystemShortestDecimalText(85.5));

    // Typing that was not applied gives way to the level in force when the page is shown again.
    s.type("HighAlarmBox", QStringLiteral("150"));
    s.showPage(2);
    s.showPage(1);
    EXPECT_EQ(s.text("HighAlarmBox"), SystemShortestDecimalText(85.5));

    // An applied level is the one shown next time; so is one changed while the page was away.
    s.type("HighAlarmBox", QStringLiteral("150"));
    s.click("ApplyButton");
    EXPECT_EQ(s.module->SystemHighAlarm, 150.0);
    EXPECT_EQ(s.module->SystemLowAlarm, 85.0);
    s.showPage(0);
    s.module->SystemLowAlarm = 40.5;
    s.showPage(1);
    EXPECT_EQ(s.text("HighAlarmBox"), "150");
    EXPECT_EQ(s.text("LowAlarmBox"), SystemShortestDecimalText(40.5));
}

// Typed levels are taken as they are: the arrows' limits do not bind them.
TEST(SetupWindow, TypedAlarmLevelsAreStoredAsTyped)
{
    struct Case {
        QString low;
        QString high;
        double lowStored;
        double highStored;
    };
    const Case cases[] = {
        { "20", "150", 20.0, 150.0 },
        { SystemShortestDecimalText(45.5), SystemShortestDecimalText(99.9), 45.5, 99.9 },
        { " 60 ", "-5", 60.0, -5.0 },
    };
    Scene s;
    ASSERT_TRUE(s.start());
    s.open();
    s.showPage(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.low.toStdString() + " / " + c.high.toStdString());
        s.type("LowAlarmBox", c.low);
        s.type("HighAlarmBox", c.high);
        s.click("ApplyButton");
        EXPECT_EQ(s.module->SystemLowAlarm, c.lowStored);
        EXPECT_EQ(s.module->SystemHighAlarm, c.highStored);
        EXPECT_TRUE(s.ui.messages.empty());
    }
}

TEST(SetupWindow, AlarmLevelsStayWhenTheirPageWasNeverShown)
{
    Scene s;
    ASSERT_TRUE(s.start());
    s.open();
    s.click("OkButton");
    EXPECT_TRUE(s.windowGone());
    EXPECT_EQ(s.module->SystemLowAlarm, 85.0);
    EXPECT_EQ(s.module->SystemHighAlarm, 85.5);
}

TEST(SetupWindow, TheArrowsStepByOneBetween30And135)
{
    struct Case {
        QString from;
        Qt::Key key;
        QString to;
    };
    const Case cases[] = {
        { "134", Qt::Key_Up, "135" },
        { "135", Qt::Key_Up, "135" },
        { "31", Qt::Key_Down, "30" },
        { "30", Qt::Key_Down, "30" },
        { "150", Qt::Key_Down, "135" },
        { "12", Qt::Key_Up, "30" },
        { SystemShortestDecimalText(85.5), Qt::Key_Up, SystemShortestDecimalText(86.5) },
        { "loud", Qt::Key_Up, "31" },
    };
    Scene s;
    ASSERT_TRUE(s.start());
    s.open();
    s.showPage(1);
    auto* box = s.child<QAbstractSpinBox>("LowAlarmBox");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from.toStdString());
        s.type("LowAlarmBox", c.from);
        QTest::keyClick(box, c.key);
        EXPECT_EQ(box->text(), c.to);
    }
}

// The apply stops at a level that is no number: what came before it is applied, the rest is not,
// and "Ok" keeps the window open so that the user can put it right.
TEST(SetupWindow, ALevelThatIsNoNumberIsReportedAndTheApplyStopsThere)
{
    struct Case {
        const char* label;
        QString low;
        QString high;
        const char* button;
        const char* message;
        double lowAfter;
        double highAfter;
    };
    const Case cases[] = {
        { "low bad, Apply", "abc", "140", "ApplyButton", "'abc' is not a valid floating point value", 85.0, 85.5 },
        { "high bad, Ok", "40", "12a", "OkButton", "'12a' is not a valid floating point value", 40.0, 85.5 },
        { "low empty, Ok", "", "140", "OkButton", "'' is not a valid floating point value", 85.0, 85.5 },
        { "high not finite, Apply", "40", "inf", "ApplyButton", "'inf' is not a valid floating point value", 40.0,
            85.5 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Scene s;
        ASSERT_TRUE(s.start());
        s.meter.setStatusByte(0x72);
        s.open();
        s.chooseMeterSettings("30-130", false, false, false);
        s.showPage(1);
        s.type("LowAlarmBox", c.low);
        s.type("HighAlarmBox", c.high);
        s.click("AlarmOffChoice");
        s.showPage(2);
        s.type("CompanyNameBox", QStringLiteral("Quiet Street Survey"));
        s.clearWire();

        s.click(c.button);

        ASSERT_EQ(s.ui.messages.size(), 1U);
        EXPECT_EQ(s.ui.messages[0].text, QLatin1String(c.message));
        EXPECT_EQ(s.ui.messages[0].caption, "Error Information");
        EXPECT_EQ(s.ui.messages[0].icon, MessageIcon::Error);
        EXPECT_EQ(s.module->LastErrorText, QLatin1String(c.message));
        // Applied before the levels: the company name, the meter's mode, the alarm sound.
        EXPECT_EQ(s.module->CompanyName, "Quiet Street Survey");
        EXPECT_THAT(s.written(), ElementsAre(Report({ 0x00, 0x56, 0x00 })));
        EXPECT_FALSE(s.module->AlarmSoundOn);
        EXPECT_EQ(s.module->SystemLowAlarm, c.lowAfter);
        EXPECT_EQ(s.module->SystemHighAlarm, c.highAfter);
        // The window stays, whichever button it was.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(s.window.isNull());
        EXPECT_FALSE(s.module->SetupCommandEnabled);
    }
}

TEST(SetupWindow, OkAppliesAndClosesWhileCancelAndTheCloseBoxApplyNothing)
{
    struct Case {
        const char* way;
        std::function<void(Scene&)> close;
        bool applies;
    };
    const Case cases[] = {
        { "Ok", [](Scene& s) { s.click("OkButton"); }, true },
        { "Cancel", [](Scene& s) { s.click("CancelButton"); }, false },
        { "close box", [](Scene& s) { s.subWindow->close(); }, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.way);
        Scene s;
        ASSERT_TRUE(s.start());
        s.meter.setStatusByte(0x00);
        s.open();
        s.chooseMeterSettings("50-100", true, true, true);
        s.tick("SetClockBox", true);
        s.showPage(1);
        s.type("LowAlarmBox", QStringLiteral("50"));
        s.type("HighAlarmBox", QStringLiteral("110"));
        s.click("AlarmOffChoice");
        s.showPage(2);
        s.type("CompanyNameBox", QStringLiteral("Quiet Street Survey"));
        s.clearWire();

        c.close(s);

        EXPECT_TRUE(s.windowGone());
        EXPECT_TRUE(s.module->SetupCommandEnabled);
        EXPECT_TRUE(s.ui.messages.empty());
        TForm6& m = *s.module;
        if (c.applies) {
            ASSERT_EQ(s.written().size(), 2U);
            EXPECT_EQ(s.written()[0][1], 0x7C);
            EXPECT_EQ(s.written()[1], Report({ 0x00, 0x56, 0x72 }));
            EXPECT_EQ(m.CompanyName, "Quiet Street Survey");
            EXPECT_FALSE(m.AlarmSoundOn);
            EXPECT_EQ(m.SystemLowAlarm, 50.0);
            EXPECT_EQ(m.SystemHighAlarm, 110.0);
        } else {
            EXPECT_TRUE(s.written().empty());
            EXPECT_EQ(s.meter.statusByte(), 0x00);
            EXPECT_EQ(m.CompanyName, "Hollow Hill Acoustics");
            EXPECT_TRUE(m.AlarmSoundOn);
            EXPECT_EQ(m.SystemLowAlarm, 85.0);
            EXPECT_EQ(m.SystemHighAlarm, 85.5);
        }
    }
}

// A close asked for while Apply waits between its two commands lets the apply finish first.
TEST(SetupWindow, ACloseDuringApplyWaitsForTheApplyToFinish)
{
    Scene s;
    ASSERT_TRUE(s.start());
    s.open();
    s.chooseMeterSettings("60-110", true, false, false);
    s.tick("SetClockBox", true);
    s.clearWire();
    QTimer::singleShot(30, s.subWindow.data(), [&s] { s.subWindow->close(); });

    s.click("ApplyButton");

    EXPECT_EQ(s.written().size(), 2U);
    EXPECT_EQ(s.meter.statusByte(), 0x43);
    EXPECT_TRUE(s.windowGone());
    EXPECT_TRUE(s.module->SetupCommandEnabled);
}

// Opening the window while the import window downloads the meter's memory: the window sends nothing
// (its request would take the download's reply) and the download runs to its end.
TEST(SetupWindow, OpeningDuringADownloadLeavesTheDownloadToComplete)
{
    Scene s;
    ASSERT_TRUE(s.start());
    LoggedRun run;
    run.start = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5));
    run.readings = std::vector<int>(400, 612);
    s.meter.setLoggedMemory(EncodeLoggedMemory({ run }));
    s.meter.setReplyLatency(std::chrono::milliseconds(3));

    auto* import = new TForm4(*s.module, s.printer);
    s.module->ChildWindowOpened(ChildWindowKind::Import, import);
    s.area->addSubWindow(import)->show();
    s.clearWire();

    // Opened as soon as the download holds the meter.
    bool openedDuringDownload = false;
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (s.module->MeterBusy == MeterBusyDownloading && s.module->AwaitingReply) {
            watch.stop();
            s.open();
            openedDuringDownload = s.module->MeterBusy == MeterBusyDownloading;
        }
    });
    watch.start();
    QTest::mouseClick(import->findChild<QPushButton*>(QStringLiteral("ImportButton")), Qt::LeftButton);
    watch.stop();

    ASSERT_TRUE(openedDuringDownload);
    ASSERT_FALSE(s.window.isNull());
    EXPECT_EQ(s.module->GetRecorde->rowCount(), 400);
    EXPECT_EQ(s.module->MeterBusy, 0);
    EXPECT_TRUE(s.ui.messages.empty());
    for (const Bytes& report : s.written())
        EXPECT_NE(report[1], 0xB3);
}

// A measurement run holds the meter (MeterBusy) from its start to its stop; Apply in the setup window
// changes the meter's mode but leaves the run its hold and its readings.
TEST(SetupWindow, ApplyDuringARunLeavesTheRunItsHoldOnTheMeter)
{
    Scene s;
    ASSERT_TRUE(s.start());
    TForm5* measure = s.startRun();
    ASSERT_TRUE(s.takeReading(*measure, 0x40));
    s.open();
    s.chooseMeterSettings("50-100", true, true, false);
    s.clearWire();

    s.click("ApplyButton");

    EXPECT_THAT(s.written(), ElementsAre(Report({ 0x00, 0x56, 0x52 })));
    EXPECT_EQ(s.module->MeterBusy, MeterBusyMeasuring);
    EXPECT_EQ(s.module->ReadMode, 1);
    EXPECT_TRUE(measure->IsMeasuring());
    // The run goes on, and an import stays refused while it does.
    EXPECT_TRUE(s.takeReading(*measure, 0x52));
    EXPECT_EQ(s.module->Link().download({}), DownloadOutcome::NotStarted);
}

} // namespace
