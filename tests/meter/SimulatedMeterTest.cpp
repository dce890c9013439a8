#include "meter/SimulatedMeter.h"
#include "core/MeterMemoryDecoder.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <algorithm>
#include <functional>

namespace {

// Sends one command to the meter and returns the data bytes of its reply (report id dropped).
std::vector<std::uint8_t> Exchange(SimulatedMeter& meter, std::vector<std::uint8_t> command)
{
    const HidInterfaceInfo info = meter.scan().back();
    auto connection = meter.open(info.devicePath, HidAccess::ReadWrite);
    command.resize(SimulatedMeter::ReportLength, 0);
    EXPECT_TRUE(connection->write(command.data(), command.size()));
    std::vector<std::uint8_t> reply(SimulatedMeter::ReportLength);
    const bool answered = command[1] != 0x56 && command[1] != 0x7C;
    const int count = connection->read(reply.data(), reply.size(), answered ? 1000 : 0);
    if (count <= 0)
        return {};
    return { reply.begin() + 1, reply.begin() + count };
}

// One connection to the meter kept across commands, as the program's read thread keeps it.
struct MeterLine {
    std::unique_ptr<HidConnection> connection;

    explicit MeterLine(SimulatedMeter& meter)
        : connection(meter.open(meter.scan().back().devicePath, HidAccess::ReadWrite))
    {
    }
    bool send(std::uint8_t command)
    {
        std::vector<std::uint8_t> report(SimulatedMeter::ReportLength, 0);
        report[1] = command;
        return connection->write(report.data(), report.size());
    }
    // The data bytes of the reply, or the read's result when there is none (0 silence, -1 gone).
    std::pair<int, std::vector<std::uint8_t>> reply(int timeoutMs = 1000)
    {
        std::vector<std::uint8_t> bytes(SimulatedMeter::ReportLength);
        const int count = connection->read(bytes.data(), bytes.size(), timeoutMs);
        if (count <= 0)
            return { count, {} };
        return { count, { bytes.begin() + 1, bytes.begin() + count } };
    }
};

} // namespace

TEST(LoggedMemory, PacksTwoReadingsIntoThreeBytesAfterAHeader)
{
    LoggedRun run;
    run.statusFlags = 0x00;
    run.start = QDateTime(QDate(2006, 12, 5), QTime(9, 5, 30));
    run.intervalSeconds = 10;
    run.readings = { 653, 701 };
    const std::vector<std::uint8_t> expected { 0xFD, 0x00, 0x30, 0x05, 0x09, 0x05, 0x12, 0x06, 0x0A, 0x51, 0xA5, 0x7A,
        0xFF };
    EXPECT_EQ(EncodeLoggedMemory({ run }), expected);
}

TEST(SimulatedMeter, AnswersTheDownloadEightBytesAtATimeAndPadsWithTheEndMark)
{
    SimulatedMeter meter;
    meter.setLoggedMemory({ 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFF });
    EXPECT_EQ(Exchange(meter, { 0, 0xB5 })[0], 0xEF);
    const auto first = Exchange(meter, { 0, 0xC4 });
    const auto second = Exchange(meter, { 0, 0xC4 });
    EXPECT_EQ(std::vector<std::uint8_t>(first.begin(), first.begin() + 8),
        (std::vector<std::uint8_t> { 1, 2, 3, 4, 5, 6, 7, 8 }));
    EXPECT_EQ(std::vector<std::uint8_t>(second.begin(), second.begin() + 8),
        (std::vector<std::uint8_t> { 9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF }));
}

TEST(SimulatedMeter, SetModeChangesTheStatusByteAndMaxHoldKeepsTheHighestLevel)
{
    SimulatedMeter meter;
    Exchange(meter, { 0, 0x56, 0x34 }); // 80-130 dB, slow, C weighting, MAX hold
    meter.queueReadings({ 700, 900, 800 });
    std::vector<int> levels;
    for (int i = 0; i < 3; ++i) {
        const auto reply = Exchange(meter, { 0, 0xB3 });
        EXPECT_EQ(reply[2], 0x34);
        levels.push_back(reply[0] * 256 + reply[1]);
    }
    EXPECT_EQ(levels, (std::vector<int> { 700, 900, 900 }));
}

TEST(SimulatedMeter, SetClockMovesTheMeterClock)
{
    SimulatedMeter meter;
    // 23:59:58 on 31 December 2009
    Exchange(meter, { 0, 0x7C, 0x58, 0x59, 0x23, 0x31, 0x12, 0x09 });
    const QDateTime clock = meter.meterClock();
    EXPECT_EQ(clock.date().year(), 2009);
    EXPECT_EQ(clock.date().month(), 12);
    EXPECT_LE(qAbs(clock.secsTo(QDateTime(QDate(2009, 12, 31), QTime(23, 59, 58)))), 2);
}

TEST(SimulatedMeter, LiveLevelMovesLikeRoomNoiseWithinTheMetersRange)
{
    SimulatedMeter meter;
    meter.setSeed(7);
    int previous = -1;
    int changes = 0;
    for (int i = 0; i < 200; ++i) {
        const auto reply = Exchange(meter, { 0, 0xB3 });
        const int level = reply[0] * 256 + reply[1];
        EXPECT_GE(level, 300);
        EXPECT_LE(level, 1300);
        changes += level != previous ? 1 : 0;
        previous = level;
    }
    EXPECT_GT(changes, 150);
}

TEST(SimulatedMeter, UnpluggedMeterRefusesWritesAndEndsReads)
{
    SimulatedMeter meter;
    const HidInterfaceInfo info = meter.scan().back();
    auto connection = meter.open(info.devicePath, HidAccess::ReadWrite);
    meter.unplug();
    const std::uint8_t command[SimulatedMeter::ReportLength] = { 0, 0xB3 };
    EXPECT_FALSE(connection->write(command, sizeof command));
    std::uint8_t reply[SimulatedMeter::ReportLength] {};
    EXPECT_EQ(connection->read(reply, sizeof reply, 100), -1);
    EXPECT_TRUE(meter.scan().empty());
    meter.plug();
    ASSERT_EQ(meter.scan().size(), 1U);
    EXPECT_NE(meter.scan().back().deviceInstance, info.deviceInstance);
}

TEST(SimulatedMeter, CanFailPartWayThroughADownload)
{
    struct Case {
        const char* what;
        std::function<void(SimulatedMeter&)> fault;
        bool writeAccepted; // of the request for the third block
        int readResult; // when the third block's reply is awaited
        bool pluggedIn;
        bool nextDownloadFailsToo;
    };
    const Case cases[] = {
        { "silent", [](SimulatedMeter& m) { m.setSilentAfterBlocks(2); }, true, 0, true, true },
        { "unplugged", [](SimulatedMeter& m) { m.setUnpluggedAfterBlocks(2); }, false, -1, false, false },
    };
    std::vector<std::uint8_t> memory;
    for (std::uint8_t b = 1; b <= 32; ++b)
        memory.push_back(b);
    memory.push_back(0xFF);
    for (const Case& c : cases) {
        SimulatedMeter meter;
        meter.setLoggedMemory(memory);
        c.fault(meter);
        {
            MeterLine line(meter);
            ASSERT_TRUE(line.send(0xB5));
            EXPECT_EQ(line.reply().second.at(0), 0xEF) << c.what;
            for (std::uint8_t block = 0; block < 2; ++block) {
                ASSERT_TRUE(line.send(0xC4));
                EXPECT_EQ(line.reply().second.at(0), block * 8 + 1) << c.what;
            }
            EXPECT_EQ(line.send(0xC4), c.writeAccepted) << c.what;
            EXPECT_EQ(line.reply(100).first, c.readResult) << c.what;
            EXPECT_EQ(meter.pluggedIn(), c.pluggedIn) << c.what;
        }

        // The next download: a hang stays, a pulled cable was a single event.
        meter.plug();
        MeterLine line(meter);
        ASSERT_TRUE(line.send(0xB5));
        EXPECT_EQ(line.reply().second.at(0), 0xEF) << c.what;
        int answered = 0;
        for (int block = 0; block < 3; ++block) {
            ASSERT_TRUE(line.send(0xC4)) << c.what;
            answered += line.reply(100).first > 0 ? 1 : 0;
        }
        EXPECT_EQ(answered, c.nextDownloadFailsToo ? 2 : 3) << c.what;
    }
}

TEST(SimulatedMeter, DefaultMemoryHoldsThreeRunsThatEndedBeforeNow)
{
    const QDateTime now(QDate(2026, 5, 4), QTime(14, 27, 13));
    const std::vector<LoggedRun> runs = DefaultLoggedRuns(now);
    struct Expected {
        bool cWeighting;
        int interval;
    };
    const Expected expected[] = { { false, 1 }, { true, 10 }, { false, 60 } };
    ASSERT_EQ(runs.size(), 3U);
    std::size_t readings = 0;
    QDateTime endOfPrevious(QDate(2000, 1, 1), QTime(0, 0));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const LoggedRun& run = runs[i];
        EXPECT_EQ((run.statusFlags & 0x10) != 0, expected[i].cWeighting) << i;
        EXPECT_EQ(run.intervalSeconds, expected[i].interval) << i;
        // One run after the other, all over before now.
        EXPECT_GE(run.start, endOfPrevious) << i;
        endOfPrevious
            = run.start.addSecs(static_cast<qint64>(run.intervalSeconds) * static_cast<qint64>(run.readings.size()));
        EXPECT_LE(endOfPrevious, now) << i;
        // Levels a meter measures, not a flat line.
        const auto [quietest, loudest] = std::minmax_element(run.readings.begin(), run.readings.end());
        EXPECT_GE(*quietest, 300) << i;
        EXPECT_LE(*loudest, 1300) << i;
        EXPECT_GE(*loudest - *quietest, 50) << i;
        readings += run.readings.size();
    }
    EXPECT_GE(readings, 2000U);
    EXPECT_LE(readings, 10000U);

    const std::vector<LoggedRun> again = DefaultLoggedRuns(now);
    for (std::size_t i = 0; i < runs.size(); ++i)
        EXPECT_EQ(again[i].readings, runs[i].readings) << "the same now gives the same runs";
}

TEST(SimulatedMeter, ANewMeterDownloadsItsDefaultMemory)
{
    SimulatedMeter meter;
    MeterMemoryDecoder decoder;
    std::vector<QString> weights;
    decoder.setReadingSink([&](const DecodedReading& reading) {
        if (weights.empty() || weights.back() != reading.weight)
            weights.push_back(reading.weight);
    });
    std::vector<int> intervals;
    decoder.setHeaderSink([&](std::uint8_t) { intervals.push_back(decoder.ImportInterval()); });
    decoder.StartDownload();

    MeterLine line(meter);
    ASSERT_TRUE(line.send(0xB5));
    ASSERT_EQ(line.reply().second.at(0), 0xEF);
    bool ended = false;
    while (!ended) {
        ASSERT_TRUE(line.send(0xC4));
        const std::vector<std::uint8_t> block = line.reply().second;
        ASSERT_EQ(block.size(), 8U);
        for (const std::uint8_t b : block) {
            ended = ended || b == 0xFF;
            decoder.Dispatch(b);
        }
    }
    std::size_t logged = 0;
    for (const LoggedRun& run : DefaultLoggedRuns(QDateTime::currentDateTime()))
        logged += (run.readings.size() + 1) / 2 * 2;
    EXPECT_EQ(decoder.ImportCount(), static_cast<std::int64_t>(logged));
    EXPECT_EQ(weights, (std::vector<QString> { "A", "C", "A" }));
    EXPECT_EQ(intervals, (std::vector<int> { 1, 10, 60 }));
}

namespace {

// A handle that writes but never reads (the program's write handle) keeps only the latest 64 replies,
// as the hidraw driver keeps them per open file: before, a run of a million readings kept them all.
TEST(SimulatedMeter, AHandleNobodyReadsKeepsOnlyTheLatestReplies)
{
    SimulatedMeter meter;
    SimulatedMeter twin;
    MeterLine line(meter);
    MeterLine reference(twin);
    std::vector<std::uint8_t> expectedLast;
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(line.send(0xB3));
        ASSERT_TRUE(reference.send(0xB3));
        std::vector<std::uint8_t> reply(SimulatedMeter::ReportLength);
        ASSERT_EQ(reference.connection->read(reply.data(), reply.size(), 1000), int(reply.size()));
        if (i == 200 - 64)
            expectedLast = reply;
    }
    std::vector<std::uint8_t> reply(SimulatedMeter::ReportLength);
    ASSERT_EQ(line.connection->read(reply.data(), reply.size(), 1000), int(reply.size()));
    // The oldest kept is the reply to request 137: the same level as the twin's 137th.
    EXPECT_EQ(reply, expectedLast);
    int kept = 1;
    while (line.connection->read(reply.data(), reply.size(), 0) > 0)
        ++kept;
    EXPECT_EQ(kept, 64);
}

} // namespace
