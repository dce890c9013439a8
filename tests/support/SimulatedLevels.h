#pragma once

#include "meter/SimulatedMeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

// The levels a fresh simulated meter answers to its first count requests, in tenths of a dB and
// clamped at 140.0 dB as the logger clamps them: what a program that starts its own simulated meter
// must have taken, in order, so that a lost or doubled reading shows.
inline std::vector<int> SimulatedLevels(int count)
{
    SimulatedMeter meter;
    const std::vector<HidInterfaceInfo> devices = meter.scan();
    EXPECT_EQ(devices.size(), 1U);
    const std::unique_ptr<HidConnection> link = meter.open(devices.at(0).devicePath, HidAccess::ReadWrite);
    std::vector<int> levels;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t request[SimulatedMeter::ReportLength] = { 0, 0xB3 };
        EXPECT_TRUE(link->write(request, sizeof request));
        std::uint8_t reply[SimulatedMeter::ReportLength] = {};
        EXPECT_EQ(link->read(reply, sizeof reply, 1000), int(sizeof reply));
        levels.push_back(std::min(reply[1] * 256 + reply[2], 1400));
    }
    return levels;
}
