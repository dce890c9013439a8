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
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class ChosenMeterPlatform;
class SimulatedMeter;
class TracingHidPlatform;

// The system clock, or one that runs from another starting point, or faster than the real one. Its
// tick count, which only times the waits for the meter's replies, is always the real one.
class CliClock final : public Clock {
public:
    explicit CliClock(std::optional<QDateTime> pretendStart = std::nullopt, double rate = 1.0);
    QDateTime now() const override;
    std::uint32_t tickCount() const override;

private:
    SystemClock system_;
    // Invalid for the system clock.
    QDateTime start_;
    QElapsedTimer sinceStart_;
    double rate_ = 1.0;
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
    // With the simulated meter SIGUSR1 pulls its cable and SIGUSR2 plugs it back: true when the signal
    // was one of those and has been acted on.
    bool pullOrPlugCable(int signalNumber);

    // Processes events until the first scan of the devices has run (it is posted when the module is
    // made), so that DeviceConnected and the device list tell what is plugged in.
    void waitForFirstScan();
    // Throws CliError saying why there is no meter to talk to: none plugged in (none that --device
    // names), or one this user may not open (with the udev rule hint).
    void requireMeter() const;
    // "No sound level meter is plugged in.", or that no meter fits --device.
    QString noMeterText() const;
    // The devices plugged in now (those --device names, with it), with their serial numbers.
    std::vector<HidInterfaceInfo> interfaces();

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
    QString device_;
    std::unique_ptr<ChosenMeterPlatform> chosen_;
    std::unique_ptr<TracingHidPlatform> tracing_;
    HidPlatform* hid_ = nullptr;
    std::unique_ptr<TForm6> module_;
    bool scanned_ = false;
};
