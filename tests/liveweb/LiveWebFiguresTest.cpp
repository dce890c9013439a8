// The figures of the live page, fed readings as the logger hands them on, checked through the messages
// a page gets: the reading and its flags, the day's running levels, the minutes, what a late page is
// sent, and the period levels and events of the assessment day.

#include "liveweb/LiveWebFigures.h"
#include "core/DecimoraError.h"
#include "liveweb/LiveWebAddress.h"

#include <QJsonArray>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

namespace {

// An hour ahead of UTC, whatever the machine's zone: the page is told the offset with every reading.
QDateTime At(int year, int month, int day, int hour, int minute, int second, int ms = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, ms), Qt::OffsetFromUTC, 3600);
}

LiveReading Reading(const QDateTime& time, std::int32_t tenths, std::int32_t flags = 0x40)
{
    return { time, tenths, flags };
}

// 10·lg of the mean energy, worked out here from the definition.
double EnergyMean(const std::vector<double>& levels)
{
    double sum = 0.0;
    for (double level : levels)
        sum += std::pow(10.0, level / 10.0);
    return std::round(100.0 * std::log10(sum / double(levels.size()))) / 10.0;
}

QJsonObject Period(const QJsonObject& message, const QString& name)
{
    for (const QJsonValue& row : message.value(QLatin1String("assessment"))[QLatin1String("periods")].toArray())
        if (row[QLatin1String("name")].toString() == name)
            return row.toObject();
    return {};
}

} // namespace

TEST(LiveWebAddressTest, ServeAddressesAreReadOrRefused)
{
    struct Case {
        const char* text;
        std::optional<QString> host; // nothing: refused
        quint16 port = 0;
        bool network = false;
        const char* url = "";
    };
    const Case cases[] = {
        { "8080", QStringLiteral("127.0.0.1"), 8080, false, "http://127.0.0.1:8080/" },
        { "localhost:1", QStringLiteral("127.0.0.1"), 1, false, "http://127.0.0.1:1/" },
        { "65535", QStringLiteral("127.0.0.1"), 65535, false, "http://127.0.0.1:65535/" },
        { "0.0.0.0:8080", QStringLiteral("0.0.0.0"), 8080, true, "http://127.0.0.1:8080/" },
        { "192.168.1.20:80", QStringLiteral("192.168.1.20"), 80, true, "http://192.168.1.20:80/" },
        { "[::1]:8080", QStringLiteral("::1"), 8080, false, "http://[::1]:8080/" },
        { "[::]:8080", QStringLiteral("::"), 8080, true, "http://[::1]:8080/" },
        { "0", std::nullopt },
        { "99999", std::nullopt },
        { "-1", std::nullopt },
        { "", std::nullopt },
        { "8080x", std::nullopt },
        { "127.0.0.1:", std::nullopt },
        { ":8080", std::nullopt },
        { "gate.local:8080", std::nullopt },
        { "::1:8080", std::nullopt },
        { "[127.0.0.1]:8080", std::nullopt },
        { "[::1]", std::nullopt },
        { "300.1.1.1:8080", std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        if (!c.host) {
            EXPECT_THROW(ParseLiveWebAddress(QString::fromLatin1(c.text)), DecimoraError);
            continue;
        }
        const LiveWebAddress address = ParseLiveWebAddress(QString::fromLatin1(c.text));
        EXPECT_EQ(address.host, QHostAddress(*c.host));
        EXPECT_EQ(address.port, c.port);
        EXPECT_EQ(ReachableFromNetwork(address), c.network);
        EXPECT_EQ(LiveWebUrl(address), QString::fromLatin1(c.url));
    }
}

// The level, its flags and the alarm as the measurement window shows them: the alarm above the high
// level, not at it; UNDER and OVER outside the range's limits.
TEST(LiveWebFiguresTest, EachReadingCarriesItsLevelFlagsAndAlarm)
{
    struct Case {
        std::int32_t tenths;
        std::int32_t flags;
        const char* weighting;
        const char* response;
        bool maxHold;
        bool alarm;
        bool under;
        bool over;
    };
    // Range code 1 is 30 to 80 dB; the high level is 75.
    const Case cases[] = {
        { 299, 0x41, "A", "fast", false, false, true, false },
        { 300, 0x01, "A", "slow", false, false, false, false },
        { 750, 0x11, "C", "slow", false, false, false, false },
        { 751, 0x21, "A", "slow", true, true, false, false },
        { 800, 0x71, "C", "fast", true, true, false, false },
        { 801, 0x01, "A", "slow", false, true, false, true },
    };
    LiveWebSettings settings;
    settings.highAlarm = 75.0;
    LiveWebFigures figures(settings);
    QDateTime time = At(2026, 12, 10, 9, 15, 2, 250);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tenths);
        const QJsonObject message = figures.add(Reading(time, c.tenths, c.flags));
        const QJsonObject reading = message.value(QLatin1String("reading")).toObject();
        EXPECT_EQ(reading.value(QLatin1String("level")).toDouble(), c.tenths / 10.0);
        EXPECT_EQ(reading.value(QLatin1String("weighting")).toString(), QLatin1String(c.weighting));
        EXPECT_EQ(reading.value(QLatin1String("response")).toString(), QLatin1String(c.response));
        EXPECT_EQ(reading.value(QLatin1String("range")).toString(), QLatin1String("30-80"));
        EXPECT_EQ(reading.value(QLatin1String("max_hold")).toBool(), c.maxHold);
        EXPECT_EQ(reading.value(QLatin1String("alarm")).toBool(), c.alarm);
        EXPECT_EQ(reading.value(QLatin1String("under")).toBool(), c.under);
        EXPECT_EQ(reading.value(QLatin1String("over")).toBool(), c.over);
        EXPECT_EQ(reading.value(QLatin1String("t")).toInteger(), time.toMSecsSinceEpoch());
        EXPECT_EQ(reading.value(QLatin1String("offset")).toInt(), 3600);
        time = time.addSecs(1);
    }
    EXPECT_EQ(figures.add(Reading(time, 500)).value(QLatin1String("seq")).toInt(), 7);
}

// The day's LAeq is an energy mean, its LA90 a level of the readings; midnight starts a new day.
TEST(LiveWebFiguresTest, TheDaysLevelsRunFromMidnight)
{
    LiveWebFigures figures({});
    figures.add(Reading(At(2026, 12, 10, 23, 59, 57), 600));
    figures.add(Reading(At(2026, 12, 10, 23, 59, 58), 700));
    QJsonObject day = figures.add(Reading(At(2026, 12, 10, 23, 59, 59), 550)).value(QLatin1String("day")).toObject();
    EXPECT_EQ(day.value(QLatin1String("date")).toString(), QLatin1String("2026-12-10"));
    EXPECT_EQ(day.value(QLatin1String("count")).toInt(), 3);
    EXPECT_DOUBLE_EQ(day.value(QLatin1String("leq")).toDouble(), EnergyMean({ 60.0, 70.0, 55.0 }));
    EXPECT_DOUBLE_EQ(day.value(QLatin1String("lmax")).toDouble(), 70.0);
    EXPECT_DOUBLE_EQ(day.value(QLatin1String("l90")).toDouble(), 55.0);

    day = figures.add(Reading(At(2026, 12, 11, 0, 0, 0), 420)).value(QLatin1String("day")).toObject();
    EXPECT_EQ(day.value(QLatin1String("date")).toString(), QLatin1String("2026-12-11"));
    EXPECT_EQ(day.value(QLatin1String("count")).toInt(), 1);
    EXPECT_DOUBLE_EQ(day.value(QLatin1String("leq")).toDouble(), 42.0);
    EXPECT_DOUBLE_EQ(day.value(QLatin1String("lmax")).toDouble(), 42.0);

    // A C-weighted reading is a day of its own weighting: never averaged with the A readings.
    day = figures.add(Reading(At(2026, 12, 11, 0, 0, 1), 800, 0x50)).value(QLatin1String("day")).toObject();
    EXPECT_EQ(day.value(QLatin1String("weighting")).toString(), QLatin1String("C"));
    EXPECT_EQ(day.value(QLatin1String("count")).toInt(), 1);
    EXPECT_DOUBLE_EQ(day.value(QLatin1String("leq")).toDouble(), 80.0);
}

// A minute's LAeq goes out with the first reading of the next minute, and only then.
TEST(LiveWebFiguresTest, AMinutesLeqIsSentWhenTheMinuteIsOver)
{
    LiveWebFigures figures({});
    std::vector<double> levels;
    for (int second = 0; second < 60; ++second) {
        const std::int32_t tenths = second % 2 == 0 ? 600 : 700;
        levels.push_back(tenths / 10.0);
        const QJsonObject message = figures.add(Reading(At(2026, 12, 10, 12, 0, second), tenths));
        EXPECT_FALSE(message.contains(QLatin1String("minute"))) << second;
    }
    const QJsonObject message = figures.add(Reading(At(2026, 12, 10, 12, 1, 0), 500));
    const QJsonArray minute = message.value(QLatin1String("minute")).toArray();
    ASSERT_EQ(minute.size(), 3);
    EXPECT_EQ(minute[0].toInteger(), At(2026, 12, 10, 12, 0, 0).toMSecsSinceEpoch());
    EXPECT_DOUBLE_EQ(minute[1].toDouble(), EnergyMean(levels));
    EXPECT_EQ(minute[2].toString(), QLatin1String("A"));
    EXPECT_EQ(figures.snapshot().value(QLatin1String("minutes")).toArray(), QJsonArray { minute });
}

// A page opened late gets the last hour's readings and the last day's minutes, no more, and the count
// of readings its next message follows on from.
TEST(LiveWebFiguresTest, ALatePageGetsTheLastHourAndTheLastDay)
{
    LiveWebSettings settings;
    settings.intervalMs = 60 * 1000;
    LiveWebFigures figures(settings);
    const QDateTime start = At(2026, 12, 9, 6, 0, 0);
    const int readings = 25 * 60;
    for (int i = 0; i < readings; ++i)
        figures.add(Reading(start.addSecs(60 * i), 500 + i % 100));
    const QJsonObject snapshot = figures.snapshot();
    EXPECT_EQ(snapshot.value(QLatin1String("type")).toString(), QLatin1String("history"));
    EXPECT_EQ(snapshot.value(QLatin1String("seq")).toInt(), readings);
    EXPECT_EQ(snapshot.value(QLatin1String("intervalMs")).toInt(), 60000);
    const QDateTime last = start.addSecs(60 * (readings - 1));
    const QJsonArray hour = snapshot.value(QLatin1String("hour")).toArray();
    // The readings of the hour up to the last one: 60 at a minute's interval.
    ASSERT_EQ(hour.size(), 60);
    EXPECT_EQ(hour.first()[0].toInteger(), last.addSecs(-59 * 60).toMSecsSinceEpoch());
    EXPECT_EQ(hour.last()[0].toInteger(), last.toMSecsSinceEpoch());
    EXPECT_DOUBLE_EQ(hour.last()[1].toDouble(), (500 + (readings - 1) % 100) / 10.0);
    // The minutes over the day before the last one, which is still going on.
    const QJsonArray minutes = snapshot.value(QLatin1String("minutes")).toArray();
    ASSERT_EQ(minutes.size(), 24 * 60 - 1);
    EXPECT_EQ(minutes.last()[0].toInteger(), last.addSecs(-60).toMSecsSinceEpoch());
    EXPECT_EQ(snapshot.value(QLatin1String("latest"))[QLatin1String("t")].toInteger(), last.toMSecsSinceEpoch());
}

// An event is told while it goes on and when it ends; a quiet reading in a quiet minute carries no
// assessment. The period level covers the readings' time, and the next assessment day starts afresh.
TEST(LiveWebFiguresTest, EventsAndPeriodLevelsOfTheAssessmentDay)
{
    LiveWebFigures figures({});
    QDateTime time = At(2026, 12, 10, 8, 0, 0);
    std::vector<bool> told;
    QJsonObject last;
    for (const std::int32_t tenths : { 500, 500, 500, 900, 910, 900, 500, 500, 500, 500, 500, 500, 500 }) {
        last = figures.add(Reading(time, tenths));
        told.push_back(last.contains(QLatin1String("assessment")));
        time = time.addSecs(1);
    }
    // The first reading starts the day's assessment; the loud ones and the first quiet one after them
    // change the events.
    EXPECT_EQ(told,
        (std::vector<bool> { true, false, false, true, true, true, true, false, false, false, false, false, false }));
    const QJsonObject assessment = figures.snapshot().value(QLatin1String("assessment")).toObject();
    EXPECT_EQ(assessment.value(QLatin1String("day")).toString(), QLatin1String("2026-12-10"));
    EXPECT_EQ(assessment.value(QLatin1String("period")).toString(), QLatin1String("day"));
    EXPECT_EQ(assessment.value(QLatin1String("eventCount")).toInt(), 1);
    const QJsonObject event = assessment.value(QLatin1String("events"))[0].toObject();
    EXPECT_EQ(event.value(QLatin1String("start")).toString(), QLatin1String("08:00:03"));
    EXPECT_EQ(event.value(QLatin1String("end")).toString(), QLatin1String("08:00:06"));
    EXPECT_EQ(event.value(QLatin1String("seconds")).toInt(), 3);
    EXPECT_DOUBLE_EQ(event.value(QLatin1String("lmax")).toDouble(), 91.0);
    const QJsonObject lday = Period(figures.snapshot(), QStringLiteral("Lday"));
    EXPECT_DOUBLE_EQ(lday.value(QLatin1String("level")).toDouble(),
        EnergyMean({ 50, 50, 50, 90, 91, 90, 50, 50, 50, 50, 50, 50, 50 }));
    EXPECT_TRUE(Period(figures.snapshot(), QStringLiteral("Lnight")).value(QLatin1String("level")).isNull());

    // 06:59 the next morning is still the night of the 10th; 07:00 starts the 11th.
    const QJsonObject night = figures.add(Reading(At(2026, 12, 11, 6, 59, 59), 400));
    EXPECT_EQ(night.value(QLatin1String("assessment"))[QLatin1String("day")].toString(), QLatin1String("2026-12-10"));
    EXPECT_DOUBLE_EQ(Period(night, QStringLiteral("Lnight")).value(QLatin1String("level")).toDouble(), 40.0);
    const QJsonObject morning = figures.add(Reading(At(2026, 12, 11, 7, 0, 0), 400));
    EXPECT_EQ(morning.value(QLatin1String("assessment"))[QLatin1String("day")].toString(), QLatin1String("2026-12-11"));
    EXPECT_EQ(morning.value(QLatin1String("assessment"))[QLatin1String("eventCount")].toInt(), 0);
}

// The clock going back from summer time: four loud seconds either side of the change are one event,
// told in the wall clock on either side, not two events an hour apart.
TEST(LiveWebFiguresTest, AnEventAcrossAChangeOfTheClockIsOneEvent)
{
    LiveWebFigures figures({});
    const auto at = [](int hour, int minute, int second, int offsetHours) {
        return QDateTime(QDate(2026, 10, 25), QTime(hour, minute, second), Qt::OffsetFromUTC, offsetHours * 3600);
    };
    for (const QDateTime& time : { at(2, 59, 56, 2), at(2, 59, 57, 2), at(2, 59, 58, 2), at(2, 59, 59, 2),
             at(2, 0, 0, 1), at(2, 0, 1, 1), at(2, 0, 2, 1), at(2, 0, 3, 1) }) {
        const bool loud = time.time() >= QTime(2, 59, 58) || time.time() < QTime(2, 0, 2);
        figures.add(Reading(time, loud ? 900 : 500));
    }
    const QJsonObject assessment = figures.snapshot().value(QLatin1String("assessment")).toObject();
    EXPECT_EQ(assessment.value(QLatin1String("day")).toString(), QLatin1String("2026-10-24"));
    ASSERT_EQ(assessment.value(QLatin1String("eventCount")).toInt(), 1);
    const QJsonObject event = assessment.value(QLatin1String("events"))[0].toObject();
    EXPECT_EQ(event.value(QLatin1String("start")).toString(), QLatin1String("02:59:58"));
    EXPECT_EQ(event.value(QLatin1String("end")).toString(), QLatin1String("02:00:02"));
    EXPECT_EQ(event.value(QLatin1String("seconds")).toInt(), 4);
}

// The assessment counts whole seconds; readings at any interval add up to the time they stand for.
TEST(LiveWebFiguresTest, ReadingsAtAnyIntervalMakeUpTheirTime)
{
    struct Case {
        std::int64_t intervalMs;
        int loudReadings;
        int eventSeconds;
    };
    const Case cases[] = {
        { 1000, 4, 4 },
        { 500, 8, 4 },
        { 300, 10, 3 },
        { 1500, 4, 6 },
        { 5000, 2, 10 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.intervalMs);
        LiveWebSettings settings;
        settings.intervalMs = c.intervalMs;
        LiveWebFigures figures(settings);
        QDateTime time = At(2026, 12, 10, 10, 0, 0);
        const auto add = [&](std::int32_t tenths, int count) {
            for (int i = 0; i < count; ++i) {
                figures.add(Reading(time, tenths));
                time = time.addMSecs(c.intervalMs);
            }
        };
        // Quiet for 6 s, loud, then quiet for 20 s: longer than the gap that joins events.
        add(500, static_cast<int>(6000 / c.intervalMs));
        add(900, c.loudReadings);
        add(500, static_cast<int>(20000 / c.intervalMs) + 1);
        const QJsonObject assessment = figures.snapshot().value(QLatin1String("assessment")).toObject();
        ASSERT_EQ(assessment.value(QLatin1String("eventCount")).toInt(), 1);
        EXPECT_EQ(assessment.value(QLatin1String("events"))[0][QLatin1String("seconds")].toInt(), c.eventSeconds);
        EXPECT_DOUBLE_EQ(assessment.value(QLatin1String("events"))[0][QLatin1String("lmax")].toDouble(), 90.0);
    }
}
