#include "shell/HTMLHelp_Decl.h"

#include "core/DecimoraError.h"
#include "core/systemvar.h"
#include "shell/HelpViewer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>

#include <dlfcn.h>

namespace {

// "<file>::<topic>"; a path without "::" names the file alone.
struct HelpPath {
    QString file;
    QString topic;
};

HelpPath splitHelpPath(const QString& path)
{
    const qsizetype separator = path.indexOf(QLatin1String("::"));
    if (separator < 0)
        return { path, QString() };
    return { path.left(separator), path.mid(separator + 2) };
}

// The same file however its path was written.
QString canonicalFile(const QString& file)
{
    const QFileInfo info(file);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

template <typename Function> bool lookUp(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

} // namespace

HtmlHelpEngine::HtmlHelpEngine(QString libraryName)
    : libraryName_(std::move(libraryName))
{
}

HtmlHelpEngine::~HtmlHelpEngine()
{
    // Windows without an owner would outlive the engine; those with one go with their owner.
    for (const QPointer<HelpWindow>& window : windows_) {
        if (window && !window->parentWidget())
            delete window.data();
    }
    // chmlib stays loaded: an open window's file may still be read through it.
}

QList<HelpWindow*> HtmlHelpEngine::Windows() const
{
    QList<HelpWindow*> open;
    for (const QPointer<HelpWindow>& window : windows_) {
        if (window)
            open << window.data();
    }
    return open;
}

void HtmlHelpEngine::load()
{
    // The library once; a failed lookup keeps it loaded and only repeats the lookup next time.
    if (!library_) {
        library_ = dlopen(QFile::encodeName(libraryName_).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!library_)
            throw DecimoraError(QString::fromLatin1(HelpEngineMissingMessage));
    }
    auto functions = std::make_shared<ChmFunctions>();
    if (!lookUp(library_, ChmEntryPoint, functions->open) || !lookUp(library_, "chm_close", functions->close)
        || !lookUp(library_, "chm_resolve_object", functions->resolveObject)
        || !lookUp(library_, "chm_retrieve_object", functions->retrieveObject))
        throw DecimoraError(QString::fromLatin1(HelpEntryPointMissingMessage));
    functions_ = std::move(functions);
    ++loads_;
    HtmlHelp(nullptr, QString(), HH_INITIALIZE, reinterpret_cast<std::uintptr_t>(&cookie_));
}

std::intptr_t HtmlHelpEngine::HtmlHelp(QWidget* window, const QString& path, int command, std::uintptr_t data)
{
    if (!functions_)
        load();
    switch (command) {
    case HH_DISPLAY_TOPIC:
        return displayTopic(window, path);
    case HH_CLOSE_ALL:
        return closeAll();
    case HH_INITIALIZE:
        // The cookie tells one initialisation from another; nothing in the program reads it back.
        if (data)
            *reinterpret_cast<std::uint32_t*>(data) = static_cast<std::uint32_t>(loads_);
        return 0;
    default:
        return 0;
    }
}

std::intptr_t HtmlHelpEngine::displayTopic(QWidget* owner, const QString& path)
{
    const HelpPath help = splitHelpPath(path);
    const QString file = canonicalFile(help.file);

    windows_.removeAll(QPointer<HelpWindow>());
    HelpWindow* shown = nullptr;
    for (const QPointer<HelpWindow>& window : windows_) {
        // A closed window is only waiting to be deleted.
        if (window->isVisible() && window->filePath() == file && window->parentWidget() == owner) {
            shown = window.data();
            break;
        }
    }
    if (!shown) {
        // A file that cannot be read still gets its window, which says so.
        shown = new HelpWindow(ChmArchive::open(functions_, file), file, owner);
        windows_ << QPointer<HelpWindow>(shown);
    }
    shown->showTopic(help.topic);
    if (shown->isMinimized())
        shown->showNormal();
    else
        shown->show();
    shown->raise();
    shown->activateWindow();
    return shown->readable() ? reinterpret_cast<std::intptr_t>(shown) : 0;
}

std::intptr_t HtmlHelpEngine::closeAll()
{
    for (HelpWindow* window : Windows())
        window->close();
    return 0;
}

void ShowHelp(HtmlHelpEngine& engine, TForm6& module, QWidget* frame)
{
    const QString path = QDir(module.Folders().resourceFolder()).filePath(QString::fromLatin1(HelpFileName))
        + QLatin1String("::") + QString::fromLatin1(HelpWelcomeTopic);
    // A missing help file is the help window's to report; the result says nothing more.
    module.RunOrReport(
        QString::fromLatin1(HelpErrorCaption), frame, [&] { engine.HtmlHelp(frame, path, HH_DISPLAY_TOPIC, 0); });
}

bool CloseHelpWindows(HtmlHelpEngine& engine, TForm6& module, QWidget* frame)
{
    return module.RunOrReport(
        QString::fromLatin1(HelpErrorCaption), frame, [&] { engine.HtmlHelp(nullptr, QString(), HH_CLOSE_ALL, 0); });
}
