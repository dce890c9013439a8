#pragma once

// The module's link to the meter: the HID controller and the claimed devices, the reply handler
// SaveRead and the writer WritetoDevice, and the exchanges the windows and the command-line tool run
// over them: a live run, the status read, applying the settings and the download of the logged
// memory. It changes the module's MeterLinkState; every outcome is a return value, so that no caller
// has to set a field beforehand to learn what happened.

#include "core/HidControllerClass.h"
#include "core/MeterLinkState.h"
#include "core/MeterProtocol.h"

#include <QDateTime>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class Clock;
struct LastMessageRecord;

// The reading message: sent synchronously to the receiver of live readings (MeasureWindowHandle) after
// each real-time reading. The receiver is any object: the measurement window, or a program without
// windows that takes the readings itself.
constexpr int WM_USER = 1024;
constexpr int WM_NEWREADING = WM_USER + 100;

// The vendor and product identifiers by which the meter is recognised among the HID devices.
constexpr std::uint16_t MeterVendorId = 0x1234;
constexpr std::uint16_t MeterProductId = 0x5678;

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

enum class SettingsOutcome {
    Sent, // every command went out
    Disconnected, // the meter was not there for a command, or went away meanwhile
    WriteFailed, // a write failed
};

// What applying settings came to; a failed write carries its reason, so no caller has to read it
// from the module's message record.
struct SettingsResult {
    SettingsOutcome outcome = SettingsOutcome::Sent;
    QString errorText;
};

// Whether a live run starts without a meter: the measurement window needs one, a logger waits for it.
enum class WithoutMeter { Refuse, Wait };

class MeterLink {
public:
    // state, lastMessage and readingReceiver (MeasureWindowHandle) belong to the module, which owns
    // this link too and is the controller's parent.
    MeterLink(MeterLinkState& state, LastMessageRecord& lastMessage, const QPointer<QObject>& readingReceiver,
        HidPlatform& hid, const Clock& clock, QObject* owner);
    // Claimed devices go back to the controller before it is destroyed.
    ~MeterLink();

    MeterLink(const MeterLink&) = delete;
    MeterLink& operator=(const MeterLink&) = delete;

    THidDeviceController& HidCtl() { return *hidCtl_; }
    // Sends SendBuffer to the meter as one output report. On failure records the write error in
    // LastErrorCaption / LastErrorText, shows nothing and returns false.
    bool WritetoDevice();
    // The data handler of the meter: decodes each input report by ReadMode.
    void SaveRead(THidDevice* device, std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size);
    // Rebuilds DeviceList after a device change and finds the meter in it.
    void HidCtlDeviceChange();
    bool HidCtlEnumerate(THidDevice* device, std::int32_t index);
    // Makes SaveRead the meter's data handler; the first attachment starts its read thread.
    void AttachSaveRead();
    const THidDataEvent& SaveReadHandler() const { return saveReadHandler_; }

    // Sends SendBuffer with SaveRead attached as the reply handler; attached first, so that the
    // meter is listened to before its reply can arrive.
    bool SendToMeter();

    // A live run: holds the meter (MeterBusy) and reads replies as readings (ReadMode 1). False, and
    // nothing changed, while another activity holds the meter, or without a meter unless asked to
    // wait for one.
    bool startLiveRun(WithoutMeter withoutMeter = WithoutMeter::Refuse);
    // Gives the meter back. Only for the run that startLiveRun started.
    void endLiveRun();
    // One request for a reading; nothing without the meter. True when it was sent.
    bool requestReading();

    // The setup window's status read: asks for a reading and waits 260 ms for the answer. The status
    // byte the meter answered with; nothing when it did not answer in time, or was not asked because
    // a measurement run reads the meter (its readings keep LiveFlags current) or a download awaits
    // its blocks.
    std::optional<int> readStatus();

    // The setup window's Apply: optionally sets the meter's clock to localTime, then its mode.
    // Without a mode byte only the clock is set: the meter keeps the mode it has.
    SettingsResult applySettings(bool setClock, const QDateTime& localTime, std::optional<std::uint8_t> modeByte);

    // Downloads the meter's memory: StartDownload, then NextBlock until the block holding the end
    // mark. The meter is held (MeterBusy) for the whole exchange and free again when it returns.
    DownloadOutcome download(const DownloadHooks& hooks);

private:
    enum class ReplyWait { Arrived, Disconnected, TimedOut };
    ReplyWait sendAndAwaitReply(void (*fill)(SendReport&), int timeoutMs);

    MeterLinkState& state_;
    LastMessageRecord& lastMessage_;
    const QPointer<QObject>& readingReceiver_;
    const Clock& clock_;
    THidDataEvent saveReadHandler_;
    // Status replies decoded so far: readStatus tells by it whether its request was answered.
    std::uint64_t statusReplies_ = 0;
    std::unique_ptr<THidDeviceController> hidCtl_;
};
