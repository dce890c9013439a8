#pragma once

// Which meter the program and the tool talk to: the USB devices, or the simulated meter (anyone can
// try them without the instrument), optionally with the logged memory of a dump.

#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class HidPlatform;
class SimulatedMeter;

struct MeterChoice {
    bool simulate = false;
    // With simulate: the simulated meter's logged memory (ReadLoggedMemoryFile); nothing for its own.
    std::optional<std::vector<std::uint8_t>> loggedMemory;
    // With simulate: the simulated meter's serial number; empty for none.
    QString serialNumber;
};

struct MeterPlatform {
    std::unique_ptr<HidPlatform> platform;
    // The simulated meter that platform is, or null for the USB devices.
    SimulatedMeter* simulated = nullptr;
};

MeterPlatform MakeMeterPlatform(const MeterChoice& choice);

// The command line with every bare --simulate-meter given an empty value: the option takes its memory
// file after "=" only, so that it never swallows the argument after it.
QStringList WithMeterFileAfterEqualsOnly(QStringList arguments);
