#pragma once

// The module's meter link state: whether the meter is there, the claimed devices, how the next reply
// is read, the report buffers, the last reading and status, and which activity holds the meter.
// MeterLink changes it; the windows read it.

#include "core/HidControllerClass.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

struct MeterLinkState {
    bool DeviceConnected = false;
    // The meter is plugged in but its node refuses read-write access (no udev rule): it is listed
    // but cannot be used, so DeviceConnected stays false.
    bool MeterWithoutAccess = false;
    THidDevice* MeterDevice = nullptr;
    std::vector<std::unique_ptr<THidDevice>> DeviceList;
    std::int32_t ReadMode = 0;
    std::array<std::uint8_t, 68> SendBuffer {};
    std::array<std::int32_t, 65> ReceivedBytes {};
    std::int32_t LiveValue = 0;
    std::int32_t LiveFlags = 0;
    bool AwaitingReply = false;
    std::int16_t MeterBusy = 0;
};
