// A week of unattended logging in a few minutes: decimora-cli live --rotate daily on the simulated
// meter, its clock run fast (--pretend-rate) from a local midnight in TZ=Europe/Berlin, across the
// October change (a 25-hour day) and, separately, the March change (a 23-hour day). One file per
// local day, each holding that day's readings only, every time stamp with the offset Berlin had at
// that instant, all of them in order, each reading the meter gave once and none lost, the change day's
// readings all counted by the tool's own stats, whose hours and night of that day follow the clock (an
// hour repeated or skipped, a night an hour longer or shorter); resident memory and open file handles
// at the end of day 7 as at the end of day 1.

#include "support/SimulatedLevels.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <map>
#include <optional>
#include <set>

namespace {

constexpr int Days = 7;
constexpr int IntervalSeconds = 60;
// A week and three hours of the tool's clock in about two and a half minutes.
constexpr int Rate = 4000;
constexpr char CsvHeader[] = "time,level,weighting,range,response,max_hold\r\n";

// The tool under test: this build's own, or the one DECIMORA_WEEK_CLI names (the release build's, say).
// The address sanitizer's own bookkeeping grows by about 1.3 MB in such a week, whatever the tool does
// (the release build's resident memory stays the same to the KiB), so the sanitized tool is allowed
// that and a little more; another one only the allocator's slack.
QString ToolUnderTest()
{
    const QString named = qEnvironmentVariable("DECIMORA_WEEK_CLI");
    return named.isEmpty() ? QStringLiteral(DECIMORA_CLI_EXECUTABLE) : named;
}
qint64 AllowedGrowthKiB()
{
    return qEnvironmentVariableIsEmpty("DECIMORA_WEEK_CLI") ? 2048 : 64;
}

struct Sample {
    qint64 residentKiB = 0;
    int openFiles = 0;
};

// The tool's resident memory and open file descriptors, from /proc.
Sample SampleOf(qint64 pid)
{
    Sample sample;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                sample.residentKiB = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    sample.openFiles
        = int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
    return sample;
}

struct Reading {
    QDateTime instant; // UTC
    int offsetSeconds;
    QDate localDay;
    int tenths;
};

// A whole CSV reading line, or nothing.
std::optional<Reading> ReadingOf(const QByteArray& line)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^((\d{4}-\d\d-\d\d)T\d\d:\d\d:\d\d\.\d{3})([+-])(\d\d):(\d\d),(\d+)\.(\d),[AC],\d+-\d+,(fast|slow),(true|false)$)"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(line));
    if (!match.hasMatch())
        return std::nullopt;
    const int offset = (match.captured(3) == QLatin1String("-") ? -1 : 1)
        * (match.captured(4).toInt() * 3600 + match.captured(5).toInt() * 60);
    const QDateTime local = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
    Reading reading;
    reading.instant = QDateTime(local.date(), local.time(), Qt::UTC).addSecs(-offset);
    reading.offsetSeconds = offset;
    reading.localDay = local.date();
    reading.tenths = match.captured(6).toInt() * 10 + match.captured(7).toInt();
    return reading;
}

struct WeekCase {
    const char* change;
    QDate firstDay;
    QDate changeDay;
    int changeDayHours;
};

// One week's run of the tool: started at once, watched while it runs (the end of each day is seen
// when the next day's file appears), checked once it has ended.
class LoggedWeek {
public:
    explicit LoggedWeek(const WeekCase& week)
        : week_(week)
        , files_(folder_.path())
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("HOME"), folder_.path());
        environment.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
        // Memory freed goes straight back to the allocator, not into the address sanitizer's
        // quarantine, whose growth would hide what the tool itself keeps.
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
            environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":quarantine_size_mb=0"));
        tool_.setProcessEnvironment(environment);
        tool_.start(ToolUnderTest(),
            { "live", "--simulate-meter", "--pretend-start=" + week.firstDay.toString(Qt::ISODate) + "T00:00:00",
                "--pretend-rate", QString::number(Rate), "--interval", QString::number(IntervalSeconds), "--duration",
                QString::number((Days * 24 + 3) * 3600), "--output", files_.filePath(QStringLiteral("noise.csv")),
                "--rotate", "daily" });
    }

    // False once the tool has ended.
    bool watch()
    {
        if (finished_ || tool_.state() == QProcess::NotRunning)
            return false;
        finished_ = tool_.waitForFinished(10);
        const int dayFiles = int(files_.entryList({ QStringLiteral("noise-*.csv") }, QDir::Files).size());
        if (!finished_ && dayFiles >= 2 && !endOfDay_.count(dayFiles - 1))
            endOfDay_[dayFiles - 1] = SampleOf(tool_.processId());
        return !finished_;
    }

    void check();

private:
    void checkFigures(const QString& dayFile, const std::vector<Reading>& readings);
    QString stats(const QStringList& arguments);

    WeekCase week_;
    QTemporaryDir folder_;
    QDir files_;
    QProcess tool_;
    bool finished_ = false;
    std::map<int, Sample> endOfDay_;
};

QString LoggedWeek::stats(const QStringList& arguments)
{
    QProcess stats;
    stats.setProcessEnvironment(tool_.processEnvironment());
    stats.start(ToolUnderTest(), QStringList { QStringLiteral("stats") } + arguments);
    EXPECT_TRUE(stats.waitForFinished(60000));
    EXPECT_EQ(stats.exitCode(), 0) << stats.readAllStandardError().toStdString();
    return QString::fromUtf8(stats.readAllStandardOutput());
}

// The energy average of levels in tenths of a dB, each counted alike.
double EnergyAverage(const std::vector<int>& tenths)
{
    double sum = 0.0;
    for (const int level : tenths)
        sum += std::pow(10.0, level / 100.0);
    return 10.0 * std::log10(sum / double(tenths.size()));
}

// The tool's own statistics of the change day's file, read back as a user would: every reading counted,
// each wall-clock hour a row (the one the clock repeats twice, each with its offset; the one it skips
// none) nearly all covered, at the energy average of the file's readings in it; and the part of the
// night before in the file, as long as the clock made it. (Durations and levels are compared loosely:
// at 4,000 times the real clock a millisecond of the timer's jitter moves a time stamp by seconds, and
// a reading's duration is its run's usual step.)
void LoggedWeek::checkFigures(const QString& dayFile, const std::vector<Reading>& readings)
{
    const QString summary = stats({ dayFile });
    const QRegularExpression count(
        QRegularExpression::escape(dayFile + QStringLiteral("\tReadings (A)\t")) + QStringLiteral("(\\d+)"));
    EXPECT_EQ(count.match(summary).captured(1).toLongLong(), qsizetype(readings.size())) << summary.toStdString();

    // The file's readings by wall-clock hour, and those of the night (before 07:00).
    std::map<int, std::set<int>> offsetsOfHour;
    for (const Reading& reading : readings)
        offsetsOfHour[reading.instant.addSecs(reading.offsetSeconds).time().hour()].insert(reading.offsetSeconds);
    std::map<QString, std::vector<int>> byHour;
    std::vector<QString> hourOrder;
    std::vector<int> night;
    for (const Reading& reading : readings) {
        const int hour = reading.instant.addSecs(reading.offsetSeconds).time().hour();
        QString label = QStringLiteral("%1:00").arg(hour, 2, 10, QLatin1Char('0'));
        if (offsetsOfHour[hour].size() == 2)
            label += QStringLiteral("+0%1:00").arg(reading.offsetSeconds / 3600);
        if (!byHour.count(label))
            hourOrder.push_back(label);
        byHour[label].push_back(reading.tenths);
        if (hour < 7)
            night.push_back(reading.tenths);
    }

    QStringList hours;
    for (const QString& line : stats({ "--hourly", dayFile }).split('\n', Qt::SkipEmptyParts).mid(1)) {
        const QStringList f = line.split('\t'); // file, weighting, date, hour, Leq, Lmax, L10, L90, coverage
        ASSERT_EQ(f.size(), 9) << line.toStdString();
        hours << f[3];
        SCOPED_TRACE(line.toStdString());
        ASSERT_TRUE(byHour.count(f[3]));
        EXPECT_NEAR(f[4].toDouble(), EnergyAverage(byHour[f[3]]), 0.3);
        EXPECT_GE(f[8].toDouble(), 90.0);
    }
    EXPECT_EQ(hours.size(), week_.changeDayHours);
    EXPECT_EQ(hours.join(' ').toStdString(), QStringList(hourOrder.begin(), hourOrder.end()).join(' ').toStdString());

    // The night of the day before, from 23:00 to 07:00, is in this file from midnight: seven hours of the
    // wall clock, eight real ones in October of a night of nine, six in March of a night of seven.
    const QString nightLabel = dayFile + '\t' + QStringLiteral("A\t")
        + week_.changeDay.addDays(-1).toString(Qt::ISODate) + QStringLiteral("\tLnight\t");
    const QString periods = stats({ "--periods", dayFile });
    const qsizetype at = periods.indexOf(nightLabel);
    ASSERT_GE(at, 0) << periods.toStdString();
    const QStringList f
        = periods.mid(at + nightLabel.size()).section('\n', 0, 0).split('\t'); // value, coverage, events
    const double nightHours = week_.changeDayHours == 25 ? 9.0 : 7.0;
    const double coveredHours = nightHours - 1.0;
    EXPECT_NEAR(f.value(0).toDouble(), EnergyAverage(night), 0.3) << periods.toStdString();
    // Within four points, since the durations follow the usual step rather than each reading's own
    // (seen: 91.0 % for 88.9 %); a night taken as eight hours whatever the clock did gives 100 % and 75 %.
    EXPECT_NEAR(f.value(1).toDouble(), 100.0 * coveredHours / nightHours, 4.0) << periods.toStdString();
}

void LoggedWeek::check()
{
    ASSERT_TRUE(finished_);
    ASSERT_EQ(tool_.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(tool_.exitCode(), 0) << tool_.readAllStandardError().toStdString();

    // A file for each local day of the week_ and for the hours of the next one, each of that day only.
    const QTimeZone berlin("Europe/Berlin");
    QStringList expectedFiles;
    for (int day = 0; day <= Days; ++day)
        expectedFiles << QStringLiteral("noise-%1.csv").arg(week_.firstDay.addDays(day).toString(Qt::ISODate));
    ASSERT_EQ(files_.entryList({ QStringLiteral("noise*") }, QDir::Files).join(' ').toStdString(),
        expectedFiles.join(' ').toStdString());
    std::vector<int> levels;
    std::vector<qint64> perDay;
    QDateTime previous;
    for (int day = 0; day <= Days; ++day) {
        const QDate date = week_.firstDay.addDays(day);
        SCOPED_TRACE(date.toString(Qt::ISODate).toStdString());
        const QByteArray content = readFile(files_.filePath(expectedFiles[day]));
        ASSERT_TRUE(content.startsWith(CsvHeader));
        ASSERT_TRUE(content.endsWith("\r\n"));
        QList<QByteArray> lines = content.mid(qsizetype(sizeof CsvHeader) - 1).split('\n');
        lines.removeLast();
        std::set<int> offsets;
        std::vector<Reading> dayReadings;
        QDateTime first;
        for (QByteArray& line : lines) {
            ASSERT_TRUE(line.endsWith('\r')) << line.toStdString();
            line.chop(1);
            const std::optional<Reading> reading = ReadingOf(line);
            ASSERT_TRUE(reading) << "not a reading line: " << line.toStdString();
            EXPECT_EQ(reading->localDay, date) << line.toStdString();
            ASSERT_EQ(reading->offsetSeconds, berlin.offsetFromUtc(reading->instant)) << line.toStdString();
            ASSERT_TRUE(!previous.isValid() || previous < reading->instant) << "out of order: " << line.toStdString();
            previous = reading->instant;
            if (!first.isValid())
                first = reading->instant;
            offsets.insert(reading->offsetSeconds);
            levels.push_back(reading->tenths);
            dayReadings.push_back(*reading);
        }
        perDay.push_back(lines.size());
        if (day == Days)
            continue;
        // The day's readings span its length in real time, less an interval and the timer's jitter at
        // either end (a tenth of a second of the real clock is 400 s here): within half an hour, which
        // tells 23, 24 and 25 hours apart.
        const int hours = date == week_.changeDay ? week_.changeDayHours : 24;
        const qint64 spanSeconds = first.secsTo(previous);
        EXPECT_GT(spanSeconds, hours * 3600 - 1800);
        EXPECT_LT(spanSeconds, hours * 3600);
        EXPECT_EQ(offsets.size(), date == week_.changeDay ? 2U : 1U);
        if (date == week_.changeDay)
            checkFigures(files_.filePath(expectedFiles[day]), dayReadings);
    }
    // Every reading the meter gave, once and in order: the files together are its sequence.
    EXPECT_EQ(levels, SimulatedLevels(int(levels.size())));

    ASSERT_TRUE(endOfDay_.count(1) && endOfDay_.count(Days));
    const Sample& day1 = endOfDay_[1];
    const Sample& day7 = endOfDay_[Days];
    std::cout << "logging week across the " << week_.change << " change (" << ToolUnderTest().toStdString()
              << ", TZ=Europe/Berlin, clock " << Rate << " times as fast): " << expectedFiles.size() << " files, "
              << levels.size() << " readings (per day:";
    for (const qint64 count : perDay)
        std::cout << ' ' << count;
    std::cout << "); resident memory at the end of day 1 " << day1.residentKiB << " KiB, of day 7 " << day7.residentKiB
              << " KiB; open files " << day1.openFiles << " and " << day7.openFiles << std::endl;
    EXPECT_EQ(day7.openFiles, day1.openFiles);
    EXPECT_LE(day7.residentKiB, day1.residentKiB + AllowedGrowthKiB());
}

} // namespace

// The October week and the March week run at the same time, each in a tool of its own.
TEST(LoggingWeek, AcrossTheOctoberAndTheMarchChangeOneFileADayNothingLostOrDoubledAndTheRightOffsets)
{
    LoggedWeek october({ "October", QDate(2026, 10, 22), QDate(2026, 10, 25), 25 });
    LoggedWeek march({ "March", QDate(2026, 3, 26), QDate(2026, 3, 29), 23 });
    while (october.watch() | march.watch()) { }
    {
        SCOPED_TRACE("October");
        october.check();
    }
    {
        SCOPED_TRACE("March");
        march.check();
    }
}
