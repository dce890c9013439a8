#include "core/HidControllerClass.h"

#include <QMetaObject>
#include <QPointer>
#include <algorithm>
#include <chrono>

// ---------------------------------------------------------------------------------------------------
// Read thread

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device, Setup setup)
    : Device(device)
    , Report(std::max<std::size_t>(setup.reportLength, 1))
    , platform_(setup.platform)
    , devicePath_(std::move(setup.devicePath))
    , sleepTime_(setup.sleepTime)
{
}

void THidDeviceReadThread::run()
{
    THidDevice* device = &Device;
    while (!isInterruptionRequested()) {
        std::fill(Report.begin(), Report.end(), std::uint8_t { 0 });
        if (Device.StartRead(*this)) {
            int result = 0;
            // A read that timed out is still pending; a completed or failed one ends the wait.
            while (!isInterruptionRequested() && result == 0)
                result = Device.ReadReport(Report.data(), Report.size(), static_cast<int>(SleepTime()));
            if (isInterruptionRequested())
                break;
            BytesRead = result > 0 ? static_cast<std::uint32_t>(result) : 0;
            if (BytesRead == 0)
                continue;
            // The handler gets its own copy: it may release this device, and with it this thread.
            std::vector<std::uint8_t> report(Report.begin(), Report.begin() + BytesRead);
            const bool handled = Device.HandOver(*this, [device, report = std::move(report)] {
                if (const THidDataEvent handler = device->DataHandler())
                    handler(device, report[0], report.data() + 1, static_cast<std::uint16_t>(report.size() - 1));
            });
            if (!handled)
                break;
        } else {
            LastError = HidErrorDeviceNotConnected;
            const std::uint32_t error = LastError;
            const bool handled = Device.HandOver(*this, [device, error] {
                if (const THidDataErrorEvent handler = device->DataErrorHandler)
                    handler(device, error);
            });
            if (!handled)
                break;
            // A device that is gone fails at once every time: pause before the next try so that the
            // two threads do not keep each other busy until the program releases it.
            Device.WaitBeforeRetry(*this);
        }
    }
    Device.ReadThreadFinished(*this);
}

// ---------------------------------------------------------------------------------------------------
// Device

THidDevice::THidDevice(std::unique_ptr<THidPnPInfo> pnpInfo, THidDeviceController* controller)
    : Controller(controller)
    , pnpInfo_(std::move(pnpInfo))
{
    if (controller) {
        sleepTime_ = controller->DevThreadSleepTime();
        dataHandler_ = controller->OnDeviceData();
        UnplugHandler = controller->OnDeviceUnplug();
    }
    HidPlatform& platform = controller->Platform();
    controlHandle_ = platform.open(pnpInfo_->DevicePath, HidAccess::ReadWrite);
    hasReadWriteAccess_ = controlHandle_ != nullptr;
    if (!controlHandle_)
        controlHandle_ = platform.open(pnpInfo_->DevicePath, HidAccess::None);
    if (!controlHandle_)
        throw EControllerError(QStringLiteral("device cannot be opened"));
    if (!controlHandle_->attributes(attributes_))
        throw EControllerError(QStringLiteral("device cannot be identified"));
    controlHandle_.reset();
}

THidDevice::~THidDevice()
{
    if (claimed_)
        Release();
    else {
        StopReadThread();
        CloseHandles();
    }
}

void THidDevice::Release()
{
    const THidDataEvent rememberedData = dataHandler_;
    const THidPlugEvent rememberedUnplug = UnplugHandler;
    SetDataHandler({});
    CloseHandles();
    capsFetched_ = false;

    THidDeviceController* controller = Controller;
    const int index = controller ? controller->IndexOf(this) : -1;
    if (index < 0)
        return;
    if (!pluggedIn_) {
        controller->devices_.erase(controller->devices_.begin() + index);
        return;
    }
    // The device is still there: a fresh unclaimed object takes this one's place in the list.
    try {
        auto fresh = std::make_unique<THidDevice>(std::move(pnpInfo_), controller);
        fresh->dataHandler_ = rememberedData;
        fresh->UnplugHandler = rememberedUnplug;
        fresh->sleepTime_ = sleepTime_;
        controller->devices_[static_cast<std::size_t>(index)] = fresh.release();
    } catch (const EControllerError&) {
        controller->devices_.erase(controller->devices_.begin() + index);
    }
}

void THidDevice::SetSleepTime(std::uint32_t milliseconds)
{
    if (milliseconds < 10 || milliseconds > 10000)
        return;
    sleepTime_ = milliseconds;
    if (readThread_)
        readThread_->SetSleepTime(milliseconds);
}

void THidDevice::SetDataHandler(const THidDataEvent& handler)
{
    if (!handler)
        StopReadThread();
    dataHandler_ = handler;
    StartReadThread();
}

std::unique_ptr<HidConnection> THidDevice::OpenControlHandle()
{
    if (!MayOpenHandles() || !Controller)
        return nullptr;
    const HidAccess access = hasReadWriteAccess_ ? HidAccess::ReadWrite : HidAccess::None;
    return Controller->Platform().open(pnpInfo_->DevicePath, access);
}

THidCaps THidDevice::Capabilities()
{
    if (!capsFetched_) {
        auto handle = controlHandle_ ? nullptr : OpenControlHandle();
        HidConnection* connection = controlHandle_ ? controlHandle_.get() : handle.get();
        HidReportLengths lengths;
        if (connection && connection->reportLengths(lengths)) {
            caps_ = { lengths.input, lengths.output };
            capsFetched_ = true;
        }
    }
    return capsFetched_ ? caps_ : THidCaps {};
}

bool THidDevice::WriteReport(const std::uint8_t* data, std::uint32_t count, std::uint32_t& written)
{
    written = 0;
    if (!controlHandle_)
        controlHandle_ = OpenControlHandle();
    if (!controlHandle_ || !controlHandle_->write(data, count))
        return false;
    written = count;
    return true;
}

bool THidDevice::StartRead(const THidDeviceReadThread& thread)
{
    std::lock_guard lock(readHandleMutex_);
    if (!readHandle_) {
        if (!MayOpenHandles() || !thread.Platform())
            return false;
        readHandle_ = thread.Platform()->open(thread.DevicePath(), HidAccess::Read);
    }
    return readHandle_ != nullptr;
}

int THidDevice::ReadReport(std::uint8_t* buffer, std::size_t count, int timeoutMs)
{
    std::shared_ptr<HidConnection> handle;
    {
        std::lock_guard lock(readHandleMutex_);
        handle = readHandle_;
    }
    // The handle stays alive for this call even when the device is unplugged meanwhile.
    return handle ? handle->read(buffer, count, timeoutMs) : -1;
}

void THidDevice::StartReadThread()
{
    if (!dataHandler_ || !pluggedIn_ || !claimed_ || !hasReadWriteAccess_ || readThread_ || !Controller)
        return;
    THidDeviceReadThread::Setup setup;
    setup.platform = &Controller->Platform();
    setup.devicePath = pnpInfo_->DevicePath;
    setup.sleepTime = sleepTime_;
    setup.reportLength = Capabilities().InputReportByteLength;
    // Open the read handle before the thread runs: a report that arrives before anyone reads is lost,
    // so the device must be listening by the time this call returns.
    {
        std::lock_guard lock(readHandleMutex_);
        if (!readHandle_)
            readHandle_ = setup.platform->open(setup.devicePath, HidAccess::Read);
    }
    readThread_ = std::make_unique<THidDeviceReadThread>(*this, std::move(setup));
    readThread_->start();
}

bool THidDevice::HandOver(const THidDeviceReadThread& thread, std::function<void()> work)
{
    auto ticket = std::make_shared<HandOverTicket>();
    ticket->work = std::move(work);
    ticket->thread = &thread;
    {
        std::lock_guard lock(handOverMutex_);
        if (thread.stopRequested_)
            return false;
        handOvers_.push_back(ticket);
    }
    QMetaObject::invokeMethod(this, "ServiceQueuedHandOvers", Qt::QueuedConnection);
    std::unique_lock lock(handOverMutex_);
    handOverChanged_.wait(lock, [&ticket] { return ticket->done || ticket->released; });
    std::erase(handOvers_, ticket);
    return ticket->done;
}

void THidDevice::WaitBeforeRetry(const THidDeviceReadThread& thread)
{
    std::unique_lock lock(handOverMutex_);
    handOverChanged_.wait_for(
        lock, std::chrono::milliseconds(thread.SleepTime()), [&thread] { return thread.stopRequested_; });
}

void THidDevice::ReadThreadFinished(THidDeviceReadThread& thread)
{
    std::lock_guard lock(handOverMutex_);
    thread.finished_ = true;
}

bool THidDevice::Service(const std::shared_ptr<HandOverTicket>& ticket)
{
    std::function<void()> work;
    {
        std::lock_guard lock(handOverMutex_);
        if (ticket->started || ticket->released)
            return true;
        ticket->started = true;
        work = std::move(ticket->work);
    }
    const QPointer<THidDevice> alive(this);
    work();
    if (!alive)
        return false; // the handler released this device; its destructor has stopped the thread
    {
        std::lock_guard lock(handOverMutex_);
        ticket->done = true;
    }
    handOverChanged_.notify_all();
    return true;
}

void THidDevice::ServicePendingHandOvers(const THidDeviceReadThread* thread)
{
    std::vector<std::shared_ptr<HandOverTicket>> pending;
    {
        std::lock_guard lock(handOverMutex_);
        for (const auto& ticket : handOvers_)
            if ((!thread || ticket->thread == thread) && !ticket->started && !ticket->released)
                pending.push_back(ticket);
    }
    for (const auto& ticket : pending)
        if (!Service(ticket))
            return;
}

void THidDevice::StopReadThread()
{
    THidDeviceReadThread* const thread = readThread_.get();
    if (!thread)
        return;
    {
        std::lock_guard lock(handOverMutex_);
        thread->stopRequested_ = true;
        // Stopped from inside the handler of one of this thread's own hand-overs: the thread must not
        // wait for a handler that cannot finish before this call returns.
        for (const auto& ticket : handOvers_)
            if (ticket->thread == thread && ticket->started)
                ticket->released = true;
    }
    thread->requestInterruption();
    handOverChanged_.notify_all();
    // A read in progress ends now rather than at the end of its wait.
    CancelRead();
    const QPointer<THidDevice> alive(this);
    while (!thread->wait(QDeadlineTimer(std::chrono::milliseconds(2)))) {
        // A report the thread already holds still reaches the handler that was current when it came.
        ServicePendingHandOvers(thread);
        if (!alive || readThread_.get() != thread)
            return; // that handler stopped (or released) this device itself, and waited for the thread
    }
    {
        // Pairs with ReadThreadFinished: an edge the thread sanitizer sees, which QThread::wait() is not.
        std::lock_guard lock(handOverMutex_);
        Q_ASSERT(thread->finished_);
    }
    readThread_.reset();
}

void THidDevice::CancelRead()
{
    std::lock_guard lock(readHandleMutex_);
    if (readHandle_) {
        readHandle_->cancel();
        readHandle_.reset();
    }
}

void THidDevice::CloseHandles()
{
    controlHandle_.reset();
    CancelRead();
}

void THidDevice::Unplug()
{
    CloseHandles();
    pluggedIn_ = false;
    if (UnplugHandler) {
        const THidPlugEvent handler = UnplugHandler;
        handler(this);
    }
    UnplugHandler = {};
}

// ---------------------------------------------------------------------------------------------------
// Controller

THidDeviceController::THidDeviceController(HidPlatform& platform, QObject* parent)
    : QObject(parent)
    , platform_(platform)
{
    if (!platform_.available())
        return;
    platform_.setChangeListener([this] { PostDeviceChangeMessage(0); });
    PostDeviceChangeMessage(-1);
}

THidDeviceController::~THidDeviceController()
{
    platform_.setChangeListener({});
    OnArrival = {};
    OnEnumerate = {};
    OnDeviceChange = {};
    OnRemoval = {};
    onDeviceData_ = {};
    onDeviceDataError_ = {};
    onDeviceUnplug_ = {};
    std::vector<THidDevice*> devices;
    devices.swap(devices_);
    for (THidDevice* device : devices) {
        device->Controller = nullptr;
        if (device->Claimed())
            device->Unplug();
        else
            delete device;
    }
}

void THidDeviceController::PostDeviceChangeMessage(std::int32_t param)
{
    QMetaObject::invokeMethod(
        this, [this, param] { DeviceChangeMessage(DBT_DEVNODES_CHANGED, param); }, Qt::QueuedConnection);
}

void THidDeviceController::DeviceChangeMessage(std::int32_t code, std::int32_t param)
{
    if (code != DBT_DEVNODES_CHANGED || inDeviceChange_)
        return;
    changeParam_ = param;
    inDeviceChange_ = true;
    DeviceChange();
    inDeviceChange_ = false;
}

void THidDeviceController::SetDevThreadSleepTime(std::uint32_t milliseconds)
{
    for (THidDevice* device : devices_)
        if (device->SleepTime() == devThreadSleepTime_)
            device->SetSleepTime(milliseconds);
    devThreadSleepTime_ = milliseconds;
}

void THidDeviceController::SetOnDeviceData(const THidDataEvent& handler)
{
    for (THidDevice* device : devices_)
        if (device->DataHandler() == onDeviceData_)
            device->SetDataHandler(handler);
    onDeviceData_ = handler;
}

void THidDeviceController::SetOnDeviceDataError(const THidDataErrorEvent& handler)
{
    for (THidDevice* device : devices_)
        if (device->DataErrorHandler == onDeviceDataError_)
            device->DataErrorHandler = handler;
    onDeviceDataError_ = handler;
}

void THidDeviceController::SetOnDeviceUnplug(const THidPlugEvent& handler)
{
    for (THidDevice* device : devices_)
        if (device->UnplugHandler == onDeviceUnplug_)
            device->UnplugHandler = handler;
    onDeviceUnplug_ = handler;
}

int THidDeviceController::IndexOf(const THidDevice* device) const
{
    const auto found = std::find(devices_.begin(), devices_.end(), device);
    return found == devices_.end() ? -1 : static_cast<int>(found - devices_.begin());
}

int THidDeviceController::EnumerateDevices()
{
    int calls = 0;
    // The handler may claim devices; claiming never changes the list, so indices stay valid.
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        THidDevice* device = devices_[i];
        if (!device->PluggedIn())
            continue;
        device->enumerating_ = true;
        const bool goOn = OnEnumerate ? OnEnumerate(device, static_cast<std::int32_t>(i)) : true;
        device->enumerating_ = false;
        if (!device->Claimed())
            device->CloseHandles();
        ++calls;
        if (!goOn)
            break;
    }
    return calls;
}

THidDevice* THidDeviceController::ClaimDevice(int index)
{
    if (index < 0 || index >= static_cast<int>(devices_.size()))
        return nullptr;
    THidDevice* device = devices_[static_cast<std::size_t>(index)];
    if (device->Claimed())
        return nullptr;
    device->claimed_ = true;
    device->StartReadThread();
    return device;
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::ScanDevices()
{
    std::vector<std::unique_ptr<THidDevice>> found;
    if (!platform_.available())
        return found;
    for (const HidInterfaceInfo& info : platform_.scan()) {
        try {
            auto pnp = std::make_unique<THidPnPInfo>(THidPnPInfo { info.devicePath, info.deviceInstance });
            found.push_back(std::make_unique<THidDevice>(std::move(pnp), this));
        } catch (const EControllerError&) {
            // A device that cannot be opened or identified is left out.
        }
    }
    return found;
}

void THidDeviceController::DeviceChange()
{
    bool changed = changeParam_ == -1;
    std::vector<std::unique_ptr<THidDevice>> scanned = ScanDevices();

    const auto presentIn = [](const auto& list, std::uint32_t instance) {
        return std::any_of(list.begin(), list.end(), [instance](const auto& device) {
            return device->PluggedIn() && device->PnPInfo()->DeviceInstance == instance;
        });
    };

    for (int i = static_cast<int>(devices_.size()) - 1; i >= 0; --i) {
        THidDevice* device = devices_[static_cast<std::size_t>(i)];
        if (device->PluggedIn() && presentIn(scanned, device->PnPInfo()->DeviceInstance))
            continue;
        device->Unplug();
        device->enumerating_ = true;
        if (OnRemoval)
            OnRemoval(device);
        device->enumerating_ = false;
        if (!device->Claimed()) {
            devices_.erase(devices_.begin() + i);
            delete device;
        }
        changed = true;
    }

    for (auto& fresh : scanned) {
        if (presentIn(devices_, fresh->PnPInfo()->DeviceInstance)) {
            fresh->Controller = nullptr;
            fresh.reset();
        }
    }

    for (auto& fresh : scanned) {
        if (!fresh)
            continue;
        THidDevice* device = fresh.release();
        devices_.push_back(device);
        device->enumerating_ = true;
        if (OnArrival)
            OnArrival(device);
        device->enumerating_ = false;
        changed = true;
    }

    CountDevices();
    if (changed && OnDeviceChange)
        OnDeviceChange();
}

void THidDeviceController::CountDevices()
{
    numCheckedIn_ = numCheckedOut_ = numUnplugged_ = 0;
    for (const THidDevice* device : devices_) {
        if (!device->PluggedIn())
            ++numUnplugged_;
        else if (device->Claimed())
            ++numCheckedOut_;
        else
            ++numCheckedIn_;
    }
}
