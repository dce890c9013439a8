#pragma once

// "--device PATH|SERIAL": several meters on one machine, each command talking to the one it names. The
// HID platform is narrowed to the devices the name fits, so the module claims that meter only, also
// after a re-plug (a serial number or a port finds it again under a new node).

#include "core/HidPlatform.h"

#include <QString>

// True when device names the interface: its serial number, its location ("usb-1-1.4"), or its node
// (a path, symbolic links followed: /dev/hidraw3).
bool NamesDevice(const HidInterfaceInfo& interface, const QString& device);

// What to say when no meter fits the name: "No meter at /dev/hidraw9." or "No meter with the serial
// number or location SN1234 is plugged in."
QString NoChosenMeterText(const QString& device);

// Throws UsageError when the value of --device cannot name a meter: empty, a relative path, blanks or
// control characters.
void CheckDeviceName(const QString& device);

class ChosenMeterPlatform final : public HidPlatform {
public:
    ChosenMeterPlatform(HidPlatform& inner, QString device);

    bool available() const override { return inner_.available(); }
    std::vector<HidInterfaceInfo> scan() override;
    std::unique_ptr<HidConnection> open(const QString& devicePath, HidAccess access) override;
    void setChangeListener(std::function<void()> listener) override;

private:
    HidPlatform& inner_;
    QString device_;
};
