// The import window driven as the user and the meter drive it: "Import" clicked offscreen, the
// logged memory answered block by block by the simulated meter, dialogs answered from a script.
// The window sits in a subwindow of an MDI area, as in the main frame.
#include "import/GetRecorde.h"

#include "core/MeterProtocol.h"
#include "core/SystemTexts.h"
#include "datafile/DataFile.h"
#include "datafile/StagingFile.h"
#include "store/SqliteReadingStore.h"
#include "support/ChildWindowHarness.h"
#include "support/TestModule.h"
#include "widgets/GraphPanel.h"
#include "widgets/ReadingGridView.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// 0xFD and a header: status byte, second, minute, hour, day, month, year (all BCD), interval.
Bytes Header(std::uint8_t status, std::uint8_t second, std::uint8_t minute, std::uint8_t hour, std::uint8_t day,
    std::uint8_t month, std::uint8_t year, std::uint8_t interval)
{
    return { 0xFD, status, second, minute, hour, day, month, year, interval };
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Two readings in three bytes: 65.3 and 70.1 dB.
const Bytes Pair65and70 { 0x51, 0xA5, 0x7A };
const Bytes End { 0xFF };
// 5/12/2006 9:5:30, A weighting, 10 s apart.
const Bytes WorkedHeader = Header(0x00, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0x0A);

struct Row {
    const char* recNo;
    const char* value;
    const char* weight;
    const char* time;
    const char* date;
};

class ImportWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fixture.connect());
        // As the module's start-up leaves them.
        m.MeasureSaved = true;
        m.ImportCommandEnabled = true;
        m.FormsReady = true;
        ASSERT_TRUE(shownWindow.open(m, ChildWindowKind::Import));
    }

    template <typename T> T* child(const char* name) const { return shownWindow.template child<T>(name); }
    QPushButton* button(const char* name) const { return shownWindow.button(name); }
    QString box(const char* name) const { return child<QLineEdit>(name)->text(); }
    bool printEnabled() const { return window->Graph()->printButton()->isEnabled(); }

    // Clicks "Import" with the meter's memory set to memory; the whole download runs in the click.
    void download(const Bytes& memory)
    {
        meter.setLoggedMemory(memory);
        QTest::mouseClick(button("ImportButton"), Qt::LeftButton);
    }

    std::vector<ReadingRow> rows() const
    {
        std::vector<ReadingRow> all;
        m.GetRecorde->forEachRow([&](const ReadingRow& row) { all.push_back(row); });
        return all;
    }
    void expectRows(const std::vector<Row>& expected, const char* label) const
    {
        const std::vector<ReadingRow> actual = rows();
        ASSERT_EQ(actual.size(), expected.size()) << label;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const ReadingRow wanted { expected[i].recNo, expected[i].value, expected[i].weight, expected[i].time,
                expected[i].date };
            EXPECT_EQ(actual[i], wanted) << label << ", row " << i;
        }
    }
    QStringList messages() const
    {
        QStringList texts;
        for (const auto& message : fixture.ui.messages)
            texts << message.text;
        return texts;
    }
    bool windowGone() const { return shownWindow.gone(); }
    QString dataFile(const char* name) const { return QDir(files.path()).filePath(QLatin1String(name)); }

    QTemporaryDir files;
    TestModule fixture { std::make_unique<SqliteReadingStore>(QDir(files.path()).filePath("Decimora.mdb")) };
    TForm6& m = *fixture.module;
    SimulatedMeter& meter = fixture.meter;
    ChildWindowHarness<TForm4> shownWindow;
    QPointer<TForm4>& window = shownWindow.window;
    QPointer<QMdiSubWindow>& subWindow = shownWindow.subWindow;
};

TEST_F(ImportWindowTest, OpensEmptyWithItsCaptionSizesAndButtonStates)
{
    EXPECT_EQ(window->objectName(), "Form4");
    EXPECT_EQ(window->windowTitle(), "Decimora Import Data ");
    EXPECT_EQ(child<ReadingGridView>("DBGrid1")->width(), 248);
    EXPECT_EQ(child<QWidget>("BottomPanel")->height(), 48);
    EXPECT_EQ(child<QLineEdit>("FileNameEdit")->width(), 209);
    EXPECT_FALSE(child<QLineEdit>("FileNameEdit")->isEnabled());
    EXPECT_FALSE(child<QLineEdit>("RecordsBox")->isEnabled());
    for (const char* label : { "RecordsLabel", "MaxLabel", "MinLabel", "AvgLabel" })
        EXPECT_EQ(child<QLabel>(label)->width(), 60) << label;
    for (const char* name : { "MaxBox", "MinBox", "AvgBox" }) {
        EXPECT_EQ(child<QLineEdit>(name)->size(), QSize(50, 30)) << name;
        EXPECT_FALSE(child<QLineEdit>(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(button("ImportButton")->isEnabled());
    EXPECT_FALSE(button("SaveButton")->isEnabled());
    EXPECT_FALSE(printEnabled());
    EXPECT_TRUE(child<QLabel>("WaitNotice")->isHidden());
    EXPECT_EQ(window->Graph()->title(), "Data Imported  Analyzing");
    EXPECT_EQ(window->Graph()->valueAxisTitle(), "SPL  Unit:DB");
    EXPECT_TRUE(m.FormsReady);
    EXPECT_EQ(m.GetRecorde->rowCount(), 0);
}

TEST_F(ImportWindowTest, ADownloadDecodesTheMemoryIntoRowsGraphAndFigures)
{
    struct Case {
        const char* label;
        Bytes memory;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        { "the worked example", Join({ WorkedHeader, Pair65and70, End }),
            { { "0", "65.3", "A", "9:5:30", "5/12/2006" }, { "1", "70.1", "A", "9:5:40", "5/12/2006" } } },
        { "interval 0 gives every reading the same time",
            Join({ Header(0x10, 0x00, 0x00, 0x12, 0x01, 0x02, 0x07, 0x00), Pair65and70, Pair65and70, End }),
            { { "0", "65.3", "C", "12:0:0", "2/1/2007" }, { "1", "70.1", "C", "12:0:0", "2/1/2007" },
                { "2", "65.3", "C", "12:0:0", "2/1/2007" }, { "3", "70.1", "C", "12:0:0", "2/1/2007" } } },
        { "the year rolls over", Join({ Header(0x00, 0x59, 0x59, 0x23, 0x31, 0x12, 0x06, 0x01), Pair65and70, End }),
            { { "0", "65.3", "A", "23:59:59", "12/31/2006" }, { "1", "70.1", "A", "0:0:0", "1/1/2007" } } },
        { "hour byte 0x24 is hour 0",
            Join({ Header(0x00, 0x00, 0x10, 0x24, 0x01, 0x03, 0x09, 0x01), Pair65and70, End }),
            { { "0", "65.3", "A", "0:10:0", "3/1/2009" }, { "1", "70.1", "A", "0:10:1", "3/1/2009" } } },
        { "0xFD inside a pair is data", Join({ WorkedHeader, { 0x51, 0xFD, 0x7A }, End }),
            { { "0", "65.5", "A", "9:5:30", "5/12/2006" }, { "1", "377.3", "A", "9:5:40", "5/12/2006" } } },
        // Header and three pairs: the third pair's bytes come in the second and third replies.
        { "a pair split across two replies", Join({ WorkedHeader, Pair65and70, Pair65and70, Pair65and70, End }),
            { { "0", "65.3", "A", "9:5:30", "5/12/2006" }, { "1", "70.1", "A", "9:5:40", "5/12/2006" },
                { "2", "65.3", "A", "9:5:50", "5/12/2006" }, { "3", "70.1", "A", "9:6:0", "5/12/2006" },
                { "4", "65.3", "A", "9:6:10", "5/12/2006" }, { "5", "70.1", "A", "9:6:20", "5/12/2006" } } },
        { "two runs: record numbers run on, times restart",
            Join({ WorkedHeader, Pair65and70, Header(0x10, 0x00, 0x00, 0x08, 0x13, 0x05, 0x06, 0x3C), Pair65and70,
                End }),
            { { "0", "65.3", "A", "9:5:30", "5/12/2006" }, { "1", "70.1", "A", "9:5:40", "5/12/2006" },
                { "2", "65.3", "C", "8:0:0", "5/13/2006" }, { "3", "70.1", "C", "8:1:0", "5/13/2006" } } },
    };
    for (const Case& c : cases) {
        download(c.memory);
        expectRows(c.rows, c.label);
        EXPECT_EQ(box("RecordsBox"), QString::number(c.rows.size())) << c.label;
        EXPECT_EQ(window->Graph()->pointCount(0), qsizetype(c.rows.size())) << c.label;
        EXPECT_TRUE(button("SaveButton")->isEnabled()) << c.label;
        EXPECT_TRUE(button("ImportButton")->isEnabled()) << c.label;
        EXPECT_TRUE(printEnabled()) << c.label;
        EXPECT_TRUE(child<QLabel>("WaitNotice")->isHidden()) << c.label;
        EXPECT_EQ(m.MeterBusy, 0) << c.label;
        EXPECT_TRUE(messages().isEmpty()) << c.label << ": " << messages().join('|').toStdString();
    }
}

TEST_F(ImportWindowTest, TheWorkedExampleShowsItsFigures)
{
    download(Join({ WorkedHeader, Pair65and70, End }));
    EXPECT_EQ(box("RecordsBox"), "2");
    EXPECT_EQ(box("MaxBox"), SystemShortestDecimalText(70.1));
    EXPECT_EQ(box("MinBox"), SystemShortestDecimalText(65.3));
    EXPECT_EQ(box("AvgBox"), SystemOneDecimalText(67.7));
    EXPECT_TRUE(child<QLineEdit>("RecordsBox")->isEnabled());
    EXPECT_EQ(window->Graph()->values(0), (std::vector<double> { 65.3, 70.1 }));
}

// Each way a download brings nothing new leaves the rows of the one before, and says so.
TEST_F(ImportWindowTest, ADownloadThatBringsNothingKeepsThePreviousRows)
{
    struct Case {
        const char* label;
        std::function<void(SimulatedMeter&)> arrange;
        Bytes memory;
        const char* message; // null: nothing is said
        MessageIcon icon;
    };
    const Case cases[] = {
        { "memory starting with 0xFF", {}, Join({ End, WorkedHeader, Pair65and70 }), "no recorde in SPL Unit  ",
            MessageIcon::Information },
        { "refused", [](SimulatedMeter& meter) { meter.setDownloadReplyByte(0xEE); }, Join({ WorkedHeader, End }),
            " SPL Unit Failed!", MessageIcon::Information },
    };
    int n = 0;
    for (const Case& c : cases) {
        meter.setDownloadReplyByte(DownloadAccepted);
        download(Join({ WorkedHeader, Pair65and70, End }));
        fixture.ui.saveFileNames.push_back(dataFile(("kept" + std::to_string(++n)).c_str()));
        QTest::mouseClick(button("SaveButton"), Qt::LeftButton);
        ASSERT_FALSE(button("SaveButton")->isEnabled());
        fixture.ui.messages.clear();

        if (c.arrange)
            c.arrange(meter);
        download(c.memory);

        ASSERT_EQ(fixture.ui.messages.size(), 1U) << c.label;
        EXPECT_EQ(fixture.ui.messages[0].text, QLatin1String(c.message)) << c.label;
        EXPECT_EQ(fixture.ui.messages[0].caption, "Error Infromation") << c.label;
        EXPECT_EQ(fixture.ui.messages[0].icon, c.icon) << c.label;
        EXPECT_EQ(m.LastErrorText, QLatin1String(c.message)) << c.label;
        EXPECT_EQ(rows().size(), 2U) << c.label;
        EXPECT_EQ(window->Graph()->pointCount(0), 0) << c.label << ": the graph is left cleared";
        EXPECT_TRUE(button("ImportButton")->isEnabled()) << c.label;
        EXPECT_FALSE(button("SaveButton")->isEnabled()) << c.label;
        EXPECT_TRUE(printEnabled()) << c.label;
        EXPECT_TRUE(child<QLabel>("WaitNotice")->isHidden()) << c.label;
        EXPECT_EQ(m.MeterBusy, 0) << c.label;
        EXPECT_EQ(m.ProgressPosition, 0) << c.label;
    }
}

// A meter that goes away part-way: the download ends within the reply limit, the meter is free, the
// user is told what happened and what to do, and the rows from before stay.
TEST_F(ImportWindowTest, AMeterLostMidDownloadEndsItAndKeepsThePreviousRows)
{
    struct Case {
        const char* label;
        std::function<void(SimulatedMeter&)> fail;
        const char* says;
        bool connectedAfter;
    };
    const Case cases[] = {
        { "unplugged", [](SimulatedMeter& meter) { meter.setUnpluggedAfterBlocks(2); }, "was disconnected", false },
        { "silent", [](SimulatedMeter& meter) { meter.setSilentAfterBlocks(2); }, "stopped answering", true },
    };
    Bytes longMemory = WorkedHeader;
    for (int i = 0; i < 20; ++i)
        longMemory.insert(longMemory.end(), Pair65and70.begin(), Pair65and70.end());
    longMemory.push_back(0xFF);
    for (const Case& c : cases) {
        download(Join({ WorkedHeader, Pair65and70, End }));
        ASSERT_EQ(rows().size(), 2U) << c.label;
        fixture.ui.messages.clear();

        c.fail(meter);
        download(longMemory);

        ASSERT_EQ(fixture.ui.messages.size(), 1U) << c.label;
        EXPECT_TRUE(fixture.ui.messages[0].text.contains(QLatin1String(c.says)))
            << c.label << ": " << fixture.ui.messages[0].text.toStdString();
        EXPECT_EQ(fixture.ui.messages[0].caption, "Error Infromation") << c.label;
        EXPECT_EQ(fixture.ui.messages[0].icon, MessageIcon::Error) << c.label;
        EXPECT_EQ(rows().size(), 2U) << c.label;
        EXPECT_EQ(m.MeterBusy, 0) << c.label;
        EXPECT_FALSE(m.AwaitingReply) << c.label;
        EXPECT_EQ(m.DeviceConnected, c.connectedAfter) << c.label;
        EXPECT_TRUE(button("ImportButton")->isEnabled()) << c.label;
        EXPECT_TRUE(button("SaveButton")->isEnabled()) << c.label << ": the earlier rows are still unsaved";
        EXPECT_TRUE(child<QLabel>("WaitNotice")->isHidden()) << c.label;

        // Back in order, the next Import works.
        meter.setSilentAfterBlocks(-1);
        if (!meter.pluggedIn()) {
            meter.plug();
            ASSERT_TRUE(TestModule::waitUntil([&] { return m.DeviceConnected; })) << c.label;
        }
        fixture.ui.messages.clear();
        download(longMemory);
        EXPECT_EQ(rows().size(), 40U) << c.label;
        EXPECT_TRUE(fixture.ui.messages.empty()) << c.label;
    }
}

TEST_F(ImportWindowTest, ImportWhileTheMeterIsBusyOrAbsentOnlyEnablesPrintGraph)
{
    struct Case {
        const char* label;
        std::function<void(TForm6&, SimulatedMeter&)> arrange;
    };
    const Case cases[] = {
        { "a measurement run holds the meter", [](TForm6& m, SimulatedMeter&) { m.MeterBusy = MeterBusyMeasuring; } },
        { "no meter", [](TForm6& m, SimulatedMeter&) { m.DeviceConnected = false; } },
    };
    for (const Case& c : cases) {
        c.arrange(m, meter);
        meter.clearWrittenReports();
        download(Join({ WorkedHeader, Pair65and70, End }));
        EXPECT_TRUE(meter.writtenReports().empty()) << c.label;
        EXPECT_TRUE(rows().empty()) << c.label;
        EXPECT_TRUE(printEnabled()) << c.label;
        EXPECT_FALSE(child<QLineEdit>("RecordsBox")->isEnabled()) << c.label;
        EXPECT_TRUE(messages().isEmpty()) << c.label;
        m.MeterBusy = 0;
        m.DeviceConnected = true;
        window->Graph()->printButton()->setEnabled(false);
    }
}

TEST_F(ImportWindowTest, AStagingFileThatCannotBeHadStopsBeforeTheMeterIsAsked)
{
    struct Case {
        const char* label;
        std::function<std::optional<StagingFileLease>(const QString& folder)> arrange;
        const char* says;
    };
    const Case cases[] = {
        { "held by a data file load",
            [](const QString& folder) {
                return std::optional<StagingFileLease>(
                    StagingFileLease::acquire(folder, QStringLiteral("the load of a data file")));
            },
            "in use by the load of a data file" },
        // A folder where the file should be: it cannot be created, whoever runs the test.
        { "cannot be created",
            [](const QString& folder) {
                QDir(folder).mkdir(QString::fromLatin1(StagingFileName));
                return std::optional<StagingFileLease>();
            },
            "Cannot create" },
    };
    for (const Case& c : cases) {
        const std::optional<StagingFileLease> blocker = c.arrange(m.Folders().cacheFolder());
        meter.clearWrittenReports();
        fixture.ui.messages.clear();
        download(Join({ WorkedHeader, Pair65and70, End }));
        ASSERT_EQ(fixture.ui.messages.size(), 1U) << c.label;
        EXPECT_TRUE(fixture.ui.messages[0].text.contains(QLatin1String(c.says)))
            << c.label << ": " << fixture.ui.messages[0].text.toStdString();
        EXPECT_EQ(fixture.ui.messages[0].caption, "Error Infromation") << c.label;
        EXPECT_TRUE(meter.writtenReports().empty()) << c.label;
        EXPECT_EQ(m.MeterBusy, 0) << c.label;
        EXPECT_TRUE(button("ImportButton")->isEnabled()) << c.label;
        EXPECT_TRUE(rows().empty()) << c.label;
    }
}

TEST_F(ImportWindowTest, SaveWritesAFileTheAnalysisLoaderReadsBack)
{
    struct Case {
        const char* label;
        Bytes memory;
    };
    const Case cases[] = {
        { "two runs",
            Join({ WorkedHeader, Pair65and70, Header(0x10, 0x00, 0x00, 0x08, 0x13, 0x05, 0x06, 0x3C), Pair65and70,
                End }) },
        // No header at all: the readings still carry a date and time a data file can hold.
        { "readings before any header", Join({ Pair65and70, Pair65and70, End }) },
    };
    int n = 0;
    for (const Case& c : cases) {
        download(c.memory);
        const std::vector<ReadingRow> downloaded = rows();
        ASSERT_FALSE(downloaded.empty()) << c.label;
        const QString chosen = dataFile(("saved" + std::to_string(++n)).c_str());
        fixture.ui.saveFileNames.push_back(chosen);
        QTest::mouseClick(button("SaveButton"), Qt::LeftButton);
        ASSERT_FALSE(fixture.ui.saveDialogs.empty());
        EXPECT_EQ(fixture.ui.saveDialogs.back().filter, "*.DMR|*.DMR|*.dmr|*.dmr");
        EXPECT_EQ(box("FileNameEdit"), chosen + ".dmr") << c.label;
        EXPECT_FALSE(button("SaveButton")->isEnabled()) << c.label;
        EXPECT_TRUE(m.MeasureSaved) << c.label;

        m.LoadData->empty();
        StagingFileLease staging = StagingFileLease::acquire(m.Folders().cacheFolder(), QStringLiteral("a test"));
        const std::optional<DataFileLoad> load = LoadDataFile(chosen + ".dmr", *m.LoadData, staging);
        ASSERT_TRUE(load.has_value()) << c.label;
        ASSERT_EQ(m.LoadData->rowCount(), qint64(downloaded.size())) << c.label;
        for (std::size_t i = 0; i < downloaded.size(); ++i) {
            const ReadingRow loaded = m.LoadData->row(qint64(i));
            EXPECT_EQ(loaded.meaValue, downloaded[i].meaValue) << c.label << i;
            EXPECT_EQ(loaded.weight, downloaded[i].weight) << c.label << i;
            EXPECT_EQ(loaded.time, downloaded[i].time) << c.label << i;
            EXPECT_EQ(loaded.date, downloaded[i].date) << c.label << i;
            EXPECT_FALSE(loaded.date.isEmpty()) << c.label << i;
        }
    }
}

TEST_F(ImportWindowTest, SaveAsksBeforeReplacingAndACancelledDialogLeavesSaveAtHand)
{
    download(Join({ WorkedHeader, Pair65and70, End }));
    QFile existing(dataFile("old.dmr"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("keep me");
    existing.close();

    fixture.ui.saveFileNames.push_back(QString());
    QTest::mouseClick(button("SaveButton"), Qt::LeftButton);
    EXPECT_TRUE(button("SaveButton")->isEnabled());
    EXPECT_FALSE(m.MeasureSaved);

    fixture.ui.saveFileNames.push_back(dataFile("old.dmr"));
    fixture.ui.answers.push_back(MessageAnswer::No);
    QTest::mouseClick(button("SaveButton"), Qt::LeftButton);
    ASSERT_EQ(fixture.ui.messages.size(), 1U);
    EXPECT_EQ(fixture.ui.messages[0].text, "Filename  already exits!\rAre you sure to replace it?");
    EXPECT_EQ(fixture.ui.messages[0].caption, "Query Information");
    EXPECT_TRUE(button("SaveButton")->isEnabled());
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), "keep me");
}

TEST_F(ImportWindowTest, ASaveThatFailsKeepsTheReadingsUnsaved)
{
    download(Join({ WorkedHeader, Pair65and70, End }));
    fixture.ui.saveFileNames.push_back(dataFile("no such folder/run.dmr"));
    QTest::mouseClick(button("SaveButton"), Qt::LeftButton);
    ASSERT_EQ(fixture.ui.messages.size(), 1U);
    EXPECT_EQ(fixture.ui.messages[0].caption, "Error Infromation");
    EXPECT_TRUE(button("SaveButton")->isEnabled());
    EXPECT_TRUE(box("FileNameEdit").isEmpty());
    EXPECT_FALSE(m.MeasureSaved);
    EXPECT_TRUE(window->hasUnsavedReadings());
}

TEST_F(ImportWindowTest, CloseAsksAboutUnsavedReadingsAndCancelKeepsTheWindow)
{
    download(Join({ WorkedHeader, Pair65and70, End }));
    fixture.ui.answers.push_back(MessageAnswer::Cancel);
    EXPECT_FALSE(subWindow->close());
    ASSERT_EQ(fixture.ui.messages.size(), 1U);
    EXPECT_EQ(fixture.ui.messages[0].text, "Up-load data have not save yet!\rDo you want to save data?");
    EXPECT_EQ(fixture.ui.messages[0].buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(m.ImportWindowHandle, window.data());
    EXPECT_FALSE(m.ImportCommandEnabled);
    EXPECT_FALSE(m.DropImportMenuItem) << "the window stays, and so does its Window-menu item";
    EXPECT_EQ(rows().size(), 2U);

    // No: the window goes, the rows stay for export until the next import window.
    fixture.ui.answers.push_back(MessageAnswer::No);
    EXPECT_TRUE(subWindow->close());
    EXPECT_TRUE(windowGone());
    EXPECT_FALSE(m.ImportWindowHandle);
    EXPECT_TRUE(m.ImportCommandEnabled);
    EXPECT_TRUE(m.DropImportMenuItem);
    EXPECT_EQ(rows().size(), 2U);
}

TEST_F(ImportWindowTest, ClosingDuringADownloadCallsItOffAndThenCloses)
{
    download(Join({ WorkedHeader, Pair65and70, End }));
    fixture.ui.saveFileNames.push_back(dataFile("first"));
    QTest::mouseClick(button("SaveButton"), Qt::LeftButton);

    // A long memory answered slowly: the close comes while the window waits for a block.
    Bytes memory = WorkedHeader;
    for (int i = 0; i < 200; ++i)
        memory.insert(memory.end(), Pair65and70.begin(), Pair65and70.end());
    memory.push_back(0xFF);
    meter.setReplyLatency(std::chrono::milliseconds(5));
    QTimer::singleShot(50, subWindow, [this] { subWindow->close(); });
    download(memory);

    EXPECT_TRUE(windowGone());
    EXPECT_EQ(m.MeterBusy, 0);
    EXPECT_FALSE(m.AwaitingReply);
    EXPECT_TRUE(m.ImportCommandEnabled);
    EXPECT_EQ(rows().size(), 2U) << "the rows of the download before stay";
    EXPECT_TRUE(messages().isEmpty());
}

} // namespace
