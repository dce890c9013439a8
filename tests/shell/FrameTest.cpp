// The main window driven offscreen: its start, menus, tool bar and status bar, the commands it
// enables for the active window, its end and the single copy.

#include "ProgramCopy.h"
#include "shell/FrameImages.h"
#include "shell/PanelStatusBar.h"

#include <QGuiApplication>
#include <QMdiArea>
#include <QProgressBar>
#include <QScreen>
#include <QToolBar>

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

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
            "System Option", "Help", "About...", "Exit" }));
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

} // namespace
