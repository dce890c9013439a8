// Dates and times read back from the texts the program writes: the meter's clock of a download, and
// the short date and long time of the system's locale of a live run, in many locales; and the
// layout a series is read in when the two could both apply.

#include "stats/ReadingTexts.h"
#include "core/SystemTexts.h"
#include "stats/StampedSeries.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

QDateTime Read(const TimeTextReader& reader, QByteArrayView date, QByteArrayView time, TimeTextLayout layout)
{
    const std::optional<QDate> day = reader.date(date, layout);
    const std::optional<std::int32_t> second = reader.secondOfDay(time, layout);
    if (!day || !second)
        return {};
    return QDateTime(*day, QTime(0, 0).addSecs(*second));
}

TEST(ReadingTexts, TheMetersClockReadsWithOrWithoutLeadingZerosAndNothingElseDoes)
{
    const TimeTextReader reader(QLocale::c());
    struct Case {
        const char* date;
        const char* time;
        QDateTime expected; // invalid: does not read
    };
    const Case cases[] = {
        { "5/12/2006", "9:5:30", QDateTime(QDate(2006, 5, 12), QTime(9, 5, 30)) },
        { "05/12/2006 ", " 09:05:30", QDateTime(QDate(2006, 5, 12), QTime(9, 5, 30)) },
        { "12/31/2099", "23:59:59", QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59)) },
        { "2/29/2008", "0:0:0", QDateTime(QDate(2008, 2, 29), QTime(0, 0)) },
        { "2/29/2007", "0:0:0", {} },
        { "13/12/2006", "9:5:30", {} },
        { "5/12/06", "9:5:30", {} },
        { "5/12/2006", "24:0:0", {} },
        { "5/12/2006", "9:60:0", {} },
        { "5/12/2006", "9:5", {} },
        { "5/12/2006", "9:5:30 AM", {} },
        { "12 May 2006", "9:5:30", {} },
        { "", "", {} },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Read(reader, c.date, c.time, TimeTextLayout::Download), c.expected) << c.date << " " << c.time;
    EXPECT_TRUE(TimeTextReader::hasUnpaddedMinuteOrSecond("9:5:30"));
    EXPECT_TRUE(TimeTextReader::hasUnpaddedMinuteOrSecond("10:15:3"));
    EXPECT_FALSE(TimeTextReader::hasUnpaddedMinuteOrSecond("9:05:30"));
}

TEST(ReadingTexts, EveryLocalesDateAndTimeReadBackAsTheyWereWritten)
{
    const char* locales[]
        = { "C", "en_US", "en_GB", "de_DE", "fr_FR", "sv_SE", "fi_FI", "ja_JP", "ko_KR", "ar_EG", "zh_CN", "hi_IN" };
    const QDate dates[] = { QDate(2006, 5, 12), QDate(2026, 12, 31), QDate(2030, 1, 2) };
    const QTime times[] = { QTime(0, 0, 0), QTime(9, 5, 30), QTime(12, 0, 0), QTime(12, 30, 45), QTime(23, 59, 59) };
    for (const char* name : locales) {
        const QLocale locale(QString::fromLatin1(name));
        const TimeTextReader reader(locale);
        for (const QDate& date : dates) {
            for (const QTime& time : times) {
                const QByteArray dateText = ShortDateText(locale, date).toUtf8();
                const QByteArray timeText = LongTimeText(locale, time).toUtf8();
                EXPECT_EQ(Read(reader, dateText, timeText, TimeTextLayout::System), QDateTime(date, time))
                    << name << ": " << dateText.toStdString() << " " << timeText.toStdString();
            }
        }
    }
}

TEST(ReadingTexts, TheSystemsTwelveHourClockReadsWhateverBlankStandsBeforeItsMark)
{
    const TimeTextReader reader(QLocale(QLocale::English, QLocale::UnitedStates));
    struct Case {
        const char* time;
        int expected; // seconds of the day; -1: does not read
    };
    const Case cases[] = {
        { "9:05:30 AM", 9 * 3600 + 5 * 60 + 30 },
        { "9:05:30 PM", 21 * 3600 + 5 * 60 + 30 },
        { "9:05:30 pm", 21 * 3600 + 5 * 60 + 30 },
        { "12:00:00 AM", 0 },
        { "12:00:00 PM", 12 * 3600 },
        { "9:05:30\xC2\xA0PM", 21 * 3600 + 5 * 60 + 30 },
        { "9:05:30\xE2\x80\xAFPM", 21 * 3600 + 5 * 60 + 30 },
        { "9:05:30", -1 },
        { "13:05:30 PM", -1 },
        { "9:05:30 XM", -1 },
        { "9:05:30 PM later", -1 },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reader.secondOfDay(c.time, TimeTextLayout::System).value_or(-1), c.expected) << c.time;
    }
}

struct Row {
    const char* date;
    const char* time;
    const char* level = "60.0";
    const char* weight = "A";
};

StampedSeries SeriesOf(const TimeTextReader& reader, const std::vector<Row>& rows, qint64 firstRow = 0)
{
    StampedSeriesReader series(reader, firstRow);
    for (const Row& row : rows)
        series.add({ row.level, row.weight, row.time, row.date });
    return series.finish();
}

TEST(StampedSeries, ASeriesIsReadInTheLayoutItsTextsFit)
{
    const TimeTextReader british(QLocale(QLocale::English, QLocale::UnitedKingdom));
    struct Case {
        const char* label;
        std::vector<Row> rows;
        TimeTextLayout layout;
        QDate firstDay;
        ClockSeconds step = 1;
    };
    const Case cases[] = {
        { "a download: only the meter's layout reads a one-digit day",
            { { "5/12/2006", "9:5:30" }, { "5/12/2006", "9:5:31" } }, TimeTextLayout::Download, QDate(2006, 5, 12) },
        { "a live run in the system's layout", { { "12/05/2006", "09:05:30" }, { "13/05/2006", "09:05:31" } },
            TimeTextLayout::System, QDate(2006, 5, 12), SecondsPerDay + 1 },
        { "both read: two-digit minutes and seconds are the system's",
            { { "12/05/2006", "10:15:30" }, { "12/05/2006", "10:15:31" } }, TimeTextLayout::System,
            QDate(2006, 5, 12) },
        { "both read: a one-digit second is the meter's", { { "12/05/2006", "10:15:9" }, { "12/05/2006", "10:15:10" } },
            TimeTextLayout::Download, QDate(2006, 12, 5) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const StampedSeries series = SeriesOf(british, c.rows);
        EXPECT_FALSE(series.timeError.has_value());
        EXPECT_EQ(series.layout, c.layout);
        ASSERT_EQ(series.readings.size(), c.rows.size());
        EXPECT_EQ(DateOf(series.readings[0].time), c.firstDay);
        EXPECT_EQ(series.readings[1].time - series.readings[0].time, c.step);
    }
}

TEST(StampedSeries, ARowWhoseTimeCannotBeReadIsNamedAndRowsWithoutALevelAreLeftOut)
{
    const TimeTextReader c(QLocale::c());
    // The meter's layout reads rows 0 to 2 and stops at row 3; the system's ("12 May 2006") none.
    const StampedSeries broken = SeriesOf(c,
        { { "5/12/2006", "9:5:30" }, { "5/12/2006", "9:5:31", "loud" }, { "5/12/2006", "9:5:32" },
            { "5/12/2006", "25:0:0" }, { "5/12/2006", "9:5:34" } },
        100);
    ASSERT_TRUE(broken.timeError.has_value());
    EXPECT_EQ(broken.timeError->row(), 103);
    EXPECT_EQ(broken.timeError->text(), "the date and time \"5/12/2006 25:0:0\" cannot be read");
    // The levels are still there for the figures that need no time.
    EXPECT_EQ(broken.readings.size(), 4U);
    EXPECT_EQ(broken.unreadableRows, 1);

    const StampedSeries fine
        = SeriesOf(c, { { "12 May 2006", "09:05:30", "61.5", "C" }, { "bad", "date", "61.x", "C" } });
    EXPECT_FALSE(fine.timeError.has_value());
    ASSERT_EQ(fine.readings.size(), 1U);
    EXPECT_EQ(fine.readings[0].tenths, 615);
    EXPECT_EQ(fine.readings[0].weighting, Weighting::C);
    EXPECT_EQ(fine.unreadableRows, 1);
}

} // namespace
