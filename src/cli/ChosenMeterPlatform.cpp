#include "cli/ChosenMeterPlatform.h"

#include "cli/CliError.h"

#include <QFileInfo>

#include <algorithm>

namespace {

bool IsPath(const QString& device)
{
    return device.startsWith(QLatin1Char('/'));
}

} // namespace

bool NamesDevice(const HidInterfaceInfo& interface, const QString& device)
{
    if (!IsPath(device))
        return device == interface.serialNumber || device == interface.location;
    if (device == interface.devicePath)
        return true;
    // A udev symbolic link names the node it points to.
    const QString node = QFileInfo(device).canonicalFilePath();
    return !node.isEmpty() && node == QFileInfo(interface.devicePath).canonicalFilePath();
}

QString NoChosenMeterText(const QString& device)
{
    if (IsPath(device))
        return QStringLiteral("No meter at %1.").arg(device);
    return QStringLiteral("No meter with the serial number or location %1 is plugged in.").arg(device);
}

void CheckDeviceName(const QString& device)
{
    if (device.isEmpty())
        throw UsageError(QStringLiteral("--device needs a device node (/dev/hidraw3), a serial number or a location."));
    if (std::any_of(
            device.begin(), device.end(), [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; }))
        throw UsageError(QStringLiteral("--device takes no blanks or control characters."));
    if (device.contains(QLatin1Char('/')) && !IsPath(device))
        throw UsageError(
            QStringLiteral("--device takes a device node as an absolute path (/dev/hidraw3), not '%1'.").arg(device));
}

ChosenMeterPlatform::ChosenMeterPlatform(HidPlatform& inner, QString device)
    : inner_(inner)
    , device_(std::move(device))
{
}

std::vector<HidInterfaceInfo> ChosenMeterPlatform::scan()
{
    std::vector<HidInterfaceInfo> found = inner_.scan();
    std::erase_if(found, [this](const HidInterfaceInfo& interface) { return !NamesDevice(interface, device_); });
    return found;
}

std::unique_ptr<HidConnection> ChosenMeterPlatform::open(const QString& devicePath, HidAccess access)
{
    return inner_.open(devicePath, access);
}

void ChosenMeterPlatform::setChangeListener(std::function<void()> listener)
{
    inner_.setChangeListener(std::move(listener));
}
