#include "cli/CliOptions.h"

#include "cli/ChosenMeterPlatform.h"
#include "cli/CliError.h"
#include "cli/CliOutput.h"

#include <cmath>
#include <stdexcept>

const std::vector<CliOption>& MeterOptionTable()
{
    static const std::vector<CliOption> options {
        { .name = "simulate-meter",
            .description = "Talk to a simulated meter instead of the USB devices; with =MEMORY.bin its logged memory "
                           "is that file's bytes (a dump written by download --raw).",
            .valueName = "MEMORY.bin",
            .optionalValue = true },
        { .name = "trace",
            .description = "Write every report sent to and received from the meter in hex on the error output." },
        { .name = "device",
            .description = "Talk to this meter only: its serial number or location as devices lists them, or its "
                           "device node (/dev/hidraw3). Without it, the first meter found.",
            .valueName = "PATH|SERIAL" },
        { .name = "simulate-serial",
            .description = "With --simulate-meter only: the simulated meter's serial number.",
            .valueName = "SERIAL",
            .hidden = true },
        { .name = "pretend-start",
            .description = "With --simulate-meter only: the local time the tool's clock starts at.",
            .valueName = "TIME",
            .hidden = true },
        { .name = "pretend-rate",
            .description = "With --simulate-meter only: the tool's clock runs this many times as fast as the real "
                           "one, and so do its intervals.",
            .valueName = "FACTOR",
            .hidden = true },
    };
    return options;
}

namespace {

// Every option the command takes: its own, then the meter options.
std::vector<const CliOption*> AllOptions(const CliCommand& command)
{
    std::vector<const CliOption*> all;
    for (const CliOption& option : command.options)
        all.push_back(&option);
    if (command.talksToMeter) {
        for (const CliOption& option : MeterOptionTable())
            all.push_back(&option);
    }
    return all;
}

bool Named(const char* name, const char* other)
{
    return other && QLatin1String(name) == QLatin1String(other);
}

// "--format csv|jsonl|influx", "--simulate-meter[=MEMORY.bin]", "--trace"
QString OptionUsage(const CliOption& option)
{
    QString text = QStringLiteral("--") + QLatin1String(option.name);
    if (!option.valueName)
        return text;
    const QString value = QLatin1String(option.usageValue ? option.usageValue : option.valueName);
    return text + (option.optionalValue ? QStringLiteral("[=%1]").arg(value) : QLatin1Char(' ') + value);
}

// The option in brackets with its alternatives and the options that belong to it.
QString BracketedUsage(const CliOption& option, const std::vector<const CliOption*>& all)
{
    QString text = OptionUsage(option);
    for (const CliOption* other : all) {
        if (Named(option.name, other->insteadOf))
            text += QLatin1Char('|') + OptionUsage(*other);
    }
    for (const CliOption* other : all) {
        if (Named(option.name, other->within) && !other->hidden)
            text += QLatin1Char(' ') + BracketedUsage(*other, all);
    }
    return QLatin1Char('[') + text + QLatin1Char(']') + (option.repeatable ? QStringLiteral("...") : QString());
}

} // namespace

QString UsageLine(const CliCommand& command)
{
    const std::vector<const CliOption*> all = AllOptions(command);
    QString line = QStringLiteral("Usage: decimora-cli ") + QLatin1String(command.name);
    for (const CliOption* option : all) {
        if (!option->hidden && !option->within && !option->insteadOf)
            line += QLatin1Char(' ') + BracketedUsage(*option, all);
    }
    for (const CliArgument& argument : command.arguments)
        line += QLatin1Char(' ') + QLatin1String(argument.usage);
    return line;
}

QString ShortUsageLine(const CliCommand& command)
{
    QString line = QStringLiteral("Usage: decimora-cli ") + QLatin1String(command.name);
    if (!AllOptions(command).empty())
        line += QStringLiteral(" [OPTIONS]");
    for (const CliArgument& argument : command.arguments)
        line += QLatin1Char(' ') + QLatin1String(argument.usage);
    return line + QStringLiteral("    (decimora-cli %1 --help tells more)").arg(QLatin1String(command.name));
}

namespace {

// The command's --help: our usage line and description, then Qt's list of the options, told the way
// the tool takes them.
QString HelpText(const CliCommand& command, const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    // Qt's first line names the executable's path; ours names the command as it is typed.
    const qsizetype options = text.indexOf(QLatin1String("Options:"));
    text = UsageLine(command) + QStringLiteral("\n\n") + QLatin1String(command.description) + QStringLiteral("\n\n")
        + (options >= 0 ? text.mid(options) : text);
    // Qt offers --help-all for its own options, which a command-line tool does not take: --help-all
    // shows this same text, so it is not listed apart.
    QStringList lines = text.split(QLatin1Char('\n'));
    lines.removeIf([](const QString& line) { return line.trimmed().startsWith(QLatin1String("--help-all")); });
    text = lines.join(QLatin1Char('\n'));
    // Qt writes "--simulate-meter <MEMORY.bin>" for every option with a value; one whose value may be
    // left out takes it after "=" only. Both are as long, so the columns stay aligned.
    for (const CliOption* option : AllOptions(command)) {
        if (option->optionalValue)
            text.replace(QStringLiteral("--%1 <%2>").arg(QLatin1String(option->name), QLatin1String(option->valueName)),
                QStringLiteral("--%1[=%2]").arg(QLatin1String(option->name), QLatin1String(option->valueName)));
    }
    return text;
}

} // namespace

ParsedCommand::ParsedCommand(const CliCommand& command, std::unique_ptr<QCommandLineParser> parser)
    : command_(&command)
    , parser_(std::move(parser))
{
}

std::optional<ParsedCommand> ParsedCommand::parse(const CliCommand& command, const QStringList& arguments)
{
    auto parser = std::make_unique<QCommandLineParser>();
    parser->setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const CliOption* option : AllOptions(command)) {
        QCommandLineOption parserOption(QLatin1String(option->name), QLatin1String(option->description));
        if (option->valueName)
            parserOption.setValueName(QLatin1String(option->valueName));
        if (option->defaultValue)
            parserOption.setDefaultValue(QLatin1String(option->defaultValue));
        if (option->hidden)
            parserOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser->addOption(parserOption);
    }
    for (const CliArgument& argument : command.arguments)
        parser->addPositionalArgument(
            QLatin1String(argument.name), QLatin1String(argument.description), QLatin1String(argument.usage));
    const QCommandLineOption help = parser->addHelpOption();
    if (!parser->parse(arguments))
        throw UsageError(parser->errorText());
    if (parser->isSet(help) || parser->isSet(QStringLiteral("help-all"))) {
        Print(HelpText(command, *parser));
        return std::nullopt;
    }
    if (command.arguments.empty() && !parser->positionalArguments().isEmpty())
        throw UsageError(QStringLiteral("Unexpected argument '%1'.").arg(parser->positionalArguments().constFirst()));
    return ParsedCommand(command, std::move(parser));
}

QString ParsedCommand::known(const char* option) const
{
    for (const CliOption* known : AllOptions(*command_)) {
        if (Named(option, known->name))
            return QLatin1String(option);
    }
    throw std::logic_error(std::string("decimora-cli ") + command_->name + " has no option --" + option);
}

bool ParsedCommand::isSet(const char* option) const
{
    return parser_->isSet(known(option));
}

QString ParsedCommand::value(const char* option) const
{
    return parser_->value(known(option));
}

QStringList ParsedCommand::values(const char* option) const
{
    return parser_->values(known(option));
}

QStringList ParsedCommand::positionalArguments() const
{
    return parser_->positionalArguments();
}

qint64 ParsedCommand::milliseconds(const char* option, qint64 lowestMs, qint64 highestMs, const QString& range) const
{
    const QString text = value(option);
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    const double ms = seconds * 1000.0;
    if (!ok || !std::isfinite(ms) || std::llround(ms) < lowestMs || std::llround(ms) > highestMs)
        throw UsageError(QStringLiteral("--%1 must be %2 seconds, not '%3'.").arg(QLatin1String(option), range, text));
    return std::llround(ms);
}

MeterOptions ParsedCommand::meterOptions() const
{
    MeterOptions options;
    options.simulate = isSet("simulate-meter");
    options.memoryFile = value("simulate-meter");
    options.trace = isSet("trace");
    if (isSet("device")) {
        options.device = value("device");
        CheckDeviceName(options.device);
    }
    if (isSet("simulate-serial")) {
        if (!options.simulate)
            throw UsageError(QStringLiteral("--simulate-serial is only for the simulated meter."));
        options.simulatedSerial = value("simulate-serial");
    }
    if (isSet("pretend-start")) {
        if (!options.simulate)
            throw UsageError(QStringLiteral("--pretend-start is only for the simulated meter."));
        const QDateTime start = QDateTime::fromString(value("pretend-start"), Qt::ISODateWithMs);
        if (!start.isValid())
            throw UsageError(QStringLiteral("--pretend-start needs a time like 2026-12-10T23:59:58."));
        options.pretendStart = start;
    }
    if (isSet("pretend-rate")) {
        if (!options.simulate)
            throw UsageError(QStringLiteral("--pretend-rate is only for the simulated meter."));
        bool ok = false;
        const double rate = value("pretend-rate").toDouble(&ok);
        if (!ok || !(rate > 0.0) || rate > 1e6)
            throw UsageError(QStringLiteral("--pretend-rate needs a factor above 0 and at most 1000000, not '%1'.")
                                 .arg(value("pretend-rate")));
        options.pretendRate = rate;
    }
    ShowQtMessages(options.trace);
    return options;
}
