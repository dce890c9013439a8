#include "core/MeterProtocol.h"

#include <algorithm>

std::uint8_t ToPackedBcd(int value)
{
    const int clamped = std::clamp(value, 0, 99);
    return static_cast<std::uint8_t>(((clamped / 10) << 4) | (clamped % 10));
}

int FromPackedBcd(std::uint8_t value)
{
    return (value >> 4) * 10 + (value & 0x0F);
}

std::uint8_t ModeByte(int rangeCode, bool fast, bool cWeighting, bool maxHold)
{
    int mode = rangeCode & MeterStatus::RangeMask;
    if (fast)
        mode += MeterStatus::Fast;
    if (cWeighting)
        mode += MeterStatus::CWeighting;
    if (maxHold)
        mode += MeterStatus::MaxHold;
    return static_cast<std::uint8_t>(mode);
}

namespace {
void FillCommand(SendReport& buffer, std::uint8_t command)
{
    buffer.fill(0);
    buffer[1] = command;
}
} // namespace

void FillRequestReading(SendReport& buffer)
{
    FillCommand(buffer, MeterCommand::RequestReading);
}
void FillStartDownload(SendReport& buffer)
{
    FillCommand(buffer, MeterCommand::StartDownload);
}
void FillNextBlock(SendReport& buffer)
{
    FillCommand(buffer, MeterCommand::NextBlock);
}

void FillSetClock(SendReport& buffer, const QDateTime& localTime)
{
    FillCommand(buffer, MeterCommand::SetClock);
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    buffer[2] = ToPackedBcd(time.second());
    buffer[3] = ToPackedBcd(time.minute());
    buffer[4] = ToPackedBcd(time.hour());
    buffer[5] = ToPackedBcd(date.day());
    buffer[6] = ToPackedBcd(date.month());
    buffer[7] = ToPackedBcd(date.year() % 100);
}

void FillSetMode(SendReport& buffer, std::uint8_t modeByte)
{
    FillCommand(buffer, MeterCommand::SetMode);
    buffer[2] = modeByte;
}
