#pragma once

// The shared module: the program's process-wide state, the meter link and the services every window
// borrows. main() creates one module after the main window; every window receives it by reference.
// Tests create their own with fake services.
//
// Its state is grouped by concern in plain structs it inherits, so that every field keeps its name
// (m.ReadMode, m.CompanyName) while a function that touches one concern can take just that struct:
// MeterLinkState (the meter link), SystemSettings (the settings file's values), WindowBookkeeping
// (the windows' registry and flags), LastMessageRecord (the last message box) and ModuleTables.

#include "core/Clock.h"
#include "core/MeterLink.h"
#include "core/MeterLinkState.h"
#include "core/MeterMemoryDecoder.h"
#include "core/ProgramFolders.h"
#include "core/ReadingTable.h"
#include "core/SoundPlayer.h"
#include "core/SystemSettings.h"
#include "core/UserInteraction.h"
#include "core/WindowBookkeeping.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

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

class TForm6 : public QObject,
               public MeterLinkState,
               public SystemSettings,
               public WindowBookkeeping,
               public LastMessageRecord,
               public ModuleTables {
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

    // The decoding state of downloads from the meter's memory: the stamp, the interval and the
    // maximum and minimum carry on from one download (and one import window) to the next.
    MeterMemoryDecoder ImportDecoder;

    // The report definition the data sheet is printed with; set by the start-up.
    QString ReportProjectFile;

    // The registry rows of the child windows, kept the same way for every kind. Opened: the frame has
    // created the window and lists it. Closed: the close went through; the next refresh drops its
    // Window-menu item and enables its command. Close cancelled: the window stays, listed, with its
    // command disabled.
    void ChildWindowOpened(ChildWindowKind kind, QObject* window);
    void ChildWindowClosed(ChildWindowKind kind);
    void ChildWindowCloseCancelled(ChildWindowKind kind, QObject* window);
    bool ChildWindowOpen(ChildWindowKind kind) const;
    QObject* ChildWindow(ChildWindowKind kind) const;

    // --- Meter link operations (MeterLink's, under the module's names) --------------------------
    MeterLink& Link() { return link_; }
    THidDeviceController& HidCtl() { return link_.HidCtl(); }
    bool WritetoDevice() { return link_.WritetoDevice(); }
    void SaveRead(THidDevice* device, std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size)
    {
        link_.SaveRead(device, reportId, data, size);
    }
    void HidCtlDeviceChange() { link_.HidCtlDeviceChange(); }
    bool HidCtlEnumerate(THidDevice* device, std::int32_t index) { return link_.HidCtlEnumerate(device, index); }
    void AttachSaveRead() { link_.AttachSaveRead(); }
    const THidDataEvent& SaveReadHandler() const { return link_.SaveReadHandler(); }

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
    // Declared last: destroyed first, releasing the claimed devices before its controller goes.
    MeterLink link_;
};
