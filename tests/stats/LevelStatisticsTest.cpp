// The accumulator and the figures derived from it, against figures worked out independently from
// the definitions by tests/stats/expected_levels.py (its output is quoted in the table below).

#include "stats/LevelStatistics.h"
#include "core/SystemTexts.h"
#include "stats/StatisticsRows.h"
#include "store/SqliteReadingStore.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace {

using testing::ElementsAre;

struct Reading {
    double level;
    std::int32_t interval; // seconds; 0: not known
};

std::vector<Reading> Repeated(double level, std::int32_t interval, int times)
{
    return std::vector<Reading>(static_cast<std::size_t>(times), Reading { level, interval });
}

std::vector<Reading> Join(std::initializer_list<std::vector<Reading>> parts)
{
    std::vector<Reading> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<Reading> OneToHundred()
{
    std::vector<Reading> readings;
    for (int level = 1; level <= 100; ++level)
        readings.push_back({ double(level), 1 });
    return readings;
}

constexpr double HighAlarm = 85.0;

// The figures as expected_levels.py prints them (four decimals); nullopt where it prints None.
struct Expected {
    double leq;
    double l10;
    double l50;
    double l90;
    double lmax;
    double lmin;
    std::optional<std::int64_t> duration;
    std::optional<double> sel;
    std::int64_t above;
    std::optional<std::int64_t> secondsAbove;
};

void ExpectLevel(const std::optional<double>& actual, double expected, const char* name)
{
    ASSERT_TRUE(actual.has_value()) << name;
    EXPECT_NEAR(*actual, expected, 1e-4) << name;
}

TEST(LevelStatistics, FiguresAgreeWithThoseWorkedOutFromTheDefinitions)
{
    struct Case {
        const char* label;
        std::vector<Reading> readings;
        Expected expected;
    };
    const Case cases[] = {
        { "constant 73.4 dB, 5 readings", Repeated(73.4, 1, 5),
            { 73.4, 73.4, 73.4, 73.4, 73.4, 73.4, 5, 80.3897, 0, 0 } },
        { "60 and 70 dB equally long", Join({ Repeated(60.0, 1, 50), Repeated(70.0, 1, 50) }),
            { 67.4036, 70.0, 60.0, 60.0, 70.0, 60.0, 100, 87.4036, 0, 0 } },
        { "1, 2, ..., 100 dB", OneToHundred(), { 86.8683, 90.0, 50.0, 10.0, 100.0, 1.0, 100, 106.8683, 15, 15 } },
        { "a single reading", { { 42.0, 1 } }, { 42.0, 42.0, 42.0, 42.0, 42.0, 42.0, 1, 42.0, 0, 0 } },
        { "3,600 readings at 60 dB, 1 s apart", Repeated(60.0, 1, 3600),
            { 60.0, 60.0, 60.0, 60.0, 60.0, 60.0, 3600, 95.5630, 0, 0 } },
        // Each reading stands for its run's interval: the 90 dB run lasted 10 s of 610.
        { "two runs, 1 s and 60 s apart", Join({ Repeated(90.0, 1, 10), Repeated(50.0, 60, 10) }),
            { 72.1727, 50.0, 50.0, 50.0, 90.0, 50.0, 610, 100.0260, 10, 10 } },
        { "the same readings, intervals not known", Join({ Repeated(90.0, 0, 10), Repeated(50.0, 0, 10) }),
            { 86.9901, 90.0, 50.0, 50.0, 90.0, 50.0, std::nullopt, std::nullopt, 10, std::nullopt } },
        // Above means as the alarm sounds: louder than the level, not at it.
        { "at and around the alarm level", { { 84.9, 1 }, { 85.0, 1 }, { 85.1, 1 }, { 90.0, 1 } },
            { 86.8772, 90.0, 85.0, 84.9, 90.0, 84.9, 4, 92.8978, 2, 2 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        LevelAccumulator accumulator;
        for (const Reading& reading : c.readings)
            ASSERT_TRUE(accumulator.add(reading.level, reading.interval));

        const LevelFigures figures = accumulator.figures(Weighting::A, HighAlarm);

        EXPECT_EQ(figures.count, std::int64_t(c.readings.size()));
        ExpectLevel(figures.leq, c.expected.leq, "Leq");
        ExpectLevel(figures.l10, c.expected.l10, "L10");
        ExpectLevel(figures.l50, c.expected.l50, "L50");
        ExpectLevel(figures.l90, c.expected.l90, "L90");
        ExpectLevel(figures.lmax, c.expected.lmax, "Lmax");
        ExpectLevel(figures.lmin, c.expected.lmin, "Lmin");
        EXPECT_EQ(figures.durationSeconds, c.expected.duration);
        EXPECT_EQ(figures.sel.has_value(), c.expected.sel.has_value());
        if (c.expected.sel)
            ExpectLevel(figures.sel, *c.expected.sel, "SEL");
        EXPECT_EQ(figures.readingsAboveHighAlarm, c.expected.above);
        EXPECT_EQ(figures.secondsAboveHighAlarm, c.expected.secondsAbove);
    }
}

TEST(LevelStatistics, ReadingsOfTheTwoWeightingsAreNeverMixed)
{
    WeightedLevelStatistics statistics;
    for (const double level : { 60.0, 70.0 })
        ASSERT_TRUE(statistics.add(Weighting::A, std::int32_t(std::lround(level * 10)), 1));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(statistics.add(Weighting::C, 800, 1));

    // expected_levels.py: A 60, 70 dB: Leq 67.4036, L10 70, L50 60, SEL 70.4139; C 3 × 80 dB: Leq 80,
    // SEL 84.7712.
    const LevelFigures a = statistics.of(Weighting::A).figures(Weighting::A, HighAlarm);
    const LevelFigures c = statistics.of(Weighting::C).figures(Weighting::C, HighAlarm);
    EXPECT_EQ(a.count, 2);
    ExpectLevel(a.leq, 67.4036, "LAeq");
    ExpectLevel(a.l10, 70.0, "LA10");
    ExpectLevel(a.l50, 60.0, "LA50");
    ExpectLevel(a.sel, 70.4139, "LAE");
    EXPECT_EQ(c.count, 3);
    ExpectLevel(c.leq, 80.0, "LCeq");
    ExpectLevel(c.lmin, 80.0, "LCmin");
    ExpectLevel(c.sel, 84.7712, "LCE");
    EXPECT_EQ(statistics.count(), 5);
}

TEST(LevelStatistics, NoReadingsGiveNoLevelsAndLevelsOffTheGridAreRefused)
{
    LevelAccumulator accumulator;
    for (const double level :
        { -1.0, 409.6, 1e300, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity() })
        EXPECT_FALSE(accumulator.add(level, 1)) << level;
    EXPECT_FALSE(accumulator.addTenths(-1, 1));
    EXPECT_FALSE(accumulator.addTenths(4096, 1));

    const LevelFigures figures = accumulator.figures(Weighting::C, HighAlarm);
    EXPECT_EQ(figures.count, 0);
    EXPECT_FALSE(figures.leq || figures.l10 || figures.l50 || figures.l90 || figures.lmax || figures.lmin);
    EXPECT_FALSE(figures.durationSeconds || figures.sel || figures.secondsAboveHighAlarm);

    // The grid's ends are readings like any other; cleared, the accumulator starts afresh.
    EXPECT_TRUE(accumulator.add(0.0, 1));
    EXPECT_TRUE(accumulator.add(409.5, 1));
    EXPECT_EQ(accumulator.maximum(), 409.5);
    EXPECT_EQ(accumulator.minimum(), 0.0);
    accumulator.clear();
    ASSERT_TRUE(accumulator.add(50.0, 2));
    EXPECT_EQ(accumulator.count(), 1);
    EXPECT_EQ(accumulator.maximum(), 50.0);
    EXPECT_EQ(accumulator.durationSeconds(), 2);
    ExpectLevel(accumulator.equivalentLevel(), 50.0, "Leq after clear");
}

TEST(StatisticsRows, LabelEveryFigureByItsWeightingAndSayWhatIsNotKnown)
{
    WeightedLevelStatistics statistics;
    for (int i = 0; i < 50; ++i) {
        statistics.add(Weighting::A, 600, 1);
        statistics.add(Weighting::A, 700, 1);
    }
    statistics.add(Weighting::C, 900, 0);

    const std::vector<StatisticsRow> rows = StatisticsRows(statistics, 85.0);

    QStringList labels;
    for (const StatisticsRow& row : rows)
        labels << row.label;
    EXPECT_EQ(labels,
        QStringList({ "LAeq", "LA10", "LA50", "LA90", "LAmax", "LAmin", "LAE (SEL)", "Readings (A)", "Duration (A)",
            "Readings above 85 dB (A)", "Time above 85 dB (A)", "LCeq", "LC10", "LC50", "LC90", "LCmax", "LCmin",
            "LCE (SEL)", "Readings (C)", "Duration (C)", "Readings above 85 dB (C)", "Time above 85 dB (C)" }));
    ASSERT_EQ(rows.size(), 22U);

    const QString unknown = QString::fromUtf16(UnknownFigure);
    struct Shown {
        std::size_t row;
        QString text;
        std::optional<double> value;
        const char* unit;
    };
    const Shown shown[] = {
        // 60 and 70 dB equally long (expected_levels.py: Leq 67.4036, SEL 87.4036).
        { 0, SystemOneDecimalText(67.4), 67.4036, "dB" },
        { 6, SystemOneDecimalText(87.4), 87.4036, "dB" },
        { 7, "100", 100.0, "" },
        { 8, "0:01:40", 100.0, "s" },
        { 10, "0:00:00", 0.0, "s" },
        // The C reading's interval is not known.
        { 11, SystemOneDecimalText(90.0), 90.0, "dB" },
        { 18, "1", 1.0, "" },
        { 17, unknown, std::nullopt, "dB" },
        { 19, unknown, std::nullopt, "s" },
        { 20, "1", 1.0, "" },
        { 21, unknown, std::nullopt, "s" },
    };
    for (const Shown& s : shown) {
        SCOPED_TRACE(rows[s.row].label.toStdString());
        EXPECT_EQ(rows[s.row].text, s.text);
        EXPECT_EQ(rows[s.row].unit, QLatin1String(s.unit));
        EXPECT_EQ(rows[s.row].value.has_value(), s.value.has_value());
        if (s.value && rows[s.row].value) {
            EXPECT_NEAR(*rows[s.row].value, *s.value, 1e-4);
        }
    }

    EXPECT_TRUE(StatisticsRows(WeightedLevelStatistics(), 85.0).empty());
    EXPECT_THAT((std::vector<QString> {
                    DurationText(0), DurationText(3599), DurationText(3600), DurationText(100 * 3600 + 61) }),
        ElementsAre("0:00:00", "0:59:59", "1:00:00", "100:01:01"));
}

TEST(StatisticsRows, ATableIsReadOnceWithItsRowsThatCarryNoReadingLeftOut)
{
    QTemporaryDir folder;
    SqliteReadingStore store(folder.filePath("Decimora.mdb"));
    ReadingTable& table = store.loadData();
    table.open();
    table.empty();
    const ReadingRow rows[] = {
        { "1", "60.0", "A", "9:5:30", "5/12/2006" },
        { "2", "70.0", "A", "9:5:31", "5/12/2006" },
        { "3", "80.0", "C", "9:5:32", "5/12/2006" },
        { "4", "65.35", "A", "9:5:33", "5/12/2006" },
        { "5", "loud", "A", "9:5:34", "5/12/2006" },
        { "6", "65.3", "Z", "9:5:35", "5/12/2006" },
        { "7", "999.9", "A", "9:5:36", "5/12/2006" },
    };
    for (const ReadingRow& row : rows)
        table.appendRow(row);

    const WeightedLevelStatistics statistics = StatisticsOfTable(table, 1);

    EXPECT_EQ(statistics.unreadableRows(), 4);
    const LevelFigures a = statistics.of(Weighting::A).figures(Weighting::A, 85.0);
    EXPECT_EQ(a.count, 2);
    ExpectLevel(a.leq, 67.4036, "LAeq");
    EXPECT_EQ(a.durationSeconds, 2);
    const LevelFigures c = statistics.of(Weighting::C).figures(Weighting::C, 85.0);
    EXPECT_EQ(c.count, 1);
    ExpectLevel(c.leq, 80.0, "LCeq");

    // Without an interval the same table has no duration.
    EXPECT_FALSE(StatisticsOfTable(table, 0).of(Weighting::A).durationSeconds().has_value());
}

} // namespace
