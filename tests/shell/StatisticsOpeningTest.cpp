// The Sound Level Statistics window in the frame: opened at its own size over a maximised readings
// window, listed in the Window menu, saying why a data file's durations are not known; the .xlsx
// Statistics sheet's levels to one decimal.

#include "ProgramCopy.h"
#include "statswindow/SoundLevelStatisticsWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMdiArea>
#include <QTableWidget>

namespace {

TEST(MainWindow, TheStatisticsWindowOpensAtItsOwnSizeAndIsListedInTheWindowMenu)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;
    frame.show();
    frame.RealTimeMeasure1->trigger();
    QMdiSubWindow* measurement = copy.subWindowOf(copy.measurementWindow());
    ASSERT_TRUE(measurement->isMaximized());

    frame.Statistics1->trigger();
    frame.Timer1Timer();

    QMdiSubWindow* statistics = copy.subWindowOf(frame.StatisticsWindow());
    EXPECT_FALSE(statistics->isMaximized());
    EXPECT_LT(statistics->width(), frame.MdiArea()->viewport()->width());
    EXPECT_TRUE(measurement->isMaximized()) << "the readings stay maximised under it";
    EXPECT_EQ(frame.ActiveChild(), frame.StatisticsWindow());
    EXPECT_EQ(copy.windowMenuCount(frame.menustatistics), 1);
    EXPECT_EQ(frame.menustatistics->text(), "Sound Level Statistics");
    EXPECT_TRUE(frame.menustatistics->isChecked());

    frame.menumeasure->trigger();
    frame.Timer1Timer();
    EXPECT_EQ(frame.ActiveChild(), copy.measurementWindow());
    EXPECT_FALSE(frame.menustatistics->isChecked());
    frame.menustatistics->trigger();
    EXPECT_EQ(frame.ActiveChild(), frame.StatisticsWindow());
    frame.Statistics1->trigger();
    EXPECT_EQ(copy.windowMenuCount(frame.menustatistics), 1) << "one window, one item";

    ASSERT_TRUE(statistics->close());
    ASSERT_TRUE(TestModule::waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return frame.StatisticsWindow() == nullptr;
    }));
    EXPECT_EQ(copy.windowMenuCount(frame.menustatistics), 0);
}

TEST(MainWindow, ADataFilesUnknownDurationsAreExplainedAndTheXlsxLevelsHaveOneDecimal)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path(), true, {}, ProgramCopy::ImportWindow::StandIn, ProgramCopy::AnalysisWindow::Real);
    ASSERT_TRUE(copy.start());
    TForm1& frame = *copy.frame;
    copy.test.ui.openFileNames.push_back(
        WriteReadings(copy.test.folder.filePath("levels.dmr"), { "50.0", "70.0", "90.0" }));
    frame.Open1->trigger();
    frame.Statistics1->trigger();

    const auto* figures = frame.StatisticsWindow()->findChild<QTableWidget*>("FiguresTable");
    QStringList labels;
    for (int row = 0; row < figures->rowCount(); ++row)
        labels << figures->verticalHeaderItem(row)->text();
    const QString unknown = QString::fromUtf16(UnknownFigure);
    EXPECT_EQ(figures->item(int(labels.indexOf("Duration (A)")), 0)->text(), unknown);
    EXPECT_EQ(figures->item(int(labels.indexOf("LAE (SEL)")), 0)->text(), unknown);
    const auto* note = frame.StatisticsWindow()->findChild<QLabel*>("NoteLabel");
    EXPECT_TRUE(note->isVisibleTo(frame.StatisticsWindow()));
    EXPECT_EQ(note->text(),
        unknown
            + " not known: SEL, the durations and the time above the alarm level need the interval between "
              "readings, and a data file keeps none.");

    if (!HasOpenpyxl())
        GTEST_SKIP() << "Debian's /usr/bin/python3 with openpyxl (python3-openpyxl) is needed to read the .xlsx";
    frame.menuanalyze->trigger();
    frame.Timer1Timer();
    const QString path = copy.test.folder.filePath("levels.xlsx");
    copy.test.ui.saveFileNames.push_back(path);
    frame.ExporttoExcel1->trigger();
    ASSERT_TRUE(QFile::exists(path)) << copy.messageTexts().join('|').toStdString();

    const QStringList rows = XlsxSheetRows(path, QStringLiteral("Statistics"));
    // 50, 70 and 90 dB: 10·log10((1e5 + 1e7 + 1e9) / 3) = 85.27 dB.
    EXPECT_TRUE(rows.contains("'LAeq'|85.3|'dB'")) << rows.join('\n').toStdString();
    EXPECT_TRUE(rows.contains("'LAmax'|90.0|'dB'")) << rows.join('\n').toStdString();
}

} // namespace
