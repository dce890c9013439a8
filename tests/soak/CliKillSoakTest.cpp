// decimora-cli live --output FILE killed with SIGKILL at moments drawn from a fixed seed, 50 times,
// every run appending to the same file; and now and then, after a kill, the file's end cut off in
// the middle of its last line or followed by zeros, as a power cut leaves a file whose last pages had
// not reached the disk. At the end the file holds the CSV header once and then only whole reading
// lines, each run's readings exactly as its simulated meter sent them, in order, none twice: a run
// that finds a cut-off last line drops it instead of gluing its first reading onto it.

#include "support/SimulatedLevels.h"
#include "support/TestFiles.h"

#include <QDate>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <map>
#include <random>
#include <thread>

#include <unistd.h>

namespace {

constexpr std::uint32_t Seed = 20261214;
constexpr int Rounds = 50;
const QDate FirstDay(2026, 3, 1);

constexpr char CsvHeader[] = "time,level,weighting,range,response,max_hold\r\n";

// The run of a line: its day, since each run pretends to start on a day of its own.
int RunOf(const QByteArray& line)
{
    return int(FirstDay.daysTo(QDate::fromString(QString::fromLatin1(line.left(10)), Qt::ISODate)));
}

// The tenths of a whole reading line, or -1 for anything else.
int TenthsOf(const QByteArray& line)
{
    static const QRegularExpression reading(QStringLiteral(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,(\d+)\.(\d),[AC],\d+-\d+,(fast|slow),(true|false)$)"));
    const QRegularExpressionMatch match = reading.match(QString::fromLatin1(line));
    return match.hasMatch() ? match.captured(1).toInt() * 10 + match.captured(2).toInt() : -1;
}

// The lines of the file, each without its CR LF; the bytes after the last line end are left out.
QList<QByteArray> WholeLines(const QByteArray& content)
{
    QList<QByteArray> lines = content.left(content.lastIndexOf('\n') + 1).split('\n');
    lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

void CutTheEnd(const QString& path, qint64 size)
{
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), size), 0);
}

} // namespace

TEST(CliKillSoak, RunsKilledAtRandomAppendOnlyWholeLinesEachReadingOnceAndTheHeaderOnce)
{
    QTemporaryDir folder;
    const QString file = QDir(folder.path()).filePath(QStringLiteral("noise.csv"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), folder.path());

    std::mt19937 random(Seed);
    std::uniform_int_distribution<int> killAfterMs(0, 1500);
    std::discrete_distribution<int> powerCut({ 6, 3, 1 }); // nothing, the last line cut, zeros after it
    std::map<int, int> kept; // per run, the readings of the file after its kill (and any power cut)
    int cuts = 0;
    int zeros = 0;
    for (int round = 1; round <= Rounds; ++round) {
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.start(QStringLiteral(DECIMORA_CLI_EXECUTABLE),
            { "live", "--simulate-meter",
                "--pretend-start=" + FirstDay.addDays(round).toString(Qt::ISODate) + "T12:00:00", "--interval", "0.3",
                "--output", file });
        ASSERT_TRUE(tool.waitForStarted());
        std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs(random)));
        tool.kill();
        ASSERT_TRUE(tool.waitForFinished());

        const QByteArray content = readFile(file);
        if (content == "<missing>")
            continue; // killed before it opened the file
        kept[round] = 0;
        for (const QByteArray& line : WholeLines(content))
            kept[round] += RunOf(line) == round ? 1 : 0;
        const qsizetype lastLineStart = content.lastIndexOf('\n', content.size() - 2) + 1;
        switch (powerCut(random)) {
        case 1:
            if (content.size() - lastLineStart >= 2) {
                const qint64 cutAt
                    = std::uniform_int_distribution<qint64>(lastLineStart + 1, content.size() - 1)(random);
                ASSERT_NO_FATAL_FAILURE(CutTheEnd(file, cutAt));
                ++cuts;
                // The reading on that line is lost with the power; the header is no reading.
                if (const int run = RunOf(content.mid(lastLineStart)); lastLineStart > 0 && kept.count(run))
                    --kept[run];
            }
            break;
        case 2: {
            QFile zeroed(file);
            ASSERT_TRUE(zeroed.open(QIODevice::Append));
            zeroed.write(QByteArray(std::uniform_int_distribution<int>(1, 60)(random), '\0'));
            ++zeros;
            break;
        }
        default:
            break;
        }
    }
    // One more run that ends with SIGTERM: the file's last line is whole.
    QProcess last;
    last.setProcessEnvironment(environment);
    last.start(QStringLiteral(DECIMORA_CLI_EXECUTABLE),
        { "live", "--simulate-meter",
            "--pretend-start=" + FirstDay.addDays(Rounds + 1).toString(Qt::ISODate) + "T12:00:00", "--interval", "0.3",
            "--duration", "1", "--output", file });
    ASSERT_TRUE(last.waitForFinished(60000));
    ASSERT_EQ(last.exitCode(), 0) << last.readAllStandardError().toStdString();

    const QByteArray content = readFile(file);
    ASSERT_TRUE(content.startsWith(CsvHeader)) << content.left(80).toStdString();
    ASSERT_TRUE(content.endsWith("\r\n"));
    EXPECT_EQ(content.count(CsvHeader), 1);
    const QList<QByteArray> lines = WholeLines(content.mid(qsizetype(sizeof CsvHeader) - 1));
    std::map<int, std::vector<int>> levels; // per run, in file order
    int previousRun = 0;
    for (const QByteArray& line : lines) {
        const int tenths = TenthsOf(line);
        ASSERT_GE(tenths, 0) << "not a whole reading line: \"" << line.toStdString() << "\"";
        const int run = RunOf(line);
        ASSERT_GE(run, previousRun) << "the runs' lines interleave: " << line.toStdString();
        previousRun = run;
        levels[run].push_back(tenths);
    }
    int readings = 0;
    int lost = 0;
    int doubled = 0;
    for (const auto& [run, count] : kept) {
        EXPECT_EQ(levels[run], SimulatedLevels(count)) << "run " << run;
        readings += count;
        lost += std::max(0, count - int(levels[run].size()));
        doubled += std::max(0, int(levels[run].size()) - count);
    }
    EXPECT_GE(levels[Rounds + 1].size(), 1U);
    EXPECT_EQ(levels[Rounds + 1], SimulatedLevels(int(levels[Rounds + 1].size())));
    std::cout << "kill soak, decimora-cli live: " << Rounds << " runs killed, " << readings
              << " readings kept by them, " << cuts << " last lines cut and " << zeros
              << " runs of zeros left as by a power cut; " << lines.size()
              << " whole lines and the header once at the end, lost " << lost << ", doubled " << doubled << std::endl;
}
