// The decoder of the meter's logged memory, fed byte by byte as a download delivers them: readings
// come out with record number, value, weighting, time and date. The last tests run whole downloads
// from the simulated meter through the meter link.
#include "core/MeterMemoryDecoder.h"
#include "core/MeterProtocol.h"
#include "support/TestModule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// "recNo value weight time date", the way a reading lands in the table.
std::string Summary(const DecodedReading& reading)
{
    return (QString::number(reading.recNo) + ' ' + reading.valueText + ' ' + reading.weight + ' ' + reading.timeText
        + ' ' + reading.dateText)
        .toStdString();
}

struct Decoding {
    MeterMemoryDecoder decoder;
    std::vector<DecodedReading> readings;
    std::vector<std::uint8_t> headerStatuses;

    Decoding()
    {
        decoder.setReadingSink([this](const DecodedReading& reading) { readings.push_back(reading); });
        decoder.setHeaderSink([this](std::uint8_t status) { headerStatuses.push_back(status); });
    }

    void feed(const Bytes& bytes)
    {
        for (const std::uint8_t b : bytes)
            decoder.Dispatch(b);
    }

    std::vector<std::string> summaries() const
    {
        std::vector<std::string> out;
        for (const DecodedReading& reading : readings)
            out.push_back(Summary(reading));
        return out;
    }
};

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// 0xFD and a header: A weighting, 9:05:30 on 12 May 2006, 10 s between readings.
const Bytes WorkedHeader { 0xFD, 0x00, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0x0A };
// 65.3 dB and 70.1 dB.
const Bytes WorkedPair { 0x51, 0xA5, 0x7A };

} // namespace

TEST(MeterMemoryDecoder, DecodesAHeaderAndAPackedPairIntoTwoReadingsTheIntervalApart)
{
    Decoding d;
    d.decoder.StartDownload();
    d.feed(Concat({ WorkedHeader, WorkedPair }));

    EXPECT_EQ(d.summaries(), (std::vector<std::string> { "0 65.3 A 9:5:30 5/12/2006", "1 70.1 A 9:5:40 5/12/2006" }));
    ASSERT_EQ(d.readings.size(), 2U);
    EXPECT_EQ(d.readings[0].tenths, 653U);
    EXPECT_DOUBLE_EQ(d.readings[0].value, 65.3);
    EXPECT_EQ(d.readings[1].tenths, 701U);
    EXPECT_EQ(d.decoder.ImportCount(), 2);
    EXPECT_EQ(d.decoder.ImportRecNo(), 2);
    EXPECT_DOUBLE_EQ(d.decoder.ImportMax(), 70.1);
    EXPECT_DOUBLE_EQ(d.decoder.ImportMin(), 65.3);
    EXPECT_EQ(QString::number(d.decoder.ImportAverage(), 'f', 1), "67.7");
    EXPECT_EQ(d.headerStatuses, (std::vector<std::uint8_t> { 0x00 }));
    EXPECT_EQ(d.decoder.ImportInterval(), 10);
    EXPECT_EQ(d.decoder.StampTimeText(), "9:5:50") << "the stamp is that of the next reading";
}

TEST(MeterMemoryDecoder, PackedPairsSplitIntoAnElevenAndATwelveBitReadingWithOneDecimal)
{
    struct Case {
        Bytes pair;
        std::uint32_t firstTenths;
        const char* firstText;
        double firstValue;
        std::uint32_t secondTenths;
        const char* secondText;
        double secondValue;
    };
    const Case cases[] = {
        { { 0x00, 0x00, 0x0A }, 0, "0.0", 0.0, 5, "0.5", 0.5 },
        { { 0x7D, 0x07, 0xD0 }, 1000, "100.0", 100.0, 1000, "100.0", 100.0 },
        { { 0x00, 0x3F, 0xFE }, 1, "0.1", 0.1, 4095, "409.5", 409.5 }, // the second reading's top
        { { 0xFE, 0x00, 0x00 }, 2032, "203.2", 203.2, 0, "0.0", 0.0 },
        { { 0x51, 0xA5, 0x7B }, 653, "65.3", 65.3, 701, "70.1", 70.1 }, // bit 0 is not part of a reading
    };
    for (const Case& c : cases) {
        Decoding d;
        d.feed(Concat({ WorkedHeader, c.pair }));
        ASSERT_EQ(d.readings.size(), 2U) << c.firstText;
        EXPECT_EQ(d.readings[0].tenths, c.firstTenths);
        EXPECT_EQ(d.readings[0].valueText.toStdString(), c.firstText);
        EXPECT_DOUBLE_EQ(d.readings[0].value, c.firstValue);
        EXPECT_EQ(d.readings[1].tenths, c.secondTenths);
        EXPECT_EQ(d.readings[1].valueText.toStdString(), c.secondText);
        EXPECT_DOUBLE_EQ(d.readings[1].value, c.secondValue);
    }
}

TEST(MeterMemoryDecoder, TheStampAdvancesByTheIntervalThroughTheCalendar)
{
    struct Case {
        const char* what;
        Bytes header; // second, minute, hour, day, month, year, interval
        std::vector<std::string> times; // time and date of the two readings of one pair
    };
    const Case cases[] = {
        { "interval 0", { 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0 }, { "9:5:30 5/12/2006", "9:5:30 5/12/2006" } },
        { "into the next year", { 0x59, 0x59, 0x23, 0x31, 0x12, 0x06, 1 },
            { "23:59:59 12/31/2006", "0:0:0 1/1/2007" } },
        { "leap day", { 0x50, 0x59, 0x23, 0x28, 0x02, 0x08, 10 }, { "23:59:50 2/28/2008", "0:0:0 2/29/2008" } },
        { "no leap day", { 0x50, 0x59, 0x23, 0x28, 0x02, 0x07, 10 }, { "23:59:50 2/28/2007", "0:0:0 3/1/2007" } },
        { "leap day of 2000", { 0x59, 0x59, 0x23, 0x28, 0x02, 0x00, 1 }, { "23:59:59 2/28/2000", "0:0:0 2/29/2000" } },
        // 0xA0 counts as 100: 2100 is no leap year.
        { "no leap day in 2100", { 0x59, 0x59, 0x23, 0x28, 0x02, 0xA0, 1 },
            { "23:59:59 2/28/2100", "0:0:0 3/1/2100" } },
        { "end of a 30-day month", { 0x00, 0x58, 0x23, 0x30, 0x04, 0x10, 120 },
            { "23:58:0 4/30/2010", "0:0:0 5/1/2010" } },
        // 255 would be the end mark, which never reaches the decoder.
        { "254 s carry minutes and the hour", { 0x30, 0x59, 0x09, 0x01, 0x07, 0x11, 254 },
            { "9:59:30 7/1/2011", "10:3:44 7/1/2011" } },
    };
    for (const Case& c : cases) {
        Decoding d;
        d.feed(Concat({ { 0xFD, 0x00 }, c.header, WorkedPair }));
        std::vector<std::string> times;
        for (const DecodedReading& reading : d.readings)
            times.push_back((reading.timeText + ' ' + reading.dateText).toStdString());
        EXPECT_EQ(times, c.times) << c.what;
    }
}

TEST(MeterMemoryDecoder, HeadersThatAreNoRealDateAndTimeAreMendedWhenRead)
{
    struct Case {
        const char* what;
        Bytes header; // second, minute, hour, day, month, year, interval
        const char* firstReading; // time and date
    };
    const Case cases[] = {
        { "hour 24", { 0x30, 0x05, 0x24, 0x12, 0x05, 0x06, 0 }, "0:5:30 5/12/2006" },
        { "hour 45 (0x3F)", { 0x30, 0x05, 0x3F, 0x12, 0x05, 0x06, 0 }, "0:5:30 5/12/2006" },
        { "second 60 (0x5A), minute 60", { 0x5A, 0x60, 0x09, 0x12, 0x05, 0x06, 0 }, "9:0:0 5/12/2006" },
        { "nibbles above 9 within range", { 0x0F, 0x1A, 0x0B, 0x12, 0x05, 0x06, 0 }, "11:20:15 5/12/2006" },
        { "day 32", { 0x30, 0x05, 0x09, 0x32, 0x05, 0x06, 0 }, "9:5:30 5/1/2006" },
        { "day 0", { 0x30, 0x05, 0x09, 0x00, 0x05, 0x06, 0 }, "9:5:30 5/1/2006" },
        { "day 110 (0xAA)", { 0x30, 0x05, 0x09, 0xAA, 0x05, 0x06, 0 }, "9:5:30 5/1/2006" },
        { "month 13", { 0x30, 0x05, 0x09, 0x12, 0x13, 0x06, 0 }, "9:5:30 12/12/2006" },
        { "month 0", { 0x30, 0x05, 0x09, 0x12, 0x00, 0x06, 0 }, "9:5:30 1/12/2006" },
        { "month 164 (0xFE)", { 0x30, 0x05, 0x09, 0x31, 0xFE, 0x06, 0 }, "9:5:30 12/31/2006" },
        { "31 April", { 0x30, 0x05, 0x09, 0x31, 0x04, 0x06, 0 }, "9:5:30 4/30/2006" },
        { "29 February 2007", { 0x30, 0x05, 0x09, 0x29, 0x02, 0x07, 0 }, "9:5:30 2/28/2007" },
        { "31 February 2008", { 0x30, 0x05, 0x09, 0x31, 0x02, 0x08, 0 }, "9:5:30 2/29/2008" },
        { "29 February 2008 is real", { 0x30, 0x05, 0x09, 0x29, 0x02, 0x08, 0 }, "9:5:30 2/29/2008" },
        { "year 164 (0xFE)", { 0x30, 0x05, 0x09, 0x12, 0x05, 0xFE, 0 }, "9:5:30 5/12/2164" },
    };
    for (const Case& c : cases) {
        Decoding d;
        d.feed(Concat({ { 0xFD, 0x00 }, c.header, WorkedPair }));
        ASSERT_EQ(d.readings.size(), 2U) << c.what;
        EXPECT_EQ((d.readings[0].timeText + ' ' + d.readings[0].dateText).toStdString(), c.firstReading) << c.what;
    }
}

TEST(MeterMemoryDecoder, EachReadingTakesTheWeightingOfItsRunsStatusByte)
{
    struct Case {
        std::uint8_t status;
        const char* weight;
    };
    const Case cases[] = { { 0x00, "A" }, { 0x10, "C" }, { 0x54, "C" }, { 0x5F, "C" }, { 0xEF, "A" } };
    for (const Case& c : cases) {
        Decoding d;
        d.feed(Concat({ { 0xFD, c.status, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0x0A }, WorkedPair }));
        ASSERT_EQ(d.readings.size(), 2U);
        EXPECT_EQ(d.readings[0].weight.toStdString(), c.weight) << int(c.status);
        EXPECT_EQ(d.readings[1].weight.toStdString(), c.weight) << int(c.status);
        EXPECT_EQ(d.headerStatuses, (std::vector<std::uint8_t> { c.status }));
        EXPECT_EQ(d.decoder.RunStatus(), c.status);
    }
}

TEST(MeterMemoryDecoder, A0xFDStartsAHeaderOnlyWhereAPairWouldStart)
{
    struct Case {
        const char* what;
        Bytes memory;
        std::vector<std::string> readings;
    };
    const Case cases[] = {
        { "second byte of a pair", Concat({ WorkedHeader, { 0x51, 0xFD, 0x7A } }),
            { "0 65.5 A 9:5:30 5/12/2006", "1 377.3 A 9:5:40 5/12/2006" } },
        { "third byte of a pair", Concat({ WorkedHeader, { 0x51, 0xA5, 0xFD } }),
            { "0 65.3 A 9:5:30 5/12/2006", "1 76.6 A 9:5:40 5/12/2006" } },
        { "first byte of a pair",
            Concat({ WorkedHeader, WorkedPair, { 0xFD, 0x10, 0x00, 0x00, 0x10, 0x01, 0x01, 0x07, 0x01 }, WorkedPair }),
            { "0 65.3 A 9:5:30 5/12/2006", "1 70.1 A 9:5:40 5/12/2006", "2 65.3 C 10:0:0 1/1/2007",
                "3 70.1 C 10:0:1 1/1/2007" } },
        { "within a header, which starts again",
            Concat({ { 0xFD, 0x10, 0x00, 0xFD, 0x00, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0x0A }, WorkedPair }),
            { "0 65.3 A 9:5:30 5/12/2006", "1 70.1 A 9:5:40 5/12/2006" } },
        // Interval 253: the header is complete, and the same byte begins the next one.
        { "last byte of a header",
            Concat({ { 0xFD, 0x00, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0xFD },
                { 0x10, 0x00, 0x00, 0x10, 0x01, 0x01, 0x07, 0x01 }, WorkedPair }),
            { "0 65.3 C 10:0:0 1/1/2007", "1 70.1 C 10:0:1 1/1/2007" } },
    };
    for (const Case& c : cases) {
        Decoding d;
        d.feed(c.memory);
        EXPECT_EQ(d.summaries(), c.readings) << c.what;
    }
}

TEST(MeterMemoryDecoder, TheEndMarkIsNoDataAndHalfAPairGivesNoReading)
{
    Decoding d;
    d.feed(Concat({ WorkedHeader, { 0x51, 0xFF, 0xA5, 0xFF, 0x7A, 0xFF } }));
    EXPECT_EQ(d.summaries(), (std::vector<std::string> { "0 65.3 A 9:5:30 5/12/2006", "1 70.1 A 9:5:40 5/12/2006" }));

    d.feed({ 0x51, 0xA5 });
    EXPECT_EQ(d.readings.size(), 2U);
    EXPECT_EQ(d.decoder.WordPos(), 2);
}

TEST(MeterMemoryDecoder, ReadingsBeforeAnyHeaderOfTheProgramRunAreDatedAtTheStartOf2000)
{
    Decoding d;
    d.decoder.StartDownload();
    d.feed(Concat({ WorkedPair, WorkedPair }));
    EXPECT_EQ(d.summaries(),
        (std::vector<std::string> { "0 65.3 A 0:0:0 1/1/2000", "1 70.1 A 0:0:0 1/1/2000", "2 65.3 A 0:0:0 1/1/2000",
            "3 70.1 A 0:0:0 1/1/2000" }));
}

TEST(MeterMemoryDecoder, RecordNumbersRunOnAcrossRunsWhileTimesRestartAtEachHeader)
{
    Decoding d;
    d.decoder.StartDownload();
    d.feed(Concat({ WorkedHeader, WorkedPair, WorkedPair, { 0xFD, 0x50, 0x00, 0x00, 0x23, 0x01, 0x06, 0x07, 0x01 },
        WorkedPair }));
    EXPECT_EQ(d.summaries(),
        (std::vector<std::string> { "0 65.3 A 9:5:30 5/12/2006", "1 70.1 A 9:5:40 5/12/2006",
            "2 65.3 A 9:5:50 5/12/2006", "3 70.1 A 9:6:0 5/12/2006", "4 65.3 C 23:0:0 6/1/2007",
            "5 70.1 C 23:0:1 6/1/2007" }));
    EXPECT_EQ(d.decoder.ImportCount(), 6);
    EXPECT_EQ(d.headerStatuses, (std::vector<std::uint8_t> { 0x00, 0x50 }));
}

TEST(MeterMemoryDecoder, APairCutByAReplyBoundaryWaitsForItsLastByte)
{
    Decoding d;
    d.feed(Concat({ WorkedHeader, { 0x51, 0xA5 } }));
    EXPECT_TRUE(d.readings.empty());
    EXPECT_EQ(d.decoder.WordPos(), 2);
    d.feed({ 0x7A });
    EXPECT_EQ(d.summaries(), (std::vector<std::string> { "0 65.3 A 9:5:30 5/12/2006", "1 70.1 A 9:5:40 5/12/2006" }));
}

TEST(MeterMemoryDecoder, ANewDownloadKeepsStampAndExtremesButRestartsCountsAndDropsHalfItems)
{
    Decoding d;
    d.decoder.StartDownload();
    // The first download breaks off in the middle of a header.
    d.feed(Concat({ WorkedHeader, WorkedPair, { 0xFD, 0x00, 0x30 } }));
    ASSERT_TRUE(d.decoder.InHeader());

    d.decoder.StartDownload();
    EXPECT_EQ(d.decoder.ImportCount(), 0);
    EXPECT_EQ(d.decoder.ImportRecNo(), 0);
    EXPECT_EQ(d.decoder.ImportSum(), 0.0);
    EXPECT_EQ(d.decoder.ImportAverage(), 0.0);
    EXPECT_DOUBLE_EQ(d.decoder.ImportMax(), 70.1);
    EXPECT_DOUBLE_EQ(d.decoder.ImportMin(), 65.3);
    EXPECT_EQ(d.decoder.StampTimeText(), "9:5:50");
    EXPECT_EQ(d.decoder.StampDateText(), "5/12/2006");
    EXPECT_FALSE(d.decoder.InHeader());

    // 50.0 dB twice, with no header: the stamp and the interval of the last run go on.
    d.readings.clear();
    d.feed({ 0x3E, 0x83, 0xE8 });
    EXPECT_EQ(d.summaries(), (std::vector<std::string> { "0 50.0 A 9:5:50 5/12/2006", "1 50.0 A 9:6:0 5/12/2006" }));
    EXPECT_DOUBLE_EQ(d.decoder.ImportMax(), 50.0);
    EXPECT_DOUBLE_EQ(d.decoder.ImportMin(), 50.0);
    EXPECT_DOUBLE_EQ(d.decoder.ImportSum(), 100.0);
    EXPECT_EQ(d.decoder.ImportCount(), 2);
}

// --- Whole downloads over the meter link --------------------------------------------------------------

namespace {

struct DownloadThroughTheMeterLink : testing::Test {
    TestModule fixture;
    TForm6& module = *fixture.module;
    SimulatedMeter& meter = fixture.meter;
    Decoding d;

    void SetUp() override { ASSERT_TRUE(fixture.connect()); }

    DownloadOutcome download(int replyTimeoutMs = DefaultDownloadReplyTimeoutMs)
    {
        d.decoder.StartDownload();
        DownloadHooks hooks;
        hooks.decode = [this](std::uint8_t b) { d.decoder.Dispatch(b); };
        hooks.replyTimeoutMs = replyTimeoutMs;
        return module.Link().download(hooks);
    }
};

LoggedRun LoggedRunOf(std::uint8_t status, const QDateTime& start, std::uint8_t interval, std::vector<int> readings)
{
    LoggedRun run;
    run.statusFlags = status;
    run.start = start;
    run.intervalSeconds = interval;
    run.readings = std::move(readings);
    return run;
}

} // namespace

TEST_F(DownloadThroughTheMeterLink, TwoRunsArriveWithPairsAndHeadersStraddlingReplies)
{
    // Replies carry 8 bytes: the third pair of the first run (bytes 15-17), the second header (19-26)
    // and the second run's second pair (30-32) each cross from one reply into the next.
    meter.setLoggedMemory(EncodeLoggedMemory({
        LoggedRunOf(0x40, QDateTime(QDate(2006, 12, 31), QTime(23, 59, 58)), 1, { 653, 701, 655, 702, 660 }),
        LoggedRunOf(0x54, QDateTime(QDate(2008, 2, 28), QTime(23, 59, 50)), 5, { 1000, 1200, 300, 450 }),
    }));
    EXPECT_EQ(download(), DownloadOutcome::Completed);
    EXPECT_EQ(d.summaries(),
        (std::vector<std::string> {
            "0 65.3 A 23:59:58 12/31/2006",
            "1 70.1 A 23:59:59 12/31/2006",
            "2 65.5 A 0:0:0 1/1/2007",
            "3 70.2 A 0:0:1 1/1/2007",
            "4 66.0 A 0:0:2 1/1/2007",
            "5 66.0 A 0:0:3 1/1/2007", // the meter logs in pairs and repeats an odd run's last reading
            "6 100.0 C 23:59:50 2/28/2008",
            "7 120.0 C 23:59:55 2/28/2008",
            "8 30.0 C 0:0:0 2/29/2008",
            "9 45.0 C 0:0:5 2/29/2008",
        }));
    EXPECT_EQ(d.decoder.ImportCount(), 10);
    EXPECT_DOUBLE_EQ(d.decoder.ImportMax(), 120.0);
    EXPECT_DOUBLE_EQ(d.decoder.ImportMin(), 30.0);
}

TEST_F(DownloadThroughTheMeterLink, ADownloadCutShortKeepsItsReadingsAndTheNextOneStartsClean)
{
    struct Case {
        const char* what;
        std::function<void()> fault;
        DownloadOutcome outcome;
        std::function<void()> mend;
    };
    const Case cases[] = {
        { "silent", [&] { meter.setSilentAfterBlocks(2); }, DownloadOutcome::TimedOut,
            [&] { meter.setSilentAfterBlocks(-1); } },
        { "unplugged", [&] { meter.setUnpluggedAfterBlocks(2); }, DownloadOutcome::Disconnected,
            [&] {
                meter.plug();
                ASSERT_TRUE(TestModule::waitUntil([&] { return module.DeviceConnected; }));
            } },
    };
    std::vector<int> levels;
    for (int i = 0; i < 40; ++i)
        levels.push_back(500 + i);
    meter.setLoggedMemory(
        EncodeLoggedMemory({ LoggedRunOf(0x40, QDateTime(QDate(2026, 3, 1), QTime(8, 0)), 1, levels) }));
    for (const Case& c : cases) {
        c.fault();
        d.readings.clear();
        // Two blocks: 0xFD, the header and seven bytes of pairs: two pairs and one byte of the third.
        EXPECT_EQ(download(200), c.outcome) << c.what;
        EXPECT_EQ(d.readings.size(), 4U) << c.what;
        EXPECT_EQ(d.decoder.WordPos(), 1) << c.what;

        c.mend();
        d.readings.clear();
        EXPECT_EQ(download(), DownloadOutcome::Completed) << c.what;
        ASSERT_EQ(d.readings.size(), 40U) << c.what;
        EXPECT_EQ(Summary(d.readings.front()), "0 50.0 A 8:0:0 3/1/2026") << c.what;
        EXPECT_EQ(Summary(d.readings.back()), "39 53.9 A 8:0:39 3/1/2026") << c.what;
    }
}

TEST_F(DownloadThroughTheMeterLink, TwoHundredThousandReadingsArriveWhole)
{
    std::vector<int> levels(200000);
    for (std::size_t i = 0; i < levels.size(); ++i)
        levels[i] = 300 + static_cast<int>(i % 1000);
    meter.setLoggedMemory(
        EncodeLoggedMemory({ LoggedRunOf(0x40, QDateTime(QDate(2026, 3, 1), QTime(0, 0)), 1, levels) }));
    std::int64_t count = 0;
    std::int64_t misplaced = 0;
    d.decoder.setReadingSink([&](const DecodedReading& reading) {
        if (reading.recNo != count || static_cast<int>(reading.tenths) != levels[static_cast<std::size_t>(count)])
            ++misplaced;
        ++count;
    });
    EXPECT_EQ(download(), DownloadOutcome::Completed);
    EXPECT_EQ(count, 200000);
    EXPECT_EQ(misplaced, 0);
    // 200,000 s after midnight on 1 March: 7:33:20 on 3 March.
    EXPECT_EQ(d.decoder.StampTimeText(), "7:33:20");
    EXPECT_EQ(d.decoder.StampDateText(), "3/3/2026");
}
