#pragma once

// The meter's commands and the exchanges built from them. Each command fills the whole output report:
// bytes beyond its arguments are cleared, so that no report carries what an earlier one left behind.

#include <QDateTime>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class TForm6;

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

// Sends SendBuffer to the meter with SaveRead attached as its reply handler. The handler is attached
// first, so the meter is listened to before its reply can arrive.
bool SendToMeter(TForm6& module);

// How long a download waits for each reply before it gives up on a meter that stopped answering.
constexpr int DefaultDownloadReplyTimeoutMs = 3000;

enum class DownloadOutcome {
    Completed, // the end of the logged data was reached
    NotStarted, // no meter, or the meter is busy with a run or another download
    Refused, // the meter did not acknowledge the download
    Disconnected, // the meter went away while a reply was awaited
    TimedOut, // the meter stopped answering
    Cancelled, // the caller called it off between two blocks
};

struct DownloadHooks {
    // Receives the logged bytes in order, the end mark excluded.
    std::function<void(std::uint8_t)> decode;
    // Called after each block has been decoded (progress, for example).
    std::function<void()> afterBlock;
    int replyTimeoutMs = DefaultDownloadReplyTimeoutMs;
    // Asked before each further block: true ends the download there (its window is closing).
    std::function<bool()> cancelled {};
};

// Downloads the meter's memory: StartDownload, then NextBlock until the block holding the end mark.
// The meter is held (MeterBusy) for the whole exchange and free again when it returns.
DownloadOutcome RunMeterDownload(TForm6& module, const DownloadHooks& hooks);

// The setup window's status read: asks for a reading, waits 260 ms and returns LiveFlags. A running
// measurement keeps its read mode; a download in progress is left alone and the last status is returned.
int ReadMeterStatus(TForm6& module);

// The setup window's Apply: optionally sets the meter's clock to localTime, then its mode. Without a
// mode byte only the clock is set: the meter keeps the mode it has.
void ApplyMeterSettings(
    TForm6& module, bool setClock, const QDateTime& localTime, std::optional<std::uint8_t> modeByte);
