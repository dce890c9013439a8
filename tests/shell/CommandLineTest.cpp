// The decimora executable's command line, run as a user runs it: --help and --version are answered
// without a display, anything else the program does not know ends it with 2 and a usage line; and the
// meter link it asks for.

#include "shell/CommandLine.h"
#include "core/HidPlatform.h"
#include "support/TestFiles.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(CommandLine, HelpAndVersionNeedNoDisplayAndUnknownArgumentsEndWithTwoAndAUsageLine)
{
    struct Case {
        QStringList arguments;
        // Without DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM; else offscreen.
        bool withoutDisplay;
        int exitCode;
        // The parser's help text, whose option lines are Qt's to lay out; else exactly output.
        bool helpText;
        QString output;
        QString errors;
    };
    const QString usage = QStringLiteral("Usage: decimora [--simulate-meter[=MEMORY.bin]] [--help] [--version]\n");
    QTemporaryDir folder;
    const QString missingMemory = folder.filePath(QStringLiteral("missing.bin"));
    const Case cases[] = {
        { { "--help" }, true, 0, true, {}, {} },
        { { "-h" }, true, 0, true, {}, {} },
        { { "--version" }, true, 0, false, QStringLiteral("decimora " DECIMORA_VERSION "\n"), {} },
        { { "--simulate-meter", "--bogus" }, false, 2, false, {}, "decimora: Unknown option 'bogus'.\n" + usage },
        { { "readings.dmr" }, false, 2, false, {}, "decimora: Unexpected argument 'readings.dmr'.\n" + usage },
        // A memory dump to replay that cannot be read is a bad command line: the program does not start.
        { { "--simulate-meter=" + missingMemory }, false, 2, false, {},
            "decimora: Cannot read the meter memory file " + missingMemory + ": No such file or directory\n" + usage },
        { { "--simulate-meter=" + folder.path() }, false, 2, false, {}, {} },
        // Asking for help does not excuse an unknown option.
        { { "--help", "--bogus" }, true, 2, false, {}, "decimora: Unknown option 'bogus'.\n" + usage },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        if (c.withoutDisplay) {
            for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
                environment.remove(QString::fromLatin1(name));
        } else {
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        }
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(home.path());
        program.start(QStringLiteral(DECIMORA_EXECUTABLE), c.arguments);
        ASSERT_TRUE(program.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(program.readAllStandardOutput());
        const QString errors = QString::fromLocal8Bit(program.readAllStandardError());

        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), c.exitCode) << errors.toStdString();
        if (c.helpText) {
            EXPECT_TRUE(output.startsWith(QLatin1String("Usage: "))) << output.toStdString();
            for (const char* option : { "--simulate-meter", "--help", "--version" })
                EXPECT_TRUE(output.contains(QLatin1String(option))) << option;
        } else {
            EXPECT_EQ(output, c.output);
        }
        // The widgets' application may warn first (an unset XDG_RUNTIME_DIR); without a display nothing
        // of it runs, and nothing else may be said.
        if (c.withoutDisplay)
            EXPECT_EQ(errors, c.errors);
        else
            EXPECT_TRUE(errors.endsWith(c.errors)) << errors.toStdString();
    }
}

} // namespace

namespace {

// The memory of --simulate-meter=MEMORY.bin is what the program's simulated meter downloads: a dump
// written by decimora-cli download --raw is imported again, byte for byte.
TEST(CommandLine, ASimulatedMeterWithAMemoryFileDownloadsExactlyThatMemory)
{
    QTemporaryDir folder;
    const QString dump = folder.filePath(QStringLiteral("memory.bin"));
    const QByteArray memory("\xFD\x00\x30\x05\x09\x12\x05\x06\x0A\x51\xA5\x7A\xFF", 13);
    writeFile(dump, memory);
    const CommandLine commandLine
        = ReadCommandLine({ QStringLiteral("decimora"), QStringLiteral("--simulate-meter=") + dump });
    ASSERT_EQ(commandLine.outcome, CommandLine::Outcome::Run);
    ASSERT_TRUE(commandLine.meter.simulate);

    const std::unique_ptr<HidPlatform> platform = MakeMeterPlatform(commandLine.meter).platform;
    const std::vector<HidInterfaceInfo> devices = platform->scan();
    ASSERT_EQ(devices.size(), 1U);
    const std::unique_ptr<HidConnection> link = platform->open(devices[0].devicePath, HidAccess::ReadWrite);
    ASSERT_TRUE(link);
    QByteArray downloaded;
    for (const std::uint8_t command : { 0xB5, 0xC4, 0xC4 }) {
        std::uint8_t report[9] = { 0, command };
        ASSERT_TRUE(link->write(report, sizeof report));
        ASSERT_EQ(link->read(report, sizeof report, 1000), 9);
        if (command == 0xC4)
            downloaded.append(reinterpret_cast<const char*>(report + 1), 8);
    }
    // Two blocks of eight: the memory, then the end marks the meter pads with.
    EXPECT_EQ(downloaded, memory + QByteArray(3, '\xFF'));

    // A bare --simulate-meter keeps the simulated meter's own memory.
    const CommandLine bare = ReadCommandLine({ QStringLiteral("decimora"), QStringLiteral("--simulate-meter") });
    EXPECT_TRUE(bare.meter.simulate);
    EXPECT_FALSE(bare.meter.loggedMemory.has_value());
}

} // namespace
