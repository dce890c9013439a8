#include "core/systemvar.h"

#include "core/DecimoraError.h"

TForm6::TForm6(ModuleServices services, std::unique_ptr<ReadingStore> store, QObject* parent)
    : QObject(parent)
    , services_(std::move(services))
    , store_(std::move(store))
    , link_(*this, *this, MeasureWindowHandle, services_.hid, services_.clock, this)
{
    if (store_) {
        MeaData = &store_->meaData();
        GetRecorde = &store_->getRecorde();
        LoadData = &store_->loadData();
    }
}

TForm6::~TForm6() = default;

// ---------------------------------------------------------------------------------------------------
// Services

void TForm6::delay(int milliseconds)
{
    ProcessEventsFor(services_.clock, milliseconds);
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
