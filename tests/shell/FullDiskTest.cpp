// Every file the program and the tool write, on a disk that is full before the new file is complete:
// the file that was there stays byte for byte, nothing is left beside it, and the user is told why.
// The program is driven offscreen as its user drives it; the tool runs as its own process, which
// inherits the full disk.

#include "ProgramCopy.h"
#include "core/SettingsFile.h"
#include "shell/ReadingsRescue.h"
#include "store/SqliteReadingStore.h"
#include "support/ScopedFileSizeLimit.h"
#include "support/TestFiles.h"
#include "support/TestModule.h"

#include <QProcess>
#include <QPushButton>

namespace {

const QByteArray OldFile = "the file that was there\n";

// What the user was told: a message box's caption and text, or the tool's error output.
QString LastMessage(const ProgramCopy& copy)
{
    if (copy.test.ui.messages.empty())
        return QStringLiteral("nothing");
    const auto& message = copy.test.ui.messages.back();
    return message.caption + QStringLiteral(": ") + message.text;
}

QString RunTool(const QStringList& arguments, const QString& folder)
{
    QProcess tool;
    tool.setWorkingDirectory(folder);
    tool.start(QStringLiteral(DECIMORA_CLI_EXECUTABLE), arguments);
    EXPECT_TRUE(tool.waitForFinished(120000)) << arguments.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(tool.exitCode(), 1);
    return QString::fromLocal8Bit(tool.readAllStandardError());
}

// A data file of readings a minute apart.
void WriteDataFileOf(const QString& path, int readings)
{
    QByteArray content = QByteArray(DataFileHeader) + "\r\nTotal:" + QByteArray::number(readings) + "\r\n";
    for (int i = 0; i < readings; ++i)
        content += "5/12/2006 ," + QByteArray::number(i / 60 % 24) + ":" + QByteArray::number(i % 60) + ":0  ,"
            + QByteArray::number(50 + i % 40) + "." + QByteArray::number(i % 10) + "  ,A\r\n";
    writeFile(path, content);
}

// The program saves, exports or prints what the measurement window took.
void SaveFromTheMeasurementWindow(ProgramCopy& copy, const QString& target)
{
    copy.test.ui.saveFileNames.push_back(target);
    copy.test.ui.answers.push_back(MessageAnswer::Yes);
    copy.measurementWindow()->findChild<QPushButton*>(QStringLiteral("SaveButton"))->click();
}

void Export(ProgramCopy& copy, const QString& target)
{
    copy.test.ui.saveFileNames.push_back(target);
    copy.test.ui.answers.push_back(MessageAnswer::Yes);
    copy.frame->ExporttoExcel1->trigger();
}

TEST(FullDisk, EveryFileKeepsItsOldContentAndTheUserIsToldWhy)
{
    struct Case {
        const char* file;
        // The name in the program's folder; for the settings file, the file the start-up read.
        const char* name;
        rlim_t limit;
        // Makes ready what the new file will hold; the old file is in place already.
        std::function<void(ProgramCopy&, const QString& target)> arrange;
        // Writes the file as the user does, on the full disk.
        std::function<void(ProgramCopy&, const QString& target)> write;
        // What the user is told, after the write: %1 is the file.
        std::function<QString(ProgramCopy&)> told;
        const char* expected;
    };
    const auto box = [](ProgramCopy& copy) { return LastMessage(copy); };
    QString toolSaid;
    const auto tool = [&toolSaid](ProgramCopy&) { return toolSaid; };
    const Case cases[] = {
        { "a data file saved by the measurement window", "run.dmr", 100,
            [](ProgramCopy& copy, const QString&) { takeThreeReadings(copy); }, SaveFromTheMeasurementWindow, box,
            "Error Information: Cannot write %1: File too large" },
        { "an .xls export", "readings.xls", 100, [](ProgramCopy& copy, const QString&) { takeThreeReadings(copy); },
            Export, box, "Error Information: Cannot write %1: File too large" },
        { "an .xlsx export", "readings.xlsx", 100, [](ProgramCopy& copy, const QString&) { takeThreeReadings(copy); },
            Export, box, "Error Information: Cannot write %1: File too large" },
        { "a .csv export", "readings.csv", 100, [](ProgramCopy& copy, const QString&) { takeThreeReadings(copy); },
            Export, box, "Error Information: Cannot write %1: File too large" },
        { "the data sheet as PDF", "data sheet.pdf", 100,
            [](ProgramCopy& copy, const QString&) { takeThreeReadings(copy); },
            [](ProgramCopy& copy, const QString& target) {
                copy.test.ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, target });
                copy.frame->PrintDataSheet1->trigger();
            },
            box, "Print Error: Cannot write %1: File too large" },
        // The program's own message for it says nothing of the reason.
        { "the settings file at the end", SettingsFileName, 40,
            [](ProgramCopy& copy, const QString&) {
                copy.module().CompanyName = QStringLiteral("A company name that does not fit any more");
            },
            [](ProgramCopy& copy, const QString&) {
                copy.test.ui.answers.push_back(MessageAnswer::Yes);
                copy.frame->Exit1->trigger();
            },
            box, "File Error Information: The Decimora.INI file  have been damaged" },
        { "decimora-cli convert to .xls", "readings.xls", 200'000,
            [](ProgramCopy& copy, const QString&) { WriteDataFileOf(copy.test.folder.filePath("in.dmr"), 3000); },
            [&toolSaid](ProgramCopy& copy, const QString& target) {
                toolSaid = RunTool({ "convert", "in.dmr", target }, copy.test.folder.path());
            },
            tool, "decimora-cli: Cannot write %1: File too large\n" },
        // A memory of run headers alone: a large dump that holds no reading.
        { "decimora-cli download --raw", "memory.bin", 40'000,
            [](ProgramCopy& copy, const QString&) {
                writeFile(copy.test.folder.filePath("headers.bin"),
                    QByteArray("\xFD\x00\x30\x05\x09\x12\x05\x06", 8).repeated(6000) + '\xFF');
            },
            [&toolSaid](ProgramCopy& copy, const QString& target) {
                toolSaid
                    = RunTool({ "download", "--simulate-meter=headers.bin", "--raw", target }, copy.test.folder.path())
                          .section(QLatin1Char('\n'), -2);
            },
            tool, "decimora-cli: Cannot write %1: File too large\n" },
        // The log is appended to: what was there stays, and no line is left cut short.
        { "decimora-cli live --output", "noise.csv", 4096, {},
            [&toolSaid](ProgramCopy& copy, const QString& target) {
                toolSaid = RunTool(
                    { "live", "--simulate-meter", "--output", target, "--duration", "5" }, copy.test.folder.path());
            },
            tool, "decimora-cli: Cannot write to %1: File too large\n" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        const QString target = copy.test.folder.filePath(QString::fromLatin1(c.name));
        const QByteArray old = c.name == QLatin1String(SettingsFileName)
            ? QByteArray("[Caldrix OPTIONS]\r\nCOMPANY_NAME=Acme\r\n")
            : c.name == QLatin1String("noise.csv") ? OldFile.repeated(int(c.limit) / OldFile.size())
                                                   : OldFile;
        writeFile(target, old);
        ASSERT_TRUE(copy.start());
        if (c.arrange)
            c.arrange(copy, target);
        {
            const ScopedFileSizeLimit fullDisk(c.limit);
            c.write(copy, target);
        }
        EXPECT_EQ(readFile(target), old);
        EXPECT_EQ(QDir(copy.test.folder.path())
                      .entryList({ "." + QString::fromLatin1(c.name) + "*" }, QDir::Files | QDir::Hidden),
            QStringList());
        EXPECT_EQ(c.told(copy), QString::fromLatin1(c.expected).replace(QLatin1String("%1"), target));
    }
}

// Readings left by a copy that did not close, rescued at the next start on a full disk: no folder is
// left with a file cut short that would pass for the rescue, and the failure names the reason.
TEST(FullDisk, ReadingsThatCannotBeRescuedLeaveNoFileCutShort)
{
    QTemporaryDir data;
    TestModule test(std::make_unique<SqliteReadingStore>(QDir(data.path()).filePath(QStringLiteral("Decimora.mdb"))));
    for (int i = 0; i < 50; ++i)
        test.module->MeaData->appendRow({ QString::number(i), "65.3", "A", "14:30:15", "12/9/2026" });
    const QStringList folders
        = { QDir(data.path()).filePath(QStringLiteral("program")), QDir(data.path()).filePath(QStringLiteral("temp")) };
    ReadingsRescue rescue;
    {
        const ScopedFileSizeLimit fullDisk(100);
        rescue = RescueReadings({ test.module->MeaData }, folders, QDate(2026, 12, 9));
    }
    EXPECT_EQ(rescue.files, QStringList());
    const QString lastTried = QDir::toNativeSeparators(QDir(folders.last()).filePath("MeaData-2026-12-09.dmr"));
    EXPECT_EQ(rescue.failures, QStringList({ "MeaData: Cannot write " + lastTried + ": File too large" }));
    for (const QString& folder : folders)
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList()) << folder.toStdString();
}

} // namespace
