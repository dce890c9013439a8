#include "core/MeterProtocol.h"

#include "core/systemvar.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
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

bool SendToMeter(TForm6& module)
{
    module.AttachSaveRead();
    return module.WritetoDevice();
}

namespace {

enum class ReplyWait { Arrived, Disconnected, TimedOut };

ReplyWait SendAndAwaitReply(TForm6& module, void (*fill)(SendReport&), int timeoutMs)
{
    fill(module.SendBuffer);
    module.ReadMode = 2;
    module.AwaitingReply = true;
    SendToMeter(module);
    // Sleeps until an event comes (the reply's hand-over, a device change, the user) or time is up.
    QTimer timeLimit;
    timeLimit.setSingleShot(true);
    timeLimit.start(timeoutMs);
    while (module.AwaitingReply && module.DeviceConnected) {
        if (!timeLimit.isActive()) {
            // The limit is for the meter's silence. A reply that came in time may still wait in the
            // queue behind work that kept this thread busy past the limit (a long repaint, say): it
            // is taken before the meter is given up on.
            QCoreApplication::sendPostedEvents();
            if (module.AwaitingReply && module.DeviceConnected)
                return ReplyWait::TimedOut;
            break;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return module.DeviceConnected ? ReplyWait::Arrived : ReplyWait::Disconnected;
}

DownloadOutcome ToOutcome(ReplyWait wait)
{
    return wait == ReplyWait::TimedOut ? DownloadOutcome::TimedOut : DownloadOutcome::Disconnected;
}

} // namespace

DownloadOutcome RunMeterDownload(TForm6& module, const DownloadHooks& hooks)
{
    if (!module.DeviceConnected || module.MeterBusy != 0)
        return DownloadOutcome::NotStarted;
    module.MeterBusy = MeterBusyDownloading;

    const auto finish = [&module](DownloadOutcome outcome) {
        module.AwaitingReply = false;
        module.MeterBusy = 0;
        return outcome;
    };

    ReplyWait wait = SendAndAwaitReply(module, FillStartDownload, hooks.replyTimeoutMs);
    if (wait != ReplyWait::Arrived)
        return finish(ToOutcome(wait));
    if (module.ReceivedBytes[0] != DownloadAccepted)
        return finish(DownloadOutcome::Refused);

    bool moreBlocks = true;
    while (moreBlocks) {
        if (hooks.cancelled && hooks.cancelled())
            return finish(DownloadOutcome::Cancelled);
        wait = SendAndAwaitReply(module, FillNextBlock, hooks.replyTimeoutMs);
        if (wait != ReplyWait::Arrived)
            return finish(ToOutcome(wait));
        for (int i = 0; i < 8; ++i) {
            const auto byte = static_cast<std::uint8_t>(module.ReceivedBytes[static_cast<std::size_t>(i)]);
            if (byte == EndOfLoggedData)
                moreBlocks = false;
            else if (hooks.decode)
                hooks.decode(byte);
        }
        if (hooks.afterBlock)
            hooks.afterBlock();
    }
    return finish(DownloadOutcome::Completed);
}

int ReadMeterStatus(TForm6& module)
{
    bool asked = false;
    // A download waits for its block replies in read mode 2: a status request now would take its reply.
    if (module.DeviceConnected && module.ReadMode != 1 && module.MeterBusy != MeterBusyDownloading) {
        FillRequestReading(module.SendBuffer);
        module.ReadMode = 3;
        SendToMeter(module);
        asked = true;
    }
    module.delay(260);
    if (asked && module.ReadMode == 3)
        module.ReadMode = 0;
    return module.LiveFlags;
}

void ApplyMeterSettings(TForm6& module, bool setClock, const QDateTime& localTime, std::optional<std::uint8_t> modeByte)
{
    if (setClock) {
        FillSetClock(module.SendBuffer, localTime);
        if (module.DeviceConnected)
            module.WritetoDevice();
    }
    module.delay(100);
    if (!modeByte)
        return;
    FillSetMode(module.SendBuffer, *modeByte);
    if (module.DeviceConnected)
        module.WritetoDevice();
}
