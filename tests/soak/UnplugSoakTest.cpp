// A meter on a long USB cable gets unplugged mid-run. The measurement window and the import window
// are driven with the simulated meter while the cable is pulled and put back at moments drawn from a
// fixed seed: nothing may crash or hang (the suite runs under the address sanitizer), the run goes on
// after every re-plug, no reading the meter sent is lost or reordered, and every download either
// completes or ends with its message and the meter free. The same again with the cable pulled while a
// reply is on its way.
#include "import/GetRecorde.h"
#include "measure/Measuring.h"
#include "store/SqliteReadingStore.h"
#include "support/ChildWindowHarness.h"
#include "support/TestModule.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <iostream>
#include <random>

namespace {

constexpr std::uint32_t Seed = 20261210;

// Tenths of a dB as the measurement window stores them: "65.3".
QString ValueText(int tenths)
{
    return QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
}

// One run of 30 pairs: 60 readings in 100 bytes with the end mark, 13 blocks of eight.
std::vector<std::uint8_t> SixtyLoggedReadings()
{
    std::vector<std::uint8_t> memory { 0xFD, 0x00, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0x0A };
    for (int i = 0; i < 30; ++i)
        memory.insert(memory.end(), { 0x51, 0xA5, 0x7A });
    memory.push_back(0xFF);
    return memory;
}

struct SoakFixture : testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(fixture.connect());
        m.MeasureSaved = true;
        m.MeasureCommandEnabled = true;
        m.ImportCommandEnabled = true;
        m.FormsReady = true;
    }

    void pullCable()
    {
        meter.unplug();
        ASSERT_TRUE(TestModule::waitUntil([&] { return !m.DeviceConnected; }));
    }
    void plugCable()
    {
        meter.plug();
        ASSERT_TRUE(TestModule::waitUntil([&] { return m.DeviceConnected; }));
    }

    // A download that ran through has every reading of the memory and said nothing; one the unplug
    // cut said so once and kept the rows that were there before it.
    void expectDownloadEnd(bool whole, qint64 rowsBefore, qint64 readingsInMemory, int download)
    {
        if (whole) {
            EXPECT_TRUE(fixture.ui.messages.empty()) << "download " << download;
            EXPECT_EQ(m.GetRecorde->rowCount(), readingsInMemory) << "download " << download;
            return;
        }
        ASSERT_EQ(fixture.ui.messages.size(), 1U) << "download " << download;
        EXPECT_TRUE(fixture.ui.messages[0].text.contains(QLatin1String("was disconnected")))
            << fixture.ui.messages[0].text.toStdString();
        EXPECT_EQ(m.GetRecorde->rowCount(), rowsBefore) << "a cut download keeps the rows that were there";
    }

    QTemporaryDir files;
    TestModule fixture { std::make_unique<SqliteReadingStore>(QDir(files.path()).filePath("Decimora.mdb")) };
    TForm6& m = *fixture.module;
    SimulatedMeter& meter = fixture.meter;
};

} // namespace

TEST_F(SoakFixture, AMeasurementRunSurvivesAHundredUnplugsAndKeepsEveryReadingInOrder)
{
    ChildWindowHarness<TForm5> shown;
    ASSERT_TRUE(shown.open(m, ChildWindowKind::Measure));
    QTest::mouseClick(shown.button("StartButton"), Qt::LeftButton);
    ASSERT_TRUE(shown.window->IsMeasuring());
    // The run's one-second poll is ticked by the test instead.
    shown.child<QTimer>("Timer1")->stop();

    std::mt19937 random(Seed);
    std::uniform_int_distribution<int> level(300, 1200);
    std::uniform_int_distribution<int> ticksBetween(0, 12);
    std::uniform_int_distribution<int> ticksUnplugged(0, 3);

    constexpr int PlugCycles = 100;
    std::vector<QString> produced; // what the meter sent, in order
    int ticks = 0;
    const auto tickPlugged = [&] {
        const int tenths = level(random);
        meter.queueReadings({ tenths });
        const qint64 before = m.MeaData->rowCount();
        shown.window->Timer1Timer();
        ++ticks;
        produced.push_back(ValueText(tenths));
        ASSERT_TRUE(TestModule::waitUntil([&] { return m.MeaData->rowCount() == before + 1; }))
            << "reading " << produced.size() << " never arrived";
    };

    for (int cycle = 0; cycle < PlugCycles; ++cycle) {
        for (int i = ticksBetween(random); i > 0; --i)
            ASSERT_NO_FATAL_FAILURE(tickPlugged());
        ASSERT_NO_FATAL_FAILURE(pullCable());
        // Polls while the cable is out ask nothing and keep the run going.
        meter.clearWrittenReports();
        for (int i = ticksUnplugged(random); i > 0; --i) {
            shown.window->Timer1Timer();
            ++ticks;
        }
        EXPECT_TRUE(meter.writtenReports().empty()) << "cycle " << cycle;
        ASSERT_TRUE(shown.window->IsMeasuring()) << "cycle " << cycle;
        ASSERT_NO_FATAL_FAILURE(plugCable());
        // The first poll after the re-plug reads again.
        ASSERT_NO_FATAL_FAILURE(tickPlugged());
    }

    std::vector<QString> stored;
    std::vector<qint64> recNos;
    m.MeaData->forEachRow([&](const ReadingRow& row) {
        stored.push_back(row.meaValue);
        recNos.push_back(row.recNo.toLongLong());
    });
    EXPECT_EQ(stored, produced);
    for (std::size_t i = 0; i < recNos.size(); ++i)
        ASSERT_EQ(recNos[i], static_cast<qint64>(i + 1)) << "record numbers run on without a gap";
    std::cout << "unplug soak, measurement: " << PlugCycles << " plug cycles, " << ticks << " polls, "
              << produced.size() << " readings produced, " << stored.size() << " readings stored" << std::endl;

    QTest::mouseClick(shown.button("StopButton"), Qt::LeftButton);
    EXPECT_FALSE(shown.window->IsMeasuring());
}

TEST_F(SoakFixture, TwentyDownloadsCutByAnUnplugEachCompleteOrEndWithTheirMessageAndFreeTheMeter)
{
    ChildWindowHarness<TForm4> shown;
    ASSERT_TRUE(shown.open(m, ChildWindowKind::Import));

    const std::vector<std::uint8_t> memory = SixtyLoggedReadings();
    constexpr std::size_t ReadingsInMemory = 60;
    constexpr int Blocks = 13;

    std::mt19937 random(Seed);
    std::uniform_int_distribution<int> cutAfter(0, Blocks + 3); // past the last block: no cut at all
    constexpr int Downloads = 20;
    int completed = 0;
    int cut = 0;
    for (int download = 0; download < Downloads; ++download) {
        const int after = cutAfter(random);
        meter.setLoggedMemory(memory);
        meter.setUnpluggedAfterBlocks(after);
        fixture.ui.messages.clear();
        const qint64 rowsBefore = m.GetRecorde->rowCount();
        QTest::mouseClick(shown.button("ImportButton"), Qt::LeftButton);

        EXPECT_EQ(m.MeterBusy, 0) << "download " << download;
        EXPECT_FALSE(m.AwaitingReply) << "download " << download;
        EXPECT_TRUE(shown.child<QLabel>("WaitNotice")->isHidden()) << "download " << download;
        const bool whole = meter.pluggedIn();
        ASSERT_NO_FATAL_FAILURE(expectDownloadEnd(whole, rowsBefore, static_cast<qint64>(ReadingsInMemory), download));
        if (whole) {
            ++completed;
        } else {
            ++cut;
            meter.setUnpluggedAfterBlocks(-1);
            ASSERT_NO_FATAL_FAILURE(plugCable());
        }
        ASSERT_TRUE(shown.button("ImportButton")->isEnabled()) << "download " << download;
    }
    std::cout << "unplug soak, downloads: " << Downloads << " downloads, " << completed << " completed, " << cut
              << " ended by an unplug and re-plugged" << std::endl;
    EXPECT_GT(cut, 0);
    EXPECT_GT(completed, 0);
}

// The cable pulled between the request and its reading: the reply still on its way from the meter
// (a reply latency), or already read and waiting to be handed to the user-interface thread (no
// latency; the test does not let the hand-over run before the pull). Such a reading may arrive or be
// lost with the meter, but never twice or out of place; every other reading arrives in order.
TEST_F(SoakFixture, AMeasurementRunSurvivesUnplugsWhileAReplyIsInFlight)
{
    ChildWindowHarness<TForm5> shown;
    ASSERT_TRUE(shown.open(m, ChildWindowKind::Measure));
    QTest::mouseClick(shown.button("StartButton"), Qt::LeftButton);
    shown.child<QTimer>("Timer1")->stop();

    std::mt19937 random(Seed + 1);
    std::uniform_int_distribution<int> ticksBetween(0, 4);
    // Unique levels, so that a reading found in the table tells which request it answered.
    int nextTenths = 300;
    struct Produced {
        QString value;
        bool inFlightAtPull;
    };
    std::vector<Produced> produced;
    const auto tick = [&](bool waitForIt) {
        const int tenths = nextTenths++;
        meter.queueReadings({ tenths });
        const qint64 before = m.MeaData->rowCount();
        shown.window->Timer1Timer();
        produced.push_back({ ValueText(tenths), !waitForIt });
        if (waitForIt) {
            ASSERT_TRUE(TestModule::waitUntil([&] { return m.MeaData->rowCount() == before + 1; }))
                << "reading " << produced.size() << " never arrived";
        }
    };

    constexpr int PlugCycles = 60;
    for (int cycle = 0; cycle < PlugCycles; ++cycle) {
        // Even cycles: the reply is still inside the meter; odd ones: it has been read off the node.
        meter.setReplyLatency(std::chrono::milliseconds(cycle % 2 == 0 ? 30 : 0));
        for (int i = ticksBetween(random); i > 0; --i)
            ASSERT_NO_FATAL_FAILURE(tick(true));
        ASSERT_NO_FATAL_FAILURE(tick(false));
        ASSERT_NO_FATAL_FAILURE(pullCable());
        ASSERT_TRUE(shown.window->IsMeasuring()) << "cycle " << cycle;
        meter.setReplyLatency(std::chrono::milliseconds(0));
        ASSERT_NO_FATAL_FAILURE(plugCable());
        ASSERT_NO_FATAL_FAILURE(tick(true));
    }

    std::vector<QString> stored;
    m.MeaData->forEachRow([&](const ReadingRow& row) { stored.push_back(row.meaValue); });
    std::size_t next = 0;
    int inFlight = 0;
    int inFlightArrived = 0;
    for (const Produced& reading : produced) {
        const bool found = next < stored.size() && stored[next] == reading.value;
        if (reading.inFlightAtPull) {
            ++inFlight;
            inFlightArrived += found ? 1 : 0;
        } else {
            ASSERT_TRUE(found) << "reading " << reading.value.toStdString() << " missing or out of place";
        }
        next += found ? 1 : 0;
    }
    EXPECT_EQ(next, stored.size()) << "the table holds a reading no request asked for, or one twice";
    EXPECT_EQ(m.AwaitingReply, false);
    std::cout << "unplug soak, replies in flight: " << PlugCycles << " plug cycles, " << produced.size()
              << " readings produced, " << inFlight << " in flight at the pull (" << inFlightArrived
              << " of them arrived), " << stored.size() << " readings stored" << std::endl;
    QTest::mouseClick(shown.button("StopButton"), Qt::LeftButton);
}

// The cable pulled at a random moment of a download whose every reply takes a while: the pull lands
// while a block is awaited. Each download completes or ends with its message, and the meter is free.
TEST_F(SoakFixture, DownloadsCutWhileABlockIsAwaitedEndWithTheirMessageAndFreeTheMeter)
{
    ChildWindowHarness<TForm4> shown;
    ASSERT_TRUE(shown.open(m, ChildWindowKind::Import));
    const std::vector<std::uint8_t> memory = SixtyLoggedReadings();
    constexpr qint64 ReadingsInMemory = 60;
    // 14 exchanges (the start and 13 blocks) of 10 ms each: a pull within 0 to 180 ms mostly lands in
    // a wait, sometimes after the end.
    meter.setReplyLatency(std::chrono::milliseconds(10));
    std::mt19937 random(Seed + 2);
    std::uniform_int_distribution<int> pullAtMs(0, 180);

    constexpr int Downloads = 20;
    int completed = 0;
    int cut = 0;
    for (int download = 0; download < Downloads; ++download) {
        meter.setLoggedMemory(memory);
        fixture.ui.messages.clear();
        const qint64 rowsBefore = m.GetRecorde->rowCount();
        QTimer::singleShot(pullAtMs(random), [&] { meter.unplug(); });
        QTest::mouseClick(shown.button("ImportButton"), Qt::LeftButton);
        // Let a pull that is still due happen, so every download is followed by one.
        ASSERT_TRUE(TestModule::waitUntil([&] { return !meter.pluggedIn() && !m.DeviceConnected; }));

        EXPECT_EQ(m.MeterBusy, 0) << "download " << download;
        EXPECT_FALSE(m.AwaitingReply) << "download " << download;
        const bool whole = fixture.ui.messages.empty();
        ASSERT_NO_FATAL_FAILURE(expectDownloadEnd(whole, rowsBefore, ReadingsInMemory, download));
        ++(whole ? completed : cut);
        ASSERT_NO_FATAL_FAILURE(plugCable());
        ASSERT_TRUE(shown.button("ImportButton")->isEnabled()) << "download " << download;
    }
    std::cout << "unplug soak, downloads with replies in flight: " << Downloads << " downloads, " << completed
              << " completed, " << cut << " cut while a block was awaited" << std::endl;
    EXPECT_GT(cut, 0);
}
