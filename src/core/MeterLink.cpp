#include "core/MeterLink.h"

#include "core/Clock.h"
#include "core/UserInteraction.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

MeterLink::MeterLink(MeterLinkState& state, LastMessageRecord& lastMessage, const QPointer<QObject>& readingReceiver,
    HidPlatform& hid, const Clock& clock, QObject* owner)
    : state_(state)
    , lastMessage_(lastMessage)
    , readingReceiver_(readingReceiver)
    , clock_(clock)
    , hidCtl_(std::make_unique<THidDeviceController>(hid, owner))
{
    saveReadHandler_ = THidDataEvent([this](THidDevice* device, std::uint8_t reportId, const std::uint8_t* data,
                                         std::uint16_t size) { SaveRead(device, reportId, data, size); });
    hidCtl_->OnDeviceChange = [this] { HidCtlDeviceChange(); };
    hidCtl_->OnEnumerate = [this](THidDevice* device, std::int32_t index) { return HidCtlEnumerate(device, index); };
}

MeterLink::~MeterLink()
{
    state_.MeterDevice = nullptr;
    state_.DeviceList.clear();
    hidCtl_.reset();
}

// ---------------------------------------------------------------------------------------------------
// Devices, writes and replies

void MeterLink::HidCtlDeviceChange()
{
    state_.MeterDevice = nullptr;
    state_.DeviceList.clear();
    hidCtl_->EnumerateDevices();
    state_.MeterDevice = nullptr;
    state_.DeviceConnected = false;
    state_.MeterWithoutAccess = false;
    for (const auto& device : state_.DeviceList) {
        if (device && device->Attributes().vendorId == MeterVendorId
            && device->Attributes().productId == MeterProductId) {
            // A meter that can only be identified cannot be talked to: it is not connected, but the
            // user must hear that it was found, or a missing udev rule looks like a missing meter.
            if (!device->HasReadWriteAccess()) {
                state_.MeterWithoutAccess = true;
                continue;
            }
            state_.DeviceConnected = true;
            state_.MeterDevice = device.get();
        }
    }
}

bool MeterLink::HidCtlEnumerate(THidDevice* device, std::int32_t index)
{
    (void)device;
    state_.DeviceList.emplace_back(hidCtl_->ClaimDevice(index));
    return true;
}

bool MeterLink::WritetoDevice()
{
    bool written = false;
    if (THidDevice* meter = state_.MeterDevice) {
        const std::uint32_t length = meter->Capabilities().OutputReportByteLength;
        std::uint32_t count = 0;
        written = length > 0 && length <= state_.SendBuffer.size()
            && meter->WriteReport(state_.SendBuffer.data(), length, count) && count == length;
    }
    if (!written) {
        lastMessage_.LastErrorCaption = QStringLiteral("WRITE USB ERROR!");
        lastMessage_.LastErrorText = QStringLiteral("write usb error");
    }
    return written;
}

void MeterLink::AttachSaveRead()
{
    if (state_.MeterDevice)
        state_.MeterDevice->SetDataHandler(saveReadHandler_);
}

void MeterLink::SaveRead(THidDevice* device, std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size)
{
    (void)device;
    (void)reportId;
    const std::size_t count = std::min<std::size_t>(size, state_.ReceivedBytes.size());
    for (std::size_t i = 0; i < count; ++i)
        state_.ReceivedBytes[i] = data[i];

    switch (state_.ReadMode) {
    case 1: {
        state_.LiveValue = state_.ReceivedBytes[0] * 256 + state_.ReceivedBytes[1];
        state_.LiveFlags = state_.ReceivedBytes[2];
        if (readingReceiver_) {
            QEvent reading(static_cast<QEvent::Type>(WM_NEWREADING));
            QCoreApplication::sendEvent(readingReceiver_, &reading);
        }
        break;
    }
    case 2:
        state_.AwaitingReply = false;
        break;
    case 3:
        state_.LiveFlags = state_.ReceivedBytes[2];
        ++statusReplies_;
        break;
    default:
        break;
    }
}

bool MeterLink::SendToMeter()
{
    AttachSaveRead();
    return WritetoDevice();
}

// ---------------------------------------------------------------------------------------------------
// Exchanges

bool MeterLink::startLiveRun(WithoutMeter withoutMeter)
{
    if (state_.MeterBusy != 0 || (!state_.DeviceConnected && withoutMeter == WithoutMeter::Refuse))
        return false;
    state_.ReadMode = 1;
    state_.MeterBusy = MeterBusyMeasuring;
    return true;
}

void MeterLink::endLiveRun()
{
    state_.ReadMode = 0;
    state_.MeterBusy = 0;
}

bool MeterLink::requestReading()
{
    // Without the meter the run waits; the first request after it is back asks the new device.
    if (!state_.DeviceConnected)
        return false;
    FillRequestReading(state_.SendBuffer);
    return SendToMeter();
}

std::optional<int> MeterLink::readStatus()
{
    const std::uint64_t repliesBefore = statusReplies_;
    bool asked = false;
    // A download waits for its block replies in read mode 2: a status request now would take its reply.
    if (state_.DeviceConnected && state_.ReadMode != 1 && state_.MeterBusy != MeterBusyDownloading) {
        FillRequestReading(state_.SendBuffer);
        state_.ReadMode = 3;
        SendToMeter();
        asked = true;
    }
    ProcessEventsFor(clock_, 260);
    if (asked && state_.ReadMode == 3)
        state_.ReadMode = 0;
    if (!asked || statusReplies_ == repliesBefore)
        return std::nullopt;
    return state_.LiveFlags;
}

SettingsResult MeterLink::applySettings(bool setClock, const QDateTime& localTime, std::optional<std::uint8_t> modeByte)
{
    bool missed = false;
    QString writeError;
    const auto send = [&] {
        if (!state_.DeviceConnected)
            missed = true;
        else if (!WritetoDevice() && writeError.isEmpty())
            writeError = lastMessage_.LastErrorText;
    };
    if (setClock) {
        FillSetClock(state_.SendBuffer, localTime);
        send();
    }
    ProcessEventsFor(clock_, 100);
    if (modeByte) {
        FillSetMode(state_.SendBuffer, *modeByte);
        send();
    }
    if (missed || !state_.DeviceConnected)
        return { SettingsOutcome::Disconnected, {} };
    if (!writeError.isEmpty())
        return { SettingsOutcome::WriteFailed, writeError };
    return {};
}

MeterLink::ReplyWait MeterLink::sendAndAwaitReply(void (*fill)(SendReport&), int timeoutMs)
{
    fill(state_.SendBuffer);
    state_.ReadMode = 2;
    state_.AwaitingReply = true;
    SendToMeter();
    // Sleeps until an event comes (the reply's hand-over, a device change, the user) or time is up.
    QTimer timeLimit;
    timeLimit.setSingleShot(true);
    timeLimit.start(timeoutMs);
    while (state_.AwaitingReply && state_.DeviceConnected) {
        if (!timeLimit.isActive()) {
            // The limit is for the meter's silence. A reply that came in time may still wait in the
            // queue behind work that kept this thread busy past the limit (a long repaint, say): it
            // is taken before the meter is given up on.
            QCoreApplication::sendPostedEvents();
            if (state_.AwaitingReply && state_.DeviceConnected)
                return ReplyWait::TimedOut;
            break;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return state_.DeviceConnected ? ReplyWait::Arrived : ReplyWait::Disconnected;
}

DownloadOutcome MeterLink::download(const DownloadHooks& hooks)
{
    if (!state_.DeviceConnected || state_.MeterBusy != 0)
        return DownloadOutcome::NotStarted;
    state_.MeterBusy = MeterBusyDownloading;

    const auto finish = [this](DownloadOutcome outcome) {
        state_.AwaitingReply = false;
        state_.MeterBusy = 0;
        return outcome;
    };
    const auto failed = [](ReplyWait wait) {
        return wait == ReplyWait::TimedOut ? DownloadOutcome::TimedOut : DownloadOutcome::Disconnected;
    };

    ReplyWait wait = sendAndAwaitReply(FillStartDownload, hooks.replyTimeoutMs);
    if (wait != ReplyWait::Arrived)
        return finish(failed(wait));
    if (state_.ReceivedBytes[0] != DownloadAccepted)
        return finish(DownloadOutcome::Refused);

    bool moreBlocks = true;
    while (moreBlocks) {
        if (hooks.cancelled && hooks.cancelled())
            return finish(DownloadOutcome::Cancelled);
        wait = sendAndAwaitReply(FillNextBlock, hooks.replyTimeoutMs);
        if (wait != ReplyWait::Arrived)
            return finish(failed(wait));
        for (int i = 0; i < 8; ++i) {
            const auto byte = static_cast<std::uint8_t>(state_.ReceivedBytes[static_cast<std::size_t>(i)]);
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
