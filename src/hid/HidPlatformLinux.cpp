#include "hid/HidPlatformLinux.h"

#include "hid/HidReportDescriptor.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

struct UdevDeviceDeleter {
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
using UdevDevice = std::unique_ptr<udev_device, UdevDeviceDeleter>;

// "/dev/hidraw3" -> the udev device of hidraw3
UdevDevice HidrawDevice(udev* context, const QString& devicePath)
{
    const QByteArray sysname = QFileInfo(devicePath).fileName().toLocal8Bit();
    return UdevDevice(udev_device_new_from_subsystem_sysname(context, "hidraw", sysname.constData()));
}

// "usb-1-1.4": the USB device's kernel name is its bus and port path, which stays the same for whatever
// is plugged into that port. Empty for a device that is not on USB.
QString UsbPortLocation(udev_device* hidraw)
{
    // The parent belongs to the child: no unref.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hidraw, "usb", "usb_device");
    const char* name = usb ? udev_device_get_sysname(usb) : nullptr;
    return name ? QStringLiteral("usb-") + QString::fromLocal8Bit(name) : QString();
}

HidReportSummary ReadReportSummary(udev_device* hidraw)
{
    QFile descriptor(
        QString::fromLocal8Bit(udev_device_get_syspath(hidraw)) + QStringLiteral("/device/report_descriptor"));
    if (!descriptor.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = descriptor.readAll();
    return ParseReportDescriptor(
        reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}

// One open hidraw node. It reads and writes the node itself, as hidapi's hidraw back end does, rather
// than through hid_read_timeout: that one cannot be woken before its timeout, so every stop of a read
// thread would wait out a whole sleep period. Here a read waits on the node and on an eventfd that
// cancel() signals.
class LinuxConnection final : public HidConnection {
public:
    // fd < 0: a handle that only identifies the device.
    LinuxConnection(int fd, LinuxHidPlatform::DeviceFacts facts)
        : fd_(fd)
        , wake_(fd >= 0 ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1)
        , facts_(facts)
    {
    }
    ~LinuxConnection() override
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (wake_ >= 0)
            ::close(wake_);
    }
    LinuxConnection(const LinuxConnection&) = delete;
    LinuxConnection& operator=(const LinuxConnection&) = delete;

    bool usable() const { return fd_ < 0 || wake_ >= 0; }

    bool attributes(HidAttributes& out) override
    {
        out = facts_.attributes;
        return true;
    }
    bool reportLengths(HidReportLengths& out) override
    {
        out = facts_.lengths;
        return facts_.lengths.input > 0 || facts_.lengths.output > 0;
    }
    bool write(const std::uint8_t* data, std::size_t length) override
    {
        if (fd_ < 0 || cancelled_ || length == 0)
            return false;
        // hidraw takes the report id in byte 0, 0 for devices without numbered reports.
        ssize_t written = 0;
        do
            written = ::write(fd_, data, length);
        while (written < 0 && errno == EINTR);
        return written == static_cast<ssize_t>(length);
    }
    int read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
    {
        if (fd_ < 0 || cancelled_ || length == 0)
            return -1;
        pollfd waits[2] = { { fd_, POLLIN, 0 }, { wake_, POLLIN, 0 } };
        int ready = 0;
        do
            ready = ::poll(waits, 2, timeoutMs < 0 ? -1 : timeoutMs);
        while (ready < 0 && errno == EINTR);
        if (ready < 0 || cancelled_ || (waits[1].revents & POLLIN))
            return -1;
        if (ready == 0)
            return 0;
        if (!(waits[0].revents & POLLIN))
            return -1; // POLLHUP, POLLERR: the device is gone
        // hidraw leaves out the report id of devices without numbered reports: the layer expects id 0.
        const std::size_t offset = facts_.numberedReports ? 0 : 1;
        if (length <= offset)
            return -1;
        const ssize_t count = ::read(fd_, buffer + offset, length - offset);
        if (count < 0)
            return errno == EAGAIN || errno == EINTR ? 0 : -1;
        if (count == 0 || cancelled_)
            return -1;
        if (offset)
            buffer[0] = 0;
        return static_cast<int>(count) + static_cast<int>(offset);
    }
    void cancel() override
    {
        cancelled_ = true;
        if (wake_ >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t ignored = ::write(wake_, &one, sizeof one);
        }
    }

private:
    int fd_;
    int wake_;
    LinuxHidPlatform::DeviceFacts facts_;
    std::atomic<bool> cancelled_ { false };
};

} // namespace

LinuxHidPlatform::LinuxHidPlatform(QObject* parent)
    : QObject(parent)
{
    hidInitialised_ = hid_init() == 0;
    udev_ = udev_new();
    if (!udev_)
        return;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_)
        return;
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr);
    if (udev_monitor_enable_receiving(monitor_) != 0)
        return;
    notifier_ = new QSocketNotifier(udev_monitor_get_fd(monitor_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &LinuxHidPlatform::OnMonitorReadable);
}

LinuxHidPlatform::~LinuxHidPlatform()
{
    delete notifier_;
    if (monitor_)
        udev_monitor_unref(monitor_);
    if (udev_)
        udev_unref(udev_);
    if (hidInitialised_)
        hid_exit();
}

bool LinuxHidPlatform::available() const
{
    return hidInitialised_ && udev_ != nullptr;
}

void LinuxHidPlatform::setChangeListener(std::function<void()> listener)
{
    listener_ = std::move(listener);
}

void LinuxHidPlatform::OnMonitorReadable()
{
    while (udev_device* device = udev_monitor_receive_device(monitor_))
        udev_device_unref(device);
    if (listener_)
        listener_();
}

std::uint32_t LinuxHidPlatform::InstanceFor(const QByteArray& key)
{
    std::lock_guard lock(mutex_);
    auto [entry, inserted] = instances_.try_emplace(key, nextInstance_);
    if (inserted)
        ++nextInstance_;
    return entry->second;
}

std::vector<HidInterfaceInfo> LinuxHidPlatform::scan()
{
    std::vector<HidInterfaceInfo> found;
    if (!available())
        return found;
    hid_device_info* list = hid_enumerate(0, 0);
    for (const hid_device_info* info = list; info; info = info->next) {
        const QString path = QString::fromLocal8Bit(info->path);
        UdevDevice hidraw = HidrawDevice(udev_, path);
        if (!hidraw)
            continue;
        DeviceFacts facts;
        facts.attributes = { info->vendor_id, info->product_id, info->release_number };
        const HidReportSummary summary = ReadReportSummary(hidraw.get());
        facts.lengths = { summary.inputLength, summary.outputLength };
        facts.numberedReports = summary.numberedReports;
        // The time udev set the node up differs for every plug-in of the same device.
        const char* initialised = udev_device_get_property_value(hidraw.get(), "USEC_INITIALIZED");
        const QByteArray key
            = QByteArray(udev_device_get_syspath(hidraw.get())) + '|' + (initialised ? initialised : "");
        {
            std::lock_guard lock(mutex_);
            facts_[path] = facts;
        }
        found.push_back(
            { path, InstanceFor(key), info->serial_number ? QString::fromWCharArray(info->serial_number) : QString(),
                UsbPortLocation(hidraw.get()) });
    }
    hid_free_enumeration(list);
    return found;
}

bool LinuxHidPlatform::FactsFor(const QString& devicePath, DeviceFacts& facts)
{
    std::lock_guard lock(mutex_);
    const auto entry = facts_.find(devicePath);
    if (entry == facts_.end())
        return false;
    facts = entry->second;
    return true;
}

std::unique_ptr<HidConnection> LinuxHidPlatform::open(const QString& devicePath, HidAccess access)
{
    DeviceFacts facts;
    if (!available() || !FactsFor(devicePath, facts) || !QFileInfo::exists(devicePath))
        return nullptr;
    if (access == HidAccess::None)
        return std::make_unique<LinuxConnection>(-1, facts);
    // The probe for access is the open itself: a node the user may not read and write (no udev rule)
    // refuses it, and the device is then listed without access.
    int fd = -1;
    do
        fd = ::open(devicePath.toLocal8Bit().constData(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return nullptr;
    // The same check hid_open_path makes: only a hidraw node knows its report descriptor's size.
    int descriptorSize = 0;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &descriptorSize) < 0) {
        ::close(fd);
        return nullptr;
    }
    auto connection = std::make_unique<LinuxConnection>(fd, facts);
    if (!connection->usable())
        return nullptr;
    return connection;
}
