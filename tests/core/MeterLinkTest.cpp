// The meter link of the shared module, end to end over the simulated meter: finding the meter,
// decoding replies by read mode, the commands' bytes on the wire, and the download exchange.
#include "core/MeterProtocol.h"
#include "support/ReadingReceiver.h"
#include "support/TestModule.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimer>

namespace {

// Named as the suite; inside this namespace the name means the fixture, not the module's MeterLink.
struct MeterLink : testing::Test {
    TestModule fixture;
    TForm6& module = *fixture.module;
    SimulatedMeter& meter = fixture.meter;

    void SetUp() override { ASSERT_TRUE(fixture.connect()); }

    // Starts real-time reading into receiver and waits for the first reading.
    void startReadingInto(ReadingReceiver& receiver)
    {
        receiver.module = &module;
        module.MeasureWindowHandle = &receiver;
        module.ReadMode = 1;
        requestReading();
        ASSERT_TRUE(TestModule::waitUntil([&] { return receiver.values.size() == 1; }));
    }

    void requestReading()
    {
        FillRequestReading(module.SendBuffer);
        module.Link().SendToMeter();
    }

    std::vector<std::uint8_t> lastWritten() const { return meter.writtenReports().back(); }
};

TEST_F(MeterLink, RepliesAreDecodedByTheReadModeCurrentAtTheirArrival)
{
    struct Case {
        std::int32_t readMode;
        std::int32_t liveValue;
        std::int32_t liveFlags;
        bool awaitingReply;
        std::size_t messages;
    };
    // The reply carries 0x04 0xD2 0x41: 123.4 dB, range 1, A weighting, no MAX, fast.
    const Case cases[] = {
        { 0, 0, 0, true, 0 },
        { 1, 1234, 0x41, true, 1 },
        { 2, 0, 0, false, 0 },
        { 3, 0, 0x41, true, 0 },
    };
    ReadingReceiver receiver;
    receiver.module = &module;
    module.MeasureWindowHandle = &receiver;
    meter.setStatusByte(0x41);
    for (const Case& c : cases) {
        module.LiveValue = 0;
        module.LiveFlags = 0;
        module.AwaitingReply = true;
        module.ReceivedBytes.fill(0);
        receiver.values.clear();
        module.ReadMode = c.readMode;
        meter.queueReadings({ 1234 });
        requestReading();
        ASSERT_TRUE(TestModule::waitUntil([&] { return module.ReceivedBytes[1] == 0xD2; })) << c.readMode;
        EXPECT_EQ(module.ReceivedBytes[0], 0x04);
        EXPECT_EQ(module.ReceivedBytes[2], 0x41);
        EXPECT_EQ(module.LiveValue, c.liveValue) << "read mode " << c.readMode;
        EXPECT_EQ(module.LiveFlags, c.liveFlags) << "read mode " << c.readMode;
        EXPECT_EQ(module.AwaitingReply, c.awaitingReply) << "read mode " << c.readMode;
        EXPECT_EQ(receiver.values.size(), c.messages) << "read mode " << c.readMode;
    }
    EXPECT_EQ(lastWritten()[1], 0xB3);
}

TEST_F(MeterLink, AReadingMessageWithNoMeasurementWindowGoesNowhere)
{
    module.ReadMode = 1;
    meter.queueReadings({ 500 });
    requestReading();
    EXPECT_TRUE(TestModule::waitUntil([&] { return module.LiveValue == 500; }));
}

TEST_F(MeterLink, CommandsCarryTheirArgumentsAndNothingElse)
{
    FillSetMode(module.SendBuffer, ModeByte(4, false, true, true));
    ASSERT_TRUE(module.WritetoDevice());
    const std::vector<std::uint8_t> setMode { 0x00, 0x56, 0x34, 0, 0, 0, 0, 0, 0 };
    EXPECT_EQ(lastWritten(), setMode);

    FillSetClock(module.SendBuffer, QDateTime(QDate(2009, 12, 31), QTime(23, 59, 58)));
    ASSERT_TRUE(module.WritetoDevice());
    const std::vector<std::uint8_t> setClock { 0x00, 0x7C, 0x58, 0x59, 0x23, 0x31, 0x12, 0x09, 0 };
    EXPECT_EQ(lastWritten(), setClock);

    // A shorter command after a longer one leaves no trace of it.
    FillRequestReading(module.SendBuffer);
    ASSERT_TRUE(module.WritetoDevice());
    const std::vector<std::uint8_t> request { 0x00, 0xB3, 0, 0, 0, 0, 0, 0, 0 };
    EXPECT_EQ(lastWritten(), request);
}

TEST_F(MeterLink, AFailedWriteIsRecordedButNotShown)
{
    meter.setWriteFails(true);
    FillRequestReading(module.SendBuffer);
    EXPECT_FALSE(module.WritetoDevice());
    EXPECT_EQ(module.LastErrorCaption, "WRITE USB ERROR!");
    EXPECT_EQ(module.LastErrorText, "write usb error");
    EXPECT_TRUE(fixture.ui.messages.empty());
}

TEST_F(MeterLink, UnplugAndReplugGiveANewMeterObjectThatKeepsReading)
{
    ReadingReceiver receiver;
    startReadingInto(receiver);

    meter.unplug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return !module.DeviceConnected; }));
    EXPECT_EQ(module.MeterDevice, nullptr);
    EXPECT_FALSE(module.WritetoDevice());

    meter.plug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return module.DeviceConnected; }));
    requestReading();
    EXPECT_TRUE(TestModule::waitUntil([&] { return receiver.values.size() == 2; }));
}

TEST_F(MeterLink, AnotherDeviceArrivingReplacesTheMeterObjectWhichInheritsItsHandler)
{
    ReadingReceiver receiver;
    startReadingInto(receiver);
    const QString meterPath = module.MeterDevice->PnPInfo()->DevicePath;

    meter.plugOtherDevice();
    ASSERT_TRUE(TestModule::waitUntil([&] { return module.DeviceList.size() == 2; }));
    ASSERT_TRUE(module.DeviceConnected);
    EXPECT_EQ(module.MeterDevice->PnPInfo()->DevicePath, meterPath);
    EXPECT_TRUE(module.MeterDevice->DataHandler() == module.SaveReadHandler());
    EXPECT_NE(module.MeterDevice->ReadThread(), nullptr) << "the new object reads without a new attachment";

    FillRequestReading(module.SendBuffer);
    module.WritetoDevice();
    EXPECT_TRUE(TestModule::waitUntil([&] { return receiver.values.size() == 2; }));
}

TEST(MeterLinkDevices, OfTwoDevicesWithTheMetersIdentifiersTheLastOneIsTheMeter)
{
    // A platform listing two meters; the scan order decides.
    class TwoMeters final : public HidPlatform {
    public:
        SimulatedMeter first;
        SimulatedMeter second;
        bool available() const override { return true; }
        std::vector<HidInterfaceInfo> scan() override
        {
            HidInterfaceInfo a = first.scan().back();
            HidInterfaceInfo b = second.scan().back();
            a.devicePath = "first:" + a.devicePath;
            b.devicePath = "second:" + b.devicePath;
            b.deviceInstance += 1000;
            return { a, b };
        }
        std::unique_ptr<HidConnection> open(const QString& path, HidAccess access) override
        {
            const bool isFirst = path.startsWith("first:");
            return (isFirst ? first : second).open(path.section(':', 1), access);
        }
        void setChangeListener(std::function<void()>) override { }
    } platform;
    ScriptedUserInteraction ui;
    FakeClock clock;
    RecordingSoundPlayer sound;
    TForm6 module(ModuleServices { ui, clock, sound, platform, QString() }, nullptr);
    ASSERT_TRUE(TestModule::waitUntil([&] { return module.DeviceList.size() == 2; }));
    ASSERT_TRUE(module.DeviceConnected);
    EXPECT_TRUE(module.MeterDevice->PnPInfo()->DevicePath.startsWith("second:"));
}

TEST_F(MeterLink, DownloadHandsOverEveryByteButTheEndMarkAndStopsAfterItsBlock)
{
    meter.setLoggedMemory({ 0x12, 0xFF, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0x11, 0x22 });
    meter.clearWrittenReports();
    std::vector<std::uint8_t> decoded;
    const DownloadOutcome outcome = module.Link().download({ [&](std::uint8_t b) { decoded.push_back(b); }, {} });
    EXPECT_EQ(outcome, DownloadOutcome::Completed);
    EXPECT_EQ(decoded, (std::vector<std::uint8_t> { 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE }));
    const auto written = meter.writtenReports();
    ASSERT_EQ(written.size(), 2U);
    EXPECT_EQ(written[0][1], 0xB5);
    EXPECT_EQ(written[1][1], 0xC4);
    EXPECT_EQ(module.MeterBusy, 0);
    EXPECT_EQ(module.ReadMode, 2);
}

TEST_F(MeterLink, ADownloadCalledOffBetweenBlocksAsksForNoMoreAndFreesTheMeter)
{
    meter.setLoggedMemory(std::vector<std::uint8_t>(24, 0x12));
    meter.clearWrittenReports();
    int blocks = 0;
    DownloadHooks hooks;
    hooks.afterBlock = [&] { ++blocks; };
    hooks.cancelled = [&] { return blocks == 1; };
    EXPECT_EQ(module.Link().download(hooks), DownloadOutcome::Cancelled);
    EXPECT_EQ(blocks, 1);
    const auto written = meter.writtenReports();
    ASSERT_EQ(written.size(), 2U) << "the start and one block request";
    EXPECT_EQ(written[1][1], 0xC4);
    EXPECT_EQ(module.MeterBusy, 0);
    EXPECT_FALSE(module.AwaitingReply);
}

TEST_F(MeterLink, DownloadEndsInEveryWayTheMeterCanFail)
{
    struct Case {
        const char* what;
        std::function<void()> fault;
        DownloadOutcome expected;
    };
    const Case cases[] = {
        { "refused", [&] { meter.setDownloadReplyByte(0xEE); }, DownloadOutcome::Refused },
        { "silent", [&] { meter.setNoReply(true); }, DownloadOutcome::TimedOut },
        { "busy", [&] { module.MeterBusy = MeterBusyMeasuring; }, DownloadOutcome::NotStarted },
    };
    meter.setLoggedMemory({ 0x01, 0x02, 0xFF });
    for (const Case& c : cases) {
        c.fault();
        bool decoded = false;
        DownloadHooks hooks { [&](std::uint8_t) { decoded = true; }, {}, 200 };
        EXPECT_EQ(module.Link().download(hooks), c.expected) << c.what;
        EXPECT_FALSE(decoded) << c.what;
        const std::int16_t busyAfter = c.expected == DownloadOutcome::NotStarted ? MeterBusyMeasuring : 0;
        EXPECT_EQ(module.MeterBusy, busyAfter) << c.what;
        meter.setDownloadReplyByte(0xEF);
        meter.setNoReply(false);
        module.MeterBusy = 0;
    }
}

// The reply limit measures the meter's silence: a reply that came at once counts, even when work
// queued for the interface thread kept it busy past the limit before it could take the reply.
TEST_F(MeterLink, AReplyInTimeCountsThoughTheInterfaceThreadWasBusyPastTheLimit)
{
    std::vector<std::uint8_t> memory(24, 0x12);
    memory.push_back(0xFF);
    meter.setLoggedMemory(memory);
    QObject busy;
    int blocks = 0;
    DownloadHooks hooks;
    hooks.replyTimeoutMs = 100;
    hooks.afterBlock = [&] {
        if (blocks++ == 0)
            QMetaObject::invokeMethod(
                &busy, [] { QThread::msleep(400); }, Qt::QueuedConnection);
    };
    EXPECT_EQ(module.Link().download(hooks), DownloadOutcome::Completed);
    EXPECT_EQ(blocks, 4);
    EXPECT_EQ(module.MeterBusy, 0);
}

TEST_F(MeterLink, UnpluggingTheMeterEndsADownloadsWaitAtOnce)
{
    meter.setLoggedMemory({ 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFF });
    meter.setNoReply(true);
    QTimer::singleShot(50, &meter, [&] { meter.unplug(); });
    EXPECT_EQ(module.Link().download({ {}, {}, 60000 }), DownloadOutcome::Disconnected);
    EXPECT_EQ(module.MeterBusy, 0);
}

TEST_F(MeterLink, AStatusReadDuringADownloadLeavesTheDownloadAlone)
{
    LoggedRun run;
    run.start = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5));
    run.readings = std::vector<int>(40, 600);
    meter.setLoggedMemory(EncodeLoggedMemory({ run }));
    meter.setReplyLatency(std::chrono::milliseconds(5));
    std::size_t bytes = 0;
    int statusReads = 0;
    DownloadHooks hooks;
    hooks.decode = [&](std::uint8_t) { ++bytes; };
    hooks.afterBlock = [&] {
        if (statusReads++ == 0)
            module.Link().readStatus(); // the setup window opening in the middle of the download
    };
    EXPECT_EQ(module.Link().download(hooks), DownloadOutcome::Completed);
    EXPECT_EQ(bytes, 9U + 60U);
}

TEST_F(MeterLink, StatusReadShowsTheMetersSettingsAndRestoresTheReadMode)
{
    meter.setStatusByte(0x34);
    EXPECT_EQ(module.Link().readStatus(), 0x34);
    EXPECT_EQ(module.ReadMode, 0);

    // A meter that does not answer: no status, whatever LiveFlags held.
    meter.setNoReply(true);
    EXPECT_EQ(module.Link().readStatus(), std::nullopt);
    EXPECT_EQ(module.ReadMode, 0);
    meter.setNoReply(false);

    module.ReadMode = 1; // a measurement run keeps its mode and its replies
    meter.clearWrittenReports();
    EXPECT_EQ(module.Link().readStatus(), std::nullopt) << "not asked: the run's readings keep LiveFlags current";
    EXPECT_EQ(module.ReadMode, 1);
    EXPECT_TRUE(meter.writtenReports().empty());
}

TEST_F(MeterLink, ALiveRunStartsOnlyOnAFreeMeterOrOnOneItMayWaitFor)
{
    struct Case {
        const char* what;
        bool connected;
        std::int16_t busy;
        WithoutMeter withoutMeter;
        bool starts;
    };
    const Case cases[] = {
        { "a free meter", true, 0, WithoutMeter::Refuse, true },
        { "a meter busy with a download", true, MeterBusyDownloading, WithoutMeter::Refuse, false },
        { "a meter busy with another run, for a logger", true, MeterBusyMeasuring, WithoutMeter::Wait, false },
        { "no meter, for the measurement window", false, 0, WithoutMeter::Refuse, false },
        { "no meter, for a logger that waits for it", false, 0, WithoutMeter::Wait, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        module.DeviceConnected = c.connected;
        module.MeterBusy = c.busy;
        module.ReadMode = 0;
        EXPECT_EQ(module.Link().startLiveRun(c.withoutMeter), c.starts);
        EXPECT_EQ(module.ReadMode, c.starts ? 1 : 0);
        EXPECT_EQ(module.MeterBusy, c.starts ? MeterBusyMeasuring : c.busy);
        if (c.starts) {
            module.Link().endLiveRun();
            EXPECT_EQ(module.ReadMode, 0);
            EXPECT_EQ(module.MeterBusy, 0);
        }
    }
    module.DeviceConnected = true;
    module.MeterBusy = 0;
}

TEST_F(MeterLink, ApplyingTheSettingsSaysWhetherTheyWentOut)
{
    struct Case {
        const char* what;
        std::function<void()> arrange;
        SettingsOutcome expected;
        std::size_t reportsWritten;
    };
    const Case cases[] = {
        { "a meter that takes them", [] {}, SettingsOutcome::Sent, 2 },
        { "a write that fails", [&] { meter.setWriteFails(true); }, SettingsOutcome::WriteFailed, 0 },
        { "no meter",
            [&] {
                meter.unplug();
                ASSERT_TRUE(TestModule::waitUntil([&] { return !module.DeviceConnected; }));
            },
            SettingsOutcome::Disconnected, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        meter.clearWrittenReports();
        module.LastErrorText.clear();
        const SettingsResult applied
            = module.Link().applySettings(true, QDateTime(QDate(2009, 12, 31), QTime(23, 59, 58)), 0x34);
        EXPECT_EQ(applied.outcome, c.expected);
        EXPECT_EQ(meter.writtenReports().size(), c.reportsWritten);
        // The reason comes with the result, and is recorded as every failed write records it.
        const QString reason
            = c.expected == SettingsOutcome::WriteFailed ? QStringLiteral("write usb error") : QString();
        EXPECT_EQ(applied.errorText, reason);
        EXPECT_EQ(module.LastErrorText, reason);
    }
}

TEST(Delay, ProcessesEventsAndReturnsOnceTheIntervalHasPassed)
{
    TestModule fixture;
    bool posted = false;
    QTimer::singleShot(0, [&] { posted = true; });
    fixture.module->delay(0);
    EXPECT_TRUE(posted);

    QElapsedTimer timer;
    timer.start();
    fixture.module->delay(60);
    EXPECT_GE(timer.elapsed(), 60);
}

} // namespace
