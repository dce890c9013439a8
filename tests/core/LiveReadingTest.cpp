#include "core/LiveReading.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

TEST(LiveReading, StatusByteInWords)
{
    struct Case {
        std::int32_t flags;
        const char* weighting;
        const char* range;
        const char* response;
        bool maxHold;
    };
    const Case cases[] = {
        { 0x00, "A", "30-130", "slow", false },
        { 0x51, "C", "30-80", "fast", false },
        { 0x34, "C", "80-130", "slow", true },
        { 0x42, "A", "50-100", "fast", false },
        { 0x23, "A", "60-110", "slow", true },
        // Codes 5 to 15 name no range.
        { 0x45, "A", "unknown", "fast", false },
        { 0x7F, "C", "unknown", "fast", true },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WeightingText(c.flags), QLatin1String(c.weighting)) << c.flags;
        EXPECT_EQ(RangeText(c.flags), QLatin1String(c.range)) << c.flags;
        EXPECT_EQ(ResponseText(c.flags), QLatin1String(c.response)) << c.flags;
        EXPECT_EQ(MaxHoldOn(c.flags), c.maxHold) << c.flags;
    }
}

TEST(LiveReading, LevelAlwaysWithOnePointDecimal)
{
    const std::pair<std::int32_t, const char*> cases[]
        = { { 653, "65.3" }, { 1400, "140.0" }, { 0, "0.0" }, { 7, "0.7" }, { 1234, "123.4" } };
    for (const auto& [tenths, text] : cases)
        EXPECT_EQ(LevelText(tenths), QLatin1String(text)) << tenths;
}

TEST(LiveReading, TimeCarriesItsOffsetNeverZ)
{
    const QDate day(2026, 12, 10);
    const QTime clock(9, 15, 2, 250);
    EXPECT_EQ(
        IsoTimeText(QDateTime(day, clock, Qt::OffsetFromUTC, 3600)), QStringLiteral("2026-12-10T09:15:02.250+01:00"));
    EXPECT_EQ(IsoTimeText(QDateTime(day, clock, Qt::OffsetFromUTC, -(3 * 3600 + 1800))),
        QStringLiteral("2026-12-10T09:15:02.250-03:30"));
    EXPECT_EQ(IsoTimeText(QDateTime(day, clock, Qt::UTC)), QStringLiteral("2026-12-10T09:15:02.250+00:00"));
}

TEST(LiveReading, JsonIsOneParsableLine)
{
    const LiveReading reading { QDateTime(QDate(2026, 12, 10), QTime(9, 15, 2), Qt::OffsetFromUTC, 3600), 653, 0x71 };
    const QByteArray json = LiveReadingJson(reading);
    EXPECT_FALSE(json.contains('\n'));
    QJsonParseError error {};
    const QJsonObject object = QJsonDocument::fromJson(json, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.constData();
    EXPECT_EQ(object.value("time").toString(), QStringLiteral("2026-12-10T09:15:02.000+01:00"));
    EXPECT_DOUBLE_EQ(object.value("level").toDouble(), 65.3);
    EXPECT_EQ(object.value("weighting").toString(), QStringLiteral("C"));
    EXPECT_EQ(object.value("range").toString(), QStringLiteral("30-80"));
    EXPECT_EQ(object.value("response").toString(), QStringLiteral("fast"));
    EXPECT_TRUE(object.value("max_hold").toBool());
}

} // namespace
