// The payloads of the Home Assistant sensors: the over- and under-range flags of a reading, and the
// LAeq of each minute.

#include "mqtt/HomeAssistant.h"
#include "core/MeterProtocol.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

LiveReading At(int secondsAfterNine, int tenths, int flags)
{
    return { QDateTime(QDate(2026, 12, 10), QTime(9, 0), Qt::OffsetFromUTC, 3600).addSecs(secondsAfterNine), tenths,
        flags };
}

} // namespace

// As the meter's display flags a reading: at a limit of the range is in range.
TEST(HomeAssistantPayload, OverAndUnderRangeAreTheRangesLimits)
{
    const struct {
        int rangeCode;
        int tenths;
        bool over;
        bool under;
    } cases[] = {
        { 1, 299, false, true }, // 30-80
        { 1, 300, false, false }, { 1, 800, false, false }, { 1, 801, true, false },
        { 0, 1300, false, false }, // 30-130
        { 0, 1301, true, false }, { 4, 799, false, true }, // 80-130
        { 7, 10, false, false }, // a code that names no range
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rangeCode << " " << c.tenths);
        const LiveReading live = At(0, c.tenths, c.rangeCode | MeterStatus::Fast);
        const QByteArray json = WeightedReadingJson(live, LiveReadingJson(live));
        QJsonParseError error {};
        const QJsonObject reading = QJsonDocument::fromJson(json, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << json.toStdString();
        EXPECT_EQ(reading.value(QStringLiteral("over_range")).toBool(), c.over);
        EXPECT_EQ(reading.value(QStringLiteral("under_range")).toBool(), c.under);
        // The reading's own fields stay as the state topic has them.
        EXPECT_EQ(reading.value(QStringLiteral("level")).toDouble(), c.tenths / 10.0);
        EXPECT_EQ(reading.value(QStringLiteral("response")).toString(), "fast");
    }
}

// Each row: readings (seconds after 09:00, tenths, C weighting) and the minutes they close.
TEST(MinuteLeq, AMinuteIsClosedByTheFirstReadingOfALaterOneWithTheLevelOfItsMeanAWeightedEnergy)
{
    struct Closed {
        const char* start;
        double laeq;
        int readings;
    };
    const struct {
        const char* what;
        std::vector<std::tuple<int, int, bool>> readings;
        std::vector<Closed> closed;
    } cases[] = {
        { "one level", { { 0, 600, false }, { 30, 600, false }, { 60, 700, false } },
            { { "2026-12-10T09:00:00.000+01:00", 60.0, 2 } } },
        // 10·log10((10^6 + 10^7) / 2) = 67.40
        { "energy, not decibels, is averaged", { { 5, 600, false }, { 59, 700, false }, { 61, 500, false } },
            { { "2026-12-10T09:00:00.000+01:00", 67.40, 2 } } },
        { "C readings do not count", { { 0, 600, false }, { 1, 1000, true }, { 60, 500, false } },
            { { "2026-12-10T09:00:00.000+01:00", 60.0, 1 } } },
        { "a minute of C readings only gives nothing", { { 0, 900, true }, { 60, 500, false }, { 120, 500, false } },
            { { "2026-12-10T09:01:00.000+01:00", 50.0, 1 } } },
        { "a gap of minutes closes the last one only", { { 0, 400, false }, { 600, 400, false } },
            { { "2026-12-10T09:00:00.000+01:00", 40.0, 1 } } },
        { "a minute still open gives nothing", { { 0, 400, false }, { 59, 400, false } }, {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MinuteLeq minutes;
        std::vector<MinuteLevel> closed;
        for (const auto& [seconds, tenths, cWeighted] : c.readings)
            if (const auto minute = minutes.take(At(seconds, tenths, cWeighted ? MeterStatus::CWeighting : 0)))
                closed.push_back(*minute);
        ASSERT_EQ(closed.size(), c.closed.size());
        for (std::size_t i = 0; i < closed.size(); ++i) {
            const QJsonObject json = QJsonDocument::fromJson(MinuteLevelJson(closed[i])).object();
            EXPECT_EQ(json.value(QStringLiteral("time")).toString(), QLatin1String(c.closed[i].start));
            EXPECT_NEAR(json.value(QStringLiteral("laeq")).toDouble(), c.closed[i].laeq, 0.05);
            EXPECT_EQ(json.value(QStringLiteral("readings")).toInt(), c.closed[i].readings);
        }
    }
}
