#include "shell/DecimoraMain.h"

#include "core/MeterAccessHint.h"
#include "core/systemvar.h"
#include "desktop/ChosenPrinter.h"
#include "measure/Measuring.h"
#include "setup/Option.h"
#include "shell/FrameImages.h"
#include "shell/PanelStatusBar.h"
#include "shell/ReadingsRescue.h"
#include "shell/SingleInstanceLock.h"
#include "statswindow/SoundLevelStatisticsWindow.h"
#include "store/SqliteReadingStore.h"
#include "windowkit/ReadingsWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QToolBar>

#include <algorithm>

namespace {

constexpr int StatusPanelWidths[] = { 80, 150, 350, 50 };
constexpr int ScreenHeightMargin = 20;
constexpr int AboutBoxWidth = 539;
constexpr int AboutBoxHeight = 324;

const QString MeasureItemCaption = QStringLiteral("Real Time Measure  Window");
const QString AnalysisItemCaption = QStringLiteral("Reprot Analyzing Window");
const QString ImportItemCaption = QStringLiteral("Data Import Window");
const QString StatisticsItemCaption = QStringLiteral("Sound Level Statistics");

} // namespace

TForm1::TForm1(ShellServices services, FrameWindowsAndCommands windowsAndCommands, QWidget* parent)
    : QMainWindow(parent)
    , services_(std::move(services))
    , windowsAndCommands_(std::move(windowsAndCommands))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(MainWindowCaption));
    setWindowIcon(ProgramIcon());

    mdiArea_ = new QMdiArea(this);
    mdiArea_->setObjectName(QStringLiteral("MdiArea"));
    // The readings windows open maximised. A window opened over them (the statistics, the setup
    // window) keeps its own size on top instead of being maximised too, and a window the user
    // activates keeps the state it had.
    mdiArea_->setOption(QMdiArea::DontMaximizeSubWindowOnActivation);
    // Windows kept at their minimum sizes may reach past the frame's edge.
    mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdiArea_);
    // The refresh also runs whenever the frame's client area repaints.
    mdiArea_->viewport()->installEventFilter(this);
    // The statistics window follows the active readings window without waiting for the next tick.
    connect(mdiArea_, &QMdiArea::subWindowActivated, this, &TForm1::refreshStatisticsWindow);

    statusImages_[0] = StatusImage(0);
    statusImages_[1] = StatusImage(1);

    buildMenus();
    buildToolBar();
    buildStatusBar();

    timer1_.setInterval(1000);
    connect(&timer1_, &QTimer::timeout, this, &TForm1::Timer1Timer);
}

TForm1::~TForm1()
{
    timer1_.stop();
    mdiArea_->viewport()->removeEventFilter(this);
    disconnect(mdiArea_, &QMdiArea::subWindowActivated, this, &TForm1::refreshStatisticsWindow);
    // The child windows go before the module they point into is gone; none of them is asked.
    const auto children = mdiArea_->subWindowList();
    for (QMdiSubWindow* sub : children)
        delete sub;
}

// ---------------------------------------------------------------------------------------------------
// Building

QAction* TForm1::addCommand(
    QMenu* menu, const QString& caption, const QString& hint, int image, void (TForm1::*command)())
{
    auto* action = new QAction(caption, this);
    if (image >= 0)
        action->setIcon(ToolBarImage(image));
    action->setToolTip(hint);
    if (command)
        connect(action, &QAction::triggered, this, command);
    menu->addAction(action);
    return action;
}

void TForm1::buildMenus()
{
    QMenu* file1 = menuBar()->addMenu(QStringLiteral("&File"));
    file1->setToolTipsVisible(true);
    RealTimeMeasure1 = addCommand(file1, QStringLiteral("&Real Time Measure"), QStringLiteral("Real Time Measure"), 0,
        &TForm1::RealTimeMeasure1Click);
    Open1 = addCommand(file1, QStringLiteral("&Open"), QStringLiteral("Open"), 2, &TForm1::Open1Click);
    Save1 = addCommand(file1, QStringLiteral("&Save"), QStringLiteral("Save"), 3, &TForm1::Save1Click);
    Save1->setEnabled(false);
    file1->addSeparator();
    ImportData1 = addCommand(
        file1, QStringLiteral("&Import Data"), QStringLiteral("Import Data"), 1, &TForm1::ImportData1Click);
    ExporttoExcel1 = addCommand(
        file1, QStringLiteral("&Export to Excel"), QStringLiteral("Export to Excel"), 4, &TForm1::ExporttoExcel1Click);
    ExporttoExcel1->setEnabled(false);
    file1->addSeparator();
    PrinterSetup1 = addCommand(
        file1, QStringLiteral("Printer Se&tup"), QStringLiteral("Printer Setup"), -1, &TForm1::PrinterSetup1Click);
    PrintDataSheet1 = addCommand(file1, QStringLiteral("Print &Data Sheet"), QStringLiteral("Print Data Sheet"), 5,
        &TForm1::PrintDataSheet1Click);
    PrintDataSheet1->setEnabled(false);
    file1->addSeparator();
    Exit1 = addCommand(file1, QStringLiteral("E&xit"), QStringLiteral("Exit"), 9, &TForm1::Exit1Click);

    QMenu* option1 = menuBar()->addMenu(QStringLiteral("&Option"));
    option1->setToolTipsVisible(true);
    SystemSetup1 = addCommand(
        option1, QStringLiteral("S&ystem Setup"), QStringLiteral("System Option"), 6, &TForm1::SystemSetup1Click);
    option1->addSeparator();
    QMenu* language1 = option1->addMenu(QStringLiteral("&Language"));
    Chinese1 = language1->addAction(QStringLiteral("&Chinese"));
    Chinese1->setEnabled(false);
    English1 = language1->addAction(QStringLiteral("&English"));
    Statistics1 = addCommand(option1, QStringLiteral("&Statistics"), QStringLiteral("Sound Level Statistics"), -1,
        &TForm1::Statistics1Click);

    window1_ = menuBar()->addMenu(QStringLiteral("&Window"));
    Cascade1 = window1_->addAction(QStringLiteral("&Cascade"), this, &TForm1::Cascade1Click);
    Horizontally1 = window1_->addAction(QStringLiteral("&Horizontally"), this, &TForm1::Horizontally1Click);
    Vertically1 = window1_->addAction(QStringLiteral("&Vertically"), this, &TForm1::Vertically1Click);
    for (QAction* arrangement : { Cascade1, Horizontally1, Vertically1 })
        arrangement->setCheckable(true);
    window1_->addSeparator();

    QMenu* help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    help1->setToolTipsVisible(true);
    DecimoraHelp1
        = addCommand(help1, QStringLiteral("Decimora Help"), QStringLiteral("Help"), 7, &TForm1::DecimoraHelp1Click);
    OurWebSite1 = help1->addAction(QStringLiteral("Our &Web-Site"));
    OurWebSite1->setEnabled(false);
    help1->addSeparator();
    About1 = addCommand(help1, QStringLiteral("&About"), QStringLiteral("About..."), 8, &TForm1::About1Click);
}

void TForm1::buildToolBar()
{
    toolBar1_ = addToolBar(QStringLiteral("ToolBar1"));
    toolBar1_->setObjectName(QStringLiteral("ToolBar1"));
    toolBar1_->setMovable(false);
    toolBar1_->setFloatable(false);
    toolBar1_->setIconSize(QSize(ToolBarImageSize, ToolBarImageSize));
    toolBar1_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar1_->setContextMenuPolicy(Qt::PreventContextMenu);
    // The buttons are the menu items themselves: same hint, same image, and a button can only act
    // while its command is enabled.
    toolBar1_->addAction(RealTimeMeasure1);
    toolBar1_->addAction(ImportData1);
    toolBar1_->addAction(Open1);
    toolBar1_->addAction(Save1);
    toolBar1_->addSeparator();
    toolBar1_->addAction(ExporttoExcel1);
    toolBar1_->addAction(PrintDataSheet1);
    toolBar1_->addAction(SystemSetup1);
    toolBar1_->addSeparator();
    toolBar1_->addAction(DecimoraHelp1);
    toolBar1_->addAction(About1);
    toolBar1_->addSeparator();
    toolBar1_->addAction(Exit1);
}

void TForm1::buildStatusBar()
{
    statusBar1_ = new PanelStatusBar(
        std::vector<int>(std::begin(StatusPanelWidths), std::end(StatusPanelWidths)), StatusBarHeight, this);
    statusBar1_->setObjectName(QStringLiteral("StatusBar1"));
    statusBar1_->SetOwnerDrawn(
        0, [this](QPainter& painter, int /*panel*/, const QRect& rect) { StatusBar1DrawPanel(painter, rect); });
    setStatusBar(statusBar1_);
}

// ---------------------------------------------------------------------------------------------------
// Start-up

bool TForm1::FormCreate()
{
    // 1. Only one copy runs. The lock is taken before anything touches the tables, the data source
    //    or the settings of the copy that already runs.
    lock_ = std::make_unique<SingleInstanceLock>(services_.lockFolder, services_.applicationTitle);
    if (lock_->TryAcquire(services_.databasePath) != SingleInstanceLock::Outcome::Acquired) {
        lock_.reset();
        services_.ui.showMessage(
            nullptr, QString::fromLatin1(SecondInstanceMessage), QString(), MessageButtons::Ok, MessageIcon::None);
        return false;
    }
    module_ = &services_.createModule();

    // 2. The whole screen but 20 pixels of its height.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize size = screen->size();
        move(0, 0);
        resize(size.width(), size.height() - ScreenHeightMargin);
    }

    // 3. The about command, and the Window-menu items of the three registered windows.
    module_->AboutCommandEnabled = true;
    menumeasure = new QAction(this);
    menumeasure->setObjectName(QStringLiteral("menumeasure"));
    menuanalyze = new QAction(this);
    menuanalyze->setObjectName(QStringLiteral("menuanalyze"));
    importdata = new QAction(this);
    importdata->setObjectName(QStringLiteral("importdata"));
    menustatistics = new QAction(this);
    menustatistics->setObjectName(QStringLiteral("menustatistics"));
    connect(menustatistics, &QAction::triggered, this, [this] { bringToFront(statisticsWindow_); });
    for (QAction* item : { menumeasure, menuanalyze, importdata, menustatistics })
        item->setCheckable(true);
    for (const ChildWindowKind kind : { ChildWindowKind::Measure, ChildWindowKind::Analysis, ChildWindowKind::Import })
        connect(windowMenuItem(kind), &QAction::triggered, this,
            [this, kind] { bringToFront(qobject_cast<QWidget*>(module_->ChildWindow(kind))); });

    // 4. The data source; the start goes on whatever its outcome.
    if (services_.registerDataSource) {
        if (const auto failure = services_.registerDataSource(services_.databasePath))
            module_->ShowMessageBox(failure->text, failure->caption, MessageButtons::Ok, failure->icon);
    }

    // 5. The progress bar over panel 2.
    auto* progress = new QProgressBar(statusBar1_);
    progress->setObjectName(QStringLiteral("StatusProgressBar"));
    progress->setRange(0, 100);
    progress->setValue(0);
    progress->setTextVisible(false);
    progress->setGeometry(statusBar1_->PanelWidth(0) + statusBar1_->PanelWidth(1) + 1, 2,
        statusBar1_->PanelWidth(ProgressBarPanel), StatusBarHeight - 2);
    statusProgressBar_ = progress;

    timer1_.start();
    return true;
}

void TForm1::StartModule()
{
    if (!module_)
        return;
    if (lock_ && lock_->PreviousEndedWithoutClose()) {
        // The previous copy's readings are where its lock note says; normally the same database.
        const QString previousDatabase = lock_->PreviousNote();
        std::unique_ptr<SqliteReadingStore> otherStore;
        std::vector<const ReadingTable*> tables { module_->MeaData, module_->GetRecorde };
        if (!previousDatabase.isEmpty()
            && QFileInfo(previousDatabase).absoluteFilePath() != QFileInfo(services_.databasePath).absoluteFilePath()
            && QFileInfo::exists(previousDatabase)) {
            try {
                otherStore = std::make_unique<SqliteReadingStore>(previousDatabase);
                tables = { &otherStore->meaData(), &otherStore->getRecorde() };
            } catch (const TableError&) {
                tables.clear();
            }
        }
        const QStringList folders = services_.rescueFolders.isEmpty()
            ? DefaultRescueFolders(module_->Folders().dataFolder(), services_.databasePath)
            : services_.rescueFolders;
        const ReadingsRescue rescue = RescueReadings(tables, folders, module_->SystemTime().now().date());
        // Emptying the tables would delete the only copy of what could not be written anywhere.
        if (!rescue.failures.isEmpty() && !otherStore)
            module_->KeepReadingTables = true;
        otherStore.reset();
        if (!rescue.empty()) {
            const RescueCause cause = lock_->PreviousKeptReadings() ? RescueCause::ClosedWithUnsavedReadings
                                                                    : RescueCause::EndedWithoutClose;
            module_->ShowMessageBox(ReadingsRescueMessage(rescue, cause), QString::fromLatin1(ReadingsRescueCaption),
                MessageButtons::Ok, rescue.failures.isEmpty() ? MessageIcon::Information : MessageIcon::Error);
        }
    }
    module_->FormCreate();
}

// ---------------------------------------------------------------------------------------------------
// Refresh

QString TForm1::PanelText(int panel) const
{
    return statusBar1_->PanelText(panel);
}

QWidget* TForm1::ActiveChild() const
{
    // The current subwindow stays current while another application has the focus.
    const QMdiSubWindow* sub = mdiArea_->currentSubWindow();
    return sub ? sub->widget() : nullptr;
}

ReadingsWindow* TForm1::ActiveReadingsWindow() const
{
    return qobject_cast<ReadingsWindow*>(ActiveChild());
}

void TForm1::removeFromWindowMenu(QAction* item)
{
    window1_->removeAction(item);
}

void TForm1::keepInWindowMenu(QAction* item)
{
    if (!window1_->actions().contains(item))
        window1_->addAction(item);
}

void TForm1::FormPaint()
{
    if (!module_ || !menumeasure)
        return;
    TForm6& m = *module_;
    const QWidget* active = ActiveChild();

    // 1. Captions of the Window-menu items.
    menumeasure->setText(MeasureItemCaption);
    menuanalyze->setText(AnalysisItemCaption);
    importdata->setText(ImportItemCaption);

    // 2. Connection.
    statusBar1_->SetPanelText(1, m.DeviceConnected ? QStringLiteral("Connect OK!") : QStringLiteral("Disconnect!"));
    statusBar1_->SetPanelToolTip(1, m.MeterWithoutAccess ? QString::fromLatin1(MeterWithoutAccessHint) : QString());

    // 3. Check marks on the items of the windows that exist.
    if (m.MeasureWindowHandle) {
        keepInWindowMenu(menumeasure);
        menumeasure->setChecked(active && active == m.MeasureWindow);
    }
    if (m.ImportWindowHandle) {
        keepInWindowMenu(importdata);
        importdata->setChecked(active && active == m.ImportWindow);
    }
    if (m.AnalysisWindowHandle) {
        keepInWindowMenu(menuanalyze);
        menuanalyze->setChecked(active && active == m.AnalysisWindow);
    }
    menustatistics->setChecked(active && active == statisticsWindow_);

    // 4., 5. Items of windows that have closed.
    if (m.ImportCommandEnabled && m.DropImportMenuItem) {
        m.DropImportMenuItem = false;
        removeFromWindowMenu(importdata);
    }
    if (m.DropAnalysisMenuItem) {
        m.DropAnalysisMenuItem = false;
        removeFromWindowMenu(menuanalyze);
    }

    // 6.
    About1->setEnabled(m.AboutCommandEnabled);

    // 7. A measurement window whose close was cancelled keeps its item and its command disabled.
    if (m.MeasureCommandEnabled) {
        RealTimeMeasure1->setEnabled(true);
        if (m.DropMeasureMenuItem) {
            m.DropMeasureMenuItem = false;
            removeFromWindowMenu(menumeasure);
        }
    } else {
        RealTimeMeasure1->setEnabled(false);
    }

    // 8.
    SystemSetup1->setEnabled(m.SetupCommandEnabled);
    ImportData1->setEnabled(m.ImportCommandEnabled);

    // 9., 10. The commands on the active window's readings; the about box and the setup window
    // show none.
    bool exportAndPrint = false;
    bool save = false;
    if (!mdiArea_->subWindowList().isEmpty() && m.FormsReady) {
        if (const ReadingsWindow* readings = ActiveReadingsWindow()) {
            exportAndPrint = readings->canExportAndPrint();
            save = readings->canSave();
        }
    }
    PrintDataSheet1->setEnabled(exportAndPrint);
    ExporttoExcel1->setEnabled(exportAndPrint);
    Save1->setEnabled(save);
}

void TForm1::Timer1Timer()
{
    if (!module_)
        return;
    TForm6& m = *module_;
    FormPaint();
    refreshStatisticsWindow();
    if (statusProgressBar_)
        statusProgressBar_->setValue(m.ProgressPosition);
    if (statusBar1_->PanelText(3) != m.CompanyName) {
        statusBar1_->SetPanelText(3, m.CompanyName);
        statusBar1_->update();
    }
    if (m.ShownConnected != m.DeviceConnected) {
        // Panel 0 shows the meter's image only while it is connected.
        statusBar1_->update();
        m.ShownConnected = m.DeviceConnected;
    }
    // Told once: the box would come back every second, and the tool tip keeps saying it.
    if (m.MeterWithoutAccess && !meterWithoutAccessTold_) {
        meterWithoutAccessTold_ = true;
        // A "\r" starts a new line in the program's boxes.
        m.ShowMessageBox(MeterAccessHint().replace(QLatin1Char('\n'), QLatin1Char('\r')),
            QString::fromLatin1(MeterWithoutAccessCaption), MessageButtons::Ok, MessageIcon::Information, this);
    }
}

void TForm1::StatusBar1DrawPanel(QPainter& painter, const QRect& rect)
{
    painter.drawPixmap(rect.left(), rect.top(), statusImages_[1]);
    if (!module_)
        return;
    statusBar1_->SetPanelText(3, module_->CompanyName);
    if (module_->DeviceConnected)
        painter.drawPixmap(rect.left() + rect.width() - 20, rect.top(), statusImages_[0]);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mdiArea_->viewport() && event->type() == QEvent::Paint)
        FormPaint();
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------------
// Child windows

QMdiSubWindow* TForm1::addChild(QWidget* child)
{
    auto* sub = new QMdiSubWindow;
    sub->setWidget(child);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowIcon(windowIcon());
    // Connected before the area's own handler of the signal, so that it runs first on a click.
    connect(sub, &QMdiSubWindow::aboutToActivate, this, [this, sub] { keepMaximisedWindowsFor(sub); });
    mdiArea_->addSubWindow(sub);
    // No size the Window menu or the user gives it makes its controls overlap: a window is never
    // smaller than its layout needs (the frame scrolls to what does not fit).
    sub->ensurePolished();
    sub->setMinimumSize(sub->minimumSizeHint());
    return sub;
}

namespace {

bool CanBeMaximised(const QMdiSubWindow* sub)
{
    if (sub->minimumSize() == sub->maximumSize())
        return false;
    const Qt::WindowFlags flags = sub->windowFlags();
    const Qt::WindowFlags hints = Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint;
    // Without any hint a sub-window has every button of the title bar.
    return !(flags & hints) || (flags & Qt::WindowMaximizeButtonHint);
}

} // namespace

void TForm1::keepMaximisedWindowsFor(const QMdiSubWindow* sub)
{
    // When a maximised window hands the activation on, the area makes every maximised window normal
    // and maximises the one activated. A window that cannot be maximised (the about box, the setup
    // window) would end that with no maximised window at all; the statistics window, a table of a few
    // rows beside the readings it sums up, opens at its own size over them.
    const bool ownSize = !CanBeMaximised(sub) || (statisticsWindow_ && sub->widget() == statisticsWindow_);
    mdiArea_->setOption(QMdiArea::DontMaximizeSubWindowOnActivation, ownSize);
}

void TForm1::activate(QMdiSubWindow* sub)
{
    keepMaximisedWindowsFor(sub);
    mdiArea_->setActiveSubWindow(sub);
}

void TForm1::refreshMinimumSizes()
{
    // A window's layout may need more room than when it opened (the statistics window once it
    // has figures): its minimum follows before the windows are arranged.
    for (QMdiSubWindow* sub : mdiArea_->subWindowList())
        sub->setMinimumSize(sub->minimumSizeHint());
}

void TForm1::bringToFront(QWidget* child)
{
    if (!child)
        return;
    auto* sub = qobject_cast<QMdiSubWindow*>(child->parentWidget());
    if (!sub)
        return;
    if (sub->isMinimized())
        sub->showNormal();
    else if (!sub->isVisible())
        sub->show();
    activate(sub);
    sub->raise();
}

QAction* TForm1::windowMenuItem(ChildWindowKind kind) const
{
    switch (kind) {
    case ChildWindowKind::Measure:
        return menumeasure;
    case ChildWindowKind::Import:
        return importdata;
    case ChildWindowKind::Analysis:
        break;
    }
    return menuanalyze;
}

void TForm1::openRegisteredWindow(ChildWindowKind kind, const std::function<QWidget*()>& create, bool maximised)
{
    TForm6& m = *module_;
    if (!m.ChildWindowOpen(kind)) {
        window1_->addAction(windowMenuItem(kind));
        QWidget* window = create();
        m.ChildWindowOpened(kind, window);
        QMdiSubWindow* sub = addChild(window);
        if (maximised)
            sub->showMaximized();
        else
            sub->show();
    }
    bringToFront(qobject_cast<QWidget*>(m.ChildWindow(kind)));
}

void TForm1::RealTimeMeasure1Click()
{
    openRegisteredWindow(
        ChildWindowKind::Measure, [this] { return new TForm5(*module_, services_.printer); }, true);
}

void TForm1::ImportData1Click()
{
    if (!windowsAndCommands_.createImportWindow)
        return;
    openRegisteredWindow(
        ChildWindowKind::Import, [this] { return windowsAndCommands_.createImportWindow(*module_); }, true);
}

void TForm1::Open1Click()
{
    TForm6& m = *module_;
    if (!windowsAndCommands_.createAnalysisWindow)
        return;
    const bool opening = !m.ChildWindowOpen(ChildWindowKind::Analysis);
    openRegisteredWindow(
        ChildWindowKind::Analysis, [&] { return windowsAndCommands_.createAnalysisWindow(m); }, true);
    // A new analysis window starts from an empty table; an open one adds one more file to it.
    if (opening && m.LoadData) {
        ReadingTable* table = m.LoadData;
        m.RunOrReport(
            QStringLiteral("Error Information"), this,
            [table] {
                table->close();
                table->empty();
                table->open();
            },
            [table] {
                // Left closed, the table would refuse every file the new window loads; kept open it
                // takes them after the rows it could not let go of.
                try {
                    table->open();
                } catch (const TableError&) {
                    // The user hears of the failure that came first.
                }
            });
    }
    if (auto* analysis = qobject_cast<ReadingsWindow*>(m.AnalysisWindow.data()))
        analysis->loadDataFile();
}

void TForm1::Save1Click()
{
    if (ReadingsWindow* readings = ActiveReadingsWindow())
        readings->save();
}

void TForm1::ExporttoExcel1Click()
{
    ReadingsWindow* readings = ActiveReadingsWindow();
    if (windowsAndCommands_.exportToExcel && readings)
        windowsAndCommands_.exportToExcel(*readings);
}

void TForm1::PrintDataSheet1Click()
{
    ReadingsWindow* readings = ActiveReadingsWindow();
    if (windowsAndCommands_.printDataSheet && readings)
        windowsAndCommands_.printDataSheet(*readings);
}

void TForm1::PrinterSetup1Click()
{
    module_->Ui().askPrinterSetup(this, services_.printer.printer());
}

void TForm1::SystemSetup1Click()
{
    if (!windowsAndCommands_.createSetupWindow)
        return;
    module_->SetupCommandEnabled = false;
    SystemSetup1->setEnabled(false);
    QWidget* window = windowsAndCommands_.createSetupWindow(*module_);
    module_->SetupWindow = window;
    QMdiSubWindow* sub = addChild(window);
    // A system menu and a minimise box, but nothing to maximise: the pages have a size of their own.
    sub->setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
        | Qt::WindowCloseButtonHint);
    sub->resize(TForm8::OpenedWidth, TForm8::OpenedHeight);
    sub->move((width() - TForm8::OpenedWidth) / 2, (height() - TForm8::OpenedHeight) / 4);
    keepMaximisedWindowsFor(sub);
    sub->show();
    activate(sub);
}

void TForm1::Statistics1Click()
{
    if (!module_)
        return;
    // Asked before the statistics window becomes the active child itself.
    ReadingsWindow* readings = readingsForStatistics();
    if (!statisticsWindow_) {
        statisticsWindow_ = new SoundLevelStatisticsWindow(*module_, services_.printer);
        // Listed in the Window menu while it is open, like the readings windows.
        menustatistics->setText(StatisticsItemCaption);
        window1_->addAction(menustatistics);
        connect(statisticsWindow_, &QObject::destroyed, this, [this] { removeFromWindowMenu(menustatistics); });
        QMdiSubWindow* sub = addChild(statisticsWindow_);
        sub->resize(SoundLevelStatisticsWindow::DesignedWidth, SoundLevelStatisticsWindow::DesignedHeight);
        keepMaximisedWindowsFor(sub);
        sub->show();
    }
    statisticsWindow_->refresh(readings);
    bringToFront(statisticsWindow_);
}

SoundLevelStatisticsWindow* TForm1::StatisticsWindow() const
{
    return statisticsWindow_;
}

void TForm1::refreshStatisticsWindow()
{
    if (statisticsWindow_)
        statisticsWindow_->refresh(readingsForStatistics());
}

ReadingsWindow* TForm1::readingsForStatistics() const
{
    if (ReadingsWindow* active = ActiveReadingsWindow())
        return active;
    if (statisticsWindow_ && statisticsWindow_->source())
        return nullptr;
    // The window shown before has closed while other readings windows stay open: rather than "No
    // readings window is open", the one the user was at last. A closed window may wait for its
    // deletion still hidden in the list.
    const QList<QMdiSubWindow*> history = mdiArea_->subWindowList(QMdiArea::ActivationHistoryOrder);
    for (auto it = history.crbegin(); it != history.crend(); ++it) {
        auto* readings = qobject_cast<ReadingsWindow*>((*it)->widget());
        if (readings && !(*it)->isHidden())
            return readings;
    }
    return nullptr;
}

void TForm1::About1Click()
{
    if (!windowsAndCommands_.createAboutBox)
        return;
    module_->AboutCommandEnabled = false;
    About1->setEnabled(false);
    QWidget* box = windowsAndCommands_.createAboutBox(*module_);
    module_->AboutWindow = box;
    QMdiSubWindow* sub = addChild(box);
    // A system menu and a close box, but neither minimise nor maximise; its contents stand at fixed
    // places, so it opens at its own size and grows no larger; the Window menu may make it smaller,
    // but never smaller than its texts and button need (TForm3::minimumSizeHint).
    sub->setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint);
    sub->setFixedSize(AboutBoxWidth, AboutBoxHeight);
    sub->move((width() - AboutBoxWidth) / 2, (height() - AboutBoxHeight) / 4);
    keepMaximisedWindowsFor(sub);
    sub->show();
    activate(sub);
}

void TForm1::DecimoraHelp1Click()
{
    if (windowsAndCommands_.showHelp)
        windowsAndCommands_.showHelp(*module_, this);
}

// ---------------------------------------------------------------------------------------------------
// Window arrangement

void TForm1::checkArrangement(QAction* chosen)
{
    for (QAction* arrangement : { Cascade1, Horizontally1, Vertically1 })
        arrangement->setChecked(arrangement == chosen);
}

void TForm1::Cascade1Click()
{
    checkArrangement(Cascade1);
    refreshMinimumSizes();
    mdiArea_->cascadeSubWindows();
}

void TForm1::Horizontally1Click()
{
    checkArrangement(Horizontally1);
    tile(Tiling::Horizontal);
}

void TForm1::Vertically1Click()
{
    checkArrangement(Vertically1);
    tile(Tiling::Vertical);
}

void TForm1::tile(Tiling tiling)
{
    // QMdiArea only tiles in a grid; "horizontally" stacks the windows one above the other, each
    // as wide as the frame, "vertically" puts them side by side. Minimised windows stay where they are.
    // A window keeps at least its minimum size; windows that do not fit then follow each other
    // beyond the frame's edge, where its scroll bars reach them, rather than lie over each other.
    refreshMinimumSizes();
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* sub : mdiArea_->subWindowList(QMdiArea::StackingOrder)) {
        if (sub->isVisible() && !sub->isMinimized())
            windows << sub;
    }
    if (windows.isEmpty())
        return;
    const QRect area = mdiArea_->viewport()->rect();
    const auto count = static_cast<int>(windows.size());
    int next = 0;
    for (int i = 0; i < count; ++i) {
        QMdiSubWindow* sub = windows[i];
        if (sub->isMaximized())
            sub->showNormal();
        if (tiling == Tiling::Horizontal) {
            const int share = area.height() * (i + 1) / count - area.height() * i / count;
            sub->setGeometry(0, next, area.width(), share);
            next += sub->height();
        } else {
            const int share = area.width() * (i + 1) / count - area.width() * i / count;
            sub->setGeometry(next, 0, share, area.height());
            next += sub->width();
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// Ending

std::vector<ReadingTable*> TForm1::tablesWithUnsavedReadings() const
{
    std::vector<ReadingTable*> tables;
    for (QMdiSubWindow* sub : mdiArea_->subWindowList()) {
        const auto* readings = qobject_cast<const ReadingsWindow*>(sub->widget());
        ReadingTable* table = readings ? readings->readingsTable() : nullptr;
        if (readings && readings->hasUnsavedReadings() && table && !table->isEmpty())
            tables.push_back(table);
    }
    return tables;
}

void TForm1::endProgram()
{
    ended_ = true;
    timer1_.stop();
    // The question at the end asks nothing about readings; those that no data file holds wait in
    // their tables for the next start's rescue, as after a logout. The rest go now, so that the
    // rescue brings back only what was not saved (or not thrown away at a window's own close).
    const std::vector<ReadingTable*> kept = tablesWithUnsavedReadings();
    module_->FormClose();
    if (!lock_)
        return;
    if (kept.empty()) {
        lock_->EndedNormally();
        return;
    }
    for (ReadingTable* table : { module_->MeaData, module_->GetRecorde }) {
        if (table && std::find(kept.begin(), kept.end(), table) == kept.end()) {
            try {
                table->empty();
            } catch (const TableError&) {
                // Rescued once more at the next start: more than asked for, nothing lost.
            }
        }
    }
    lock_->EndedKeepingReadings();
}

void TForm1::EndWithoutAsking()
{
    if (!ended_ && module_) {
        const bool readingsLeft = (module_->MeaData && module_->MeaData->rowCount() > 0)
            || (module_->GetRecorde && module_->GetRecorde->rowCount() > 0);
        ended_ = true;
        timer1_.stop();
        module_->FormClose();
        // The next start rescues what the tables hold.
        if (lock_ && readingsLeft)
            lock_->EndedKeepingReadings();
        else if (lock_)
            lock_->EndedNormally();
    }
    close();
    QCoreApplication::exit(0);
}

void TForm1::Exit1Click()
{
    if (module_->ShowMessageBox(QString::fromLatin1(ExitQuestion), QString::fromLatin1(ExitQuestionCaption),
            MessageButtons::YesNo, MessageIcon::Question, this)
        != MessageAnswer::Yes)
        return;
    endProgram();
    // The child windows are not asked; help windows may still be open, so the loop is told to end
    // rather than waiting for the last window.
    close();
    QCoreApplication::exit(0);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (ended_ || !module_) {
        event->accept();
        return;
    }
    if (module_->ShowMessageBox(QString::fromLatin1(ExitQuestion), QString::fromLatin1(ExitQuestionCaption),
            MessageButtons::YesNo, MessageIcon::Question, this)
        != MessageAnswer::Yes) {
        event->ignore();
        return;
    }
    if (windowsAndCommands_.closeHelpWindows && !windowsAndCommands_.closeHelpWindows(*module_, this)) {
        event->ignore();
        return;
    }
    endProgram();
    event->accept();
    QCoreApplication::exit(0);
}
