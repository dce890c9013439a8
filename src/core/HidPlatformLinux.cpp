#include "HidPlatformLinux.h"

#include "HidReportDescriptor.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <atomic>
#include <hidapi/hidapi.h>
#include <libudev.h>

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

class LinuxConnection final : public HidConnection {
public:
    LinuxConnection(hid_device* device, LinuxHidPlatform::DeviceFacts facts)
        : device_(device)
        , facts_(facts)
    {
    }
    ~LinuxConnection() override
    {
        if (device_)
            hid_close(device_);
    }
    LinuxConnection(const LinuxConnection&) = delete;
    LinuxConnection& operator=(const LinuxConnection&) = delete;

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
        if (!device_ || cancelled_)
            return false;
        return hid_write(device_, data, length) == static_cast<int>(length);
    }
    int read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
    {
        if (!device_ || cancelled_ || length == 0)
            return -1;
        // hidraw leaves out the report id of devices without numbered reports: the layer expects id 0.
        const std::size_t offset = facts_.numberedReports ? 0 : 1;
        const int count = hid_read_timeout(device_, buffer + offset, length - offset, timeoutMs);
        if (cancelled_ || count < 0)
            return -1;
        if (count == 0)
            return 0;
        if (offset)
            buffer[0] = 0;
        return count + static_cast<int>(offset);
    }
    void cancel() override { cancelled_ = true; }

private:
    hid_device* device_;
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
        found.push_back({ path, InstanceFor(key) });
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
        return std::make_unique<LinuxConnection>(nullptr, facts);
    hid_device* device = hid_open_path(devicePath.toLocal8Bit().constData());
    if (!device)
        return nullptr;
    return std::make_unique<LinuxConnection>(device, facts);
}
