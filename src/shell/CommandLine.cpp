#include "shell/CommandLine.h"

#include "meter/SimulatedMeter.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

#ifndef DECIMORA_VERSION
#error "DECIMORA_VERSION: the project's version"
#endif

namespace {

constexpr char Usage[] = "Usage: decimora [--simulate-meter[=MEMORY.bin]] [--help] [--version]";

CommandLine refused(const QString& reason)
{
    std::fprintf(stderr, "decimora: %s\n%s\n", qPrintable(reason), Usage);
    return { CommandLine::Outcome::Refused, {} };
}

} // namespace

bool AsksForText(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--") == 0)
            return false;
        for (const char* option : { "-h", "-?", "--help", "--help-all", "-v", "--version" }) {
            if (std::strcmp(argument, option) == 0)
                return true;
        }
    }
    return false;
}

CommandLine ReadCommandLine(const QStringList& givenArguments)
{
    QCoreApplication::setApplicationVersion(QStringLiteral(DECIMORA_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Decimora: watch, log and compare the readings of a USB sound level meter."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption simulateMeter(QStringLiteral("simulate-meter"),
        QStringLiteral("Talk to a simulated meter instead of the USB devices, so that the program can be "
                       "tried without the instrument. With =MEMORY.bin the simulated meter's logged memory is "
                       "that file's bytes (a dump written by decimora-cli download --raw)."),
        QStringLiteral("MEMORY.bin"));
    parser.addOption(simulateMeter);

    if (!parser.parse(WithMeterFileAfterEqualsOnly(givenArguments)))
        return refused(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return refused(QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst()));
    // Printed here rather than by showHelp() and showVersion(), which end the process with exit():
    // main() returns, so everything it made is destroyed in order.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return { CommandLine::Outcome::Answered, {} };
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
            qPrintable(QCoreApplication::applicationVersion()));
        return { CommandLine::Outcome::Answered, {} };
    }
    CommandLine commandLine { CommandLine::Outcome::Run, { parser.isSet(simulateMeter), {}, {} } };
    if (const QString memoryFile = parser.value(simulateMeter); !memoryFile.isEmpty()) {
        QString error;
        commandLine.meter.loggedMemory = ReadLoggedMemoryFile(memoryFile, &error);
        if (!commandLine.meter.loggedMemory)
            return refused(error);
    }
    return commandLine;
}
