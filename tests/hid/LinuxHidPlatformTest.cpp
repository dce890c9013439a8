// The real Linux HID platform (hidapi's enumeration, libudev, the hidraw node) against a meter that
// umockdev emulates: the testbed holds the meter's sysfs entries and sends its udev events, and the
// test answers the node's ioctls, reads and writes the way the instrument does, through the simulated
// meter's model of it. The program runs under umockdev's preload library (see CMakeLists.txt).

// GLib's headers name struct members "signals", which Qt's keywords would turn into "public:".
#include <umockdev.h>

#include "core/HidControllerClass.h"
#include "core/MeterProtocol.h"
#include "hid/HidPlatformLinux.h"
#include "support/ReadingReceiver.h"
#include "support/TestModule.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <deque>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <mutex>
#include <sys/fsuid.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Vendor page, eight bytes each way, no report ids: the meter's own layout.
const std::vector<std::uint8_t> MeterDescriptor = { 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
    0x00, 0x75, 0x08, 0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02, 0xC0 };
// Numbered reports, the longest input report 63 bytes, the output report 7.
const std::vector<std::uint8_t> NumberedDescriptor = { 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08,
    0x95, 0x03, 0x81, 0x02, 0x85, 0x02, 0x95, 0x3F, 0x81, 0x02, 0x95, 0x07, 0x91, 0x02, 0xC0 };

struct GObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// The meter at the far end of an emulated hidraw node. umockdev passes the program's ioctl(), read()
// and write() on the node to the handlers here (on umockdev's own thread); poll() it does not pass
// on, so the node's pty carries one byte per waiting report to make the program's poll() wake, and a
// read takes exactly one report, as hidraw gives it.
class EmulatedMeter {
public:
    explicit EmulatedMeter(std::vector<std::uint8_t> descriptor = MeterDescriptor)
        : testbed_(umockdev_testbed_new())
        , descriptor_(std::move(descriptor))
    {
        model_.setSeed(7);
    }
    ~EmulatedMeter()
    {
        if (plugged_)
            unplug();
        g_object_unref(testbed_);
    }
    EmulatedMeter(const EmulatedMeter&) = delete;
    EmulatedMeter& operator=(const EmulatedMeter&) = delete;

    // The meter's model: its readings, its logged memory.
    SimulatedMeter& model() { return model_; }
    const QString& node() const { return node_; }
    QString rootDir() const
    {
        gchar* root = umockdev_testbed_get_root_dir(testbed_);
        const QString path = QString::fromUtf8(root);
        g_free(root);
        return path;
    }

    // Plugs the meter in: USB device, HID device with its report descriptor, hidraw node. Each plug
    // gets the next hidraw number, as when the kernel's old number is still held.
    // The serial number the meter reports from its next plug-in on (the kernel's HID_UNIQ).
    void setSerialNumber(const QByteArray& serial) { serial_ = serial; }

    void plug()
    {
        const int number = plugs_++;
        const QByteArray hidName = QStringLiteral("0003:1234:5678.%1").arg(number + 1, 4, 16, QChar('0')).toLatin1();
        gchar* usb = umockdev_testbed_add_device(testbed_, "usb", "usb1", nullptr, "idVendor", "1234", "idProduct",
            "5678", "bcdDevice", "0100", "manufacturer", "Zentrobasis", "product", "Sound Level Meter", nullptr,
            "DEVTYPE", "usb_device", nullptr);
        gchar* hid = umockdev_testbed_add_device(testbed_, "hid", hidName.constData(), usb, nullptr, "HID_ID",
            "0003:00001234:00005678", "HID_NAME", "Zentrobasis Sound Level Meter", "HID_UNIQ", serial_.constData(),
            nullptr);
        std::vector<guint8> descriptorBytes(descriptor_.begin(), descriptor_.end());
        umockdev_testbed_set_attribute_binary(
            testbed_, hid, "report_descriptor", descriptorBytes.data(), static_cast<gssize>(descriptorBytes.size()));
        const QByteArray name = "hidraw" + QByteArray::number(number);
        hidraw_ = QByteArray(hid) + "/hidraw/" + name;
        // udev stamps every node it sets up; the platform tells re-plugs apart by it.
        const QByteArray description = "P: " + hidraw_.mid(4) + "\nN: " + name + "\nE: DEVNAME=/dev/" + name
            + "\nE: SUBSYSTEM=hidraw\nE: USEC_INITIALIZED=" + QByteArray::number(1000000 * (number + 1))
            + "\nA: dev=243:" + QByteArray::number(number) + "\n";
        GError* error = nullptr;
        const bool added = umockdev_testbed_add_from_string(testbed_, description.constData(), &error);
        EXPECT_TRUE(added) << (error ? error->message : "");
        g_clear_error(&error);
        // The kernel's link from the hidraw node to its HID device.
        umockdev_testbed_set_attribute_link(
            testbed_, hidraw_.constData(), "device", ("../../../" + hidName).constData());
        usbSyspath_ = usb;
        g_free(usb);
        g_free(hid);

        node_ = QStringLiteral("/dev/") + QString::fromLatin1(name);
        const QByteArray nodeBytes = node_.toLatin1();
        doorbell_ = umockdev_testbed_get_dev_fd(testbed_, nodeBytes.constData());
        const QString pty = QFile::symLinkTarget(rootDir() + node_);
        doorbellDrain_ = ::open(pty.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(doorbellDrain_, 0) << pty.toStdString();

        handler_.reset(umockdev_ioctl_base_new());
        g_signal_connect(handler_.get(), "handle-ioctl", G_CALLBACK(OnIoctl), this);
        g_signal_connect(handler_.get(), "handle-read", G_CALLBACK(OnRead), this);
        g_signal_connect(handler_.get(), "handle-write", G_CALLBACK(OnWrite), this);
        EXPECT_TRUE(umockdev_testbed_attach_ioctl(testbed_, nodeBytes.constData(), handler_.get(), &error));
        g_clear_error(&error);

        const std::vector<HidInterfaceInfo> model = model_.scan();
        link_ = model_.open(model.front().devicePath, HidAccess::ReadWrite);
        plugged_ = true;
    }

    // Pulls the cable: the "remove" event, then the devices leave the testbed. (umockdev 0.17's
    // remove_device sends no event, and an event needs the device's sysfs entry to describe it; the
    // program handles it from its event loop, by when the entries are gone as after a real removal.)
    void unplug()
    {
        plugged_ = false;
        umockdev_testbed_uevent(testbed_, hidraw_.constData(), "remove");
        GError* error = nullptr;
        umockdev_testbed_detach_ioctl(testbed_, node_.toLatin1().constData(), &error);
        g_clear_error(&error);
        handler_.reset();
        umockdev_testbed_remove_device(testbed_, usbSyspath_.constData());
        std::lock_guard lock(mutex_);
        replies_.clear();
        ::close(doorbellDrain_);
        doorbellDrain_ = -1;
    }

    // The node's mode as the system sets it up without the program's udev rule: read only.
    void denyReadWrite()
    {
        ASSERT_EQ(::chmod(QFile::symLinkTarget(rootDir() + node_).toLocal8Bit().constData(), 0444), 0);
    }

    std::vector<std::vector<std::uint8_t>> written() const
    {
        std::lock_guard lock(mutex_);
        return written_;
    }

private:
    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
    {
        auto* self = static_cast<EmulatedMeter*>(user);
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        GError* error = nullptr;
        if (request == HIDIOCGRDESCSIZE) {
            std::unique_ptr<UMockdevIoctlData, GObjectDeleter> size(
                umockdev_ioctl_data_resolve(arg, 0, sizeof(int), &error));
            *reinterpret_cast<int*>(size->data) = static_cast<int>(self->descriptor_.size());
        } else if (request == HIDIOCGRDESC) {
            std::unique_ptr<UMockdevIoctlData, GObjectDeleter> out(
                umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_report_descriptor), &error));
            auto* descriptor = reinterpret_cast<hidraw_report_descriptor*>(out->data);
            descriptor->size = static_cast<__u32>(self->descriptor_.size());
            std::copy(self->descriptor_.begin(), self->descriptor_.end(), descriptor->value);
        } else {
            return FALSE; // any other request fails as on a node that does not know it
        }
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
    {
        auto* self = static_cast<EmulatedMeter*>(user);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        const std::vector<std::uint8_t> report(arg->data, arg->data + arg->data_len);
        std::lock_guard lock(self->mutex_);
        self->written_.push_back(report);
        if (!self->link_ || !self->link_->write(report.data(), report.size())) {
            umockdev_ioctl_client_complete(client, -1, EIO);
            return TRUE;
        }
        std::uint8_t reply[64] = {};
        for (int count = 0; (count = self->link_->read(reply, sizeof reply, 0)) > 0;) {
            // hidraw gives a device without numbered reports its data without the report id byte.
            self->replies_.emplace_back(reply + 1, reply + count);
            const char bell = 1;
            [[maybe_unused]] const ssize_t rung = ::write(self->doorbell_, &bell, 1);
        }
        umockdev_ioctl_client_complete(client, arg->data_len, 0);
        return TRUE;
    }

    static gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
    {
        auto* self = static_cast<EmulatedMeter*>(user);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        std::lock_guard lock(self->mutex_);
        if (self->replies_.empty()) {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
            return TRUE;
        }
        const std::vector<std::uint8_t> report = std::move(self->replies_.front());
        self->replies_.pop_front();
        char bell = 0;
        [[maybe_unused]] const ssize_t drained = ::read(self->doorbellDrain_, &bell, 1);
        const std::size_t count = std::min(report.size(), static_cast<std::size_t>(arg->data_len));
        std::copy_n(report.begin(), count, arg->data);
        umockdev_ioctl_client_complete(client, static_cast<glong>(count), 0);
        return TRUE;
    }

    UMockdevTestbed* testbed_;
    std::vector<std::uint8_t> descriptor_;
    QByteArray serial_;
    SimulatedMeter model_;
    std::unique_ptr<UMockdevIoctlBase, GObjectDeleter> handler_;
    QByteArray usbSyspath_;
    QByteArray hidraw_;
    QString node_;
    int plugs_ = 0;
    bool plugged_ = false;
    int doorbell_ = -1;
    int doorbellDrain_ = -1;

    mutable std::mutex mutex_;
    std::unique_ptr<HidConnection> link_;
    std::deque<std::vector<std::uint8_t>> replies_;
    std::vector<std::vector<std::uint8_t>> written_;
};

// The program's module on the real platform.
struct ModuleOnLinux {
    ScriptedUserInteraction ui;
    FakeClock clock;
    RecordingSoundPlayer sound;
    QTemporaryDir folder;
    LinuxHidPlatform platform;
    TForm6 module { ModuleServices { ui, clock, sound, platform, folder.path() }, nullptr };
    ReadingReceiver receiver;

    ModuleOnLinux()
    {
        receiver.module = &module;
        module.MeasureWindowHandle = &receiver;
    }
    ~ModuleOnLinux() { module.MeasureWindowHandle = nullptr; }

    bool readOnce()
    {
        const std::size_t before = receiver.values.size();
        module.ReadMode = 1;
        FillRequestReading(module.SendBuffer);
        module.Link().SendToMeter();
        return TestModule::waitUntil([&] { return receiver.values.size() == before + 1; });
    }
};

// While it lives, this thread's file accesses are checked as those of an ordinary user: root passes
// every permission check, and CI runs as root. Only the file system user id changes (setfsuid is per
// thread), so the testbed's own thread keeps its rights. Nothing changes for a test run by a user.
class AsOrdinaryUser {
public:
    explicit AsOrdinaryUser(const QString& testbedRoot, const QString& node)
        : wasRoot_(::geteuid() == 0)
    {
        if (!wasRoot_)
            return;
        // mkdtemp made the testbed readable by its owner only. umockdev's preload connects to the
        // node's ioctl socket after every open of the node, a refused one too, and ends the program
        // when it cannot: the socket must take the ordinary user's connection.
        ::chmod(testbedRoot.toLocal8Bit().constData(), 0755);
        ::chmod((testbedRoot + QStringLiteral("/ioctl")).toLocal8Bit().constData(), 0755);
        ::chmod((testbedRoot + QStringLiteral("/ioctl") + QFileInfo(node).path()).toLocal8Bit().constData(), 0755);
        ::chmod((testbedRoot + QStringLiteral("/ioctl") + node).toLocal8Bit().constData(), 0777);
        ::setfsuid(65534);
    }
    ~AsOrdinaryUser()
    {
        if (wasRoot_)
            ::setfsuid(0);
    }
    AsOrdinaryUser(const AsOrdinaryUser&) = delete;
    AsOrdinaryUser& operator=(const AsOrdinaryUser&) = delete;

private:
    bool wasRoot_;
};

} // namespace

TEST(LinuxHidPlatform, EnumerationFindsTheMeterAndReadsItsReportLengthsFromTheDescriptor)
{
    struct Case {
        const char* what;
        std::vector<std::uint8_t> descriptor;
        std::uint16_t input;
        std::uint16_t output;
        const char* serial;
    };
    const Case cases[] = {
        { "the meter's descriptor", MeterDescriptor, 9, 9, "" },
        { "numbered reports", NumberedDescriptor, 64, 8, "" },
        { "a serial number", MeterDescriptor, 9, 9, "ZQ731-0042" },
    };
    for (const Case& c : cases) {
        EmulatedMeter meter(c.descriptor);
        meter.setSerialNumber(c.serial);
        meter.plug();
        LinuxHidPlatform platform;
        ASSERT_TRUE(platform.available()) << c.what;
        const std::vector<HidInterfaceInfo> found = platform.scan();
        ASSERT_EQ(found.size(), 1U) << c.what;
        EXPECT_EQ(found[0].devicePath, QStringLiteral("/dev/hidraw0")) << c.what;
        EXPECT_EQ(found[0].serialNumber, QLatin1String(c.serial)) << c.what;
        // The USB device's kernel name, which is its port path: "usb1" in the testbed, "1-1.4" on a hub.
        EXPECT_EQ(found[0].location, QStringLiteral("usb-usb1")) << c.what;
        const std::unique_ptr<HidConnection> connection = platform.open(found[0].devicePath, HidAccess::ReadWrite);
        ASSERT_NE(connection, nullptr) << c.what;
        HidAttributes attributes;
        ASSERT_TRUE(connection->attributes(attributes));
        EXPECT_EQ(attributes.vendorId, 0x1234) << c.what;
        EXPECT_EQ(attributes.productId, 0x5678) << c.what;
        EXPECT_EQ(attributes.versionNumber, 0x0100) << c.what;
        HidReportLengths lengths;
        ASSERT_TRUE(connection->reportLengths(lengths));
        EXPECT_EQ(lengths.input, c.input) << c.what;
        EXPECT_EQ(lengths.output, c.output) << c.what;
    }
}

TEST(LinuxHidPlatform, ReadingsAndADownloadArriveThroughSaveRead)
{
    EmulatedMeter meter;
    meter.model().queueReadings({ 653, 1204 });
    // Three blocks of eight bytes and the block with the end mark.
    std::vector<std::uint8_t> memory;
    for (int i = 0; i < 26; ++i)
        memory.push_back(static_cast<std::uint8_t>(0x10 + i));
    memory.push_back(0xFF);
    meter.model().setLoggedMemory(memory);
    meter.plug();

    ModuleOnLinux program;
    ASSERT_TRUE(TestModule::waitUntil([&] { return program.module.DeviceConnected; }));
    ASSERT_TRUE(program.readOnce());
    ASSERT_TRUE(program.readOnce());
    EXPECT_EQ(program.receiver.values, (std::vector<std::int32_t> { 653, 1204 }));
    const auto written = meter.written();
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written[0].size(), 9U) << "report id 0 and the whole eight-byte report";
    EXPECT_EQ(written[0][1], MeterCommand::RequestReading);

    std::vector<std::uint8_t> decoded;
    const DownloadOutcome outcome
        = program.module.Link().download({ [&](std::uint8_t b) { decoded.push_back(b); }, {} });
    EXPECT_EQ(outcome, DownloadOutcome::Completed);
    EXPECT_EQ(decoded, std::vector<std::uint8_t>(memory.begin(), memory.end() - 1));
    EXPECT_EQ(program.module.MeterBusy, 0);
}

TEST(LinuxHidPlatform, RemovalAndReAddThroughUdevEventsReachTheModule)
{
    EmulatedMeter meter;
    meter.plug();
    ModuleOnLinux program;
    ASSERT_TRUE(TestModule::waitUntil([&] { return program.module.DeviceConnected; }));
    ASSERT_TRUE(program.readOnce());

    meter.unplug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return !program.module.DeviceConnected; }))
        << "the removal event reached HidCtlDeviceChange";
    EXPECT_EQ(program.module.MeterDevice, nullptr);

    meter.model().queueReadings({ 777 });
    meter.plug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return program.module.DeviceConnected; }))
        << "the add event reached HidCtlDeviceChange";
    ASSERT_NE(program.module.MeterDevice, nullptr);
    EXPECT_EQ(program.module.MeterDevice->PnPInfo()->DevicePath, meter.node());
    ASSERT_TRUE(program.readOnce());
    EXPECT_EQ(program.receiver.values.back(), 777);
}

TEST(LinuxHidPlatform, ANodeWithoutReadWritePermissionIsListedWithoutAccess)
{
    EmulatedMeter meter;
    meter.plug();
    meter.denyReadWrite();
    LinuxHidPlatform platform;
    THidDeviceController controller(platform);
    const AsOrdinaryUser user(meter.rootDir(), meter.node());

    controller.DeviceChangeMessage(DBT_DEVNODES_CHANGED, -1);
    ASSERT_EQ(controller.Devices().size(), 1U);
    const THidDevice* device = controller.Devices()[0];
    EXPECT_FALSE(device->HasReadWriteAccess());
    EXPECT_EQ(device->Attributes().vendorId, 0x1234);
    EXPECT_EQ(device->Attributes().productId, 0x5678);
    EXPECT_EQ(platform.open(meter.node(), HidAccess::ReadWrite), nullptr) << "the open itself is refused";
}

TEST(LinuxHidPlatform, CancelWakesAReadThatIsWaitingOnTheNode)
{
    EmulatedMeter meter;
    meter.plug();
    LinuxHidPlatform platform;
    ASSERT_EQ(platform.scan().size(), 1U);
    const std::shared_ptr<HidConnection> connection = platform.open(meter.node(), HidAccess::Read);
    ASSERT_NE(connection, nullptr);
    std::atomic<int> result { 1 };
    std::thread reader([&] {
        std::uint8_t report[9] = {};
        // Without a wake-up this returns 0 only after a minute.
        result = connection->read(report, sizeof report, 60000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    connection->cancel();
    reader.join();
    EXPECT_EQ(result, -1);
}
