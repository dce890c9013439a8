#pragma once

// The shared module: the program's process-wide state, the meter link and the services every window
// borrows. main() creates one module after the main window; every window receives it by reference.
// Tests create their own with fake services.

#include "core/Clock.h"
#include "core/HidControllerClass.h"
#include "core/MeterMemoryDecoder.h"
#include "core/ProgramFolders.h"
#include "core/ReadingTable.h"
#include "core/SoundPlayer.h"
#include "core/UserInteraction.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QWidget;

// The reading message: sent synchronously to the receiver of live readings (MeasureWindowHandle) after
// each real-time reading. The receiver is any object: the measurement window, or a program without
// windows that takes the readings itself.
constexpr int WM_USER = 1024;
constexpr int WM_NEWREADING = WM_USER + 100;

// The vendor and product identifiers by which the meter is recognised among the HID devices.
constexpr std::uint16_t MeterVendorId = 0x1234;
constexpr std::uint16_t MeterProductId = 0x5678;

// The child windows the frame lists in its Window menu, each with its row of the registry below
// (window, handle, drop flag, command flag).
enum class ChildWindowKind { Measure, Import, Analysis };

// What the module needs from outside the program.
struct ModuleServices {
    UserInteraction& ui;
    Clock& clock;
    SoundPlayer& sound;
    HidPlatform& hid;
    // Where the settings file, staging file and rescued readings go, and where the report definition,
    // help file and sounds are found.
    ProgramFolders folders;
};

class TForm6 : public QObject {
    Q_OBJECT

public:
    // The store may be null for a module that never touches the tables.
    TForm6(ModuleServices services, std::unique_ptr<ReadingStore> store, QObject* parent = nullptr);
    ~TForm6() override;

    TForm6(const TForm6&) = delete;
    TForm6& operator=(const TForm6&) = delete;

    // Start-up and close of the module: settings file, tables.
    void FormCreate();
    void FormClose();

    // --- Meter link -------------------------------------------------------------------------------
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

    // --- Settings (kept in the settings file) --------------------------------------------------------
    QString CompanyName;
    QString SerialPortName;
    std::int16_t MachineMode = 0;
    std::int16_t MeasureMode = 0;
    std::int32_t HalValue = 0;
    std::int32_t LalValue = 0;
    std::int32_t EmsValue = 0;
    std::int32_t SamplePeriod = 0;
    bool UnitCelsius = false;
    bool AlarmSoundOn = false;
    double SystemLowAlarm = 0.0;
    double SystemHighAlarm = 0.0;

    // --- Window coordination and bookkeeping ---------------------------------------------------------
    // Objects, not widgets: the module only sends them messages and compares them, and a program
    // without a display registers a receiver of its own as MeasureWindowHandle.
    QPointer<QObject> MeasureWindowHandle;
    QPointer<QObject> ImportWindowHandle;
    QPointer<QObject> AnalysisWindowHandle;
    QPointer<QObject> MeasureWindow;
    QPointer<QObject> ImportWindow;
    QPointer<QObject> AnalysisWindow;
    QPointer<QObject> SetupWindow;
    QPointer<QObject> AboutWindow;
    bool FormsReady = false;
    // Set by a start-up that could not save the readings a copy that did not close left in MeaData and
    // GetRecorde: FormCreate then leaves those two tables as they are.
    bool KeepReadingTables = false;
    bool MeasureCommandEnabled = false;
    bool ImportCommandEnabled = false;
    bool SetupCommandEnabled = false;
    bool AboutCommandEnabled = false;
    bool AnalysisWindowOpen = false;
    bool DropMeasureMenuItem = false;
    bool DropImportMenuItem = false;
    bool DropAnalysisMenuItem = false;
    bool ShownConnected = false;
    // The position the frame's progress bar shows at its next tick.
    std::int32_t ProgressPosition = 0;
    bool MeasureSaved = false;
    double LiveLevelSum = 0.0;
    std::int16_t LoadedFileCount = 0;
    QString LastErrorText;
    QString LastErrorCaption;

    // The decoding state of downloads from the meter's memory: the stamp, the interval and the
    // maximum and minimum carry on from one download (and one import window) to the next.
    MeterMemoryDecoder ImportDecoder;

    // The report definition the data sheet is printed with; set by the start-up.
    QString ReportProjectFile;
    // True once the start-up has read the settings file; the close writes it back only then.
    bool SettingsLoaded = false;

    // The registry rows of the child windows, kept the same way for every kind. Opened: the frame has
    // created the window and lists it. Closed: the close went through; the next refresh drops its
    // Window-menu item and enables its command. Close cancelled: the window stays, listed, with its
    // command disabled.
    void ChildWindowOpened(ChildWindowKind kind, QObject* window);
    void ChildWindowClosed(ChildWindowKind kind);
    void ChildWindowCloseCancelled(ChildWindowKind kind, QObject* window);
    bool ChildWindowOpen(ChildWindowKind kind) const;
    QObject* ChildWindow(ChildWindowKind kind) const;

    // --- Tables --------------------------------------------------------------------------------------
    ReadingTable* MeaData = nullptr;
    ReadingTable* GetRecorde = nullptr;
    ReadingTable* LoadData = nullptr;

    // --- Controller and meter link operations -------------------------------------------------------
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

    // --- Services --------------------------------------------------------------------------------------
    // Busy wait that keeps the user interface alive: processes events until the interval has passed.
    void delay(int milliseconds);
    // Stores text and caption in LastErrorText / LastErrorCaption, then shows the message box.
    MessageAnswer ShowMessageBox(const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon,
        QWidget* owner = nullptr);
    // Runs an action that may fail. On failure, onFailure puts things right first (the box is modal,
    // and timers and meter replies go on while it is shown); then the error's text is shown in an
    // error box with the caption, recorded in LastErrorText / LastErrorCaption, and false is
    // returned. Every handler of a user's action that can fail goes through here, so no exception
    // reaches the event loop.
    bool RunOrReport(const QString& caption, QWidget* owner, const std::function<void()>& action,
        const std::function<void()>& onFailure = {});
    const ProgramFolders& Folders() const { return services_.folders; }
    UserInteraction& Ui() const { return services_.ui; }
    Clock& SystemTime() const { return services_.clock; }
    SoundPlayer& Sound() const { return services_.sound; }
    ReadingStore* Store() const { return store_.get(); }

private:
    ModuleServices services_;
    std::unique_ptr<ReadingStore> store_;
    THidDataEvent saveReadHandler_;
    // Declared last: destroyed first, while DeviceList has already been released.
    std::unique_ptr<THidDeviceController> hidCtl_;
};
