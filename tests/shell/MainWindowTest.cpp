// The main window driven offscreen: a module with the simulated meter and scripted dialogs, a real
// reading store in a temporary folder, and stand-ins for the windows of later versions.

#include "DataFile.h"
#include "DecimoraMain.h"
#include "FrameImages.h"
#include "GetRecorde.h"
#include "Measuring.h"
#include "PanelStatusBar.h"
#include "ReadingsRescue.h"
#include "SqliteReadingStore.h"
#include "TestModule.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QProgressBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QToolBar>
#include <gmock/gmock.h>

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

// A plain child window standing in for a window of a later version.
QWidget* StandIn(const char* name)
{
    auto* window = new QWidget;
    window->setObjectName(QString::fromLatin1(name));
    return window;
}

struct Calls {
    int registrations = 0;
    int exports = 0;
    int loads = 0;
};

// A readings window of a later version: the import window offers its table for export once it has
// rows, the analysis window always; neither saves here. It counts the files it is asked to load.
class StandInReadingsWindow final : public ReadingsWindow {
public:
    StandInReadingsWindow(const char* name, ReadingTable* table, bool exportWhenEmpty, Calls& calls)
        : table_(table)
        , exportWhenEmpty_(exportWhenEmpty)
        , calls_(calls)
    {
        setObjectName(QString::fromLatin1(name));
    }
    ReadingTable* readingsTable() const override { return table_; }
    QAbstractItemView* readingsGrid() const override { return nullptr; }
    bool canExportAndPrint() const override { return exportWhenEmpty_ || (table_ && table_->rowCount() >= 1); }
    bool canSave() const override { return false; }
    void save() override { }
    bool hasUnsavedReadings() const override { return false; }
    void loadDataFile() override { ++calls_.loads; }

private:
    ReadingTable* table_;
    bool exportWhenEmpty_;
    Calls& calls_;
};

// One copy of the program. Copies made on the same data folder share the database and the
// single-instance lock, as two starts of the program on one machine do.
struct ProgramCopy {
    // The lock lives in the data folder unless another one is given (a start from another working
    // directory: another database, the same lock).
    enum class ImportWindow { StandIn, Real };

    explicit ProgramCopy(const QString& dataFolder, bool withStore = true, const QString& lockFolder = {},
        ImportWindow importWindow = ImportWindow::StandIn, const QStringList& rescueFolders = {})
        : test(withStore ? std::make_unique<SqliteReadingStore>(QDir(dataFolder).filePath("Decimora.mdb")) : nullptr)
    {
        QFile report(test.folder.filePath("Decimora_en.rav"));
        if (!report.open(QIODevice::WriteOnly))
            ADD_FAILURE() << "cannot create the report definition";

        FrameParts parts;
        parts.createAboutBox = [](TForm6&) { return StandIn("Form3"); };
        parts.createSetupWindow = [](TForm6&) { return StandIn("Form8"); };
        parts.createImportWindow = [this, importWindow](TForm6& m) -> ReadingsWindow* {
            if (importWindow == ImportWindow::Real)
                return new TForm4(m);
            return new StandInReadingsWindow("Form4", m.GetRecorde, false, calls);
        };
        parts.createAnalysisWindow
            = [this](TForm6& m) { return new StandInReadingsWindow("Form7", m.LoadData, true, calls); };
        parts.exportToExcel = [this](ReadingsWindow& window) {
            ++calls.exports;
            exportedFrom = window.objectName();
        };
        parts.printDataSheet = [](ReadingsWindow&) {};
        frame = std::make_unique<TForm1>(ShellServices {
                                             test.ui,
                                             QStringLiteral("decimora"),
                                             lockFolder.isEmpty() ? QDir(dataFolder).filePath("lock") : lockFolder,
                                             QDir(dataFolder).filePath("Decimora.mdb"),
                                             [this]() -> TForm6& {
                                                 moduleCreated = true;
                                                 return *test.module;
                                             },
                                             [this](const QString&) -> std::optional<DataSourceRegistrationMessage> {
                                                 ++calls.registrations;
                                                 return registrationFailure;
                                             },
                                             rescueFolders,
                                         },
            parts);
    }

    // The program entry's start: main window, then module.
    bool start()
    {
        if (!frame->FormCreate())
            return false;
        frame->StartModule();
        return true;
    }

    TForm6& module() { return *test.module; }
    TForm5* measurementWindow() { return qobject_cast<TForm5*>(module().MeasureWindow.data()); }
    QMdiSubWindow* subWindowOf(QWidget* child) { return qobject_cast<QMdiSubWindow*>(child->parentWidget()); }
    int windowMenuCount(QAction* item) { return int(frame->WindowMenu()->actions().count(item)); }
    QStringList messageTexts() const
    {
        QStringList texts;
        for (const auto& message : test.ui.messages)
            texts << message.text;
        return texts;
    }
    // One reading through the meter: the measurement window's tick asks, the meter answers.
    void takeReading()
    {
        const qint64 before = module().MeaData->rowCount();
        measurementWindow()->Timer1Timer();
        ASSERT_TRUE(TestModule::waitUntil([&] { return module().MeaData->rowCount() > before; }));
    }

    TestModule test;
    Calls calls;
    QString exportedFrom;
    std::optional<DataSourceRegistrationMessage> registrationFailure;
    bool moduleCreated = false;
    // Declared last: the frame goes before the module its windows point into.
    std::unique_ptr<TForm1> frame;
};

struct FileCommands {
    bool save;
    bool exportAndPrint;
};

FileCommands fileCommands(TForm1& frame)
{
    EXPECT_EQ(frame.ExporttoExcel1->isEnabled(), frame.PrintDataSheet1->isEnabled());
    return { frame.Save1->isEnabled(), frame.ExporttoExcel1->isEnabled() };
}

TEST(MainWindow, StartsAsTheFrameWithItsStatusBarAndGoesOnWhenTheDataSourceCannotBeRegistered)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    copy.registrationFailure = DataSourceRegistrationMessage { "Register file operation fail\rPlease check up your "
                                                               "operation system",
        "Error Information", MessageIcon::Error };
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;

    EXPECT_EQ(frame.windowTitle(), "Decimora 1.3((For ZQ731)");
    const QSize screen = QGuiApplication::primaryScreen()->size();
    EXPECT_EQ(frame.pos(), QPoint(0, 0));
    EXPECT_EQ(frame.size(), QSize(screen.width(), screen.height() - 20));
    ASSERT_EQ(copy.test.ui.messages.size(), 1U);
    EXPECT_EQ(copy.test.ui.messages[0].caption, "Error Information");
    EXPECT_EQ(copy.module().LastErrorText, "Register file operation fail\rPlease check up your operation system");
    EXPECT_EQ(copy.calls.registrations, 1);

    // The rest of the start went on: the progress bar over panel 2, the module started.
    ASSERT_TRUE(copy.module().StatusProgressBar);
    EXPECT_EQ(copy.module().StatusProgressBar->geometry(), QRect(231, 2, 350, 26));
    EXPECT_TRUE(copy.module().FormsReady);
    EXPECT_TRUE(copy.module().AboutCommandEnabled);
    copy.module().ProgressPosition = 40;
    frame.Timer1Timer();
    EXPECT_EQ(copy.module().StatusProgressBar->value(), 40);
}

TEST(MainWindow, ToolButtonsCarryTheirHintsAndAnImageEach)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());

    QStringList hints;
    for (QAction* action : copy.frame->ToolBar()->actions()) {
        if (action->isSeparator())
            continue;
        hints << action->toolTip();
        EXPECT_FALSE(action->icon().pixmap(ToolBarImageSize, ToolBarImageSize).isNull())
            << action->toolTip().toStdString();
    }
    EXPECT_EQ(hints,
        QStringList({ "Real Time Measure", "Import Data", "Open", "Save", "Export to Excel", "Print Data Sheet",
            "System Option", "Help arrives in a later version of Decimora", "About...", "Exit" }));
    EXPECT_FALSE(StatusImage(0).isNull());
    EXPECT_FALSE(StatusImage(1).isNull());
}

TEST(MainWindow, RefreshEnablesTheFileCommandsForTheActiveWindow)
{
    struct Case {
        const char* state;
        std::function<void(ProgramCopy&)> arrange;
        FileCommands expected;
    };
    const auto openMeasurement = [](ProgramCopy& c) {
        c.frame->RealTimeMeasure1->trigger();
        ASSERT_TRUE(c.test.connect());
    };
    const Case cases[] = {
        { "no child window", [](ProgramCopy&) {}, { false, false } },
        { "only the about box",
            [](ProgramCopy& c) {
                c.frame->About1->trigger();
                ASSERT_EQ(c.frame->ActiveChild()->objectName(), "Form3");
            },
            { false, false } },
        { "only the setup window",
            [](ProgramCopy& c) {
                c.frame->SystemSetup1->trigger();
                ASSERT_EQ(c.frame->ActiveChild()->objectName(), "Form8");
            },
            { false, false } },
        { "measurement window idle, no readings", openMeasurement, { false, false } },
        { "measurement window running, no readings",
            [&](ProgramCopy& c) {
                openMeasurement(c);
                c.measurementWindow()->StartButtonClick();
            },
            { false, false } },
        { "measurement window running with readings",
            [&](ProgramCopy& c) {
                openMeasurement(c);
                c.measurementWindow()->StartButtonClick();
                c.takeReading();
            },
            { false, false } },
        { "measurement window stopped with readings",
            [&](ProgramCopy& c) {
                openMeasurement(c);
                c.measurementWindow()->StartButtonClick();
                c.takeReading();
                c.measurementWindow()->StopButtonClick();
            },
            { true, true } },
        { "measurement window saved, readings kept",
            [&](ProgramCopy& c) {
                openMeasurement(c);
                c.measurementWindow()->StartButtonClick();
                c.takeReading();
                c.measurementWindow()->StopButtonClick();
                c.frame->Timer1Timer();
                c.test.ui.saveFileNames.push_back(c.test.folder.filePath("run1"));
                c.frame->Save1->trigger();
                ASSERT_TRUE(QFile::exists(c.test.folder.filePath("run1.dmr")));
            },
            { false, true } },
        { "measurement window behind the about box",
            [&](ProgramCopy& c) {
                openMeasurement(c);
                c.measurementWindow()->StartButtonClick();
                c.takeReading();
                c.measurementWindow()->StopButtonClick();
                c.frame->About1->trigger();
                ASSERT_EQ(c.frame->ActiveChild()->objectName(), "Form3");
            },
            { false, false } },
        { "empty analysis window",
            [](ProgramCopy& c) {
                c.frame->Open1->trigger();
                ASSERT_EQ(c.frame->ActiveChild()->objectName(), "Form7");
                ASSERT_TRUE(c.module().AnalysisWindowOpen);
                ASSERT_EQ(c.calls.loads, 1);
            },
            { false, true } },
    };

    for (const Case& test : cases) {
        SCOPED_TRACE(test.state);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        ASSERT_TRUE(copy.start());
        test.arrange(copy);

        copy.frame->Timer1Timer();

        const FileCommands actual = fileCommands(*copy.frame);
        EXPECT_EQ(actual.save, test.expected.save);
        EXPECT_EQ(actual.exportAndPrint, test.expected.exportAndPrint);
    }
}

TEST(MainWindow, SaveAndExportActOnTheActiveMeasurementWindow)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    copy.frame->RealTimeMeasure1->trigger();
    ASSERT_TRUE(copy.test.connect());
    copy.measurementWindow()->StartButtonClick();
    copy.takeReading();
    copy.takeReading();
    copy.measurementWindow()->StopButtonClick();
    copy.frame->Timer1Timer();

    copy.frame->ExporttoExcel1->trigger();
    copy.test.ui.saveFileNames.push_back(copy.test.folder.filePath("run1"));
    copy.frame->Save1->trigger();

    EXPECT_EQ(copy.calls.exports, 1);
    EXPECT_EQ(copy.exportedFrom, "Form5");
    const auto file = OpenDataFile(copy.test.folder.filePath("run1.dmr"));
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->declaredCount(), 2);
    EXPECT_TRUE(copy.module().MeasureSaved);
}

TEST(MainWindow, OneMeasurementWindowAndOneWindowMenuItemWhoseCloseRemovesTheItemAtTheNextRefresh)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;

    frame.RealTimeMeasure1->trigger();
    frame.Timer1Timer();
    frame.RealTimeMeasure1->trigger();
    frame.Timer1Timer();

    EXPECT_EQ(frame.MdiArea()->subWindowList().size(), 1);
    EXPECT_EQ(frame.findChildren<TForm5*>().size(), 1);
    EXPECT_EQ(copy.windowMenuCount(frame.menumeasure), 1);
    EXPECT_EQ(frame.menumeasure->text(), "Real Time Measure  Window");
    EXPECT_TRUE(frame.menumeasure->isChecked());
    EXPECT_EQ(frame.ActiveChild()->objectName(), "Form5");

    ASSERT_TRUE(copy.subWindowOf(copy.measurementWindow())->close());
    ASSERT_TRUE(TestModule::waitUntil([&] { return frame.MdiArea()->subWindowList().isEmpty(); }));
    frame.Timer1Timer();

    EXPECT_EQ(copy.windowMenuCount(frame.menumeasure), 0);
    EXPECT_TRUE(frame.RealTimeMeasure1->isEnabled());
    EXPECT_THAT(copy.test.ui.messages, IsEmpty());

    // Opened again, it is listed again, once.
    frame.RealTimeMeasure1->trigger();
    frame.Timer1Timer();
    EXPECT_EQ(copy.windowMenuCount(frame.menumeasure), 1);
}

TEST(MainWindow, TheWindowMenuListsTheWindowsInOpeningOrderAndOpenLoadsOneMoreFileIntoTheSameWindow)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;

    frame.RealTimeMeasure1->trigger();
    frame.ImportData1->trigger();
    frame.Open1->trigger();
    copy.module().LoadData->appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });
    frame.Open1->trigger();
    frame.ImportData1->trigger();
    frame.Timer1Timer();

    const QList<QAction*> items = frame.WindowMenu()->actions();
    ASSERT_EQ(items.size(), 7);
    EXPECT_TRUE(items[3]->isSeparator());
    EXPECT_EQ(items.mid(4), QList<QAction*>({ frame.menumeasure, frame.importdata, frame.menuanalyze }));
    EXPECT_EQ(frame.importdata->text(), "Data Import Window");
    EXPECT_EQ(frame.menuanalyze->text(), "Reprot Analyzing Window");
    EXPECT_EQ(frame.MdiArea()->subWindowList().size(), 3);
    // The second Open kept the analysis table and asked the same window for one more file.
    EXPECT_EQ(copy.calls.loads, 2);
    EXPECT_EQ(copy.module().LoadData->rowCount(), 1);
    // The import window was brought to the front last: only its item carries the check mark.
    EXPECT_TRUE(frame.importdata->isChecked());
    EXPECT_FALSE(frame.menumeasure->isChecked());
    EXPECT_FALSE(frame.menuanalyze->isChecked());
}

TEST(MainWindow, TilingStacksOrPlacesTheWindowsSideBySideAndChecksItsItemOnly)
{
    struct Case {
        const char* arrangement;
        QAction* TForm1::*item;
        bool stacked;
    };
    const Case cases[] = {
        { "Horizontally", &TForm1::Horizontally1, true },
        { "Vertically", &TForm1::Vertically1, false },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.arrangement);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        ASSERT_TRUE(copy.start());
        TForm1& frame = *copy.frame;
        frame.show();
        frame.RealTimeMeasure1->trigger();
        frame.Open1->trigger();
        frame.Cascade1->trigger();

        (frame.*test.item)->trigger();

        const QList<QMdiSubWindow*> windows = frame.MdiArea()->subWindowList();
        ASSERT_EQ(windows.size(), 2);
        const QRect a = windows[0]->geometry();
        const QRect b = windows[1]->geometry();
        const QRect area = frame.MdiArea()->viewport()->rect();
        if (test.stacked) {
            EXPECT_EQ(a.width(), area.width());
            EXPECT_EQ(b.width(), area.width());
            EXPECT_FALSE(a.intersects(b));
            EXPECT_NE(a.top(), b.top());
        } else {
            EXPECT_EQ(a.height(), area.height());
            EXPECT_EQ(b.height(), area.height());
            EXPECT_FALSE(a.intersects(b));
            EXPECT_NE(a.left(), b.left());
        }
        for (QAction* arrangement : { frame.Cascade1, frame.Horizontally1, frame.Vertically1 })
            EXPECT_EQ(arrangement->isChecked(), arrangement == frame.*test.item);
    }
}

TEST(MainWindow, ACancelledCloseKeepsTheWindowItsItemAndTheCommandDisabledUntilItReallyCloses)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;
    frame.RealTimeMeasure1->trigger();
    ASSERT_TRUE(copy.test.connect());
    copy.measurementWindow()->StartButtonClick();
    copy.takeReading();

    copy.test.ui.answers.push_back(MessageAnswer::Cancel);
    EXPECT_FALSE(copy.subWindowOf(copy.measurementWindow())->close());
    TestModule::waitUntil([] { return false; }, 50);
    frame.Timer1Timer();

    ASSERT_EQ(copy.test.ui.messages.size(), 1U);
    EXPECT_EQ(copy.test.ui.messages[0].caption, "Query Information");
    EXPECT_EQ(frame.MdiArea()->subWindowList().size(), 1);
    EXPECT_FALSE(frame.RealTimeMeasure1->isEnabled());
    EXPECT_EQ(copy.windowMenuCount(frame.menumeasure), 1);
    EXPECT_EQ(copy.module().MeasureWindowHandle, copy.module().MeasureWindow);

    // Closed for real (readings not saved): the item goes and the command comes back.
    copy.test.ui.answers.push_back(MessageAnswer::No);
    EXPECT_TRUE(copy.subWindowOf(copy.measurementWindow())->close());
    ASSERT_TRUE(TestModule::waitUntil([&] { return frame.MdiArea()->subWindowList().isEmpty(); }));
    frame.Timer1Timer();
    EXPECT_TRUE(frame.RealTimeMeasure1->isEnabled());
    EXPECT_EQ(copy.windowMenuCount(frame.menumeasure), 0);
}

// The real import window in the frame: one window and one Window-menu item however often File >
// Import Data is chosen, Save and export following its rows and its "Save", File > Save pressing
// it, and a cancelled close keeping the command disabled until the window really closes.
TEST(MainWindow, TheImportWindowTakesItsShareOfTheFileCommands)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path(), true, {}, ProgramCopy::ImportWindow::Real);
    ASSERT_TRUE(copy.start());
    ASSERT_TRUE(copy.test.connect());
    TForm1& frame = *copy.frame;
    frame.ImportData1->trigger();
    frame.ImportData1->trigger();
    frame.Timer1Timer();
    EXPECT_EQ(frame.MdiArea()->subWindowList().size(), 1);
    EXPECT_EQ(copy.windowMenuCount(frame.importdata), 1);
    EXPECT_EQ(frame.importdata->text(), "Data Import Window");
    auto* window = qobject_cast<TForm4*>(copy.module().ImportWindow.data());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(frame.ActiveChild(), window);
    EXPECT_TRUE(copy.subWindowOf(window)->isMaximized());
    EXPECT_FALSE(fileCommands(frame).exportAndPrint);

    copy.test.meter.setLoggedMemory({ 0xFD, 0x00, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0x0A, 0x51, 0xA5, 0x7A, 0xFF });
    window->ImportButtonClick();
    frame.Timer1Timer();
    EXPECT_TRUE(fileCommands(frame).save);
    EXPECT_TRUE(fileCommands(frame).exportAndPrint);

    copy.test.ui.saveFileNames.push_back(copy.test.folder.filePath("download"));
    frame.Save1->trigger();
    const auto file = OpenDataFile(copy.test.folder.filePath("download.dmr"));
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->declaredCount(), 2);
    frame.Timer1Timer();
    EXPECT_FALSE(fileCommands(frame).save);
    EXPECT_TRUE(fileCommands(frame).exportAndPrint);

    // Unsaved again after a second download; Cancel at the close question keeps it all.
    window->ImportButtonClick();
    copy.test.ui.answers.push_back(MessageAnswer::Cancel);
    EXPECT_FALSE(copy.subWindowOf(window)->close());
    frame.Timer1Timer();
    EXPECT_FALSE(frame.ImportData1->isEnabled());
    EXPECT_EQ(copy.windowMenuCount(frame.importdata), 1);

    copy.test.ui.answers.push_back(MessageAnswer::No);
    EXPECT_TRUE(copy.subWindowOf(window)->close());
    ASSERT_TRUE(TestModule::waitUntil([&] { return frame.MdiArea()->subWindowList().isEmpty(); }));
    frame.Timer1Timer();
    EXPECT_TRUE(frame.ImportData1->isEnabled());
    EXPECT_EQ(copy.windowMenuCount(frame.importdata), 0);
}

TEST(MainWindow, StatusBarFollowsTheMeterAndTheCompanyName)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;
    PanelStatusBar& bar = *frame.StatusBar1();
    frame.show();
    const QRect panel0 = bar.PanelRect(0);

    ASSERT_TRUE(copy.test.connect());
    copy.module().CompanyName = QStringLiteral("Hollow Hill Acoustics");
    frame.Timer1Timer();
    EXPECT_EQ(frame.PanelText(1), "Connect OK!");
    EXPECT_EQ(frame.PanelText(3), "Hollow Hill Acoustics");
    EXPECT_TRUE(copy.module().ShownConnected);
    const QImage connected = bar.grab(panel0).toImage();

    copy.test.meter.unplug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return !copy.module().DeviceConnected; }));
    frame.Timer1Timer();
    EXPECT_EQ(frame.PanelText(1), "Disconnect!");
    EXPECT_FALSE(copy.module().ShownConnected);
    const QImage disconnected = bar.grab(panel0).toImage();

    // Panel 0 keeps image 1 at its left and loses the meter's image at its right.
    const QRect left(0, 0, panel0.width() / 2, panel0.height());
    const QRect right(panel0.width() / 2, 0, panel0.width() - panel0.width() / 2, panel0.height());
    EXPECT_EQ(connected.copy(left), disconnected.copy(left));
    EXPECT_NE(connected.copy(right), disconnected.copy(right));
}

TEST(MainWindow, TheExitQuestionEndsTheProgramOnlyOnYesAndAsksNoChildWindow)
{
    struct Case {
        const char* way;
        bool closeTheFrame; // else File > Exit
        MessageAnswer answer;
    };
    const Case cases[] = {
        { "File > Exit, No", false, MessageAnswer::No },
        { "closing the frame, No", true, MessageAnswer::No },
        { "File > Exit, Yes", false, MessageAnswer::Yes },
        { "closing the frame, Yes", true, MessageAnswer::Yes },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.way);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        ASSERT_TRUE(copy.start());
        TForm1& frame = *copy.frame;
        frame.show();
        frame.RealTimeMeasure1->trigger();
        copy.module().MeasureSaved = false; // readings the measurement window would ask about
        const QString settingsFile = copy.test.folder.filePath("Decimora.INI");

        copy.test.ui.answers.push_back(test.answer);
        if (test.closeTheFrame)
            frame.close();
        else
            frame.Exit1->trigger();

        ASSERT_EQ(copy.test.ui.messages.size(), 1U);
        EXPECT_EQ(copy.test.ui.messages[0].text, "Are You Sure to Exit This Program?");
        EXPECT_EQ(copy.test.ui.messages[0].caption, "System Exit Query");
        EXPECT_EQ(copy.test.ui.messages[0].buttons, MessageButtons::YesNo);
        EXPECT_EQ(copy.test.ui.messages[0].icon, MessageIcon::Question);
        const bool ends = test.answer == MessageAnswer::Yes;
        EXPECT_EQ(frame.Ended(), ends);
        EXPECT_EQ(frame.isVisible(), !ends);
        // The module's close writes the settings file.
        EXPECT_EQ(QFile::exists(settingsFile), ends);
        if (!ends) {
            EXPECT_EQ(frame.MdiArea()->subWindowList().size(), 1);
            EXPECT_TRUE(copy.module().MeasureWindowHandle);
            EXPECT_EQ(copy.windowMenuCount(frame.menumeasure), 1);
        }
    }
}

TEST(MainWindow, ASecondCopyIsRefusedWithoutTouchingTheFirstUntilTheFirstHasEnded)
{
    QTemporaryDir data;
    ProgramCopy first(data.path());
    ASSERT_TRUE(first.start());
    first.module().MeaData->appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });

    ProgramCopy second(data.path(), false);
    EXPECT_FALSE(second.start());
    EXPECT_THAT(second.messageTexts(), ElementsAre("sorry, this program only run one instance at a time!"));
    EXPECT_FALSE(second.moduleCreated);
    EXPECT_EQ(second.calls.registrations, 0);
    EXPECT_FALSE(second.frame->isVisible());
    EXPECT_EQ(first.module().MeaData->rowCount(), 1);

    first.test.ui.answers.push_back(MessageAnswer::Yes);
    first.frame->Exit1->trigger();
    ProgramCopy third(data.path(), false);
    third.frame->FormCreate();
    EXPECT_TRUE(third.moduleCreated);
    EXPECT_THAT(third.messageTexts(), IsEmpty());
}

TEST(MainWindow, ReadingsLeftByACopyThatDidNotCloseAreSavedAndTheUserIsToldOnce)
{
    QTemporaryDir data;
    {
        ProgramCopy crashed(data.path());
        ASSERT_TRUE(crashed.start());
        for (int i = 1; i <= 3; ++i)
            crashed.module().MeaData->appendRow({ QString::number(i), "65.3", "A", "14:30:15", "12/9/2026" });
        crashed.module().GetRecorde->appendRow({ "0", "48.0", "C", "9:5:30", "5/12/2006" });
        // Gone without File > Exit or the frame's close, as in a crash.
    }

    ProgramCopy next(data.path());
    ASSERT_TRUE(next.start());

    const QString meaDataFile = next.test.folder.filePath("MeaData-2026-12-09.dmr");
    const QString getRecordeFile = next.test.folder.filePath("GetRecorde-2026-12-09.dmr");
    ASSERT_EQ(next.test.ui.messages.size(), 1U);
    EXPECT_EQ(next.test.ui.messages[0].icon, MessageIcon::Information);
    EXPECT_THAT(next.messageTexts()[0].toStdString(), testing::HasSubstr(meaDataFile.toStdString()));
    EXPECT_THAT(next.messageTexts()[0].toStdString(), testing::HasSubstr(getRecordeFile.toStdString()));
    const auto meaData = OpenDataFile(meaDataFile);
    const auto getRecorde = OpenDataFile(getRecordeFile);
    ASSERT_TRUE(meaData && getRecorde);
    EXPECT_EQ(meaData->declaredCount(), 3);
    EXPECT_EQ(getRecorde->declaredCount(), 1);
    // The start-up then emptied the tables as always.
    EXPECT_EQ(next.module().MeaData->rowCount(), 0);
    EXPECT_EQ(next.module().GetRecorde->rowCount(), 0);

    // A normal close, then a normal start: nothing new is said or written.
    next.module().MeaData->appendRow({ "1", "70.0", "A", "14:31:00", "12/9/2026" });
    next.test.ui.answers.push_back(MessageAnswer::Yes);
    next.frame->Exit1->trigger();
    ASSERT_TRUE(next.frame->Ended());
    ProgramCopy afterNormalClose(data.path());
    ASSERT_TRUE(afterNormalClose.start());
    EXPECT_THAT(afterNormalClose.messageTexts(), IsEmpty());
    EXPECT_THAT(QDir(afterNormalClose.test.folder.path()).entryList({ "*.dmr" }), IsEmpty());
}

TEST(MainWindow, ReadingsLeftInTheDatabaseOfAnotherWorkingDirectoryAreSavedToo)
{
    QTemporaryDir locks;
    QTemporaryDir firstDirectory;
    QTemporaryDir secondDirectory;
    {
        ProgramCopy crashed(firstDirectory.path(), true, locks.path());
        ASSERT_TRUE(crashed.start());
        crashed.module().MeaData->appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });
    }

    ProgramCopy next(secondDirectory.path(), true, locks.path());
    ASSERT_TRUE(next.start());

    ASSERT_EQ(next.test.ui.messages.size(), 1U);
    const auto rescued = OpenDataFile(next.test.folder.filePath("MeaData-2026-12-09.dmr"));
    ASSERT_TRUE(rescued.has_value());
    EXPECT_EQ(rescued->declaredCount(), 1);
}

TEST(MainWindow, ReadingsThatCannotBeSavedAreKeptAndTheNextFolderIsTriedInTurn)
{
    struct Case {
        const char* what;
        int writableFolder; // index of the one folder that takes files, -1 for none
    };
    const Case cases[] = { { "every folder unwritable", -1 }, { "only the last (temporary) folder", 3 } };
    for (const Case& c : cases) {
        QTemporaryDir data;
        {
            ProgramCopy crashed(data.path());
            ASSERT_TRUE(crashed.start());
            crashed.module().MeaData->appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });
            crashed.module().MeaData->appendRow({ "2", "65.4", "A", "14:30:16", "12/9/2026" });
            crashed.module().GetRecorde->appendRow({ "0", "48.0", "C", "9:5:30", "5/12/2006" });
        }
        // In place of the program folder, the database's folder, the XDG data folder and the temporary
        // folder: regular files, in which nobody, root included, can create a file.
        QTemporaryDir places;
        QStringList folders;
        for (const char* name : { "program", "database", "xdg-data", "temp" }) {
            QFile blocker(places.filePath(name));
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
            folders << blocker.fileName();
        }
        QTemporaryDir writable;
        if (c.writableFolder >= 0)
            folders[c.writableFolder] = writable.path();

        ProgramCopy next(data.path(), true, {}, ProgramCopy::ImportWindow::StandIn, folders);
        ASSERT_TRUE(next.start()) << c.what;
        ASSERT_EQ(next.test.ui.messages.size(), 1U) << c.what;
        const std::string text = next.messageTexts()[0].toStdString();
        const QStringList written = QDir(writable.path()).entryList({ "*.dmr" });
        if (c.writableFolder < 0) {
            EXPECT_EQ(next.test.ui.messages[0].icon, MessageIcon::Error) << c.what;
            EXPECT_THAT(text, testing::HasSubstr("could not be saved")) << c.what;
            EXPECT_THAT(text, testing::HasSubstr("opening Real Time Measure or Import Data will replace them"))
                << c.what;
            for (const QString& folder : folders)
                EXPECT_THAT(text, testing::HasSubstr(folder.toStdString())) << c.what;
            // The only copy stays where it is.
            EXPECT_EQ(next.module().MeaData->rowCount(), 2) << c.what;
            EXPECT_EQ(next.module().GetRecorde->rowCount(), 1) << c.what;
            EXPECT_THAT(written, IsEmpty()) << c.what;
        } else {
            EXPECT_EQ(next.test.ui.messages[0].icon, MessageIcon::Information) << c.what;
            EXPECT_THAT(written, ElementsAre("GetRecorde-2026-12-09.dmr", "MeaData-2026-12-09.dmr")) << c.what;
            EXPECT_EQ(next.module().MeaData->rowCount(), 0) << c.what << ": saved, so emptied as always";
            EXPECT_EQ(next.module().GetRecorde->rowCount(), 0) << c.what;
        }
        EXPECT_THAT(QDir(data.path()).entryList({ "*.dmr" }), IsEmpty()) << c.what;
    }
}

TEST(ReadingsRescue, DefaultFoldersAreTheProgramTheDatabaseTheXdgDataAndTheTemporaryFolder)
{
    QTemporaryDir home;
    ASSERT_TRUE(QDir(home.path()).mkpath("tmp")) << "Qt takes only an existing folder as the temporary one";
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    const QByteArray savedTemp = qgetenv("TMPDIR");
    qputenv("XDG_DATA_HOME", QDir(home.path()).filePath("share").toLocal8Bit());
    qputenv("TMPDIR", QDir(home.path()).filePath("tmp").toLocal8Bit());
    const QStringList folders = DefaultRescueFolders(home.filePath("program"), home.filePath("db/Decimora.mdb"));
    const QStringList sameFolder
        = DefaultRescueFolders(home.filePath("program"), home.filePath("program/Decimora.mdb"));
    qputenv("XDG_DATA_HOME", savedDataHome);
    qputenv("TMPDIR", savedTemp);
    EXPECT_EQ(folders,
        QStringList(
            { home.filePath("program"), home.filePath("db"), home.filePath("share/decimora"), home.filePath("tmp") }));
    EXPECT_EQ(sameFolder.size(), 3) << "a folder named twice is tried once";
}

TEST(MainWindow, ACrashWithEmptyTablesLeavesNothingToSay)
{
    QTemporaryDir data;
    {
        ProgramCopy crashed(data.path());
        ASSERT_TRUE(crashed.start());
    }
    ProgramCopy next(data.path());
    ASSERT_TRUE(next.start());
    EXPECT_THAT(next.messageTexts(), IsEmpty());
    EXPECT_THAT(QDir(next.test.folder.path()).entryList({ "*.dmr" }), IsEmpty());
}

} // namespace
