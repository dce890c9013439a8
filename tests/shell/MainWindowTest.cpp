// The main window driven offscreen: a module with the simulated meter and scripted dialogs, a real
// reading store in a temporary folder, and stand-ins for the windows of later versions.

#include "DBGridToExcel.h"
#include "DataFile.h"
#include "DecimoraMain.h"
#include "ExportProgressWindow.h"
#include "ExportToExcel.h"
#include "FrameImages.h"
#include "GetRecorde.h"
#include "Measuring.h"
#include "Option.h"
#include "PanelStatusBar.h"
#include "PrivateProfile.h"
#include "SettingsFile.h"
#include "SqliteReadingStore.h"
#include "SystemTexts.h"
#include "TestFiles.h"
#include "TestModule.h"

#include <QAbstractSpinBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <gmock/gmock.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>

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
        ImportWindow importWindow = ImportWindow::StandIn)
        : test(withStore ? std::make_unique<SqliteReadingStore>(QDir(dataFolder).filePath("Decimora.mdb")) : nullptr)
    {
        QFile report(test.folder.filePath("Decimora_en.rav"));
        if (!report.open(QIODevice::WriteOnly))
            ADD_FAILURE() << "cannot create the report definition";

        FrameParts parts;
        parts.createAboutBox = [](TForm6&) { return StandIn("Form3"); };
        parts.createSetupWindow = [this](TForm6& m) -> QWidget* {
            if (realSetupWindow)
                return new TForm8(m);
            return StandIn("Form8");
        };
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
            ExportToExcel(module(), window);
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
    // Option > System Setup opens the real setup window rather than a stand-in.
    bool realSetupWindow = false;
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

// The real setup window in the frame: placed by the frame's formula, no maximise box, no Window-menu
// item, and Option > System Setup disabled from the moment it is chosen until the window has
// closed, whichever way it closes.
TEST(MainWindow, TheSetupWindowKeepsSystemSetupDisabledUntilItCloses)
{
    struct Case {
        const char* way;
        std::function<void(ProgramCopy&, TForm8&)> close;
    };
    const auto press = [](TForm8& window, const char* button) {
        QTest::mouseClick(window.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
    };
    const Case cases[] = {
        { "Ok", [&](ProgramCopy&, TForm8& window) { press(window, "OkButton"); } },
        { "Cancel", [&](ProgramCopy&, TForm8& window) { press(window, "CancelButton"); } },
        { "close box", [](ProgramCopy& c, TForm8& window) { c.subWindowOf(&window)->close(); } },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.way);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        copy.realSetupWindow = true;
        ASSERT_TRUE(copy.start());
        ASSERT_TRUE(copy.test.connect());
        TForm1& frame = *copy.frame;
        frame.show();
        const qsizetype windowMenuItems = frame.WindowMenu()->actions().size();

        frame.SystemSetup1->trigger();

        EXPECT_FALSE(frame.SystemSetup1->isEnabled());
        EXPECT_FALSE(copy.module().SetupCommandEnabled);
        auto* setup = qobject_cast<TForm8*>(frame.ActiveChild());
        ASSERT_NE(setup, nullptr);
        EXPECT_EQ(copy.module().SetupWindow, setup);
        QMdiSubWindow* sub = copy.subWindowOf(setup);
        EXPECT_EQ(sub->size(), QSize(638, 428));
        EXPECT_EQ(sub->pos(), QPoint((frame.width() - 638) / 2, (frame.height() - 428) / 4));
        EXPECT_TRUE(sub->windowFlags() & Qt::WindowSystemMenuHint);
        EXPECT_TRUE(sub->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(sub->windowFlags() & Qt::WindowMaximizeButtonHint);
        frame.Timer1Timer();
        EXPECT_FALSE(frame.SystemSetup1->isEnabled());
        EXPECT_EQ(frame.WindowMenu()->actions().size(), windowMenuItems);
        EXPECT_FALSE(fileCommands(frame).exportAndPrint);
        EXPECT_FALSE(fileCommands(frame).save);

        test.close(copy, *setup);
        ASSERT_TRUE(TestModule::waitUntil([&] { return frame.MdiArea()->subWindowList().isEmpty(); }));
        frame.Timer1Timer();

        EXPECT_TRUE(frame.SystemSetup1->isEnabled());
        EXPECT_EQ(frame.WindowMenu()->actions().size(), windowMenuItems);
        EXPECT_THAT(copy.test.ui.messages, IsEmpty());
    }
}

// What the setup window applies is in memory only; the end of the program writes it to the settings
// file, the alarm levels in tenths.
TEST(MainWindow, SettingsAppliedInTheSetupWindowReachTheSettingsFileAtTheEnd)
{
    struct Case {
        QString low;
        QString high;
        const char* lowKey;
        const char* highKey;
    };
    const Case cases[] = {
        { SystemShortestDecimalText(55.5), "150", "555", "1500" },
        // Far beyond any level: the file keeps the largest its 32-bit tenths can hold.
        { "-5", "1e300", "-50", "2147483647" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.high.toStdString());
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        copy.realSetupWindow = true;
        ASSERT_TRUE(copy.start());
        ASSERT_TRUE(copy.test.connect());
        TForm1& frame = *copy.frame;
        frame.show();
        frame.SystemSetup1->trigger();
        auto* setup = qobject_cast<TForm8*>(frame.ActiveChild());
        ASSERT_NE(setup, nullptr);

        setup->findChild<QTabWidget*>(QStringLiteral("PageControl"))->setCurrentIndex(1);
        const std::pair<const char*, QString> levels[] = { { "LowAlarmBox", test.low }, { "HighAlarmBox", test.high } };
        for (const auto& [name, text] : levels) {
            auto* box = setup->findChild<QAbstractSpinBox*>(QLatin1String(name));
            box->clear();
            QTest::keyClicks(box, text);
        }
        setup->findChild<QRadioButton*>(QStringLiteral("AlarmOffChoice"))->setChecked(true);
        auto* company = setup->findChild<QLineEdit*>(QStringLiteral("CompanyNameBox"));
        company->clear();
        QTest::keyClicks(company, QStringLiteral("Quiet Street Survey"));
        QTest::mouseClick(setup->findChild<QPushButton*>(QStringLiteral("OkButton")), Qt::LeftButton);
        ASSERT_TRUE(TestModule::waitUntil([&] { return frame.MdiArea()->subWindowList().isEmpty(); }));
        const QString settingsFile = copy.test.folder.filePath(QString::fromLatin1(SettingsFileName));
        EXPECT_FALSE(QFile::exists(settingsFile)) << "written only at the end";

        copy.test.ui.answers.push_back(MessageAnswer::Yes);
        frame.Exit1->trigger();
        ASSERT_TRUE(frame.Ended());

        const std::optional<PrivateProfile> settings = PrivateProfile::load(settingsFile);
        ASSERT_TRUE(settings.has_value());
        const auto key = [&](const char* name) {
            return settings->readString(QString::fromLatin1(SettingsSection), QLatin1String(name), QStringLiteral("?"));
        };
        EXPECT_EQ(key("COMPANY_NAME"), "Quiet Street Survey");
        EXPECT_EQ(key("SYSTEMLAL"), QLatin1String(test.lowKey));
        EXPECT_EQ(key("SYSTEMHAL"), QLatin1String(test.highKey));
        EXPECT_EQ(key("ALARMONOFF"), "0");
    }
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

TEST(MainWindow, AMeterWithoutAccessIsNotConnectedButSaysSoInTheToolTipAndOnceInAMessage)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    copy.test.meter.setAccessDenied(true);
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;
    const QString hint = QString::fromLatin1(MeterWithoutAccessHint);

    EXPECT_FALSE(copy.test.connect());
    EXPECT_TRUE(copy.module().MeterWithoutAccess);
    EXPECT_EQ(copy.module().MeterDevice, nullptr);
    frame.Timer1Timer();
    frame.Timer1Timer();
    EXPECT_EQ(frame.PanelText(1), "Disconnect!");
    EXPECT_EQ(frame.StatusBar1()->PanelToolTip(1), hint);
    ASSERT_EQ(copy.test.ui.messages.size(), 1U);
    EXPECT_EQ(copy.test.ui.messages[0].caption, MeterWithoutAccessCaption);
    EXPECT_THAT(copy.messageTexts()[0].toStdString(), testing::HasSubstr("70-decimora-meter.rules"));
    EXPECT_THAT(copy.messageTexts()[0].toStdString(), testing::HasSubstr("install the Decimora package"));

    // Access granted (the rule installed, the meter plugged in again): an ordinary connected meter.
    copy.test.meter.unplug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return !copy.module().MeterWithoutAccess; }));
    copy.test.meter.setAccessDenied(false);
    copy.test.meter.plug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return copy.module().DeviceConnected; }));
    frame.Timer1Timer();
    EXPECT_EQ(frame.PanelText(1), "Connect OK!");
    EXPECT_EQ(frame.StatusBar1()->PanelToolTip(1), QString());

    // No meter at all: nothing about access. A meter without access again: the tool tip, but the
    // message was for once a run.
    copy.test.meter.unplug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return !copy.module().DeviceConnected; }));
    frame.Timer1Timer();
    EXPECT_EQ(frame.PanelText(1), "Disconnect!");
    EXPECT_EQ(frame.StatusBar1()->PanelToolTip(1), QString());
    copy.test.meter.setAccessDenied(true);
    copy.test.meter.plug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return copy.module().MeterWithoutAccess; }));
    frame.Timer1Timer();
    EXPECT_EQ(frame.StatusBar1()->PanelToolTip(1), hint);
    EXPECT_EQ(copy.test.ui.messages.size(), 1U);
}

TEST(MainWindow, AnEndAskedForFromOutsideWritesTheSettingsWithoutAskingAndKeepsUnsavedReadingsForRescue)
{
    struct Case {
        const char* tables;
        int meaDataRows;
        bool rescuedAtNextStart;
    };
    const Case cases[] = { { "empty tables", 0, false }, { "readings not saved", 2, true } };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.tables);
        QTemporaryDir data;
        {
            ProgramCopy copy(data.path());
            ASSERT_TRUE(copy.start());
            copy.frame->show();
            for (int i = 1; i <= test.meaDataRows; ++i)
                copy.module().MeaData->appendRow({ QString::number(i), "65.3", "A", "14:30:15", "12/9/2026" });

            copy.frame->EndWithoutAsking();

            EXPECT_TRUE(copy.frame->Ended());
            EXPECT_FALSE(copy.frame->isVisible());
            EXPECT_THAT(copy.messageTexts(), IsEmpty());
            EXPECT_TRUE(QFile::exists(copy.test.folder.filePath("Decimora.INI")));
        }
        ProgramCopy next(data.path());
        ASSERT_TRUE(next.start());
        if (test.rescuedAtNextStart) {
            ASSERT_EQ(next.test.ui.messages.size(), 1U);
            const auto rescued = OpenDataFile(next.test.folder.filePath("MeaData-2026-12-09.dmr"));
            ASSERT_TRUE(rescued.has_value());
            EXPECT_EQ(rescued->declaredCount(), test.meaDataRows);
        } else {
            EXPECT_THAT(next.messageTexts(), IsEmpty());
        }
    }
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

// ---------------------------------------------------------------------------------------------------
// File > Export to Excel

// The records of a BIFF worksheet stream, one text each: "row,col LABEL text", "row,col RK n",
// "row,col NUMBER x", "row,col BLANK xf", "BOF", "EOF".
QStringList sheetRecords(const QByteArray& bytes)
{
    const auto u16 = [&](qsizetype at) { return quint32(quint8(bytes[at])) | (quint32(quint8(bytes[at + 1])) << 8); };
    QStringList records;
    qsizetype at = 0;
    while (at + 4 <= bytes.size()) {
        const quint32 id = u16(at);
        const qsizetype data = at + 4;
        const qsizetype end = data + u16(at + 2);
        if (end > bytes.size()) {
            records << QStringLiteral("cut short");
            break;
        }
        const QString cell = end - data >= 4 ? QStringLiteral("%1,%2 ").arg(u16(data)).arg(u16(data + 2)) : QString();
        if (id == 0x0809) {
            records << QStringLiteral("BOF");
        } else if (id == 0x000A) {
            records << QStringLiteral("EOF");
        } else if (id == 0x0204) {
            records << cell + QStringLiteral("LABEL ") + QString::fromLatin1(bytes.mid(data + 8, u16(data + 6)));
        } else if (id == 0x027E) {
            const auto rk = qint32(u16(data + 6) | (u16(data + 8) << 16));
            records << cell + QStringLiteral("RK %1").arg(rk >> 2);
        } else if (id == 0x0203) {
            double value = 0;
            std::memcpy(&value, bytes.constData() + data + 6, sizeof value);
            records << cell + QStringLiteral("NUMBER %1").arg(value);
        } else if (id == 0x0201) {
            records << cell + QStringLiteral("BLANK %1").arg(u16(data + 4));
        } else {
            records << QStringLiteral("record %1").arg(id, 4, 16, QLatin1Char('0'));
        }
        at = end;
    }
    return records;
}

// The sheet the export makes of a table: an empty title at row 0, column 3, the five column titles in
// row 1, then one row per reading, the table's Unit column (where it has one) a blank after the five.
QStringList expectedSheet(const ReadingTable& table, bool unitColumn)
{
    QStringList records { "BOF", "0,3 LABEL ", "1,0 LABEL RecNo", "1,1 LABEL MeaValue", "1,2 LABEL Weight",
        "1,3 LABEL Time", "1,4 LABEL Date" };
    int row = 2;
    table.forEachRow([&](const ReadingRow& reading) {
        const QString at = QString::number(row++) + QLatin1Char(',');
        records << at + "0 RK " + reading.recNo << at + "1 LABEL " + reading.meaValue
                << at + "2 LABEL " + reading.weight << at + "3 LABEL " + reading.time << at + "4 LABEL " + reading.date;
        if (unitColumn)
            records << at + "5 BLANK 23";
    });
    return records << "EOF";
}

QString exportMessage(qint64 records, const QString& path)
{
    return QStringLiteral("Exported  %1  records total. \r").arg(records) + path;
}

QString replaceQuestion(const QString& path)
{
    return path + "  already exists!\rDo you want to replace it?";
}

TEST(MainWindow, ExportToExcelWritesTheActiveWindowsTableAndSaysHowManyRecords)
{
    struct Case {
        const char* window;
        std::function<void(ProgramCopy&)> arrange;
        ReadingTable* TForm6::*table;
        bool unitColumn;
        bool fileExists; // answered Yes
    };
    const Case cases[] = {
        { "Form5",
            [](ProgramCopy& c) {
                c.frame->RealTimeMeasure1->trigger();
                ASSERT_TRUE(c.test.connect());
                c.measurementWindow()->StartButtonClick();
                for (int i = 0; i < 3; ++i)
                    c.takeReading();
                c.measurementWindow()->StopButtonClick();
            },
            &TForm6::MeaData, true, true },
        { "Form4",
            [](ProgramCopy& c) {
                c.frame->ImportData1->trigger();
                ASSERT_TRUE(c.test.connect());
                c.test.meter.setLoggedMemory(
                    { 0xFD, 0x00, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0x0A, 0x51, 0xA5, 0x7A, 0xFF });
                qobject_cast<TForm4*>(c.module().ImportWindow.data())->ImportButtonClick();
            },
            &TForm6::GetRecorde, false, false },
        { "Form7",
            [](ProgramCopy& c) {
                c.frame->Open1->trigger();
                c.module().LoadData->appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });
                c.module().LoadData->appendRow({ "2", "48.0", "C", "9:5:30", "5/12/2006" });
            },
            &TForm6::LoadData, true, true },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.window);
        QTemporaryDir data;
        ProgramCopy copy(data.path(), true, {}, ProgramCopy::ImportWindow::Real);
        ASSERT_TRUE(copy.start());
        test.arrange(copy);
        copy.frame->Timer1Timer();
        ASSERT_EQ(copy.frame->ActiveChild()->objectName(), test.window);
        ASSERT_TRUE(copy.frame->ExporttoExcel1->isEnabled());
        const ReadingTable& table = *(copy.module().*test.table);
        const QString path = copy.test.folder.filePath("readings.xls");
        if (test.fileExists)
            writeFile(path, "an older sheet");
        copy.test.ui.saveFileNames.push_back(path);
        copy.test.ui.answers.push_back(MessageAnswer::Yes);

        copy.frame->ExporttoExcel1->trigger();

        ASSERT_EQ(copy.test.ui.saveDialogs.size(), 1U);
        EXPECT_EQ(copy.test.ui.saveDialogs[0].filter, "*.XLS|*.XLS|*.xls|*.xls|*.xlsx|*.xlsx|*.csv|*.csv");
        EXPECT_EQ(copy.test.ui.saveDialogs[0].defaultExtension, "XLS");
        EXPECT_EQ(sheetRecords(readFile(path)), expectedSheet(table, test.unitColumn));
        const auto& messages = copy.test.ui.messages;
        ASSERT_EQ(messages.size(), test.fileExists ? 2U : 1U);
        if (test.fileExists) {
            EXPECT_EQ(messages[0].text, replaceQuestion(path));
            EXPECT_EQ(messages[0].caption, "Query  Information");
            EXPECT_EQ(messages[0].buttons, MessageButtons::YesNo);
            EXPECT_EQ(messages[0].icon, MessageIcon::Question);
        }
        EXPECT_EQ(messages.back().text, exportMessage(table.rowCount(), path));
        EXPECT_EQ(messages.back().caption, "Export Data");
        EXPECT_EQ(messages.back().buttons, MessageButtons::Ok);
        EXPECT_EQ(messages.back().icon, MessageIcon::Information);
        EXPECT_EQ(copy.module().LastErrorText, exportMessage(table.rowCount(), path));
    }
}

// The measurement window with three readings taken and the run stopped, ready to export.
void takeThreeReadings(ProgramCopy& copy)
{
    copy.frame->RealTimeMeasure1->trigger();
    ASSERT_TRUE(copy.test.connect());
    copy.measurementWindow()->StartButtonClick();
    for (int i = 0; i < 3; ++i)
        copy.takeReading();
    copy.measurementWindow()->StopButtonClick();
    copy.frame->Timer1Timer();
}

TEST(MainWindow, AnsweringNoAtTheReplaceQuestionLeavesTheFileByteForByte)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    takeThreeReadings(copy);
    const QString path = copy.test.folder.filePath("readings.XLS");
    const QByteArray old = QByteArray::fromHex("0908080000001000000000000a000000");
    writeFile(path, old);
    copy.test.ui.saveFileNames.push_back(path);
    copy.test.ui.answers.push_back(MessageAnswer::No);

    copy.frame->ExporttoExcel1->trigger();

    EXPECT_EQ(readFile(path), old);
    EXPECT_THAT(copy.messageTexts(), ElementsAre(replaceQuestion(path)));
    EXPECT_THAT(QDir(copy.test.folder.path()).entryList({ "*readings*" }, QDir::Files | QDir::Hidden),
        ElementsAre("readings.XLS"));
}

TEST(MainWindow, AnExportThatCannotBeWrittenSaysWhyAndNothingOfRecordsAndKeepsTheOldFile)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    takeThreeReadings(copy);
    const QString path = copy.test.folder.filePath("readings.xls");
    writeFile(path, "an older sheet");
    copy.test.ui.saveFileNames.push_back(path);
    copy.test.ui.answers.push_back(MessageAnswer::Yes);

    // A disk that is full once a file reaches 100 bytes; the sheet of three readings takes more.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit original {};
    getrlimit(RLIMIT_FSIZE, &original);
    rlimit small = original;
    small.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &small);
    copy.frame->ExporttoExcel1->trigger();
    setrlimit(RLIMIT_FSIZE, &original);

    EXPECT_EQ(readFile(path), "an older sheet");
    const auto& messages = copy.test.ui.messages;
    ASSERT_EQ(messages.size(), 2U);
    EXPECT_EQ(messages[1].text, "Cannot write " + path + ": File too large");
    EXPECT_EQ(messages[1].caption, "Error Information");
    EXPECT_EQ(messages[1].icon, MessageIcon::Error);
}

TEST(MainWindow, ATableTooLongForXlsIsRefusedWithTheLimitAndGoesToXlsx)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    copy.frame->RealTimeMeasure1->trigger();
    qint64 appended = 0;
    copy.module().MeaData->appendRows([&](RowToAppend& row) {
        if (appended == 65535)
            return false;
        row.recNo = ++appended;
        row.text = { "65.3", "A", "14:30:15", "12/9/2026" };
        return true;
    });
    copy.frame->Timer1Timer();
    const QString xls = copy.test.folder.filePath("long.xls");
    const QString xlsx = copy.test.folder.filePath("long.xlsx");
    copy.test.ui.saveFileNames = { xls, xlsx };

    copy.frame->ExporttoExcel1->trigger();

    EXPECT_FALSE(QFile::exists(xls));
    ASSERT_EQ(copy.test.ui.messages.size(), 1U);
    EXPECT_EQ(copy.test.ui.messages[0].text,
        "65,535 records do not fit in an .xls file: its sheet holds at most 65,536 rows, and these would take 65,537 "
        "with the title and the column titles.\rChoose *.xlsx in the Save dialog to export them all.");
    EXPECT_EQ(copy.test.ui.messages[0].caption, "Error Information");

    copy.frame->ExporttoExcel1->trigger();

    EXPECT_TRUE(readFile(xlsx).startsWith("PK"));
    ASSERT_EQ(copy.test.ui.messages.size(), 2U);
    EXPECT_EQ(copy.test.ui.messages[1].text, exportMessage(65535, xlsx));
}

TEST(MainWindow, TheExportProgressWindowShowsItsTextAndGaugeWhileAWriterAskedForItWrites)
{
    const std::unique_ptr<ExportProgress> shown = ShowExportProgressWindow(5);
    auto* window = dynamic_cast<ExportProgressWindow*>(shown.get());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->size(), QSize(300, 100));
    EXPECT_EQ(window->geometry().center(), QGuiApplication::primaryScreen()->geometry().center());
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(window->font().family(), QString::fromUtf8("宋体"));
    EXPECT_EQ(window->font().pointSize(), 9);
    EXPECT_EQ(window->Panel()->geometry(), QRect(1, 1, 298, 98));
    EXPECT_EQ(window->Label()->text(), QString::fromUtf8("正在导出数据，请稍候......"));
    EXPECT_TRUE(window->Label()->font().bold());
    EXPECT_EQ(window->Label()->pos(), QPoint(25, 25));
    EXPECT_EQ(window->Gauge()->geometry(), QRect(20, 50, 260, 13));
    EXPECT_EQ(window->Gauge()->minimum(), 0);
    EXPECT_EQ(window->Gauge()->maximum(), 5);
    window->setPosition(3);
    EXPECT_EQ(window->Gauge()->value(), 3);

    // A writer asked to show progress shows this window, runs its gauge to the record count, and
    // frees it when done.
    QTemporaryDir dir;
    SqliteReadingStore store(dir.filePath("Decimora.mdb"));
    for (int i = 1; i <= 4; ++i)
        store.meaData().appendRow({ QString::number(i), "65.3", "A", "14:30:15", "12/9/2026" });
    ReadingTableDataSet dataSet(store.meaData());
    const GridDescription grid = ReadingsGridDescription(dataSet);
    QPointer<ExportProgressWindow> during;
    int lastValue = -1;
    ExportSheetHooks hooks;
    hooks.showProgress = [&](qint64 recordCount) {
        std::unique_ptr<ExportProgress> progress = ShowExportProgressWindow(recordCount);
        during = dynamic_cast<ExportProgressWindow*>(progress.get());
        QObject::connect(during->Gauge(), &QProgressBar::valueChanged, [&](int value) { lastValue = value; });
        return progress;
    };
    TDBGridToExcel writer(hooks);
    writer.DBGrid = &grid;
    writer.FileName = dir.filePath("out.xls");
    writer.ExportSheet();

    EXPECT_EQ(lastValue, 4);
    EXPECT_TRUE(during.isNull());
    EXPECT_TRUE(QFile::exists(writer.FileName));
}

} // namespace
