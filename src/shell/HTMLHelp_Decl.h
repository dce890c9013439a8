#pragma once

// The help engine: opens topics of compiled help files (.chm) in help windows, and closes them all
// on request. It reads the files through chmlib, which it loads on first use and keeps loaded until
// the program ends, so that a machine without chmlib runs the program and only the help says it is
// missing. Every use goes through one call, HtmlHelp, with a command number.

#include <QList>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

class HelpWindow;
class TForm6;
class QWidget;
struct ChmFunctions;

// Commands of the help call.
constexpr int HH_DISPLAY_TOPIC = 0x0000;
constexpr int HH_CLOSE_ALL = 0x0012;
constexpr int HH_INITIALIZE = 0x001C;

inline constexpr char HelpEngineMissingMessage[] = "HHCtrl.OCX not installed!\r HTMLHELP cannot displayed!";
inline constexpr char HelpEntryPointMissingMessage[] = "Function HTMLHELP cannot loaded!";

// chmlib, as the dynamic loader finds it, and the function whose presence says it is usable.
inline constexpr char ChmLibraryName[] = "libchm.so.1";
inline constexpr char ChmEntryPoint[] = "chm_open";

// The program's help file, in the resource folder (see ProgramFolders), and the topic Help > Decimora
// Help opens.
inline constexpr char HelpFileName[] = "decimora.chm";
inline constexpr char HelpWelcomeTopic[] = "/readme\\welcome.doc";

class HtmlHelpEngine {
public:
    // libraryName: what the dynamic loader is asked for (a name or a path).
    explicit HtmlHelpEngine(QString libraryName = QString::fromLatin1(ChmLibraryName));
    ~HtmlHelpEngine();

    HtmlHelpEngine(const HtmlHelpEngine&) = delete;
    HtmlHelpEngine& operator=(const HtmlHelpEngine&) = delete;

    // The help call. On first use (and again after a failed first use) loads chmlib, looks up its
    // entry point and initialises the engine; a DecimoraError says which of them is missing.
    //  - HH_DISPLAY_TOPIC: path is "<help file>::<topic>" (the topic may use "\" for "/"); shows the
    //    topic in a help window owned by window, the one already open on that file if there is one.
    //    Returns the window's identity, or 0 when the file cannot be read (the window says so).
    //  - HH_CLOSE_ALL: closes every help window. Returns 0.
    //  - HH_INITIALIZE: data is the address of a std::uint32_t that receives the engine's cookie.
    //    Returns 0.
    //  Other commands do nothing and return 0.
    std::intptr_t HtmlHelp(QWidget* window, const QString& path, int command, std::uintptr_t data);

    // How often chmlib has been loaded and the engine initialised: once at most, however often
    // the help is used.
    int Loads() const { return loads_; }
    std::uint32_t Cookie() const { return cookie_; }
    // The help windows that are open.
    QList<HelpWindow*> Windows() const;

private:
    void load();
    std::intptr_t displayTopic(QWidget* owner, const QString& path);
    std::intptr_t closeAll();

    QString libraryName_;
    void* library_ = nullptr;
    std::shared_ptr<const ChmFunctions> functions_;
    std::uint32_t cookie_ = 0;
    int loads_ = 0;
    QList<QPointer<HelpWindow>> windows_;
};

// The caption of the box that shows the engine's errors.
inline constexpr char HelpErrorCaption[] = "Error Information";

// Help > Decimora Help: the welcome topic of the help file in the resource folder, in a help
// window owned by the frame. The engine's error is shown in an error box.
void ShowHelp(HtmlHelpEngine& engine, TForm6& module, QWidget* frame);
// The frame's close: closes every help window. False, after the error box, when the engine cannot
// be loaded; the frame then stays open.
bool CloseHelpWindows(HtmlHelpEngine& engine, TForm6& module, QWidget* frame);
