// The names of the daily files and the line protocol's escapes, for the names a user may give.

#include "cli/LiveOutput.h"

#include <gtest/gtest.h>

namespace {

TEST(LiveOutput, DailyFilesTakeTheDayBeforeTheLastExtension)
{
    const QDate day(2026, 12, 10);
    const std::pair<const char*, const char*> cases[] = {
        { "/var/log/noise.csv", "/var/log/noise-2026-12-10.csv" },
        { "noise", "noise-2026-12-10" },
        { "logs.d/noise.log.jsonl", "logs.d/noise.log-2026-12-10.jsonl" },
        // A folder's dot is not the file's extension, nor is a leading dot.
        { "logs.d/noise", "logs.d/noise-2026-12-10" },
        { "/tmp/.noise", "/tmp/.noise-2026-12-10" },
    };
    for (const auto& [path, dated] : cases)
        EXPECT_EQ(DailyFilePath(QLatin1String(path), day), QLatin1String(dated)) << path;
}

TEST(LiveOutput, InfluxNamesAreEscapedOrRefused)
{
    EXPECT_EQ(InfluxMeasurementText(QStringLiteral("noise level,site=1")), "noise\\ level\\,site=1");
    EXPECT_EQ(InfluxKeyText(QStringLiteral("north gate,a=b")), "north\\ gate\\,a\\=b");
    EXPECT_EQ(InfluxKeyText(QStringLiteral("Straße")), "Straße");
    EXPECT_TRUE(InfluxNameProblem(QStringLiteral("tag value"), QStringLiteral("ok value"), false).isEmpty());
    for (const char* bad : { "", "two\nlines", "ends\\" })
        EXPECT_FALSE(InfluxNameProblem(QStringLiteral("tag value"), QString::fromUtf8(bad), false).isEmpty()) << bad;
    EXPECT_FALSE(InfluxNameProblem(QStringLiteral("measurement"), QStringLiteral("#x"), true).isEmpty());
    EXPECT_TRUE(InfluxNameProblem(QStringLiteral("tag value"), QStringLiteral("#x"), false).isEmpty());
}

} // namespace
