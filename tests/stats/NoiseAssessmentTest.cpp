// The noise assessment of time-stamped rows (period levels, hours, events) and the durations read from
// the time stamps, against figures worked out independently from the definitions by
// tests/stats/expected_noise.py (its output is quoted in the tables below). The rows are the texts a
// download writes ("5/12/2006", "7:0:0"), read as a data file's rows are.

#include "stats/NoiseAssessment.h"
#include "stats/FigureTables.h"
#include "stats/TimedSeries.h"

#include <gmock/gmock.h>

#include <QDateTime>
#include <QTimeZone>

#include <functional>
#include <optional>
#include <vector>

namespace {

using testing::ElementsAreArray;

const QDateTime Start(QDate(2006, 5, 12), QTime(0, 0));

QDateTime At(int hours, int minutes = 0, int seconds = 0)
{
    return Start.addSecs(hours * 3600 + minutes * 60 + seconds);
}

struct Part {
    QDateTime first;
    int step;
    int count;
    std::function<double(const QDateTime&)> level;
    char weighting = 'A';
};

std::function<double(const QDateTime&)> Constant(double level)
{
    return [level](const QDateTime&) { return level; };
}

// The rows as a download writes them: month/day/year and hour:minute:second without leading zeros.
struct Rows {
    std::vector<QByteArray> texts; // date, time, level, weighting of each row, one after the other

    void add(const QDateTime& t, double level, char weighting)
    {
        const QDate d = t.date();
        const QTime h = t.time();
        texts.push_back(
            QByteArray::number(d.month()) + '/' + QByteArray::number(d.day()) + '/' + QByteArray::number(d.year()));
        texts.push_back(
            QByteArray::number(h.hour()) + ':' + QByteArray::number(h.minute()) + ':' + QByteArray::number(h.second()));
        texts.push_back(QByteArray::number(level, 'f', 1));
        texts.push_back(QByteArray(1, weighting));
    }
};

Rows RowsOf(const std::vector<Part>& parts)
{
    Rows rows;
    for (const Part& part : parts) {
        for (int i = 0; i < part.count; ++i) {
            const QDateTime t = part.first.addSecs(qint64(i) * part.step);
            rows.add(t, part.level(t), part.weighting);
        }
    }
    return rows;
}

TimedSeries SeriesOf(const Rows& rows, const TimeTextReader& texts = TimeTextReader(QLocale::c()))
{
    StampedSeriesReader reader(texts);
    for (std::size_t i = 0; i + 3 < rows.texts.size(); i += 4)
        reader.add({ rows.texts[i + 2], rows.texts[i + 3], rows.texts[i + 1], rows.texts[i] });
    return TimedSeriesOf(reader.finish());
}

NoiseFigures FiguresOf(const Rows& rows, const EventRules& events = {})
{
    NoiseSettings settings;
    settings.events = events;
    const TimedSeries series = SeriesOf(rows);
    EXPECT_TRUE(series.durationsKnown);
    return NoiseFiguresOf(series, settings);
}

// A period row as expected_noise.py prints it: the level (nothing for "-") and the coverage in %.
struct ExpectedPeriod {
    const char* day; // "whole run" or the date
    const char* figure;
    std::optional<double> level;
    double coveragePercent;
};

void ExpectPeriods(const NoiseFigures& figures, Weighting weighting, const std::vector<ExpectedPeriod>& expected)
{
    std::vector<const PeriodLevel*> rows;
    for (const PeriodLevel& row : figures.periods) {
        if (row.weighting == weighting)
            rows.push_back(&row);
    }
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const PeriodLevel& row = *rows[i];
        const ExpectedPeriod& e = expected[i];
        SCOPED_TRACE(std::string(e.day) + " " + e.figure);
        EXPECT_EQ(row.day ? row.day->toString(Qt::ISODate).toStdString() : std::string("whole run"), e.day);
        EXPECT_EQ(PeriodFigureName(row.figure).toStdString(), e.figure);
        ASSERT_EQ(row.level.has_value(), e.level.has_value());
        if (e.level) {
            EXPECT_NEAR(*row.level, *e.level, 1e-4);
        }
        EXPECT_NEAR(100.0 * row.coverage(), e.coveragePercent, 0.005);
    }
}

// Five rows of one day (or of the whole run) in the order Lday, Levening, Lnight, Lden, Ldn.
std::vector<ExpectedPeriod> Day(
    const char* day, std::array<std::optional<double>, 5> levels, std::array<double, 5> coverage)
{
    const char* names[] = { "Lday", "Levening", "Lnight", "Lden", "Ldn" };
    std::vector<ExpectedPeriod> rows;
    for (std::size_t i = 0; i < 5; ++i)
        rows.push_back({ day, names[i], levels[i], coverage[i] });
    return rows;
}

std::vector<ExpectedPeriod> Join(std::initializer_list<std::vector<ExpectedPeriod>> days)
{
    std::vector<ExpectedPeriod> all;
    for (const auto& day : days)
        all.insert(all.end(), day.begin(), day.end());
    return all;
}

double ByPeriod(const QDateTime& t)
{
    const int hour = t.time().hour();
    return hour >= 7 && hour < 19 ? 60.0 : hour >= 19 && hour < 23 ? 55.0 : 45.0;
}

TEST(NoiseAssessment, PeriodLevelsAndCoverageAgreeWithThoseWorkedOutFromTheDefinitions)
{
    struct Case {
        const char* label;
        std::vector<Part> parts;
        std::vector<ExpectedPeriod> expected;
    };
    const std::optional<double> none;
    const Case cases[] = {
        { "a day at 60, an evening at 55, a night at 45 dB", { { At(7), 60, 1440, ByPeriod } },
            Join({ Day("whole run", { 60.0, 55.0, 45.0, 58.8766, 58.9025 }, { 100, 100, 100, 100, 100 }),
                Day("2006-05-12", { 60.0, 55.0, 45.0, 58.8766, 58.9025 }, { 100, 100, 100, 100, 100 }) }) },
        // Only two hours of one day period: the others are not known, nor Lden and Ldn.
        { "two hours of a day period", { { At(8), 10, 720, Constant(50.0) } },
            Join({ Day("whole run", { 50.0, none, none, none, none }, { 16.67, 0, 0, 8.33, 8.33 }),
                Day("2006-05-12", { 50.0, none, none, none, none }, { 16.67, 0, 0, 8.33, 8.33 }) }) },
        // 22:00 on 12 May to 08:59 on 14 May: the small hours belong to the night of the day before.
        { "across two midnights, 40 dB + the hour",
            { { At(22), 60, 2100, [](const QDateTime& t) { return 40.0 + t.time().hour(); } } },
            Join({ Day("whole run", { 53.2917, 60.9503, 54.2939, 62.1974, 62.5002 },
                       { 38.89, 41.67, 66.67, 48.61, 48.61 }),
                Day("2006-05-12", { none, 62.0, 54.2939, none, none }, { 0, 25, 100, 37.5, 37.5 }),
                Day("2006-05-13", { 53.7934, 60.6428, 54.2939, 62.1134, 62.5606 }, { 100, 100, 100, 100, 100 }),
                Day("2006-05-14", { 47.5287, none, none, none, none }, { 16.67, 0, 0, 8.33, 8.33 }) }) },
        // 20 minutes of readings in the hour from 10:00, a gap between them.
        { "a gap in the time stamps",
            { { At(10), 1, 595, Constant(60.0) }, { At(10, 9, 55), 1, 5, Constant(90.0) },
                { At(10, 30), 1, 600, Constant(90.0) } },
            Join({ Day("whole run", { 87.0300, none, none, none, none }, { 2.78, 0, 0, 1.39, 1.39 }),
                Day("2006-05-12", { 87.0300, none, none, none, none }, { 2.78, 0, 0, 1.39, 1.39 }) }) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const NoiseFigures figures = FiguresOf(RowsOf(c.parts));
        ExpectPeriods(figures, Weighting::A, c.expected);
        EXPECT_TRUE(std::none_of(figures.periods.begin(), figures.periods.end(),
            [](const PeriodLevel& row) { return row.weighting == Weighting::C; }));
    }
}

TEST(NoiseAssessment, HoursTellTheirLevelsAndTheTimeTheReadingsCover)
{
    // expected_noise.py: the hour from 10:00 covers 1,200 s at Leq 87.0300; 60 dB for 595 s and 90 dB
    // for 605 s give L90 60.0 and L10 90.0.
    const NoiseFigures gap = FiguresOf(RowsOf({ { At(10), 1, 595, Constant(60.0) },
        { At(10, 9, 55), 1, 5, Constant(90.0) }, { At(10, 30), 1, 600, Constant(90.0) } }));
    ASSERT_EQ(gap.hours.size(), 1U);
    const HourLevels& hour = gap.hours[0];
    EXPECT_EQ(hour.date, QDate(2006, 5, 12));
    EXPECT_EQ(hour.hour, 10);
    EXPECT_NEAR(*hour.leq, 87.0300, 1e-4);
    EXPECT_EQ(hour.lmax, 90.0);
    EXPECT_EQ(hour.l10, 90.0);
    EXPECT_EQ(hour.l90, 60.0);
    EXPECT_EQ(hour.coveredSeconds, 1200);
    EXPECT_NEAR(hour.coverage(), 1.0 / 3.0, 1e-9);

    // Across two midnights every clock hour has its own row, dated by the calendar.
    const NoiseFigures nights
        = FiguresOf(RowsOf({ { At(22), 60, 2100, [](const QDateTime& t) { return 40.0 + t.time().hour(); } } }));
    ASSERT_EQ(nights.hours.size(), 35U);
    EXPECT_EQ(nights.hours[2].date, QDate(2006, 5, 13));
    EXPECT_EQ(nights.hours[2].hour, 0);
    EXPECT_NEAR(*nights.hours[2].leq, 40.0, 1e-4);
    EXPECT_EQ(nights.hours[34].date, QDate(2006, 5, 14));
    EXPECT_EQ(nights.hours[34].hour, 8);
    EXPECT_EQ(nights.hours[34].coveredSeconds, 3600);

    // The hours a break skips have rows without levels, so that the table shows the hole; a break of a
    // day or more (another day's file taken with this one) has none. Readings a minute apart.
    using Hours = std::vector<std::pair<int, std::int64_t>>; // hour of day, covered seconds (-1: no levels)
    const auto withEmpty = [](Hours hours, int from, int count, std::pair<int, std::int64_t> last) {
        for (int i = 0; i < count; ++i)
            hours.emplace_back((from + i) % 24, -1);
        hours.push_back(last);
        return hours;
    };
    struct Case {
        const char* name;
        QDateTime second;
        Hours hours;
    };
    const Case cases[] = {
        { "two hours off", At(13), { { 10, 3600 }, { 11, -1 }, { 12, -1 }, { 13, 3600 } } },
        { "23 hours off", At(33), withEmpty({ { 10, 3600 } }, 11, 22, { 9, 3600 }) },
        { "a day off", At(34), { { 10, 3600 }, { 10, 3600 } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NoiseFigures figures
            = FiguresOf(RowsOf({ { At(10), 60, 60, Constant(50.0) }, { c.second, 60, 60, Constant(50.0) } }));
        Hours hours;
        for (const HourLevels& row : figures.hours) {
            EXPECT_EQ(row.l90.has_value(), row.leq.has_value()) << row.hour;
            hours.emplace_back(row.hour, row.leq ? row.coveredSeconds : -1);
        }
        EXPECT_EQ(hours, c.hours);
        EXPECT_EQ(figures.hours.back().date, c.second.date());
    }
}

struct ExpectedEvent {
    QTime start;
    std::int64_t seconds;
    double lmax;
    double leq;
    double sel;
};

void ExpectEvents(const NoiseFigures& figures, Weighting weighting, const std::vector<ExpectedEvent>& expected)
{
    std::vector<ExceedanceEvent> events;
    for (const ExceedanceEvent& event : figures.events) {
        if (event.weighting == weighting)
            events.push_back(event);
    }
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].start.toString().toStdString());
        EXPECT_EQ(TimeOf(events[i].start), expected[i].start);
        EXPECT_EQ(events[i].seconds(), expected[i].seconds);
        EXPECT_EQ(events[i].lmax, expected[i].lmax);
        EXPECT_NEAR(events[i].leq, expected[i].leq, 1e-4);
        EXPECT_NEAR(events[i].sel, expected[i].sel, 1e-4);
    }
}

TEST(NoiseAssessment, EventsAtTheEdgesOfTheirRules)
{
    // One reading a second from 10:00:00. At 85.0 dB for exactly the minimum 5 s: an event. At 90 for
    // 4 s: too short. 88 for 3 s, quiet for 2 s (less than the 3 s gap), 88 for 3 s: one event of 8 s.
    // 86 for 5 s, quiet for exactly the 3 s gap, 86 for 5 s: two events. 84.9 for 6 s: below.
    std::vector<double> levels;
    const auto add = [&levels](double level, int times) { levels.insert(levels.end(), std::size_t(times), level); };
    add(70.0, 10), add(85.0, 5), add(70.0, 10), add(90.0, 4), add(70.0, 10), add(88.0, 3), add(70.0, 2);
    add(88.0, 3), add(70.0, 10), add(86.0, 5), add(70.0, 3), add(86.0, 5), add(70.0, 10), add(84.9, 6), add(70.0, 5);
    Rows rows;
    for (std::size_t i = 0; i < levels.size(); ++i)
        rows.add(At(10, 0, int(i)), levels[i], 'A');

    const NoiseFigures figures = FiguresOf(rows, { 850, 5, 3 });

    ExpectEvents(figures, Weighting::A,
        { { QTime(10, 0, 10), 5, 85.0, 85.0, 91.9897 }, { QTime(10, 0, 39), 8, 88.0, 86.7735, 95.8044 },
            { QTime(10, 0, 57), 5, 86.0, 86.0, 92.9897 }, { QTime(10, 1, 5), 5, 86.0, 86.0, 92.9897 } });
    // Counted in the day period of 12 May, and in its Lden and Ldn.
    for (const PeriodLevel& row : figures.periods) {
        const bool day = row.figure == PeriodFigure::Day || row.figure == PeriodFigure::DayEveningNight
            || row.figure == PeriodFigure::DayNight;
        EXPECT_EQ(row.events, day ? 4 : 0) << PeriodFigureName(row.figure).toStdString();
    }
    EXPECT_EQ(figures.events[0].period, NoisePeriod::Day);
    EXPECT_EQ(figures.events[0].day, QDate(2006, 5, 12));
}

TEST(NoiseAssessment, AGapInTheTimeStampsEndsAnEventAndIsNoDuration)
{
    // The loud end of the first stretch and the loud start of the second are 20 minutes apart: two
    // events, however long the merge gap.
    const NoiseFigures figures
        = FiguresOf(RowsOf({ { At(10), 1, 595, Constant(60.0) }, { At(10, 9, 55), 1, 5, Constant(90.0) },
                        { At(10, 30), 1, 600, Constant(90.0) } }),
            { 850, 1, 3600 });
    ExpectEvents(figures, Weighting::A,
        { { QTime(10, 9, 55), 5, 90.0, 90.0, 96.9897 }, { QTime(10, 30), 600, 90.0, 90.0, 117.7815 } });
}

// A live log's rows carry their offset from UTC. Readings a minute apart in Berlin's wall clock from
// 22:00 to 08:00 across each change of the clock, at 40 dB plus the hour (half a dB more in winter
// time), with 90 dB for the twenty minutes around the change.
TEST(NoiseAssessment, AChangeOfTheClockRepeatsOrSkipsAnHourAndLengthensOrShortensItsPeriod)
{
    const QTimeZone berlin("Europe/Berlin");
    struct Case {
        const char* change;
        QDate day;
        std::vector<std::string> hours;
        std::int64_t nightSeconds;
        std::int64_t dayLengthSeconds;
        const char* eventStart;
        const char* eventEnd;
    };
    const Case cases[] = {
        { "October", QDate(2026, 10, 24),
            { "22:00", "23:00", "00:00", "01:00", "02:00+02:00", "02:00+01:00", "03:00", "04:00", "05:00", "06:00",
                "07:00" },
            9 * 3600, 25 * 3600, "2026-10-25T02:50:00", "2026-10-25T02:10:00" },
        { "March", QDate(2026, 3, 28),
            { "22:00", "23:00", "00:00", "01:00", "03:00", "04:00", "05:00", "06:00", "07:00" }, 7 * 3600, 23 * 3600,
            "2026-03-29T01:50:00", "2026-03-29T03:10:00" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        const QDateTime first(c.day, QTime(22, 0), berlin);
        const QDateTime end(c.day.addDays(1), QTime(8, 0), berlin);
        const QDateTime change = berlin.nextTransition(first).atUtc;
        StampedSeriesReader reader(TimeTextReader(QLocale::c()));
        Rows rows;
        std::vector<std::int32_t> offsets;
        for (QDateTime t = first; t < end; t = t.addSecs(60)) {
            const int offset = t.offsetFromUtc();
            const bool loud = std::abs(t.secsTo(change)) <= 600 && t < change.addSecs(600);
            const double level = loud ? 90.0 : 40.0 + t.time().hour() + (offset == 3600 ? 0.5 : 0.0);
            rows.add(QDateTime(t.date(), t.time()), level, 'A');
            offsets.push_back(offset);
        }
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            const auto* row = &rows.texts[4 * i];
            reader.add({ row[2], row[3], row[1], row[0] }, offsets[i]);
        }
        const TimedSeries series = TimedSeriesOf(reader.finish());
        ASSERT_TRUE(series.durationsKnown);
        const NoiseFigures figures = NoiseFiguresOf(series, {});

        // Every hour whole, in the order they passed; the repeated one twice, each with its offset.
        const FigureTable table = HourTable(figures);
        std::vector<std::string> hours;
        for (std::size_t i = 0; i < figures.hours.size(); ++i) {
            const HourLevels& hour = figures.hours[i];
            hours.push_back(table.rows[i][2].plain.toStdString());
            EXPECT_EQ(hour.coveredSeconds, 3600) << hours.back();
            if (hour.hour < 1 || hour.hour > 3) {
                EXPECT_NEAR(*hour.leq, 40.0 + hour.hour + (hour.utcOffset == 3600 ? 0.5 : 0.0), 1e-4) << hours.back();
            }
        }
        EXPECT_EQ(hours, c.hours);

        // The night is as long as the clock made it, and the readings cover all of it.
        const PeriodLevel* night = nullptr;
        const PeriodLevel* den = nullptr;
        for (const PeriodLevel& row : figures.periods) {
            if (row.day == c.day && row.figure == PeriodFigure::Night)
                night = &row;
            if (row.day == c.day && row.figure == PeriodFigure::DayEveningNight)
                den = &row;
        }
        ASSERT_TRUE(night && den);
        EXPECT_EQ(night->coveredSeconds, c.nightSeconds);
        EXPECT_EQ(night->periodSeconds, c.nightSeconds);
        EXPECT_DOUBLE_EQ(night->coverage(), 1.0);
        EXPECT_EQ(den->periodSeconds, c.dayLengthSeconds);

        // The loud twenty minutes are one event of 1,200 s, told in the wall clock on either side.
        ASSERT_EQ(figures.events.size(), 1U);
        const ExceedanceEvent& event = figures.events[0];
        EXPECT_EQ(event.seconds(), 1200);
        EXPECT_EQ(PlainMoment(event.wallClockStart()).toStdString(), c.eventStart);
        EXPECT_EQ(PlainMoment(event.wallClockEnd()).toStdString(), c.eventEnd);
        EXPECT_EQ(event.day, c.day);
        EXPECT_EQ(event.period, NoisePeriod::Night);
    }
}

TEST(NoiseAssessment, AAndCWeightedReadingsAreNeverMixed)
{
    // 100 s of A at 60, 100 s of C at 80, 100 s of A at 70, a reading a second.
    const NoiseFigures figures
        = FiguresOf(RowsOf({ { At(10), 1, 100, Constant(60.0), 'A' }, { At(10, 1, 40), 1, 100, Constant(80.0), 'C' },
                        { At(10, 3, 20), 1, 100, Constant(70.0), 'A' } }),
            { 750, 1, 5 });

    const std::optional<double> none;
    ExpectPeriods(figures, Weighting::A,
        Join({ Day("whole run", { 67.4036, none, none, none, none }, { 0.46, 0, 0, 0.23, 0.23 }),
            Day("2006-05-12", { 67.4036, none, none, none, none }, { 0.46, 0, 0, 0.23, 0.23 }) }));
    ExpectPeriods(figures, Weighting::C,
        Join({ Day("whole run", { 80.0, none, none, none, none }, { 0.23, 0, 0, 0.12, 0.12 }),
            Day("2006-05-12", { 80.0, none, none, none, none }, { 0.23, 0, 0, 0.12, 0.12 }) }));
    ExpectEvents(figures, Weighting::A, {});
    ExpectEvents(figures, Weighting::C, { { QTime(10, 1, 40), 100, 80.0, 80.0, 100.0 } });
    ASSERT_EQ(figures.hours.size(), 2U);
    EXPECT_EQ(figures.hours[0].weighting, Weighting::A);
    EXPECT_EQ(figures.hours[0].coveredSeconds, 200);
    EXPECT_EQ(figures.hours[1].weighting, Weighting::C);
    EXPECT_NEAR(*figures.hours[1].leq, 80.0, 1e-9);
}

TEST(NoiseAssessment, OtherBoundsAndPenaltiesMoveThePeriods)
{
    // Bounds of 06-18/18-22/22-06: a reading at 06:30 belongs to the day, one at 22:30 to the night.
    NoiseSettings settings;
    settings.periods.dayStart = 6;
    settings.periods.eveningStart = 18;
    settings.periods.nightStart = 22;
    settings.periods.eveningPenalty = 0.0;
    settings.periods.nightPenalty = 0.0;
    Rows rows = RowsOf({ { At(6), 3600, 24, Constant(50.0) } });
    const NoiseFigures figures = NoiseFiguresOf(SeriesOf(rows), settings);
    // Constant 50 dB without penalties: every figure is 50, every period covered.
    ASSERT_EQ(figures.periods.size(), 10U);
    for (const PeriodLevel& row : figures.periods) {
        ASSERT_TRUE(row.level.has_value()) << PeriodFigureName(row.figure).toStdString();
        EXPECT_NEAR(*row.level, 50.0, 1e-9);
        EXPECT_DOUBLE_EQ(row.coverage(), 1.0);
    }
    EXPECT_EQ(figures.periods[0].periodSeconds, 12 * 3600);
    EXPECT_EQ(figures.periods[1].periodSeconds, 4 * 3600);
    EXPECT_EQ(figures.periods[2].periodSeconds, 8 * 3600);

    struct Bounds {
        NoisePeriods periods;
        bool fine;
    };
    const Bounds bounds[] = {
        { { 7, 19, 23, 5, 10, 22 }, true },
        { { 6, 18, 22, 5, 10, 22 }, true },
        { { 7, 7, 23, 5, 10, 22 }, false },
        { { 7, 19, 24, 5, 10, 22 }, false },
        { { 7, 19, 23, 5, 10, 7 }, false },
        { { 7, 19, 23, -1, 10, 22 }, false },
        { { 7, 19, 23, 5, 21, 22 }, false },
    };
    for (const Bounds& b : bounds)
        EXPECT_EQ(!b.periods.fault().has_value(), b.fine) << b.periods.dayStart << "-" << b.periods.nightStart;
}

TEST(ReadingDurations, FollowTheRegularStepsOfTheTimeStamps)
{
    struct Case {
        const char* label;
        std::vector<int> stamps;
        std::vector<std::int32_t> seconds;
        std::vector<std::size_t> breaks;
    };
    // expected_noise.py, "durations".
    const Case cases[] = {
        { "wobbling 1 s", { 0, 1, 2, 2, 4, 5, 6 }, { 1, 1, 1, 1, 1, 1, 1 }, {} },
        { "1 s then 60 s after a pause", { 0, 1, 2, 3, 10, 70, 130, 190 }, { 1, 1, 1, 1, 60, 60, 60, 60 }, { 4 } },
        { "two readings 60 s apart", { 0, 60 }, { 60, 60 }, {} },
        { "no regular step", { 0, 5, 7, 20 }, { 5, 5, 5, 5 }, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<StampedReading> stamped;
        for (const int stamp : c.stamps)
            stamped.push_back({ ClockSecondsOf(QDate(2006, 5, 12), stamp), 500, Weighting::A });
        const auto timed = TimedReadingsOf(stamped);
        ASSERT_TRUE(timed.has_value());
        std::vector<std::int32_t> seconds;
        std::vector<std::size_t> breaks;
        for (std::size_t i = 0; i < timed->size(); ++i) {
            seconds.push_back((*timed)[i].seconds);
            if ((*timed)[i].afterBreak)
                breaks.push_back(i);
        }
        EXPECT_THAT(seconds, ElementsAreArray(c.seconds));
        EXPECT_THAT(breaks, ElementsAreArray(c.breaks));
    }
    // One reading, or readings all stamped alike, tell no duration.
    const ClockSeconds noon = ClockSecondsOf(QDate(2006, 5, 12), 43200);
    EXPECT_FALSE(TimedReadingsOf({ { noon, 500, Weighting::A } }));
    EXPECT_FALSE(TimedReadingsOf({ { noon, 500, Weighting::A }, { noon, 510, Weighting::A } }));
}

TEST(ReadingDurations, AGivenIntervalLastsEveryReadingAndFilesJoinedAreOneSeries)
{
    const auto stamped = [](std::initializer_list<int> stamps) {
        StampedSeries series;
        for (const int stamp : stamps)
            series.readings.push_back({ ClockSecondsOf(QDate(2006, 5, 12), stamp), 500, Weighting::A });
        return series;
    };
    const auto shape = [](const TimedSeries& series) {
        std::vector<std::pair<std::int32_t, bool>> readings;
        for (const TimedReading& reading : series.readings)
            readings.emplace_back(reading.seconds, reading.afterBreak);
        return readings;
    };
    using Shape = std::vector<std::pair<std::int32_t, bool>>;
    // Told 10 s, each reading lasts 10 s whatever its stamps; a step of more than 30 s is a break.
    const TimedSeries told = TimedSeriesOf(stamped({ 0, 10, 20, 60, 70 }), 10);
    EXPECT_TRUE(told.durationsKnown);
    EXPECT_EQ(shape(told), (Shape { { 10, false }, { 10, false }, { 10, false }, { 10, true }, { 10, false } }));

    // Two files one after the other are one run; a pause between them is a break.
    EXPECT_EQ(shape(TimedSeriesOf(Joined({ stamped({ 0, 1, 2 }), stamped({ 3, 4, 5 }) }))),
        (Shape { { 1, false }, { 1, false }, { 1, false }, { 1, false }, { 1, false }, { 1, false } }));
    EXPECT_EQ(shape(TimedSeriesOf(Joined({ stamped({ 0, 1, 2 }), stamped({ 600, 601, 602 }) }))),
        (Shape { { 1, false }, { 1, false }, { 1, false }, { 1, true }, { 1, false }, { 1, false } }));
}

TEST(ReadingDurations, AGrowingRunGetsTheDurationsTheWholeSeriesGets)
{
    // Fed a reading at a time, with a snapshot finished after each, the end matches the batch.
    std::vector<StampedReading> stamped;
    const int stamps[] = { 0, 1, 2, 2, 4, 5, 6, 13, 73, 133, 193, 194, 195 };
    for (const int stamp : stamps)
        stamped.push_back({ stamp, 500, Weighting::A });
    const auto batch = TimedReadingsOf(stamped);
    ASSERT_TRUE(batch);

    ReadingDurations growing;
    std::vector<TimedReading> decided;
    std::size_t added = 0;
    for (const StampedReading& reading : stamped) {
        growing.add(reading, [&](const TimedReading& r) { decided.push_back(r); });
        ++added;
        // A finished copy holds every reading so far; the original keeps waiting for more.
        ReadingDurations snapshot = growing;
        std::vector<TimedReading> all = decided;
        if (snapshot.finish([&](const TimedReading& r) { all.push_back(r); })) {
            EXPECT_EQ(all.size(), added);
        }
        EXPECT_LE(decided.size(), added);
        // Every reading decided so far keeps the duration the whole series gives it.
        for (std::size_t i = 0; i < decided.size(); ++i)
            EXPECT_EQ(decided[i].seconds, (*batch)[i].seconds) << i;
    }
    growing.finish([&](const TimedReading& r) { decided.push_back(r); });
    ASSERT_EQ(decided.size(), batch->size());
    for (std::size_t i = 0; i < decided.size(); ++i) {
        EXPECT_EQ(decided[i].seconds, (*batch)[i].seconds) << i;
        EXPECT_EQ(decided[i].afterBreak, (*batch)[i].afterBreak) << i;
    }
}

TEST(NoiseAssessment, ACopyOfAGrowingRunHasTheFiguresOfItsReadingsSoFar)
{
    const TimedSeries whole = SeriesOf(RowsOf({ { At(18), 60, 120, ByPeriod } }));
    ASSERT_TRUE(whole.durationsKnown);
    const std::size_t half = whole.readings.size() / 2;
    NoiseSettings settings;
    settings.events = { 560, 60, 60 };

    NoiseAssessment growing(settings);
    for (std::size_t i = 0; i < half; ++i)
        growing.add(whole.readings[i]);
    const NoiseAssessment copy = growing;
    for (std::size_t i = half; i < whole.readings.size(); ++i)
        growing.add(whole.readings[i]);

    NoiseAssessment firstHalf(settings);
    for (std::size_t i = 0; i < half; ++i)
        firstHalf.add(whole.readings[i]);
    const auto same = [](const NoiseFigures& a, const NoiseFigures& b) {
        EXPECT_EQ(a.periods.size(), b.periods.size());
        for (std::size_t i = 0; i < std::min(a.periods.size(), b.periods.size()); ++i) {
            EXPECT_EQ(a.periods[i].level, b.periods[i].level) << i;
            EXPECT_EQ(a.periods[i].coveredSeconds, b.periods[i].coveredSeconds) << i;
        }
        EXPECT_EQ(a.hours.size(), b.hours.size());
        EXPECT_EQ(a.events.size(), b.events.size());
    };
    same(copy.figures(), firstHalf.figures());
    same(growing.figures(), NoiseFiguresOf(whole, settings));
    // 18:00 to 19:59 at 60 then 55 dB: the evening's start is below 56 dB, the day's end above it,
    // and the event still going at 18:59 in the first half ends with the day.
    ASSERT_EQ(copy.figures().events.size(), 1U);
    EXPECT_EQ(copy.figures().events[0].seconds(), 3600);
    ASSERT_EQ(growing.figures().events.size(), 1U);
    EXPECT_EQ(growing.figures().events[0].seconds(), 3600);
}

} // namespace
