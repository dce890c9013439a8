#pragma once

// The program's USB HID layer: a controller that keeps the list of HID devices present, tells the
// program when that set changes, lets it claim device objects, writes output reports and reads input
// reports on one thread per device, handing every report to the user-interface thread.

#include "core/DecimoraError.h"
#include "core/HidPlatform.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

class THidDevice;
class THidDeviceController;

// The device cannot be opened or identified.
class EControllerError : public DecimoraError {
public:
    using DecimoraError::DecimoraError;
};

// An event handler that can be compared: two handlers are equal when they are copies of the same one.
template <typename Signature> class HidHandler;
template <typename R, typename... Args> class HidHandler<R(Args...)> {
public:
    HidHandler() = default;
    template <typename F>
    requires std::is_invocable_r_v<R, F, Args...> HidHandler(
        F fn) // NOLINT(google-explicit-constructor): handlers are assigned from lambdas
        : fn_(std::make_shared<std::function<R(Args...)>>(std::move(fn)))
    {
    }
    explicit operator bool() const { return fn_ && *fn_; }
    R operator()(Args... args) const { return (*fn_)(args...); }
    bool operator==(const HidHandler& other) const { return fn_ == other.fn_; }

private:
    std::shared_ptr<std::function<R(Args...)>> fn_;
};

using THidEnumerateEvent = HidHandler<bool(THidDevice* HidDev, std::int32_t Idx)>;
using THidPlugEvent = HidHandler<void(THidDevice* HidDev)>;
using THidDataEvent
    = HidHandler<void(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)>;
using THidDataErrorEvent = HidHandler<void(THidDevice* HidDev, std::uint32_t Error)>;
using TNotifyEvent = HidHandler<void()>;

// The plug-and-play record of one device.
struct THidPnPInfo {
    QString DevicePath;
    std::uint32_t DeviceInstance = 0;
};

// The part of the device's capabilities the program uses; lengths include the report id byte.
struct THidCaps {
    std::uint16_t InputReportByteLength = 0;
    std::uint16_t OutputReportByteLength = 0;
};

// Error codes handed to a data error handler.
constexpr std::uint32_t HidErrorDeviceNotConnected = 1167;

class THidDeviceReadThread final : public QThread {
public:
    // What the thread reads of its device, copied when it starts: the user-interface thread changes
    // or clears the device's own fields (sleep time, controller, path) while the thread runs.
    struct Setup {
        HidPlatform* platform = nullptr;
        QString devicePath;
        std::uint32_t sleepTime = 100;
        std::size_t reportLength = 1;
    };

    THidDeviceReadThread(THidDevice& device, Setup setup);

    THidDevice& Device;
    std::vector<std::uint8_t> Report;
    std::uint32_t BytesRead = 0;
    std::uint32_t LastError = 0;

    HidPlatform* Platform() const { return platform_; }
    const QString& DevicePath() const { return devicePath_; }
    std::uint32_t SleepTime() const { return sleepTime_.load(std::memory_order_relaxed); }
    void SetSleepTime(std::uint32_t milliseconds) { sleepTime_.store(milliseconds, std::memory_order_relaxed); }

protected:
    void run() override;

private:
    friend class THidDevice;

    HidPlatform* const platform_;
    const QString devicePath_;
    std::atomic<std::uint32_t> sleepTime_;
    // Set by StopReadThread under the device's hand-over mutex, so that a wait cannot miss it.
    bool stopRequested_ = false;
    // Set under the same mutex as the thread's last touch of its device: once StopReadThread has seen
    // it, after the join, nothing of the thread reaches the device any more.
    bool finished_ = false;
};

class THidDevice final : public QObject {
    Q_OBJECT

public:
    // Opens the device to identify it. Throws EControllerError when it cannot be opened or identified.
    THidDevice(std::unique_ptr<THidPnPInfo> pnpInfo, THidDeviceController* controller);
    // Destroying a claimed device returns it to the controller (see Release in the .cpp).
    ~THidDevice() override;

    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;

    THidDeviceController* Controller = nullptr;
    const THidPnPInfo* PnPInfo() const { return pnpInfo_.get(); }
    bool PluggedIn() const { return pluggedIn_; }
    bool Claimed() const { return claimed_; }
    bool Enumerating() const { return enumerating_; }
    bool HasReadWriteAccess() const { return hasReadWriteAccess_; }
    const HidAttributes& Attributes() const { return attributes_; }
    THidDeviceReadThread* ReadThread() const { return readThread_.get(); }

    std::uint32_t SleepTime() const { return sleepTime_; }
    // Accepted only from 10 to 10000 milliseconds.
    void SetSleepTime(std::uint32_t milliseconds);

    THidDataEvent DataHandler() const { return dataHandler_; }
    // None stops the read thread; a handler starts it when the device can read.
    void SetDataHandler(const THidDataEvent& handler);
    THidDataErrorEvent DataErrorHandler;
    THidPlugEvent UnplugHandler;

    THidCaps Capabilities();
    bool WriteReport(const std::uint8_t* data, std::uint32_t count, std::uint32_t& written);
    void StartReadThread();
    void StopReadThread();
    // Closes the handles and marks the device gone; the read thread keeps running.
    void Unplug();

    // Read thread side.
    bool StartRead(const THidDeviceReadThread& thread);
    int ReadReport(std::uint8_t* buffer, std::size_t count, int timeoutMs);
    // Runs work on the user-interface thread and returns once it has run. False when the calling
    // thread was told to stop before its work ran, or while its work was being run further up the
    // same user-interface call.
    bool HandOver(const THidDeviceReadThread& thread, std::function<void()> work);
    // Pauses the read thread for one SleepTime, or less when it is told to stop.
    void WaitBeforeRetry(const THidDeviceReadThread& thread);
    // The read thread's last call.
    void ReadThreadFinished(THidDeviceReadThread& thread);

private:
    friend class THidDeviceController;

    bool MayOpenHandles() const { return pluggedIn_ && (claimed_ || enumerating_); }
    // One hand-over from a read thread: each has its own completion, so that a stop (or a handler
    // that restarts its device's thread) releases exactly the hand-overs of the thread it stops.
    struct HandOverTicket {
        std::function<void()> work;
        const THidDeviceReadThread* thread = nullptr;
        bool started = false;
        bool done = false;
        bool released = false;
    };

    std::unique_ptr<HidConnection> OpenControlHandle();
    void CloseHandles();
    void CancelRead();
    // False when the hand-over's handler destroyed this device.
    bool Service(const std::shared_ptr<HandOverTicket>& ticket);
    // Runs the waiting hand-overs of one read thread, or of every thread when thread is null.
    void ServicePendingHandOvers(const THidDeviceReadThread* thread);
    // What a read thread queues for the user-interface thread: a call by name that carries no data, so
    // that everything handed across goes through the hand-over list and its mutex.
    Q_INVOKABLE void ServiceQueuedHandOvers() { ServicePendingHandOvers(nullptr); }
    void Release();

    std::unique_ptr<THidPnPInfo> pnpInfo_;
    std::atomic<bool> pluggedIn_ { true };
    std::atomic<bool> claimed_ { false };
    std::atomic<bool> enumerating_ { false };
    bool hasReadWriteAccess_ = false;
    HidAttributes attributes_;
    bool capsFetched_ = false;
    THidCaps caps_;
    std::uint32_t sleepTime_ = 100;
    THidDataEvent dataHandler_;
    std::unique_ptr<THidDeviceReadThread> readThread_;

    std::unique_ptr<HidConnection> controlHandle_;
    std::mutex readHandleMutex_;
    std::shared_ptr<HidConnection> readHandle_;

    // Hand-overs from read threads to the user-interface thread, waiting or being run.
    std::mutex handOverMutex_;
    std::condition_variable handOverChanged_;
    std::vector<std::shared_ptr<HandOverTicket>> handOvers_;
};

class THidDeviceController final : public QObject {
    Q_OBJECT

public:
    // Posts the first device-change notification when the platform's HID services are available, so
    // that the first scan runs as soon as the event loop runs.
    explicit THidDeviceController(HidPlatform& platform, QObject* parent = nullptr);
    ~THidDeviceController() override;

    THidDeviceController(const THidDeviceController&) = delete;
    THidDeviceController& operator=(const THidDeviceController&) = delete;

    const QString Version = QStringLiteral("1.0.32");

    std::uint32_t DevThreadSleepTime() const { return devThreadSleepTime_; }
    void SetDevThreadSleepTime(std::uint32_t milliseconds);

    THidPlugEvent OnArrival;
    THidEnumerateEvent OnEnumerate;
    TNotifyEvent OnDeviceChange;
    THidPlugEvent OnRemoval;
    THidDataEvent OnDeviceData() const { return onDeviceData_; }
    void SetOnDeviceData(const THidDataEvent& handler);
    THidDataErrorEvent OnDeviceDataError() const { return onDeviceDataError_; }
    void SetOnDeviceDataError(const THidDataErrorEvent& handler);
    THidPlugEvent OnDeviceUnplug() const { return onDeviceUnplug_; }
    void SetOnDeviceUnplug(const THidPlugEvent& handler);

    const std::vector<THidDevice*>& Devices() const { return devices_; }
    int NumCheckedInDevices() const { return numCheckedIn_; }
    int NumCheckedOutDevices() const { return numCheckedOut_; }
    int NumUnpluggedDevices() const { return numUnplugged_; }
    bool InDeviceChange() const { return inDeviceChange_; }
    std::int32_t ChangeParam() const { return changeParam_; }

    // Calls OnEnumerate for every plugged-in device; returns the number of calls.
    int EnumerateDevices();
    THidDevice* ClaimDevice(int index);
    void DeviceChange();
    // The system's device-change broadcast: code 7 means the set of devices changed.
    void DeviceChangeMessage(std::int32_t code, std::int32_t param);

    HidPlatform& Platform() const { return platform_; }

private:
    friend class THidDevice;

    std::vector<std::unique_ptr<THidDevice>> ScanDevices();
    void CountDevices();
    void PostDeviceChangeMessage(std::int32_t param);
    int IndexOf(const THidDevice* device) const;

    HidPlatform& platform_;
    std::uint32_t devThreadSleepTime_ = 100;
    THidDataEvent onDeviceData_;
    THidDataErrorEvent onDeviceDataError_;
    THidPlugEvent onDeviceUnplug_;
    std::vector<THidDevice*> devices_; // unclaimed ones are owned here, claimed ones by their claimant
    bool inDeviceChange_ = false;
    std::int32_t changeParam_ = 0;
    int numCheckedIn_ = 0;
    int numCheckedOut_ = 0;
    int numUnplugged_ = 0;
};

// Message codes of the device-change broadcast.
constexpr std::int32_t DBT_DEVNODES_CHANGED = 7;
