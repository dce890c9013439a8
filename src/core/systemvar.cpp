#include "core/systemvar.h"

#include "core/DecimoraError.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

TForm6::TForm6(ModuleServices services, std::unique_ptr<ReadingStore> store, QObject* parent)
    : QObject(parent)
    , services_(std::move(services))
    , store_(std::move(store))
    , hidCtl_(std::make_unique<THidDeviceController>(services_.hid, this))
{
    if (store_) {
        MeaData = &store_->meaData();
        GetRecorde = &store_->getRecorde();
        LoadData = &store_->loadData();
    }
    saveReadHandler_ = THidDataEvent([this](THidDevice* device, std::uint8_t reportId, const std::uint8_t* data,
                                         std::uint16_t size) { SaveRead(device, reportId, data, size); });
    hidCtl_->OnDeviceChange = [this] { HidCtlDeviceChange(); };
    hidCtl_->OnEnumerate = [this](THidDevice* device, std::int32_t index) { return HidCtlEnumerate(device, index); };
}

TForm6::~TForm6()
{
    // Claimed devices go back to the controller before it is destroyed.
    MeterDevice = nullptr;
    DeviceList.clear();
    hidCtl_.reset();
}

// ---------------------------------------------------------------------------------------------------
// Meter link

void TForm6::HidCtlDeviceChange()
{
    MeterDevice = nullptr;
    DeviceList.clear();
    hidCtl_->EnumerateDevices();
    MeterDevice = nullptr;
    DeviceConnected = false;
    MeterWithoutAccess = false;
    for (const auto& device : DeviceList) {
        if (device && device->Attributes().vendorId == MeterVendorId
            && device->Attributes().productId == MeterProductId) {
            // A meter that can only be identified cannot be talked to: it is not connected, but the
            // user must hear that it was found, or a missing udev rule looks like a missing meter.
            if (!device->HasReadWriteAccess()) {
                MeterWithoutAccess = true;
                continue;
            }
            DeviceConnected = true;
            MeterDevice = device.get();
        }
    }
}

bool TForm6::HidCtlEnumerate(THidDevice* device, std::int32_t index)
{
    (void)device;
    DeviceList.emplace_back(hidCtl_->ClaimDevice(index));
    return true;
}

bool TForm6::WritetoDevice()
{
    bool written = false;
    if (MeterDevice) {
        const std::uint32_t length = MeterDevice->Capabilities().OutputReportByteLength;
        std::uint32_t count = 0;
        written = length > 0 && length <= SendBuffer.size()
            && MeterDevice->WriteReport(SendBuffer.data(), length, count) && count == length;
    }
    if (!written) {
        LastErrorCaption = QStringLiteral("WRITE USB ERROR!");
        LastErrorText = QStringLiteral("write usb error");
    }
    return written;
}

void TForm6::AttachSaveRead()
{
    if (MeterDevice)
        MeterDevice->SetDataHandler(saveReadHandler_);
}

void TForm6::SaveRead(THidDevice* device, std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size)
{
    (void)device;
    (void)reportId;
    const std::size_t count = std::min<std::size_t>(size, ReceivedBytes.size());
    for (std::size_t i = 0; i < count; ++i)
        ReceivedBytes[i] = data[i];

    switch (ReadMode) {
    case 1: {
        LiveValue = ReceivedBytes[0] * 256 + ReceivedBytes[1];
        LiveFlags = ReceivedBytes[2];
        if (MeasureWindowHandle) {
            QEvent reading(static_cast<QEvent::Type>(WM_NEWREADING));
            QCoreApplication::sendEvent(MeasureWindowHandle, &reading);
        }
        break;
    }
    case 2:
        AwaitingReply = false;
        break;
    case 3:
        LiveFlags = ReceivedBytes[2];
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------------
// Services

void TForm6::delay(int milliseconds)
{
    const std::uint32_t start = services_.clock.tickCount();
    QTimer wakeUp;
    wakeUp.setSingleShot(true);
    for (;;) {
        const std::uint32_t now = services_.clock.tickCount();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        const auto elapsed = static_cast<std::int32_t>(now - start);
        if (elapsed > milliseconds)
            return;
        // Sleep until something happens or the interval is over, instead of spinning.
        wakeUp.start(std::max(1, milliseconds - elapsed));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

MessageAnswer TForm6::ShowMessageBox(
    const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon, QWidget* owner)
{
    LastErrorText = text;
    LastErrorCaption = caption;
    return services_.ui.showMessage(owner, text, caption, buttons, icon);
}

bool TForm6::RunOrReport(
    const QString& caption, QWidget* owner, const std::function<void()>& action, const std::function<void()>& onFailure)
{
    QString text;
    try {
        action();
        return true;
    } catch (const std::exception& error) {
        text = ErrorText(error);
    }
    if (onFailure)
        onFailure();
    ShowMessageBox(text, caption, MessageButtons::Ok, MessageIcon::Error, owner);
    return false;
}

// ---------------------------------------------------------------------------------------------------
// Child-window registry

namespace {

struct RegistryRow {
    QPointer<QObject> TForm6::*window;
    QPointer<QObject> TForm6::*handle;
    bool TForm6::*dropMenuItem;
    // The command that opens the window; the analysis window has none, but a flag of its own.
    bool TForm6::*commandEnabled;
    bool TForm6::*openFlag;
};

RegistryRow registryRow(ChildWindowKind kind)
{
    switch (kind) {
    case ChildWindowKind::Measure:
        return { &TForm6::MeasureWindow, &TForm6::MeasureWindowHandle, &TForm6::DropMeasureMenuItem,
            &TForm6::MeasureCommandEnabled, nullptr };
    case ChildWindowKind::Import:
        return { &TForm6::ImportWindow, &TForm6::ImportWindowHandle, &TForm6::DropImportMenuItem,
            &TForm6::ImportCommandEnabled, nullptr };
    case ChildWindowKind::Analysis:
        break;
    }
    return { &TForm6::AnalysisWindow, &TForm6::AnalysisWindowHandle, &TForm6::DropAnalysisMenuItem, nullptr,
        &TForm6::AnalysisWindowOpen };
}

} // namespace

void TForm6::ChildWindowOpened(ChildWindowKind kind, QObject* window)
{
    const RegistryRow row = registryRow(kind);
    this->*row.dropMenuItem = false;
    this->*row.window = window;
    this->*row.handle = window;
    if (row.openFlag)
        this->*row.openFlag = true;
}

void TForm6::ChildWindowClosed(ChildWindowKind kind)
{
    const RegistryRow row = registryRow(kind);
    this->*row.dropMenuItem = true;
    this->*row.handle = nullptr;
    if (row.commandEnabled)
        this->*row.commandEnabled = true;
    if (row.openFlag)
        this->*row.openFlag = false;
}

void TForm6::ChildWindowCloseCancelled(ChildWindowKind kind, QObject* window)
{
    const RegistryRow row = registryRow(kind);
    this->*row.dropMenuItem = false;
    this->*row.handle = window;
    if (row.commandEnabled)
        this->*row.commandEnabled = false;
    if (row.openFlag)
        this->*row.openFlag = true;
}

bool TForm6::ChildWindowOpen(ChildWindowKind kind) const
{
    const RegistryRow row = registryRow(kind);
    return row.openFlag ? this->*row.openFlag : !(this->*row.handle).isNull();
}

QObject* TForm6::ChildWindow(ChildWindowKind kind) const
{
    return this->*registryRow(kind).window;
}
