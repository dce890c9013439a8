// A table that grows while its figures are watched: each look reads only the new rows and ends up
// where a reading of the whole table ends; the tables the figures are put out in.

#include "stats/GrowingSeries.h"
#include "core/SystemTexts.h"
#include "stats/FigureTables.h"
#include "stats/TimedSeries.h"
#include "store/SqliteReadingStore.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class GrowingSeriesTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        store = std::make_unique<SqliteReadingStore>(folder.filePath("Decimora.mdb"));
        table().open();
        table().empty();
    }
    ReadingTable& table() { return store->meaData(); }

    // A reading a second from 18:59:00 on 12 May 2006 in the meter's layout, 60 dB, 90 dB every
    // 100th minute.
    void append(int from, int count)
    {
        const QDateTime start(QDate(2006, 5, 12), QTime(18, 59, 0));
        for (int i = from; i < from + count; ++i) {
            const QDateTime t = start.addSecs(i);
            const QString level = (i / 60) % 5 == 2 ? QStringLiteral("90.0") : QStringLiteral("60.0");
            table().appendRow({ QString::number(i + 1), level, QStringLiteral("A"),
                t.time().toString(QStringLiteral("H:m:s")), t.date().toString(QStringLiteral("M/d/yyyy")) });
        }
    }

    QTemporaryDir folder;
    std::unique_ptr<SqliteReadingStore> store;
};

void ExpectSame(const NoiseFigures& a, const NoiseFigures& b)
{
    const FigureTable tables[][2]
        = { { PeriodTable(a), PeriodTable(b) }, { HourTable(a), HourTable(b) }, { EventTable(a), EventTable(b) } };
    for (const auto& pair : tables) {
        ASSERT_EQ(pair[0].rows.size(), pair[1].rows.size());
        for (std::size_t r = 0; r < pair[0].rows.size(); ++r) {
            for (std::size_t c = 0; c < pair[0].columns.size(); ++c)
                EXPECT_EQ(pair[0].rows[r][c].plain, pair[1].rows[r][c].plain) << r << "," << c;
        }
    }
}

TEST_F(GrowingSeriesTest, EachLookReadsTheNewRowsAndEndsWhereTheWholeTableDoes)
{
    NoiseSettings settings;
    settings.events = { 850, 10, 5 };
    GrowingSeries growing(settings);
    growing.update(table(), 0, 0);
    EXPECT_FALSE(growing.figures().has_value());
    append(0, 1);
    growing.update(table(), 0, table().rowCount());
    // One reading tells no duration yet.
    EXPECT_FALSE(growing.figures().has_value());

    int rows = 1;
    for (const int more : { 1, 58, 61, 300, 1 }) {
        append(rows, more);
        rows += more;
        growing.update(table(), 0, table().rowCount());
        ASSERT_TRUE(growing.figures().has_value()) << rows;
        const TimedSeries whole = TimedSeriesOf(StampedSeriesOfTable(table(), TimeTextReader(), { rows })[0]);
        ExpectSame(*growing.figures(), NoiseFiguresOf(whole, settings));
    }
    EXPECT_EQ(growing.readings(), rows);
    // Crossing 19:00: day and evening rows; the 90 dB minute from 19:01 is an event.
    const NoiseFigures figures = *growing.figures();
    ASSERT_EQ(figures.events.size(), 1U);
    EXPECT_EQ(TimeOf(figures.events[0].start), QTime(19, 1, 0));
    EXPECT_EQ(figures.events[0].seconds(), 60);

    // Emptied and filled anew, the series is read afresh.
    table().empty();
    append(0, 10);
    growing.update(table(), 0, table().rowCount());
    EXPECT_EQ(growing.readings(), 10);
}

TEST_F(GrowingSeriesTest, ARowThatCannotBeReadStopsTheFiguresAndIsNamedByItsPlaceInTheTable)
{
    append(0, 5);
    table().appendRow({ "6", "60.0", "A", "25:0:0", "5/12/2006" });
    append(6, 5);
    GrowingSeries growing(NoiseSettings {});
    growing.update(table(), 0, table().rowCount());
    EXPECT_FALSE(growing.figures().has_value());
    ASSERT_TRUE(growing.timeError().has_value());
    EXPECT_EQ(growing.timeError()->row(), 5);
}

TEST(FigureTables, EachCellIsWrittenForPeopleForProgramsAndForSpreadsheets)
{
    NoiseFigures figures;
    figures.periods.push_back(
        { Weighting::C, QDate(2006, 5, 12), PeriodFigure::DayEveningNight, std::nullopt, 4 * 3600, 24 * 3600, 2 });
    figures.periods.push_back({ Weighting::A, std::nullopt, PeriodFigure::Night, 45.04, 8 * 3600, 8 * 3600, 0 });
    figures.hours.push_back({ Weighting::A, QDate(2006, 5, 12), 7, 60.0, 71.25, 64.0, 50.0, 1800 });
    const ClockSeconds start = ClockSecondsOf(QDate(2006, 5, 12), 10 * 3600 + 10);
    figures.events.push_back(
        { Weighting::A, start, start + 3725, 91.0, 88.46, 124.17, QDate(2006, 5, 12), NoisePeriod::Day });

    const FigureTable periods = PeriodTable(figures);
    QStringList keys;
    for (const FigureColumn& column : periods.columns)
        keys << column.key;
    EXPECT_EQ(keys, QStringList({ "weighting", "day", "figure", "value", "coverage", "events" }));
    const QString unknown = QString::fromUtf16(UnknownFigure);
    struct Cell {
        const FigureTable& table;
        std::size_t row;
        const char* key;
        QString shown;
        QString plain;
        std::optional<double> number;
    };
    const FigureTable hours = HourTable(figures);
    const FigureTable events = EventTable(figures);
    const Cell cells[] = {
        { periods, 0, "day", SystemShortDateText(QDate(2006, 5, 12)), "2006-05-12", std::nullopt },
        { periods, 0, "figure", "Lden", "Lden", std::nullopt },
        { periods, 0, "value", unknown, "", std::nullopt },
        { periods, 0, "coverage", SystemOneDecimalText(16.7), "16.7", 100.0 / 6.0 },
        { periods, 0, "events", "2", "2", 2.0 },
        { periods, 1, "day", "Whole run", "all", std::nullopt },
        { periods, 1, "value", SystemOneDecimalText(45.0), "45.0", 45.0 },
        { hours, 0, "hour", "07:00", "07:00", std::nullopt },
        { hours, 0, "Lmax", SystemOneDecimalText(71.3), "71.3", 71.3 },
        { hours, 0, "coverage", SystemOneDecimalText(50.0), "50.0", 50.0 },
        { events, 0, "start", ShownMoment(start), "2006-05-12T10:00:10", std::nullopt },
        { events, 0, "end", ShownMoment(start + 3725), "2006-05-12T11:02:15", std::nullopt },
        { events, 0, "duration", "1:02:05", "3725", 3725.0 },
        { events, 0, "SEL", SystemOneDecimalText(124.2), "124.2", 124.2 },
        { events, 0, "period", "day", "day", std::nullopt },
    };
    for (const Cell& c : cells) {
        const int column = c.table.columnOf(QLatin1String(c.key));
        ASSERT_GE(column, 0) << c.key;
        const FigureCell& cell = c.table.rows[c.row][std::size_t(column)];
        EXPECT_EQ(cell.shown, c.shown) << c.key;
        EXPECT_EQ(cell.plain, c.plain) << c.key;
        ASSERT_EQ(cell.number.has_value(), c.number.has_value()) << c.key;
        if (c.number) {
            EXPECT_NEAR(*cell.number, *c.number, 1e-9) << c.key;
        }
    }
}

} // namespace
