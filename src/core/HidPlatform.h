#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// What the HID layer needs of the operating system. Two implementations: the real one
// (LinuxHidPlatform in the hid library: hidapi and libudev) and the simulated meter.

struct HidAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
};

// Report lengths in bytes, the report id byte included.
struct HidReportLengths {
    std::uint16_t input = 0;
    std::uint16_t output = 0;
};

// One device interface found by a scan.
struct HidInterfaceInfo {
    QString devicePath;
    // Equal for two objects exactly when they describe the same plugged-in device; a device that is
    // unplugged and plugged in again gets a new number.
    std::uint32_t deviceInstance = 0;
    // The serial number the device reports (USB's iSerialNumber); empty when it has none.
    QString serialNumber;
    // Where it is plugged in, the same after a re-plug into the same port and unlike devicePath not
    // handed out again to another device: "usb-1-1.4" for the USB port path 1-1.4. Empty if unknown.
    QString location;
};

enum class HidAccess { ReadWrite, Read, Write, None };

// One open handle to a device. read() may run on a read thread while other handles of the same
// device are used on the user-interface thread; cancel() may be called from any thread.
class HidConnection {
public:
    virtual ~HidConnection() = default;
    virtual bool attributes(HidAttributes& out) = 0;
    virtual bool reportLengths(HidReportLengths& out) = 0;
    // Writes one whole output report (report id in byte 0).
    virtual bool write(const std::uint8_t* data, std::size_t length) = 0;
    // Reads one input report into buffer, report id in byte 0 (0 for devices without numbered reports).
    // Returns the byte count, 0 when timeoutMs passed without a report, -1 on failure or after cancel().
    virtual int read(std::uint8_t* buffer, std::size_t length, int timeoutMs) = 0;
    // Makes a read in progress return soon and every later read fail.
    virtual void cancel() = 0;
};

class HidPlatform {
public:
    virtual ~HidPlatform() = default;
    // False when the system's HID services are missing: no scan, no notification.
    virtual bool available() const = 0;
    // The device interfaces present now, in a stable order. An interface whose details cannot be read
    // is left out.
    virtual std::vector<HidInterfaceInfo> scan() = 0;
    // Null when the device refuses that access (or is gone).
    virtual std::unique_ptr<HidConnection> open(const QString& devicePath, HidAccess access) = 0;
    // Called on the user-interface thread whenever the set of devices may have changed.
    virtual void setChangeListener(std::function<void()> listener) = 0;
};
