#pragma once

#include "core/HidPlatform.h"

#include <QObject>

#include <map>
#include <memory>
#include <mutex>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// The real HID services on Linux: hidapi's hidraw back end lists the devices; libudev tells them apart
// across re-plugs, finds their report descriptors and reports arrivals and removals; a connection
// opens, writes and reads the hidraw node itself so that a read can be woken at once on cancel().
class LinuxHidPlatform final : public QObject, public HidPlatform {
    Q_OBJECT

public:
    explicit LinuxHidPlatform(QObject* parent = nullptr);
    ~LinuxHidPlatform() override;

    bool available() const override;
    std::vector<HidInterfaceInfo> scan() override;
    std::unique_ptr<HidConnection> open(const QString& devicePath, HidAccess access) override;
    void setChangeListener(std::function<void()> listener) override;

    struct DeviceFacts {
        HidAttributes attributes;
        HidReportLengths lengths;
        bool numberedReports = false;
    };

private:
    std::uint32_t InstanceFor(const QByteArray& key);
    bool FactsFor(const QString& devicePath, DeviceFacts& facts);
    void OnMonitorReadable();

    bool hidInitialised_ = false;
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void()> listener_;

    std::mutex mutex_;
    std::map<QByteArray, std::uint32_t> instances_;
    std::uint32_t nextInstance_ = 1;
    std::map<QString, DeviceFacts> facts_;
};
