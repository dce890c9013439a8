#pragma once

// What every command that talks to the meter shares: the HID platform (the USB devices, or the
// simulated meter with --simulate-meter[=MEMORY.bin]; traced with --trace), the module TForm6 the
// windows use, with services that need no display, and the first scan for the meter.

#include "cli/CliOptions.h"
#include "core/Clock.h"
#include "core/MeterAccessHint.h"
#include "core/NullServices.h"
#include "core/systemvar.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class SimulatedMeter;
class TracingHidPlatform;

// The system clock, or one that runs at the real pace from another starting point.
class CliClock final : public Clock {
public:
    explicit CliClock(std::optional<QDateTime> pretendStart = std::nullopt);
    QDateTime now() const override;
    std::uint32_t tickCount() const override;

private:
    SystemClock system_;
    qint64 offsetMs_ = 0;
};

class MeterSession final : public QObject {
    Q_OBJECT

public:
    // Throws CliError when the simulated meter's memory file cannot be read.
    explicit MeterSession(
        const MeterOptions& options, std::unique_ptr<ReadingStore> store = nullptr, const QString& cacheFolder = {});
    ~MeterSession() override;

    TForm6& module() { return *module_; }
    Clock& clock() { return clock_; }
    // The simulated meter, or null for the USB devices.
    SimulatedMeter* simulatedMeter() const { return simulated_; }

    // Processes events until the first scan of the devices has run (it is posted when the module is
    // made), so that DeviceConnected and the device list tell what is plugged in.
    void waitForFirstScan();
    // Throws CliError saying why there is no meter to talk to: none plugged in, or one this user may
    // not open (with the udev rule hint).
    void requireMeter() const;

signals:
    // The set of devices changed and the module has looked for the meter again.
    void devicesChanged();

private:
    CliClock clock_;
    // The tool asks nothing: a command that would need an answer fails instead.
    NullUserInteraction dialogs_;
    SilentSoundPlayer sound_;
    std::unique_ptr<HidPlatform> platform_;
    SimulatedMeter* simulated_ = nullptr;
    std::unique_ptr<TracingHidPlatform> tracing_;
    std::unique_ptr<TForm6> module_;
    bool scanned_ = false;
};
