#include "cli/CliCommands.h"

#include "cli/CliError.h"
#include "cli/CliOutput.h"
#include "core/DecimoraError.h"
#include "meter/MeterChoice.h"

#include <cstdio>

#ifndef DECIMORA_VERSION
#error "DECIMORA_VERSION: the project's version"
#endif

namespace {

constexpr char GeneralUsage[] = "Usage: decimora-cli COMMAND [OPTIONS]    (decimora-cli COMMAND --help tells more)";

QString GeneralHelp()
{
    QString text = QStringLiteral(
        "decimora-cli: the Decimora sound level meter tool for scripts and for logging without a screen.\n"
        "\n"
        "Usage: decimora-cli COMMAND [OPTIONS]\n"
        "\n"
        "Commands:\n");
    for (const CliCommand* command : CliCommandTable())
        text += QStringLiteral("  %1 %2\n").arg(QLatin1String(command->name), -10).arg(QLatin1String(command->summary));
    text += QStringLiteral(
        "\n"
        "Every command that talks to the meter takes --simulate-meter[=MEMORY.bin] (a simulated meter instead\n"
        "of the USB devices) and --trace (every report to and from the meter in hex on the error output).\n"
        "decimora-cli help COMMAND (or COMMAND --help) tells more about a command; decimora-cli --version\n"
        "prints the version.\n"
        "Exit codes: 0 done, 1 failed, 2 bad usage.\n");
    return text;
}

int RunCommand(const CliCommand& command, const QStringList& arguments)
{
    const std::optional<ParsedCommand> parsed = ParsedCommand::parse(command, arguments);
    if (!parsed)
        return ExitDone;
    return command.run(*parsed);
}

bool AsksForGeneralHelp(const QString& first)
{
    return first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help");
}

bool AsksForVersion(const QString& first)
{
    return first == QLatin1String("--version") || first == QLatin1String("-v");
}

const CliCommand* CommandNamed(const QString& name)
{
    for (const CliCommand* known : CliCommandTable())
        if (name == QLatin1String(known->name))
            return known;
    return nullptr;
}

// The command's own arguments, first its name as it is typed.
QStringList CommandArguments(const QStringList& arguments)
{
    QStringList commandArguments = arguments.mid(2);
    commandArguments.prepend(QStringLiteral("decimora-cli ") + arguments.value(1));
    return commandArguments;
}

// The exit code once everything is printed: a result that did not reach standard output (a full disk,
// a closed pipe) is a failure, whatever the command made of it.
int Flushed(int code)
{
    const QString failure = FlushStandardOutput();
    if (failure.isEmpty())
        return code;
    Say(failure);
    return ExitFailed;
}

} // namespace

const std::vector<const CliCommand*>& CliCommandTable()
{
    static const std::vector<const CliCommand*> commands { &DevicesCommand(), &LiveCommand(), &DownloadCommand(),
        &SetupCommand(), &ConvertCommand(), &StatsCommand(), &ReportCommand() };
    return commands;
}

int RunCli(const QStringList& givenArguments)
{
    QStringList arguments = WithMeterFileAfterEqualsOnly(givenArguments);
    QString first = arguments.value(1);
    // "help live" is "live --help".
    if (first == QLatin1String("help") && arguments.size() > 2) {
        first = arguments.value(2);
        arguments = { arguments.value(0), first, QStringLiteral("--help") };
    }
    if (AsksForGeneralHelp(first)) {
        Print(GeneralHelp());
        return Flushed(ExitDone);
    }
    if (AsksForVersion(first)) {
        Print(QStringLiteral("decimora-cli %1\n").arg(QStringLiteral(DECIMORA_VERSION)));
        return Flushed(ExitDone);
    }
    const CliCommand* command = CommandNamed(first);
    if (!command) {
        Say(first.isEmpty() ? QStringLiteral("No command given.") : QStringLiteral("Unknown command '%1'.").arg(first));
        std::fprintf(stderr, "%s\n", GeneralUsage);
        return ExitUsage;
    }

    return RunCliCommand(*command, CommandArguments(arguments));
}

int RunCliCommand(const CliCommand& command, const QStringList& arguments)
{
    try {
        return Flushed(RunCommand(command, arguments));
    } catch (const UsageError& error) {
        Say(error.text());
        std::fprintf(stderr, "%s\n", qPrintable(ShortUsageLine(command)));
        return ExitUsage;
    } catch (const std::exception& error) {
        Say(ErrorText(error));
    }
    return ExitFailed;
}

void CheckCommandLine(const QStringList& givenArguments)
{
    const QStringList arguments = WithMeterFileAfterEqualsOnly(givenArguments);
    const QString first = arguments.value(1);
    if (AsksForGeneralHelp(first) || AsksForVersion(first))
        return;
    const CliCommand* command = CommandNamed(first);
    if (!command)
        throw UsageError(
            first.isEmpty() ? QStringLiteral("No command given.") : QStringLiteral("Unknown command '%1'.").arg(first));
    const std::optional<ParsedCommand> parsed = ParsedCommand::parse(*command, CommandArguments(arguments));
    if (parsed)
        command->check(*parsed);
}
