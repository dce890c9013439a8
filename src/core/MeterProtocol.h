#pragma once

// The meter's commands, byte by byte (the exchanges built from them are MeterLink's). Each command fills
// the whole output report: bytes beyond its arguments are cleared, so that no report carries what an
// earlier one left behind.

#include <QDateTime>
#include <array>
#include <cstdint>

namespace MeterCommand {
constexpr std::uint8_t RequestReading = 0xB3;
constexpr std::uint8_t StartDownload = 0xB5;
constexpr std::uint8_t NextBlock = 0xC4;
constexpr std::uint8_t SetClock = 0x7C;
constexpr std::uint8_t SetMode = 0x56;
} // namespace MeterCommand

// The meter agrees to send its memory when the first byte of its reply to StartDownload is this.
constexpr std::uint8_t DownloadAccepted = 0xEF;
// Marks the end of the logged data.
constexpr std::uint8_t EndOfLoggedData = 0xFF;

// Status byte (LiveFlags) layout.
namespace MeterStatus {
constexpr int RangeMask = 0x0F;
constexpr int CWeighting = 0x10;
constexpr int MaxHold = 0x20;
constexpr int Fast = 0x40;
} // namespace MeterStatus

// MeterBusy values: which activity holds the meter.
constexpr std::int16_t MeterBusyMeasuring = 10;
constexpr std::int16_t MeterBusyDownloading = 30;

using SendReport = std::array<std::uint8_t, 68>;

// 45 -> 0x45, 7 -> 0x07
std::uint8_t ToPackedBcd(int value);
// 0x59 -> 59
int FromPackedBcd(std::uint8_t value);
std::uint8_t ModeByte(int rangeCode, bool fast, bool cWeighting, bool maxHold);

void FillRequestReading(SendReport& buffer);
void FillStartDownload(SendReport& buffer);
void FillNextBlock(SendReport& buffer);
void FillSetClock(SendReport& buffer, const QDateTime& localTime);
void FillSetMode(SendReport& buffer, std::uint8_t modeByte);
