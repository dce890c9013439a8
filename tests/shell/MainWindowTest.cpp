// The main window driven offscreen: a module with the simulated meter and scripted dialogs, a real
// reading store in a temporary folder, and stand-ins for the windows of later versions.

#include "analysis/DataAnalyze.h"
#include "core/PrivateProfile.h"
#include "core/ReadingStatistics.h"
#include "core/SettingsFile.h"
#include "core/SystemTexts.h"
#include "datafile/DataFile.h"
#include "desktop/ChosenPrinter.h"
#include "import/GetRecorde.h"
#include "measure/Measuring.h"
#include "output/DBGridToExcel.h"
#include "report/DataSheetPrinting.h"
#include "report/ReportEngine.h"
#include "setup/Option.h"
#include "shell/DecimoraMain.h"
#include "shell/ExportProgressWindow.h"
#include "shell/ExportToExcel.h"
#include "shell/FrameImages.h"
#include "shell/PanelStatusBar.h"
#include "shell/ReadingsRescue.h"
#include "stats/StatisticsRows.h"
#include "statswindow/SoundLevelStatisticsWindow.h"
#include "store/SqliteReadingStore.h"
#include "support/PdfReading.h"
#include "support/TestFiles.h"
#include "support/TestModule.h"
#include "widgets/GraphPanel.h"

#include <QAbstractSpinBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPrinter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <gmock/gmock.h>
#include <numeric>

#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include <sqlite3.h>

namespace {

// The data sheet definition the program ships, found from the test's sources.
const QString ShippedDataSheet
    = QDir(QStringLiteral(QT_TESTCASE_SOURCEDIR)).filePath("../../resources/Decimora_en.rav");

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
    enum class AnalysisWindow { StandIn, Real };

    explicit ProgramCopy(const QString& dataFolder, bool withStore = true, const QString& lockFolder = {},
        ImportWindow importWindow = ImportWindow::StandIn, AnalysisWindow analysisWindow = AnalysisWindow::StandIn,
        const QStringList& rescueFolders = {})
        : test(withStore ? std::make_unique<SqliteReadingStore>(QDir(dataFolder).filePath("Decimora.mdb")) : nullptr)
    {
        if (!QFile::copy(ShippedDataSheet, test.folder.filePath("Decimora_en.rav")))
            ADD_FAILURE() << "cannot copy the report definition";

        FrameParts parts;
        parts.createAboutBox = [](TForm6&) { return StandIn("Form3"); };
        parts.createSetupWindow = [this](TForm6& m) -> QWidget* {
            if (realSetupWindow)
                return new TForm8(m);
            return StandIn("Form8");
        };
        parts.createImportWindow = [this, importWindow](TForm6& m) -> ReadingsWindow* {
            if (importWindow == ImportWindow::Real)
                return new TForm4(m, printer);
            return new StandInReadingsWindow("Form4", m.GetRecorde, false, calls);
        };
        parts.createAnalysisWindow = [this, analysisWindow](TForm6& m) -> ReadingsWindow* {
            if (analysisWindow == AnalysisWindow::Real)
                return new TForm7(m, printer);
            return new StandInReadingsWindow("Form7", m.LoadData, true, calls);
        };
        parts.exportToExcel = [this](ReadingsWindow& window) {
            ++calls.exports;
            exportedFrom = window.objectName();
            ExportToExcel(module(), window);
        };
        parts.printDataSheet = [this](ReadingsWindow& window) {
            PrintDataSheet(module(), printer.printer(), window.readingsTable(), &window);
        };
        frame = std::make_unique<TForm1>(ShellServices {
                                             test.ui,
                                             printer,
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
    TForm7* analysisWindow() { return qobject_cast<TForm7*>(module().AnalysisWindow.data()); }
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
    ChosenPrinter printer;
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

// The text of a figure in the statistics window, by its row's label and its column's name.
QString Figure(const TForm1& frame, const QString& label, const QString& column)
{
    const auto* table = frame.StatisticsWindow()->findChild<QTableWidget*>("FiguresTable");
    int columnIndex = -1;
    for (int c = 0; c < table->columnCount(); ++c) {
        if (table->horizontalHeaderItem(c)->text() == column)
            columnIndex = c;
    }
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->verticalHeaderItem(row)->text() == label && columnIndex >= 0)
            return table->item(row, columnIndex)->text();
    }
    return QStringLiteral("<no %1 in %2>").arg(label, column);
}

QStringList FigureLabels(const TForm1& frame)
{
    const auto* table = frame.StatisticsWindow()->findChild<QTableWidget*>("FiguresTable");
    QStringList labels;
    for (int row = 0; row < table->rowCount(); ++row)
        labels << table->verticalHeaderItem(row)->text();
    return labels;
}

QString Level(double level)
{
    return SystemOneDecimalText(level);
}

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
    ASSERT_TRUE(frame.StatusProgressBar());
    EXPECT_EQ(frame.StatusProgressBar()->geometry(), QRect(231, 2, 350, 26));
    EXPECT_TRUE(copy.module().FormsReady);
    EXPECT_TRUE(copy.module().AboutCommandEnabled);
    copy.module().ProgressPosition = 40;
    frame.Timer1Timer();
    EXPECT_EQ(frame.StatusProgressBar()->value(), 40);
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

// Option > Statistics beside a running measurement: the figures follow the run at the frame's
// one-second refresh, A- and C-weighted readings apart, and stay with the measurement window while
// the statistics window itself is the active child. Expected figures from
// tests/stats/expected_levels.py ("60, 70, 60, 70 dB, 1 s apart": Leq 67.4036, SEL 73.4242).
TEST(MainWindow, TheStatisticsWindowFollowsARunningMeasurement)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;
    copy.module().SystemHighAlarm = 85.0;
    const QList<QAction*> menus = frame.menuBar()->actions();
    ASSERT_GE(menus.size(), 2);
    EXPECT_EQ(menus[1]->text(), "&Option");
    ASSERT_NE(menus[1]->menu(), nullptr);
    EXPECT_EQ(menus[1]->menu()->actions().last(), frame.Statistics1);
    EXPECT_EQ(frame.Statistics1->text(), "&Statistics");

    frame.RealTimeMeasure1->trigger();
    ASSERT_TRUE(copy.test.connect());
    copy.measurementWindow()->StartButtonClick();
    // The test's ticks take the run's readings, so that no reading of the simulated noise comes between.
    copy.measurementWindow()->findChild<QTimer*>("Timer1")->stop();
    copy.test.meter.queueReadings({ 600, 700, 600, 700 });
    for (int i = 0; i < 4; ++i)
        copy.takeReading();

    frame.Statistics1->trigger();
    ASSERT_NE(frame.StatisticsWindow(), nullptr);
    EXPECT_EQ(frame.ActiveChild(), frame.StatisticsWindow());
    EXPECT_EQ(frame.StatisticsWindow()->windowTitle(), "Sound Level Statistics");
    EXPECT_EQ(frame.StatisticsWindow()->source(), copy.measurementWindow());
    EXPECT_EQ(FigureLabels(frame),
        QStringList({ "LAeq", "LA10", "LA50", "LA90", "LAmax", "LAmin", "LAE (SEL)", "Readings (A)", "Duration (A)",
            "Readings above 85 dB (A)", "Time above 85 dB (A)" }));
    EXPECT_EQ(Figure(frame, "LAeq", "Measurement"), Level(67.4));
    EXPECT_EQ(Figure(frame, "LA10", "Measurement"), Level(70.0));
    EXPECT_EQ(Figure(frame, "LA90", "Measurement"), Level(60.0));
    EXPECT_EQ(Figure(frame, "LAE (SEL)", "Measurement"), Level(73.4));
    EXPECT_EQ(Figure(frame, "Duration (A)", "Measurement"), "0:00:04");

    // Two C-weighted readings, one over the alarm level: the next tick shows them in rows of their own.
    copy.test.meter.setCWeighting(true);
    copy.test.meter.queueReadings({ 800, 900 });
    copy.takeReading();
    copy.takeReading();
    EXPECT_EQ(Figure(frame, "Readings (C)", "Measurement"), "<no Readings (C) in Measurement>");
    frame.Timer1Timer();
    EXPECT_EQ(Figure(frame, "Readings (A)", "Measurement"), "4");
    EXPECT_EQ(Figure(frame, "LAeq", "Measurement"), Level(67.4));
    EXPECT_EQ(Figure(frame, "Readings (C)", "Measurement"), "2");
    EXPECT_EQ(Figure(frame, "LCmax", "Measurement"), Level(90.0));
    EXPECT_EQ(Figure(frame, "LCmin", "Measurement"), Level(80.0));
    EXPECT_EQ(Figure(frame, "Time above 85 dB (C)", "Measurement"), "0:00:01");
    EXPECT_EQ(frame.StatisticsWindow()->source(), copy.measurementWindow());

    // Clear starts the figures afresh with the table.
    copy.measurementWindow()->StopButtonClick();
    copy.measurementWindow()->ClearButtonClick();
    frame.Timer1Timer();
    EXPECT_TRUE(FigureLabels(frame).isEmpty());
    EXPECT_EQ(frame.StatisticsWindow()->findChild<QLabel*>("NoteLabel")->text(), "No readings yet.");

    // A second Statistics brings the same window to the front; closing the measurement window
    // leaves it with nothing to show.
    frame.Statistics1->trigger();
    EXPECT_EQ(frame.MdiArea()->subWindowList().size(), 2);
    const QPointer<TForm5> measurement = copy.measurementWindow();
    ASSERT_TRUE(copy.subWindowOf(measurement)->close());
    ASSERT_TRUE(TestModule::waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return measurement.isNull();
    }));
    frame.Timer1Timer();
    EXPECT_EQ(frame.StatisticsWindow()->source(), nullptr);
    EXPECT_EQ(frame.StatisticsWindow()->findChild<QTableWidget*>("FiguresTable")->columnCount(), 0);
}

// After a download of three runs, two A-weighted ones 1 s and 60 s apart and a C-weighted one 2 s
// apart: each reading stands for its run's interval. Expected figures from
// tests/stats/expected_levels.py ("two runs, 1 s and 60 s apart": LAeq 72.1727, LAE 100.0260;
// 2 readings of 80 dB 2 s apart: LCE 86.0206). A window without accumulators of its own (here a
// stand-in analysis window over LoadData) is read from its table, with no interval known.
TEST(MainWindow, TheStatisticsWindowShowsADownloadAndAWindowReadFromItsTable)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path(), true, {}, ProgramCopy::ImportWindow::Real);
    ASSERT_TRUE(copy.start());
    ASSERT_TRUE(copy.test.connect());
    TForm1& frame = *copy.frame;
    copy.module().SystemHighAlarm = 85.0;
    frame.ImportData1->trigger();
    auto* window = qobject_cast<TForm4*>(copy.module().ImportWindow.data());
    ASSERT_NE(window, nullptr);

    // Pairs of two readings: 90.0 and 90.0, 50.0 and 50.0, 80.0 and 80.0 dB.
    const std::vector<std::uint8_t> loud { 0x70, 0x87, 0x08 };
    const std::vector<std::uint8_t> quiet { 0x3E, 0x83, 0xE8 };
    const std::vector<std::uint8_t> eighty { 0x64, 0x06, 0x40 };
    std::vector<std::uint8_t> memory { 0xFD, 0x00, 0x00, 0x00, 0x09, 0x12, 0x05, 0x06, 0x01 };
    for (int i = 0; i < 5; ++i)
        memory.insert(memory.end(), loud.begin(), loud.end());
    memory.insert(memory.end(), { 0xFD, 0x00, 0x00, 0x10, 0x09, 0x12, 0x05, 0x06, 0x3C });
    for (int i = 0; i < 5; ++i)
        memory.insert(memory.end(), quiet.begin(), quiet.end());
    memory.insert(memory.end(), { 0xFD, 0x10, 0x00, 0x00, 0x11, 0x12, 0x05, 0x06, 0x02 });
    memory.insert(memory.end(), eighty.begin(), eighty.end());
    memory.push_back(0xFF);
    copy.test.meter.setLoggedMemory(memory);
    window->ImportButtonClick();
    ASSERT_EQ(copy.module().GetRecorde->rowCount(), 22);

    frame.Statistics1->trigger();
    EXPECT_EQ(frame.StatisticsWindow()->source(), window);
    struct Shown {
        const char* label;
        QString text;
    };
    const Shown shown[] = {
        { "LAeq", Level(72.2) },
        { "LA10", Level(50.0) },
        { "LAmax", Level(90.0) },
        { "LAE (SEL)", Level(100.0) },
        { "Readings (A)", "20" },
        { "Duration (A)", "0:10:10" },
        { "Readings above 85 dB (A)", "10" },
        { "Time above 85 dB (A)", "0:00:10" },
        { "LCeq", Level(80.0) },
        { "LCE (SEL)", Level(86.0) },
        { "Duration (C)", "0:00:04" },
    };
    for (const Shown& s : shown)
        EXPECT_EQ(Figure(frame, s.label, "Download"), s.text) << s.label;

    // A download that brings nothing keeps the rows, and the figures, of the one before.
    copy.test.meter.setLoggedMemory({ 0xFF });
    window->ImportButtonClick();
    frame.Timer1Timer();
    EXPECT_EQ(Figure(frame, "Readings (A)", "Download"), "20");
    EXPECT_EQ(Figure(frame, "Duration (A)", "Download"), "0:10:10");

    frame.Open1->trigger();
    copy.module().LoadData->appendRow({ "1", "60.0", "A", "14:30:15", "12/9/2026" });
    copy.module().LoadData->appendRow({ "2", "70.0", "A", "14:30:16", "12/9/2026" });
    copy.module().LoadData->appendRow({ "3", "not a level", "A", "14:30:17", "12/9/2026" });
    frame.Timer1Timer();
    EXPECT_EQ(frame.StatisticsWindow()->source()->objectName(), "Form7");
    EXPECT_EQ(Figure(frame, "LAeq", "All readings"), Level(67.4));
    EXPECT_EQ(Figure(frame, "Readings (A)", "All readings"), "2");
    // A table keeps no interval: the readings last as their time stamps say, a second each (60 and
    // 70 dB for a second: SEL 70.4 dB, expected_levels.py).
    EXPECT_EQ(Figure(frame, "Duration (A)", "All readings"), "0:00:02");
    EXPECT_EQ(Figure(frame, "LAE (SEL)", "All readings"), Level(70.4));
    EXPECT_EQ(frame.StatisticsWindow()->findChild<QLabel*>("NoteLabel")->text(),
        "Rows left out, without a level in tenths of a dB or an A or C weighting: 1");
}

// A data file of readings as the program writes them.
QString WriteReadings(const QString& path, const QStringList& values)
{
    QByteArray content = QByteArray(DataFileHeader) + "\r\nTotal:" + QByteArray::number(values.size()) + "\r\n";
    for (const QString& value : values)
        content += "5/12/2006 ,9:5:30  ," + value.leftJustified(6).toLatin1() + ",A\r\n";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

// The real analysis window in the frame: opened maximised by File > Open and listed once, each Open
// one more file into the same window, export and print on its table even when empty, no save; its
// close asks nothing and drops its item, and the next Open starts afresh from an emptied table.
TEST(MainWindow, FileOpenLoadsIntoOneAnalysisWindowThatStartsAfreshAfterItsClose)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path(), true, {}, ProgramCopy::ImportWindow::StandIn, ProgramCopy::AnalysisWindow::Real);
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;
    TForm6& m = copy.module();
    const QString first = WriteReadings(copy.test.folder.filePath("first.dmr"), { "50.0", "51.0", "52.0" });
    const QString second = WriteReadings(copy.test.folder.filePath("second.dmr"), { "60.0", "61.0" });

    copy.test.ui.openFileNames.push_back(QString());
    frame.Open1->trigger();
    frame.Timer1Timer();
    TForm7* window = copy.analysisWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(frame.ActiveChild(), window);
    EXPECT_TRUE(copy.subWindowOf(window)->isMaximized());
    EXPECT_EQ(window->windowTitle(), "Data View & Analyze");
    EXPECT_EQ(copy.windowMenuCount(frame.menuanalyze), 1);
    EXPECT_EQ(frame.menuanalyze->text(), "Reprot Analyzing Window");
    EXPECT_TRUE(frame.menuanalyze->isChecked());
    EXPECT_EQ(copy.test.ui.openDialogs.size(), 1U);
    EXPECT_EQ(fileCommands(frame).exportAndPrint, true) << "also while the table is empty";
    EXPECT_FALSE(fileCommands(frame).save);

    copy.test.ui.openFileNames.push_back(first);
    frame.Open1->trigger();
    copy.test.ui.openFileNames.push_back(second);
    frame.Open1->trigger();
    frame.Timer1Timer();
    EXPECT_EQ(frame.MdiArea()->subWindowList().size(), 1);
    EXPECT_EQ(copy.analysisWindow(), window);
    EXPECT_EQ(copy.windowMenuCount(frame.menuanalyze), 1);
    EXPECT_EQ(m.LoadedFileCount, 2);
    EXPECT_EQ(m.LoadData->rowCount(), 5);
    EXPECT_TRUE(fileCommands(frame).exportAndPrint);
    EXPECT_FALSE(fileCommands(frame).save);

    ASSERT_TRUE(copy.subWindowOf(window)->close());
    ASSERT_TRUE(TestModule::waitUntil([&] { return frame.MdiArea()->subWindowList().isEmpty(); }));
    frame.Timer1Timer();
    EXPECT_EQ(copy.windowMenuCount(frame.menuanalyze), 0);
    EXPECT_FALSE(m.AnalysisWindowOpen);
    EXPECT_FALSE(m.AnalysisWindowHandle);
    EXPECT_EQ(m.LoadData->rowCount(), 5) << "the rows stay until the next Open";
    EXPECT_THAT(copy.test.ui.messages, IsEmpty());

    copy.test.ui.openFileNames.push_back(second);
    frame.Open1->trigger();
    frame.Timer1Timer();
    window = copy.analysisWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(copy.subWindowOf(window)->isMaximized());
    EXPECT_EQ(copy.windowMenuCount(frame.menuanalyze), 1);
    EXPECT_EQ(m.LoadedFileCount, 1);
    EXPECT_EQ(window->findChild<QLineEdit*>("FileNumbersBox")->text(), "1");
    ASSERT_EQ(m.LoadData->rowCount(), 2);
    EXPECT_EQ(m.LoadData->row(0).recNo, "1");
    EXPECT_EQ(m.LoadData->row(1).recNo, "2");
    EXPECT_EQ(window->FileEndRecNo(1), 3);
    EXPECT_EQ(window->RowColour(1), QColor(0, 0, 255));
    EXPECT_EQ(window->Graph()->series(0)->color(), QColor(0, 0, 255));
}

// The analysis table cannot be emptied (here another program's trigger refuses; a full disk or a
// locked database do the same): the database's words are shown, the window opens and loads the file
// after the rows it could not remove, and the program goes on.
TEST(MainWindow, AnAnalysisTableThatCannotBeEmptiedIsReportedAndTheProgramGoesOn)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path(), true, {}, ProgramCopy::ImportWindow::StandIn, ProgramCopy::AnalysisWindow::Real);
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;
    TForm6& m = copy.module();
    m.LoadData->appendRow({ "1", "40.0", "A", "8:0:0", "1/2/2026" });
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QDir(data.path()).filePath("Decimora.mdb").toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other,
                  "CREATE TRIGGER keep BEFORE DELETE ON LoadData BEGIN SELECT RAISE(ABORT, 'database is locked'); END",
                  nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(other);

    copy.test.ui.openFileNames.push_back(WriteReadings(copy.test.folder.filePath("first.dmr"), { "50.0", "51.0" }));
    frame.Open1->trigger();

    ASSERT_EQ(copy.test.ui.messages.size(), 1U);
    EXPECT_THAT(copy.test.ui.messages[0].text.toStdString(), testing::HasSubstr("database is locked"));
    EXPECT_EQ(copy.test.ui.messages[0].caption, "Error Information");
    EXPECT_EQ(copy.test.ui.messages[0].icon, MessageIcon::Error);
    ASSERT_NE(copy.analysisWindow(), nullptr);
    EXPECT_TRUE(m.LoadData->isOpen());
    EXPECT_EQ(m.LoadedFileCount, 1);
    ASSERT_EQ(m.LoadData->rowCount(), 3);
    EXPECT_EQ(m.LoadData->row(2).recNo, "3");
    frame.Timer1Timer();
    EXPECT_FALSE(frame.Ended());
    EXPECT_TRUE(frame.Open1->isEnabled());
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

        ProgramCopy next(
            data.path(), true, {}, ProgramCopy::ImportWindow::StandIn, ProgramCopy::AnalysisWindow::StandIn, folders);
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

// The .xlsx's Statistics sheet counts the readings above the high alarm level set in the program,
// as openpyxl (Debian's /usr/bin/python3) reads the file.
TEST(MainWindow, AnXlsxExportCountsTheReadingsAboveTheAlarmLevelTheUserSet)
{
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/python3"), { "-c", "import openpyxl" });
    if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        GTEST_SKIP() << "Debian's /usr/bin/python3 with openpyxl (python3-openpyxl) is needed to read the .xlsx";

    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    copy.test.meter.queueReadings({ 500, 700, 900 });
    takeThreeReadings(copy);
    copy.module().SystemHighAlarm = 60.0;
    const QString path = copy.test.folder.filePath("levels.xlsx");
    copy.test.ui.saveFileNames.push_back(path);
    copy.frame->ExporttoExcel1->trigger();
    ASSERT_TRUE(QFile::exists(path)) << copy.messageTexts().join('|').toStdString();

    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"),
        { "-c",
            "import openpyxl, sys\n"
            "sheet = openpyxl.load_workbook(sys.argv[1])['Statistics']\n"
            "for row in sheet.iter_rows(values_only=True):\n"
            "    print('|'.join('' if v is None else str(v) for v in row))\n",
            path });
    ASSERT_TRUE(reader.waitForFinished(60000));
    ASSERT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    const QStringList rows = QString::fromUtf8(reader.readAllStandardOutput()).split('\n');
    EXPECT_TRUE(rows.contains("Readings above 60 dB (A)|2|")) << rows.join('\n').toStdString();
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

// ---------------------------------------------------------------------------------------------------
// Print Data Sheet and Printer Setup

const QString DataSheetTitle = QStringLiteral("Sound Level Data Sheet");
const QStringList DataSheetColumnTitles { "No.", "Level (dB)", "Weighting", "Time", "Date" };

// Print Data Sheet on the active window, choosing a PDF file in the report's output dialog.
QString printDataSheetToPdf(ProgramCopy& copy)
{
    const QString path = copy.test.folder.filePath("data sheet.pdf");
    copy.test.ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, path });
    copy.frame->Timer1Timer();
    EXPECT_TRUE(copy.frame->PrintDataSheet1->isEnabled());
    copy.frame->PrintDataSheet1->trigger();
    return path;
}

std::vector<ReadingRow> rowsOf(const ReadingTable& table)
{
    std::vector<ReadingRow> rows;
    table.forEachRow([&](const ReadingRow& row) { rows.push_back(row); });
    return rows;
}

// Rows 1..count of the analysis table in one bulk append, as File > Open adds them.
void fillAnalysisTable(ProgramCopy& copy, int count)
{
    int i = 0;
    QByteArray meaValue;
    QByteArray time;
    copy.module().LoadData->appendRows([&](RowToAppend& row) {
        if (i == count)
            return false;
        ++i;
        meaValue = QByteArray::number(35.0 + (i * 7 % 950) / 10.0, 'f', 1);
        time = QStringLiteral("%1:%2:%3")
                   .arg(8 + i / 3600)
                   .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                   .arg(i % 60, 2, 10, QLatin1Char('0'))
                   .toUtf8();
        row.recNo = i;
        row.text = { meaValue, i % 5 == 0 ? "C" : "A", time, "12/9/2026" };
        return true;
    });
}

void openAnalysisWithReadings(ProgramCopy& copy, int count)
{
    copy.frame->Open1->trigger();
    ASSERT_EQ(copy.frame->ActiveChild()->objectName(), "Form7");
    fillAnalysisTable(copy, count);
}

// Measurement, import and analysis window each print their own table: the column titles, every row
// and the summary of the levels on one page, from the definition in the program's folder.
TEST(MainWindow, PrintDataSheetPutsTheActiveWindowsReadingsAndTheirSummaryOnAPage)
{
    struct Case {
        const char* window;
        ProgramCopy::ImportWindow importWindow;
        std::function<void(ProgramCopy&)> arrange;
        ReadingTable* TForm6::*table;
    };
    const Case cases[] = {
        { "Form5", ProgramCopy::ImportWindow::StandIn,
            [](ProgramCopy& c) {
                c.frame->RealTimeMeasure1->trigger();
                ASSERT_TRUE(c.test.connect());
                c.measurementWindow()->StartButtonClick();
                for (int i = 0; i < 3; ++i)
                    c.takeReading();
                c.measurementWindow()->StopButtonClick();
            },
            &TForm6::MeaData },
        { "Form4", ProgramCopy::ImportWindow::Real,
            [](ProgramCopy& c) {
                ASSERT_TRUE(c.test.connect());
                c.frame->ImportData1->trigger();
                c.test.meter.setLoggedMemory(
                    { 0xFD, 0x00, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0x0A, 0x51, 0xA5, 0x7A, 0xFF });
                qobject_cast<TForm4*>(c.module().ImportWindow.data())->ImportButtonClick();
            },
            &TForm6::GetRecorde },
        { "Form7", ProgramCopy::ImportWindow::StandIn, [](ProgramCopy& c) { openAnalysisWithReadings(c, 3); },
            &TForm6::LoadData },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.window);
        QTemporaryDir data;
        ProgramCopy copy(data.path(), true, {}, test.importWindow);
        ASSERT_TRUE(copy.start());
        test.arrange(copy);
        ASSERT_EQ(copy.frame->ActiveChild()->objectName(), test.window);
        const std::vector<ReadingRow> rows = rowsOf(*(copy.module().*test.table));
        ASSERT_GE(rows.size(), 2U);

        const PdfDocument pdf = ReadPdf(printDataSheetToPdf(copy));

        EXPECT_THAT(copy.messageTexts(), IsEmpty());
        EXPECT_EQ(copy.test.ui.reportOutputDialogs, QStringList { DataSheetTitle });
        ASSERT_TRUE(pdf.readable);
        ASSERT_EQ(pdf.pageCount, 1);
        const QString& page = pdf.pageTexts[0];
        const QDateTime printed = copy.test.clock.current;
        EXPECT_TRUE(HasLine(page, { DataSheetTitle }));
        EXPECT_TRUE(HasLine(page,
            { "Printed", SystemShortDateText(printed.date()), SystemLongTimeText(printed.time()), "Page 1 of 1" }))
            << page.toStdString();
        EXPECT_TRUE(HasLine(page, DataSheetColumnTitles));
        ReadingStatistics levels;
        for (const ReadingRow& row : rows) {
            EXPECT_TRUE(HasLine(page, { row.recNo, row.meaValue, row.weight, row.time, row.date }))
                << row.recNo.toStdString() << "\n"
                << page.toStdString();
            levels.add(row.meaValue.toDouble());
        }
        EXPECT_TRUE(HasLine(page, { "Summary" }));
        EXPECT_TRUE(HasLine(page, { "Readings", QString::number(rows.size()) }));
        EXPECT_TRUE(HasLine(page, { "Maximum", SystemOneDecimalText(levels.maximum()), "dB" }));
        EXPECT_TRUE(HasLine(page, { "Minimum", SystemOneDecimalText(levels.minimum()), "dB" }));
        EXPECT_TRUE(HasLine(page, { "Average", SystemOneDecimalText(levels.average()), "dB" }));
    }
}

TEST(MainWindow, ALongDataSheetRepeatsTheColumnTitlesAndNumbersEveryPageNOfM)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    openAnalysisWithReadings(copy, 5000);

    const PdfDocument pdf = ReadPdf(printDataSheetToPdf(copy));

    ASSERT_TRUE(pdf.readable);
    ASSERT_GT(pdf.pageCount, 2);
    ASSERT_EQ(pdf.pageTexts.size(), pdf.pageCount);
    const QRegularExpression row(QStringLiteral(R"(^\s*(\d+)\s+\d+\.\d\s+[AC]\s+\d+:\d\d:\d\d\s+12/9/2026\s*$)"),
        QRegularExpression::MultilineOption);
    std::vector<int> recNos;
    for (int n = 1; n <= pdf.pageCount; ++n) {
        SCOPED_TRACE(n);
        const QString& page = pdf.pageTexts[n - 1];
        EXPECT_TRUE(HasLine(page, DataSheetColumnTitles));
        EXPECT_TRUE(page.contains(QStringLiteral("Page %1 of %2").arg(n).arg(pdf.pageCount)));
        EXPECT_EQ(page.contains("Summary"), n == pdf.pageCount);
        for (auto match = row.globalMatch(page); match.hasNext();)
            recNos.push_back(match.next().captured(1).toInt());
    }
    std::vector<int> expected(5000);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(recNos, expected) << "every reading once, in table order";
    EXPECT_TRUE(HasLine(pdf.pageTexts.last(), { "Readings", "5000" }));
}

TEST(MainWindow, PrintDataSheetPrintsNothingForAnEmptyTableOrACancelledOutputDialog)
{
    struct Case {
        const char* state;
        int readings;
        bool outputDialog;
        QStringList messages;
    };
    const Case cases[] = {
        { "no readings", 0, false, { "Have No Data in Database,Can not to Print!" } },
        { "output dialog cancelled", 3, true, {} },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.state);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        ASSERT_TRUE(copy.start());
        openAnalysisWithReadings(copy, test.readings);
        copy.frame->Timer1Timer();

        copy.frame->PrintDataSheet1->trigger();

        EXPECT_EQ(copy.messageTexts(), test.messages);
        if (!test.messages.isEmpty()) {
            EXPECT_EQ(copy.test.ui.messages[0].caption, "Print Error");
            EXPECT_EQ(copy.test.ui.messages[0].buttons, MessageButtons::Ok);
            EXPECT_EQ(copy.test.ui.messages[0].icon, MessageIcon::Error);
            EXPECT_EQ(copy.module().LastErrorText, test.messages[0]);
            EXPECT_EQ(copy.module().LastErrorCaption, "Print Error");
        }
        EXPECT_EQ(copy.test.ui.reportOutputDialogs.size(), test.outputDialog ? 1 : 0);
        EXPECT_THAT(QDir(copy.test.folder.path()).entryList({ "*.pdf" }), IsEmpty());
        EXPECT_EQ(copy.test.ui.previewCount, 0);
    }
}

TEST(MainWindow, PrintDataSheetShowsTheReportEnginesOwnErrorWhenTheDefinitionIsMissingOrBroken)
{
    struct Case {
        const char* definition;
        std::function<void(const QString& path)> spoil;
    };
    const Case cases[] = {
        { "removed", [](const QString& path) { ASSERT_TRUE(QFile::remove(path)); } },
        { "corrupt", [](const QString& path) { writeFile(path, QByteArray("\x00\x13\x7f garbage", 12)); } },
        { "cut off",
            [](const QString& path) {
                const QByteArray whole = readFile(path);
                writeFile(path, whole.left(whole.size() / 2));
            } },
        { "a folder in its place",
            [](const QString& path) {
                ASSERT_TRUE(QFile::remove(path));
                ASSERT_TRUE(QDir().mkdir(path));
            } },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.definition);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        ASSERT_TRUE(copy.start());
        const QString path = copy.test.folder.filePath("Decimora_en.rav");
        ASSERT_EQ(copy.module().ReportProjectFile, path);
        test.spoil(path);
        QString engineText;
        try {
            ReadReportDefinition(path);
        } catch (const ReportError& error) {
            engineText = error.text();
        }
        ASSERT_FALSE(engineText.isEmpty());
        openAnalysisWithReadings(copy, 3);

        printDataSheetToPdf(copy);

        EXPECT_THAT(copy.messageTexts(), ElementsAre(engineText));
        EXPECT_EQ(copy.test.ui.messages[0].caption, "Print Error");
        EXPECT_EQ(copy.test.ui.messages[0].icon, MessageIcon::Error);
        EXPECT_TRUE(engineText.contains(QDir::toNativeSeparators(path))) << engineText.toStdString();
        EXPECT_TRUE(copy.test.ui.reportOutputDialogs.isEmpty());
        EXPECT_THAT(QDir(copy.test.folder.path()).entryList({ "*.pdf" }), IsEmpty());
    }
}

// The start-up looks for "decimora_en.rav" and the print reads "Decimora_en.rav": on a file system
// that tells the cases apart, both are the one file the start-up found, whatever the case of its name.
TEST(MainWindow, TheDataSheetComesFromTheDefinitionTheStartUpFoundWhateverTheCaseOfItsName)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    const QString renamed = copy.test.folder.filePath("decimora_en.rav");
    ASSERT_TRUE(QFile::rename(copy.test.folder.filePath("Decimora_en.rav"), renamed));
    ASSERT_TRUE(copy.start());
    EXPECT_EQ(copy.module().ReportProjectFile, renamed);
    openAnalysisWithReadings(copy, 3);

    const PdfDocument pdf = ReadPdf(printDataSheetToPdf(copy));

    EXPECT_THAT(copy.messageTexts(), IsEmpty());
    ASSERT_EQ(pdf.pageCount, 1);
    EXPECT_TRUE(HasLine(pdf.pageTexts[0], { "Readings", "3" }));
}

// The choice made in Printer Setup (here: a PDF file on Letter paper) is where the data sheet's
// "Printer" and the graph's "Print Graph" both go; the data sheet stands upright on it, the graph
// lies across it.
TEST(MainWindow, PrinterSetupChoosesThePrinterTheDataSheetAndTheGraphPrintOn)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    const QString printed = copy.test.folder.filePath("printer.pdf");
    copy.test.ui.printerSetupChoice = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(printed);
        printer.setPageSize(QPageSize(QPageSize::Letter));
    };

    copy.test.ui.printerSetupAnswers = { false };
    copy.frame->PrinterSetup1->trigger();
    EXPECT_EQ(copy.test.ui.printerSetupCount, 1);
    EXPECT_TRUE(copy.printer.printer().outputFileName().isEmpty()) << "a cancelled setup changes nothing";

    copy.test.ui.printerSetupAnswers = { true };
    copy.frame->PrinterSetup1->trigger();
    EXPECT_EQ(copy.test.ui.printerSetupCount, 2);

    copy.frame->RealTimeMeasure1->trigger();
    ASSERT_TRUE(copy.test.connect());
    copy.measurementWindow()->StartButtonClick();
    copy.takeReading();
    copy.measurementWindow()->StopButtonClick();
    copy.frame->Timer1Timer();
    copy.test.ui.reportOutputs.push_back({ ReportDestination::Printer, {}, {} });
    copy.frame->PrintDataSheet1->trigger();

    const PdfDocument sheet = ReadPdf(printed);
    ASSERT_TRUE(sheet.readable);
    EXPECT_EQ(sheet.pageCount, 1);
    EXPECT_NEAR(sheet.pageSize.width(), 612, 1);
    EXPECT_NEAR(sheet.pageSize.height(), 792, 1);
    const ReadingRow reading = copy.module().MeaData->row(0);
    EXPECT_TRUE(HasLine(
        sheet.pageTexts.value(0), { reading.recNo, reading.meaValue, reading.weight, reading.time, reading.date }));

    ASSERT_TRUE(QFile::remove(printed));
    copy.measurementWindow()->Graph()->printButton()->click();

    const PdfDocument graph = ReadPdf(printed);
    ASSERT_TRUE(graph.readable);
    EXPECT_NEAR(graph.pageSize.width(), 792, 1);
    EXPECT_NEAR(graph.pageSize.height(), 612, 1);
    EXPECT_THAT(copy.messageTexts(), IsEmpty());
}

} // namespace
