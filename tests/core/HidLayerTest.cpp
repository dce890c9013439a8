// The HID layer on the simulated meter: scans, claims, releases, read threads and their hand-overs.
#include "core/HidControllerClass.h"
#include "meter/SimulatedMeter.h"
#include "support/TestModule.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>

namespace {

// A controller over the simulated meter whose first scan has run.
struct ControllerFixture : testing::Test {
    SimulatedMeter meter;
    std::unique_ptr<THidDeviceController> controller;
    int deviceChanges = 0;

    void SetUp() override
    {
        controller = std::make_unique<THidDeviceController>(meter);
        controller->OnDeviceChange = [this] { ++deviceChanges; };
        ASSERT_TRUE(TestModule::waitUntil([this] { return deviceChanges > 0; }));
    }

    THidDevice* meterObject() const
    {
        for (THidDevice* device : controller->Devices())
            if (device->Attributes().vendorId == SimulatedMeter::VendorId)
                return device;
        return nullptr;
    }

    void requestReading(THidDevice& device)
    {
        std::uint8_t command[SimulatedMeter::ReportLength] = { 0, 0xB3 };
        std::uint32_t written = 0;
        ASSERT_TRUE(device.WriteReport(command, sizeof command, written));
    }
};

// A platform listing interfaces that the test chooses, some of which cannot be opened.
class ListedPlatform final : public HidPlatform {
public:
    SimulatedMeter meter;
    std::vector<HidInterfaceInfo> listed;
    bool available() const override { return true; }
    std::vector<HidInterfaceInfo> scan() override { return listed; }
    std::unique_ptr<HidConnection> open(const QString& path, HidAccess access) override
    {
        return meter.open(path, access);
    }
    void setChangeListener(std::function<void()>) override { }
};

// Keeps a read thread's hand-overs from running when the device's posted calls are dispatched, and
// counts them: a caught hand-over means the thread holds a report and waits for the user-interface
// thread, which has not taken it.
class HandOverCatcher final : public QObject {
public:
    int caught = 0;

    // Dispatches only the device's own posted calls, never the rest of the event loop, until the
    // read thread has posted a hand-over or the time limit passes; returns whether it did.
    bool waitForHandOver(THidDevice& device, int timeoutMs = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (caught == 0 && timer.elapsed() <= timeoutMs) {
            QCoreApplication::sendPostedEvents(&device, QEvent::MetaCall);
            QThread::yieldCurrentThread();
        }
        return caught > 0;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::MetaCall)
            return false;
        ++caught;
        return true;
    }
};

} // namespace

TEST(HidController, StartUpNotificationReportsAChangeEvenWithNoDevice)
{
    SimulatedMeter meter;
    meter.unplug();
    THidDeviceController controller(meter);
    int changes = 0;
    controller.OnDeviceChange = [&] { ++changes; };
    EXPECT_EQ(changes, 0) << "the first scan waits for the event loop";
    EXPECT_TRUE(TestModule::waitUntil([&] { return changes == 1; }));
    EXPECT_TRUE(controller.Devices().empty());
}

TEST(HidController, ScanSkipsADeviceThatCannotBeOpenedAndGoesOn)
{
    ListedPlatform platform;
    const HidInterfaceInfo real = platform.meter.scan().back();
    platform.listed = { { QStringLiteral("/dev/hidraw-gone"), 99, {}, {} }, real };
    THidDeviceController controller(platform);
    controller.DeviceChangeMessage(DBT_DEVNODES_CHANGED, -1);
    ASSERT_EQ(controller.Devices().size(), 1U);
    EXPECT_EQ(controller.Devices()[0]->PnPInfo()->DevicePath, real.devicePath);
}

TEST_F(ControllerFixture, ArrivalAndRemovalOfAnotherDeviceAreReported)
{
    std::vector<std::uint16_t> arrived;
    std::vector<std::uint16_t> removed;
    controller->OnArrival = [&](THidDevice* device) { arrived.push_back(device->Attributes().vendorId); };
    controller->OnRemoval = [&](THidDevice* device) { removed.push_back(device->Attributes().vendorId); };

    meter.plugOtherDevice();
    ASSERT_TRUE(TestModule::waitUntil([&] { return deviceChanges == 2; }));
    EXPECT_EQ(controller->Devices().size(), 2U);
    meter.unplugOtherDevice();
    ASSERT_TRUE(TestModule::waitUntil([&] { return deviceChanges == 3; }));
    EXPECT_EQ(controller->Devices().size(), 1U);
    EXPECT_EQ(arrived, (std::vector<std::uint16_t> { 0x046D }));
    EXPECT_EQ(removed, (std::vector<std::uint16_t> { 0x046D }));
}

TEST_F(ControllerFixture, ReleasingAClaimedDeviceLeavesAFreshObjectWithItsHandlersInItsPlace)
{
    THidDevice* original = meterObject();
    const int index = static_cast<int>(std::find(controller->Devices().begin(), controller->Devices().end(), original)
        - controller->Devices().begin());
    std::unique_ptr<THidDevice> claimed(controller->ClaimDevice(index));
    ASSERT_EQ(claimed.get(), original);
    int reports = 0;
    const THidDataEvent handler = [&](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++reports; };
    claimed->SetDataHandler(handler);
    claimed->SetSleepTime(250);
    ASSERT_NE(claimed->ReadThread(), nullptr);

    claimed.reset();

    THidDevice* fresh = controller->Devices()[static_cast<std::size_t>(index)];
    EXPECT_FALSE(fresh->Claimed());
    EXPECT_TRUE(fresh->DataHandler() == handler);
    EXPECT_EQ(fresh->SleepTime(), 250U);
    EXPECT_EQ(fresh->ReadThread(), nullptr);

    std::unique_ptr<THidDevice> again(controller->ClaimDevice(index));
    ASSERT_NE(again->ReadThread(), nullptr) << "claiming the fresh object starts its read thread";
    requestReading(*again);
    EXPECT_TRUE(TestModule::waitUntil([&] { return reports == 1; }));
}

TEST_F(ControllerFixture, SleepTimeAcceptsOnlyTenToTenThousandMilliseconds)
{
    struct Case {
        std::uint32_t requested;
        std::uint32_t expected;
    };
    const Case cases[] = { { 9, 100 }, { 10, 10 }, { 10000, 10000 }, { 10001, 100 }, { 0, 100 } };
    THidDevice* device = meterObject();
    for (const Case& c : cases) {
        device->SetSleepTime(100);
        device->SetSleepTime(c.requested);
        EXPECT_EQ(device->SleepTime(), c.expected) << "requested " << c.requested;
    }
}

TEST(HidDevice, WithoutReadWriteAccessItIsListedButNeverReadsNorWrites)
{
    SimulatedMeter meter;
    meter.setAccessDenied(true);
    THidDeviceController controller(meter);
    controller.DeviceChangeMessage(DBT_DEVNODES_CHANGED, -1);
    ASSERT_EQ(controller.Devices().size(), 1U);
    std::unique_ptr<THidDevice> device(controller.ClaimDevice(0));
    EXPECT_FALSE(device->HasReadWriteAccess());
    EXPECT_EQ(device->Attributes().productId, SimulatedMeter::ProductId);
    device->SetDataHandler([](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {});
    EXPECT_EQ(device->ReadThread(), nullptr);
    std::uint8_t command[SimulatedMeter::ReportLength] = { 0, 0xB3 };
    std::uint32_t written = 0;
    EXPECT_FALSE(device->WriteReport(command, sizeof command, written));
}

TEST_F(ControllerFixture, StoppingAReadThreadDeliversTheReportItIsWaitingToHandOver)
{
    // Declared first: a device released on a failed assertion still hands its report to the handler.
    std::vector<int> levels;
    std::unique_ptr<THidDevice> device(controller->ClaimDevice(0));
    device->SetDataHandler([&](THidDevice*, std::uint8_t, const std::uint8_t* data, std::uint16_t) {
        levels.push_back(data[0] * 256 + data[1]);
    });
    meter.queueReadings({ 456 });
    HandOverCatcher catcher;
    device->installEventFilter(&catcher);
    requestReading(*device);
    ASSERT_TRUE(catcher.waitForHandOver(*device));
    device->removeEventFilter(&catcher);
    EXPECT_EQ(catcher.caught, 1);
    ASSERT_TRUE(levels.empty()) << "the report was taken before the stop";
    device->SetDataHandler({});
    EXPECT_EQ(device->ReadThread(), nullptr);
    EXPECT_EQ(levels, (std::vector<int> { 456 }));
}

TEST_F(ControllerFixture, AHandlerThatReleasesItsOwnDeviceDoesNotDeadlock)
{
    std::unique_ptr<THidDevice> device(controller->ClaimDevice(0));
    bool handled = false;
    device->SetDataHandler([&](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {
        device.reset();
        handled = true;
    });
    requestReading(*device);
    EXPECT_TRUE(TestModule::waitUntil([&] { return handled; }));
    EXPECT_FALSE(controller->Devices().empty());
    EXPECT_FALSE(controller->Devices()[0]->Claimed());
}

TEST_F(ControllerFixture, AnUnpluggedClaimedDeviceStaysListedUntilReleased)
{
    std::unique_ptr<THidDevice> device(controller->ClaimDevice(0));
    int unplugged = 0;
    device->UnplugHandler = [&](THidDevice*) { ++unplugged; };
    device->SetDataHandler([](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {});
    meter.unplug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return deviceChanges == 2; }));
    EXPECT_FALSE(device->PluggedIn());
    EXPECT_EQ(unplugged, 1);
    EXPECT_EQ(controller->NumUnpluggedDevices(), 1);
    device.reset();
    EXPECT_TRUE(controller->Devices().empty());
}

TEST_F(ControllerFixture, AHandlerThatRestartsItsOwnReadThreadLosesNoneOfTheNewThreadsReports)
{
    std::unique_ptr<THidDevice> device(controller->ClaimDevice(0));
    std::vector<int> levels;
    THidDataEvent handler;
    handler = [&](THidDevice* self, std::uint8_t, const std::uint8_t* data, std::uint16_t) {
        levels.push_back(data[0] * 256 + data[1]);
        if (levels.size() != 1)
            return;
        // A new thread, then an event loop inside this handler, as a message box runs one: the new
        // thread's hand-overs are served there, and the end of this hand-over must not let the new
        // thread go on as if one of its own had been taken (it would read the next report over it).
        self->SetDataHandler({});
        self->SetDataHandler(handler);
        requestReading(*self);
        requestReading(*self);
        TestModule::waitUntil([] { return false; }, 300);
    };
    device->SetDataHandler(handler);
    meter.queueReadings({ 456, 789, 1011 });
    requestReading(*device);
    EXPECT_TRUE(TestModule::waitUntil([&] { return levels.size() == 3; }));
    EXPECT_EQ(levels, (std::vector<int> { 456, 789, 1011 }));
}
