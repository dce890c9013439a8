// The frame's child windows: one of each kind, the Window menu, tiling, closes that are cancelled,
// the import, setup, statistics and analysis windows in the frame.

#include "ProgramCopy.h"
#include "core/PrivateProfile.h"
#include "core/SettingsFile.h"
#include "core/SystemTexts.h"
#include "stats/StatisticsRows.h"
#include "statswindow/SoundLevelStatisticsWindow.h"
#include "widgets/GraphPanel.h"

#include <QAbstractSpinBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMdiArea>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

namespace {

using testing::IsEmpty;

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
    EXPECT_EQ(Figure(frame, "Duration (A)", "All readings"), QString::fromUtf16(UnknownFigure));
    EXPECT_EQ(Figure(frame, "LAE (SEL)", "All readings"), QString::fromUtf16(UnknownFigure));
    EXPECT_EQ(frame.StatisticsWindow()->findChild<QLabel*>("NoteLabel")->text(),
        QString::fromUtf16(UnknownFigure)
            + " not known: SEL, the durations and the time above the alarm level need the interval between "
              "readings, and a data file keeps none.\n"
              "Rows left out, without a level in tenths of a dB or an A or C weighting: 1");
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

} // namespace
