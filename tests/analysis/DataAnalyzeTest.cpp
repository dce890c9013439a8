// The analysis window driven as the user drives it: data files written to disk, chosen in a scripted
// open dialog and loaded with the window's LoadData, as File > Open calls it. The window sits
// maximised in a subwindow of an MDI area, as in the main frame.
#include "analysis/DataAnalyze.h"
#include "desktop/ChosenPrinter.h"
#include "stats/LevelStatistics.h"

#include "core/SystemTexts.h"
#include "datafile/DataFile.h"
#include "datafile/StagingFile.h"
#include "store/SqliteReadingStore.h"
#include "support/TestFiles.h"
#include "support/TestModule.h"
#include "widgets/GraphPanel.h"
#include "widgets/ReadingGridView.h"

#include <QChart>
#include <QChartView>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QValueAxis>
#include <gmock/gmock.h>

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace {

using testing::HasSubstr;

const QColor Blue(0, 0, 255);
const QColor Green(0, 128, 0);
const QColor Navy(0, 0, 128);
const QColor MoneyGreen(192, 220, 192);
const QColor Yellow(255, 255, 0);
const QColor Olive(128, 128, 0);

// n readings from first on, a tenth of a decibel apart.
std::vector<QString> Readings(int n, int firstTenths = 600)
{
    std::vector<QString> values;
    for (int i = 0; i < n; ++i)
        values.push_back(QStringLiteral("%1.%2").arg((firstTenths + i) / 10).arg((firstTenths + i) % 10));
    return values;
}

// The lines of a data file as the program writes them, one reading a second from 9:0:0 on 5/12/2006.
QByteArray DataFileContent(const std::vector<QString>& values, qint64 count)
{
    QByteArray content = QByteArray(DataFileHeader) + "\r\nTotal:" + QByteArray::number(count) + "\r\n";
    for (std::size_t i = 0; i < values.size(); ++i) {
        const QByteArray value = values[i].toLatin1();
        const QByteArray time = QStringLiteral("9:%1:%2").arg(i / 60 % 60).arg(i % 60).toLatin1();
        AppendReadingFields(content, { value, "A", time, "5/12/2006" });
        content += "\r\n";
    }
    return content;
}

class AnalysisWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        m.FormsReady = true;
        area->resize(1100, 700);
        area->show();
        openWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(area.get()));
    }

    // A new window on an emptied LoadData, as File > Open makes it.
    void openWindow()
    {
        window = new TForm7(m, printer);
        m.ChildWindowOpened(ChildWindowKind::Analysis, window.data());
        m.LoadData->empty();
        subWindow = area->addSubWindow(window);
        subWindow->setAttribute(Qt::WA_DeleteOnClose);
        subWindow->showMaximized();
    }
    void closeWindow()
    {
        ASSERT_TRUE(subWindow->close());
        ASSERT_TRUE(windowGone());
    }
    // The window is gone after a close that came in during a load of long.dmr, with nothing of that file.
    void closedWithNothingOfTheLongFile();
    // The subwindow deletes itself later, once its close has gone through.
    bool windowGone() const
    {
        return TestModule::waitUntil([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return window.isNull();
        });
    }

    template <typename T> T* child(const char* name) const
    {
        T* found = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString box(const char* name) const { return child<QLineEdit>(name)->text(); }
    ReadingGridView* grid() const { return child<ReadingGridView>("DBGrid1"); }
    QProgressBar* progressBar() const { return child<QProgressBar>("ProgressBar1"); }

    QString writeData(const char* name, const std::vector<QString>& values, std::optional<qint64> count = {})
    {
        const QString path = files.filePath(QLatin1String(name));
        writeFile(path, DataFileContent(values, count.value_or(qint64(values.size()))));
        return path;
    }
    // File > Open with this file chosen in the dialog.
    void load(const QString& path)
    {
        fixture.ui.openFileNames.push_back(path);
        window->LoadData();
    }

    std::vector<QString> recNos() const
    {
        std::vector<QString> all;
        m.LoadData->forEachRow([&](const ReadingRow& row) { all.push_back(row.recNo); });
        return all;
    }
    std::vector<qsizetype> pointCounts() const
    {
        std::vector<qsizetype> counts;
        for (int series = 0; series < TForm7::MaxFiles; ++series)
            counts.push_back(window->Graph()->pointCount(series));
        return counts;
    }
    std::vector<qint64> fileEnds() const
    {
        std::vector<qint64> ends;
        for (int file = 1; file <= TForm7::MaxFiles; ++file)
            ends.push_back(window->FileEndRecNo(file));
        return ends;
    }
    // The background of every row as the grid paints it (the Weight cell, right of its letter),
    // scrolling as far as needed. The current row is unselected first.
    std::vector<QColor> rowColours() const
    {
        ReadingGridView* view = grid();
        view->clearSelection();
        QCoreApplication::processEvents();
        std::vector<QColor> colours;
        QImage image;
        for (int row = 0; row < view->model()->rowCount(); ++row) {
            const QModelIndex index = view->model()->index(row, 2);
            QRect cell = view->visualRect(index);
            if (cell.top() < 0 || cell.bottom() >= view->viewport()->height()) {
                view->scrollTo(index, QAbstractItemView::PositionAtTop);
                cell = view->visualRect(index);
                image = QImage();
            }
            if (image.isNull())
                image = view->viewport()->grab().toImage();
            colours.push_back(image.pixelColor(cell.right() - 3, cell.center().y()));
        }
        return colours;
    }
    QColor gridBackground() const { return grid()->palette().color(QPalette::Base); }
    QStringList messages() const
    {
        QStringList texts;
        for (const auto& message : fixture.ui.messages)
            texts << message.text;
        return texts;
    }

    QTemporaryDir files;
    TestModule fixture { std::make_unique<SqliteReadingStore>(QDir(files.path()).filePath("Decimora.mdb")) };
    TForm6& m = *fixture.module;
    ChosenPrinter printer;
    std::unique_ptr<QMdiArea> area = std::make_unique<QMdiArea>();
    QPointer<TForm7> window;
    QPointer<QMdiSubWindow> subWindow;
};

TEST_F(AnalysisWindowTest, OpensEmptyWithItsCaptionGridChartAndBottomStrip)
{
    EXPECT_EQ(window->objectName(), "Form7");
    EXPECT_EQ(window->windowTitle(), "Data View & Analyze");
    EXPECT_TRUE(m.FormsReady);
    EXPECT_EQ(m.LoadedFileCount, 0);
    EXPECT_EQ(fileEnds(), std::vector<qint64>(10, 0));
    EXPECT_EQ(window->LoadRecNo(), 0);
    EXPECT_FALSE(window->AnalysisMin().has_value());

    ReadingGridView* view = grid();
    EXPECT_EQ(view->width(), 305);
    EXPECT_EQ(view->model(), m.LoadData->gridModel());
    QStringList headers;
    for (int column = 0; column < view->model()->columnCount(); ++column)
        headers << view->model()->headerData(column, Qt::Horizontal).toString();
    EXPECT_EQ(headers, QStringList({ "RecNo", "MeaValue", "Weight", "Time", "Date" }));
    EXPECT_EQ(view->columnWidth(2), 35);
    EXPECT_EQ(view->palette().color(QPalette::Text), QColor(Qt::white));

    GraphPanel* graph = window->Graph();
    EXPECT_EQ(graph->title(), "Data Analyze");
    EXPECT_EQ(graph->chart()->titleBrush().color(), QColor(Qt::blue));
    EXPECT_EQ(graph->valueAxisTitle(), "SPL        (Unit:  DB)';");
    // The legend names the files beside their colours; none yet.
    EXPECT_TRUE(graph->chart()->legend()->isVisible());
    for (const QLegendMarker* marker : graph->chart()->legend()->markers())
        EXPECT_FALSE(marker->isVisible());
    EXPECT_EQ(graph->seriesCount(), 10);
    EXPECT_EQ(graph->valueAxis()->min(), 0.0);
    EXPECT_EQ(graph->valueAxis()->max(), 140.0);
    for (const char* button : { "PrintGraphButton", "ZoomInButton", "ZoomOutButton", "ResetZoomButton" })
        EXPECT_NE(child<QPushButton>(button), nullptr);

    auto* notice = child<QLabel>("WaitNotice");
    EXPECT_EQ(notice->text(), "Please Wait a Moment......");
    EXPECT_TRUE(notice->isHidden());
    EXPECT_EQ(notice->geometry().bottomRight(), graph->rect().bottomRight());

    EXPECT_EQ(child<QWidget>("BottomPanel")->height(), 37);
    EXPECT_EQ(child<QWidget>("BottomPanel")->width(), window->width());
    EXPECT_EQ(child<QLabel>("FileNumbersLabel")->text(), "File Numbers");
    EXPECT_EQ(child<QLabel>("MinLabel")->text(), "MIN");
    EXPECT_EQ(child<QLabel>("MaxLabel")->text(), "MAX");
    for (const char* name : { "FileNumbersBox", "MinBox", "MaxBox" })
        EXPECT_FALSE(child<QLineEdit>(name)->isEnabled()) << name;
    EXPECT_EQ(box("FileNumbersBox"), "0");
    EXPECT_EQ(progressBar()->width(), 361);

    EXPECT_TRUE(window->canExportAndPrint());
    EXPECT_FALSE(window->canSave());
    EXPECT_EQ(window->readingsTable(), m.LoadData);
}

TEST_F(AnalysisWindowTest, FilesAreNumberedOnColouredByFileAndEachDrawnFromTheLeftEdge)
{
    load(writeData("ten.dmr", Readings(10, 500)));
    load(writeData("twenty.dmr", Readings(20, 600)));
    load(writeData("five.dmr", Readings(5, 700)));

    std::vector<QString> expectedRecNos;
    for (int recNo = 1; recNo <= 35; ++recNo)
        expectedRecNos.push_back(QString::number(recNo));
    EXPECT_EQ(recNos(), expectedRecNos);
    EXPECT_EQ(m.LoadedFileCount, 3);
    EXPECT_EQ(box("FileNumbersBox"), "3");
    EXPECT_EQ(fileEnds(), (std::vector<qint64> { 11, 31, 36, 0, 0, 0, 0, 0, 0, 0 }));
    EXPECT_EQ(window->LoadRecNo(), 35);

    // Each file its own series from x = 0, in its colour.
    EXPECT_EQ(pointCounts(), (std::vector<qsizetype> { 10, 20, 5, 0, 0, 0, 0, 0, 0, 0 }));
    window->Graph()->flush();
    const QList<QPointF> third = window->Graph()->series(2)->points();
    ASSERT_EQ(third.size(), 5);
    EXPECT_EQ(third.front(), QPointF(0, 70.0));
    EXPECT_EQ(third.back(), QPointF(4, 70.4));
    EXPECT_EQ(window->Graph()->series(0)->color(), Blue);
    EXPECT_EQ(window->Graph()->series(1)->color(), Green);
    EXPECT_EQ(window->Graph()->series(2)->color(), Navy);

    // The grid ends on the last row, shows its five columns side by side, and paints every file's
    // rows in its colour.
    EXPECT_EQ(grid()->currentIndex().row(), 34);
    EXPECT_LE(grid()->horizontalHeader()->length(), grid()->viewport()->width());
    std::vector<QColor> expectedColours(10, Blue);
    expectedColours.insert(expectedColours.end(), 20, Green);
    expectedColours.insert(expectedColours.end(), 5, Navy);
    EXPECT_EQ(rowColours(), expectedColours);

    ASSERT_EQ(fixture.ui.openDialogs.size(), 3U);
    EXPECT_EQ(fixture.ui.openDialogs[0].filter, "*.DMR|*.DMR|*.dmr|*.dmr");
    EXPECT_TRUE(messages().isEmpty()) << messages().join('|').toStdString();
    EXPECT_TRUE(child<QLabel>("WaitNotice")->isHidden());
    EXPECT_EQ(progressBar()->minimum(), 1);
    EXPECT_EQ(progressBar()->maximum(), 5);
    EXPECT_EQ(progressBar()->value(), 5);
}

TEST_F(AnalysisWindowTest, TheSameFileTwiceIsTwoFilesInTwoColours)
{
    const QString file = writeData("twice.dmr", Readings(3));
    load(file);
    load(file);

    EXPECT_EQ(m.LoadedFileCount, 2);
    EXPECT_EQ(recNos(), (std::vector<QString> { "1", "2", "3", "4", "5", "6" }));
    EXPECT_EQ(pointCounts(), (std::vector<qsizetype> { 3, 3, 0, 0, 0, 0, 0, 0, 0, 0 }));
    EXPECT_EQ(window->Graph()->values(0), window->Graph()->values(1));
    EXPECT_EQ(rowColours(), (std::vector<QColor> { Blue, Blue, Blue, Green, Green, Green }));
}

// The sixth file takes the button shadow and the eighth olive, apart from the grid's own background;
// the ninth and tenth colour their rows only once they are loaded, also when the ninth held no
// readings.
TEST_F(AnalysisWindowTest, TheNinthAndTenthFilesColourTheirRowsOnlyOnceLoaded)
{
    const struct {
        const char* label;
        int ninthReadings;
    } cases[] = {
        { "every file with readings", 2 },
        { "a ninth file without readings", 0 },
    };
    const QString two = writeData("two.dmr", Readings(2));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (window)
            closeWindow();
        openWindow();
        for (int file = 1; file <= 8; ++file)
            load(two);
        EXPECT_EQ(window->FileColour(6), window->palette().color(QPalette::Dark));
        EXPECT_EQ(window->FileColour(8), Olive);
        EXPECT_NE(window->FileColour(8), gridBackground());
        EXPECT_EQ(window->Graph()->series(5)->color(), window->FileColour(6));
        EXPECT_EQ(window->Graph()->series(7)->color(), Olive);
        std::vector<QColor> colours = rowColours();
        ASSERT_EQ(colours.size(), 16U);
        EXPECT_EQ(colours[13], window->FileColour(7));
        EXPECT_EQ(colours[14], Olive);
        EXPECT_EQ(std::count(colours.begin(), colours.end(), Yellow), 0) << "no tenth file yet";

        // A count line says at least 1, also over no readings.
        load(writeData("ninth.dmr", Readings(c.ninthReadings), std::max(1, c.ninthReadings)));
        colours = rowColours();
        ASSERT_EQ(colours.size(), std::size_t(16 + c.ninthReadings));
        EXPECT_EQ(std::count(colours.begin(), colours.end(), Yellow), 0) << "no tenth file yet";
        EXPECT_EQ(std::count(colours.begin(), colours.end(), MoneyGreen), c.ninthReadings);

        load(writeData("tenth.dmr", Readings(3)));
        colours = rowColours();
        ASSERT_EQ(colours.size(), std::size_t(16 + c.ninthReadings + 3));
        EXPECT_EQ(std::vector<QColor>(colours.end() - 3, colours.end()), std::vector<QColor>(3, Yellow));
        EXPECT_EQ(window->Graph()->series(8)->color(), MoneyGreen);
        EXPECT_EQ(window->Graph()->series(9)->color(), Yellow);
        EXPECT_EQ(m.LoadedFileCount, 10);
        EXPECT_EQ(box("FileNumbersBox"), "10");
        EXPECT_TRUE(messages().isEmpty()) << messages().join('|').toStdString();
    }
}

TEST_F(AnalysisWindowTest, AnEleventhFileIsRefusedWithoutADialogAndTheTenStay)
{
    const QString two = writeData("two.dmr", Readings(2));
    for (int file = 1; file <= 10; ++file)
        load(two);
    ASSERT_EQ(fixture.ui.openDialogs.size(), 10U);
    const std::vector<QString> before = recNos();

    load(two);

    EXPECT_EQ(fixture.ui.openDialogs.size(), 10U);
    ASSERT_EQ(fixture.ui.messages.size(), 1U);
    EXPECT_EQ(
        fixture.ui.messages[0].text, "Sorry, the current version only support to open \r10 reports at the same time.");
    EXPECT_EQ(fixture.ui.messages[0].caption, "Error Information");
    EXPECT_EQ(fixture.ui.messages[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(fixture.ui.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(m.LastErrorText, fixture.ui.messages[0].text);
    EXPECT_EQ(m.LoadedFileCount, 10);
    EXPECT_EQ(recNos(), before);
    EXPECT_EQ(pointCounts(), std::vector<qsizetype>(10, 2));
}

// A cancelled dialog or a file that is not a data file loads nothing and says nothing.
TEST_F(AnalysisWindowTest, NothingIsLoadedOrSaidForACancelledDialogOrAFileThatIsNotADataFile)
{
    const struct {
        const char* label;
        const char* content; // null: the dialog is cancelled
    } cases[] = {
        { "cancelled", nullptr },
        { "header in capitals", "@ZENTROBASIS DECIMORA FILE\r\nTotal:1\r\n5/12/2006 ,9:5:30  ,65.3  ,A\r\n" },
        { "a text file", "Readings of Tuesday\r\n65.3\r\n" },
        { "an empty file", "" },
    };
    load(writeData("first.dmr", Readings(4)));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        QString chosen;
        if (c.content) {
            chosen = files.filePath("other.txt");
            writeFile(chosen, c.content);
        }
        grid()->setCurrentIndex(grid()->model()->index(0, 0));

        load(chosen);

        EXPECT_TRUE(messages().isEmpty()) << messages().join('|').toStdString();
        EXPECT_EQ(m.LoadedFileCount, 1);
        EXPECT_EQ(box("FileNumbersBox"), "1");
        EXPECT_EQ(pointCounts(), (std::vector<qsizetype> { 4, 0, 0, 0, 0, 0, 0, 0, 0, 0 }));
        EXPECT_EQ(m.LoadData->rowCount(), 4);
        EXPECT_EQ(window->FileEndRecNo(2), 0);
        EXPECT_EQ(grid()->currentIndex().row(), 3) << "the table moves to its last row";
    }
}

TEST_F(AnalysisWindowTest, MinAndMaxSpanEveryLoadedReadingInTheShortestForm)
{
    // A file without readings (its count line says 1) shows 0 for both.
    load(writeData("none.dmr", {}, 1));
    EXPECT_EQ(m.LoadedFileCount, 1);
    EXPECT_EQ(box("MinBox"), SystemShortestDecimalText(0));
    EXPECT_EQ(box("MaxBox"), SystemShortestDecimalText(0));

    load(writeData("first.dmr", { "60.1", "40.2", "95.0", "72.4" }));
    EXPECT_EQ(box("MinBox"), SystemShortestDecimalText(40.2));
    EXPECT_EQ(box("MaxBox"), SystemShortestDecimalText(95));

    load(writeData("second.dmr", { "70.0", "38.5", "55.5" }));
    EXPECT_EQ(window->AnalysisMin(), 38.5);
    EXPECT_EQ(window->AnalysisMax(), 95.0);
    EXPECT_EQ(box("MinBox"), SystemShortestDecimalText(38.5));
    EXPECT_EQ(box("MaxBox"), SystemShortestDecimalText(95));
    if (QLocale::system().decimalPoint() == QLatin1String(".")) {
        EXPECT_EQ(box("MinBox"), "38.5");
        EXPECT_EQ(box("MaxBox"), "95");
    }
}

// The statistics window shows one column per loaded file. Expected levels from
// tests/stats/expected_levels.py: 60 and 70 dB equally often give Leq 67.4036.
TEST_F(AnalysisWindowTest, EachLoadedFileIsASeriesOfItsOwnForTheStatistics)
{
    EXPECT_TRUE(window->levelStatistics().empty());
    load(writeData("steady.dmr", { "60.0", "60.0" }));
    load(writeData("changing.dmr", { "60.0", "70.0", "60.0", "70.0" }));

    const std::vector<ReadingSeriesStatistics> series = window->levelStatistics();
    ASSERT_EQ(series.size(), 2U);
    EXPECT_EQ(series[0].name, "steady.dmr");
    EXPECT_EQ(series[1].name, "changing.dmr");
    const LevelFigures steady = series[0].statistics->of(Weighting::A).figures(Weighting::A, 85.0);
    const LevelFigures changing = series[1].statistics->of(Weighting::A).figures(Weighting::A, 85.0);
    EXPECT_EQ(steady.count, 2);
    EXPECT_NEAR(steady.leq.value_or(0), 60.0, 1e-9);
    EXPECT_EQ(changing.count, 4);
    EXPECT_NEAR(changing.leq.value_or(0), 67.4036, 1e-4);
    // A data file keeps no interval: its readings, stamped a second apart, last a second each.
    EXPECT_EQ(steady.durationSeconds, 2);
    EXPECT_EQ(changing.durationSeconds, 4);
    EXPECT_NEAR(changing.sel.value_or(0), 67.4036 + 10 * std::log10(4.0), 1e-4);
    EXPECT_EQ(series[1].statistics->of(Weighting::C).count(), 0);
    // Where each file's rows stand in the table, for the assessment of one file.
    EXPECT_EQ(std::make_pair(series[0].firstRow, series[0].endRow), std::make_pair(qint64(0), qint64(2)));
    EXPECT_EQ(std::make_pair(series[1].firstRow, series[1].endRow), std::make_pair(qint64(2), qint64(6)));

    // Asked again without a change, the same figures come back without another walk of the table.
    EXPECT_EQ(window->levelStatistics()[1].statistics, series[1].statistics);
}

TEST_F(AnalysisWindowTest, ACountLineSmallerThanTheFileLoadsEveryLineAndOnlySetsTheProgressRange)
{
    load(writeData("eight.dmr", Readings(8), 5));

    EXPECT_EQ(m.LoadData->rowCount(), 8);
    EXPECT_EQ(window->FileEndRecNo(1), 9);
    EXPECT_EQ(window->Graph()->pointCount(0), 8);
    EXPECT_EQ(progressBar()->minimum(), 1);
    EXPECT_EQ(progressBar()->maximum(), 5);
    EXPECT_EQ(progressBar()->value(), 5);
}

// A file that cannot be read whole is refused with a message naming it (and the line), and the
// window keeps nothing of it: not the count, not the chart, not the figures, not a row.
TEST_F(AnalysisWindowTest, AFileThatCannotBeReadWholeAddsNothingAndSaysWhy)
{
    std::vector<QString> halfWayBad = Readings(6);
    halfWayBad[2] = QStringLiteral("loud");
    struct Case {
        const char* label;
        std::function<QString()> file;
        const char* says;
    };
    std::vector<Case> cases {
        { "an unreadable line half-way", [&] { return writeData("bad.dmr", halfWayBad); },
            "bad.dmr, line 5: \"loud\"" },
        { "no count", [&] { return writeData("nocount.dmr", Readings(3), 0); }, "nocount.dmr, line 2: the count" },
        { "vanished", [&] { return files.filePath("gone.dmr"); }, "Cannot open" },
        { "a folder",
            [&] {
                QDir(files.path()).mkdir("folder.dmr");
                return files.filePath("folder.dmr");
            },
            "folder.dmr" },
    };
    // The superuser reads every file whatever its permissions.
    if (geteuid() != 0) {
        cases.push_back({ "not readable",
            [&] {
                const QString path = writeData("private.dmr", Readings(3));
                QFile::setPermissions(path, QFileDevice::WriteOwner);
                return path;
            },
            "Cannot open" });
    }
    load(writeData("first.dmr", { "50.0", "60.0" }));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fixture.ui.messages.clear();
        const QString file = c.file();

        load(file);

        ASSERT_EQ(fixture.ui.messages.size(), 1U);
        EXPECT_THAT(fixture.ui.messages[0].text.toStdString(), HasSubstr(c.says));
        EXPECT_EQ(fixture.ui.messages[0].caption, "Error Information");
        EXPECT_EQ(fixture.ui.messages[0].icon, MessageIcon::Error);
        EXPECT_EQ(m.LoadedFileCount, 1);
        EXPECT_EQ(box("FileNumbersBox"), "1");
        EXPECT_EQ(fileEnds(), (std::vector<qint64> { 3, 0, 0, 0, 0, 0, 0, 0, 0, 0 }));
        EXPECT_EQ(pointCounts(), (std::vector<qsizetype> { 2, 0, 0, 0, 0, 0, 0, 0, 0, 0 }));
        EXPECT_EQ(box("MinBox"), SystemShortestDecimalText(50));
        EXPECT_EQ(box("MaxBox"), SystemShortestDecimalText(60));
        EXPECT_EQ(recNos(), (std::vector<QString> { "1", "2" }));
        EXPECT_TRUE(child<QLabel>("WaitNotice")->isHidden());
    }
    // The window goes on: the next good file is the second one, in green.
    load(writeData("good.dmr", { "45.5" }));
    EXPECT_EQ(m.LoadedFileCount, 2);
    EXPECT_EQ(rowColours(), (std::vector<QColor> { Blue, Blue, Green }));
}

// The table refuses the rows (a full disk, a locked database): the database's words are shown, the
// window keeps nothing of the file, and the program goes on.
TEST_F(AnalysisWindowTest, ATableThatRefusesTheRowsLeavesTheWindowAsItWas)
{
    load(writeData("first.dmr", { "50.0", "60.0" }));
    const auto sql = [&](const char* statement) {
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(files.filePath("Decimora.mdb").toUtf8().constData(), &other), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(other, statement, nullptr, nullptr, nullptr), SQLITE_OK) << statement;
        sqlite3_close(other);
    };
    sql("CREATE TRIGGER refuse BEFORE INSERT ON LoadData BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");

    load(writeData("second.dmr", { "30.0", "90.0", "70.0" }));

    ASSERT_EQ(fixture.ui.messages.size(), 1U);
    EXPECT_THAT(fixture.ui.messages[0].text.toStdString(), HasSubstr("database or disk is full"));
    EXPECT_EQ(fixture.ui.messages[0].caption, "Error Information");
    EXPECT_EQ(m.LoadedFileCount, 1);
    EXPECT_EQ(box("FileNumbersBox"), "1");
    EXPECT_EQ(fileEnds(), (std::vector<qint64> { 3, 0, 0, 0, 0, 0, 0, 0, 0, 0 }));
    EXPECT_EQ(window->LoadRecNo(), 2);
    EXPECT_EQ(pointCounts(), (std::vector<qsizetype> { 2, 0, 0, 0, 0, 0, 0, 0, 0, 0 }));
    EXPECT_EQ(window->AnalysisMin(), 50.0);
    EXPECT_EQ(window->AnalysisMax(), 60.0);
    EXPECT_EQ(box("MinBox"), SystemShortestDecimalText(50));
    EXPECT_EQ(box("MaxBox"), SystemShortestDecimalText(60));
    EXPECT_EQ(m.LoadData->rowCount(), 2);
    EXPECT_TRUE(child<QLabel>("WaitNotice")->isHidden());

    sql("DROP TRIGGER refuse");
    load(files.filePath("second.dmr"));
    EXPECT_EQ(m.LoadedFileCount, 2);
    EXPECT_EQ(recNos(), (std::vector<QString> { "1", "2", "3", "4", "5" }));
    EXPECT_EQ(window->AnalysisMin(), 30.0);
}

TEST_F(AnalysisWindowTest, ALoadWaitsForNoDialogWhileADownloadHoldsTheStagingFile)
{
    std::optional<StagingFileLease> download
        = StagingFileLease::acquire(m.Folders().cacheFolder(), QStringLiteral("a download from the meter"));

    load(writeData("first.dmr", Readings(2)));

    EXPECT_TRUE(fixture.ui.openDialogs.empty());
    ASSERT_EQ(fixture.ui.messages.size(), 1U);
    EXPECT_THAT(fixture.ui.messages[0].text.toStdString(), HasSubstr("in use by a download from the meter"));
    EXPECT_EQ(fixture.ui.messages[0].caption, "Error Information");
    EXPECT_EQ(m.LoadedFileCount, 0);

    download.reset();
    load(files.filePath("first.dmr"));
    EXPECT_EQ(m.LoadedFileCount, 1);
}

// A file of several blocks: the progress bar follows the lines read, and between blocks the program
// handles what comes meanwhile; a second File > Open then is told that a load is running.
TEST_F(AnalysisWindowTest, ALongFileShowsItsProgressAndTheProgramStaysResponsive)
{
    constexpr int Lines = 150'000;
    const QString longFile = writeData("long.dmr", Readings(Lines, 300));
    std::vector<int> shown;
    QObject::connect(progressBar(), &QProgressBar::valueChanged, [&](int value) { shown.push_back(value); });
    struct Meanwhile {
        bool ran = false;
        bool loading = false;
        int progress = 0;
    } meanwhile;
    // What comes in once the load has begun (the open dialog handles events of its own before).
    bool armed = false;
    QObject::connect(progressBar(), &QProgressBar::valueChanged, window.data(), [&] {
        if (std::exchange(armed, true))
            return;
        QTimer::singleShot(0, window.data(), [&] {
            meanwhile = { true, window->Loading(), progressBar()->value() };
            window->LoadData();
        });
    });

    load(longFile);

    ASSERT_TRUE(meanwhile.ran);
    EXPECT_TRUE(meanwhile.loading);
    EXPECT_GT(meanwhile.progress, 1);
    EXPECT_LT(meanwhile.progress, Lines);
    ASSERT_GE(shown.size(), 2U);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_EQ(shown.back(), Lines);
    EXPECT_EQ(progressBar()->maximum(), Lines);

    // The second Open was turned away before its dialog; the long file loaded whole.
    EXPECT_EQ(fixture.ui.openDialogs.size(), 1U);
    ASSERT_EQ(fixture.ui.messages.size(), 1U);
    EXPECT_THAT(fixture.ui.messages[0].text.toStdString(), HasSubstr("in use by the load of a data file"));
    EXPECT_EQ(m.LoadedFileCount, 1);
    EXPECT_EQ(m.LoadData->rowCount(), Lines);
    EXPECT_EQ(window->Graph()->pointCount(0), Lines);
    EXPECT_FALSE(window->Loading());
}

// A close while the open dialog is up, or once the load has begun: the window waits for the
// dialog or the load, keeps nothing of the long file and then closes.
TEST_F(AnalysisWindowTest, ClosingTheWindowDuringALoadCallsItOffAndThenCloses)
{
    load(writeData("first.dmr", Readings(2)));
    const QString longFile = writeData("long.dmr", Readings(150'000, 300));
    bool armed = false;
    QObject::connect(progressBar(), &QProgressBar::valueChanged, subWindow.data(), [&] {
        if (!std::exchange(armed, true))
            QTimer::singleShot(0, subWindow.data(), [&] { subWindow->close(); });
    });

    load(longFile);
    closedWithNothingOfTheLongFile();
}

TEST_F(AnalysisWindowTest, ClosingTheWindowWhileTheOpenDialogIsUpWaitsForItAndLoadsNothing)
{
    load(writeData("first.dmr", Readings(2)));
    const QString longFile = writeData("long.dmr", Readings(150'000, 300));
    QTimer::singleShot(0, subWindow.data(), [&] { subWindow->close(); });

    load(longFile);
    EXPECT_EQ(fixture.ui.openDialogs.size(), 2U);
    closedWithNothingOfTheLongFile();
}

void AnalysisWindowTest::closedWithNothingOfTheLongFile()
{
    EXPECT_TRUE(windowGone());
    EXPECT_EQ(m.LoadData->rowCount(), 2) << "nothing of the long file";
    EXPECT_EQ(m.LoadedFileCount, 1);
    EXPECT_FALSE(m.AnalysisWindowOpen);
    EXPECT_TRUE(m.DropAnalysisMenuItem);
    EXPECT_TRUE(messages().isEmpty()) << messages().join('|').toStdString();
    // The staging file is free again.
    EXPECT_NO_THROW(StagingFileLease::acquire(m.Folders().cacheFolder(), QStringLiteral("the test")));
}

// The mouse over the plot moves the sample axis only: the wheel zooms it about the reading under the
// pointer, a left drag pans it (not before the first reading), the right button does nothing; the
// value axis stays 0 to 140 throughout, and the buttons still zoom.
TEST_F(AnalysisWindowTest, AfterALoadTheMouseMovesOnlyTheSampleAxisAndTheButtonsStillDo)
{
    load(writeData("long.dmr", Readings(400)));
    GraphPanel* graph = window->Graph();
    graph->flush();
    const auto ranges = [graph] {
        return std::vector<double> { graph->valueAxis()->min(), graph->valueAxis()->max(), graph->sampleAxis()->min(),
            graph->sampleAxis()->max() };
    };
    const std::vector<double> before = ranges();
    EXPECT_EQ(before, (std::vector<double> { 0, 140, 0, 399 }));

    QWidget* plot = graph->chartView()->viewport();
    const QPoint from = plot->rect().center() - QPoint(100, 60);
    const QPoint to = plot->rect().center() + QPoint(100, 60);
    const auto drag = [plot](Qt::MouseButton button, QPoint start, QPoint end) {
        QTest::mousePress(plot, button, {}, start);
        QTest::mouseMove(plot, end);
        QTest::mouseRelease(plot, button, {}, end);
    };
    const auto readingUnder = [graph](QPoint point) {
        const QPointF inChart = graph->chart()->mapFromScene(graph->chartView()->mapToScene(point));
        return graph->chart()->mapToValue(inChart, graph->series(0)).x();
    };

    // A right drag, and a left drag towards the readings before the first: nothing moves.
    drag(Qt::RightButton, from, to);
    drag(Qt::LeftButton, from, to);
    graph->flush();
    EXPECT_EQ(ranges(), before);

    // One notch of the wheel: the sample axis four fifths as wide, the reading under the pointer kept.
    const double underPointer = readingUnder(to);
    QWheelEvent wheel(
        QPointF(to), plot->mapToGlobal(QPointF(to)), {}, QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(plot, &wheel);
    graph->flush();
    const std::vector<double> zoomed = ranges();
    EXPECT_EQ(zoomed[0], 0);
    EXPECT_EQ(zoomed[1], 140);
    EXPECT_NEAR(zoomed[3] - zoomed[2], 0.8 * 399, 1e-6);
    EXPECT_GT(zoomed[2], 0);
    EXPECT_NEAR(readingUnder(to), underPointer, 1e-6);

    // A left drag to the left: the readings under the pointer follow it, the width stays.
    const double grabbed = readingUnder(to);
    drag(Qt::LeftButton, to, from);
    graph->flush();
    const std::vector<double> panned = ranges();
    EXPECT_EQ(panned[0], 0);
    EXPECT_EQ(panned[1], 140);
    EXPECT_NEAR(panned[3] - panned[2], zoomed[3] - zoomed[2], 1e-6);
    EXPECT_GT(panned[2], zoomed[2]);
    EXPECT_NEAR(readingUnder(from), grabbed, 1e-6);

    QTest::mouseClick(child<QPushButton>("ZoomInButton"), Qt::LeftButton);
    graph->flush();
    EXPECT_NE(ranges(), panned);
    QTest::mouseClick(child<QPushButton>("ResetZoomButton"), Qt::LeftButton);
    graph->flush();
    EXPECT_EQ(ranges(), before);
}

TEST_F(AnalysisWindowTest, CloseAsksNothingAndLeavesTheRowsInTheTable)
{
    load(writeData("first.dmr", Readings(3)));

    closeWindow();

    EXPECT_TRUE(messages().isEmpty());
    EXPECT_FALSE(m.AnalysisWindowOpen);
    EXPECT_FALSE(m.AnalysisWindowHandle);
    EXPECT_TRUE(m.DropAnalysisMenuItem);
    EXPECT_EQ(m.LoadData->rowCount(), 3);
}

} // namespace
