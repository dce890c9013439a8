#pragma once

// The main window: the frame that holds the child windows, with the main menu, the tool bar, the
// status bar and the Window menu. It subscribes to nothing: once a second (and whenever the frame
// repaints) it recomputes its menus and status bar from the module's shared flags, which the child
// windows and the meter link change.

#include "store/DataSourceRegistration.h"

#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ChosenPrinter;
class PanelStatusBar;
class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QToolBar;
class ReadingTable;
class ReadingsWindow;
class SingleInstanceLock;
class SoundLevelStatisticsWindow;
class TForm6;
enum class ChildWindowKind;
class UserInteraction;

inline constexpr char MainWindowCaption[] = "Decimora 1.3((For ZQ731)";
inline constexpr char SecondInstanceMessage[] = "sorry, this program only run one instance at a time!";
inline constexpr char ExitQuestion[] = "Are You Sure to Exit This Program?";
inline constexpr char ExitQuestionCaption[] = "System Exit Query";
// A meter that is plugged in but refuses read-write access: the status bar's tool tip, and the caption
// of the message (MeterAccessHint) shown once per run.
inline constexpr char MeterWithoutAccessHint[]
    = "A meter is plugged in, but this user has no read-write access to it (no udev rule).";
inline constexpr char MeterWithoutAccessCaption[] = "Meter Without Access";

// What the frame needs from outside; tests give it fakes.
struct ShellServices {
    // Asks the second-instance question's box: the module does not exist at that point.
    UserInteraction& ui;
    // The printer Printer Setup chooses; the data sheet and the windows' graphs print on it.
    ChosenPrinter& printer;
    // The application title (the executable's name without folder and extension): the name of the
    // single-instance lock.
    QString applicationTitle;
    // Where the single-instance lock is kept; it must survive a power cut.
    QString lockFolder;
    // The database file of the tables: the data source points at it.
    QString databasePath;
    // Builds the module once this copy is known to be the only one running; called at most once.
    std::function<TForm6&()> createModule;
    // Registers the data source for the database; the message box to show when that failed.
    std::function<std::optional<DataSourceRegistrationMessage>(const QString& databasePath)> registerDataSource;
    // Where readings left by a copy that did not close are written, in turn; empty: DefaultRescueFolders.
    QStringList rescueFolders {};
};

// The child windows the frame opens and the commands it runs for the active readings window, made
// outside the frame: main() gives the real ones, a test stand-ins for those it does not look into.
// A command that is not given does nothing.
struct FrameWindowsAndCommands {
    // The import window ("Form4") and the analysis window ("Form7"), listed in the Window menu.
    std::function<ReadingsWindow*(TForm6& module)> createImportWindow;
    std::function<ReadingsWindow*(TForm6& module)> createAnalysisWindow;
    // The setup window ("Form8") and the about box ("Form3").
    std::function<QWidget*(TForm6& module)> createSetupWindow;
    std::function<QWidget*(TForm6& module)> createAboutBox;
    // Export to Excel and Print Data Sheet, for the active readings window.
    std::function<void(ReadingsWindow& window)> exportToExcel;
    std::function<void(ReadingsWindow& window)> printDataSheet;
    // The help viewer: show the help in a window the frame owns; close all its windows (false stops
    // the frame's close). Both report their own failures.
    std::function<void(TForm6& module, QWidget* frame)> showHelp;
    std::function<bool(TForm6& module, QWidget* frame)> closeHelpWindows;
};

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int StatusBarHeight = 28;
    static constexpr int ProgressBarPanel = 2;

    explicit TForm1(ShellServices services, FrameWindowsAndCommands windowsAndCommands = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // The main window's start-up. False when another copy of the program runs: the message has been
    // shown, nothing else has been done, and the program ends.
    bool FormCreate();
    // The module's start-up, after the main window's. When the previous copy ended without its close,
    // the readings it left in MeaData and GetRecorde are saved to data files first (the start-up
    // empties those tables), and the user is told once where they are.
    void StartModule();

    // The refresh of menus, Window menu and status bar from the shared flags.
    void FormPaint();
    // The one-second tick.
    void Timer1Timer();
    // Draws status bar panel 0.
    void StatusBar1DrawPanel(QPainter& painter, const QRect& rect);

    // Menu commands; each tool button runs the same one as its menu item.
    void RealTimeMeasure1Click();
    void Open1Click();
    void Save1Click();
    void ImportData1Click();
    void ExporttoExcel1Click();
    void PrinterSetup1Click();
    void PrintDataSheet1Click();
    void Exit1Click();
    void SystemSetup1Click();
    // Option > Statistics: opens the statistics window, or brings it to the front.
    void Statistics1Click();
    void Cascade1Click();
    void Horizontally1Click();
    void Vertically1Click();
    void DecimoraHelp1Click();
    void About1Click();

    TForm6* Module() const { return module_; }
    QMdiArea* MdiArea() const { return mdiArea_; }
    QMenu* WindowMenu() const { return window1_; }
    QToolBar* ToolBar() const { return toolBar1_; }
    PanelStatusBar* StatusBar1() const { return statusBar1_; }
    // The progress bar over status bar panel 2; it shows the module's ProgressPosition at each tick.
    QProgressBar* StatusProgressBar() const { return statusProgressBar_; }
    QString PanelText(int panel) const;
    // The active child window; null when there is none.
    QWidget* ActiveChild() const;
    // The active child when it shows readings (measurement, import, analysis); else null.
    ReadingsWindow* ActiveReadingsWindow() const;
    // The statistics window; null while it is not open.
    SoundLevelStatisticsWindow* StatisticsWindow() const;
    // Whether the program has ended through File > Exit, the frame's close or EndWithoutAsking.
    bool Ended() const { return ended_; }
    // The end asked for from outside (SIGTERM: a session's logout, a shutdown, kill): nobody is there
    // to answer the exit question, so the program ends as after a Yes, with one difference: every
    // reading still in the tables is left for the next start to rescue, not only those of no file.
    void EndWithoutAsking();

    // --- Menu items (the tool buttons share them) -------------------------------------------------
    QAction* RealTimeMeasure1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* ImportData1 = nullptr;
    QAction* ExporttoExcel1 = nullptr;
    QAction* PrinterSetup1 = nullptr;
    QAction* PrintDataSheet1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* SystemSetup1 = nullptr;
    QAction* Chinese1 = nullptr;
    QAction* English1 = nullptr;
    QAction* Statistics1 = nullptr;
    QAction* Cascade1 = nullptr;
    QAction* Horizontally1 = nullptr;
    QAction* Vertically1 = nullptr;
    QAction* DecimoraHelp1 = nullptr;
    QAction* OurWebSite1 = nullptr;
    QAction* About1 = nullptr;
    // The Window-menu items of the three registered windows, created once and put into the Window
    // menu while their window exists.
    QAction* menumeasure = nullptr;
    QAction* menuanalyze = nullptr;
    QAction* importdata = nullptr;
    // The statistics window's item, in the Window menu while that window is open.
    QAction* menustatistics = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    QAction* addCommand(QMenu* menu, const QString& caption, const QString& hint, int image, void (TForm1::*command)());
    void removeFromWindowMenu(QAction* item);
    // Puts back the item of a window that is still open: its close may have been cancelled after a
    // tick had already taken the item away while the close question was up.
    void keepInWindowMenu(QAction* item);
    QMdiSubWindow* addChild(QWidget* child);
    // Lets the maximised windows stay maximised while sub, if it cannot be maximised, is activated.
    void keepMaximisedWindowsFor(const QMdiSubWindow* sub);
    void activate(QMdiSubWindow* sub);
    void refreshMinimumSizes();
    void bringToFront(QWidget* child);
    // The Window-menu item of a registered kind of window.
    QAction* windowMenuItem(ChildWindowKind kind) const;
    // Opens a window of a kind the Window menu lists, unless one is open, and brings it to the
    // front. The window is listed and registered in the module before it is shown.
    void openRegisteredWindow(ChildWindowKind kind, const std::function<QWidget*()>& create, bool maximised);
    enum class Tiling { Horizontal, Vertical };
    void tile(Tiling tiling);
    void checkArrangement(QAction* chosen);
    // Hands the statistics window the active readings window, if the statistics window is open.
    void refreshStatisticsWindow();
    // The readings window the statistics window is to show: the active one; else, when the one it
    // showed has closed, the open one that was active last; null to keep what it shows.
    ReadingsWindow* readingsForStatistics() const;
    // The tables of the open windows that show readings no data file holds.
    std::vector<ReadingTable*> tablesWithUnsavedReadings() const;
    // Closes the module and releases the single-instance lock, keeping readings not saved for the
    // next start's rescue.
    void endProgram();

    ShellServices services_;
    FrameWindowsAndCommands windowsAndCommands_;
    TForm6* module_ = nullptr;
    std::unique_ptr<SingleInstanceLock> lock_;
    bool ended_ = false;
    bool meterWithoutAccessTold_ = false;

    QMdiArea* mdiArea_ = nullptr;
    QMenu* window1_ = nullptr;
    QToolBar* toolBar1_ = nullptr;
    PanelStatusBar* statusBar1_ = nullptr;
    QProgressBar* statusProgressBar_ = nullptr;
    QPointer<SoundLevelStatisticsWindow> statisticsWindow_;
    QTimer timer1_;
    QPixmap statusImages_[2];
};
