// The names of the daily files and the line protocol's escapes, for the names a user may give; what a
// file already holds when the logger appends to it.

#include "cli/LiveOutput.h"
#include "cli/CliError.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
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

// A power cut or a full disk leaves a file whose last line was cut off, or zeros in its place. The
// next run drops whatever follows the last line end before it appends, and says so; the CSV header is
// written when nothing else is left.
TEST(LiveOutput, AppendingDropsALineThatWasCutOffAndNeverGluesOntoIt)
{
    const QByteArray header = FormatHeader(LineFormat::Csv);
    const QByteArray line = "2026-12-10T14:14:40.100+00:00,54.1,A,30-130,fast,false\r\n";
    const QByteArray json = "{\"level\":54.1}\n";
    struct Case {
        const char* what;
        LineFormat format;
        QByteArray before;
        QByteArray kept; // of what was there; the new reading's line follows
        qsizetype dropped; // bytes the note tells of, 0 for no note
    };
    const Case cases[] = {
        { "a new file", LineFormat::Csv, "", header, 0 },
        { "whole lines", LineFormat::Csv, header + line, header + line, 0 },
        { "a reading cut off", LineFormat::Csv, header + line + "2026-12-10T14:14:42.309+00", header + line, 26 },
        { "the line end half written", LineFormat::Csv, header + line + line.chopped(1), header + line,
            line.size() - 1 },
        { "zeros after the last line", LineFormat::Csv, header + line + QByteArray(37, '\0'), header + line, 37 },
        { "a torso, then many blocks of zeros", LineFormat::Csv, header + line + "2026-12" + QByteArray(40000, '\0'),
            header + line, 40007 },
        { "the header cut off", LineFormat::Csv, "time,lev", header, 8 },
        { "a torso longer than a read block", LineFormat::Csv, QByteArray(5000, 'x'), header, 5000 },
        { "a JSON line cut off", LineFormat::JsonLines, json + "{\"level\":5", json, 10 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QTemporaryDir folder;
        const QString path = QDir(folder.path()).filePath(QStringLiteral("noise.log"));
        if (!c.before.isEmpty())
            writeFile(path, c.before);
        QStringList notes;
        LiveReading reading;
        reading.time = QDateTime(QDate(2026, 12, 10), QTime(14, 14, 44, 998), Qt::UTC);
        reading.tenths = 541;
        reading.flags = 0x40;
        {
            LineOutput output(
                c.format, {}, LineOutput::Target::File, path, [&](const QString& note) { notes << note; });
            output.take(reading);
        }
        EXPECT_EQ(readFile(path), c.kept + FormatLine(c.format, reading));
        if (c.dropped == 0) {
            EXPECT_TRUE(notes.isEmpty());
        } else {
            ASSERT_EQ(notes.size(), 1);
            EXPECT_TRUE(
                notes[0].startsWith(path + QStringLiteral(" ended in a line cut off after %1 bytes").arg(c.dropped)))
                << notes[0].toStdString();
        }
    }
}

// A tail longer than any line of readings is no torso: the file is some other file, and it is left
// byte for byte, with a message, rather than cut short or appended to.
TEST(LiveOutput, AFileThatEndsInMoreThanALineOfTextIsNeitherCutNorAppendedTo)
{
    const QTemporaryDir folder;
    const QString path = QDir(folder.path()).filePath(QStringLiteral("report.txt"));
    const QByteArray content = "Site survey\n" + QByteArray(20000, 'x');
    writeFile(path, content);
    try {
        LineOutput output(LineFormat::Csv, {}, LineOutput::Target::File, path);
        ADD_FAILURE() << "opened for appending";
    } catch (const CliError& error) {
        EXPECT_TRUE(
            error.text().startsWith(QStringLiteral("Cannot append to %1: it does not end with a whole line").arg(path)))
            << error.text().toStdString();
    }
    EXPECT_EQ(readFile(path), content);
}

} // namespace
